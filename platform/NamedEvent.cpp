#include "NamedObjectChannel.h"

#include <QCoreApplication>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace lb {

using namespace channel;

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

TCreateResult TNamedEvent::Create(const QString& name, bool manualReset, bool initialState) {
  Close();
  if (name.isEmpty() || !QCoreApplication::instance()) return TCreateResult::Failed;
  const QString socketName = NamedObjectSocketName(QStringLiteral("event"), name);
  auto state = std::make_shared<TNamedEventState>();
  state->manualReset = manualReset;
  state->signalled = initialState;
  TNamedEventServer* server = nullptr;
  // A name whose owner lives is taken, however long that owner takes to answer.
  const TCreateResult result = ListenOnServiceThread(socketName, state, &server);
  if (result == TCreateResult::Created) {
    m_pState = state;
    m_pServer = server;
  }
  if (result != TCreateResult::Failed) m_Name = name;
  return result;
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
  return !name.isEmpty() && NameIsHeld(NamedObjectSocketName(QStringLiteral("event"), name));
}

namespace {

// Asks the process that owns the event to set or clear it (op); true once it answered.
bool AskOwner(const QString& name, Op op) {
  SyncClient client;
  QDeadlineTimer dl(kConnectMs);
  QByteArray reply;
  return client.Connect(NamedObjectSocketName(QStringLiteral("event"), name), dl) &&
         client.Call(op, {}, kAck, reply, dl);
}

}  // namespace

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
  return !m_Name.isEmpty() && AskOwner(m_Name, kSignal);
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
  return !m_Name.isEmpty() && AskOwner(m_Name, kReset);
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

}  // namespace lb
