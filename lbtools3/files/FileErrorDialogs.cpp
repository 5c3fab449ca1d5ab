#include "FileErrorDialogs.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QLineEdit* ReadOnlyEdit() {
  auto* edit = new QLineEdit;
  edit->setReadOnly(true);
  edit->setMinimumWidth(420);
  return edit;
}

void AddButtons(QDialog* dialog, QVBoxLayout* layout, QPushButton** ok, QPushButton** cancel) {
  auto* box = new QDialogButtonBox;
  *ok = box->addButton("Да", QDialogButtonBox::AcceptRole);
  *cancel = box->addButton("Отмена", QDialogButtonBox::RejectRole);
  (*ok)->setDefault(true);
  QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  layout->addWidget(box);
}

}  // namespace

TNewErRenameFile::TNewErRenameFile(QWidget* parent) : QDialog(parent) {
  setWindowTitle("LBTools - работа с файлами");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Следующий файл:"));
  layout->addWidget(EditPath = ReadOnlyEdit());
  layout->addWidget(new QLabel("Не удаётся скопировать/переименовать/переместить в:"));
  layout->addWidget(EditPath2 = ReadOnlyEdit());
  layout->addWidget(new QLabel("Ошибка:"));
  layout->addWidget(LabelError = new QLabel);
  LabelError->setWordWrap(true);
  layout->addWidget(new QLabel("Возможные действия:"));
  layout->addWidget(RadioButton1 = new QRadioButton("Пытаться снова"));
  layout->addWidget(RadioButton2 = new QRadioButton("Задать новое имя для файла"));
  layout->addWidget(EditNewName = new QLineEdit);
  layout->addWidget(RadioButton3 = new QRadioButton("Перезаписать этот файл"));
  layout->addWidget(RadioButton4 = new QRadioButton("Пропустить этот файл"));
  layout->addWidget(RadioButton5 = new QRadioButton("Пропустить все ошибочные файлы"));
  layout->addWidget(RadioButton6 = new QRadioButton("Перезаписать все существующие файлы"));
  layout->addWidget(RadioButton7 = new QRadioButton("Пропустить все существующие файлы"));
  AddButtons(this, layout, &OKBtn, &CancelBtn);
  RadioButton1->setChecked(true);
  EditNewName->setEnabled(false);
  connect(RadioButton2, &QRadioButton::toggled, EditNewName, &QLineEdit::setEnabled);
}

int TNewErRenameFile::Ask(const lb::TFileErrorInfo& info, QString& newName) {
  // Each file starts with "try again"; the same file shown again keeps the choice.
  if (info.source != m_LastSource || info.target != m_LastTarget) RadioButton1->setChecked(true);
  m_LastSource = info.source;
  m_LastTarget = info.target;
  EditPath->setText(info.source);
  EditPath2->setText(info.target);
  LabelError->setText(info.error);
  for (QRadioButton* b : {RadioButton3, RadioButton6, RadioButton7}) {
    b->setEnabled(info.targetExists);
    if (!info.targetExists && b->isChecked()) RadioButton1->setChecked(true);
  }
  EditNewName->setText(newName);
  // A window of its own: the job disabled the main window it belongs to, not this
  // question, which must take the user's answer.
  setEnabled(true);
  if (exec() != QDialog::Accepted) return lb::fcCancel;
  newName = EditNewName->text();
  const QRadioButton* choices[] = {RadioButton1, RadioButton2, RadioButton3, RadioButton4,
                                   RadioButton5, RadioButton6, RadioButton7};
  for (int i = 0; i < 7; ++i)
    if (choices[i]->isChecked()) return i + 1;
  return lb::fcRetry;
}

TNewErCreateDir::TNewErCreateDir(QWidget* parent) : QDialog(parent) {
  setWindowTitle("LBTools - создание директории");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Невозможно создать директорию:"));
  layout->addWidget(EditPath = ReadOnlyEdit());
  layout->addWidget(new QLabel("Ошибка:"));
  layout->addWidget(LabelError = new QLabel);
  LabelError->setWordWrap(true);
  layout->addWidget(new QLabel("Возможные действия:"));
  layout->addWidget(RadioButton1 = new QRadioButton("Пытаться снова"));
  layout->addWidget(RadioButton2 = new QRadioButton("Использовать новое имя"));
  layout->addWidget(EditNewName = new QLineEdit);
  AddButtons(this, layout, &OKBtn, &CancelBtn);
  EditNewName->setEnabled(false);
  connect(RadioButton2, &QRadioButton::toggled, EditNewName, &QLineEdit::setEnabled);
}

int TNewErCreateDir::Ask(const QString& path, const QString& error, QString& newName) {
  RadioButton1->setChecked(true);
  EditPath->setText(path);
  LabelError->setText(error);
  EditNewName->setText(newName);
  setEnabled(true);  // as above: the question stays answerable under a job
  if (exec() != QDialog::Accepted) return lb::dcCancel;
  newName = EditNewName->text();
  return RadioButton2->isChecked() ? lb::dcNewName : lb::dcRetry;
}
