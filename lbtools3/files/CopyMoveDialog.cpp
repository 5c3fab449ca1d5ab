#include "CopyMoveDialog.h"

#include "FileErrorDialogs.h"
#include "FileOperation.h"
#include "ListPaths.h"
#include "lbtools3/model/M3uList.h"
#include "lbtools3/ui/IDocumentHost.h"
#include "lbtools3/ui/WorkerDialog.h"
#include "platform/Assert.h"
#include "platform/IniFile.h"
#include "platform/UiServices.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// The selected rows of the window as the worker sees them: fixed for the run (the
// modal progress dialog holds the window), repainted in the window, and the player
// told about rows that go.
class TWindowRows : public lb::TRowSelection {
 public:
  explicit TWindowRows(IDocumentWindow* window)
      : TRowSelection(window->Document(), Selected(window)), m_pWindow(window) {}
  void RedrawSongs(int nFirst, int nLast) override {
    for (int n = nFirst; n <= nLast; ++n) m_pWindow->RedrawRow(n);
  }
  void PlayerRowRemoving(int n) override { m_pWindow->Host()->PlayerRowRemoving(m_pWindow, n); }
  void PlayerRowRemoved(int n) override { m_pWindow->Host()->PlayerRowRemoved(m_pWindow, n); }
  void PlayerForgetRow() override { m_pWindow->Host()->PlayerForgetRow(m_pWindow); }

 private:
  static std::set<int> Selected(IDocumentWindow* window) {
    const std::vector<int> rows = window->SelectedRows();
    return std::set<int>(rows.begin(), rows.end());
  }
  IDocumentWindow* m_pWindow;
};

}  // namespace

