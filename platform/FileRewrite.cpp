#include "FileRewrite.h"

#include "CopyRange.h"
#include "FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace lb {

namespace {

constexpr int64_t kChunk = 1 << 20;

// The end of a finished backup: what it is a copy of, and when the writer last touched
// the file. A backup without it (cut short while it was written) is never put back.
struct TTrailer {
  char magic[16];
  uint64_t inode;
  int64_t bornSec, bornNsec;  // the file's birth time; 0 where the file system keeps none
  uint64_t size;              // the bytes of content before the path and the trailer
  uint64_t pathSize;          // the path the file was written through, a hint
  int64_t markSec, markNsec;  // no change of the file before this is someone else's
};
constexpr char kMagic[16] = {'L', 'B', 'T', 'O', 'O', 'L', 'S', '-',
                             'R', 'E', 'W', 'R', 'I', 'T', 'E', '2'};
// A write of the file that the writer had begun when it was stopped changes the file a
// little after the writer's last mark.
constexpr int64_t kMarkSlackSeconds = 1;

// Where backups go: one folder that every name of a file finds, on any disk.
QString DataBackupFolder() {
  QString data = qEnvironmentVariable("XDG_DATA_HOME");
  if (data.isEmpty()) data = QDir::homePath() + "/.local/share";
  return data + "/lbtools/rewrite-backups";
}

// What identifies a file across its names and across remounts that change the
// device number: its inode and birth time.
struct TIdentity {
  uint64_t inode = 0;
  int64_t bornSec = 0, bornNsec = 0;
  int64_t changedSec = 0, changedNsec = 0;
};

bool Identify(int dirFd, const char* path, int flags, TIdentity* id) {
  struct statx sx {};
  if (::statx(dirFd, path, flags, STATX_INO | STATX_BTIME | STATX_CTIME | STATX_TYPE, &sx) != 0 ||
      !S_ISREG(sx.stx_mode))
    return false;
  id->inode = sx.stx_ino;
  if (sx.stx_mask & STATX_BTIME) {
    id->bornSec = sx.stx_btime.tv_sec;
    id->bornNsec = sx.stx_btime.tv_nsec;
  }
  id->changedSec = sx.stx_ctime.tv_sec;
  id->changedNsec = sx.stx_ctime.tv_nsec;
  return true;
}

QString BackupName(const TIdentity& id) {
  return DataBackupFolder() +
         QStringLiteral("/%1-%2.%3.lbtools-backup").arg(id.inode).arg(id.bornSec).arg(id.bornNsec);
}

QString PartOf(const QString& backup) {
  return backup + ".part";
}

// Removes a backup; the backup folder goes with its last backup, so that looking for
// backups there costs one stat while there are none.
bool RemoveBackup(const QString& backup) {
  const bool removed = ::unlink(QFile::encodeName(backup).constData()) == 0;
  ::rmdir(QFile::encodeName(DataBackupFolder()).constData());
  return removed;
}

// Makes a rename or removal in the folder durable.
void SyncFolder(const QString& folder) {
  TFileDescriptor dir(
      ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() >= 0) ::fsync(dir.Get());
}

// A finished backup, open, with its trailer.
struct TBackup {
  QString path;
  int fd = -1;
  TTrailer trailer{};
  int64_t trailerAt = 0;
  QByteArray pathHint;
};

// Records in the backup that the writer is about to change the file now, or has just
// changed it (its change time then): recovery puts back only a file nobody changed
// after that.
void Mark(const TBackup& b, int64_t sec, int64_t nsec) {
  TTrailer t = b.trailer;
  t.markSec = sec;
  t.markNsec = nsec;
  WriteAllAt(b.fd, reinterpret_cast<const char*>(&t), sizeof t, b.trailerAt);
}
void MarkNow(const TBackup& b) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  Mark(b, now.tv_sec, now.tv_nsec);
}

