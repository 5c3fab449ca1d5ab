#include "NamedObjectChannel.h"

#include <QCoreApplication>
#include <QPointer>
#include <map>
#include <mutex>

namespace lb {

using namespace channel;

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
  return NameIsHeld(PortSocketName(port));
}

}  // namespace lb
