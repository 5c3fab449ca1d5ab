// The repository of known list files ("хранилище листов"): one row per list, sorted by
// name, with the open document window of each open list. The rows, their selection and
// their open marks live here; a view observes them through the signals. Everything is
// kept in the settings file, section "DataBase of Play-Lists". Main thread only.
#pragma once

#include "lbtools3/ui/IDocumentWindow.h"
#include "lbtools3/ui/IRepositoryLists.h"
#include "lbtools3/model/SlInsertFilesManager.h"

#include <QCollator>
#include <QList>
#include <QObject>
#include <QString>
#include <optional>
#include <vector>

class TIniFile;
class TSlDocument;

// Column widths of the repository's view and its width beside the document area.
struct TRepositoryViewLayout {
  static constexpr int kColumnCount = 4;
  int splitter = 176;
  int widths[kColumnCount] = {30, 50, 100, 200};
};

class TListsRepository : public QObject, public IRepositoryLists, private IInsertListRepository {
  Q_OBJECT

 public:
  static constexpr const char* kSection = "DataBase of Play-Lists";
  enum Column { colNumber = 0, colOpen = 1, colName = 2, colPath = 3 };

  // ini: the main window's settings file; factory makes the document windows (may be
  // null where no window is ever opened, as in the command-line tool); shellInvoke:
  // the program was started by the shell extension ("/shell_invoke").
  TListsRepository(TIniFile& ini, IDocumentWindowFactory* factory, bool shellInvoke = false,
                   QObject* parent = nullptr);
  ~TListsRepository() override;

  void SetFactory(IDocumentWindowFactory* factory) { m_Factory = factory; }
  void SetShellInvoke(bool shellInvoke) { m_bShellInvoke = shellInvoke; }
  // The repository as the insert-files manager asks it about the lists it meets.
  IInsertListRepository* AsInsertListRepository() { return this; }

  // --- Rows
  int Count() const { return static_cast<int>(m_Rows.size()); }
  int IndexOf(const QString& path) const;
  QString Path(int row) const;
  QString Name(int row) const;
  int Number(int row) const;  // 1-based
  // Text of a cell as the view shows it ("+" in the open column of an open row).
  QString Text(int row, int column) const;
  bool IsOpen(int row) const;
  // The row's document window; the row must be open. Null only while the window is
  // still being created (its list loads).
  IDocumentWindow* Child(int row) const;
  // The row of a document window, -1 when none.
  int RowOfWindow(const IDocumentWindow* window) const;

  // --- Selection
  int FirstSelected() const;
  bool IsSelected(int row) const;
  int SelectedCount() const;
  // The flag the view shows: during a bulk operation only the marked row.
  bool IsHighlighted(int row) const { return m_Rows[row].selected; }
  // Selection changes from the view (no SelectionChanged back).
  void SetSelectedRows(const QList<int>& rows);
  void SetSelected(int row, bool selected);
  void SelectAll(bool selected);

  // --- Changes
  void Add(const QString& path, bool open, IDocumentWindow* window);
  void Remove(int row);
  void RemovePath(const QString& path);
  void DeleteListKeys(const QString& path);

  // --- Document windows
  IDocumentWindow* NewDocument(const TSlDocument* source = nullptr);
  // The name a new list is proposed under in this folder: the first "ListN.m3u" that
  // names no row and nothing on disk, so a save under it (one the user accepts, or one
  // made when the session ends) never replaces a list the user already has.
  QString FreeListPath(const QString& folder) const;
  // Both return the window, also one whose list failed to load (LoadFailed()); such a
  // window leaves no mark and no row.
  IDocumentWindow* Open(int row, const TSlDocument* source = nullptr);
  // A list that is open already (the same file, by identity) keeps its window, which
  // is raised and returned.
  IDocumentWindow* OpenFile(const QString& path, const TSlDocument* source = nullptr);
  // The window that shows the list file path names (by file identity), null when none.
  IDocumentWindow* OpenWindowOf(const QString& path) const;
  void WindowClosed(IDocumentWindow* window);
  void SaveWindowState(IDocumentWindow* window, bool columnsOnly);
  void RestoreWindowState(IDocumentWindow* window, const QString& path);
  // What a document window does when it is destroyed: a never-saved document's row
  // goes, any other stores its layout and is marked closed.
  void WindowDestroyed(IDocumentWindow* window);
  // Re-points the window's entry after Save as; dropOld when the document was unnamed
  // or its old list file was deleted.
  void Rename(IDocumentWindow* window, const QString& newPath, bool dropOld);
  // Gives the document a new file name, its entries' paths still naming the same files.
  void MoveDocument(TSlDocument& document, const QString& newPath) const;

  // --- Bulk operations (find, reports, path changes): not re-entrant.
  void BeginBulk();
  void MarkRow(int row);
  void EndBulk();
  bool BulkRunning() const { return m_PushedSelection.has_value(); }

  // --- Start-up and shutdown
  void Load();
  void SaveView(const TRepositoryViewLayout& layout);
  TRepositoryViewLayout LoadView(const TRepositoryViewLayout& current) const;
  // Whether the settings file records the list as open at the last exit.
  bool StoredOpen(const QString& path) const;
  // Some write into the settings file failed since the repository was made (the user
  // has been told): what is shown is not all stored.
  bool WriteFailed() const { return m_bWriteFailed; }

  // --- User actions
  void ColumnClick(int column);
  // Double click or Enter: activates the first selected list, or opens it.
  void OpenFirstSelected();
  // Asks for a folder and scans it; false when cancelled or stopped.
  bool ScanComp();
  // Adds every list found below the folders that the user accepts; false when the user
  // cancelled or stopped, or when files or folders were left out (the user was told
  // once, for all the folders).
  bool ScanFolders(const QStringList& folders);

  // --- Key encoding: one key for every path, distinct under the settings file's
  // comparison without case ("=", "*", characters with a case and control characters
  // are escaped); keys of older files still decode.
  static QString EncodeKey(const QString& path);
  static QString DecodeKey(const QString& key);
  static bool IsListKey(const QString& key) { return !key.contains(u'*'); }

 signals:
  void RowAboutToBeInserted(int row);
  void RowInserted(int row);
  void RowAboutToBeRemoved(int row);
  void RowRemoved(int row);
  // Cell texts of the rows changed (numbers, open marks).
  void RowsChanged(int first, int last);
  void SelectionChanged();
  // Multiple selection (false while a bulk operation runs).
  void SelectionModeChanged(bool multiple);
  // A bulk operation reached this row: show it.
  void RowMarked(int row);

 private:
  struct Row {
    QString name;
    QString path;
    IDocumentWindow* window = nullptr;
    bool opening = false;  // the window is being created
    bool selected = false;
  };

  // IInsertListRepository
  bool IsListKnown(const QString& path) override;
  void AddList(const QString& path) override;

  void DeleteLegacyKeys(const QString& path);
  void MoveToCurrentKey(const QString& storedKey, const QString& path);
  void DeleteKeyIfPresent(const QString& key);
  // Every write of the settings file passes its result here: a failure is reported
  // (once until a write succeeds again) and remembered; answers ok.
  bool Stored(bool ok);
  void SetWindow(int row, IDocumentWindow* window, bool opening);

  TIniFile& m_Ini;
  IDocumentWindowFactory* m_Factory;
  bool m_bShellInvoke;
  bool m_bPersist = true;
  bool m_bWriteFailed = false;
  bool m_bFailureShown = false;
  std::vector<Row> m_Rows;
  std::optional<std::vector<bool>> m_PushedSelection;
  QCollator m_Collator;
};
