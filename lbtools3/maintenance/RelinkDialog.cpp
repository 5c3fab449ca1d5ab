#include "RelinkDialog.h"

#include "lbtools3/ui/Help.h"
#include "lbtools3/ui/IDocumentHost.h"
#include "lbtools3/ui/IRepositoryLists.h"
#include "platform/IniFile.h"
#include "platform/UiServices.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

TRelinkDlg::TRelinkDlg(IDocumentWindow& window, IDocumentHost& host, IRepositoryLists& lists,
                       TIniFile& ini, QWidget* parent)
    : QDialog(parent), m_Window(window), m_Host(host), m_Lists(lists), m_Ini(ini) {
  setWindowTitle("Поиск перемещённых файлов");
  lb::SetHelpTopic(this, "moved_files");
  auto* layout = new QVBoxLayout(this);

  auto* folders = new QGroupBox("Где искать", this);
  auto* foldersLayout = new QVBoxLayout(folders);
  auto* editRow = new QHBoxLayout;
  DirectoryEdit1 = new QLineEdit(QDir::homePath(), folders);
  BrowseBtn = new QPushButton("...", folders);
  ButtonAdd = new QPushButton("Добавить", folders);
  ButtonRemove = new QPushButton("Удалить", folders);
  editRow->addWidget(DirectoryEdit1, 1);
  editRow->addWidget(BrowseBtn);
  editRow->addWidget(ButtonAdd);
  editRow->addWidget(ButtonRemove);
  foldersLayout->addLayout(editRow);
  auto* listRow = new QHBoxLayout;
  TextListBox1 = new QListWidget(folders);
  TextListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  TextListBox1->setMaximumHeight(110);
  SearchBtn = new QPushButton("Искать", folders);
  listRow->addWidget(TextListBox1, 1);
  listRow->addWidget(SearchBtn, 0, Qt::AlignTop);
  foldersLayout->addLayout(listRow);
  layout->addWidget(folders);

  ResultGrid = new QTableWidget(0, 2, this);
  ResultGrid->setHorizontalHeaderLabels({"Пропавший файл", "Найден (оценка)"});
  ResultGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  ResultGrid->verticalHeader()->hide();
  ResultGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  layout->addWidget(ResultGrid, 1);
  SummaryLabel = new QLabel(this);
  layout->addWidget(SummaryLabel);

  auto* buttons = new QDialogButtonBox(this);
  SureBtn = buttons->addButton("Принять все уверенные", QDialogButtonBox::ActionRole);
  OkBtn = buttons->addButton("Да", QDialogButtonBox::AcceptRole);
  CancelBtn = buttons->addButton("Отмена", QDialogButtonBox::RejectRole);
  layout->addWidget(buttons);

  TextListBox1->addItems(lb::ReadSearchFolders(m_Ini, lb::kRelinkDirsSection));
  SureBtn->setEnabled(false);
  OkBtn->setEnabled(false);
  m_FolderList =
      new TSearchFolderList(TextListBox1, DirectoryEdit1, BrowseBtn, ButtonAdd, ButtonRemove);
  connect(SearchBtn, &QPushButton::clicked, this, &TRelinkDlg::SearchBtnClick);
  connect(SureBtn, &QPushButton::clicked, this, &TRelinkDlg::SureBtnClick);
  connect(OkBtn, &QPushButton::clicked, this, &TRelinkDlg::OkBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
  resize(820, 560);
}

TRelinkDlg::~TRelinkDlg() {
  lb::WriteSearchFolders(m_Ini, Folders(), lb::kRelinkDirsSection);
}

void TRelinkDlg::SearchBtnClick() {
  if (Folders().isEmpty())
    ButtonAddClick();
  else
    m_FolderList->AddPending();
  lb::TRelinkSearch search;
  m_Songs.clear();
  if (search.Run(m_Lists, Folders(), m_Window.Document()) == lb::TRelinkSearch::rrDone)
    m_Songs = std::move(search.m_Songs);
  FillGrid();
}

QComboBox* TRelinkDlg::Combo(int row) const {
  return qobject_cast<QComboBox*>(ResultGrid->cellWidget(row, 1));
}

void TRelinkDlg::FillGrid() {
  ResultGrid->setRowCount(0);
  ResultGrid->setRowCount(int(m_Songs.size()));
  int sure = 0, found = 0;
  for (int row = 0; row < int(m_Songs.size()); ++row) {
    const lb::TRelinkSong& song = m_Songs[row];
    ResultGrid->setItem(row, 0, new QTableWidgetItem(QDir::toNativeSeparators(song.oldPath)));
    auto* combo = new QComboBox(ResultGrid);
    combo->addItem(song.candidates.empty() ? "(не найден)" : "(оставить пропавшим)");
    for (const lb::TRelinkCandidate& c : song.candidates)
      combo->addItem(QDir::toNativeSeparators(c.path) + " (" + QString::number(c.score) + ")");
    combo->setEnabled(!song.candidates.empty());
    ResultGrid->setCellWidget(row, 1, combo);
    sure += song.bSure;
    found += !song.candidates.empty();
  }
  SummaryLabel->setText("Пропавших файлов: " + QString::number(m_Songs.size()) + ", найдено: " +
                        QString::number(found) + ", уверенно: " + QString::number(sure));
  SureBtn->setEnabled(sure > 0);
  OkBtn->setEnabled(found > 0);
}

std::vector<int> TRelinkDlg::Choices() const {
  std::vector<int> choices;
  for (int row = 0; row < ResultGrid->rowCount(); ++row)
    choices.push_back(Combo(row) ? Combo(row)->currentIndex() - 1 : -1);
  return choices;
}

void TRelinkDlg::SetChoice(int song, int candidate) {
  if (QComboBox* combo = Combo(song)) combo->setCurrentIndex(candidate + 1);
}

void TRelinkDlg::SureBtnClick() {
  const std::vector<int> sure = lb::SureChoices(m_Songs);
  for (int row = 0; row < int(sure.size()); ++row)
    if (sure[row] >= 0) SetChoice(row, sure[row]);
}

void TRelinkDlg::OkBtnClick() {
  const QStringList pairs = lb::RelinkPairs(m_Songs, Choices());
  // Every list of the repository follows, the window's own list included.
  if (!pairs.isEmpty()) m_Host.ChangePathsInAllLists(pairs, nullptr);
  accept();
}

void lb::RelinkInWindow(IDocumentWindow& window, IDocumentHost& host, IRepositoryLists& lists,
                        TIniFile& ini, QWidget* parent) {
  TRelinkDlg dialog(window, host, lists, ini, parent);
  dialog.exec();
}
