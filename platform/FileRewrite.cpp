#include "FileRewrite.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace lb {

namespace {

constexpr int64_t kChunk = 1 << 20;

// The end of a finished backup: what it is a copy of. A backup without it (cut short
// while it was written) is never put back.
struct TTrailer {
  char magic[16];
  uint64_t device;
  uint64_t inode;
  uint64_t size;  // the bytes of content before the trailer
};
constexpr char kMagic[16] = {'L', 'B', 'T', 'O', 'O', 'L', 'S', '-',
                             'R', 'E', 'W', 'R', 'I', 'T', 'E', '1'};

// Where backups go for folders that take no new file.
QString DataBackupFolder() {
  QString data = qEnvironmentVariable("XDG_DATA_HOME");
  if (data.isEmpty()) data = QDir::homePath() + "/.local/share";
  return data + "/lbtools/rewrite-backups";
}

// Removes a backup; the data folder's backup folder goes with its last backup, so that
// looking for backups there costs nothing while there are none.
void RemoveBackup(const QString& backup) {
  ::unlink(QFile::encodeName(backup).constData());
  ::rmdir(QFile::encodeName(DataBackupFolder()).constData());
}

class TFd {
 public:
  explicit TFd(int fd = -1) : m_Fd(fd) {}
  ~TFd() {
    if (m_Fd >= 0) ::close(m_Fd);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return m_Fd; }

