// The main window: an MDI frame with the repository of lists on its left, one document
// window per open list, the main and player tool bars, and the action table through
// which every menu item, tool-bar button and short-cut reaches its handler.
#pragma once

#include "lbtools3/ui/IDocumentWindow.h"
#include "StartUp.h"

#include "lbtools3/ui/IDocumentHost.h"
#include "lbtools3/ui/IListsHost.h"

#include "platform/NamedObjects.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>

class IPlayerBinding;
class QAction;
class QLabel;
class QMenu;
class QMdiArea;
class QMdiSubWindow;
class QSlider;
class QSplitter;
class QSystemTrayIcon;
class QToolBar;
class TIniFile;
class TListsRepository;
class TMDIChild;
class TPlayerControl;
class TRepositoryView;

// How an action decides whether it is enabled.
enum class TActionRule {
  Always,       // always enabled
  Doc,          // a document window is active
  Sel,          // ... and its list has a selected entry
  SelIdle,      // ... and no synchronisation pass runs on it
  OneSel,       // ... exactly one entry is selected
  Modified,     // the active document is modified
  AnyModified,  // some open document is modified
  Paste,        // a document window is active and the clipboard holds list data
  Winamp,       // the player control found a running player
  Rep,          // at least one repository row is selected
  RepOne,       // exactly one repository row is selected
  TagsUndo,     // the active document window can undo its last change (tags, renames)
  Later,        // the operation has not landed yet: disabled
};

// What the enabling rules need to know about the program's state.
struct TActionState {
  bool doc = false;
  int selected = 0;
  bool idle = true;
  bool modified = false;
  bool anyModified = false;
  bool paste = false;
  bool winamp = false;
  int repSelected = 0;
  bool tagsUndo = false;
  QString undoText;  // what the undo of the active window's last change is called
};
bool ActionEnabled(TActionRule rule, const TActionState& state);