TCopyMoveFiles::TCopyMoveFiles(IDocumentWindow* child, bool bCopy, IRepositoryLists* repository,
                               QWidget* parent)
    : QDialog(parent), m_Child(child), m_bCopy(bCopy), m_pLists(repository) {
  LB_ASSERT(m_Child && m_Child->Host());
  setWindowTitle(QString(UiServices::kCaption) +
                 (bCopy ? " - Копирование файлов" : " - Перемещение файлов"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Корневая папка:"));
  auto* rootRow = new QHBoxLayout;
  rootRow->addWidget(DirectoryEdit1 = new QComboBox, 1);
  DirectoryEdit1->setEditable(true);
  DirectoryEdit1->setInsertPolicy(QComboBox::NoInsert);
  rootRow->addWidget(BrowseBtn = new QPushButton("Выбрать"));
  layout->addLayout(rootRow);

  layout->addWidget(new QLabel("Систематизация:"));
  auto* lists = new QGridLayout;
  lists->addWidget(new QLabel("Выбранное:"), 0, 0);
  lists->addWidget(new QLabel("Доступное:"), 0, 2);
  lists->addWidget(ListViewSelected = new QListWidget, 1, 0);
  lists->addWidget(ListViewUnselected = new QListWidget, 1, 2);
  for (QListWidget* list : {ListViewSelected, ListViewUnselected})
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  auto* arrows = new QVBoxLayout;
  auto makeArrow = [&](QAction** action, Qt::ArrowType arrow, const QKeySequence& key,
                       const char* hint) {
    *action = new QAction(this);
    (*action)->setShortcut(key);
    (*action)->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    (*action)->setToolTip(hint);
    addAction(*action);
    auto* button = new QToolButton;
    button->setArrowType(arrow);
    button->setDefaultAction(*action);
    button->setArrowType(arrow);
    arrows->addWidget(button);
  };
  makeArrow(&LeftArrow, Qt::LeftArrow, Qt::Key_Insert,
            "Выбрать выделенные критерии систематизации");
  makeArrow(&RightArrow, Qt::RightArrow, Qt::Key_Delete,
            "Отменить выделенные критерии систематизации");
  makeArrow(&UpArrow, Qt::UpArrow, QKeySequence(Qt::CTRL | Qt::Key_Up),
            "Передвинуть выбранные записи вверх");
  makeArrow(&DownArrow, Qt::DownArrow, QKeySequence(Qt::CTRL | Qt::Key_Down),
            "Передвинуть выбранные записи вниз");
  arrows->addStretch();
  lists->addLayout(arrows, 1, 1);
  layout->addLayout(lists);

  layout->addWidget(CheckBoxChangePaths = new QCheckBox("Заменить пути в листе на новые файлы"));
  CheckBoxChangePaths->setToolTip(
      "При копировании пути в листах будут указывать\r\nна новое местоположение файлов");
  layout->addWidget(CheckBoxCorrectFolders = new QCheckBox("Корректировать имена папок"));
  CheckBoxCorrectFolders->setToolTip(
      "Генерируемые в соответствии с установками пользователя\r\nимена директорий будут "
      "корректироваться с учётом требований\r\nфайловой системы");
  auto* box = new QDialogButtonBox;
  BtnApply = box->addButton("Применить", QDialogButtonBox::ApplyRole);
  OKBtn = box->addButton("Да", QDialogButtonBox::AcceptRole);
  CancelBtn = box->addButton("Отмена", QDialogButtonBox::RejectRole);
  OKBtn->setDefault(true);
  layout->addWidget(box);

  connect(BrowseBtn, &QPushButton::clicked, this, &TCopyMoveFiles::BrowseBtnClick);
  connect(BtnApply, &QPushButton::clicked, this, &TCopyMoveFiles::BtnApplyClick);
  connect(OKBtn, &QPushButton::clicked, this, &TCopyMoveFiles::OKBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
  connect(LeftArrow, &QAction::triggered, this, [this] {
    const QList<int> rows =
        m_Criteria.Choose(SelectedRows(ListViewUnselected), SelectedRows(ListViewSelected));
    ShowCriteria(rows, {});
  });
  connect(RightArrow, &QAction::triggered, this,
          [this] { ShowCriteria({}, m_Criteria.Unchoose(SelectedRows(ListViewSelected))); });
  connect(UpArrow, &QAction::triggered, this,
          [this] { ShowCriteria(m_Criteria.MoveUp(SelectedRows(ListViewSelected)), {}); });
  connect(DownArrow, &QAction::triggered, this,
          [this] { ShowCriteria(m_Criteria.MoveDown(SelectedRows(ListViewSelected)), {}); });
  for (QListWidget* list : {ListViewSelected, ListViewUnselected})
    connect(list, &QListWidget::itemSelectionChanged, this, &TCopyMoveFiles::UpdateArrows);
  connect(qApp, &QApplication::focusChanged, this, &TCopyMoveFiles::UpdateArrows);

  const lb::TCopyMoveSettings s = lb::TCopyMoveSettings::Load(m_Child->Host()->Settings());
  m_History = s.history;
  DirectoryEdit1->addItems(m_History);
  DirectoryEdit1->setEditText(s.root);
  CheckBoxCorrectFolders->setChecked(s.bCorrect);
  m_Criteria = lb::TCriteriaLists(s.criteria);
  CheckBoxChangePaths->setEnabled(m_bCopy);
  if (!m_bCopy) CheckBoxChangePaths->setChecked(false);
  ShowCriteria({}, {});
  // Each list can hold every criterion: all of them show without scrolling.
  const int rowHeight =
      qMax(ListViewSelected->sizeHintForRow(0), ListViewUnselected->sizeHintForRow(0));
  const int rowWidth =
      qMax(ListViewSelected->sizeHintForColumn(0), ListViewUnselected->sizeHintForColumn(0));
  for (QListWidget* list : {ListViewSelected, ListViewUnselected}) {
    const int frame = 2 * list->frameWidth();
    list->setMinimumSize(rowWidth + frame, rowHeight * lb::kCriterionCount + frame);
  }
}

QList<int> TCopyMoveFiles::SelectedRows(const QListWidget* list) {
  QList<int> rows;
  for (int i = 0; i < list->count(); ++i)
    if (list->item(i)->isSelected()) rows << i;
  return rows;
}

void TCopyMoveFiles::ShowCriteria(const QList<int>& selectedRows,
                                  const QList<int>& unselectedRows) {
  auto fill = [](QListWidget* list, const QList<int>& criteria, const QList<int>& rows) {
    QSignalBlocker blocker(list);
    list->clear();
    for (int n : criteria) {
      auto* item = new QListWidgetItem(lb::CriterionCaption(n), list);
      item->setData(Qt::UserRole, n);
    }
    for (int row : rows)
      if (row >= 0 && row < list->count()) list->item(row)->setSelected(true);
  };
  fill(ListViewSelected, m_Criteria.selected, selectedRows);
  fill(ListViewUnselected, m_Criteria.unselected, unselectedRows);
  UpdateArrows();
}

void TCopyMoveFiles::UpdateArrows() {
  QWidget* focus = QApplication::focusWidget();
  const bool bListFocused = focus == ListViewSelected || focus == ListViewUnselected;
  const bool bChosen = !ListViewSelected->selectedItems().isEmpty();
  LeftArrow->setEnabled(bListFocused && !ListViewUnselected->selectedItems().isEmpty());
  for (QAction* a : {RightArrow, UpArrow, DownArrow}) a->setEnabled(bListFocused && bChosen);
}

void TCopyMoveFiles::BrowseBtnClick() {
  const QString folder = UiServices::Instance().GetExistingFolder("Выберите корневую папку",
                                                                  DirectoryEdit1->currentText());
  if (!folder.isEmpty()) DirectoryEdit1->setEditText(folder);
}

QString TCopyMoveFiles::RootFolder() const {
  // A relative root lies below the list's folder (the home folder for a new list),
  // where the list's brief paths point too.
  const QString& list = m_Child->Document().m_FileName;
  const QString base = list.isEmpty() ? QDir::homePath() : lb::ListFolder(list);
  return lb::AbsoluteRootFolder(DirectoryEdit1->currentText(), base);
}

void TCopyMoveFiles::StoreSettings(const QString& root) {
  lb::TCopyMoveSettings s;
  s.root = root;
  s.bCorrect = CheckBoxCorrectFolders->isChecked();
  s.criteria = m_Criteria.selected;
  s.history = m_History;
  s.Store(m_Child->Host()->Settings());
  m_History = s.history;
  DirectoryEdit1->clear();
  DirectoryEdit1->addItems(m_History);
  DirectoryEdit1->setEditText(root);
}

void TCopyMoveFiles::BtnApplyClick() {
  StoreSettings(RootFolder());
}

void TCopyMoveFiles::OKBtnClick() {
  UiServices& ui = UiServices::Instance();
  const QString root = RootFolder();
  DirectoryEdit1->setEditText(root);
  if (!lb::EnsureRootFolder(root)) return;
  StoreSettings(root);

  TCopyMoveThread::Options options;
  options.bCopy = m_bCopy;
  options.bChangePaths = m_bCopy && CheckBoxChangePaths->isChecked();
  options.bCorrect = CheckBoxCorrectFolders->isChecked();
  options.root = root;
  options.criteria = m_Criteria.selected;
  TWindowRows rows(m_Child);
  const int selected = rows.SelectedCount();
  IDocumentHost* host = m_Child->Host();
  // A move keeps the other lists and this one in step with the files as it goes.
  lb::TPathCheckpoint checkpoint([this, host](const QStringList& pairs) {
    host->ChangePathsInAllLists(pairs, m_Child);
    lb::SaveListInStep(m_Child->Document());
  });
  QStringList pairs;
  int processed = 0, skipped = 0;
  {
    TNewErRenameFile errors(this);
    TNewErCreateDir dirErrors(this);
    lb::TFileOperation operation(&errors);
    lb::TListedFiles listed(m_Child->Document(), m_pLists);
    operation.m_IsListed = [&listed](const QString& path) { return listed.Names(path); };
    TCopyMoveThread worker(&m_Child->Document(), options, &operation, &dirErrors);
    if (!m_bCopy) worker.m_pCheckpoint = &checkpoint;
    {
      TInfoWindow1 dialog(this, &rows,
                          m_bCopy ? TCopyMoveThread::kCopyAction : TCopyMoveThread::kMoveAction,
                          true, &worker);
      dialog.exec();
    }
    worker.WaitFor();
    pairs = worker.m_Pairs;
    processed = worker.m_nProcessed;
    skipped = worker.m_nSkipped;
  }
  if (!m_bCopy) {
    checkpoint.Flush();
  } else if (options.bChangePaths && !pairs.isEmpty() &&
             ui.MessageBox("Желаете изменить пути на скопированные файлы\nво всех остальных "
                           "листах ?",
                           UiServices::kCaption, MB_YESNO | MB_ICONQUESTION) == IDYES) {
    host->ChangePathsInAllLists(pairs, m_Child);
  }
  if (!m_bCopy) host->PlayerForgetRow(m_Child);
  m_Child->SetChangedSinceSent(true);
  ui.MessageBox(lb::CopyMoveSummary(selected, processed, skipped), UiServices::kCaption,
                MB_OK | MB_ICONINFORMATION);
  accept();
}
