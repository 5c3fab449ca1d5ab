#include "DocumentWindow.h"

#include "lbtools3/ui/SongColumns.h"
#include "DeleteFilesWorker.h"
#include "ListOps.h"

#include "lbtools3/ui/WorkerDialog.h"
#include "lbtools3/model/InfoWindowManager.h"
#include "lbtools3/model/SlInsertFilesManager.h"
#include "platform/Assert.h"
#include "platform/IniFile.h"
#include "platform/UiServices.h"

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <mutex>

namespace {
int Message(const char* text, unsigned flags) {
  return UiServices::Instance().MessageBox(QString::fromUtf8(text), UiServices::kCaption, flags);
}

// The hourglass over one operation, set once pending messages were handled.
class TOperationCursor {
 public:
  TOperationCursor() { UiServices::Instance().ProcessMessages(); }

 private:
  TBusyCursor m_Busy;
};
}  // namespace

TMDIChild::TMDIChild(QMdiArea* area, IDocumentHost* host, const QString& path, bool bNew,
                     const TSlDocument* source)
    : QWidget(nullptr), m_pHost(host) {
  m_bNewDocument = bNew;

  ListView2 = new TSLLBListView(this);
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setSizeGripEnabled(false);
  for (int n = 0; n < 2; ++n) {
    StatusPanel[n] = new QLabel(this);
    StatusPanel[n]->setFixedWidth(250);
    StatusBar1->addWidget(StatusPanel[n]);
  }
  StatusPanel[0]->setText(SelectionStatus(0, 0));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(ListView2);
  layout->addWidget(StatusBar1);

  Timer1 = new QTimer(this);
  Timer1->setInterval(100);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });

  ListView2->OnData = [this](int item, int column, bool bText, QString& text, int& image) {
    OnData(item, column, bText, text, image);
  };
  ListView2->OnImage = [this](int image) { return m_pHost ? m_pHost->Image(image) : QIcon(); };
  ListView2->OnToolTip = [this](int item, int column) { return CellToolTip(item, column); };
  ListView2->OnColumnClick = [this](int column) { ColumnClick(column); };
  ListView2->OnClick = [this](const QPoint& point) { ListClick(point); };
  ListView2->OnDblClick = [this](int item) { DblClick(item); };
  ListView2->OnRMouseDown = [this] { Activate(); };
  ListView2->OnChange = [this] { SelectionChanged(); };
  ListView2->OnStartDrag = [this] { Timer1->start(); };
  ListView2->OnEndDrag = [this] { Timer1->stop(); };
  ListView2->OnDragOver = [this](TSLLBListView* source, const QPoint&) { return DragOver(source); };
  ListView2->OnDragDrop = [this](TSLLBListView* source, const QPoint& point, bool bCtrl) {
    DragDrop(source, point, bCtrl);
  };
  ListView2->OnFilesDropped = [this](const QStringList& files) { FilesDropped(files); };
  ListView2->OnKeyDown = [this](QKeyEvent* event) { return KeyDown(event); };

  SetColumns(m_pHost ? m_pHost->DefaultColumns() : TColumnLayout());

  if (source && (source->m_FileName.isEmpty() || lb::SamePath(source->m_FileName, path))) {
    m_bCreatedFromDocument = true;
    m_Document = *source;
  }
  m_Document.SetFileName(path);

  if (area) {
    m_pSubWindow = area->addSubWindow(this);
    m_pSubWindow->setAttribute(Qt::WA_DeleteOnClose);
  }
  SetCaption(m_Document.GetTitle());

  if (bNew && !m_bCreatedFromDocument) return;
  if (!m_bCreatedFromDocument && !m_Document.Load(false)) {
    // The loader has told the user why; the window goes away without a question.
    m_bLoadFailed = true;
    QWidget* frame = m_pSubWindow ? static_cast<QWidget*>(m_pSubWindow) : this;
    frame->hide();
    frame->deleteLater();
    return;
  }
  RefreshCount();
  RestartSync();
}

