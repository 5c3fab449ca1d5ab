#include "NamedObjects.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QElapsedTimer>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace lb {

// ---------------------------------------------------------------------------------
// Names and framing

QString NamedObjectSocketName(const QString& kind, const QString& name) {
  const QString prefix = QStringLiteral("lbtools-%1-%2-").arg(::getuid()).arg(kind);
  const QString full = qEnvironmentVariable("LBTOOLS_OBJECT_NAMESPACE") + name;
  // A socket address holds 108 bytes, the leading NUL of the abstract namespace
  // included; keep well below that.
  if ((prefix + full).toUtf8().size() <= 100) return prefix + full;
  return prefix + QString::fromLatin1(
                      QCryptographicHash::hash(full.toUtf8(), QCryptographicHash::Sha1).toHex());
}

namespace {
// True when the process at the other end of a connected local socket (the one that
// connected, or the one that listens) runs as this process's user.
bool SocketPeerIsThisUser(qintptr fd) {
  ucred cred{};
  socklen_t length = sizeof cred;
  if (::getsockopt(int(fd), SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 || length != sizeof cred)
    return false;
  return cred.uid == ::geteuid();
}
}  // namespace

namespace wire {
QByteArray Frame(uint8_t op, const QByteArray& body) {
  QByteArray out(4, '\0');
  qToLittleEndian<quint32>(quint32(body.size() + 1), out.data());
  out.append(char(op));
  out.append(body);
  return out;
}

TTake TakeFrame(QByteArray& buf, uint8_t& op, QByteArray& body, uint32_t maxBody) {
  if (buf.size() < 4) return TTake::Incomplete;
  const quint32 length = qFromLittleEndian<quint32>(buf.constData());
  if (length == 0 || length - 1 > maxBody) return TTake::Bad;
  if (quint64(buf.size()) < 4 + quint64(length)) return TTake::Incomplete;
  op = uint8_t(buf[4]);
  body = buf.mid(5, length - 1);
  buf.remove(0, 4 + length);
  return TTake::Frame;
}
}  // namespace wire

namespace {

enum Op : uint8_t {
  kPing = 1,
  kAck = 2,
  kSignal = 3,
  kReset = 4,
  kWait = 5,
  kSignalled = 6,
  kCancel = 7,
  kCancelled = 8,
  kQuery = 9,
  kValue = 10,
  kMapRead = 20,
  kMapData = 21,
  kMapFail = 22,
  kSend = 40,
  kResult = 41,
  kPost = 42,
};

// Requests to any server are a few bytes; only mapping contents are large.
constexpr uint32_t kMaxRequestBody = 256;
constexpr uint32_t kMaxReplyBody = uint32_t(TNamedMapping::kMaxSize) + 16;
// How long a client waits to reach a server, and a cancelled wait for its answer.
constexpr int kConnectMs = 2000;
constexpr int kGraceMs = 2000;
// A server closes a connection that owes it nothing and has been silent this long, and
// keeps at most this many connections (a new one pushes out the longest silent one).
constexpr int kIdleMs = kNamedObjectIdleMs;
constexpr size_t kMaxConnections = size_t(kNamedObjectMaxConnections);
// After an accept error (descriptors or memory ran out) a listener pauses this long.
constexpr int kAcceptPauseMs = 200;

QByteArray I64(int64_t v) {
  QByteArray b(8, '\0');
  qToLittleEndian<qint64>(v, b.data());
  return b;
}
int64_t GetI64(const QByteArray& b, int at) {
  return qFromLittleEndian<qint64>(b.constData() + at);
}

QByteArray MessageBody(uint32_t msg, uint64_t wParam, int64_t lParam) {
  QByteArray b(20, '\0');
  qToLittleEndian<quint32>(msg, b.data());
  qToLittleEndian<quint64>(wParam, b.data() + 4);
  qToLittleEndian<qint64>(lParam, b.data() + 12);
  return b;
}

QDeadlineTimer Deadline(unsigned timeoutMs) {
  if (timeoutMs == TEvent::INFINITE_WAIT) return QDeadlineTimer(QDeadlineTimer::Forever);
  return QDeadlineTimer(qint64(timeoutMs));
}

int Remaining(const QDeadlineTimer& dl) {
  if (dl.isForever()) return -1;
  return int(qMin<qint64>(dl.remainingTime(), INT_MAX));
}

// The background thread that serves the events and mappings of this process.
class ServiceThread {
 public:
  static ServiceThread& Instance() {
    static ServiceThread thread;
    return thread;
  }
  // Runs f on the service thread and waits for it.
  void Run(const std::function<void()>& f) {
    if (QThread::currentThread() == &m_Thread || m_Thread.isFinished()) {
      f();
      return;
    }
    QMetaObject::invokeMethod(m_pContext, f, Qt::BlockingQueuedConnection);
  }

