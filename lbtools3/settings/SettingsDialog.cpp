#include "SettingsDialog.h"

#include "lbtools3/ui/Help.h"
#include "platform/UiServices.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QFileInfo>
#include <algorithm>
#include <QHeaderView>
#include <QTableWidget>
#include <QTabWidget>
#include <QVBoxLayout>

// ---------------------------------------------------------------------------------
// THotKeyEdit

THotKeyEdit::THotKeyEdit(QWidget* parent) : QLineEdit(parent) {
  setReadOnly(true);
  SetShortCut(0);
}

void THotKeyEdit::SetShortCut(uint16_t shortCut) {
  m_ShortCut = shortCut;
  const QKeyCombination key = KeyFromShortCut(shortCut);
  setText(key.key() == Qt::Key(0) ? QStringLiteral("Нет")
                                  : QKeySequence(key).toString(QKeySequence::NativeText));
}

void THotKeyEdit::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  const Qt::KeyboardModifiers mods = event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier |
                                                           Qt::AltModifier | Qt::MetaModifier);
  // Escape alone still cancels the dialog.
  if (key == Qt::Key_Escape && mods == Qt::NoModifier) {
    event->ignore();
    return;
  }
  event->accept();
  if (key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta ||
      key == Qt::Key_AltGr || key == Qt::Key_unknown)
    return;
  if ((key == Qt::Key_Backspace || key == Qt::Key_Delete) && mods == Qt::NoModifier) {
    SetShortCut(0);
    return;
  }
  const uint16_t code = ShortCutFromKey(QKeyCombination(mods, Qt::Key(key)));
  if (code != 0) SetShortCut(code);
}

// ---------------------------------------------------------------------------------
// TPropertiesForm

namespace {

// Enabled controls of the edit kind show the window colour, disabled ones the
// button face, so a field the user cannot change looks like it at a glance.
void SetEnabledPainted(QWidget* w, bool enabled) {
  w->setEnabled(enabled);
  QPalette p = w->palette();
  const QPalette standard = w->style() ? w->style()->standardPalette() : QPalette();
  const QColor colour = enabled ? standard.color(QPalette::Active, QPalette::Base)
                                : standard.color(QPalette::Active, QPalette::Button);
  for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    p.setColor(g, QPalette::Base, colour);
  w->setPalette(p);
}

QCheckBox* NewCheckBox(QWidget* parent, const char* name, const QString& caption) {
  auto* box = new QCheckBox(caption, parent);
  box->setObjectName(QLatin1String(name));
  return box;
}

}  // namespace

TPropertiesForm::TPropertiesForm(QWidget* parent, TIniFile& ini, ISettingsEffects* effects)
    : QDialog(parent), m_Model(ini), m_Effects(effects) {
  setObjectName(QStringLiteral("PropertiesForm"));
  setWindowTitle(QStringLiteral("Настройка"));
  auto* tabs = new QTabWidget(this);
  tabs->setObjectName(QStringLiteral("PageControl1"));
  m_Pages = tabs;
  lb::SetHelpTopic(this, QStringLiteral("settings"));
  BuildGeneralPage(tabs);
  BuildAdvancedPage(tabs);
  BuildOtherPage(tabs);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(QStringLiteral("Да"), QDialogButtonBox::AcceptRole);
  ok->setObjectName(QStringLiteral("Button1"));
  ok->setDefault(true);
  QPushButton* cancel = buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("Button2"));
  connect(ok, &QPushButton::clicked, this, &TPropertiesForm::Button1Click);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs);
  layout->addWidget(buttons);

  ShowPropertiesForm();
}

