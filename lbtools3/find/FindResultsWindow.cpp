#include "FindResultsWindow.h"

#include <QBrush>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QKeyEvent>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

TNewFindTextForm::TNewFindTextForm(IListsHost* host, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), m_pHost(host) {
  setWindowTitle("Поиск текста. Список найденного...");
  auto* layout = new QHBoxLayout(this);
  ListView1 = new QTreeWidget(this);
  ListView1->setColumnCount(2);
  ListView1->setHeaderLabels({"Лист", "Найдено"});
  ListView1->setRootIsDecorated(false);
  ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView1->header()->setStretchLastSection(false);
  ListView1->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  ListView1->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  layout->addWidget(ListView1, 1);

  auto* side = new QVBoxLayout;
  Label1 = new QLabel(
      "Слева находится список листов, где были найдены записи, удовлетворяющие заданным "
      "критериям. Для открытия нужного листа щёлкните на нём мышью.",
      this);
  Label1->setWordWrap(true);
  Label1->setFixedWidth(160);
  side->addWidget(Label1);
  side->addStretch();
  BtnClear = new QPushButton("Очистить", this);
  side->addWidget(BtnClear);
  layout->addLayout(side);
  resize(560, 260);

  connect(BtnClear, &QPushButton::clicked, this, &TNewFindTextForm::BtnClearClick);
  connect(ListView1, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem* item) { RowClick(ListView1->indexOfTopLevelItem(item)); });
  // Enter on the current row opens it too.
  ListView1->installEventFilter(this);
  Fill();
}

TNewFindTextForm::~TNewFindTextForm() = default;

TNewFindTextForm* TNewFindTextForm::Instance(IListsHost* host, QWidget* parent) {
  static QPointer<TNewFindTextForm> instance;
  if (!instance) instance = new TNewFindTextForm(host, parent);
  return instance;
}

void TNewFindTextForm::SetRows(TFoundLists rows) {
  m_Rows = std::move(rows);
  Fill();
}

void TNewFindTextForm::ShowResults() {
  show();
  raise();
  activateWindow();
}

void TNewFindTextForm::BtnClearClick() {
  m_Rows.clear();
  Fill();
}

void TNewFindTextForm::RowClick(int row) {
  if (row < 0 || row >= static_cast<int>(m_Rows.size()) || !m_pHost) return;
  OpenFoundList(m_Rows[row], *m_pHost);
}

bool TNewFindTextForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ListView1 && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && ListView1->currentItem()) {
      RowClick(ListView1->indexOfTopLevelItem(ListView1->currentItem()));
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TNewFindTextForm::hideEvent(QHideEvent* event) {
  // Closed by the user or the program (not a minimised main window): the lists loaded
  // for the search are let go.
  if (!event->spontaneous()) ReleaseFoundDocuments(m_Rows);
  QWidget::hideEvent(event);
}

void TNewFindTextForm::Fill() {
  ListView1->clear();
  for (const TFoundList& row : m_Rows) {
    if (row.bLoadFailed) {
      // The list was not searched: the row tells why instead of a count.
      const QString error = row.loadError.isEmpty() ? "ошибка загрузки" : row.loadError;
      auto* item = new QTreeWidgetItem(ListView1, {row.path, error.simplified()});
      item->setToolTip(1, error);
      item->setForeground(1, QBrush(Qt::darkRed));
      continue;
    }
    auto* item = new QTreeWidgetItem(
        ListView1, {row.path, QString::number(static_cast<qlonglong>(row.indices.size()))});
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
  }
  BtnClear->setEnabled(!m_Rows.empty());
}
