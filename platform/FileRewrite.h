// Rewriting a file's own inode (a file with hard links, or one beside which no new file
// can be made) so that no stop of the process, however abrupt, leaves it broken: the
// whole old content is kept first in a backup named after the file's identity, in one
// folder that every name of the file finds, and the next access to the file puts the backup back
// when a rewrite did not finish.
#pragma once

#include "FileDescriptor.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace lb {

// Replaces the first oldSize bytes of the open regular file fd, found at path (links
// resolved), with head, on the same inode. The caller holds flock(LOCK_EX) on fd for
// the whole rewrite. False when the file could not be changed, or when someone put the
// backup back or replaced the file meanwhile: it then holds its old content, or, should
// even putting it back fail, its backup stays for the next access.
bool ReplaceHeadInPlace(const QString& path, int fd, int64_t oldSize, const QByteArray& head);

// Puts back the file at path when a rewrite of it was cut short: a finished backup of
// this very file (same inode and birth time, whichever name it is reached by) is copied
// back into it and removed, and a backup cut short while it was written is removed.
// A backup whose writer still holds the file's lock is left alone. Costs a stat while
// no backup exists at all. False when a backup exists and was not put back (the file
// changed after the rewrite was cut short, or it cannot be written): the file must not
// be written then, and RewriteRefusal() tells why.
bool RecoverInterruptedRewrite(const QString& path);
// The same for a writer that already holds flock(LOCK_EX) on the file's descriptor fd.
bool RecoverInterruptedRewriteLocked(const QString& path, int fd);
// Why the last recovery on this thread refused the file (empty when it did not).
QString RewriteRefusal();

// Where the backup of the file at path is kept while it is rewritten in place: in the
// user's data folder, named after the file's identity.
QString RewriteBackupOf(const QString& path);

// While one lives on a thread, RecoverInterruptedRewrite there looks for the backup
// folder once rather than once a file (a batch of reads over many songs). A rewrite in
// place begun by this process meanwhile makes the next call look again.
class TRecoveryBatch {
 public:
  TRecoveryBatch();
  ~TRecoveryBatch();
  TRecoveryBatch(const TRecoveryBatch&) = delete;
  TRecoveryBatch& operator=(const TRecoveryBatch&) = delete;
};

}  // namespace lb