void TPropertiesForm::BuildGeneralPage(QTabWidget* tabs) {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabSheet1"));
  auto* layout = new QVBoxLayout(page);

  auto* group = new QGroupBox(QStringLiteral("Рабочие расширения файлов:"), page);
  group->setObjectName(QStringLiteral("GroupBox1"));
  auto* groupLayout = new QHBoxLayout(group);
  auto* label = new QLabel(QStringLiteral("Рабочие расширения файлов:"), group);
  Edit2 = new QLineEdit(group);
  Edit2->setObjectName(QStringLiteral("Edit2"));
  label->setBuddy(Edit2);
  groupLayout->addWidget(label);
  groupLayout->addWidget(Edit2, 1);
  layout->addWidget(group);

  CheckBox2 =
      NewCheckBox(page, "CheckBox2", QStringLiteral("Просматривать ярлыки во время сканирования"));
  CheckBox3 =
      NewCheckBox(page, "CheckBox3", QStringLiteral("Проверять хранилище листов при старте"));
  CheckBox4 = NewCheckBox(page, "CheckBox4", QStringLiteral("Очищать буфер обмена при выходе"));
  CheckBox9 = NewCheckBox(page, "CheckBox9", QStringLiteral("Быстрый запуск проигрывания листов"));
  CheckBox11 =
      NewCheckBox(page, "CheckBox11", QStringLiteral("Вырезать отсутствующее при загрузке листа"));
  CheckBox12 =
      NewCheckBox(page, "CheckBox12", QStringLiteral("Полные пути в названиях документов"));
  CheckBox7 = NewCheckBox(page, "CheckBox7", QStringLiteral("Работа с полными путями файлов"));
  CheckBox1 = NewCheckBox(page, "CheckBox1",
                          QStringLiteral("При запуске редактора тэгов заполнять списки"));
  CheckBox6 =
      NewCheckBox(page, "CheckBox6", QStringLiteral("Скрывать программу в трей при сворачивании"));
  for (QCheckBox* box : {CheckBox2, CheckBox3, CheckBox4, CheckBox9, CheckBox11, CheckBox12,
                         CheckBox7, CheckBox1, CheckBox6})
    layout->addWidget(box);
  layout->addStretch(1);
  connect(CheckBox11, &QCheckBox::toggled, this, &TPropertiesForm::CheckBox11Click);
  tabs->addTab(page, QStringLiteral("Общее"));
}

void TPropertiesForm::BuildAdvancedPage(QTabWidget* tabs) {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabSheet2"));
  auto* layout = new QGridLayout(page);

  CheckBox8 = NewCheckBox(page, "CheckBox8", QStringLiteral("Работа с программой Audacious"));
  Edit3 = new QLineEdit(page);
  Edit3->setObjectName(QStringLiteral("Edit3"));
  BrowseWinampBtn = new QPushButton(QStringLiteral("Найти"), page);
  BrowseWinampBtn->setObjectName(QStringLiteral("BrowseWinampBtn"));
  layout->addWidget(CheckBox8, 0, 0, 1, 3);
  layout->addWidget(Edit3, 1, 0, 1, 2);
  layout->addWidget(BrowseWinampBtn, 1, 2);

  HotKeyLabel = new QLabel(QStringLiteral("Горячие клавиши управления Audacious:"), page);
  HotKeyLabel->setObjectName(QStringLiteral("HotKeyLabel"));
  ComboBox1 = new QComboBox(page);
  ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  ComboBox1->addItems(HotKeySlotNames());
  HotKeyLabel->setBuddy(ComboBox1);
  HotKey1 = new THotKeyEdit(page);
  HotKey1->setObjectName(QStringLiteral("HotKey1"));
  CheckBox10 = NewCheckBox(page, "CheckBox10", QStringLiteral("Глобально..."));
  layout->addWidget(HotKeyLabel, 2, 0, 1, 3);
  layout->addWidget(ComboBox1, 3, 0);
  layout->addWidget(HotKey1, 3, 1);
  layout->addWidget(CheckBox10, 3, 2);

  Label1 = new QLabel(QStringLiteral("DLL глобальной обработки клавиш:"), page);
  Label1->setObjectName(QStringLiteral("Label1"));
  HookLabel = new QLabel(page);
  HookLabel->setObjectName(QStringLiteral("HookLabel"));
  HookLabel->setText(m_Effects && m_Effects->HookLibraryLoaded() ? QStringLiteral("загружена")
                                                                 : QStringLiteral("не загружена"));
  layout->addWidget(Label1, 4, 0);
  layout->addWidget(HookLabel, 4, 1, 1, 2);

  CheckBox5 =
      NewCheckBox(page, "CheckBox5", QStringLiteral("Текстовый просмотрщик для m3u-листов:"));
  EditorPath = new QLineEdit(page);
  EditorPath->setObjectName(QStringLiteral("EditorPath"));
  BrowseEditBtn = new QPushButton(QStringLiteral("Найти"), page);
  BrowseEditBtn->setObjectName(QStringLiteral("BrowseEditBtn"));
  layout->addWidget(CheckBox5, 5, 0, 1, 3);
  layout->addWidget(EditorPath, 6, 0, 1, 2);
  layout->addWidget(BrowseEditBtn, 6, 2);
  layout->setRowStretch(7, 1);
  layout->setColumnStretch(1, 1);

  connect(CheckBox8, &QCheckBox::toggled, this, &TPropertiesForm::CheckBox8Click);
  connect(CheckBox5, &QCheckBox::toggled, this, &TPropertiesForm::CheckBox5Click);
  connect(ComboBox1, &QComboBox::currentIndexChanged, this, &TPropertiesForm::ComboBox1Change);
  connect(BrowseWinampBtn, &QPushButton::clicked, this, &TPropertiesForm::BrowseBtnClick);
  connect(BrowseEditBtn, &QPushButton::clicked, this, &TPropertiesForm::BrowseBtnClick);
  tabs->addTab(page, QStringLiteral("Дополнительно"));
}

