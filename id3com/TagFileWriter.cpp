#include "TagFileWriter.h"

#include "platform/PartialFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace id3 {

namespace {

class TFd {
 public:
  explicit TFd(int fd = -1) : m_Fd(fd) {}
  ~TFd() {
    if (m_Fd >= 0) ::close(m_Fd);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return m_Fd; }
  // Closes now and tells whether the close succeeded (it reports late write errors).
  bool Close() {
    const int fd = m_Fd;
    m_Fd = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int m_Fd;
};

bool WriteAt(int fd, const char* data, int64_t count, int64_t offset) {
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

// Copies count bytes between two files (or within one, when the ranges do not overlap
// in the direction of the copy) a chunk at a time.
bool CopyRange(int from, int64_t fromOffset, int to, int64_t toOffset, int64_t count) {
  std::unique_ptr<char[]> buffer(new char[kCopyChunk]);
  while (count > 0) {
    const int64_t want = std::min(count, kCopyChunk);
    const ssize_t n = ::pread(from, buffer.get(), static_cast<size_t>(want), fromOffset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (!WriteAt(to, buffer.get(), n, toOffset)) return false;
    fromOffset += n;
    toOffset += n;
    count -= n;
  }
  return true;
}

// A new file with a unique name in the folder; -1 when the folder refuses one. A
// temporary ("lbtools") is removed once its writer is gone; a backup ("lbbackup") may be
// the only whole copy of a song, so it is never removed by anyone else.
int MakeTemporary(const QString& folder, const QString& name, const char* kind, QByteArray* path) {
  return lb::CreatePartialFile(folder, name, kind, path);
}

// Writes head and the audio into a temporary file beside the original, gives it the
// original's owner, group and mode, and renames it over the original. False (with
// nothing changed) when any step fails; *tryInPlace tells whether writing the file in
// place may still succeed (the folder refused the file, or the owner cannot be kept).
bool RewriteThroughTemporary(const QString& path, int fd, const struct stat& st, int64_t oldSize,
                             const QByteArray& head, bool* tryInPlace) {
  *tryInPlace = true;
  const QFileInfo info(path);
  QByteArray tmpPath;
  TFd tmp(MakeTemporary(info.absolutePath(), info.fileName(), "lbtools", &tmpPath));
  if (tmp.Get() < 0) return false;
  struct stat made;
  bool ok = ::fstat(tmp.Get(), &made) == 0;
  if (ok && (made.st_uid != st.st_uid || made.st_gid != st.st_gid))
    ok = ::fchown(tmp.Get(), st.st_uid, st.st_gid) == 0;
  ok = ok && ::fchmod(tmp.Get(), st.st_mode & 07777) == 0;
  if (ok) {
    *tryInPlace = false;
    ok = WriteAt(tmp.Get(), head.constData(), head.size(), 0) &&
         CopyRange(fd, oldSize, tmp.Get(), head.size(), st.st_size - oldSize) &&
         ::fsync(tmp.Get()) == 0 && tmp.Close() &&
         ::rename(tmpPath.constData(), QFile::encodeName(path).constData()) == 0;
  }
  if (!ok) ::unlink(tmpPath.constData());
  return ok;
}

// Rewrites the file's own inode: keeps a copy of the whole old content first, and
// puts the old content back when a write fails.
bool RewriteInPlace(const QString& path, int fd, const struct stat& st, int64_t oldSize,
                    const QByteArray& head) {
  const QFileInfo info(path);
  QByteArray backupPath;
  int backupFd = MakeTemporary(info.absolutePath(), info.fileName(), "lbbackup", &backupPath);
  if (backupFd < 0)
    backupFd = MakeTemporary(QDir::tempPath(), info.fileName(), "lbbackup", &backupPath);
  if (backupFd < 0) return false;
  TFd backup(backupFd);
  if (!CopyRange(fd, 0, backup.Get(), 0, st.st_size) || ::fsync(backup.Get()) != 0) {
    ::unlink(backupPath.constData());
    return false;
  }
  const int64_t audio = st.st_size - oldSize;
  if (WriteAt(fd, head.constData(), head.size(), 0) &&
      CopyRange(backup.Get(), oldSize, fd, head.size(), audio) &&
      ::ftruncate(fd, head.size() + audio) == 0 && ::fsync(fd) == 0) {
    ::unlink(backupPath.constData());
    return true;
  }
  // Put the old content back; should even that fail, the copy stays where it is.
  if (CopyRange(backup.Get(), 0, fd, 0, st.st_size) && ::ftruncate(fd, st.st_size) == 0 &&
      ::fsync(fd) == 0)
    ::unlink(backupPath.constData());
  return false;
}

}  // namespace

bool ReplaceFileHead(const QString& path, int64_t oldSize, const QByteArray& head) {
  TFd fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC));
  struct stat st;
  if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || oldSize > st.st_size)
    return false;
  if (head.size() == oldSize)
    return WriteAt(fd.Get(), head.constData(), head.size(), 0) && ::fsync(fd.Get()) == 0 &&
           fd.Close();
  if (st.st_nlink == 1) {
    bool tryInPlace = false;
    if (RewriteThroughTemporary(path, fd.Get(), st, oldSize, head, &tryInPlace)) return true;
    if (!tryInPlace) return false;
  }
  return RewriteInPlace(path, fd.Get(), st, oldSize, head) && fd.Close();
}

}  // namespace id3
