// The connection plumbing shared by the named objects (NamedEvent.cpp, NamedMapping.cpp,
// MessagePort.cpp): the operation codes and limits, the background service thread, the
// blocking client, the listener that keeps its name and the framed server with its
// connection limits. Internal to the platform library; callers include NamedObjects.h.
#pragma once

#include "NamedObjects.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace lb::channel {

// True when the process at the other end of a connected local socket (the one that
// connected, or the one that listens) runs as this process's user.
bool SocketPeerIsThisUser(qintptr fd);

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

inline QByteArray I64(int64_t v) {
  QByteArray b(8, '\0');
  qToLittleEndian<qint64>(v, b.data());
  return b;
}
inline int64_t GetI64(const QByteArray& b, int at) {
  return qFromLittleEndian<qint64>(b.constData() + at);
}

inline QByteArray MessageBody(uint32_t msg, uint64_t wParam, int64_t lParam) {
  QByteArray b(20, '\0');
  qToLittleEndian<quint32>(msg, b.data());
  qToLittleEndian<quint64>(wParam, b.data() + 4);
  qToLittleEndian<qint64>(lParam, b.data() + 12);
  return b;
}

inline QDeadlineTimer Deadline(unsigned timeoutMs) {
  if (timeoutMs == TEvent::INFINITE_WAIT) return QDeadlineTimer(QDeadlineTimer::Forever);
  return QDeadlineTimer(qint64(timeoutMs));
}

inline int Remaining(const QDeadlineTimer& dl) {
  if (dl.isForever()) return -1;
  return int(qMin<qint64>(dl.remainingTime(), INT_MAX));
}

// True while an owner holds the name: its lock is held, which ends with the owner's
// process. Decided by the kernel, so a slow owner counts as much as a quick one.
bool NameIsHeld(const QString& socketName);

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
  // user (the folder of the names is private, but root may put a socket there).
  // An owner that has just taken its name puts its socket in place a moment later:
  // while the name is held, a socket not there yet is tried again until the deadline.
  bool Connect(const QString& socketName, const QDeadlineTimer& dl) {
    if (socketName.isEmpty()) return false;
    for (;;) {
      m_Socket.connectToServer(socketName);
      if (m_Socket.state() == QLocalSocket::ConnectingState)
        m_Socket.waitForConnected(Remaining(dl));
      if (m_Socket.state() == QLocalSocket::ConnectedState) break;
      const QLocalSocket::LocalSocketError error = m_Socket.error();
      m_Socket.abort();
      if ((error != QLocalSocket::ServerNotFoundError &&
           error != QLocalSocket::ConnectionRefusedError) ||
          dl.hasExpired() || !NameIsHeld(socketName))
        return false;
      QThread::msleep(10);
    }
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

// Owns a name and listens on its socket. The name is owned through an open-file lock
// on "<socket>.lock", which the kernel drops when the owner's process ends however it
// ends: holding the lock is holding the name, with no question of timing. The socket
// is bound under a name of its own and renamed into place, so it appears listening
// at once; a socket file left by an owner that died is replaced.
// Unlike QLocalServer it keeps listening after an accept error (descriptors running
// out): it pauses briefly and accepts again, so the name is never given up while its
// owner lives. Connections of another user are closed at once; the others go to
// onAccepted as descriptors.
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
    if (m_Fd >= 0) {
      ::close(m_Fd);
      // The files go while the lock is held, so no later owner loses its own.
      ::unlink(m_Path.constData());
      ::unlink((m_Path + ".lock").constData());
    }
    if (m_LockFd >= 0) ::close(m_LockFd);
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  TCreateResult Listen(const QString& socketName);

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
  int m_LockFd = -1;
  QByteArray m_Path;
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

}  // namespace lb::channel