void TPropertiesForm::BuildOtherPage(QTabWidget* tabs) {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabSheet3"));
  auto* layout = new QVBoxLayout(page);

  auto* shellText = new QLabel(
      QStringLiteral(
          "Команда добавления файлов и проводника Windows (только для рабочих расширений файлов)."),
      page);
  shellText->setWordWrap(true);
  layout->addWidget(shellText);
  auto* shellRow = new QHBoxLayout;
  shellRow->addWidget(new QLabel(QStringLiteral("Проводник:"), page));
  BtnActive = new QPushButton(QStringLiteral("Вкл."), page);
  BtnActive->setObjectName(QStringLiteral("BtnActive"));
  BtnDeactive = new QPushButton(QStringLiteral("Выкл."), page);
  BtnDeactive->setObjectName(QStringLiteral("BtnDeactive"));
  shellRow->addWidget(BtnActive);
  shellRow->addWidget(BtnDeactive);
  shellRow->addStretch(1);
  layout->addLayout(shellRow);

  auto* velocityLabel = new QLabel(
      QStringLiteral("Замедление перемещения указателя проигрываемой песни при повороте колеса:"),
      page);
  velocityLabel->setWordWrap(true);
  EditVelocity = new QLineEdit(page);
  EditVelocity->setObjectName(QStringLiteral("EditVelocity"));
  velocityLabel->setBuddy(EditVelocity);
  layout->addWidget(velocityLabel);
  layout->addWidget(EditVelocity);

  auto* actionLabel = new QLabel(QStringLiteral("Действие по двойному нажатию на песню"), page);
  ComboBoxDblClkAction = new QComboBox(page);
  ComboBoxDblClkAction->setObjectName(QStringLiteral("ComboBoxDblClkAction"));
  ComboBoxDblClkAction->addItems(
      {QStringLiteral("Запускать песню"), QStringLiteral("Редактировать тэги")});
  actionLabel->setBuddy(ComboBoxDblClkAction);
  layout->addWidget(actionLabel);
  layout->addWidget(ComboBoxDblClkAction);

  auto* codePageLabel =
      new QLabel(QStringLiteral("Кодовая страница тэгов ID3v1 и старых листов:"), page);
  ComboBoxTagCodePage = new QComboBox(page);
  ComboBoxTagCodePage->setObjectName(QStringLiteral("ComboBoxTagCodePage"));
  for (const auto& [number, name] : lbset::TagCodePageChoices())
    ComboBoxTagCodePage->addItem(name, number);
  codePageLabel->setBuddy(ComboBoxTagCodePage);
  layout->addWidget(codePageLabel);
  layout->addWidget(ComboBoxTagCodePage);

  auto* drivesGroup = new QGroupBox(QStringLiteral("Диски в листах из Windows:"), page);
  drivesGroup->setObjectName(QStringLiteral("DrivesGroup"));
  auto* drivesLayout = new QGridLayout(drivesGroup);
  DrivesTable = new QTableWidget(0, 2, drivesGroup);
  DrivesTable->setObjectName(QStringLiteral("DrivesTable"));
  DrivesTable->setHorizontalHeaderLabels({QStringLiteral("Диск"), QStringLiteral("Папка")});
  DrivesTable->horizontalHeader()->setStretchLastSection(true);
  DrivesTable->verticalHeader()->hide();
  DrivesTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  AddDriveBtn = new QPushButton(QStringLiteral("Добавить"), drivesGroup);
  AddDriveBtn->setObjectName(QStringLiteral("AddDriveBtn"));
  DeleteDriveBtn = new QPushButton(QStringLiteral("Удалить"), drivesGroup);
  DeleteDriveBtn->setObjectName(QStringLiteral("DeleteDriveBtn"));
  drivesLayout->addWidget(DrivesTable, 0, 0, 3, 1);
  drivesLayout->addWidget(AddDriveBtn, 0, 1);
  drivesLayout->addWidget(DeleteDriveBtn, 1, 1);
  drivesLayout->setRowStretch(2, 1);
  layout->addWidget(drivesGroup, 1);

  connect(BtnActive, &QPushButton::clicked, this, &TPropertiesForm::BtnActiveClick);
  connect(BtnDeactive, &QPushButton::clicked, this, &TPropertiesForm::BtnDeactiveClick);
  connect(AddDriveBtn, &QPushButton::clicked, this, &TPropertiesForm::AddDriveBtnClick);
  connect(DeleteDriveBtn, &QPushButton::clicked, this, &TPropertiesForm::DeleteDriveBtnClick);
  tabs->addTab(page, QStringLiteral("Разное"));
}

