// File and volume queries on plain POSIX calls: the synchronisation pass asks them
// for every song of a list, so each costs one or two system calls.
#include "FileSystem.h"

#include "FileRewrite.h"
#include "SystemError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QUrl>
#include <QDateTime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <functional>
#include <mutex>

namespace {

QByteArray Native(const QString& path) {
  return QFile::encodeName(path);
}

bool Stat(const QString& path, struct stat* st) {
  return !path.isEmpty() && !lb::IsForeignPath(path) && ::stat(Native(path).constData(), st) == 0;
}

// The path itself or, for a path that does not exist, its nearest existing ancestor:
// the folder whose volume the path would lie on.
QString NearestExisting(const QString& path, struct stat* st) {
  QString p = QDir::cleanPath(path);
  for (;;) {
    if (Stat(p, st)) return p;
    qsizetype slash = p.lastIndexOf(u'/');
    if (slash < 0) return {};
    p = slash == 0 ? QStringLiteral("/") : p.left(slash);
    if (p == u"/" && !Stat(p, st)) return {};
  }
}

uint64_t Mix(uint64_t x) {
  // The finaliser of SplitMix64: every input bit reaches every output bit.
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ULL;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBULL;
  x ^= x >> 31;
  return x;
}

}  // namespace

namespace lb {

bool IsForeignPath(const QString& path) {
  if (path.startsWith(QLatin1String("\\\\"))) return true;
  return path.size() >= 2 && path.at(1) == u':' && path.at(0).unicode() < 0x80 &&
         path.at(0).isLetter();
}

int OpenRegularFile(const QString& path, qint64 maxBytes, TOpenFailure* why) {
  auto fail = [why](TOpenFailure reason, int fd) {
    if (fd >= 0) ::close(fd);
    if (why) *why = reason;
    return -1;
  };
  if (path.isEmpty() || IsForeignPath(path)) return fail(TOpenFailure::Missing, -1);
  RecoverInterruptedRewrite(path);
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  const int fd = ::open(Native(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return fail(
        errno == ENOENT || errno == ENOTDIR ? TOpenFailure::Missing : TOpenFailure::Unreadable, -1);
  struct stat st;
  if (::fstat(fd, &st) != 0) return fail(TOpenFailure::Unreadable, fd);
  if (!S_ISREG(st.st_mode)) return fail(TOpenFailure::NotRegular, fd);
  if (st.st_size > maxBytes) return fail(TOpenFailure::TooLarge, fd);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
    return fail(TOpenFailure::Unreadable, fd);
  if (why) *why = TOpenFailure::None;
  return fd;
}

bool ReadRegularFile(const QString& path, qint64 maxBytes, QByteArray* bytes, TOpenFailure* why) {
  bytes->clear();
  const int fd = OpenRegularFile(path, maxBytes, why);
  if (fd < 0) return false;
  // The size may change while reading: never read past the cap.
  QByteArray buffer;
  char chunk[65536];
  bool ok = true;
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ok = false;
      if (why) *why = TOpenFailure::Unreadable;
      break;
    }
    if (got == 0) break;
    if (buffer.size() + got > maxBytes) {
      ok = false;
      if (why) *why = TOpenFailure::TooLarge;
      break;
    }
    buffer.append(chunk, got);
  }
  ::close(fd);
  if (ok) *bytes = std::move(buffer);
  return ok;
}

bool CommitSaveFile(QSaveFile& file) {
  if (!file.flush() || file.error() != QFileDevice::NoError) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

int32_t FileAge(const QString& path) {
  struct stat st;
  if (!Stat(path, &st) || S_ISDIR(st.st_mode)) return -1;
  const TFileStamp stamp = FileStampOf(st);
  return FileAgeOf(stamp.mtimeNs, stamp.size);
}

int32_t FileAgeOf(int64_t mtimeNs, int64_t size) {
  uint64_t ns = static_cast<uint64_t>(mtimeNs);
  uint64_t h = Mix(ns ^ Mix(static_cast<uint64_t>(size) + 0x9E3779B97F4A7C15ULL));
  int32_t age = static_cast<int32_t>(static_cast<uint32_t>(h ^ (h >> 32)));
  // -1, -2 and -3 mean "missing", "never synchronised" and "one more pass" to the
  // callers; an existing file must never produce them.
  if (age >= -3 && age <= -1) age -= 3;
  return age;
}

bool VolumeAnswers(const QString& path) {
  struct stat st;
  QString existing = NearestExisting(path, &st);
  if (existing.isEmpty()) return false;
  struct statvfs vfs;
  return ::statvfs(Native(existing).constData(), &vfs) == 0;
}

namespace {
std::function<QByteArray(const QString&)>& TypeProbe() {
  static std::function<QByteArray(const QString&)> probe;
  return probe;
}
}  // namespace

void SetFileSystemTypeProbe(std::function<QByteArray(const QString& path)> probe) {
  TypeProbe() = std::move(probe);
}

bool IsCdRom(const QString& path) {
  struct stat st;
  QString existing = NearestExisting(path, &st);
  if (existing.isEmpty()) return false;
  return IsCdRom(existing, static_cast<uint64_t>(st.st_dev));
}

bool IsCdRom(const QString& existing, uint64_t device) {
  if (TypeProbe()) {
    const QByteArray type = TypeProbe()(existing).toLower();
    return type == "iso9660" || type == "udf";
  }

  // Reading the mount table costs far more than a stat, and new songs ask this one by
  // one, so the answer is kept per device for a short while (a disc change shows up
  // as a new mount, which is noticed once the entry expires).
  using Clock = std::chrono::steady_clock;
  struct Entry {
    bool cd;
    Clock::time_point when;
  };
  static std::mutex mutex;
  static QHash<quint64, Entry> cache;
  const quint64 dev = static_cast<quint64>(device);
  const auto now = Clock::now();
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = cache.constFind(dev);
    if (it != cache.constEnd() && now - it->when < std::chrono::seconds(2)) return it->cd;
  }
  QStorageInfo info(existing);
  const QByteArray type = info.fileSystemType().toLower();
  const bool cd = info.isValid() && (type == "iso9660" || type == "udf");
  std::lock_guard<std::mutex> lock(mutex);
  cache.insert(dev, Entry{cd, now});
  return cd;
}

bool ClearReadOnly(const QString& path) {
  struct stat st;
  if (!Stat(path, &st)) return false;
  if (st.st_mode & S_IWUSR) return true;
  return ::chmod(Native(path).constData(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

namespace {

// Puts a symbolic link into the trash folder as the desktop's trash lays it out (its
// entry under info/, the link under files/): Qt trashes a link only when it leads to
// something. false with errno set; the link stays then.
bool TrashLink(const QString& path, const QString& trash) {
  const QString files = trash + "/files", info = trash + "/info";
  ::mkdir(Native(files).constData(), 0700);
  ::mkdir(Native(info).constData(), 0700);
  const QFileInfo link(path);
  const QByteArray entry =
      "[Trash Info]\nPath=" + QUrl::toPercentEncoding(link.absoluteFilePath(), "/") +
      "\nDeletionDate=" + QDateTime::currentDateTime().toString(Qt::ISODate).left(19).toLatin1() +
      "\n";
  for (int n = 1;; ++n) {
    const QString name = n == 1 ? link.fileName() : link.fileName() + "." + QString::number(n);
    const QByteArray entryPath = Native(info + "/" + name + ".trashinfo");
    // The entry's name, made exclusively, reserves the name under files/.
    const int fd = ::open(entryPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return false;
    errno = EIO;  // a short write sets none
    int error = ::write(fd, entry.constData(), entry.size()) == entry.size() ? 0 : errno;
    if (::close(fd) != 0 && !error) error = errno;
    if (!error && ::renameat2(AT_FDCWD, Native(path).constData(), AT_FDCWD,
                              Native(files + "/" + name).constData(), RENAME_NOREPLACE) == 0)
      return true;
    if (!error) error = errno;
    ::unlink(entryPath.constData());
    if (error != EEXIST) {
      errno = error;
      return false;
    }
  }
}

}  // namespace

bool MoveToTrash(const QString& path, QString* error) {
  QFile file(path);
  struct stat st;
  if (path.isEmpty() || ::lstat(Native(path).constData(), &st) != 0) {
    if (error) *error = SystemErrorText(ENOENT);
    return false;
  }
  // When the user's trash folder cannot be set up (on a fresh account the data folder
  // may not exist yet), Qt falls back to the current working folder and "trashes" the
  // file into files/ and info/ there. Make sure the trash folder exists, or refuse.
  const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  const QString trash = dataHome + "/Trash";
  if (dataHome.isEmpty() || !QDir().mkpath(dataHome) ||
      (::mkdir(Native(trash).constData(), 0700) != 0 && !DirectoryExists(trash))) {
    if (error) *error = "Не удаётся создать папку корзины " + trash;
    return false;
  }
  errno = 0;
  if (file.moveToTrash()) return true;
  // Qt words the cause of a failed move in English only; the system's number for it
  // (a folder that refuses changes, a full disk) is still in errno. The caller names
  // the path.
  const int cause = errno;
  if (S_ISLNK(st.st_mode)) {
    if (TrashLink(path, trash)) return true;
    if (error) *error = SystemErrorText(errno);
    return false;
  }
  if (error) *error = cause ? SystemErrorText(cause) : QString("Не удаётся переместить в корзину");
  return false;
}

bool FileExists(const QString& path) {
  struct stat st;
  return Stat(path, &st) && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const QString& path) {
  struct stat st;
  return Stat(path, &st) && S_ISDIR(st.st_mode);
}

bool NameTaken(const QString& path) {
  struct stat st;
  return !path.isEmpty() && ::lstat(Native(path).constData(), &st) == 0;
}

bool FileIdentity(const QString& path, TFileId* id) {
  struct stat st;
  if (!Stat(path, &st)) return false;
  *id = FileIdOf(st);
  return true;
}

QString ResolvedPath(const QString& path) {
  if (!path.startsWith(u'/')) return path;
  // The existing part is found from the end: a missing part's ".." cannot be taken
  // through the file system, and "x/.." lexically would skip a link at x.
  QString head = path;
  QString rest;
  for (;;) {
    char resolved[PATH_MAX];
    if (::realpath(Native(head).constData(), resolved))
      return QDir::cleanPath(QFile::decodeName(resolved) + u'/' + rest);
    if (head == u"/") return QDir::cleanPath(path);
    const qsizetype slash = head.lastIndexOf(u'/');
    rest = head.mid(slash + 1) + u'/' + rest;
    head = slash == 0 ? QStringLiteral("/") : head.left(slash);
  }
}

QString ExecutableFolder() {
  static const QString folder = [] {
    char buf[PATH_MAX + 1];
    ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
    if (n > 0) {
      QString exe = QFile::decodeName(QByteArray(buf, static_cast<int>(n)));
      // A binary replaced while running reads as "<path> (deleted)"; its folder holds.
      return QFileInfo(exe).absolutePath();
    }
    if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
    return QDir::currentPath();
  }();
  return folder;
}

}  // namespace lb