 private:
  ServiceThread() {
    m_Thread.setObjectName(QStringLiteral("lb-named-objects"));
    m_pContext = new QObject;
    m_pContext->moveToThread(&m_Thread);
    m_Thread.start();
  }
  ~ServiceThread() {
    m_Thread.quit();
    m_Thread.wait();
  }
  QThread m_Thread;
  QObject* m_pContext;  // kept to the end of the process
};

// A blocking client for the calling thread; needs no event loop.
class SyncClient {
 public:
  enum class Got { Frame, Timeout, Closed, Bad };

  // Connects, and keeps the connection only when the listening side belongs to this
  // user: anyone may take a name in the abstract namespace.
  bool Connect(const QString& socketName, const QDeadlineTimer& dl) {
    m_Socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    m_Socket.connectToServer(socketName);
    if (m_Socket.state() == QLocalSocket::ConnectingState) m_Socket.waitForConnected(Remaining(dl));
    if (m_Socket.state() != QLocalSocket::ConnectedState) return false;
    if (SocketPeerIsThisUser(m_Socket.socketDescriptor())) return true;
    m_Socket.abort();
    return false;
  }

  bool Send(uint8_t op, const QByteArray& body, const QDeadlineTimer& dl) {
    if (m_Socket.write(wire::Frame(op, body)) < 0) return false;
    while (m_Socket.bytesToWrite() > 0)
      if (!m_Socket.waitForBytesWritten(Remaining(dl))) return false;
    return true;
  }

  Got Read(uint8_t& op, QByteArray& body, const QDeadlineTimer& dl, uint32_t maxBody) {
    for (;;) {
      m_Buffer += m_Socket.readAll();
      switch (wire::TakeFrame(m_Buffer, op, body, maxBody)) {
        case wire::TTake::Frame:
          return Got::Frame;
        case wire::TTake::Bad:
          return Got::Bad;
        case wire::TTake::Incomplete:
          break;
      }
      if (m_Socket.state() != QLocalSocket::ConnectedState && m_Socket.bytesAvailable() == 0)
        return Got::Closed;
      if (!dl.isForever() && dl.hasExpired()) return Got::Timeout;
      if (!m_Socket.waitForReadyRead(Remaining(dl)) && m_Socket.bytesAvailable() == 0) {
        if (m_Socket.state() != QLocalSocket::ConnectedState) return Got::Closed;
        if (!dl.isForever() && dl.hasExpired()) return Got::Timeout;
      }
    }
  }

  // One request, one answer of the expected kind.
  bool Call(uint8_t op, const QByteArray& body, uint8_t answer, QByteArray& reply,
            const QDeadlineTimer& dl, uint32_t maxBody = kMaxRequestBody) {
    uint8_t got = 0;
    return Send(op, body, dl) && Read(got, reply, dl, maxBody) == Got::Frame && got == answer;
  }

 private:
  QLocalSocket m_Socket;
  QByteArray m_Buffer;
};

bool Reachable(const QString& socketName, int timeoutMs) {
  SyncClient client;
  return client.Connect(socketName, QDeadlineTimer(timeoutMs));
}

// Listens on an abstract socket name. Unlike QLocalServer it keeps listening after an
// accept error (descriptors running out): it pauses briefly and accepts again, so the
// name is never given up while its owner lives. Connections of another user are closed
// at once; the others go to onAccepted as descriptors.
class Listener {
 public:
  // onExhausted frees a descriptor (closes a connection) when accepting runs out of
  // them; false when it has none to give.
  Listener(std::function<void(int)> onAccepted, std::function<bool()> onExhausted)
      : m_OnAccepted(std::move(onAccepted)), m_OnExhausted(std::move(onExhausted)) {
    m_Pause.setSingleShot(true);
    QObject::connect(&m_Pause, &QTimer::timeout, [this] {
      if (m_pNotifier) m_pNotifier->setEnabled(true);
    });
  }
  ~Listener() {
    m_pNotifier.reset();
    if (m_Fd >= 0) ::close(m_Fd);
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  TCreateResult Listen(const QString& socketName) {
    const QByteArray name = socketName.toUtf8();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.isEmpty() || size_t(name.size()) + 1 > sizeof address.sun_path)
      return TCreateResult::Failed;
    std::memcpy(address.sun_path + 1, name.constData(), size_t(name.size()));
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return TCreateResult::Failed;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
      const int error = errno;
      ::close(fd);
      return error == EADDRINUSE ? TCreateResult::AlreadyExists : TCreateResult::Failed;
    }
    if (::listen(fd, 64) != 0) {
      ::close(fd);
      return TCreateResult::Failed;
    }
    m_Fd = fd;
    m_pNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, [this] { Accept(); });
    return TCreateResult::Created;
  }