void TPropertiesForm::ShowPropertiesForm() {
  m_bFilling = true;
  m_Model.Load();
  const TSettingsValues& v = m_Model.Values();
  Edit2->setText(v.extensions);
  CheckBox2->setChecked(v.scanUseLinks);
  CheckBox3->setChecked(v.checkDatabase);
  CheckBox4->setChecked(v.clearClipboard);
  CheckBox9->setChecked(v.fastPlay);
  CheckBox11->setChecked(v.cutNonPresent);
  CheckBox12->setChecked(v.fullPathTitles);
  CheckBox7->setChecked(v.fullPathsInsert);
  CheckBox1->setChecked(v.generateExtInf);
  CheckBox6->setChecked(v.hideMainWindow);
  CheckBox8->setChecked(v.winamp);
  Edit3->setText(v.winampPath);
  CheckBox5->setChecked(v.editorPathUsed);
  EditorPath->setText(v.editorPath);
  EditVelocity->setText(v.velocity);
  ComboBoxDblClkAction->setCurrentIndex(v.dblClkAction);
  // A hand-written page outside the offered ones is shown as its number.
  if (ComboBoxTagCodePage->findData(v.tagCodePage) < 0)
    ComboBoxTagCodePage->addItem(QString::number(v.tagCodePage), v.tagCodePage);
  ComboBoxTagCodePage->setCurrentIndex(ComboBoxTagCodePage->findData(v.tagCodePage));
  DrivesTable->setRowCount(0);
  for (const TDriveFolder& d : v.drives) {
    const int row = DrivesTable->rowCount();
    DrivesTable->insertRow(row);
    DrivesTable->setItem(row, 0, new QTableWidgetItem(d.letter));
    DrivesTable->setItem(row, 1, new QTableWidgetItem(d.folder));
  }

  m_nSlot = -1;
  {
    const QSignalBlocker block(ComboBox1);
    ComboBox1->setCurrentIndex(0);
  }
  ComboBox1Change(0);

  CheckBox8Click();
  CheckBox5Click();
  CheckBox11Click();
  m_bFilling = false;
}

void TPropertiesForm::CollectValues() {
  TSettingsValues& v = m_Model.Values();
  v.extensions = Edit2->text();
  v.scanUseLinks = CheckBox2->isChecked();
  v.checkDatabase = CheckBox3->isChecked();
  v.clearClipboard = CheckBox4->isChecked();
  v.fastPlay = CheckBox9->isChecked();
  v.cutNonPresent = CheckBox11->isChecked();
  v.fullPathTitles = CheckBox12->isChecked();
  v.fullPathsInsert = CheckBox7->isChecked();
  v.generateExtInf = CheckBox1->isChecked();
  v.hideMainWindow = CheckBox6->isChecked();
  v.winamp = CheckBox8->isChecked();
  v.winampPath = Edit3->text();
  v.editorPathUsed = CheckBox5->isChecked();
  v.editorPath = EditorPath->text();
  v.velocity = EditVelocity->text();
  v.dblClkAction = std::max(0, ComboBoxDblClkAction->currentIndex());
  v.tagCodePage = ComboBoxTagCodePage->currentData().toInt();
  v.drives.clear();
  for (int row = 0; row < DrivesTable->rowCount(); ++row) {
    const QTableWidgetItem* letter = DrivesTable->item(row, 0);
    const QTableWidgetItem* folder = DrivesTable->item(row, 1);
    const QString l = letter ? letter->text().trimmed() : QString();
    const QString f = folder ? folder->text().trimmed() : QString();
    if (!l.isEmpty() || !f.isEmpty()) v.drives.append({l, f});
  }
}

void TPropertiesForm::AddDriveBtnClick() {
  const int row = DrivesTable->rowCount();
  DrivesTable->insertRow(row);
  DrivesTable->setItem(row, 0, new QTableWidgetItem);
  DrivesTable->setItem(row, 1, new QTableWidgetItem);
  DrivesTable->setCurrentCell(row, 0);
  DrivesTable->editItem(DrivesTable->item(row, 0));
}

