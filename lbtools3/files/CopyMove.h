// Copying and moving the selected songs' files into a folder tree under a root folder,
// one folder level per criterion (a tag field or the first letter of the song's
// name): the criteria, the settings the dialog keeps, the building of a song's target
// folder, and the worker that runs under the modal progress dialog.
#pragma once

#include "lbtools3/model/WorkerThread.h"

#include <QHash>
#include <QList>
#include <QStringList>
#include <set>
#include <utility>

class TIniFile;
class TSlDocument;
class TSlSong;

namespace lb {

class IDirErrorPrompt;
class TFileOperation;
class TPathCheckpoint;

inline constexpr int kCriterionCount = 14;
// The caption of a criterion in the dialog's lists, and the folder name used when
// the song's field is empty (criteria 1 to 13).
QString CriterionCaption(int criterion);
QString CriterionEmptyName(int criterion);

// The folder level of one criterion for a song (criteria 1 to 13): the field without
// blanks at both ends, corrected; the empty name when nothing is left.
QString CriterionFolderName(const TSlSong& song, int criterion, bool bCorrect);
// The first letter used by criterion 0: the upper-cased first character of the
// song's ID3v1 name, or of its ID3v2 name when only that record exists.
QChar AlphabetLetter(const TSlSong& song);

// What a run has learnt about its target folders: the folders made or found so far
// (they are not looked at again), and the folder of each set of songs' fields met.
struct TTargetFolders {
  std::set<QString> folders;
  QHash<QStringList, QString> byFields;
};

// Builds (and creates where missing) the target folder of the song under root; the
// result ends with "/". false when the user cancelled a folder creation. known, when
// given, is what the run has learnt so far, and gets what this song teaches.
bool BuildTargetFolder(const TSlSong& song, const QString& root, const QList<int>& criteria,
                       bool bCorrect, IDirErrorPrompt* prompt, QString* folder,
                       TTargetFolders* known = nullptr);

struct TCopyMoveSettings {
  static constexpr int kHistorySize = 10;
  QString root;
  bool bCorrect = true;
  QList<int> criteria;  // in level order
  QStringList history;  // newest first

  static TCopyMoveSettings Load(TIniFile& ini);
  // Stores everything; a non-empty root enters the history first.
  void Store(TIniFile& ini);
  // "2, 1" ↔ {2, 1}; numbers outside 0..13 and repeats are dropped.
  static QList<int> ParseCriteria(const QString& text);
  static QString CriteriaText(const QList<int>& criteria);
};

// The dialog's two criteria lists and their arrow commands; rows are given as sorted
// indexes of the list they belong to. Each command returns the rows to select after it.
struct TCriteriaLists {
  QList<int> selected;    // the chosen criteria, in level order
  QList<int> unselected;  // the rest, in number order

  explicit TCriteriaLists(const QList<int>& chosen = {});
  // The chosen rows of the available list go after the first chosen row of the
  // selected list (to its end when none is chosen there).
  QList<int> Choose(const QList<int>& availableRows, const QList<int>& selectedRows);
  // The chosen rows of the selected list go back to the available list.
  QList<int> Unchoose(const QList<int>& selectedRows);
  // The chosen rows of the selected list move one place up or down.
  QList<int> MoveUp(const QList<int>& selectedRows);
  QList<int> MoveDown(const QList<int>& selectedRows);
};

// The root folder as the user typed it, made absolute before it is checked, stored or
// used: a leading "~" is the home folder, a relative path lies below base; "." and ".."
// are resolved. Empty text stays empty.
QString AbsoluteRootFolder(const QString& text, const QString& base);

// Offers to create a missing root folder (one level); false when it does not exist
// afterwards (the user declined or creation failed, and was told).
bool EnsureRootFolder(const QString& root);

// The summary shown at the end of a run. stopped is its first line when the run was cut
// short: the user's stop, or what else ended it.
QString CopyMoveSummary(int selected, int processed, int skipped,
                        const QString& stopped = "Прервано пользователем.");

// The document's rows as the worker's window when no list view shows them (the
// command-line tool and tests): a fixed selection, redraws ignored.
class TRowSelection : public IWorkerDocumentWindow {
 public:
  TRowSelection(TSlDocument& document, std::set<int> rows)
      : m_Document(document), m_Rows(std::move(rows)) {}
  int SelectedIndex() override { return m_Rows.empty() ? -1 : *m_Rows.begin(); }
  int SelectedCount() override { return int(m_Rows.size()); }
  int SongCount() override;
  bool IsSelected(int n) override { return m_Rows.count(n) != 0; }
  void RedrawSongs(int, int) override {}

 private:
  TSlDocument& m_Document;
  std::set<int> m_Rows;
};

}  // namespace lb

class TCopyMoveThread : public TBaseWorkerThread {
 public:
  static constexpr const char* kCopyAction = "Копирование группы файлов";
  static constexpr const char* kMoveAction = "Перемещение группы файлов";
  // How often the dialog shows the file at hand, the progress and the changed rows.
  static constexpr int kShowIntervalMs = 20;

  struct Options {
    bool bCopy = true;
    bool bChangePaths = false;  // copy mode: the songs point at the copies
    bool bCorrect = true;
    QString root;
    QList<int> criteria;
  };

  // operation: the run's file operation with its error dialog; prompt: the
  // directory-error dialog. Neither is owned.
  TCopyMoveThread(TSlDocument* document, const Options& options, lb::TFileOperation* operation,
                  lb::IDirErrorPrompt* prompt);
  ~TCopyMoveThread() override;

  QStringList m_Pairs;    // old full path, new full path of each song whose path changed
  QStringList m_Handled;  // source, target of every file copied or moved
  int m_nProcessed = 0;
  int m_nSkipped = 0;
  int m_nSelected = 0;
  // Gets each changed path as it happens (a move keeps the lists in step), when set.
  lb::TPathCheckpoint* m_pCheckpoint = nullptr;

 protected:
  void Execute() override;

 private:
  TSlDocument* m_pDocument;
  Options m_Options;
  lb::TFileOperation* m_pOperation;
  lb::IDirErrorPrompt* m_pPrompt;
};
