#include "NamedObjectChannel.h"

#include <QCryptographicHash>

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

namespace channel {
bool SocketPeerIsThisUser(qintptr fd) {
  ucred cred{};
  socklen_t length = sizeof cred;
  if (::getsockopt(int(fd), SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 || length != sizeof cred)
    return false;
  return cred.uid == ::geteuid();
}
}  // namespace channel

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

}  // namespace lb
