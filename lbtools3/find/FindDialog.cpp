#include "FindDialog.h"

#include "FindResultsWindow.h"

#include "lbtools3/model/SongFields.h"
#include "lbtools3/ui/DialogButtons.h"
#include "lbtools3/ui/Help.h"
#include "platform/Genres.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TNewFindText::TNewFindText(IDocumentWindow* current, IListsHost* host, TIniFile& ini,
                           TNewFindTextForm* results, QWidget* parent)
    : QDialog(parent), m_pCurrent(current), m_pHost(host), m_Ini(ini), m_pResults(results) {
  setWindowTitle("Поиск текста...");
  lb::SetHelpTopic(this, lb::HelpContextTopic(2));
  const TFindChoices choices = TFindChoices::Load(ini);
  m_History = choices.history;

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Текст для поиска:", this));
  ComboBox1 = new QComboBox(this);
  ComboBox1->setEditable(true);
  ComboBox1->setInsertPolicy(QComboBox::NoInsert);
  ComboBox1->addItems(choices.history);
  ComboBox1->setCurrentIndex(choices.history.isEmpty() ? -1 : 0);
  layout->addWidget(ComboBox1);
  CheckBoxCase = new QCheckBox("Различать регистр", this);
  CheckBoxCase->setChecked(choices.bCase);
  layout->addWidget(CheckBoxCase);

  auto* middle = new QHBoxLayout;
  auto* fields = new QVBoxLayout;
  fields->addWidget(new QLabel("Доступные для поиска поля:", this));
  ListBox1 = new QListWidget(this);
  ListBox1->setSelectionMode(QAbstractItemView::MultiSelection);
  for (int row = 0; row < lb::kFindRowCount; ++row) {
    ListBox1->addItem(lb::ColumnCaption(lb::FindRowKind(row)));
    ListBox1->item(row)->setSelected(choices.mask & (1u << row));
  }
  fields->addWidget(ListBox1);
  middle->addLayout(fields, 1);

  auto* right = new QVBoxLayout;
  right->addWidget(new QLabel("Жанр:", this));
  ComboBox2 = new QComboBox(this);
  for (int genre : lb::FindGenreList()) ComboBox2->addItem(lb::GenreName(genre), genre);
  right->addWidget(ComboBox2);
  auto* group = new QGroupBox("В каких листах...", this);
  auto* groupLayout = new QVBoxLayout(group);
  RadioGroup1 = new QButtonGroup(this);
  const char* scopes[4] = {"В текущем", "В отмеченных", "В открытых", "Во всех"};
  for (int n = 0; n < 4; ++n) {
    RadioButtons[n] = new QRadioButton(scopes[n], group);
    RadioGroup1->addButton(RadioButtons[n], n);
    groupLayout->addWidget(RadioButtons[n]);
  }
  RadioButtons[choices.scope]->setChecked(true);
  right->addWidget(group);
  right->addStretch();
  middle->addLayout(right);
  layout->addLayout(middle);

  BtnFinded = new QPushButton("Найденное", this);
  const lb::TDialogButtons buttons = lb::AddDialogButtons(this, layout, {BtnFinded});
  OKBtn = buttons.ok;
  CancelBtn = buttons.cancel;
  connect(OKBtn, &QPushButton::clicked, this, &TNewFindText::OKBtnClick);
  connect(BtnFinded, &QPushButton::clicked, this, &TNewFindText::BtnFindedClick);
  ComboBox1->setFocus();
}

TFindChoices TNewFindText::Choices() const {
  TFindChoices c;
  c.history = m_History;
  c.bCase = CheckBoxCase->isChecked();
  c.scope = std::max(RadioGroup1->checkedId(), 0);
  for (int row = 0; row < ListBox1->count(); ++row)
    if (ListBox1->item(row)->isSelected()) c.mask |= 1u << row;
  return c;
}

int TNewFindText::ChosenGenre() const {
  return ComboBox2->currentIndex() < 0 ? lb::kNoGenre : ComboBox2->currentData().toInt();
}

void TNewFindText::OKBtnClick() {
  TFindChoices choices = Choices();
  const QString text = ComboBox1->currentText();
  switch (CheckFindChoices(choices, text, m_pCurrent != nullptr, m_Ini)) {
    case TFindCheck::NoCurrentList:
      RadioButtons[choices.scope]->setChecked(true);
      return;
    case TFindCheck::NoCriteria:
      return;
    case TFindCheck::Search:
      break;
  }
  const TSongMatcher matcher(text, choices.bCase, choices.mask, ChosenGenre());
  TFoundLists rows;
  m_pResults->SetRows({});  // the previous rows go before a new search
  FindInLists(matcher, FindTargets(choices.scope, m_pCurrent, m_pHost), rows, m_pHost);
  m_pResults->SetRows(std::move(rows));
  accept();
  m_pResults->ShowResults();
}

void TNewFindText::BtnFindedClick() {
  m_pResults->ShowResults();
}