 private:
  void Accept() {
    // A bounded batch: a flood must not starve the other work of the thread.
    for (int n = 0; n < 32; ++n) {
      const int fd = ::accept4(m_Fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd >= 0) {
        if (SocketPeerIsThisUser(fd))
          m_OnAccepted(fd);
        else
          ::close(fd);
        continue;
      }
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      if ((errno == EMFILE || errno == ENFILE) && m_OnExhausted()) continue;
      // Out of descriptors or memory: the waiting connection stays queued, and the
      // notifier would fire at once again; pause instead of spinning.
      m_pNotifier->setEnabled(false);
      m_Pause.start(kAcceptPauseMs);
      return;
    }
  }

  std::function<void(int)> m_OnAccepted;
  std::function<bool()> m_OnExhausted;
  int m_Fd = -1;
  std::unique_ptr<QSocketNotifier> m_pNotifier;
  QTimer m_Pause;
};

// Accepts connections and hands every whole frame to a handler; a connection that
// sends a malformed frame, or whose frame the handler refuses, is dropped. Reads are
// driven by the event loop of the thread that made the server. The handler may run a
// nested event loop, and may even destroy the server.
//
// A connection that owes the server nothing (no handler running for it, and the
// server holds no request of it: see the held handler) and has been silent for
// kIdleMs is closed; at most kMaxConnections are kept.
class FrameServer {
 public:
  using FrameHandler = std::function<bool(QLocalSocket*, uint8_t, const QByteArray&)>;
  using GoneHandler = std::function<void(QLocalSocket*)>;
  using HeldHandler = std::function<bool(QLocalSocket*)>;

  FrameServer(FrameHandler onFrame, GoneHandler onGone, HeldHandler isHeld = {})
      : m_OnFrame(std::move(onFrame)),
        m_OnGone(std::move(onGone)),
        m_IsHeld(std::move(isHeld)),
        m_Listener([this](int fd) { Accept(fd); }, [this] { return MakeRoom(); }) {
    QObject::connect(&m_Sweep, &QTimer::timeout, [this] { Sweep(); });
  }
  ~FrameServer() {
    for (auto& [socket, conn] : m_Conns) {
      QObject::disconnect(socket, nullptr, nullptr, nullptr);
      socket->flush();  // answers already given still go out
      socket->abort();
      socket->deleteLater();
    }
  }

  TCreateResult Listen(const QString& socketName) {
    const TCreateResult result = m_Listener.Listen(socketName);
    if (result == TCreateResult::Created) m_Sweep.start(kIdleMs / 3);
    return result;
  }

  static void Reply(QLocalSocket* socket, uint8_t op, const QByteArray& body = {}) {
    socket->write(wire::Frame(op, body));
  }

 private:
  struct Conn {
    QByteArray buffer;
    bool busy = false;     // a handler for this connection is running
    bool dropped = false;  // the peer went away meanwhile
    QElapsedTimer silent;  // since the last bytes came
  };

  bool Held(QLocalSocket* socket) const { return m_IsHeld && m_IsHeld(socket); }

  void Accept(int fd) {
    auto* socket = new QLocalSocket;
    if (!socket->setSocketDescriptor(fd)) {
      ::close(fd);
      delete socket;
      return;
    }
    if (m_Conns.size() >= kMaxConnections && !MakeRoom()) {
      socket->abort();
      socket->deleteLater();
      return;
    }
    m_Conns[socket].silent.start();
    QObject::connect(socket, &QLocalSocket::readyRead, socket,
                     [this, socket] { Readable(socket); });
    QObject::connect(socket, &QLocalSocket::disconnected, socket,
                     [this, socket] { Dropped(socket); });
    // Bytes already waiting wake the socket's own notifier: no handler runs from here,
    // where it could destroy the listener that is still accepting.
  }