TMDIChild::~TMDIChild() {
  ListView2->setAcceptDrops(false);
  ListView2->viewport()->setAcceptDrops(false);
  m_pSyncThread.reset();
  if (m_pHost && !m_bLoadFailed) {
    if (m_Document.m_bNew)
      m_pHost->ForgetList(m_Document.m_FileName);
    else
      m_pHost->WindowClosed(this);
    if (m_pHost->PlayerFollows(this)) m_pHost->PlayerStopFollowing(this);
  }
  m_bDestroyed = true;
  // The view goes before the document it shows.
  delete ListView2;
  ListView2 = nullptr;
}

TMDIChild* TMDIChild::FromListView(TSLLBListView* view) {
  return view ? qobject_cast<TMDIChild*>(view->parentWidget()) : nullptr;
}

// ---------------------------------------------------------------------------------
// IDocumentWindow

IDocumentWindow::Placement TMDIChild::GetPlacement() const {
  const QWidget* frame = m_pSubWindow ? static_cast<const QWidget*>(m_pSubWindow) : this;
  Placement p;
  const Qt::WindowStates state = frame->windowState();
  p.state = state.testFlag(Qt::WindowMinimized) ? 1 : state.testFlag(Qt::WindowMaximized) ? 2 : 0;
  const QRect rect = frame->geometry();
  p.left = rect.left();
  p.top = rect.top();
  p.width = rect.width();
  p.height = rect.height();
  return p;
}

void TMDIChild::SetPlacement(const Placement& placement) {
  QWidget* frame = m_pSubWindow ? static_cast<QWidget*>(m_pSubWindow) : this;
  frame->setWindowState(Qt::WindowNoState);
  if (placement.width > 0 && placement.height > 0)
    frame->setGeometry(placement.left, placement.top, placement.width, placement.height);
  if (placement.state == 1)
    frame->setWindowState(Qt::WindowMinimized);
  else if (placement.state == 2)
    frame->setWindowState(Qt::WindowMaximized);
}

TColumnLayout TMDIChild::Columns() const {
  TColumnLayout columns;
  for (int n = 0; n < ListView2->GetColumnCount(); ++n) {
    TSLLBListColumn column = ListView2->GetColumn(n);
    columns.append({column.GetTag(), column.GetWigth()});
  }
  return columns;
}

void TMDIChild::SetColumns(const TColumnLayout& columns) {
  const TColumnLayout& layout = columns.isEmpty() ? lb::DefaultColumnLayout() : columns;
  // The rows' selection and focus belong to the songs, not to the columns.
  const std::vector<int> selected = ListView2->SelectedItems();
  const int focused = ListView2->currentIndex().row();
  ListView2->setUpdatesEnabled(false);
  ListView2->ClearColumns();
  for (const auto& [kind, width] : layout)
    if (lb::IsColumnKind(kind)) ListView2->AddColumn(kind, lb::ColumnCaption(kind), width);
  ListView2->SelectItems(selected);
  ListView2->SetState(focused, TSLLBListView::isFocused, true);
  ListView2->setUpdatesEnabled(true);
}

void TMDIChild::SetCaption(const QString& caption) {
  m_Caption = caption;
  UpdateTitle();
}

void TMDIChild::UpdateTitle() {
  const QString title = m_Document.m_bModified ? m_Caption + "*" : m_Caption;
  if (windowTitle() != title) setWindowTitle(title);
}

void TMDIChild::ShowWindow() {
  if (m_pSubWindow)
    m_pSubWindow->show();
  else
    show();
}

void TMDIChild::Activate() {
  if (!m_pSubWindow) {
    activateWindow();
    return;
  }
  if (m_pSubWindow->isMinimized()) m_pSubWindow->showNormal();
  if (QMdiArea* area = m_pSubWindow->mdiArea()) area->setActiveSubWindow(m_pSubWindow);
}

void TMDIChild::SelectSongs(const std::vector<int>& rows) {
  std::vector<int> present;
  present.reserve(rows.size());
  for (int row : rows)
    if (row >= 0 && row < ListView2->GetCount()) present.push_back(row);
  ListView2->SelectItems(present);
  if (!present.empty()) ListView2->MakeVisible(present.front(), false);
}

