#include "RenameDialog.h"

#include "FileErrorDialogs.h"
#include "ListPaths.h"
#include "Rename.h"
#include "lbtools3/ui/Help.h"
#include "lbtools3/ui/IDocumentHost.h"
#include "lbtools3/ui/WindowUndo.h"
#include "platform/Assert.h"
#include "platform/IniFile.h"
#include "platform/UiServices.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// A rename as the window's last change: the files go back, this list and the others
// follow them as they did the rename, and what could not go back is reported.
class TRenameWindowUndo : public lb::TWindowUndo {
 public:
  explicit TRenameWindowUndo(std::unique_ptr<lb::TRenameUndo> undo) : m_Undo(std::move(undo)) {}
  QString Text() const override { return lb::TRenameUndo::kText; }
  bool Available(IDocumentWindow& window) override {
    return window.Host() && m_Undo->Available(window.Document());
  }
  void Run(IDocumentWindow& window) override {
    lb::TPathCheckpoint checkpoint([&window](const QStringList& pairs) {
      window.Host()->ChangePathsInAllLists(pairs, &window);
      lb::SaveListInStep(window.Document());
    });
    m_Undo->Run(window.Document(), &checkpoint, [&window](int n) { window.RedrawRow(n); });
    checkpoint.Flush();
    window.SetChangedSinceSent(true);
    if (!m_Undo->m_NotUndone.isEmpty())
      UiServices::Instance().MessageBox(m_Undo->Report(), UiServices::kCaption,
                                        MB_OK | MB_ICONWARNING);
  }

 private:
  std::unique_ptr<lb::TRenameUndo> m_Undo;
};

}  // namespace

TNewRenameFiles::TNewRenameFiles(IDocumentWindow* child, IRepositoryLists* lists, QWidget* parent)
    : QDialog(parent), m_Child(child), m_pLists(lists) {
  LB_ASSERT(m_Child && m_Child->Host());
  setWindowTitle("Переименование файлов по тэгам");
  lb::SetHelpTopic(this, lb::HelpContextTopic(5));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Edit1 = new QLineEdit);
  auto* digits = new QFormLayout;
  digits->addRow("Миним. кол-во цифр в порядковом номере песни:", Edit2 = new QLineEdit);
  Edit2->setValidator(new QIntValidator(0, 9, Edit2));
  layout->addLayout(digits);
  layout->addWidget(CheckBoxCorrectFolders = new QCheckBox("Корректировать имена файлов"));
  CheckBoxCorrectFolders->setToolTip(
      "Генерируемые в соответствии с установками пользователя\r\nимена директорий будут "
      "корректироваться с учётом требований\r\nфайловой системы");
  layout->addWidget(Label1 =
                        new QLabel("Имена файлов конструируются по строке - маске с использованием "
                                   "переменных:"));
  auto* help = new QHBoxLayout;
  help->addWidget(Label2 = new QLabel("%1 - Название (тэг v1)\n%2 - Исполнитель (тэг v1)\n"
                                      "%3 - Альбом (тэг v1)\n%4 - Год (тэг v1)\n"
                                      "%5 - Комменарий (тэг v1)\n%6 - Жанр (тэг v1)\n"
                                      "%7 - Название (тэг v2)\n%8 - Исполнитель (тэг v2)\n"
                                      "%9 - Альбом (тэг v2)"));
  help->addWidget(Label3 = new QLabel("%10 - Год (тэг v2)\n%11 - Комменарий (тэг v2)\n"
                                      "%12 - Жанр (тэг v2)\n%13 - Композитор (тэг v2)\n"
                                      "%14 - Ориг. исполнитель (тэг v2)\n"
                                      "%15 - Авторские права (тэг v2)\n"
                                      "%16 - Кем кодирован (тэг v2)\n%17 - Номер песни в листе\n"
                                      "%n - Имя файла, %e - Расширение, %% - Знак %"));
  help->addWidget(Label4 = new QLabel("Модификаторы (%&1):\n& - все заглавные\n_ - все строчные\n"
                                      "$ - первая заглавная\n^ - каждое слово с заглавной"));
  for (QLabel* label : {Label2, Label3, Label4}) {
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  }
  layout->addLayout(help);
  layout->addWidget(Preview = new QTreeWidget);
  Preview->setHeaderLabels({"Старое имя", "Новое имя"});
  Preview->setRootIsDecorated(false);
  Preview->setMinimumHeight(160);
  auto* box = new QDialogButtonBox;
  OKBtn = box->addButton("Да", QDialogButtonBox::AcceptRole);
  CancelBtn = box->addButton("Отмена", QDialogButtonBox::RejectRole);
  OKBtn->setDefault(true);
  connect(OKBtn, &QPushButton::clicked, this, &TNewRenameFiles::OKBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
  layout->addWidget(box);

  const lb::TRenameSettings s = lb::TRenameSettings::Load(m_Child->Host()->Settings());
  Edit1->setText(s.mask);
  Edit2->setText(QString::number(s.digits));
  CheckBoxCorrectFolders->setChecked(s.bCorrect);
  connect(Edit1, &QLineEdit::textChanged, this, &TNewRenameFiles::UpdatePreview);
  connect(Edit2, &QLineEdit::textChanged, this, &TNewRenameFiles::UpdatePreview);
  connect(CheckBoxCorrectFolders, &QCheckBox::toggled, this, &TNewRenameFiles::UpdatePreview);
  UpdatePreview();
}