  // Closes the longest silent connection whose handler is not running, preferring one
  // the server holds nothing for; false when every connection is in a handler.
  bool MakeRoom() {
    QLocalSocket* victim = nullptr;
    std::pair<bool, qint64> worst{true, -1};  // (held, silence): smaller held wins
    for (auto& [socket, conn] : m_Conns) {
      if (conn.busy) continue;
      const std::pair<bool, qint64> key{Held(socket), conn.silent.elapsed()};
      if (!victim || key.first < worst.first ||
          (key.first == worst.first && key.second > worst.second)) {
        victim = socket;
        worst = key;
      }
    }
    if (!victim) return false;
    Finish(victim);
    return true;
  }

  void Sweep() {
    std::vector<QLocalSocket*> idle;
    for (auto& [socket, conn] : m_Conns)
      if (!conn.busy && conn.silent.elapsed() > kIdleMs && !Held(socket)) idle.push_back(socket);
    for (QLocalSocket* socket : idle) Finish(socket);
  }

  // Returns false when the server was destroyed by a handler.
  bool Readable(QLocalSocket* socket) {
    auto it = m_Conns.find(socket);
    if (it == m_Conns.end() || it->second.busy) return true;
    Conn& conn = it->second;
    conn.busy = true;
    conn.silent.start();
    std::weak_ptr<bool> alive = m_pAlive;
    bool bad = false;
    for (;;) {
      conn.buffer += socket->readAll();
      uint8_t op = 0;
      QByteArray body;
      const wire::TTake take = wire::TakeFrame(conn.buffer, op, body, kMaxRequestBody);
      if (take == wire::TTake::Incomplete) break;
      if (take == wire::TTake::Bad) {
        bad = true;
        break;
      }
      const bool ok = m_OnFrame(socket, op, body);
      if (alive.expired()) return false;
      if (!ok) {
        bad = true;
        break;
      }
    }
    conn.busy = false;
    conn.silent.start();
    if (bad || conn.dropped) Finish(socket);
    return true;
  }

  void Dropped(QLocalSocket* socket) {
    auto it = m_Conns.find(socket);
    if (it == m_Conns.end()) return;
    if (it->second.busy) {
      it->second.dropped = true;
      return;
    }
    // Frames that arrived just before the peer closed (a posted message) still count.
    if (!Readable(socket)) return;
    it = m_Conns.find(socket);
    if (it != m_Conns.end() && !it->second.busy) Finish(socket);
  }

  void Finish(QLocalSocket* socket) {
    m_OnGone(socket);
    m_Conns.erase(socket);
    QObject::disconnect(socket, nullptr, nullptr, nullptr);
    socket->abort();
    socket->deleteLater();
  }

  FrameHandler m_OnFrame;
  GoneHandler m_OnGone;
  HeldHandler m_IsHeld;
  std::map<QLocalSocket*, Conn> m_Conns;
  Listener m_Listener;
  QTimer m_Sweep;
  std::shared_ptr<bool> m_pAlive = std::make_shared<bool>(true);
};

}  // namespace

// ---------------------------------------------------------------------------------
// Event

struct TNamedEventState {
  std::mutex mutex;
  std::condition_variable cond;
  bool manualReset = false;
  bool signalled = false;
  int64_t published = 0;
};

// Lives on the service thread; answers openers and holds their waits.
class TNamedEventServer : public QObject {
 public:
  explicit TNamedEventServer(std::shared_ptr<TNamedEventState> state)
      : m_pState(std::move(state)),
        m_Server([this](QLocalSocket* s, uint8_t op, const QByteArray&) { return OnFrame(s, op); },
                 [this](QLocalSocket* s) { Forget(s); },
                 [this](QLocalSocket* s) {
                   return std::find(m_Waiters.begin(), m_Waiters.end(), s) != m_Waiters.end();
                 }) {}

  TCreateResult Listen(const QString& socketName) { return m_Server.Listen(socketName); }

  // Hands a signalled state to waiting openers, first come first served.
  void Dispatch() {
    std::vector<QLocalSocket*> wake;
    {
      std::lock_guard<std::mutex> lock(m_pState->mutex);
      while (m_pState->signalled && !m_Waiters.empty()) {
        wake.push_back(m_Waiters.front());
        m_Waiters.pop_front();
        if (!m_pState->manualReset) m_pState->signalled = false;
      }
    }
    for (QLocalSocket* s : wake) FrameServer::Reply(s, kSignalled);
  }

