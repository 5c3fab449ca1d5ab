// Hidden partial files that writers keep beside the file they write until it is whole
// (a copy in progress, a tag rewrite), and the leftovers of writers that were killed.
// A partial file carries its writer's process id and is locked (flock) while it is
// written, so that a later writer in the same folder removes only what nobody writes.
#pragma once

#include <QByteArray>
#include <QString>

namespace lb {

// Creates the partial file "." + name + "." + kind + "-" + PID + "-XXXXXX" in folder,
// locked for as long as the descriptor stays open; the stale partial files of the
// folder are removed first. Returns the descriptor (-1 with errno on failure) and the
// file's path.
int CreatePartialFile(const QString& folder, const QString& name, const char* kind,
                      QByteArray* path);

// Removes the stale partial files of the folder (once per folder and process): those
// of the kinds "lbpart" (a copy) and "lbtools" (a rewrite through a temporary file)
// whose writer no longer runs and that nobody locks, and hidden "lbpart" copies of
// older versions without a process id that nobody locks and nobody touched for an
// hour. Nothing else is touched: other kinds (a backup that may be a song's only whole
// copy), visible names that merely look like a leftover ("Rock.m3u.backup" may be the
// user's own), and a file another running process may be writing.
void RemoveStalePartialFiles(const QString& folder);

// Writes a file whole or not at all: the bytes go to a partial file of the kind
// "lbtools" beside the file (links resolved first), are flushed to the disk and renamed
// into place with the old file's permissions (a new file gets the usual ones). Until
// Commit, and after a failure or Cancel, the old file stays as it was; a writer that is
// killed leaves a partial file that the next writer in that folder removes. A file that
// exists but may not be written is refused, as it would be by an edit in place.
// A file with more than one name (a hard link) keeps its inode, so that every name
// shows the new content: the bytes are kept until Commit and written into the file
// itself through a rewrite in place (see FileRewrite.h), which puts the old content
// back on failure and leaves a backup that the next reader of the file
// (OpenRegularFile) puts back should the writer be killed.
class TWholeFileWriter {
 public:
  explicit TWholeFileWriter(const QString& path) : m_Path(path) {}
  ~TWholeFileWriter() { Cancel(); }
  TWholeFileWriter(const TWholeFileWriter&) = delete;
  TWholeFileWriter& operator=(const TWholeFileWriter&) = delete;

  bool Open();
  // Every byte or false (and Commit fails).
  bool Write(const QByteArray& bytes);
  bool Commit();
  void Cancel();
  // The system error number of the first failure since Open (0 when none was seen or
  // the system gave none), so that a message can say why the file was not written.
  int Error() const { return m_Error; }

 private:
  bool CommitInPlace();
  // Keeps errno as the first failure's cause; always false.
  bool Failed();

  QString m_Path;
  QByteArray m_Target;  // the file the path leads to
  QByteArray m_Temp;
  int m_Fd = -1;
  bool m_bFailed = false;
  int m_Error = 0;
  bool m_bInPlace = false;  // the file has other names: written into its own inode
  QByteArray m_Bytes;       // what a rewrite in place writes
};
// Whether the name is that of a hidden partial file (whoever writes it): a folder scan
// never takes one for a song.
bool IsPartialFileName(const QString& name);

}  // namespace lb
