#include "NamedObjectChannel.h"

#include <QCoreApplication>
#include <mutex>

namespace lb {

using namespace channel;

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

}  // namespace lb