 private:
  void SetState(bool signalled) {
    {
      std::lock_guard<std::mutex> lock(m_pState->mutex);
      m_pState->signalled = signalled;
    }
    if (signalled) {
      m_pState->cond.notify_all();
      Dispatch();
    }
  }

  bool OnFrame(QLocalSocket* s, uint8_t op) {
    auto waiter = std::find(m_Waiters.begin(), m_Waiters.end(), s);
    switch (op) {
      case kPing:
        FrameServer::Reply(s, kAck);
        return true;
      case kSignal:
      case kReset:
        SetState(op == kSignal);
        FrameServer::Reply(s, kAck);
        return true;
      case kQuery: {
        int64_t value;
        {
          std::lock_guard<std::mutex> lock(m_pState->mutex);
          value = m_pState->published;
        }
        FrameServer::Reply(s, kValue, I64(value));
        return true;
      }
      case kWait:
        if (waiter == m_Waiters.end()) m_Waiters.push_back(s);
        Dispatch();
        return true;
      case kCancel:
        // A waiter already woken has its answer on the way and gets nothing more.
        if (waiter != m_Waiters.end()) {
          m_Waiters.erase(waiter);
          FrameServer::Reply(s, kCancelled);
        }
        return true;
      default:
        return false;
    }
  }

  void Forget(QLocalSocket* s) {
    auto it = std::find(m_Waiters.begin(), m_Waiters.end(), s);
    if (it != m_Waiters.end()) m_Waiters.erase(it);
  }

  std::shared_ptr<TNamedEventState> m_pState;
  std::deque<QLocalSocket*> m_Waiters;
  FrameServer m_Server;
};

TNamedEvent::TNamedEvent() = default;

TNamedEvent::~TNamedEvent() {
  Close();
}

namespace {
// Starts the server of a named object on the service thread; *server is the
// listening server, or null when the name could not be taken.
template <class Server, class State>
TCreateResult ListenOnServiceThread(const QString& socketName, const std::shared_ptr<State>& state,
                                    Server** server) {
  TCreateResult result = TCreateResult::Failed;
  *server = nullptr;
  ServiceThread::Instance().Run([&] {
    auto* candidate = new Server(state);
    result = candidate->Listen(socketName);
    if (result == TCreateResult::Created)
      *server = candidate;
    else
      delete candidate;
  });
  return result;
}
}  // namespace

TCreateResult TNamedEvent::Create(const QString& name, bool manualReset, bool initialState) {
  Close();
  if (name.isEmpty() || !QCoreApplication::instance()) return TCreateResult::Failed;
  const QString socketName = NamedObjectSocketName(QStringLiteral("event"), name);
  // The holder of a taken name may end between our try and our look; try again then.
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto state = std::make_shared<TNamedEventState>();
    state->manualReset = manualReset;
    state->signalled = initialState;
    TNamedEventServer* server = nullptr;
    const TCreateResult result = ListenOnServiceThread(socketName, state, &server);
    if (result == TCreateResult::Created) {
      m_Name = name;
      m_pState = state;
      m_pServer = server;
      return result;
    }
    if (result == TCreateResult::Failed) return result;
    if (Reachable(socketName, kConnectMs)) {
      m_Name = name;
      return TCreateResult::AlreadyExists;
    }
  }
  return TCreateResult::Failed;
}

bool TNamedEvent::Open(const QString& name) {
  Close();
  if (!Exists(name)) return false;
  m_Name = name;
  return true;
}

void TNamedEvent::Close() {
  if (m_pServer) {
    TNamedEventServer* server = m_pServer;
    // A signal given just before closing still reaches the openers that wait.
    ServiceThread::Instance().Run([server] {
      server->Dispatch();
      delete server;
    });
    m_pServer = nullptr;
  }
  m_pState.reset();
  m_Name.clear();
}

bool TNamedEvent::Exists(const QString& name) {
  return !name.isEmpty() &&
         Reachable(NamedObjectSocketName(QStringLiteral("event"), name), kConnectMs);
}