bool TMDIChild::CloseWindow() {
  return m_pSubWindow ? m_pSubWindow->close() : close();
}

bool TMDIChild::ClosingForExit() const {
  return m_pHost && m_pHost->Exiting();
}

// ---------------------------------------------------------------------------------
// Player and synchronisation reports

void TMDIChild::PlayerRowRemoving(int n) {
  if (m_pHost) m_pHost->PlayerRowRemoving(this, n);
}

void TMDIChild::PlayerRowRemoved(int n) {
  if (m_pHost) m_pHost->PlayerRowRemoved(this, n);
}

void TMDIChild::PlayerForgetRow() {
  if (m_pHost) m_pHost->PlayerForgetRow(this);
}

void TMDIChild::SyncStatus(const QString& text) {
  StatusPanel[1]->setText(text);
}

QString TMDIChild::StatusText(int panel) const {
  return StatusPanel[panel]->text();
}

void TMDIChild::ListChanged(bool bStopFollowing) {
  if (bStopFollowing && m_pHost) m_pHost->PlayerStopFollowing(this);
  m_bPlayerListOutdated = true;
}

bool TMDIChild::CanRemoveSongs() const {
  return lb::CanRemoveSongs(m_Document);
}

void TMDIChild::RestartSync() {
  m_pSyncThread.reset();
  m_pSyncThread = std::make_unique<TSyncThread>(&m_Document, this);
  m_pSyncThread->Resume();
}

void TMDIChild::RefreshCount() {
  ListView2->SetCount(m_Document.m_Songs.size());
  ListView2->viewport()->update();
  SelectionChanged();
}

void TMDIChild::SelectRows(int first, int count) {
  std::vector<int> rows;
  for (int n = first; n < first + count && n < ListView2->GetCount(); ++n) rows.push_back(n);
  ListView2->SelectItems(rows);
  if (rows.empty()) return;
  ListView2->SetState(rows.front(), TSLLBListView::isFocused, true);
  ListView2->MakeVisible(rows.front(), false);
}

void TMDIChild::RemoveSongRow(int n) {
  ListView2->Model()->RemoveRow(n);
  m_Document.RemoveRange(n, 1);
}

std::vector<int> TMDIChild::GatherSelected(bool bDeselect) {
  std::vector<int> items = ListView2->SelectedItems();
  if (bDeselect && !items.empty()) ListView2->UnselectAllItems();
  return items;
}

// ---------------------------------------------------------------------------------
// List operations

std::vector<int> TMDIChild::RemoveSelected(
    const std::function<void(const std::vector<int>&)>& remove) {
  // Removing songs under a running pass would pull them from under it.
  if (!CanRemoveSongs()) {
    Message(lb::kSyncRunningMessage, MB_ICONERROR);
    return {};
  }
  TOperationCursor cursor;
  const std::vector<int> items = GatherSelected(true);
  ListChanged(true);
  remove(items);
  RefreshCount();
  return items;
}

void TMDIChild::EditCut() {
  RemoveSelected([this](const std::vector<int>& rows) { m_Document.CutToClipboard(rows); });
}

void TMDIChild::EditCopy() {
  TOperationCursor cursor;
  m_Document.CopyToClipboard(GatherSelected(false));
}

void TMDIChild::EditPaste() {
  ListChanged(true);
  TOperationCursor cursor;
  const int first = ListView2->GetSelected();
  const int at = first < 0 ? 0 : first + 1;
  const int before = m_Document.m_Songs.size();
  m_Document.PasteFromClipboard(at);
  RefreshCount();
  // The pasted songs become the selection, ready for the next command.
  SelectRows(at, m_Document.m_Songs.size() - before);
}

void TMDIChild::EditDelete() {
  // Like Cut, Delete leaves no row selected: a second Delete must not take a song the
  // user never chose.
  RemoveSelected([this](const std::vector<int>& rows) {
    if (!rows.empty()) m_Document.DeleteSongs(rows);
  });
}

