// The main window and its document windows: creating them for the repository, the
// commands that act on the active list, saving, the repository's commands, and the
// path changes carried into every list.
#include "Main.h"
#include "lbtools3/ui/Help.h"

#include "lbtools3/player/PlayerControl.h"
#include "lbtools3/files/SongFiles.h"
#include "lbtools3/ui/QtUiServices.h"
#include "lbtools3/repository/Repository.h"
#include "lbtools3/repository/RepositoryView.h"
#include "WindowLayout.h"

#include "lbtools3/docwin/DocumentWindow.h"
#include "lbtools3/docwin/ColumnsDialog.h"
#include "lbtools3/find/FindDialog.h"
#include "lbtools3/find/SortDialog.h"
#include "lbtools3/find/FindResultsWindow.h"
#include "lbtools3/files/ListPaths.h"
#include "lbtools3/model/SlInsertFilesManager.h"
#include "lbtools3/model/InfoWindowManager.h"
#include "lbtools3/tags/TagsEditorDialog.h"
#include "lbtools3/ui/WindowUndo.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/UiServices.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QSaveFile>
#include <QShortcut>
#include <QStandardPaths>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <utility>

namespace {

constexpr char kCaption[] = "LBTools";
const QString kOpenListTitle = "Открытие листа...";
const QString kListFilter = "Листы M3U (*.m3u; *.m3u8)|*.m3u;*.m3u8|Все файлы (*.*)|*.*";

int Ask(const QString& text, unsigned flags) {
  return UiServices::Instance().MessageBox(text, kCaption, flags);
}

// A hook for tests that drive the program from another process: when
// LBTOOLS_TEST_DUMP names a file, each hand-over rewrites it with the receiving list's
// path, "new=1" or "new=0" (never saved or not), then the full path of every song,
// one a line. Nothing else in the program reads the variable.
void DumpHandOverTarget(const TSlDocument& document) {
  const QString file = qEnvironmentVariable("LBTOOLS_TEST_DUMP");
  if (file.isEmpty()) return;
  QStringList lines{document.m_FileName, document.m_bNew ? "new=1" : "new=0"};
  {
    std::lock_guard<std::recursive_mutex> lock(document.m_Lock);
    for (int n = 0; n < document.m_Songs.size(); ++n) lines << document.m_Songs[n].GetPath(true);
  }
  QSaveFile out(file);
  if (out.open(QIODevice::WriteOnly)) {
    out.write((lines.join('\n') + '\n').toUtf8());
    out.commit();
  }
}

}  // namespace

// ---------------------------------------------------------------------------------
// Windows

TMDIChild* TMainForm::ActiveChild() const {
  // The current window stays current while another program is in front (a hand-over
  // or a global hot key meets the program in the background).
  QMdiSubWindow* sub = m_Mdi->currentSubWindow();
  auto* child = sub ? qobject_cast<TMDIChild*>(sub->widget()) : nullptr;
  return child && !child->m_bLoadFailed && !child->m_bClosing ? child : nullptr;
}

QList<TMDIChild*> TMainForm::Children() const {
  QList<TMDIChild*> children;
  for (QMdiSubWindow* sub : m_Mdi->subWindowList())
    if (auto* child = qobject_cast<TMDIChild*>(sub->widget()); child && !child->m_bLoadFailed)
      children << child;
  return children;
}

