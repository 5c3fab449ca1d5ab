// Rewriting a file's own inode (a file with hard links, or one beside which no new file
// can be made) so that no stop of the process, however abrupt, leaves it broken: the
// whole old content is kept first in a backup whose name follows from the file's path,
// and the next access to the file puts the backup back when a rewrite did not finish.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace lb {

// pwrite of every byte (false on any failure).
bool WriteAllAt(int fd, const char* data, int64_t count, int64_t offset);
// Copies count bytes between two open files (or within one, when the ranges do not
// overlap in the direction of the copy), a megabyte at a time.
bool CopyBytes(int from, int64_t fromOffset, int to, int64_t toOffset, int64_t count);

// Replaces the first oldSize bytes of the open regular file fd, found at path (links
// resolved), with head, on the same inode. False when the file could not be changed:
// it then holds its old content, or, should even putting it back fail, its backup
// stays for the next access.
bool ReplaceHeadInPlace(const QString& path, int fd, int64_t oldSize, const QByteArray& head);

// Puts back the file at path when a rewrite of it was cut short: a finished backup of
// this very file (same device and inode) is copied back into it and removed. Costs a
// stat or two when there is none. False when such a backup exists and could not be
// put back: the file must not be written then. A link is followed.
bool RecoverInterruptedRewrite(const QString& path);

// The places a backup of path may be kept: beside it (a hidden file named after it),
// and in the user's data folder for a folder that takes no new file.
QString BackupBeside(const QString& path);
QString BackupInDataFolder(const QString& path);

}  // namespace lb