void TMDIChild::SelectItems(bool bSelectAll) {
  TOperationCursor cursor;
  if (bSelectAll)
    ListView2->SelectAllItems();
  else
    ListView2->InvertSelection();
}

void TMDIChild::SortItems(const std::function<bool(const TSlSong&, const TSlSong&)>& less) {
  ArrangeItems([&less](const std::vector<const TSlSong*>& songs, std::vector<int>& order) {
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return less(*songs[a], *songs[b]); });
  });
}

void TMDIChild::ArrangeItems(const TSlDocument::TSongArranger& arrange) {
  TOperationCursor cursor;
  const std::vector<int> items = GatherSelected(false);
  if (!items.empty()) m_Document.ArrangeSongs(items, arrange);
  m_bPlayerListOutdated = true;
  ListView2->viewport()->update();
}

void TMDIChild::SetSyncFlags(int tag, bool bOn) {
  TOperationCursor cursor;
  std::lock_guard<std::recursive_mutex> lock(m_Document.m_Lock);
  for (const auto& [first, last] : ListView2->SelectedRanges()) {
    for (int n = first; n <= last && n < m_Document.m_Songs.size(); ++n) {
      TSlSong& song = m_Document.m_Songs[n];
      // The pass may hold the song: its lock keeps the two apart.
      std::lock_guard<std::recursive_mutex> songLock(song.cs);
      TSlTag& tagRecord = tag == 1 ? static_cast<TSlTag&>(song.m_Tag1) : song.m_Tag2;
      tagRecord.SetSync(bOn);
    }
  }
  RefreshCount();
}

void TMDIChild::CorrectPaths(bool bFull, bool bAll) {
  TOperationCursor cursor;
  std::lock_guard<std::recursive_mutex> lock(m_Document.m_Lock);
  const int count = m_Document.m_Songs.size();
  auto convert = [&](int n) {
    TSlSong& song = m_Document.m_Songs[n];
    std::lock_guard<std::recursive_mutex> songLock(song.cs);
    song.SetPathForm(bFull);
    ListView2->UpdateItems(n, n);
  };
  if (bAll) {
    for (int n = 0; n < count; ++n) convert(n);
  } else {
    for (const auto& [first, last] : ListView2->SelectedRanges())
      for (int n = first; n <= last && n < count; ++n) convert(n);
  }
}

void TMDIChild::OptionsDeleteFiles() {
  DeleteFiles(QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier));
}

void TMDIChild::DeleteFiles(bool bShift) {
  if (!CanRemoveSongs()) {
    Message(lb::kSyncRunningMessage, MB_ICONERROR);
    return;
  }
  if (Message(bShift ? kDeleteQuestionShift : kDeleteQuestion, MB_YESNO | MB_ICONQUESTION) != IDYES)
    return;
  TSlDelFilesWorkerThread worker(&m_Document, [this](int n) { RemoveSongRow(n); });
  {
    TInfoWindow1 dialog(window(), this, QString::fromUtf8(TSlDelFilesWorkerThread::kAction), true,
                        &worker);
    dialog.exec();
  }
  worker.WaitFor();
  if (!bShift && !worker.m_DeletedPaths.isEmpty() && m_pHost)
    m_pHost->ChangePathsInAllLists(worker.m_DeletedPaths, this);
  m_bPlayerListOutdated = true;
  SelectionChanged();
}

// ---------------------------------------------------------------------------------
// List-view events

void TMDIChild::OnData(int item, int column, bool bText, QString& text, int& image) {
  image = lb::ciNone;
  if (m_bDestroyed) return;
  const auto& columns = ListView2->Model()->Columns();
  if (column < 0 || column >= static_cast<int>(columns.size())) return;
  const int kind = columns[column].tag;
  if (!bText && kind != lb::ckNumber && kind != lb::ckSync1 && kind != lb::ckSync2) return;
  const bool bPlaying =
      !bText && kind == lb::ckNumber && m_pHost && m_pHost->PlayerPlayingRow(this) == item;
  std::lock_guard<std::recursive_mutex> lock(m_Document.m_Lock);
  if (item < 0 || item >= m_Document.m_Songs.size()) return;
  const TSlSong& song = m_Document.m_Songs[item];
  std::lock_guard<std::recursive_mutex> songLock(song.cs);
  if (bText)
    text = lb::ColumnText(song, kind, item);
  else
    image = lb::ColumnImage(song, kind, bPlaying);
}