namespace {
// Document windows open wholly inside the area at three quarters of it (at least
// 640 × 400 where the area has room), each a step below and right of the one before,
// unless the repository restores a stored placement; their list view offers the
// document commands on a pop-up menu.
void PrepareChild(TMDIChild* child, QMdiArea* area, const QIcon& icon,
                  const std::function<QAction*(const char*)>& act) {
  if (QMdiSubWindow* sub = child->SubWindow()) {
    sub->setWindowIcon(icon);
    // The frame's own close keys would make Ctrl+F4 and Ctrl+W ambiguous: the main
    // window's close command (the same closing, with its question) owns them.
    const QList<QKeySequence> closeKeys = act("FileClose1")->shortcuts();
    for (QAction* action : sub->findChildren<QAction*>())
      for (const QKeySequence& key : action->shortcuts())
        if (closeKeys.contains(key)) {
          action->setShortcuts({});
          break;
        }
    sub->setGeometry(
        lb::NewDocumentWindowRect(area->viewport()->size(), int(area->subWindowList().size()) - 1));
  }
  child->ListView2->setContextMenuPolicy(Qt::ActionsContextMenu);
  // The pop-up menu in its groups: tags and order, the files themselves, adding and
  // looking at files, the clipboard.
  const std::initializer_list<const char*> groups[] = {
      {"OptionsTagsEdit", "OptionsFindText", "OptionsSortItems"},
      {"OptionsRenameFiles", "OptionsDeleteFiles", "OptionsCopyFiles", "OptionsMoveFiles"},
      {"OptionsAddSong", "OptionsOpenFolder", "OptionsGetFilesInfo"},
      {"EditCut", "EditCopy", "EditPaste", "EditDelete"}};
  for (const auto& group : groups) {
    if (!child->ListView2->actions().isEmpty()) {
      auto* separator = new QAction(child->ListView2);
      separator->setSeparator(true);
      child->ListView2->addAction(separator);
    }
    for (const char* name : group) child->ListView2->addAction(act(name));
  }
}
}  // namespace

IDocumentWindow* TMainForm::CreateNewDocumentWindow(const QString& path,
                                                    const TSlDocument* source) {
  auto* child = new TMDIChild(m_Mdi, this, path, true, source);
  PrepareChild(child, m_Mdi, windowIcon(), [this](const char* name) { return Act(name); });
  FollowChildForPlayer(child);
  return child;
}

IDocumentWindow* TMainForm::CreateListWindow(const QString& path, const TSlDocument* source) {
  auto* child = new TMDIChild(m_Mdi, this, path, false, source);
  PrepareChild(child, m_Mdi, windowIcon(), [this](const char* name) { return Act(name); });
  FollowChildForPlayer(child);
  return child;
}

void TMainForm::WithChild(const std::function<void(TMDIChild*)>& fn) {
  if (TMDIChild* child = ActiveChild()) fn(child);
}

TActionState TMainForm::CurrentActionState() const {
  TActionState s;
  if (TMDIChild* child = ActiveChild()) {
    s.doc = true;
    s.selected = child->ListView2->GetSelCount();
    s.idle = child->m_Document.m_DocNotSync->WaitFor(0) == wrSignaled;
    s.modified = child->m_Document.m_bModified;
    s.paste = m_bClipboardHasList;
    s.undoText = lb::UndoText(child);
    s.tagsUndo = !s.undoText.isEmpty();
  }
  for (TMDIChild* child : Children()) s.anyModified |= child->m_Document.m_bModified;
  s.repSelected = m_Repository ? m_Repository->SelectedCount() : 0;
  s.winamp = m_Winamp && m_Winamp->IsFound();
  return s;
}

void TMainForm::RetitleAllDocuments() {
  for (TMDIChild* child : Children()) child->SetCaption(child->m_Document.GetTitle());
}

void TMainForm::MarkModifiedDocuments() {
  for (TMDIChild* child : Children()) child->UpdateTitle();
}

// ---------------------------------------------------------------------------------
// IDocumentHost

bool TMainForm::ExecuteCommand(const QString& name) {
  QAction* action = FindAction(name);
  if (!action) return false;
  UpdateActions();
  if (!action->isEnabled()) return false;
  action->trigger();
  return true;
}

bool TMainForm::SaveDocument(IDocumentWindow* window) {
  auto* child = dynamic_cast<TMDIChild*>(window);
  if (!child) return false;
  // A list that was never saved has only a proposed name: ask for a real one.
  if (child->m_Document.m_bNew) return SaveDocumentAs(child);
  return child->m_Document.Save(false);
}