// Copies the file's content into BACKUP.part, ends it with the trailer, flushes it and
// gives it the final name. The finished backup's descriptor, or -1 (nothing left).
int WriteBackup(const QString& final, const QString& path, int fd, const TIdentity& id,
                int64_t size, TTrailer* trailer) {
  const QByteArray part = QFile::encodeName(PartOf(final));
  TFileDescriptor out(
      ::open(part.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (out.Get() < 0) return -1;
  const QByteArray hint = QFile::encodeName(path);
  *trailer = TTrailer{};
  std::memcpy(trailer->magic, kMagic, sizeof kMagic);
  trailer->inode = id.inode;
  trailer->bornSec = id.bornSec;
  trailer->bornNsec = id.bornNsec;
  trailer->size = static_cast<uint64_t>(size);
  trailer->pathSize = static_cast<uint64_t>(hint.size());
  trailer->markSec = id.changedSec;
  trailer->markNsec = id.changedNsec;
  const bool ok = CopyRange(fd, 0, out.Get(), 0, size) == size &&
                  WriteAllAt(out.Get(), hint.constData(), hint.size(), size) &&
                  WriteAllAt(out.Get(), reinterpret_cast<const char*>(trailer), sizeof *trailer,
                             size + hint.size()) &&
                  ::fsync(out.Get()) == 0 &&
                  ::rename(part.constData(), QFile::encodeName(final).constData()) == 0;
  if (!ok) {
    ::unlink(part.constData());
    return -1;
  }
  SyncFolder(DataBackupFolder());
  return ::dup(out.Get());
}

// Opens a finished backup and reads its trailer.
bool OpenBackup(const QString& path, TBackup* b) {
  TFileDescriptor in(::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
  struct stat bst;
  if (in.Get() < 0 || ::fstat(in.Get(), &bst) != 0 || !S_ISREG(bst.st_mode) ||
      bst.st_size < static_cast<off_t>(sizeof b->trailer))
    return false;
  b->trailerAt = bst.st_size - static_cast<off_t>(sizeof b->trailer);
  if (!ReadAllAt(in.Get(), reinterpret_cast<char*>(&b->trailer), sizeof b->trailer, b->trailerAt) ||
      std::memcmp(b->trailer.magic, kMagic, sizeof kMagic) != 0 ||
      b->trailer.size + b->trailer.pathSize != static_cast<uint64_t>(b->trailerAt))
    return false;
  b->pathHint.resize(static_cast<qsizetype>(b->trailer.pathSize));
  if (!ReadAllAt(in.Get(), b->pathHint.data(), b->pathHint.size(),
                 static_cast<int64_t>(b->trailer.size)))
    return false;
  b->path = path;
  b->fd = ::dup(in.Get());
  return b->fd >= 0;
}

// Puts the backup's content back into the file (same inode) and removes the backup.
bool PutBack(const TBackup& b, int fd) {
  const int64_t size = static_cast<int64_t>(b.trailer.size);
  for (int64_t at = 0; at < size; at += kChunk) {
    MarkNow(b);
    const int64_t n = std::min(kChunk, size - at);
    if (CopyRange(b.fd, at, fd, at, n) != n) return false;
  }
  MarkNow(b);
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0 || ::fsync(fd) != 0) return false;
  return RemoveBackup(b.path);
}

thread_local QString t_Refusal;

// The batch scope of RecoverInterruptedRewrite: how many TRecoveryBatch live on this
// thread, and the rewrite count at which the backup folder was last found missing.
thread_local int t_BatchDepth = 0;
thread_local int64_t t_NoBackupsAt = -1;
std::atomic<int64_t> g_InPlaceRewrites{0};

}  // namespace

QString RewriteBackupOf(const QString& path) {
  TIdentity id;
  return Identify(AT_FDCWD, QFile::encodeName(path).constData(), 0, &id) ? BackupName(id)
                                                                         : QString();
}

QString RewriteRefusal() {
  return t_Refusal;
}

bool RecoverInterruptedRewriteLocked(const QString& path, int fd) {
  t_Refusal.clear();
  // One stat while there is no backup at all.
  struct stat dst;
  if (::stat(QFile::encodeName(DataBackupFolder()).constData(), &dst) != 0) return true;
  TIdentity id;
  if (!Identify(fd, "", AT_EMPTY_PATH, &id)) return true;
  const QString backup = BackupName(id);
  // A backup cut short while it was written: its writer held the file's lock.
  ::unlink(QFile::encodeName(PartOf(backup)).constData());
  TBackup b;
  if (!OpenBackup(backup, &b)) {
    ::rmdir(QFile::encodeName(DataBackupFolder()).constData());
    return true;
  }
  TFileDescriptor holder(b.fd);
  // Without a birth time the inode alone may be another disk's file: the path the
  // backup was written through must still name this file.
  if (b.trailer.bornSec == 0 && b.trailer.bornNsec == 0) {
    TIdentity hinted;
    if (!Identify(AT_FDCWD, b.pathHint.constData(), 0, &hinted) || hinted.inode != id.inode)
      return true;
  }
  // Changed by someone else after the writer's last mark: the backup is older than
  // the file, and putting it back would undo that change.
  const bool untouched = id.changedSec < b.trailer.markSec + kMarkSlackSeconds ||
                         (id.changedSec == b.trailer.markSec + kMarkSlackSeconds &&
                          id.changedNsec <= b.trailer.markNsec);
  if (untouched && PutBack(b, fd)) return true;
  t_Refusal = QStringLiteral(
                  "Запись тэга в файл «%1» была прервана, а после этого файл изменён. "
                  "Прежнее содержимое файла сохранено в «%2»; пока эта копия не убрана, "
                  "файл не изменяется.")
                  .arg(path, backup);
  return false;
}

bool RecoverInterruptedRewrite(const QString& path) {
  // Called before every access to a song and every read of a list, data file or
  // settings file: one stat while there is no backup at all.
  t_Refusal.clear();
  const int64_t rewrites = g_InPlaceRewrites.load();
  if (t_BatchDepth > 0 && t_NoBackupsAt == rewrites) return true;
  struct stat dst;
  if (::stat(QFile::encodeName(DataBackupFolder()).constData(), &dst) != 0) {
    if (t_BatchDepth > 0) t_NoBackupsAt = rewrites;
    return true;
  }
  TIdentity id;
  if (!Identify(AT_FDCWD, QFile::encodeName(path).constData(), 0, &id)) return true;
  const QString backup = BackupName(id);
  if (::access(QFile::encodeName(backup).constData(), F_OK) != 0 &&
      ::access(QFile::encodeName(PartOf(backup)).constData(), F_OK) != 0)
    return true;
  TFileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
  if (fd.Get() < 0) return false;
  // A writer holds the lock for its whole rewrite: its backup is no leftover.
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return true;
  return RecoverInterruptedRewriteLocked(path, fd.Get());
}

bool ReplaceHeadInPlace(const QString& path, int fd, int64_t oldSize, const QByteArray& head) {
  ++g_InPlaceRewrites;
  TIdentity id;
  struct stat st;
  if (::fstat(fd, &st) != 0 || oldSize > st.st_size || !Identify(fd, "", AT_EMPTY_PATH, &id) ||
      !QDir().mkpath(DataBackupFolder()))
    return false;
  TBackup b;
  b.path = BackupName(id);
  b.fd = WriteBackup(b.path, path, fd, id, st.st_size, &b.trailer);
  if (b.fd < 0) return false;
  TFileDescriptor holder(b.fd);
  b.trailerAt = st.st_size + static_cast<int64_t>(b.trailer.pathSize);
  struct stat backupSt;
  ::fstat(b.fd, &backupSt);
  const int64_t rest = st.st_size - oldSize;
  MarkNow(b);
  bool ok = WriteAllAt(fd, head.constData(), head.size(), 0);
  // The audio moves a chunk at a time, from the backup; each chunk marked first.
  for (int64_t done = 0; ok && done < rest; done += kChunk) {
    MarkNow(b);
    const int64_t n = std::min(kChunk, rest - done);
    ok = CopyRange(b.fd, oldSize + done, fd, head.size() + done, n) == n;
  }
  MarkNow(b);
  ok = ok && ::ftruncate(fd, head.size() + rest) == 0 && ::fsync(fd) == 0;
  // The rewrite counts only while the backup and the file are still the ones it began
  // with: anyone who put the backup back or replaced the file undid it.
  struct stat nowBackup, nowFile;
  const bool ours = ::stat(QFile::encodeName(b.path).constData(), &nowBackup) == 0 &&
                    FileIdOf(nowBackup) == FileIdOf(backupSt) &&
                    ::stat(QFile::encodeName(path).constData(), &nowFile) == 0 &&
                    FileIdOf(nowFile) == FileIdOf(st);
  if (!ours) return false;
  if (ok) return RemoveBackup(b.path);
  // Put the old content back; should even that fail, the backup stays for the next
  // access to the file.
  PutBack(b, fd);
  return false;
}

TRecoveryBatch::TRecoveryBatch() {
  ++t_BatchDepth;
}

TRecoveryBatch::~TRecoveryBatch() {
  if (--t_BatchDepth == 0) t_NoBackupsAt = -1;
}

}  // namespace lb
