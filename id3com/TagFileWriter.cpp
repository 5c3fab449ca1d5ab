#include "TagFileWriter.h"

#include "platform/FileRewrite.h"
#include "platform/PartialFiles.h"
#include "platform/WriteBatch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace id3 {

namespace {

using lb::TFileDescriptor;

// Writes head and the audio into a temporary file beside the original, gives it the
// original's owner, group and mode, and renames it over the original. False (with
// nothing changed) when any step fails; *tryInPlace tells whether writing the file in
// place may still succeed (the folder refused the file, or the owner cannot be kept).
bool RewriteThroughTemporary(const QString& path, int fd, const struct stat& st, int64_t oldSize,
                             const QByteArray& head, bool* tryInPlace) {
  *tryInPlace = true;
  const QFileInfo info(path);
  QByteArray tmpPath;
  TFileDescriptor tmp(
      lb::CreatePartialFile(info.absolutePath(), info.fileName(), "lbtools", &tmpPath));
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

// A new file for a copy of name in folder, named so that it keeps name's extension
// (which tells the tag library the format); -1 when the folder refuses one.
int MakeCopyFile(const QString& folder, const QString& name, QByteArray* path) {
  const QString suffix = QFileInfo(name).suffix();
  const QByteArray ending = suffix.isEmpty() ? QByteArray() : QFile::encodeName("." + suffix);
  *path = QFile::encodeName(QDir(folder).filePath("." + name + ".lbtools-")) + "XXXXXX" + ending;
  return ::mkostemps(path->data(), static_cast<int>(ending.size()), O_CLOEXEC);
}

// Removes the copy unless it took the file's place.
struct TCopyGuard {
  QByteArray path;
  bool kept = false;
  ~TCopyGuard() {
    if (!kept && !path.isEmpty()) ::unlink(path.constData());
  }
};

}  // namespace

HRESULT EditThroughCopy(const QString& link, const std::function<HRESULT(const QString&)>& edit) {
  const QString path = QFileInfo(link).canonicalFilePath();
  if (path.isEmpty() || !lb::RecoverInterruptedRewrite(path)) return E_FAIL;
  TFileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC));
  struct stat st;
  if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return E_FAIL;
  const QFileInfo info(path);
  TCopyGuard guard;
  // Beside the file, taking its owner, group and mode, when it has a single link;
  // otherwise (or when that fails) in the temporary folder, from which the result is
  // written back into the file's own inode.
  bool beside = false;
  int copyFd = -1;
  if (st.st_nlink == 1) {
    copyFd = MakeCopyFile(info.absolutePath(), info.fileName(), &guard.path);
    struct stat made;
    beside = copyFd >= 0 && ::fstat(copyFd, &made) == 0 &&
             ((made.st_uid == st.st_uid && made.st_gid == st.st_gid) ||
              ::fchown(copyFd, st.st_uid, st.st_gid) == 0) &&
             ::fchmod(copyFd, st.st_mode & 07777) == 0;
    if (!beside && copyFd >= 0) {
      ::close(copyFd);
      ::unlink(guard.path.constData());
    }
  }
  if (!beside) copyFd = MakeCopyFile(QDir::tempPath(), info.fileName(), &guard.path);
  TFileDescriptor copy(copyFd);
  if (copy.Get() < 0) {
    guard.path.clear();
    return E_FAIL;
  }
  if (!lb::CopyBytes(fd.Get(), 0, copy.Get(), 0, st.st_size) || !copy.Close()) return E_FAIL;
  const HRESULT hr = edit(QFile::decodeName(guard.path));
  if (FAILED(hr)) return hr;
  TFileDescriptor done(::open(guard.path.constData(), O_RDONLY | O_CLOEXEC));
  if (done.Get() < 0 || ::fsync(done.Get()) != 0) return E_FAIL;
  if (beside) {
    if (::rename(guard.path.constData(), QFile::encodeName(path).constData()) != 0) return E_FAIL;
    guard.kept = true;
    return S_OK;
  }
  QFile edited(QFile::decodeName(guard.path));
  if (!edited.open(QIODevice::ReadOnly)) return E_FAIL;
  const QByteArray content = edited.readAll();
  if (content.size() != edited.size()) return E_FAIL;
  return lb::ReplaceHeadInPlace(path, fd.Get(), st.st_size, content) && fd.Close() ? S_OK : E_FAIL;
}

bool ReplaceFileHead(const QString& link, int64_t oldSize, const QByteArray& head) {
  TFileDescriptor fd(::open(QFile::encodeName(link).constData(), O_RDWR | O_CLOEXEC));
  struct stat st;
  // Held for the whole write: another process's recovery leaves this write's backup
  // alone, and another writer waits.
  if (fd.Get() < 0 || ::flock(fd.Get(), LOCK_EX) != 0 ||
      !lb::RecoverInterruptedRewriteLocked(link, fd.Get()) || ::fstat(fd.Get(), &st) != 0 ||
      !S_ISREG(st.st_mode) || oldSize > st.st_size)
    return false;
  // Written over the old tag in place, nothing else moves: the flush may wait for the
  // end of a batch.
  if (head.size() == oldSize)
    return lb::WriteAllAt(fd.Get(), head.constData(), head.size(), 0) &&
           lb::FlushWritten(fd.Get()) && fd.Close();
  // A link stays a link: the file it leads to (the one open) is rewritten, in its own
  // folder.
  const QString path = QFileInfo(link).canonicalFilePath();
  struct stat named;
  if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &named) != 0 ||
      named.st_dev != st.st_dev || named.st_ino != st.st_ino)
    return false;
  if (st.st_nlink == 1) {
    bool tryInPlace = false;
    if (RewriteThroughTemporary(path, fd.Get(), st, oldSize, head, &tryInPlace)) return true;
    if (!tryInPlace) return false;
  }
  return lb::ReplaceHeadInPlace(path, fd.Get(), oldSize, head) && fd.Close();
}

}  // namespace id3