bool TMainForm::SaveDocumentAs(TMDIChild* child) {
  TSlDocument& document = child->m_Document;
  // A list never saved has only a proposed name; when its folder does not exist the
  // name is offered in the user's music folder, or the home folder when there is none.
  // There, or when a file took the name meanwhile, the name is numbered afresh: a save
  // that nobody answers (the session ends) never replaces a list the user has.
  QString proposed = document.m_FileName;
  if (document.m_bNew) {
    QString folder = QFileInfo(proposed).absolutePath();
    const bool bElsewhere = !QFileInfo(folder).isDir();
    if (bElsewhere) {
      folder = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
      if (folder.isEmpty() || !QFileInfo(folder).isDir()) folder = QDir::homePath();
    }
    if (bElsewhere || lb::NameTaken(proposed)) proposed = m_Repository->FreeListPath(folder);
  }
  QString name =
      UiServices::Instance().GetSaveFileName("Сохранить play-лист...", proposed, kListFilter);
  if (name.isEmpty()) return false;
  if (QFileInfo(name).suffix().isEmpty()) name += ".m3u";
  // Refused before the old list is given up: a music, data or binary file stays whole.
  if (!TSlDocument::CheckListPath(name, true, false)) return false;
  const QString oldPath = document.m_FileName;
  if (lb::SamePath(name, oldPath)) return document.Save(false);
  // A list open in another window is not written over: that window would go on showing
  // its old songs and close without a question, and the songs would be gone from disk.
  if (IDocumentWindow* open = m_Repository->OpenWindowOf(name); open && open != child) {
    Ask("Лист \"" + name + "\"\nоткрыт в другом окне. Закройте его или выберите другое имя.",
        MB_OK | MB_ICONWARNING);
    return false;
  }

  bool dropOld = document.m_bNew;
  const bool trashOld =
      !dropOld && Ask("Удалить лист по старому пути ?", MB_YESNO | MB_ICONQUESTION) == IDYES;
  // The list is written under its new name before anything happens to the old one:
  // when that write fails, the window, the repository and the old files stay as they
  // were.
  {
    TSlDocument copy;
    {
      std::lock_guard<std::recursive_mutex> lock(document.m_Lock);
      copy = document;
    }
    m_Repository->MoveDocument(copy, name);
    if (!copy.Save(false)) return false;
  }
  if (trashOld) {
    dropOld = true;
    if (!lb::DeleteToRecycleBin(oldPath)) {
      Ask("Ошибка удалания листа\n" + oldPath, MB_OK | MB_ICONERROR);
    } else {
      const QString data = TSlDocument::DataFilePath(oldPath);
      if (!lb::DeleteToRecycleBin(data))
        Ask("Ошибка удалания файла данных для листа\n" + data, MB_OK | MB_ICONERROR);
    }
  }
  m_Repository->Rename(child, name, dropOld);
  // The window's own document now names the new file; writing it again records the
  // state it has now (the pass may have changed entries meanwhile).
  return document.Save(false);
}