bool TNamedEvent::Signal() {
  if (m_pServer) {
    {
      std::lock_guard<std::mutex> lock(m_pState->mutex);
      m_pState->signalled = true;
    }
    m_pState->cond.notify_all();
    QMetaObject::invokeMethod(
        m_pServer, [server = m_pServer] { server->Dispatch(); }, Qt::QueuedConnection);
    return true;
  }
  if (m_Name.isEmpty()) return false;
  SyncClient client;
  QDeadlineTimer dl(kConnectMs);
  QByteArray reply;
  return client.Connect(NamedObjectSocketName(QStringLiteral("event"), m_Name), dl) &&
         client.Call(kSignal, {}, kAck, reply, dl);
}

void TNamedEvent::Publish(int64_t value) {
  if (!m_pServer) return;
  std::lock_guard<std::mutex> lock(m_pState->mutex);
  m_pState->published = value;
}

std::optional<int64_t> TNamedEvent::Published(int timeoutMs) const {
  if (m_pServer) {
    std::lock_guard<std::mutex> lock(m_pState->mutex);
    return m_pState->published;
  }
  if (m_Name.isEmpty()) return std::nullopt;
  SyncClient client;
  QDeadlineTimer dl(timeoutMs);
  QByteArray reply;
  if (!client.Connect(NamedObjectSocketName(QStringLiteral("event"), m_Name), dl) ||
      !client.Call(kQuery, {}, kValue, reply, dl) || reply.size() != 8)
    return std::nullopt;
  return GetI64(reply, 0);
}

bool TNamedEvent::Reset() {
  if (m_pServer) {
    std::lock_guard<std::mutex> lock(m_pState->mutex);
    m_pState->signalled = false;
    return true;
  }
  if (m_Name.isEmpty()) return false;
  SyncClient client;
  QDeadlineTimer dl(kConnectMs);
  QByteArray reply;
  return client.Connect(NamedObjectSocketName(QStringLiteral("event"), m_Name), dl) &&
         client.Call(kReset, {}, kAck, reply, dl);
}

TWaitResult TNamedEvent::Wait(unsigned timeoutMs) {
  if (m_pServer) {
    TNamedEventState& st = *m_pState;
    std::unique_lock<std::mutex> lock(st.mutex);
    auto ready = [&st] { return st.signalled; };
    if (timeoutMs == TEvent::INFINITE_WAIT)
      st.cond.wait(lock, ready);
    else if (!st.cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready))
      return wrTimeout;
    if (!st.manualReset) st.signalled = false;
    return wrSignaled;
  }
  if (m_Name.isEmpty()) return wrError;
  SyncClient client;
  const QDeadlineTimer connectBy(timeoutMs == TEvent::INFINITE_WAIT
                                     ? QDeadlineTimer(QDeadlineTimer::Forever)
                                     : QDeadlineTimer(qMax<qint64>(timeoutMs, kConnectMs)));
  if (!client.Connect(NamedObjectSocketName(QStringLiteral("event"), m_Name), connectBy))
    return wrError;
  const QDeadlineTimer dl = Deadline(timeoutMs);
  if (!client.Send(kWait, {}, connectBy)) return wrError;
  uint8_t op = 0;
  QByteArray body;
  switch (client.Read(op, body, dl, kMaxRequestBody)) {
    case SyncClient::Got::Frame:
      return op == kSignalled ? wrSignaled : wrError;
    case SyncClient::Got::Closed:
      return wrAbandoned;
    case SyncClient::Got::Bad:
      return wrError;
    case SyncClient::Got::Timeout:
      break;
  }
  // Withdraw the wait; the owner may have handed us the signal meanwhile, and an
  // auto-reset signal taken that way must not be lost.
  const QDeadlineTimer grace(kGraceMs);
  if (!client.Send(kCancel, {}, grace)) return wrTimeout;
  if (client.Read(op, body, grace, kMaxRequestBody) == SyncClient::Got::Frame && op == kSignalled)
    return wrSignaled;
  return wrTimeout;
}

// ---------------------------------------------------------------------------------
// Mapping

struct TNamedMappingState {
  mutable std::mutex mutex;
  QByteArray data;
};

class TNamedMappingServer : public QObject {
 public:
  explicit TNamedMappingServer(std::shared_ptr<TNamedMappingState> state)
      : m_pState(std::move(state)),
        m_Server([this](QLocalSocket* s, uint8_t op,
                        const QByteArray& body) { return OnFrame(s, op, body); },
                 [](QLocalSocket*) {}) {}

  TCreateResult Listen(const QString& socketName) { return m_Server.Listen(socketName); }

