#include "TagFileWriter.h"

#include "platform/CopyRange.h"
#include "platform/FileRewrite.h"
#include "platform/FileSystem.h"
#include "platform/PartialFiles.h"
#include "platform/WriteBatch.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <malloc.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace id3 {

namespace {

using lb::TFileDescriptor;

// A tag rewrite handles buffers of a megabyte or so per file (the tag the tag library
// renders with its picture, in several steps). By default the allocator hands each
// such buffer back to the system when it is freed and takes fresh, zeroed pages for
// the next file: a page fault per 4 KB, which cost ten times the rest of a cover's
// write. Kept in the process instead (up to 64 MB free at the heap's top; blocks up
// to 32 MB from the heap), once, at the first rewrite.
void KeepWriterMemory() {
  static const bool kept = [] {
    return ::mallopt(M_MMAP_THRESHOLD, 32 << 20) == 1 && ::mallopt(M_TRIM_THRESHOLD, 64 << 20) == 1;
  }();
  (void)kept;
}

// Writes head and the audio into a temporary file beside the original, gives it the
// original's owner, group and mode, and renames it over the original (while a batch is
// open, the batch does that with its next group of copies; when the disk is full while
// copies wait, they take their places first and the copy is written once more). False
// (with nothing changed) when any step fails; *tryInPlace tells whether writing the
// file in place may still succeed (the folder refused the file, or the owner cannot be
// kept).
bool RewriteThroughTemporary(const QString& path, int fd, const struct stat& st, int64_t oldSize,
                             const QByteArray& head, bool* tryInPlace) {
  *tryInPlace = true;
  const QFileInfo info(path);
  for (bool retried = false;; retried = true) {
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
      const QByteArray target = QFile::encodeName(path);
      ok = lb::WriteAllAt(tmp.Get(), head.constData(), head.size(), 0) &&
           lb::CopyRange(fd, oldSize, tmp.Get(), head.size(), st.st_size - oldSize) >= 0;
      // The disk starts on the copy now, while the next files are worked on: the flush
      // before the rename then mostly finds the work done. No wait here; the flush
      // reports what failed.
      if (ok) ::sync_file_range(tmp.Get(), 0, 0, SYNC_FILE_RANGE_WRITE);
      // A second descriptor from the copy's creation on, for the batch's flush.
      const int flushFd = ok ? ::fcntl(tmp.Get(), F_DUPFD_CLOEXEC, 0) : -1;
      ok = ok && flushFd >= 0 && tmp.Close();
      const int error = ok ? 0 : errno;
      // While a batch is open the copy is flushed and placed with a group of others;
      // else now.
      if (ok && lb::DeferCopyPlacement(flushFd, tmpPath, target, st)) return true;
      if (flushFd >= 0 && !ok) ::close(flushFd);
      if (!ok && !retried && (error == ENOSPC || error == EDQUOT)) {
        tmp.Close();
        ::unlink(tmpPath.constData());
        if (lb::PlaceWaitingCopies()) continue;
        return false;
      }
      TFileDescriptor written(ok ? ::open(tmpPath.constData(), O_RDONLY | O_CLOEXEC) : -1);
      ok = written.Get() >= 0 && ::fsync(written.Get()) == 0 &&
           ::rename(tmpPath.constData(), target.constData()) == 0;
    }
    if (!ok) ::unlink(tmpPath.constData());
    return ok;
  }
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

HRESULT EditThroughCopy(const QString& link, const TContentEdit& edit) {
  const QString path = QFileInfo(link).canonicalFilePath();
  if (path.isEmpty()) return E_FAIL;
  const QByteArray name = QFile::encodeName(path);
  // The file's lock is held from before the copy is made until the copy took the
  // file's place or was written back: another writer (of any format) waits, then
  // works on what this one left. A writer that waited while another's copy took the
  // file's place opens the new file, and so does one whose file has a copy waiting in
  // the open batch: that copy takes the file's place first.
  TFileDescriptor fd;
  struct stat st;
  for (int attempt = 0;; ++attempt) {
    fd.Reset(::open(name.constData(), O_RDWR | O_CLOEXEC));
    struct stat named;
    if (fd.Get() < 0 || ::flock(fd.Get(), LOCK_EX) != 0 || ::fstat(fd.Get(), &st) != 0 ||
        ::stat(name.constData(), &named) != 0 || attempt == 100)
      return E_FAIL;
    if (lb::FileIdOf(named) != lb::FileIdOf(st)) continue;
    if (!lb::CopyWaitsFor(st)) break;
    fd.Reset();
    if (!lb::PlacePendingCopyOf(path)) return E_FAIL;
  }
  if (!lb::RecoverInterruptedRewriteLocked(path, fd.Get()) || ::fstat(fd.Get(), &st) != 0 ||
      !S_ISREG(st.st_mode))
    return E_FAIL;
  // One pass: the new content is made from the file as it is and written once.
  TagLib::ByteVector content;
  const HRESULT hr = edit(fd.Get(), st.st_size, &content);
  if (FAILED(hr)) return hr;
  // A hidden partial file beside the file, so that a copy a killed writer left is
  // cleaned up as a stale partial and no scan takes it for a song. It takes the file's
  // place when the file has a single link and the copy can take its owner, group and
  // mode; otherwise the content is written into the file's own inode.
  if (st.st_nlink == 1) {
    const QFileInfo info(path);
    TCopyGuard guard;
    TFileDescriptor copy(
        lb::CreatePartialFile(info.absolutePath(), info.fileName(), "lbtools", &guard.path));
    struct stat made;
    if (copy.Get() < 0) guard.path.clear();
    if (copy.Get() >= 0 && ::fstat(copy.Get(), &made) == 0 &&
        ((made.st_uid == st.st_uid && made.st_gid == st.st_gid) ||
         ::fchown(copy.Get(), st.st_uid, st.st_gid) == 0) &&
        ::fchmod(copy.Get(), st.st_mode & 07777) == 0) {
      if (!lb::WriteAllAt(copy.Get(), content.data(), content.size(), 0) ||
          ::fsync(copy.Get()) != 0 || !copy.Close() ||
          ::rename(guard.path.constData(), name.constData()) != 0)
        return E_FAIL;
      guard.kept = true;
      return S_OK;
    }
  }
  const QByteArray bytes =
      QByteArray::fromRawData(content.data(), static_cast<qsizetype>(content.size()));
  return lb::ReplaceHeadInPlace(path, fd.Get(), st.st_size, bytes) && fd.Close() ? S_OK : E_FAIL;
}

bool ReplaceFileHead(const QString& link, int64_t oldSize, const QByteArray& head,
                     const struct stat* read, bool* changed) {
  KeepWriterMemory();
  TFileDescriptor fd;
  struct stat st;
  for (bool placed = false;; placed = true) {
    fd.Reset(::open(QFile::encodeName(link).constData(), O_RDWR | O_CLOEXEC));
    // Held for the whole write: another process's recovery leaves this write's backup
    // alone, and another writer waits.
    if (fd.Get() < 0 || ::flock(fd.Get(), LOCK_EX) != 0 ||
        !lb::RecoverInterruptedRewriteLocked(link, fd.Get()) || ::fstat(fd.Get(), &st) != 0 ||
        !S_ISREG(st.st_mode))
      return false;
    // A copy of the file waiting in the open batch takes its place first (the caller
    // read its tag from that copy); the file is then opened again.
    if (placed || !lb::CopyWaitsFor(st)) break;
    fd.Reset();
    if (!lb::PlacePendingCopyOf(link)) return false;
  }
  // The tag was read without the lock: another writer may have changed the file since.
  if (read && !lb::SameContent(st, *read)) {
    if (changed) *changed = true;
    return false;
  }
  if (oldSize > st.st_size) return false;
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
      lb::FileIdOf(named) != lb::FileIdOf(st))
    return false;
  if (st.st_nlink == 1) {
    bool tryInPlace = false;
    if (RewriteThroughTemporary(path, fd.Get(), st, oldSize, head, &tryInPlace)) return true;
    if (!tryInPlace) return false;
  }
  return lb::ReplaceHeadInPlace(path, fd.Get(), oldSize, head) && fd.Close();
}

}  // namespace id3