QString TMDIChild::CellToolTip(int item, int column) {
  if (m_bDestroyed) return QString();
  const auto& columns = ListView2->Model()->Columns();
  if (column < 0 || column >= static_cast<int>(columns.size())) return QString();
  std::lock_guard<std::recursive_mutex> lock(m_Document.m_Lock);
  if (item < 0 || item >= m_Document.m_Songs.size()) return QString();
  const TSlSong& song = m_Document.m_Songs[item];
  std::lock_guard<std::recursive_mutex> songLock(song.cs);
  return lb::ColumnToolTip(song, columns[column].tag);
}

void TMDIChild::SelectionChanged() {
  if (m_bDestroyed || !ListView2) return;
  StatusPanel[0]->setText(SelectionStatus(ListView2->GetSelCount(), ListView2->GetCount()));
}

void TMDIChild::ListClick(const QPoint& point) {
  std::vector<int> widths;
  for (int n = 0; n < ListView2->GetColumnCount(); ++n)
    widths.push_back(ListView2->GetColumn(n).GetWigth());
  const int column = lb::ColumnAtX(widths, point.x() + ListView2->GetViewOrigin().x());
  if (column < 0) return;
  const int kind = ListView2->GetColumn(column).GetTag();
  if (kind != lb::ckSync1 && kind != lb::ckSync2) return;
  const int row = ListView2->GetItemIndexAt(point);
  if (row < 0 || row >= m_Document.m_Songs.size()) return;
  bool ok;
  {
    std::lock_guard<std::recursive_mutex> lock(m_Document.m_Lock);
    TSlSong& song = m_Document.m_Songs[row];
    std::lock_guard<std::recursive_mutex> songLock(song.cs);
    TSlTag& tag = kind == lb::ckSync1 ? static_cast<TSlTag&>(song.m_Tag1) : song.m_Tag2;
    ok = tag.SetSync(!tag.bTagSync);
  }
  if (!ok) Message(kSyncFlagError, MB_ICONERROR);
  ListView2->UpdateItems(row, row);
}

void TMDIChild::ColumnClick(int column) {
  if (column < 0 || column >= ListView2->GetColumnCount()) return;
  const int kind = ListView2->GetColumn(column).GetTag();
  if (kind == lb::ckNumber) {
    TOperationCursor cursor;
    if (ListView2->GetSelCount() > 0)
      ListView2->UnselectAllItems();
    else
      ListView2->SelectAllItems();
  } else if (kind == lb::ckPath) {
    RestartSync();
  }
}

void TMDIChild::DblClick(int item) {
  if (!m_pHost) return;
  switch (m_pHost->Settings().ReadInteger("Settings", "DblClkAction", 0)) {
    case 0:
      m_pHost->PlayerPlayFrom(this, item);
      break;
    case 1:
      m_pHost->ExecuteCommand("OptionsTagsEdit");
      break;
    default:
      break;
  }
}

bool TMDIChild::KeyDown(QKeyEvent* event) {
  if (event->key() != Qt::Key_Space && event->key() != Qt::Key_Execute) return false;
  if (m_pHost) m_pHost->ExecuteCommand("WinampPlay");
  return true;
}

bool TMDIChild::DragOver(TSLLBListView* source) {
  if (!source) return false;
  if (m_pSubWindow && m_pSubWindow->mdiArea() &&
      m_pSubWindow->mdiArea()->activeSubWindow() != m_pSubWindow)
    Activate();
  return true;
}

