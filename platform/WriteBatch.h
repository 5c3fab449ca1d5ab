// Flushing written files to the disk once for a batch of writes rather than once per
// file. A writer that changed a file in place (a tag region written over itself) calls
// FlushWritten: with no batch open the file is flushed at once; while a batch is open
// anywhere in the process, the file's file system is noted instead, and the batch's
// end flushes every noted file system once (syncfs) before the batch reports success.
// A write in place never leaves a file partly old and partly new on a process kill (the
// kernel holds the written pages), so only a power cut before the batch's end can lose
// such writes; a rewrite through a temporary file still flushes before its rename.
//
// A rewrite through a temporary copy that grows a file's tag is placed in groups while
// a batch is open: the writer starts the copy's write-back and hands the finished copy
// over (DeferCopyPlacement), and once 64 copies or 256 MB wait, or at the batch's end, one
// syncfs per file system waits for them all before each is renamed over its file. Until
// then the file holds its old content, whole; a kill leaves the copies as partial files
// that the next writer in the folder removes. A copy takes its file's place only while
// the file is still the one copied (same inode, size, modification and change times,
// checked under the file's lock; a file that another writer holds locked counts as
// changed); otherwise the copy is dropped and the batch names the file among those not
// placed.
#pragma once

#include <QByteArray>
#include <QString>

#include <sys/stat.h>
#include <vector>

namespace lb {

// Makes the writes of the open file fd durable: at once (fsync), or at the end of the
// open batch. False when the flush at once failed.
bool FlushWritten(int fd);

// Whether `now` is the file `then` describes, with the content it had as far as its
// status tells: same device, inode, size and modification time (not the change time,
// which a rename of the file moves).
bool SameContent(const struct stat& now, const struct stat& then);

// ---- Copies placed in groups ----

// While a batch is open: keeps the finished copy at copyPath (a partial file of this
// process, which no sweep removes while the process runs) to be flushed and renamed
// over target, the file that `original` describes, with the next group; true. copyFd
// is a descriptor of the copy opened before the copy was written (its flush reports
// every write-back error of the copy from there on); the batch takes it, and closes it
// in every case. False when no batch is open: the caller then flushes and renames the
// copy itself.
bool DeferCopyPlacement(int copyFd, const QByteArray& copyPath, const QByteArray& target,
                        const struct stat& original);
// The copy waiting to take the place of path's file (same device, inode, size,
// modification and change times as when copied), empty when none: a reader inside the
// batch reads the new content from it.
QString PendingCopyOf(const QString& path);
// Places the waiting group now when path's file has a copy in it, so that a writer
// opens the file with its new content. False when that file's copy could not be placed
// (the batch names it among its files not placed).
bool PlacePendingCopyOf(const QString& path);
// Whether a copy waits to take the place of the file `file` describes (a writer's fstat
// of the file it opened and locked), told without a look at the disk: the writer then
// lets the file go, places the copy (PlacePendingCopyOf) and opens the file again.
bool CopyWaitsFor(const struct stat& file);

// Places the waiting group now, to give back the room its copies hold (a copy that
// found the disk full may fit once they took their files' places). False when no copy
// was waiting.
bool PlaceWaitingCopies();

// A file whose copy did not take its place: the file holds its old content. error is
// ESTALE when another writer changed the file (or held its lock) meanwhile, else the
// system's code of the failed flush or rename.
struct TNotPlaced {
  QString path;
  int error;
};

// A batch: open from construction until Finish (or destruction).
class TWriteBatch {
 public:
  TWriteBatch();
  // Finishes the batch when Finish was not called (its result is then lost).
  ~TWriteBatch();
  TWriteBatch(const TWriteBatch&) = delete;
  TWriteBatch& operator=(const TWriteBatch&) = delete;

  // Places the copies that wait and flushes the file systems written while batches
  // were open; false when a placement or a flush failed (NotPlaced, FlushError). The
  // batch is closed afterwards.
  bool Finish();
  // The files whose copies were dropped, with the system's reasons, and the failed
  // flush of the file systems written (empty when none failed).
  const std::vector<TNotPlaced>& NotPlaced() const { return m_NotPlaced; }
  const QString& FlushError() const { return m_FlushError; }

 private:
  bool m_bOpen = true;
  std::vector<TNotPlaced> m_NotPlaced;
  QString m_FlushError;
};

}  // namespace lb