namespace {
// A tick mark in the given colour, drawn for the small and the large icon size.
QIcon TickIcon(const QColor& color) {
  QIcon icon;
  for (const int size : {16, 32}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, size / 7.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const double s = size;
    painter.drawPolyline(
        QPolygonF{{0.18 * s, 0.52 * s}, {0.42 * s, 0.76 * s}, {0.84 * s, 0.24 * s}});
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}
}  // namespace

QIcon TMainForm::Image(int index) {
  // 24: the song that plays now; 32 and 33: the song follows its file's first or
  // second tag (a tick in the column of that tag).
  switch (index) {
    case 24:
      return style()->standardIcon(QStyle::SP_MediaPlay);
    case 32:
    case 33: {
      QIcon& icon = m_SyncIcons[index - 32];
      if (icon.isNull()) icon = TickIcon(index == 32 ? QColor(0, 128, 0) : QColor(0, 90, 200));
      return icon;
    }
    default:
      return QIcon();
  }
}

IInsertListRepository* TMainForm::ListRepository() {
  return m_Repository->AsInsertListRepository();
}

void TMainForm::ForgetList(const QString& path) {
  const int row = m_Repository->IndexOf(path);
  if (row != -1 && (!m_Repository->IsOpen(row) || m_Repository->Child(row) == nullptr ||
                    m_Repository->Child(row)->Document().m_bNew))
    m_Repository->Remove(row);
}

void TMainForm::WindowClosed(IDocumentWindow* window) {
  m_Repository->WindowDestroyed(window);
}

TColumnLayout TMainForm::DefaultColumns() {
  // "kind,width,kind,width..." under Settings/DefaultColumns.
  const QStringList numbers =
      m_Ini.ReadString("Settings", "DefaultColumns", QString()).split(',', Qt::SkipEmptyParts);
  TColumnLayout layout;
  for (qsizetype i = 0; i + 1 < numbers.size(); i += 2) {
    bool okKind = false, okWidth = false;
    const int kind = numbers[i].trimmed().toInt(&okKind);
    const int width = numbers[i + 1].trimmed().toInt(&okWidth);
    if (okKind && okWidth) layout.append({kind, width});
  }
  return layout;
}

void TMainForm::StoreDefaultColumns(const TColumnLayout& columns) {
  QStringList numbers;
  for (const auto& [kind, width] : columns)
    numbers << QString::number(kind) << QString::number(width);
  m_Ini.WriteString("Settings", "DefaultColumns", numbers.join(','));
}

// ---------------------------------------------------------------------------------
// Path changes across every list

void TMainForm::ChangePathsInAllLists(const QStringList& pairs, IDocumentWindow* skip) {
  if (pairs.isEmpty()) return;
  TSlDocument scratch;
  TInfoWindowLevel window("Поиск и смена путей...", QString(), true);
  // The files have moved already: every list follows them. A stop asked of the job
  // around (its Stop, a termination signal) is kept for the job, not taken here.
  TStopButtonLock noStop;
  const bool bStopAsked = std::exchange(InfoWindowManager().m_bStop, false);
  m_Repository->BeginBulk();
  // The list open in the row's window follows in memory; false when the user stopped.
  auto inWindow = [&](int row) {
    IDocumentWindow* window = m_Repository->Child(row);
    auto* child = window == skip ? nullptr : dynamic_cast<TMDIChild*>(window);
    if (!child) return true;
    // Entries may go away: the window's synchronisation pass stops first and starts
    // again over the changed list.
    child->m_pSyncThread.reset();
    const bool ok = lb::ReplacePathsInDocument(
        child->m_Document, pairs, [child] { child->m_bPlayerListOutdated = true; },
        [child](int n) { child->RemoveSongRow(n); });
    child->RefreshCount();
    child->RestartSync();
    return ok;
  };
  for (int row = 0; row < m_Repository->Count(); ++row) {
    m_Repository->MarkRow(row);
    const QString path = m_Repository->Path(row);
    if (m_Repository->IsOpen(row)) {
      if (!inWindow(row)) break;
      continue;
    }
    if (lb::ReplacePathsInListFile(scratch, path, pairs) == lb::lpStop) break;
    // The windows turn while a list file is flushed: a window that opened the list
    // meanwhile may hold the entries as they were, and follows too (entries already
    // changed match no old path).
    if (row < m_Repository->Count() && m_Repository->Path(row) == path &&
        m_Repository->IsOpen(row) && !inWindow(row))
      break;
  }
  m_Repository->EndBulk();
  if (bStopAsked) InfoWindowManager().m_bStop = true;
}

// ---------------------------------------------------------------------------------
// Commands

QString TMainForm::AskListToOpen() {
  const QStringList names = AskListsToOpen();
  return names.isEmpty() ? QString() : names.first();
}

QStringList TMainForm::AskListsToOpen() {
  QStringList paths;
  for (const QString& name :
       UiServices::Instance().GetOpenFileNames(kOpenListTitle, QString(), kListFilter))
    if (QFileInfo(name).isFile()) paths << QFileInfo(name).absoluteFilePath();
  return paths;
}

void TMainForm::ConnectDocumentActions() {
  auto on = [this](const char* name, std::function<void()> fn) {
    connect(Act(name), &QAction::triggered, this, [fn] { fn(); });
    if (m_Rules.value(name) == TActionRule::Later) m_Rules[name] = TActionRule::Always;
  };
  auto rule = [this](const char* name, TActionRule r) { m_Rules[name] = r; };

  on("FileNew1", [this] { m_Repository->NewDocument(); });
  on("FileOpen1", [this] {
    for (const QString& path : AskListsToOpen()) {
      const int row = m_Repository->IndexOf(path);
      if (row != -1 && m_Repository->IsOpen(row)) continue;  // already open: left as it is
      m_Repository->OpenFile(path);
    }
  });
  on("FileClose1", [this] { WithChild([](TMDIChild* c) { c->CloseWindow(); }); });
  rule("FileClose1", TActionRule::Doc);
  on("FileSaveDoc", [this] { WithChild([this](TMDIChild* c) { SaveDocument(c); }); });
  rule("FileSaveDoc", TActionRule::Modified);
  on("FileSaveDocAs", [this] { WithChild([this](TMDIChild* c) { SaveDocumentAs(c); }); });
  rule("FileSaveDocAs", TActionRule::Doc);
  on("FileSaveAll", [this] {
    // No dialog, also not for lists that were never saved: they keep their proposed
    // name, unless a file took it meanwhile or its folder is gone: such a list is saved
    // as the user names it (from a fresh proposal), never over another file.
    for (TMDIChild* child : Children()) {
      TSlDocument& document = child->m_Document;
      if (!document.m_bModified) continue;
      const QString& name = document.m_FileName;
      if (document.m_bNew && (lb::NameTaken(name) || !QFileInfo(name).absoluteDir().exists()))
        SaveDocumentAs(child);
      else
        document.Save(false);
    }
  });
  rule("FileSaveAll", TActionRule::AnyModified);

  on("EditCut", [this] { WithChild([](TMDIChild* c) { c->EditCut(); }); });
  rule("EditCut", TActionRule::SelIdle);
  on("EditCopy", [this] { WithChild([](TMDIChild* c) { c->EditCopy(); }); });
  rule("EditCopy", TActionRule::Sel);
  on("EditPaste", [this] { WithChild([](TMDIChild* c) { c->EditPaste(); }); });
  rule("EditPaste", TActionRule::Paste);
  on("EditDelete", [this] { WithChild([](TMDIChild* c) { c->EditDelete(); }); });
  rule("EditDelete", TActionRule::SelIdle);
  on("EditSelectAll", [this] { WithChild([](TMDIChild* c) { c->SelectItems(true); }); });
  rule("EditSelectAll", TActionRule::Doc);
  on("EditInvertSelected", [this] { WithChild([](TMDIChild* c) { c->SelectItems(false); }); });
  rule("EditInvertSelected", TActionRule::Doc);
  on("OptionsTagsEdit", [this] {
    WithChild([this](TMDIChild* c) {
      TNewTagsEditDlg dialog(this);
      dialog.m_Child = c;
      auto* help = new QShortcut(QKeySequence::HelpContents, &dialog);
      connect(help, &QShortcut::activated, [] { lb::OpenHelp("context_1"); });
      dialog.exec();
    });
  });
  rule("OptionsTagsEdit", TActionRule::Sel);
  // Ctrl+Z reaches the undo only while a list window is the active one.
  on("EditUndoTags", [this] { WithChild([](TMDIChild* c) { lb::UndoLastChange(c); }); });
  rule("EditUndoTags", TActionRule::TagsUndo);

  on("OptionsDocColumns", [this] {
    WithChild([this](TMDIChild* c) {
      TColumnsDlg dialog(c, this);
      // The confirmed layout is stored at once, not only when the window closes.
      if (dialog.exec() == QDialog::Accepted && !c->m_Document.m_bNew)
        m_Repository->SaveWindowState(c, true);
    });
  });
  rule("OptionsDocColumns", TActionRule::Doc);
  for (const char* name : {"OptionsDeleteFiles", "OptionsDeleteFiles2"}) {
    on(name, [this] { WithChild([](TMDIChild* c) { c->OptionsDeleteFiles(); }); });
    rule(name, TActionRule::SelIdle);
  }
  on("OptionsFindText", [this] {
    TNewFindText dialog(ActiveChild(), this, m_Ini, TNewFindTextForm::Instance(this, this), this);
    dialog.exec();
  });
  rule("OptionsFindText", TActionRule::Always);
  on("OptionsSortItems", [this] {
    WithChild([this](TMDIChild* c) {
      TNewSortDlg dialog(this);
      if (dialog.exec() == QDialog::Accepted) c->ArrangeItems(lb::SongArranger(dialog.Order()));
    });
  });
  rule("OptionsSortItems", TActionRule::Sel);
  on("OptionsAddSong", [this] { WithChild([this](TMDIChild* c) { AddSongs(c); }); });
  rule("OptionsAddSong", TActionRule::Doc);
  const struct {
    const char* name;
    int tag;
    bool on;
  } syncFlags[] = {{"OptionsAddSync1", 1, true},
                   {"OptionsDelSync1", 1, false},
                   {"OptionsAddSync2", 2, true},
                   {"OptionsDelSync2", 2, false}};
  for (const auto& f : syncFlags) {
    const int tag = f.tag;
    const bool bOn = f.on;
    on(f.name, [this, tag, bOn] { WithChild([&](TMDIChild* c) { c->SetSyncFlags(tag, bOn); }); });
    rule(f.name, TActionRule::Sel);
  }
  on("OptionsOpenFolder", [this] {
    WithChild([this](TMDIChild* c) {
      const int n = c->ListView2->GetSelected();
      if (n >= 0) OpenFolder(c->m_Document.m_Songs[n].GetPath(true));
    });
  });
  rule("OptionsOpenFolder", TActionRule::OneSel);
  on("OptionsGetFilesInfo", [this] { WithChild([this](TMDIChild* c) { FilesInformation(c); }); });
  rule("OptionsGetFilesInfo", TActionRule::Sel);

  on("ServiceCorrectPathsFull",
     [this] { WithChild([](TMDIChild* c) { c->CorrectPaths(true, false); }); });
  rule("ServiceCorrectPathsFull", TActionRule::Sel);
  on("ServiceCorrectPathsBrief",
     [this] { WithChild([](TMDIChild* c) { c->CorrectPaths(false, false); }); });
  rule("ServiceCorrectPathsBrief", TActionRule::Sel);
  on("ServiceRescan", [this] { WithChild([](TMDIChild* c) { c->Rescan(); }); });
  rule("ServiceRescan", TActionRule::Doc);
  on("ServiceSoundVolume", [this] { VolumeControl(); });
}

void TMainForm::ConnectRepositoryActions() {
  auto on = [this](const char* name, TActionRule r, std::function<void()> fn) {
    connect(Act(name), &QAction::triggered, this, [fn] { fn(); });
    m_Rules[name] = r;
  };
  on("RepListAddList", TActionRule::Always, [this] {
    const QString path = AskListToOpen();
    if (path.isEmpty()) return;
    if (m_Repository->IndexOf(path) != -1)
      Ask("Этот лист уже есть базе.", MB_OK | MB_ICONEXCLAMATION);
    else
      m_Repository->Add(path, false, nullptr);
  });
  on("RepListRemoveList", TActionRule::Rep, [this] {
    QStringList closed;
    CloseSelectedLists(&closed);
    for (const QString& path : closed) m_Repository->RemovePath(path);
  });
  on("RepListActDeleteList", TActionRule::Rep, [this] {
    if (Ask("Удалить выбранные листы из хранилища и их файлы с компьютера ?",
            MB_YESNO | MB_ICONQUESTION) != IDYES)
      return;
    QStringList closed;
    CloseSelectedLists(&closed);
    for (const QString& path : closed) {
      m_Repository->RemovePath(path);
      if (!lb::DeleteToRecycleBin(path)) {
        Ask("Ошибка удалания листа\n" + path, MB_OK | MB_ICONERROR);
        continue;
      }
      if (!lb::DeleteToRecycleBin(TSlDocument::DataFilePath(path)))
        Ask("Ошибка удалания файла данных для листа\n" + path, MB_OK | MB_ICONERROR);
    }
  });
  on("RepListScanComp", TActionRule::Always, [this] { m_Repository->ScanComp(); });
  on("RepListCloseSelectedLists", TActionRule::Rep, [this] { CloseSelectedLists(); });
  on("RepListOpenSelectedLists", TActionRule::Rep, [this] {
    QStringList paths;
    for (int row = 0; row < m_Repository->Count(); ++row)
      if (m_Repository->IsSelected(row) && !m_Repository->IsOpen(row))
        paths << m_Repository->Path(row);
    // Rows may move while lists load: find each again by its path.
    for (const QString& path : paths) {
      const int row = m_Repository->IndexOf(path);
      if (row != -1 && !m_Repository->IsOpen(row)) m_Repository->Open(row);
    }
  });
  on("RepListOpenExternalEditor", TActionRule::RepOne, [this] { OpenExternalViewer(); });
}

QStringList TMainForm::CloseSelectedLists(QStringList* closed) {
  QStringList paths;
  for (int row = 0; row < m_Repository->Count(); ++row)
    if (m_Repository->IsSelected(row)) paths << m_Repository->Path(row);
  QStringList stayedOpen;
  for (const QString& path : paths) {
    const int row = m_Repository->IndexOf(path);
    if (row == -1) continue;
    // A window that agreed to close counts as closed, though it is destroyed later.
    bool bClosed = false;
    if (m_Repository->IsOpen(row)) {
      if (IDocumentWindow* window = m_Repository->Child(row)) bClosed = window->CloseWindow();
      UiServices::Instance().ProcessMessages();
    }
    const int now = m_Repository->IndexOf(path);
    if (!bClosed && now != -1 && m_Repository->IsOpen(now))
      stayedOpen << path;
    else if (closed)
      *closed << path;
  }
  return stayedOpen;
}

bool TMainForm::CloseAllDocumentWindows() {
  const QList<TMDIChild*> children = Children();
  for (TMDIChild* child : children) {
    if (!child->QueryClose()) {
      for (TMDIChild* asked : children) asked->ForgetCloseAnswer();
      return false;
    }
  }
  for (QMdiSubWindow* sub : m_Mdi->subWindowList()) sub->close();
  return true;
}

void TMainForm::AddSongs(TMDIChild* child) {
  TSlInsertFilesManager manager(QStringList{});
  if (manager.BadExtensions()) {
    Ask("Неправильно заданы расширения файлов в файле конфигурации", MB_OK | MB_ICONERROR);
    return;
  }
  const QStringList files = UiServices::Instance().GetOpenFileNames(
      "Добавление песни...", QString(), lb::AddSongsFilter(manager));
  if (files.isEmpty()) return;
  TSlDocument& document = child->m_Document;
  // The files follow the selected row in the order chosen; with no selection they go
  // to the end.
  int after = child->ListView2->GetSelected();
  int last = -1;
  {
    TBusyCursor busy;
    for (const QString& file : files) {
      TSlSong song(&document, QString(), QString());
      song.Reset(file, QString());
      last = document.InsertSong(song, after);
      document.m_Songs[last].Reset(document.m_Songs[last].m_Path, QString());
      if (after != -1) after = last;
    }
  }
  child->RefreshCount();
  if (last >= 0) child->ListView2->MakeVisible(last, false);
  child->m_bPlayerListOutdated = true;
  child->RestartSync();
}

void TMainForm::FilesInformation(TMDIChild* child) {
  QStringList paths;
  {
    TBusyCursor busy;
    for (int n : child->GatherSelected(false)) paths << child->m_Document.m_Songs[n].GetPath(true);
  }
  UiServices::Instance().MessageBox(lb::FilesInfoText(paths), kCaption, MB_OK);
}

void TMainForm::OpenFolder(const QString& path) {
  // The desktop's file manager shows the file selected; without one the folder opens.
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                                     "/org/freedesktop/FileManager1",
                                                     "org.freedesktop.FileManager1", "ShowItems");
  call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
  const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
  if (reply.type() == QDBusMessage::ReplyMessage) return;
  QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).path()));
}