 private:
  bool OnFrame(QLocalSocket* s, uint8_t op, const QByteArray& body) {
    if (op == kPing) {
      FrameServer::Reply(s, kAck);
      return true;
    }
    if (op != kMapRead || body.size() != 8) return false;
    const int64_t size = GetI64(body, 0);
    QByteArray bytes;
    {
      std::lock_guard<std::mutex> lock(m_pState->mutex);
      if (size < 0 || size > m_pState->data.size()) {
        FrameServer::Reply(s, kMapFail);
        return true;
      }
      bytes = size == 0 ? m_pState->data : m_pState->data.left(size);
    }
    FrameServer::Reply(s, kMapData, bytes);
    return true;
  }

  std::shared_ptr<TNamedMappingState> m_pState;
  FrameServer m_Server;
};

TNamedMapping::TNamedMapping() = default;

TNamedMapping::~TNamedMapping() {
  Close();
}

TCreateResult TNamedMapping::CreateExclusive(const QString& name, int64_t size) {
  Close();
  if (name.isEmpty() || size <= 0 || size > kMaxSize || !QCoreApplication::instance())
    return TCreateResult::Failed;
  auto state = std::make_shared<TNamedMappingState>();
  state->data = QByteArray(qsizetype(size), '\0');
  const QString socketName = NamedObjectSocketName(QStringLiteral("mapping"), name);
  TNamedMappingServer* server = nullptr;
  const TCreateResult result = ListenOnServiceThread(socketName, state, &server);
  if (result == TCreateResult::Created) {
    m_Name = name;
    m_pState = state;
    m_pServer = server;
  }
  return result;
}

TCreateResult TNamedMapping::CreateExclusive(const QString& name, const QByteArray& bytes) {
  const TCreateResult result = CreateExclusive(name, int64_t(bytes.size()));
  if (result == TCreateResult::Created) Write(0, bytes);
  return result;
}

bool TNamedMapping::Write(int64_t offset, const QByteArray& bytes) {
  if (!m_pState || !m_pServer) return false;
  std::lock_guard<std::mutex> lock(m_pState->mutex);
  if (offset < 0 || offset > m_pState->data.size() - bytes.size()) return false;
  std::copy(bytes.begin(), bytes.end(), m_pState->data.begin() + offset);
  return true;
}

bool TNamedMapping::Open(const QString& name, int64_t size, int timeoutMs) {
  Close();
  if (name.isEmpty() || size < 0 || size > kMaxSize) return false;
  SyncClient client;
  const QDeadlineTimer dl(timeoutMs);
  QByteArray reply;
  if (!client.Connect(NamedObjectSocketName(QStringLiteral("mapping"), name), dl) ||
      // A longer answer than asked for is refused as soon as its length is known.
      !client.Call(kMapRead, I64(size), kMapData, reply, dl,
                   size > 0 ? uint32_t(size) : kMaxReplyBody))
    return false;
  if (size != 0 && reply.size() != size) return false;
  m_Name = name;
  m_Read = reply;
  return true;
}

void TNamedMapping::Close() {
  if (m_pServer) {
    TNamedMappingServer* server = m_pServer;
    ServiceThread::Instance().Run([server] { delete server; });
    m_pServer = nullptr;
  }
  m_pState.reset();
  m_Read.clear();
  m_Name.clear();
}

QByteArray TNamedMapping::Data() const {
  if (m_pState) {
    std::lock_guard<std::mutex> lock(m_pState->mutex);
    return m_pState->data;
  }
  return m_Read;
}

int64_t TNamedMapping::Size() const {
  return Data().size();
}

// ---------------------------------------------------------------------------------
// Message port

class TMessagePortServer : public QObject {
 public:
  explicit TMessagePortServer(TMessageHandler handler)
      : m_Handler(std::move(handler)),
        m_Server([this](QLocalSocket* s, uint8_t op,
                        const QByteArray& body) { return OnFrame(s, op, body); },
                 [](QLocalSocket*) {}) {}

  TCreateResult Listen(const QString& socketName) { return m_Server.Listen(socketName); }
  const TMessageHandler& Handler() const { return m_Handler; }

 private:
  bool OnFrame(QLocalSocket* s, uint8_t op, const QByteArray& body) {
    if (op == kPing) {
      FrameServer::Reply(s, kAck);
      return true;
    }
    if ((op != kSend && op != kPost) || body.size() != 20) return false;
    const uint32_t msg = qFromLittleEndian<quint32>(body.constData());
    const uint64_t wParam = qFromLittleEndian<quint64>(body.constData() + 4);
    const int64_t lParam = qFromLittleEndian<qint64>(body.constData() + 12);
    // The handler may destroy this port (and the connection) before it returns.
    const TMessageHandler handler = m_Handler;
    QPointer<QLocalSocket> socket(s);
    const int64_t result = handler ? handler(msg, wParam, lParam) : 0;
    if (op == kSend && socket) FrameServer::Reply(socket, kResult, I64(result));
    return true;
  }