void TPropertiesForm::DeleteDriveBtnClick() {
  const int row = DrivesTable->currentRow();
  if (row >= 0) DrivesTable->removeRow(row);
}

void TPropertiesForm::StoreShownSlot() {
  if (m_nSlot < 0 || m_nSlot >= kHotKeySlotCount) return;
  THotKeySlot& slot = m_Model.Values().hotKeys[m_nSlot];
  slot.key = HotKey1->ShortCut();
  slot.global = CheckBox10->isChecked();
}

void TPropertiesForm::ComboBox1Change(int row) {
  StoreShownSlot();
  m_nSlot = row;
  if (row < 0 || row >= kHotKeySlotCount) return;
  const THotKeySlot& slot = m_Model.Values().hotKeys[row];
  HotKey1->SetShortCut(slot.key);
  CheckBox10->setChecked(slot.global);
}

void TPropertiesForm::CheckBox8Click() {
  const bool on = CheckBox8->isChecked();
  for (QWidget* w : {static_cast<QWidget*>(CheckBox10), static_cast<QWidget*>(HotKeyLabel),
                     static_cast<QWidget*>(Label1), static_cast<QWidget*>(HookLabel),
                     static_cast<QWidget*>(HotKey1), static_cast<QWidget*>(BrowseWinampBtn)})
    w->setEnabled(on);
  SetEnabledPainted(Edit3, on);
  SetEnabledPainted(ComboBox1, on);
  if (on && !m_bFilling && Edit3->text().isEmpty()) {
    QString path;
    if (LocateWinamp(&path)) Edit3->setText(path);
  }
}

void TPropertiesForm::CheckBox5Click() {
  const bool on = CheckBox5->isChecked();
  SetEnabledPainted(EditorPath, on);
  BrowseEditBtn->setEnabled(on);
}

void TPropertiesForm::CheckBox11Click() {
  if (CheckBox11->isChecked()) CheckBox9->setChecked(false);
  CheckBox9->setEnabled(!CheckBox11->isChecked());
}

void TPropertiesForm::BrowseBtnClick() {
  const bool viewer = sender() == BrowseEditBtn;
  QLineEdit* target = viewer ? EditorPath : Edit3;
  // An empty field names no folder: the dialog starts in the last one used.
  const QString folder =
      target->text().isEmpty() ? QString() : QFileInfo(target->text()).absolutePath();
  const QStringList names = UiServices::Instance().GetOpenFileNames(QString(), folder, QString());
  if (!names.isEmpty()) target->setText(names.first());
}

void TPropertiesForm::RegisterShell(bool bRegister) {
  // An empty text would make the routine fall back to the stored extensions.
  if (Edit2->text().trimmed().isEmpty()) {
    UiServices::Instance().MessageBox(QStringLiteral("Неправильно заданы расширения файлов"),
                                      UiServices::kCaption, MB_OK | MB_ICONERROR);
    return;
  }
  RegisterShellExtension(bRegister, Edit2->text());
}

void TPropertiesForm::BtnActiveClick() {
  RegisterShell(true);
}

void TPropertiesForm::BtnDeactiveClick() {
  RegisterShell(false);
}

void TPropertiesForm::Button1Click() {
  CollectValues();
  StoreShownSlot();
  TSettingsModel::TField failing = TSettingsModel::sfNone;
  m_Model.Validate(&failing);
  if (m_Model.Accept(m_Effects)) {
    accept();
    return;
  }
  ShowFailingField(failing);
}

void TPropertiesForm::ShowFailingField(TSettingsModel::TField failing) {
  // The field a check's message is about: its page comes to the front, the field gets
  // the focus with its text selected for retyping.
  const std::pair<TSettingsModel::TField, QLineEdit*> fields[] = {
      {TSettingsModel::sfExtensions, Edit2},
      {TSettingsModel::sfPlayerPath, Edit3},
      {TSettingsModel::sfEditorPath, EditorPath},
      {TSettingsModel::sfVelocity, EditVelocity}};
  for (const auto& [which, field] : fields) {
    if (which != failing) continue;
    for (int page = 0; page < m_Pages->count(); ++page)
      if (m_Pages->widget(page)->isAncestorOf(field)) m_Pages->setCurrentIndex(page);
    field->setFocus(Qt::OtherFocusReason);
    field->selectAll();
    return;
  }
}
