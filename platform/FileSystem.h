// File and volume services used on hot paths (plain POSIX calls) and the few shell
// services the program needs from the desktop.
#pragma once

#include <QString>
#include <QByteArray>
#include <compare>
#include <cstdint>
#include <functional>
#include <sys/stat.h>

class QSaveFile;

namespace lb {

// A path written on Windows that names a drive ("D:\Music") or a network share
// ("\\host\share"): it never names a file of this system as it stands, so the file
// queries below answer "missing" for it instead of trying it as a relative path.
bool IsForeignPath(const QString& path);

// Why a file could not be opened as a regular file.
enum class TOpenFailure { None, Missing, NotRegular, TooLarge, Unreadable };

// Opens a file for reading only when it is a regular file (after links) of at most
// maxBytes; opening never waits (a FIFO is refused, not waited on) and a device such
// as /dev/zero is refused. A file whose rewrite in place was cut short (a killed
// writer) is put back first (see FileRewrite.h). Returns the descriptor (blocking,
// close-on-exec) or -1 with the reason.
int OpenRegularFile(const QString& path, qint64 maxBytes, TOpenFailure* why = nullptr);
// The whole of such a file; false with the reason.
bool ReadRegularFile(const QString& path, qint64 maxBytes, QByteArray* bytes,
                     TOpenFailure* why = nullptr);

// Commits a save file only when every buffered byte reached it: QSaveFile renames the
// temporary file into place even when its last flush failed (a full disk), which
// would leave a cut file. On failure the temporary file is dropped and the previous
// file stays whole.
bool CommitSaveFile(QSaveFile& file);

// A 32-bit value derived from the file's modification time (nanoseconds) and size:
// it changes when the file is written. -1 for a missing file or a folder; never -2 or -3.
int32_t FileAge(const QString& path);
// The same value from what an fstat of the open file gave.
int32_t FileAgeOf(int64_t mtimeNs, int64_t size);

// The path's volume is mounted and readable ("answers a volume-information query").
bool VolumeAnswers(const QString& path);
// The path lies on an optical disc (file system iso9660 or udf).
bool IsCdRom(const QString& path);
// The same for an existing path whose device an fstat already gave (no further stat).
bool IsCdRom(const QString& path, uint64_t device);

// Replaces the query of a path's file-system type (a folder stands in for a disc in
// tests); an empty function restores the real query.
void SetFileSystemTypeProbe(std::function<QByteArray(const QString& path)> probe);

// Makes the file writable for its owner (the stand-in for "clear the attributes to
// normal"); false when that fails.
bool ClearReadOnly(const QString& path);

// Moves a file or folder to the desktop's trash; false (with the reason when asked)
// on failure.
bool MoveToTrash(const QString& path, QString* error = nullptr);

bool FileExists(const QString& path);  // an existing file that is not a folder
bool DirectoryExists(const QString& path);
// Whether anything has this name: a file, a folder or a symbolic link, even one that
// leads nowhere (a write under the name would replace what the link names).
bool NameTaken(const QString& path);

// What names a file whatever the path that reaches it (symbolic links, "..", a linked
// folder): its device and inode after links.
struct TFileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  auto operator<=>(const TFileId&) const = default;
};
// The identity of the file the path names; false when nothing is there.
bool FileIdentity(const QString& path, TFileId* id);
// An absolute path with its links and ".." resolved as far as it exists: its longest
// existing part by the file system, the rest lexically. Two spellings of a file or
// folder that is gone (a renamed folder reached as "a/../b" and as "b") compare
// equal. Other paths come back as they are.
QString ResolvedPath(const QString& path);
// The identity of the file a stat or fstat described.
inline TFileId FileIdOf(const struct stat& st) {
  return {uint64_t(st.st_dev), uint64_t(st.st_ino)};
}

// What tells that a file changed under its name, from one stat: its identity, size,
// modification time and status-change time (nanoseconds).
struct TFileStamp {
  TFileId id;
  int64_t size = 0;
  int64_t mtimeNs = 0;
  int64_t ctimeNs = 0;
  bool operator==(const TFileStamp&) const = default;
};
inline TFileStamp FileStampOf(const struct stat& st) {
  return {FileIdOf(st), int64_t(st.st_size),
          int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
          int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}
inline size_t qHash(const TFileId& id, size_t seed = 0) {
  return size_t(id.inode * 0x9E3779B97F4A7C15ull ^ id.device) ^ seed;
}

// The folder of the running executable, with no trailing separator.
QString ExecutableFolder();

}  // namespace lb