void TNewRenameFiles::UpdatePreview() {
  Preview->clear();
  QList<lb::TMaskPiece> pieces;
  if (lb::ParseRenameMask(Edit1->text(), &pieces) != lb::TMaskError::None) return;
  const QList<lb::TRenamePreview> preview =
      lb::PreviewRenames(m_Child->Document(), m_Child->SelectedRows(), pieces,
                         Edit2->text().toInt(), CheckBoxCorrectFolders->isChecked());
  for (const lb::TRenamePreview& p : preview) {
    QString newName = p.newName.isEmpty() ? "(не меняется: нет нужных тэгов)" : p.newName;
    if (p.bConflict) newName += "  — имя занято";
    auto* item = new QTreeWidgetItem(Preview, {p.oldName, newName});
    if (p.bConflict) item->setForeground(1, Qt::red);
  }
  Preview->resizeColumnToContents(0);
}

void TNewRenameFiles::OKBtnClick() {
  UiServices& ui = UiServices::Instance();
  QList<lb::TMaskPiece> pieces;
  const lb::TMaskError error = lb::ParseRenameMask(Edit1->text(), &pieces);
  if (error != lb::TMaskError::None) {
    ui.MessageBox(lb::MaskErrorText(error), UiServices::kCaption, MB_OK | MB_ICONERROR);
    return;
  }
  lb::TRenameSettings s;
  s.mask = Edit1->text();
  s.digits = Edit2->text().toInt();
  s.bCorrect = CheckBoxCorrectFolders->isChecked();
  s.Store(m_Child->Host()->Settings());

  const std::vector<int> rows = m_Child->SelectedRows();
  lb::TSlRenameFiles rename(pieces, s.digits, s.bCorrect);
  rename.m_RowRenamed = [this](int n) {
    m_Child->RedrawRow(n);
    m_Child->EnsureRowVisible(n);
  };
  // The other lists and this one follow the files as they go.
  lb::TPathCheckpoint checkpoint([this](const QStringList& pairs) {
    m_Child->Host()->ChangePathsInAllLists(pairs, m_Child);
    lb::SaveListInStep(m_Child->Document());
  });
  bool complete;
  {
    TNewErRenameFile errors(this);
    lb::TFileOperation operation(&errors);
    lb::TListedFiles listed(m_Child->Document(), m_pLists);
    operation.m_IsListed = [&listed](const QString& path) { return listed.Names(path); };
    complete = rename.Run(m_Child->Document(), rows, operation, &checkpoint);
  }
  checkpoint.Flush();
  m_Child->SetChangedSinceSent(true);
  // "Отменить" renames the files back.
  if (!rename.m_Undo->Empty())
    lb::SetLastChange(m_Child, std::make_unique<TRenameWindowUndo>(std::move(rename.m_Undo)));
  if (!complete)
    ui.MessageBox(lb::TSlRenameFiles::kStopped, UiServices::kCaption, MB_OK | MB_ICONWARNING);
  accept();
}
