// Renaming the selected songs' files after a mask of their tag fields: the settings
// the rename dialog keeps, and the run that renames, keeps each song pointing at its
// file and collects the pairs of old and new paths for the other lists.
#pragma once

#include "FileNames.h"
#include "RenameUndo.h"

#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class TIniFile;
class TSlDocument;

namespace lb {

class TFileOperation;
class TPathCheckpoint;

struct TRenameSettings {
  QString mask = kDefaultRenameMask;
  int digits = 1;
  bool bCorrect = true;

  static TRenameSettings Load(TIniFile& ini);
  void Store(TIniFile& ini) const;
};

// What a rename would do to one selected song, shown before it runs.
struct TRenamePreview {
  int row = -1;
  QString oldName;         // the file's name now
  QString newName;         // "" when the mask cannot build one (the file keeps its name)
  bool bConflict = false;  // another selected song gets the name, or another file has it
};

// The new names of the rows' files by the mask, from the tags as they are, with the
// names that would meet another file marked.
QList<TRenamePreview> PreviewRenames(const TSlDocument& document, const std::vector<int>& rows,
                                     const QList<TMaskPiece>& pieces, int digits, bool bCorrect);

// Points the song at its file's new full path, keeping the form its path had (full, or
// relative to the list's folder); the document counts as modified.
void MoveSongPath(TSlSong& song, const QString& path);

class TSlRenameFiles {
 public:
  static constexpr const char* kAction = "Переименование файлов по тегам";
  static constexpr const char* kStopped = "Прервано пользователем";
  // How often the progress window is updated and the Stop button looked at.
  static constexpr int kShowIntervalMs = 20;

  TSlRenameFiles(const QList<TMaskPiece>& pieces, int digits, bool bCorrect)
      : m_Pieces(pieces), m_nDigits(digits), m_bCorrect(bCorrect) {}

  // Renames the files of the rows (ascending) under a progress window; true when
  // every row was handled (not cancelled, not stopped). Each renamed file goes to the
  // checkpoint, when given, as it happens.
  bool Run(TSlDocument& document, const std::vector<int>& rows, TFileOperation& operation,
           TPathCheckpoint* checkpoint = nullptr);

  // Row n got its new path (the view repaints it and makes it visible).
  std::function<void(int n)> m_RowRenamed;

  QStringList m_Pairs;  // old full path, new full path, ...
  // The renames the run made, to be undone.
  std::unique_ptr<TRenameUndo> m_Undo = std::make_unique<TRenameUndo>();
  int m_nProcessed = 0;
  int m_nRenamed = 0;
  int m_nSkipped = 0;

 private:
  QList<TMaskPiece> m_Pieces;
  int m_nDigits;
  bool m_bCorrect;
};

}  // namespace lb
