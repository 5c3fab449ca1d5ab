// The one routine that moves or copies a music file, and the one that creates a
// folder, both with the user's decisions when they fail (the file-error and the
// directory-error dialogs). Renaming and copying/moving share them. The routines may
// run on a worker: every question goes to the main thread through the UiServices seam.
#pragma once

#include "platform/CopyRange.h"
#include "platform/FileSystem.h"
#include "platform/SystemError.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <sys/stat.h>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace lb {

// What the file-error dialog shows.
struct TFileErrorInfo {
  QString source;
  QString target;
  QString error;              // the system's text for the error ("" when none)
  bool targetExists = false;  // the overwrite and skip-existing choices are offered
};

// Choices of the file-error dialog (its radio buttons); fcCancel is the Cancel button.
enum TFileErrorChoice : int {
  fcCancel = 0,
  fcRetry = 1,
  fcNewName = 2,
  fcOverwrite = 3,
  fcSkip = 4,
  fcSkipAllErrors = 5,
  fcOverwriteAll = 6,
  fcSkipAllExisting = 7,
};

// The file-error dialog as the routine sees it; called on the main thread.
class IFileErrorPrompt {
 public:
  virtual ~IFileErrorPrompt() = default;
  // newName comes preset with the target's file name; the choice is returned.
  virtual int Ask(const TFileErrorInfo& info, QString& newName) = 0;
};

// Choices of the directory-error dialog.
enum TDirErrorChoice : int { dcCancel = 0, dcRetry = 1, dcNewName = 2 };

class IDirErrorPrompt {
 public:
  virtual ~IDirErrorPrompt() = default;
  // newName comes preset with the last component of the path.
  virtual int Ask(const QString& path, const QString& error, QString& newName) = 0;
};

// Results of the file operation.
enum TFileOpResult : int { frDone = 0, frCancelled = 1, frSkipped = 2 };

// Writes a block of a copy (::pwrite by default, see TWriteAtFunction).
using TWriteFunction = TWriteAtFunction;
// Flushes the file system of a descriptor (::syncfs by default): 0, or -1 with errno.
using TFlushFunction = std::function<int(int fd)>;

// Copies source to target without ever overwriting it and without ever leaving a
// partial file at target: the data goes to a hidden file beside the target, is flushed
// and its size checked, the modification time is carried over, and only then is it
// put into place. bRemoveSource removes the source afterwards (a move between file
// systems); when that fails the copy is removed again. false with errno set on failure,
// the source untouched. Without bFlush the data is not waited for, only sent on its way
// to the disk (a copy of a batch that flushes its copies at its end; never for a move,
// whose source goes). *made, when given, gets the copy's device, inode and mode.
bool CopyFileSafely(const QString& source, const QString& target, bool bRemoveSource,
                    const TWriteFunction& write = {}, bool bFlush = true,
                    struct stat* made = nullptr);

// Renames without replacing an existing target; between file systems the file is
// copied safely and the source removed. false with errno set. *renamed, when given,
// tells whether the file was renamed (it is the same file) rather than copied.
bool MoveFileNoReplace(const QString& source, const QString& target,
                       const TWriteFunction& write = {}, bool* renamed = nullptr);

// The first "NAME (2).EXT", "NAME (3).EXT", ... beside path that names nothing.
QString FreeNumberedName(const QString& path);

// One run's file operations with their "to all" decisions (the state of the
// file-error dialog for one run).
class TFileOperation {
 public:
  explicit TFileOperation(IFileErrorPrompt* prompt) : m_pPrompt(prompt) {}

  // Moves (renames) or copies source to target; target may be changed by the user's
  // new name. An existing target the user chose to keep is a skip: the song stays
  // with its own file.
  //
  // Overwriting never replaces a file this run produced, nor one a list names
  // (m_IsListed): such a target is a name conflict and the file takes the first free
  // numbered name beside it. A target that is overwritten goes to the trash.
  //
  // known, when given, is the source's status as the caller has just looked at it: a
  // rename within the file system then takes the file's identity from it. A renamed
  // or moved file keeps its mode; a copy is made writable, as a file copied from a disc
  // is read-only.
  int MoveOrCopy(bool bMove, const QString& source, QString& target,
                 const struct stat* known = nullptr);
  // Waits until the copies made so far are on the disk: a batch of copies flushes once
  // at its end rather than once a file. The copies of a file system that cannot be
  // flushed are removed (their sources stay), reported, counted as failed and given in
  // *failed; false then. A caller that pointed songs at copies points those back.
  bool FlushCopies(QStringList* failed = nullptr);

  bool m_bOverwriteAll = false;
  bool m_bSkipAllErrors = false;
  bool m_bSkipAllExisting = false;
  // Moves go the copy way even on one file system (tests of the cross-volume path).
  bool m_bMoveByCopy = false;
  TWriteFunction m_Write;
  TFlushFunction m_Flush;
  // Whether a list names the file (asked on the main thread, only before an overwrite).
  std::function<bool(const QString& path)> m_IsListed;

  // Files that were skipped for another reason than an existing target (they failed).
  int m_nFailed = 0;
  // Targets that took a numbered name instead of overwriting a file that must stay.
  QStringList m_Renumbered;

 private:
  bool Attempt(bool bMove, const QString& source, const QString& target, const struct stat* known);
  // The file is at target (its status known, when given): remembered as this run's and,
  // when this run wrote it (bMadeHere: a copy), made writable. Returns its device (0 when
  // it cannot be looked at).
  dev_t Produced(const QString& target, bool bMadeHere, const struct stat* known = nullptr);
  bool DeleteTarget(const QString& target);
  // The target must not be overwritten (see MoveOrCopy).
  bool MustKeep(const QString& target);

  IFileErrorPrompt* m_pPrompt;
  QSet<TFileId> m_Produced;
  QStringList m_Unlooked;  // files renamed into place, their identity not taken yet
  std::vector<std::pair<dev_t, QString>> m_Unflushed;  // copies not yet flushed
  QSet<QString> m_Replaced;                            // targets whose old file went to the trash
};

// Creates the folder (one level); on failure asks the directory-error dialog. path may
// be changed by the user's new name. false when the user cancelled.
bool CreateDirectoryAsking(IDirErrorPrompt* prompt, QString& path);

}  // namespace lb
