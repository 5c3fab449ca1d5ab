// TMDIChild: the window that shows and edits one song list inside the main window's
// MDI area. It owns the document and its synchronisation pass, offers the list
// operations the main window's commands call, and carries songs between windows by
// drag and drop.
#pragma once

#include "lbtools3/ui/IDocumentHost.h"
#include "ListView.h"
#include "SyncThread.h"

#include "lbtools3/ui/IDocumentWindow.h"
#include "lbtools3/model/M3uList.h"
#include "lbtools3/model/WorkerThread.h"

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QStatusBar;
class QTimer;

class TMDIChild : public QWidget,
                  public IDocumentWindow,
                  public IWorkerDocumentWindow,
                  public ISyncWindow {
  Q_OBJECT
 public:
  static constexpr const char* kSaveQuestion = "\nСохранить изменённый документ ?";
  static constexpr const char* kSyncFlagError = "Не удаётся сменить свойство синхронизуемости";
  static constexpr const char* kBadExtensions =
      "Неправильно заданы расширения файлов в файле конфигурации";
  static constexpr const char* kDeleteQuestion = "Удалить выбранные файлы ?";
  // The help context of the question asked when a modified list closes.
  static constexpr int kCloseQuestionHelp = 11;
  // Status panel 0: the selected songs beside all songs ("3 из 120").
  static QString SelectionStatus(int selected, int count) {
    return QString("%1 из %2").arg(selected).arg(count);
  }
  static constexpr const char* kDeleteQuestionShift =
      "Удалить выбранные файлы (без последующего пересканирования) ?";

  // Makes the window in a new sub-window of area. source, when given and its path is
  // empty or the same as path, becomes the document (no loading). A new document that
  // is not such a copy stays empty; otherwise the list loads and its pass starts. A
  // failed load leaves LoadFailed() set and the window goes away by itself.
  TMDIChild(QMdiArea* area, IDocumentHost* host, const QString& path, bool bNew,
            const TSlDocument* source);
  ~TMDIChild() override;

  QStatusBar* StatusBar1;
  QLabel* StatusPanel[2];
  TSLLBListView* ListView2;
  QTimer* Timer1;

  TSlDocument m_Document;
  std::unique_ptr<TSyncThread> m_pSyncThread;
  bool m_bCreatedFromDocument = false;
  bool m_bNewDocument = false;
  bool m_bLoadFailed = false;
  bool m_bClosing = false;
  bool m_bCloseAgreed = false;  // the user let the window close (see QueryClose)
  bool m_bDestroyed = false;
  bool m_bPlayerListOutdated = true;

  QMdiSubWindow* SubWindow() const { return m_pSubWindow; }
  IDocumentHost* Host() const override { return m_pHost; }
  // The window that shows a list view, if any.
  static TMDIChild* FromListView(TSLLBListView* view);

  // ---- IDocumentWindow ----
  TSlDocument& Document() override { return m_Document; }
  bool LoadFailed() const override { return m_bLoadFailed; }
  Placement GetPlacement() const override;
  void SetPlacement(const Placement& placement) override;
  TColumnLayout Columns() const override;
  void SetColumns(const TColumnLayout& columns) override;
  void SetCaption(const QString& caption) override;
  // The caption, with "*" after it while the document is modified.
  void UpdateTitle() override;
  void ShowWindow() override;
  void Activate() override;
  void SelectSongs(const std::vector<int>& rows) override;
  bool CloseWindow() override;
  bool ClosingForExit() const override;
  std::vector<int> SelectedRows() const override { return ListView2->SelectedItems(); }
  bool ChangedSinceSent() const override { return m_bPlayerListOutdated; }
  void SetChangedSinceSent(bool changed) override { m_bPlayerListOutdated = changed; }
  void EnsureRowVisible(int row) override { ListView2->MakeVisible(row, false); }
  void RedrawRow(int row) override { ListView2->UpdateItems(row, row); }
  void StopSync() override { m_pSyncThread.reset(); }
  void RedrawRows(int first, int last) override { ListView2->UpdateItems(first, last); }
  void DeselectRow(int row) override { ListView2->SetState(row, TSLLBListView::isSelected, false); }

  // ---- IWorkerDocumentWindow (main thread) ----
  int SelectedIndex() override { return ListView2->GetSelected(); }
  int SelectedCount() override { return ListView2->GetSelCount(); }
  int SongCount() override { return ListView2->GetCount(); }
  bool IsSelected(int n) override { return ListView2->IsSelected(n); }
  void RedrawSongs(int nFirst, int nLast) override { ListView2->UpdateItems(nFirst, nLast); }
  void PlayerRowRemoving(int n) override;
  void PlayerRowRemoved(int n) override;
  void PlayerForgetRow() override;

  // ---- ISyncWindow ----
  void SyncStatus(const QString& text) override;
  void SyncRepaint(int nFirst, int nLast) override { ListView2->UpdateItems(nFirst, nLast); }

  // ---- list operations (the main window's commands) ----
  void EditCut();
  void EditCopy();
  void EditPaste();
  void EditDelete();
  // Every row: selected := (not selected) or bSelectAll.
  void SelectItems(bool bSelectAll);
  void SortItems(const std::function<bool(const TSlSong&, const TSlSong&)>& less);
  // The selected songs take the order arrange gives them, among their own positions.
  void ArrangeItems(const TSlDocument::TSongArranger& arrange);
  // tag 1 or 2: flag (bOn) or unflag every selected row for synchronisation.
  void SetSyncFlags(int tag, bool bOn);
  // Full (bFull) or brief paths for the selected rows, or for all rows (bAll).
  void CorrectPaths(bool bFull, bool bAll);
  void Rescan() { RestartSync(); }
  // Asks whether a modified list is saved before the window closes (saving it on
  // "Да"); true when the window may close. The answer holds for the next close, so the
  // program's exit can ask every window before it closes any; ForgetCloseAnswer drops
  // it when the exit is called off.
  bool QueryClose();
  void ForgetCloseAnswer() { m_bCloseAgreed = false; }
  // The item count follows the song count; everything is repainted.
  void RefreshCount();
  // Removes song n with its row, so the selection and the focus stay on the same songs.
  void RemoveSongRow(int n);
  // OptionsDeleteFiles; Shift is read from the keyboard.
  void OptionsDeleteFiles();
  void DeleteFiles(bool bShift);

  // Deletes the current pass and starts a new one from row 0.
  void RestartSync() override;
  bool IsSynchronising() const { return !CanRemoveSongs(); }
  // Selected rows in ascending order, deselected when bDeselect.
  std::vector<int> GatherSelected(bool bDeselect);
  // Cut and Delete: takes the selected rows out through remove (refused while a pass
  // runs) and answers them.
  std::vector<int> RemoveSelected(const std::function<void(const std::vector<int>&)>& remove);
  QString StatusText(int panel) const;

  // ---- list-view events ----
  void OnData(int item, int column, bool bText, QString& text, int& image);
  QString CellToolTip(int item, int column);
  void ListClick(const QPoint& point);
  void ColumnClick(int column);
  void DblClick(int item);
  bool KeyDown(QKeyEvent* event);
  bool DragOver(TSLLBListView* source);
  // The drop itself, at point in the list's viewport.
  void DragDrop(TSLLBListView* source, const QPoint& point, bool bCtrl);
  void FilesDropped(const QStringList& files);
  // One auto-scroll step for a cursor at point (the list viewport's coordinates).
  void AutoScroll(const QPoint& point);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  bool CanRemoveSongs() const;
  void Timer1Timer();
  void SelectionChanged();
  // Tells the player its copy of the list is out of date (and that it stops following
  // the window when bStopFollowing).
  void ListChanged(bool bStopFollowing);

  // Selects exactly rows first..first+count-1, focusing and showing the first.
  void SelectRows(int first, int count);

  QMdiSubWindow* m_pSubWindow = nullptr;
  IDocumentHost* m_pHost;
  QString m_Caption;
};
