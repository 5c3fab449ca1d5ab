#include "RecognizerDialog.h"

#include "lbtools3/ui/IDocumentWindow.h"
#include "lbtools3/ui/Help.h"
#include "extracter/contract/ExtracterRecords.h"
#include "platform/UiServices.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// The document window's selection as the extraction sees it: the rows selected when
// it starts (the progress window keeps the user away from the list meanwhile).
class TChildSelection : public lb::IRecognizerSelection {
 public:
  explicit TChildSelection(IDocumentWindow* child)
      : m_Child(child), m_Selected(child->SelectedRows()) {}
  int SelectedCount() override { return static_cast<int>(m_Selected.size()); }
  bool IsSelected(int n) override {
    return std::binary_search(m_Selected.begin(), m_Selected.end(), n);
  }
  void SongAnswered(int n) override {
    m_Child->DeselectRow(n);
    m_Child->RedrawRow(n);
  }

 private:
  IDocumentWindow* m_Child;
  std::vector<int> m_Selected;
};

}  // namespace

TNewRecognizerDlg::TNewRecognizerDlg(TIniFile& ini, QWidget* parent) : QDialog(parent), m_Ini(ini) {
  setWindowTitle("Извлечение информации о песнях");
  // Resizable: the extracters' descriptions may be long.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowMaximizeButtonHint);
  setSizeGripEnabled(true);
  lb::SetHelpTopic(this, lb::HelpContextTopic(kHelpContext));
  ImageList1 = style()->standardIcon(QStyle::SP_DialogApplyButton);

  RxLabel1 = new QLabel("Выберите расположение источника информации:", this);
  DirectoryEdit1 = new QLineEdit(this);
  DirectoryBrowse = new QToolButton(this);
  DirectoryBrowse->setText("...");
  RxLabel2 = new QLabel(
      "Нажмите кнопку \"Определить\" и выберите в списке ниже один из тех модулей, рядом с "
      "которыми появятся галочки.",
      this);
  RxLabel2->setAlignment(Qt::AlignCenter);
  RxLabel2->setWordWrap(true);

  ListView1 = new QTreeWidget(this);
  ListView1->setColumnCount(4);
  ListView1->setHeaderLabels({"N", "Автор", "Версия", "Описание"});
  ListView1->setRootIsDecorated(false);
  ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView1->header()->setSectionsClickable(false);
  // Grid lines around the cells; a style sheet on items needs the selection colours too.
  ListView1->setStyleSheet(
      "QTreeView::item { border: 1px solid #d0d0d0; }"
      "QTreeView::item:selected { background: palette(highlight); color: "
      "palette(highlighted-text); }");
  const int widths[] = {40, 100, 60, 300};
  for (int c = 0; c < 4; ++c) ListView1->setColumnWidth(c, widths[c]);

  OKBtn = new QPushButton("Да", this);
  OKBtn->setDefault(true);
  OKBtn->setEnabled(false);
  CancelBtn = new QPushButton("Отмена", this);
  RecognizeBtn = new QPushButton("Определить", this);

  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(DirectoryEdit1, 1);
  folderRow->addWidget(DirectoryBrowse);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(RecognizeBtn);
  buttons->addStretch(1);
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(RxLabel1);
  layout->addLayout(folderRow);
  layout->addWidget(RxLabel2);
  layout->addWidget(ListView1, 1);
  layout->addLayout(buttons);
  resize(720, 400);

  connect(DirectoryBrowse, &QToolButton::clicked, this, [this] {
    QString folder =
        UiServices::Instance().GetExistingFolder(RxLabel1->text(), DirectoryEdit1->text());
    if (!folder.isEmpty()) DirectoryEdit1->setText(folder);
  });
  connect(RecognizeBtn, &QPushButton::clicked, this, &TNewRecognizerDlg::RecognizeBtnClick);
  connect(OKBtn, &QPushButton::clicked, this, &TNewRecognizerDlg::OKBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
  connect(ListView1, &QTreeWidget::itemSelectionChanged, this, &TNewRecognizerDlg::ListView1Click);

  DirectoryEdit1->setText(lb::TRecognizer::LastDirectory(m_Ini));
  // An extracter that cannot be loaded is left out and named, once a session (the
  // dialog opens again and again); the others are offered.
  static QStringList s_Reported;
  QStringList failures;
  m_Recognizer.LoadExtracters(lb::TRecognizer::CategoriesManager().Get(), &failures);
  QStringList fresh;
  for (const QString& failure : failures)
    if (!s_Reported.contains(failure)) fresh << failure;
  s_Reported << fresh;
  if (!fresh.isEmpty())
    UiServices::Instance().MessageBox(fresh.join('\n'), UiServices::kCaption,
                                      MB_OK | MB_ICONWARNING);
  const auto& rows = m_Recognizer.Rows();
  for (size_t i = 0; i < rows.size(); ++i) {
    const lb::TExtracterHandle& h = rows[i].extracter;
    ListView1->addTopLevelItem(new QTreeWidgetItem(
        QStringList{QString::number(i + 1), h.author, lb::VersionText(h.version), h.description}));
  }
}

void TNewRecognizerDlg::ShowMarks() {
  const auto& rows = m_Recognizer.Rows();
  for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
    ListView1->topLevelItem(i)->setIcon(0, rows[i].bMarked ? ImageList1 : QIcon());
  ListView1Click();
}

void TNewRecognizerDlg::RecognizeBtnClick() {
  lb::TRecognizer::SetLastDirectory(m_Ini, DirectoryEdit1->text());
  m_Recognizer.Recognize(DirectoryEdit1->text());
  ShowMarks();
}

void TNewRecognizerDlg::ListView1Click() {
  QTreeWidgetItem* item = ListView1->currentItem();
  OKBtn->setEnabled(item && item->isSelected() &&
                    m_Recognizer.CanExtract(ListView1->indexOfTopLevelItem(item)));
}

void TNewRecognizerDlg::OKBtnClick() {
  const int row = ListView1->indexOfTopLevelItem(ListView1->currentItem());
  if (!m_Child || !m_Recognizer.CanExtract(row)) return;
  TChildSelection selection(m_Child);
  m_Recognizer.Extract(row, m_Child->Document(), selection,
                       [this](bool enabled) { setEnabled(enabled); });
  m_Child->UpdateTitle();
  accept();
}