void TMainForm::VolumeControl() {
  if (!QProcess::startDetached("pavucontrol", {}))
    Ask("Не удаётся запустить регулятор громкости (pavucontrol).", MB_OK | MB_ICONERROR);
}

void TMainForm::OpenExternalViewer() {
  const int row = m_Repository->FirstSelected();
  if (row == -1) return;
  const QString viewer = m_Ini.ReadString("Settings", "EditorPath", QString());
  if (!QProcess::startDetached(viewer, {m_Repository->Path(row)}))
    Ask("Не удаётся запустить внешний просмотрщик:\n" + viewer, MB_OK | MB_ICONERROR);
}

// ---------------------------------------------------------------------------------
// Hand-over and drops

void TMainForm::HandOver(const QByteArray& payload) {
  QStringList paths;
  bool bListOpened = false;
  for (const QString& path : lb::ParseHandOverPaths(payload)) {
    if (lb::IsListFileName(path) && QFileInfo(path).isFile()) {
      m_Repository->OpenFile(path, nullptr);
      bListOpened = true;
    } else {
      paths << path;
    }
  }
  // A file that is neither a song nor a list is named to the user rather than lost
  // without a word (the file manager offers the item on any selection).
  QStringList others;
  {
    TSlInsertFilesManager kinds{QStringList{}};
    paths.removeIf([&](const QString& path) {
      if (!QFileInfo(path).isFile() || kinds.Classify(path, true) != pkSkip) return false;
      others << path;
      return true;
    });
  }
  // The files are named once the songs went in: the notice is posted when this function
  // ends (the scan processes messages itself meanwhile).
  struct TNoticeAtEnd {
    QObject* context;
    QString text;
    ~TNoticeAtEnd() {
      if (!text.isEmpty())
        QTimer::singleShot(0, context, [text = text] { Ask(text, MB_OK | MB_ICONWARNING); });
    }
  } notice{this, QString()};
  if (!others.isEmpty()) {
    constexpr int kNamed = 20;
    QString names = QStringList(others.mid(0, kNamed)).join(u'\n');
    if (others.size() > kNamed) names += QString("\n... и ещё %1").arg(others.size() - kNamed);
    notice.text =
        (others.size() == 1 ? "Файл не является ни песней, ни листом и не добавлен:\n"
                            : "Эти файлы не являются ни песнями, ни листами и не добавлены:\n") +
        names;
  }
  // An empty hand-over still makes its empty list; lists and refused files alone make none.
  if (paths.isEmpty() && (bListOpened || !others.isEmpty())) return;
  // Folders are scanned and other files sorted out as a drop on a list does it, all in
  // one scan, so what it left out is told once. A music file that cannot be reached (a
  // volume not mounted) still gets its row.
  TSlInsertFilesManager manager(paths);
  manager.m_Repository = ListRepository();
  manager.m_bKeepMissingSongs = true;
  if (!paths.isEmpty() && manager.BadExtensions()) {
    Ask("Неправильно заданы расширения файлов в файле конфигурации", MB_OK | MB_ICONERROR);
    return;
  }
  manager.InsertFromDrop();
  const TSlSongVector& songs = manager.m_FoundSongs;
  TMDIChild* target = ActiveChild();
  if (!target || !target->m_Document.m_bNew)
    target = dynamic_cast<TMDIChild*>(m_Repository->NewDocument());
  if (!target) return;
  TSlDocument& document = target->m_Document;
  if (!songs.empty()) document.InsertSongs(songs, 0, int(songs.size()), document.m_Songs.size());
  target->RefreshCount();
  target->m_bPlayerListOutdated = true;
  target->Rescan();
  DumpHandOverTarget(document);
}