void TMDIChild::DragDrop(TSLLBListView* pSourceList, const QPoint& point, bool bCtrl) {
  TSLLBListView* pSenderList = ListView2;
  LB_ASSERT(pSenderList && pSourceList);
  TMDIChild* pSenderChild = FromListView(pSenderList);
  TMDIChild* pSourceChild = FromListView(pSourceList);
  LB_ASSERT(pSenderChild && pSourceChild);
  TMDIChild* source = pSourceChild;
  const bool bSame = source == this;
  const bool bMove = lb::DropMoves(bSame, bCtrl);
  if (bMove && !source->CanRemoveSongs()) {
    Message(lb::kSyncRunningMessage, MB_ICONERROR);
    return;
  }
  ListChanged(true);
  if (bMove && !bSame) source->ListChanged(true);

  const int row = ListView2->GetItemIndexAt(point);
  const QRect rect = ListView2->GetItemRect(row);
  // The row's rectangle ends below its last line, as the list control gives it.
  const int index = lb::DropIndex(row, rect.top(), rect.top() + rect.height(), point.y(),
                                  m_Document.m_Songs.size());
  TOperationCursor cursor;
  const std::vector<int> items = source->GatherSelected(bMove);
  const int at = lb::CarrySongs(source->m_Document, items, m_Document, index, bMove);
  RefreshCount();
  if (at >= 0 && at < ListView2->GetCount()) {
    ListView2->MakeVisible(at, false);
    ListView2->SetState(at, TSLLBListView::isFocused, true);
  }
  if (bMove && !bSame) source->RefreshCount();
}

void TMDIChild::FilesDropped(const QStringList& files) {
  TSlInsertFilesManager manager(files);
  manager.m_Repository = m_pHost ? m_pHost->ListRepository() : nullptr;
  if (manager.BadExtensions()) {
    Message(kBadExtensions, MB_ICONERROR);
    return;
  }
  manager.InsertFromDrop();
  if (manager.m_FoundSongs.empty()) return;
  {
    TOperationCursor cursor;
    const int last = ListView2->GetLastSelected();
    const int index = last < 0 ? m_Document.m_Songs.size() : last + 1;
    m_Document.InsertSongs(manager.m_FoundSongs, 0, static_cast<int>(manager.m_FoundSongs.size()),
                           std::min(index, static_cast<int>(m_Document.m_Songs.size())));
    m_bPlayerListOutdated = true;
  }
  RefreshCount();
  RestartSync();
}

void TMDIChild::Timer1Timer() {
  TMDIChild* active = this;
  if (m_pSubWindow && m_pSubWindow->mdiArea()) {
    QMdiSubWindow* sub = m_pSubWindow->mdiArea()->activeSubWindow();
    active = sub ? qobject_cast<TMDIChild*>(sub->widget()) : nullptr;
  }
  if (!active) return;
  active->AutoScroll(active->ListView2->viewport()->mapFromGlobal(QCursor::pos()));
}

void TMDIChild::AutoScroll(const QPoint& point) {
  if (ListView2->GetCount() == 0) return;
  const QWidget* viewport = ListView2->viewport();
  if (point.x() < 0 || point.x() > viewport->width()) return;
  const int h = ListView2->GetItemRect(0).height();
  if (point.y() > viewport->height())
    ListView2->ScrollBy(std::max(point.y() - viewport->height(), h));
  else if (point.y() < 0)
    ListView2->ScrollBy(-std::max(-point.y(), h));
}

bool TMDIChild::QueryClose() {
  if (m_bCloseAgreed) return true;
  if (m_Document.m_bModified && !m_bLoadFailed) {
    const int answer = UiServices::Instance().MessageBoxWithHelp(
        m_Document.m_FileName + QString::fromUtf8(kSaveQuestion), UiServices::kCaption,
        MB_YESNOCANCEL | MB_ICONQUESTION, kCloseQuestionHelp);
    if (answer == IDCANCEL || (answer == IDYES && !(m_pHost && m_pHost->SaveDocument(this))))
      return false;
  }
  m_bCloseAgreed = true;
  return true;
}

void TMDIChild::closeEvent(QCloseEvent* event) {
  // A long job that lets the windows turn may be reading this list: it stays open until
  // the job has ended or been stopped.
  if ((!m_bCloseAgreed && InfoWindowManager().Depth() > 0) || !QueryClose()) {
    event->ignore();
    return;
  }
  m_bClosing = true;
  event->accept();
}
