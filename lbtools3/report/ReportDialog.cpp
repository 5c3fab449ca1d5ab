#include "ReportDialog.h"

#include "Report.h"

#include "lbtools3/model/SongFields.h"
#include "lbtools3/ui/Help.h"
#include "lbtools3/ui/IDocumentWindow.h"
#include "lbtools3/ui/IRepositoryLists.h"
#include "platform/UiServices.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TWriteTextDlg::TWriteTextDlg(IDocumentWindow* child, IRepositoryLists& lists, TIniFile& ini,
                             QWidget* parent)
    : QDialog(parent), m_Child(child), m_Lists(lists), m_Ini(ini) {
  setWindowTitle("Запись в виде текста...");
  lb::SetHelpTopic(this, "report");
  auto* layout = new QVBoxLayout(this);

  layout->addWidget(new QLabel("Имя файла", this));
  auto* fileRow = new QHBoxLayout;
  FilenameEdit1 = new QLineEdit(this);
  BrowseBtn = new QPushButton("...", this);
  BrowseBtn->setToolTip("Выберите имя файла");
  fileRow->addWidget(FilenameEdit1, 1);
  fileRow->addWidget(BrowseBtn);
  layout->addLayout(fileRow);

  auto* middle = new QHBoxLayout;
  auto* fieldsColumn = new QVBoxLayout;
  fieldsColumn->addWidget(new QLabel("Поля для записи:", this));
  ListBoxFields = new QListWidget(this);
  ListBoxFields->setSelectionMode(QAbstractItemView::MultiSelection);
  fieldsColumn->addWidget(ListBoxFields, 1);
  middle->addLayout(fieldsColumn, 1);

  auto* group = new QGroupBox("Листы", this);
  auto* groupLayout = new QVBoxLayout(group);
  const char* const rows[4] = {"Текущий", "Отмеченные", "Открытые", "Все"};
  for (int i = 0; i < 4; ++i) {
    RadioGroup1[i] = new QRadioButton(QString::fromUtf8(rows[i]), group);
    groupLayout->addWidget(RadioGroup1[i]);
  }
  groupLayout->addStretch(1);
  middle->addWidget(group);
  layout->addLayout(middle, 1);

  CheckBoxURL = new QCheckBox("Записать URL в виде ссылки (html - формат)", this);
  layout->addWidget(CheckBoxURL);

  auto* buttons = new QDialogButtonBox(this);
  OKBtn = buttons->addButton("Да", QDialogButtonBox::AcceptRole);
  CancelBtn = buttons->addButton("Отмена", QDialogButtonBox::RejectRole);
  OKBtn->setDefault(true);
  layout->addWidget(buttons);

  connect(BrowseBtn, &QPushButton::clicked, this, &TWriteTextDlg::BrowseClick);
  connect(OKBtn, &QPushButton::clicked, this, &TWriteTextDlg::OKBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
  resize(520, 480);
  FormCreate();
}

int TWriteTextDlg::ListsIndex() const {
  for (int i = 0; i < 4; ++i)
    if (RadioGroup1[i]->isChecked()) return i;
  return lb::rsCurrent;
}

void TWriteTextDlg::SetListsIndex(int index) {
  RadioGroup1[qBound(0, index, 3)]->setChecked(true);
}

void TWriteTextDlg::FormCreate() {
  const lb::TReportSettings settings = lb::TReportSettings::Read(m_Ini);
  SetListsIndex(settings.lists);
  FilenameEdit1->setText(settings.fileName);
  CheckBoxURL->setChecked(settings.bUrlLinks);
  for (int row = 0; row < lb::ReportRowCount(); ++row)
    ListBoxFields->addItem(lb::ColumnCaption(lb::ReportKindOfRow(row)));
  for (int row : lb::ReportRowsOfMask(settings.mask)) ListBoxFields->item(row)->setSelected(true);
}

void TWriteTextDlg::BrowseClick() {
  const QString name = UiServices::Instance().GetSaveFileName(
      "Выберите имя файла", FilenameEdit1->text(),
      "Текстовые файлы (*.txt)|*.txt|HTML - файлы (*.htm)|*.htm|Все файлы (*.*)|*.*");
  if (name.isEmpty()) return;
  // The file dialog gives a typed name the extension of the chosen filter and asks
  // about overwriting that file itself: OK does not ask again about the same name.
  if (QFileInfo(name).suffix().isEmpty()) {
    // Typed under "Все файлы" without an extension: the default one, not yet asked about.
    FilenameEdit1->setText(name + ".txt");
    m_ConfirmedName.clear();
  } else {
    FilenameEdit1->setText(name);
    m_ConfirmedName = name;
  }
}

void TWriteTextDlg::OKBtnClick() {
  QString fileName = FilenameEdit1->text();
  int scope = ListsIndex();
  const bool bValid =
      lb::ValidateReportRequest(&fileName, &scope, m_Child != nullptr, m_ConfirmedName);
  FilenameEdit1->setText(fileName);
  SetListsIndex(scope);
  if (!bValid) return;
  accept();

  QList<int> rows;
  for (int row = 0; row < ListBoxFields->count(); ++row)
    if (ListBoxFields->item(row)->isSelected()) rows << row;
  lb::TReportSettings settings;
  settings.lists = scope;
  settings.fileName = fileName;
  settings.bUrlLinks = CheckBoxURL->isChecked();
  settings.mask = lb::ReportMaskOfRows(rows);
  settings.Write(m_Ini);

  lb::TReportRequest request;
  request.fileName = fileName;
  request.mask = settings.mask;
  request.bUrlLinks = settings.bUrlLinks;
  request.scope = scope;
  request.bHtml = lb::IsHtmlReportName(fileName);
  lb::TReportCurrent current;
  if (m_Child) {
    current.document = &m_Child->Document();
    current.selected = m_Child->SelectedRows();
  }
  lb::WriteReport(request, current, &m_Lists,
                  [](IDocumentWindow* window) { return window->SelectedRows(); });
}
