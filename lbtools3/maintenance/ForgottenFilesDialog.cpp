#include "ForgottenFilesDialog.h"

#include "lbtools3/ui/Help.h"
#include "lbtools3/ui/IRepositoryLists.h"
#include "platform/IniFile.h"
#include "platform/UiServices.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TDeadFilesDlg::TDeadFilesDlg(IRepositoryLists& lists, TIniFile& ini, QWidget* parent)
    : QDialog(parent), m_Lists(lists), m_Ini(ini) {
  setWindowTitle("Поиск забытых файлов");
  lb::SetHelpTopic(this, lb::HelpContextTopic(24));
  auto* layout = new QVBoxLayout(this);

  auto* folders = new QGroupBox("Выбор папок", this);
  auto* foldersLayout = new QVBoxLayout(folders);
  auto* editRow = new QHBoxLayout;
  DirectoryEdit1 = new QLineEdit(QDir::homePath(), folders);
  BrowseBtn = new QPushButton("...", folders);
  editRow->addWidget(DirectoryEdit1, 1);
  editRow->addWidget(BrowseBtn);
  foldersLayout->addLayout(editRow);
  auto* buttonRow = new QHBoxLayout;
  ButtonAdd = new QPushButton("Добавить", folders);
  ButtonRemove = new QPushButton("Удалить", folders);
  buttonRow->addWidget(ButtonAdd);
  buttonRow->addWidget(ButtonRemove);
  buttonRow->addStretch(1);
  foldersLayout->addLayout(buttonRow);
  TextListBox1 = new QListWidget(folders);
  TextListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  foldersLayout->addWidget(TextListBox1, 1);
  layout->addWidget(folders, 1);

  auto* scope = new QGroupBox("Просматриваемые листы:", this);
  auto* scopeLayout = new QHBoxLayout(scope);
  RadioButton1 = new QRadioButton("Все", scope);
  RadioButton2 = new QRadioButton("Отмеченные", scope);
  RadioButton1->setChecked(true);
  RadioButton2->setEnabled(m_Lists.SelectedCount() > 0);
  scopeLayout->addWidget(RadioButton1);
  scopeLayout->addWidget(RadioButton2);
  scopeLayout->addStretch(1);
  layout->addWidget(scope);

  auto* buttons = new QDialogButtonBox(this);
  OkBtn = buttons->addButton("Да", QDialogButtonBox::AcceptRole);
  CancelBtn = buttons->addButton("Отмена", QDialogButtonBox::RejectRole);
  layout->addWidget(buttons);

  TextListBox1->addItems(lb::ReadSearchFolders(m_Ini));
  m_FolderList =
      new TSearchFolderList(TextListBox1, DirectoryEdit1, BrowseBtn, ButtonAdd, ButtonRemove);
  connect(OkBtn, &QPushButton::clicked, this, &TDeadFilesDlg::OkBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
  resize(460, 420);
}

TDeadFilesDlg::~TDeadFilesDlg() {
  lb::WriteSearchFolders(m_Ini, Folders());
}

void TDeadFilesDlg::OkBtnClick() {
  m_FolderList->AddPending();
  m_Search.Run(m_Lists, RadioButton2->isChecked(), Folders());
  accept();
}