void TMainForm::DropFiles(const QStringList& paths) {
  for (const QString& path : paths)
    if (lb::IsListFileName(path) && m_Repository->IndexOf(path) == -1)
      m_Repository->Add(path, false, nullptr);
}

// ---------------------------------------------------------------------------------
// The repository's lists for operations over many lists

QList<IListsHost::TListEntry> TMainForm::KnownLists() {
  QList<TListEntry> lists;
  TListsRepository& repo = *m_Repository;
  for (int row = 0; row < repo.Count(); ++row)
    lists.append(
        {repo.Path(row), repo.IsOpen(row) ? repo.Child(row) : nullptr, repo.IsSelected(row)});
  return lists;
}

void TMainForm::BeginListsPass() {
  if (!m_Repository->BulkRunning()) m_Repository->BeginBulk();
}

void TMainForm::ShowListInPass(const QString& path) {
  const int row = m_Repository->IndexOf(path);
  if (row != -1 && m_Repository->BulkRunning()) m_Repository->MarkRow(row);
}

void TMainForm::EndListsPass() {
  m_Repository->EndBulk();
}

IDocumentWindow* TMainForm::OpenList(const QString& path, const TSlDocument* source) {
  IDocumentWindow* window = m_Repository->OpenFile(path, source);
  return window && !window->LoadFailed() ? window : nullptr;
}