 private:
  int m_Fd;
};

bool ReadAllAt(int fd, char* data, int64_t count, int64_t offset) {
  while (count > 0) {
    const ssize_t n = ::pread(fd, data, static_cast<size_t>(count), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    count -= n;
    offset += n;
  }
  return true;
}

// Makes a rename or removal in the folder durable.
void SyncFolder(const QString& folder) {
  TFd dir(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() >= 0) ::fsync(dir.Get());
}

// Copies the file's content into a new file beside `final`, ends it with the trailer,
// flushes it and gives it the final name. The descriptor of the finished backup, or -1
// (with nothing left behind).
int WriteBackup(const QString& final, int fd, const struct stat& st) {
  const QFileInfo info(final);
  QByteArray tmp = QFile::encodeName(info.absolutePath() + "/.lbtools-XXXXXX");
  TFd out(::mkostemp(tmp.data(), O_CLOEXEC));
  if (out.Get() < 0) return -1;
  TTrailer trailer{};
  std::memcpy(trailer.magic, kMagic, sizeof kMagic);
  trailer.device = st.st_dev;
  trailer.inode = st.st_ino;
  trailer.size = static_cast<uint64_t>(st.st_size);
  const bool ok =
      CopyBytes(fd, 0, out.Get(), 0, st.st_size) &&
      WriteAllAt(out.Get(), reinterpret_cast<const char*>(&trailer), sizeof trailer, st.st_size) &&
      ::fsync(out.Get()) == 0 &&
      ::rename(tmp.constData(), QFile::encodeName(final).constData()) == 0;
  if (!ok) {
    ::unlink(tmp.constData());
    return -1;
  }
  SyncFolder(info.absolutePath());
  return ::dup(out.Get());
}

// Puts the backup's content back into the file (same inode) and removes the backup.
bool PutBack(const QString& backup, int backupFd, int fd, uint64_t size) {
  if (!CopyBytes(backupFd, 0, fd, 0, static_cast<int64_t>(size)) ||
      ::ftruncate(fd, static_cast<off_t>(size)) != 0 || ::fsync(fd) != 0)
    return false;
  RemoveBackup(backup);
  return true;
}

}  // namespace

bool WriteAllAt(int fd, const char* data, int64_t count, int64_t offset) {
  while (count > 0) {
    const ssize_t n = ::pwrite(fd, data, static_cast<size_t>(count), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    count -= n;
    offset += n;
  }
  return true;
}

bool CopyBytes(int from, int64_t fromOffset, int to, int64_t toOffset, int64_t count) {
  std::unique_ptr<char[]> buffer(new char[kChunk]);
  while (count > 0) {
    const int64_t want = std::min(count, kChunk);
    const ssize_t n = ::pread(from, buffer.get(), static_cast<size_t>(want), fromOffset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (!WriteAllAt(to, buffer.get(), n, toOffset)) return false;
    fromOffset += n;
    toOffset += n;
    count -= n;
  }
  return true;
}

QString BackupBeside(const QString& path) {
  const QString full = QDir::isAbsolutePath(path) ? path : QFileInfo(path).absoluteFilePath();
  const qsizetype slash = full.lastIndexOf(QLatin1Char('/'));
  return full.left(slash + 1) + QLatin1Char('.') + full.mid(slash + 1) + ".lbtools-backup";
}

QString BackupInDataFolder(const QString& path) {
  const QByteArray key =
      QCryptographicHash::hash(QFile::encodeName(QFileInfo(path).absoluteFilePath()),
                               QCryptographicHash::Sha1)
          .toHex();
  return DataBackupFolder() + "/" + QString::fromLatin1(key);
}

bool RecoverInterruptedRewrite(const QString& link) {
  // Called before every access to a song: a stat or two when there is nothing to do.
  // Backups are named after the file a link leads to; a folder reached through a link
  // is the same folder, so only a link in the last place needs resolving here.
  struct stat lst;
  if (::lstat(QFile::encodeName(link).constData(), &lst) != 0) return true;
  const QString path = S_ISLNK(lst.st_mode) ? QFileInfo(link).canonicalFilePath() : link;
  if (path.isEmpty()) return true;
  QStringList backups{BackupBeside(path)};
  struct stat dst;
  if (::stat(QFile::encodeName(DataBackupFolder()).constData(), &dst) == 0)
    backups << BackupInDataFolder(QFileInfo(path).canonicalFilePath());
  for (const QString& backup : backups) {
    TFd in(::open(QFile::encodeName(backup).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (in.Get() < 0) continue;
    struct stat bst, st;
    TTrailer trailer{};
    if (::fstat(in.Get(), &bst) != 0 || !S_ISREG(bst.st_mode) ||
        bst.st_size < static_cast<off_t>(sizeof trailer) ||
        !ReadAllAt(in.Get(), reinterpret_cast<char*>(&trailer), sizeof trailer,
                   bst.st_size - sizeof trailer) ||
        std::memcmp(trailer.magic, kMagic, sizeof kMagic) != 0 ||
        trailer.size != static_cast<uint64_t>(bst.st_size) - sizeof trailer)
      continue;
    // Only a copy of this very file is put back: a backup left beside a file that was
    // replaced meanwhile belongs to no file any more.
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || trailer.device != st.st_dev ||
        trailer.inode != st.st_ino)
      continue;
    TFd fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC));
    if (fd.Get() < 0 || !PutBack(backup, in.Get(), fd.Get(), trailer.size)) return false;
  }
  return true;
}

bool ReplaceHeadInPlace(const QString& path, int fd, int64_t oldSize, const QByteArray& head) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || oldSize > st.st_size) return false;
  QString backup = BackupBeside(path);
  int backupFd = WriteBackup(backup, fd, st);
  if (backupFd < 0) {
    backup = BackupInDataFolder(path);
    if (QDir().mkpath(QFileInfo(backup).absolutePath())) backupFd = WriteBackup(backup, fd, st);
  }
  if (backupFd < 0) return false;
  TFd copy(backupFd);
  const int64_t rest = st.st_size - oldSize;
  if (WriteAllAt(fd, head.constData(), head.size(), 0) &&
      CopyBytes(copy.Get(), oldSize, fd, head.size(), rest) &&
      ::ftruncate(fd, head.size() + rest) == 0 && ::fsync(fd) == 0) {
    RemoveBackup(backup);
    return true;
  }
  // Put the old content back; should even that fail, the backup stays for the next
  // access to the file.
  PutBack(backup, copy.Get(), fd, static_cast<uint64_t>(st.st_size));
  return false;
}

}  // namespace lb
