// Checking a list for songs whose files are missing, and searching folders for music
// files that no list of the repository names (the forgotten files).
#pragma once

#include "lbtools3/model/M3uList.h"
#include "lbtools3/model/SlInsertFilesManager.h"
#include "platform/FileSystem.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class IRepositoryLists;
class TIniFile;

namespace lb {

// The rows whose file does not exist, ascending. turn, when given, is called after each
// slice of sliceMs of looking (at least one song; the document's lock let go) with the
// songs looked at so far and their count; returning false ends the look early with the
// rows found so far.
inline constexpr int kCheckSliceMs = 10;
inline constexpr const char* kCheckAction = "Проверка листа";
inline constexpr const char* kCheckStopped = "Прервано пользователем";
std::vector<int> MissingFileRows(const TSlDocument& document,
                                 const std::function<bool(int done, int count)>& turn = {},
                                 int sliceMs = kCheckSliceMs);
// The look of the check command: MissingFileRows with the pending messages processed
// between its slices, under a progress window (which keeps the list as it is) opened
// once the look outlasts its first slice. *stopped: the user pressed Stop.
std::vector<int> CheckMissingFiles(const TSlDocument& document, bool* stopped);

// "Проверка завершена." with the count of missing files when there are any.
QString CheckListMessage(int missing);

// The folders of the forgotten-files search, kept in the settings section
// "FindFilesDirs" in list order as "1=folder", "2=folder"... (any folder name survives);
// the older form, the folder as a key with an empty value, is read too.
inline constexpr const char* kFindFilesDirsSection = "FindFilesDirs";
QStringList ReadSearchFolders(const TIniFile& ini, const char* section = kFindFilesDirsSection);
void WriteSearchFolders(TIniFile& ini, const QStringList& folders,
                        const char* section = kFindFilesDirsSection);
// Whether folder may join the list: an existing folder not in it yet. Paths compare
// as the file system does: exactly.
bool CanAddSearchFolder(const QStringList& folders, const QString& folder);

// The search: the songs of the repository's lists are the known files; music files
// below the folders that no list names become songs of the result document. A file is
// known when a list names that very file, through whatever path (a linked folder, a
// symbolic link to the song, ".."): files compare by device and inode. On this system
// names that differ in letter case are different files.
class TForgottenFiles : public IForgottenFilesSink {
 public:
  // The known paths of every list (bMarkedOnly: of the marked lists); a list that
  // cannot be loaded is reported and skipped.
  void CollectKnown(IRepositoryLists& lists, bool bMarkedOnly);
  void AddKnown(const TSlDocument& document);
  enum TScanResult { srDone, srStopped, srBadExtensions };
  // Scans the folders in order.
  TScanResult Scan(const QStringList& folders);
  // Entries the last scan could not look at (the scan told the user which).
  int m_nSkipped = 0;
  // The whole search with its progress window and messages; false when stopped.
  bool Run(IRepositoryLists& lists, bool bMarkedOnly, const QStringList& folders);

  bool IsKnownPath(const QString& fullPath) override;
  void AddSong(const TSlSong& song) override;

  TSlDocument m_Result;

 private:
  QSet<QString> m_Known;       // the songs' full paths, cleaned
  QSet<TFileId> m_KnownFiles;  // the files they name
};

}  // namespace lb