  TMessageHandler m_Handler;
  FrameServer m_Server;
};

namespace {
struct PortTable {
  std::mutex mutex;
  std::map<uint32_t, TMessagePortServer*> ports;
  uint32_t counter = 0;
};
PortTable& Ports() {
  static PortTable table;
  return table;
}

QString PortSocketName(TPortHandle port) {
  return NamedObjectSocketName(
      QStringLiteral("port"),
      QStringLiteral("%1-%2").arg(quint32(quint64(port) >> 32)).arg(quint32(port)));
}

bool IsOwnProcess(TPortHandle port) {
  return quint32(quint64(port) >> 32) == quint32(::getpid());
}
}  // namespace

TMessagePort::TMessagePort() = default;

TMessagePort::~TMessagePort() {
  Unregister();
}

TPortHandle TMessagePort::Register(TMessageHandler handler) {
  Unregister();
  if (!QCoreApplication::instance()) return 0;
  PortTable& table = Ports();
  uint32_t number;
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    number = ++table.counter;
  }
  const TPortHandle handle = TPortHandle((quint64(quint32(::getpid())) << 32) | number);
  auto* server = new TMessagePortServer(std::move(handler));
  if (server->Listen(PortSocketName(handle)) != TCreateResult::Created) {
    delete server;
    return 0;
  }
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    table.ports[number] = server;
  }
  m_Handle = handle;
  m_pServer = server;
  return handle;
}

void TMessagePort::Unregister() {
  if (!m_pServer) return;
  {
    PortTable& table = Ports();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.ports.erase(quint32(m_Handle));
  }
  delete m_pServer;
  m_pServer = nullptr;
  m_Handle = 0;
}

std::optional<int64_t> TMessagePort::SendMessage(TPortHandle port, uint32_t msg, uint64_t wParam,
                                                 int64_t lParam, int timeoutMs) {
  if (port == 0) return std::nullopt;
  if (IsOwnProcess(port)) {
    TMessageHandler handler;
    {
      PortTable& table = Ports();
      std::lock_guard<std::mutex> lock(table.mutex);
      auto it = table.ports.find(quint32(port));
      if (it == table.ports.end()) return std::nullopt;
      // From the port's own thread the handler is called directly: that thread cannot
      // serve the socket while it waits on it.
      if (it->second->thread() == QThread::currentThread()) handler = it->second->Handler();
    }
    if (handler) return handler(msg, wParam, lParam);
  }
  SyncClient client;
  const QDeadlineTimer dl(timeoutMs);
  QByteArray reply;
  if (!client.Connect(PortSocketName(port), dl) ||
      !client.Call(kSend, MessageBody(msg, wParam, lParam), kResult, reply, dl) ||
      reply.size() != 8)
    return std::nullopt;
  return GetI64(reply, 0);
}

bool TMessagePort::PostMessage(TPortHandle port, uint32_t msg, uint64_t wParam, int64_t lParam) {
  if (port == 0) return false;
  if (IsOwnProcess(port)) {
    PortTable& table = Ports();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.ports.find(quint32(port));
    if (it == table.ports.end()) return false;
    // Queued on the port's thread; dropped if the port is destroyed first.
    TMessagePortServer* server = it->second;
    return QMetaObject::invokeMethod(
        server,
        [server, msg, wParam, lParam] {
          const TMessageHandler handler = server->Handler();
          if (handler) handler(msg, wParam, lParam);
        },
        Qt::QueuedConnection);
  }
  SyncClient client;
  const QDeadlineTimer dl(kConnectMs);
  return client.Connect(PortSocketName(port), dl) &&
         client.Send(kPost, MessageBody(msg, wParam, lParam), dl);
}

bool TMessagePort::IsWindow(TPortHandle port) {
  if (port == 0) return false;
  if (IsOwnProcess(port)) {
    PortTable& table = Ports();
    std::lock_guard<std::mutex> lock(table.mutex);
    return table.ports.count(quint32(port)) != 0;
  }
  return Reachable(PortSocketName(port), kConnectMs);
}

}  // namespace lb
