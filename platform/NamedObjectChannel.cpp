#include "NamedObjectChannel.h"

#include "FileSystem.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>

namespace lb {

// ---------------------------------------------------------------------------------
// Names and framing

namespace {
// A folder that only this user can reach: a directory (not a link) owned by the
// effective user that nobody else may enter.
bool IsPrivateFolder(const QByteArray& path) {
  struct stat st {};
  return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & 077) == 0;
}

// Makes the folder when it is missing; empty when it is not (or cannot be made) private.
QByteArray PrivateFolder(const QByteArray& path) {
  if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) return {};
  return IsPrivateFolder(path) ? path : QByteArray();
}

QByteArray FindNamedObjectFolder() {
  // The session's runtime folder, when the session has one; else a folder of our own
  // in /tmp. A folder another user made under that name is not used: then the home
  // folder holds ours.
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (runtime.startsWith('/') && IsPrivateFolder(runtime)) {
    const QByteArray folder = PrivateFolder(runtime + "/lbtools");
    if (!folder.isEmpty()) return folder;
  }
  const QByteArray tmp = PrivateFolder("/tmp/lbtools-" + QByteArray::number(::geteuid()));
  if (!tmp.isEmpty()) return tmp;
  const QString cache = QDir::homePath() + QStringLiteral("/.cache");
  if (!QDir().mkpath(cache)) return {};
  return PrivateFolder(QFile::encodeName(cache) + "/lbtools-run");
}
}  // namespace

QString NamedObjectFolder() {
  static const QString folder = QFile::decodeName(FindNamedObjectFolder());
  return folder;
}

QString NamedObjectSocketName(const QString& kind, const QString& name) {
  const QString folder = NamedObjectFolder();
  if (folder.isEmpty()) return {};
  const QString prefix = folder + QLatin1Char('/') + kind + QLatin1Char('-');
  const QString full = qEnvironmentVariable("LBTOOLS_OBJECT_NAMESPACE") + name;
  // A socket address holds 108 bytes with its closing NUL; the lock file and the
  // temporary name of a new socket add to the name, so keep well below that.
  if (QFile::encodeName(prefix + full).size() <= 80 && !full.contains(QLatin1Char('/')))
    return prefix + full;
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

namespace {
QByteArray LockPath(const QString& socketName) {
  return QFile::encodeName(socketName) + ".lock";
}
}  // namespace

bool NameIsHeld(const QString& socketName) {
  if (socketName.isEmpty()) return false;
  const int fd = ::open(LockPath(socketName).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  const bool held = ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
  ::close(fd);
  return held;
}

TCreateResult Listener::Listen(const QString& socketName) {
  const QByteArray path = QFile::encodeName(socketName);
  const QByteArray lockPath = LockPath(socketName);
  if (path.isEmpty() || size_t(lockPath.size()) + 1 > sizeof(sockaddr_un::sun_path))
    return TCreateResult::Failed;
  // Take the lock of the name. A lock file removed by its last owner just before we
  // locked it names nothing any more: then lock the new one.
  int lockFd = -1;
  for (int attempt = 0; lockFd < 0; ++attempt) {
    if (attempt == 8) return TCreateResult::Failed;
    const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return TCreateResult::Failed;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
      const int error = errno;
      ::close(fd);
      return error == EAGAIN || error == EACCES ? TCreateResult::AlreadyExists
                                                : TCreateResult::Failed;
    }
    struct stat held {
    }, named{};
    if (::fstat(fd, &held) == 0 && ::lstat(lockPath.constData(), &named) == 0 &&
        FileIdOf(held) == FileIdOf(named))
      lockFd = fd;
    else
      ::close(fd);
  }
  // The socket, bound under a name of its own and renamed into place once it listens.
  static std::atomic<unsigned> counter{0};
  const QByteArray fresh = QFile::encodeName(QFileInfo(socketName).absolutePath()) + "/.new-" +
                           QByteArray::number(::getpid()) + '-' + QByteArray::number(++counter);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  bool ok = fd >= 0 && size_t(fresh.size()) + 1 <= sizeof address.sun_path;
  if (ok) {
    std::memcpy(address.sun_path, fresh.constData(), size_t(fresh.size()));
    ::unlink(fresh.constData());
    ok = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ok = ok && ::listen(fd, 64) == 0 && ::rename(fresh.constData(), path.constData()) == 0;
    if (!ok) ::unlink(fresh.constData());
  }
  if (!ok) {
    if (fd >= 0) ::close(fd);
    ::unlink(lockPath.constData());
    ::close(lockFd);
    return TCreateResult::Failed;
  }
  m_Fd = fd;
  m_LockFd = lockFd;
  m_Path = path;
  m_pNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, [this] { Accept(); });
  return TCreateResult::Created;
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
