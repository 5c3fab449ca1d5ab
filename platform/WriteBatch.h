// Flushing written files to the disk once for a batch of writes rather than once per
// file. A writer that changed a file in place (a tag region written over itself) calls
// FlushWritten: with no batch open the file is flushed at once; while a batch is open
// anywhere in the process, the file's file system is noted instead, and the batch's
// end flushes every noted file system once (syncfs) before the batch reports success.
// A write in place never leaves a file partly old and partly new on a process kill (the
// kernel holds the written pages), so only a power cut before the batch's end can lose
// such writes; a rewrite through a temporary file still flushes before its rename.
#pragma once

#include <QString>

namespace lb {

// Makes the writes of the open file fd durable: at once (fsync), or at the end of the
// open batch. False when the flush at once failed.
bool FlushWritten(int fd);

// A batch: open from construction until Finish (or destruction).
class TWriteBatch {
 public:
  TWriteBatch();
  // Finishes the batch when Finish was not called (its result is then lost).
  ~TWriteBatch();
  TWriteBatch(const TWriteBatch&) = delete;
  TWriteBatch& operator=(const TWriteBatch&) = delete;

  // Flushes the file systems written while batches were open; false when a flush
  // failed, with the system's reason in Error(). The batch is closed afterwards.
  bool Finish();
  const QString& Error() const { return m_Error; }

 private:
  bool m_bOpen = true;
  QString m_Error;
};

}  // namespace lb
