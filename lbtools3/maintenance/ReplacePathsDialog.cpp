#include "ReplacePathsDialog.h"

#include "CheckList.h"

#include "lbtools3/ui/Help.h"
#include "lbtools3/ui/IDocumentWindow.h"
#include "platform/IniFile.h"
#include "platform/UiServices.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
constexpr char kCaseKey[] = "Replace Paths case";

QString ShownReplacement(const lb::TDrivePair& pair) {
  return pair.replacement.size() == 1 ? pair.replacement + ':' : pair.replacement;
}
}  // namespace

TNewReplacePaths::TNewReplacePaths(IDocumentWindow* child, TIniFile& ini, QWidget* parent)
    : QDialog(parent), m_Child(child), m_Ini(ini) {
  setWindowTitle("Замена путей файлов");
  lb::SetHelpTopic(this, lb::HelpContextTopic(21));
  auto* layout = new QVBoxLayout(this);

  auto* partGroup = new QGroupBox("Замена части путей", this);
  auto* partLayout = new QVBoxLayout(partGroup);
  partLayout->addWidget(new QLabel("Что искать:", partGroup));
  EditFind = new QLineEdit(partGroup);
  partLayout->addWidget(EditFind);
  partLayout->addWidget(new QLabel("На что заменить:", partGroup));
  EditReplace = new QLineEdit(partGroup);
  partLayout->addWidget(EditReplace);
  CheckBox1 = new QCheckBox("Поиск с учётом регистра", partGroup);
  partLayout->addWidget(CheckBox1);
  layout->addWidget(partGroup);

  auto* driveGroup = new QGroupBox("Замена дисков", this);
  auto* driveLayout = new QVBoxLayout(driveGroup);
  auto* note = new QLabel(
      "Слева находятся диски, указанные в путях. Справа то, на что их можно заменить", driveGroup);
  note->setWordWrap(true);
  driveLayout->addWidget(note);
  RxDrawGridDisks = new QTableWidget(0, 2, driveGroup);
  RxDrawGridDisks->horizontalHeader()->hide();
  RxDrawGridDisks->verticalHeader()->hide();
  RxDrawGridDisks->horizontalHeader()->setStretchLastSection(true);
  driveLayout->addWidget(RxDrawGridDisks);
  layout->addWidget(driveGroup, 1);

  auto* buttons = new QDialogButtonBox(this);
  OKBtn = buttons->addButton("Да", QDialogButtonBox::AcceptRole);
  CancelBtn = buttons->addButton("Отмена", QDialogButtonBox::RejectRole);
  OKBtn->setDefault(true);
  layout->addWidget(buttons);
  connect(OKBtn, &QPushButton::clicked, this, &TNewReplacePaths::OKBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

  CheckBox1->setChecked(m_Ini.ReadBool("Settings", kCaseKey, false));
  if (m_Child) m_Drives = lb::CollectDrives(m_Child->Document(), m_Child->SelectedRows());
  m_bHasDrives = !m_Drives.empty();
  FillGrid();
  resize(420, 420);
}

void TNewReplacePaths::FillGrid() {
  RxDrawGridDisks->setRowCount(int(m_Drives.size()));
  RxDrawGridDisks->setEnabled(m_bHasDrives);
  const QStringList pickList = lb::DrivePickList(m_Ini);
  for (int row = 0; row < int(m_Drives.size()); ++row) {
    auto* drive = new QTableWidgetItem(QString(m_Drives[row].drive) + ':');
    drive->setFlags(Qt::ItemIsEnabled);
    RxDrawGridDisks->setItem(row, 0, drive);
    auto* combo = new QComboBox(RxDrawGridDisks);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->addItems(pickList);
    combo->setCurrentText(ShownReplacement(m_Drives[row]));
    RxDrawGridDisks->setCellWidget(row, 1, combo);
    auto apply = [this, row, combo] {
      if (!SetReplacement(row, combo->currentText()))
        combo->setCurrentText(ShownReplacement(m_Drives[row]));
    };
    connect(combo, &QComboBox::textActivated, this, apply);
    connect(combo->lineEdit(), &QLineEdit::editingFinished, this, apply);
  }
}

bool TNewReplacePaths::SetReplacement(int row, const QString& typed) {
  if (row < 0 || row >= int(m_Drives.size())) return false;
  const QString accepted = lb::AcceptDriveReplacement(typed, m_Ini);
  if (accepted.isEmpty()) return false;
  m_Drives[row].replacement = accepted;
  if (m_Drives[row].Changed()) m_bDrivesChanged = true;
  return true;
}

void TNewReplacePaths::OKBtnClick() {
  // A value still being typed counts as entered.
  for (int row = 0; row < RxDrawGridDisks->rowCount(); ++row)
    if (auto* combo = qobject_cast<QComboBox*>(RxDrawGridDisks->cellWidget(row, 1)))
      SetReplacement(row, combo->currentText());
  m_Ini.WriteBool("Settings", kCaseKey, CheckBox1->isChecked());
  if (m_Child) {
    lb::TReplaceResult result;
    {
      TBusyCursor busy;
      result = Replace();
    }
    UiServices::Instance().MessageBox(
        lb::ReplaceResultMessage(result), UiServices::kCaption,
        MB_OK | (result.lost.isEmpty() ? MB_ICONINFORMATION : MB_ICONWARNING));
  }
  accept();
}

lb::TReplaceResult TNewReplacePaths::Replace() {
  lb::TReplaceRequest request;
  if (m_bHasDrives && m_bDrivesChanged) request.drives = m_Drives;
  request.find = EditFind->text();
  request.replace = EditReplace->text();
  request.bCase = CheckBox1->isChecked();
  const std::vector<int> rows = m_Child->SelectedRows();
  // The synchronisation pass works on the songs' files: it starts again over the new
  // paths.
  m_Child->StopSync();
  const lb::TReplaceResult result = lb::ReplacePaths(m_Child->Document(), rows, request);
  if (!rows.empty()) m_Child->RedrawRows(rows.front(), rows.back());
  m_Child->SetChangedSinceSent(true);
  m_Child->RestartSync();
  return result;
}

void lb::CheckListInWindow(IDocumentWindow* child, const std::function<void()>& findMoved) {
  std::vector<int> missing;
  bool bStopped = false;
  {
    TBusyCursor busy;
    missing = CheckMissingFiles(child->Document(), &bStopped);
    if (!bStopped) child->SelectSongs(missing);
  }
  if (bStopped) {
    UiServices::Instance().MessageBox(kCheckStopped, UiServices::kCaption, MB_OK | MB_ICONWARNING);
    return;
  }
  UiServices::Instance().MessageBox(CheckListMessage(int(missing.size())), UiServices::kCaption,
                                    MB_OK | MB_ICONINFORMATION);
  if (!missing.empty() && findMoved &&
      UiServices::Instance().MessageBox("Найти, куда перемещены пропавшие файлы?",
                                        UiServices::kCaption, MB_YESNO | MB_ICONQUESTION) == IDYES)
    findMoved();
}
