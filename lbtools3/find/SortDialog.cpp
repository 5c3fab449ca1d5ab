#include "SortDialog.h"

#include "lbtools3/model/SongFields.h"
#include "lbtools3/ui/DialogButtons.h"
#include "lbtools3/ui/Help.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TNewSortDlg::TNewSortDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Сортировка");
  lb::SetHelpTopic(this, lb::HelpContextTopic(4));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Сортировать по:", this));
  ComboBox1 = new QComboBox(this);
  for (int kind : lb::SortKinds()) ComboBox1->addItem(lb::ColumnCaption(kind), kind);
  ComboBox1->setCurrentIndex(0);
  layout->addWidget(ComboBox1);

  RadioButton1 = new QRadioButton("По возрастанию", this);
  RadioButton2 = new QRadioButton("По убыванию", this);
  CheckBox1 = new QCheckBox("Учитывать регистр", this);
  (g_bSortAscending ? RadioButton1 : RadioButton2)->setChecked(true);
  CheckBox1->setChecked(g_bSortCaseSensitive);
  layout->addWidget(RadioButton1);
  layout->addWidget(RadioButton2);
  layout->addWidget(CheckBox1);
  connect(RadioButton1, &QRadioButton::clicked, this, [] { g_bSortAscending = true; });
  connect(RadioButton2, &QRadioButton::clicked, this, [] { g_bSortAscending = false; });
  connect(CheckBox1, &QCheckBox::clicked, this, [](bool on) { g_bSortCaseSensitive = on; });

  const lb::TDialogButtons buttons = lb::AddDialogButtons(this, layout);
  OKBtn = buttons.ok;
  CancelBtn = buttons.cancel;
  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
}

lb::TSortOrder TNewSortDlg::Order() const {
  return {ComboBox1->currentData().toInt(), RadioButton1->isChecked(), CheckBox1->isChecked()};
}