class TMainForm : public QMainWindow,
                  public ISettingsEffects,
                  public IDocumentHost,
                  public IDocumentWindowFactory,
                  public IListsHost {
  Q_OBJECT

 public:
  // bShellStart: started by the shell extension ("/shell_invoke"); instance: the
  // instance event, signalled once the window is ready for hand-overs (may be null).
  TMainForm(TIniFile& ini, bool bShellStart, lb::TNamedEvent* instance = nullptr,
            QWidget* parent = nullptr);
  ~TMainForm() override;

  TIniFile& Ini() { return m_Ini; }
  // The action of the action table with that name; null when there is none.
  QAction* FindAction(const QString& name) const;
  // The state the enabling rules look at, and re-evaluating every rule.
  TActionState CurrentActionState() const;
  void UpdateActions();
  // The tool bars' pop-up menu, without the menu bar's entry.
  QMenu* createPopupMenu() override;

  // What the settings dialog changes in the main window.
  void RetitleAllDocuments() override;
  // A modified list shows "*" after its caption.
  void MarkModifiedDocuments();
  void SetEditorPathUsed(bool used) override { m_bEditorPathUsed = used; }
  void ReinitPlayer() override;
  void ApplyHotKeys(const THotKeySlots& hotKeys) override;
  // This platform has no system-wide keyboard hook library: global slots are reached
  // only through the hot-key message.
  bool HookLibraryLoaded() const override { return false; }
  void InstallHook() override {}

  // The shell hand-over: inserts the paths of the payload into the target document.
  // Files handed over by another process: a list opens in its own window; music files,
  // and the music files found in folders as a drop finds them, go into the unnamed list
  // (a new one when there is none); other files are skipped.
  void HandOver(const QByteArray& payload);
  // Files of the command line, handed over once the first activation is done.
  void OpenAtFirstActivation(const QStringList& files) { m_StartFiles = files; }
  // The hot-key message: runs every global slot whose key matches the code.
  void HotKey(uint16_t code);
  // Files dropped on the frame: unknown lists go to the repository.
  void DropFiles(const QStringList& paths);

  // Writes a picture of the window once it has been activated, then quits (for
  // machines without a display and for the documentation).
  void ScreenshotAfterActivation(const QString& file);

  // The main-window layout as stored: restored at the first showing, saved at exit.
  void RestoreLayout();
  void SaveLayout();

  QMdiArea* MdiArea() const { return m_Mdi; }
  TListsRepository& Repository() { return *m_Repository; }
  // The active document window, and every document window in window order.
  TMDIChild* ActiveChild() const;
  QList<TMDIChild*> Children() const;

  // ---- IDocumentWindowFactory ----
  IDocumentWindow* CreateNewDocumentWindow(const QString& path, const TSlDocument* source) override;
  IDocumentWindow* CreateListWindow(const QString& path, const TSlDocument* source) override;

  // ---- IDocumentHost ----
  bool ExecuteCommand(const QString& name) override;
  bool SaveDocument(IDocumentWindow* window) override;
  void ChangePathsInAllLists(const QStringList& pairs, IDocumentWindow* skip) override;
  TIniFile& Settings() override { return m_Ini; }
  QIcon Image(int index) override;
  bool Exiting() const override { return m_bExiting; }
  IInsertListRepository* ListRepository() override;
  void ForgetList(const QString& path) override;
  void WindowClosed(IDocumentWindow* window) override;
  TColumnLayout DefaultColumns() override;
  void StoreDefaultColumns(const TColumnLayout& columns) override;
  bool PlayerFollows(IDocumentWindow* window) override;
  void PlayerStopFollowing(IDocumentWindow* window) override;
  int PlayerPlayingRow(IDocumentWindow* window) override;
  void PlayerPlayFrom(IDocumentWindow* window, int n) override;
  void PlayerRowRemoving(IDocumentWindow* window, int n) override;
  void PlayerRowRemoved(IDocumentWindow* window, int n) override;
  void PlayerForgetRow(IDocumentWindow* window) override;

  TPlayerControl& Winamp() { return *m_Winamp; }

  // ---- IListsHost (finding text across lists) ----
  QList<TListEntry> KnownLists() override;
  void BeginListsPass() override;
  void ShowListInPass(const QString& path) override;
  void EndListsPass() override;
  IDocumentWindow* OpenList(const QString& path, const TSlDocument* source) override;

  // Save as of the window's document; false when cancelled or not saved.
  bool SaveDocumentAs(TMDIChild* child);

 signals:
  void FirstActivationDone();

 protected:
  void showEvent(QShowEvent* event) override;
  bool event(QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateActions();
  void CreateMenus();
  void CreateToolBars();
  void CreateCentralArea();
  void CreateStatusBar();
  void CreateTray();
  // The "Окно" menu's list of open windows, rebuilt each time it opens.
  void FillWindowMenu(QMenu* menu);
  QAction* Act(const QString& name) const { return FindAction(name); }

  void FirstShowing();
  void RegisterPorts();
  int64_t OnMainMessage(uint32_t msg, uint64_t wParam, int64_t lParam);
  void FirstActivation();
  // Inserts the hand-overs held so far; later ones are taken once no job is under way.
  void TakeHeldHandOvers();
  void ApplyHotKeySlots();
  void RunHotKeySlot(int slot);

  // Handlers that the main window performs itself.
  void FileExit1Execute();
  void HelpAbout1Execute();
  void HelpContentsExecute();
  void HelpMainDescriptionExecute();
  void ShowToolBar(QToolBar* bar, QAction* action, bool visible);
  void GlobalTabExecute();
  void OpenSettings();
  void ConnectDocumentActions();
  void ConnectRepositoryActions();
  void ConnectMaintenanceActions();
  // The player control: its actions, the position and volume bars, the 200 ms poll.
  void ConnectPlayer();
  void PlayerTimer();
  void FollowChildForPlayer(TMDIChild* child);
  void ConnectFileActions();  // MainFiles.cpp
  void ConnectRecognizer();   // MainRecognizer.cpp
  // Runs fn with the active document window, when there is one.
  void WithChild(const std::function<void(TMDIChild*)>& fn);
  QString AskListToOpen();
  // Every existing list the user chose in the open dialog, as full paths.
  QStringList AskListsToOpen();
  void AddSongs(TMDIChild* child);
  void FilesInformation(TMDIChild* child);
  void OpenFolder(const QString& path);
  void VolumeControl();
  void OpenExternalViewer();
  // Closes the windows of the selected repository rows; the paths whose window stayed
  // open are returned.
  QStringList CloseSelectedLists(QStringList* closed = nullptr);
  // Asks every document window whether it may close (the save questions of modified
  // lists) before any closes, then closes them all; false, with every window still
  // open, when one refused.
  bool CloseAllDocumentWindows();

  TIniFile& m_Ini;
  bool m_bShellStart;
  lb::TNamedEvent* m_Instance;
  // The ports through which other processes reach the program: the main window's
  // (hot keys, hand-overs) and the application's (raise the window).
  lb::TMessagePort m_MainPort;
  lb::TMessagePort m_ApplicationPort;
  bool m_bIniExistedAtStart;
  bool m_bActivatedOnce = false;
  bool m_bShownOnce = false;
  bool m_bEditorPathUsed = false;
  int m_PositionStep = 30;
  THotKeySlots m_HotKeys;
  QString m_ScreenshotFile;
  QStringList m_StartFiles;
  // Hand-overs answered but not yet taken in: those that came before the program was
  // ready for them (a first-run dialog open) and those waiting for a job's end or for
  // the hand-over under way. Taken in the order they came.
  bool m_bHandOversHeld = true;
  bool m_bTakingHandOvers = false;
  QList<QByteArray> m_HeldHandOvers;

  QHash<QString, QAction*> m_Actions;
  QHash<QString, TActionRule> m_Rules;
  QToolBar* m_MenuToolBar = nullptr;
  QToolBar* m_MainToolBar = nullptr;
  QToolBar* m_WinampToolBar = nullptr;
  QSlider* m_PositionBar = nullptr;
  QSlider* m_VolumeBar = nullptr;
  std::unique_ptr<IPlayerBinding> m_PlayerBinding;
  std::unique_ptr<TPlayerControl> m_Winamp;
  // The user holds the position bar: polls leave it alone.
  bool m_bPositionDragging = false;
  QSplitter* m_Splitter = nullptr;
  std::unique_ptr<TListsRepository> m_Repository;
  TRepositoryView* m_RepositoryView = nullptr;
  bool m_bExiting = false;
  QIcon m_SyncIcons[2];  // images 32 and 33, made when first shown
  // The clipboard holds songs (followed through its change signal: asking the
  // clipboard on every update of the actions could wait for another program).
  bool m_bClipboardHasList = false;
  QMdiArea* m_Mdi = nullptr;
  QLabel* m_StatusHint = nullptr;
  QLabel* m_StatusTime = nullptr;
  QSystemTrayIcon* m_Tray = nullptr;
};
