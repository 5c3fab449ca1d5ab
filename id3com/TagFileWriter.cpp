#include "TagFileWriter.h"

#include "platform/FileRewrite.h"
#include "platform/PartialFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
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

// Writes head and the audio into a temporary file beside the original, gives it the
// original's owner, group and mode, and renames it over the original. False (with
// nothing changed) when any step fails; *tryInPlace tells whether writing the file in
// place may still succeed (the folder refused the file, or the owner cannot be kept).
bool RewriteThroughTemporary(const QString& path, int fd, const struct stat& st, int64_t oldSize,
                             const QByteArray& head, bool* tryInPlace) {
  *tryInPlace = true;
  const QFileInfo info(path);
  QByteArray tmpPath;
  TFd tmp(lb::CreatePartialFile(info.absolutePath(), info.fileName(), "lbtools", &tmpPath));
  if (tmp.Get() < 0) return false;
  struct stat made;
  bool ok = ::fstat(tmp.Get(), &made) == 0;
  if (ok && (made.st_uid != st.st_uid || made.st_gid != st.st_gid))
    ok = ::fchown(tmp.Get(), st.st_uid, st.st_gid) == 0;
  ok = ok && ::fchmod(tmp.Get(), st.st_mode & 07777) == 0;
  if (ok) {
    *tryInPlace = false;
    ok = lb::WriteAllAt(tmp.Get(), head.constData(), head.size(), 0) &&
         lb::CopyBytes(fd, oldSize, tmp.Get(), head.size(), st.st_size - oldSize) &&
         ::fsync(tmp.Get()) == 0 && tmp.Close() &&
         ::rename(tmpPath.constData(), QFile::encodeName(path).constData()) == 0;
  }
  if (!ok) ::unlink(tmpPath.constData());
  return ok;
}

}  // namespace

bool ReplaceFileHead(const QString& link, int64_t oldSize, const QByteArray& head) {
  // A link stays a link: the file it leads to is written, in its own folder.
  const QString path = QFileInfo(link).canonicalFilePath();
  if (path.isEmpty()) return false;
  TFd fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC));
  struct stat st;
  // Held for the whole write: another process's recovery leaves this write's backup
  // alone, and another writer waits.
  if (fd.Get() < 0 || ::flock(fd.Get(), LOCK_EX) != 0 ||
      !lb::RecoverInterruptedRewriteLocked(path, fd.Get()) || ::fstat(fd.Get(), &st) != 0 ||
      !S_ISREG(st.st_mode) || oldSize > st.st_size)
    return false;
  if (head.size() == oldSize)
    return lb::WriteAllAt(fd.Get(), head.constData(), head.size(), 0) && ::fsync(fd.Get()) == 0 &&
           fd.Close();
  if (st.st_nlink == 1) {
    bool tryInPlace = false;
    if (RewriteThroughTemporary(path, fd.Get(), st, oldSize, head, &tryInPlace)) return true;
    if (!tryInPlace) return false;
  }
  return lb::ReplaceHeadInPlace(path, fd.Get(), oldSize, head) && fd.Close();
}

}  // namespace id3
