#include "ColumnsDialog.h"

#include "DocumentWindow.h"
#include "lbtools3/model/SongFields.h"

#include "lbtools3/ui/Help.h"

#include <QCheckBox>
#include <QLabel>
#include <QDrag>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QMap>
#include <QMimeData>
#include <QPushButton>
#include <QVBoxLayout>

// ---------------------------------------------------------------------------------
// TColumnsListWidget

TColumnsListWidget::TColumnsListWidget(TColumnsDlg* dialog)
    : QListWidget(dialog), m_pDialog(dialog) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setDragEnabled(true);
  setAcceptDrops(true);
  setDropIndicatorShown(true);
  setDragDropMode(QAbstractItemView::DragDrop);
}

void TColumnsListWidget::startDrag(Qt::DropActions) {
  const int row = currentRow();
  if (row <= 0) return;  // the first row stays where it is
  auto* mime = new QMimeData;
  mime->setData(kMimeType, QByteArray::number(row) + ' ' +
                               QByteArray::number(reinterpret_cast<quintptr>(this)));
  QDrag drag(this);
  drag.setMimeData(mime);
  drag.exec(Qt::MoveAction, Qt::MoveAction);
}

int TColumnsListWidget::DraggedRow(const QMimeData* mime) const {
  if (!mime || !mime->hasFormat(kMimeType)) return -1;
  const QList<QByteArray> parts = mime->data(kMimeType).split(' ');
  if (parts.size() != 2 || parts[1].toULongLong() != reinterpret_cast<quintptr>(this)) return -1;
  const int row = parts[0].toInt();
  return row > 0 && row < count() ? row : -1;
}

void TColumnsListWidget::dragEnterEvent(QDragEnterEvent* event) {
  if (DraggedRow(event->mimeData()) < 0) {
    event->ignore();
    return;
  }
  event->setDropAction(Qt::MoveAction);
  event->accept();
}

void TColumnsListWidget::dragMoveEvent(QDragMoveEvent* event) {
  if (DraggedRow(event->mimeData()) < 0) {
    event->ignore();
    return;
  }
  event->setDropAction(Qt::MoveAction);
  event->accept();
}

void TColumnsListWidget::dropEvent(QDropEvent* event) {
  const int from = DraggedRow(event->mimeData());
  if (from < 0) {
    event->ignore();
    return;
  }
  const QPoint point = event->position().toPoint();
  const QModelIndex target = indexAt(point);
  bool bBelow = false;
  if (target.isValid()) {
    // The row pitch from rows 0 and 1, as the list gives it.
    const QRect first = visualRect(model()->index(0, 0));
    const QRect second = count() > 1 ? visualRect(model()->index(1, 0)) : first;
    const int pitch = std::max(second.top() - first.top(), first.height());
    bBelow = point.y() > visualRect(target).top() + pitch / 2;
  }
  // The dialog moves the row itself; Qt must not remove anything afterwards.
  event->setDropAction(Qt::CopyAction);
  event->accept();
  m_pDialog->MoveRow(from, m_pDialog->DropIndex(target.isValid() ? target.row() : -1, bBelow));
}

// ---------------------------------------------------------------------------------
// TColumnsDlg

TColumnsDlg::TColumnsDlg(TMDIChild* child, QWidget* parent) : QDialog(parent), m_pChild(child) {
  setWindowTitle(QStringLiteral("Выбор колонок"));
  setMinimumSize(370, 250);

  ListView1 = new TColumnsListWidget(this);
  OKBtn = new QPushButton(QStringLiteral("Да"), this);
  CancelBtn = new QPushButton(QStringLiteral("Отмена"), this);
  SelBtn = new QPushButton(QStringLiteral("Всё"), this);
  Button2 = new QPushButton(QStringLiteral("Ничего"), this);
  CheckBoxDefault =
      new QCheckBox(QStringLiteral("Сделать эти параметры колонок параметрами по умолчанию"), this);
  OKBtn->setDefault(true);

  auto* buttons = new QVBoxLayout;
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  buttons->addSpacing(12);
  buttons->addWidget(SelBtn);
  buttons->addWidget(Button2);
  buttons->addStretch();
  // The list's one column, with its header.
  auto* header = new QLabel(QStringLiteral("Название колонки"), this);
  header->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
  header->setMargin(2);
  auto* list = new QVBoxLayout;
  list->setSpacing(0);
  list->addWidget(header);
  list->addWidget(ListView1, 1);
  auto* top = new QHBoxLayout;
  top->addLayout(list, 1);
  top->addLayout(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addWidget(CheckBoxDefault);

  lb::SetHelpTopic(this, lb::HelpContextTopic(kHelpContext));
  connect(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(); });
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
  connect(SelBtn, &QPushButton::clicked, this, [this] { SelBtnClick(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  // The first row is pinned: whatever happens to its tick, it is ticked again.
  connect(ListView1, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    if (ListView1->row(item) == 0 && item->checkState() != Qt::Checked)
      item->setCheckState(Qt::Checked);
  });
  Fill();
}

void TColumnsDlg::InsertRow(int index, const QString& caption, int kind, bool ticked) {
  auto* item = new QListWidgetItem(caption);
  item->setData(kKindRole, kind);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                 Qt::ItemIsDragEnabled);
  item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
  ListView1->insertItem(index, item);
}

void TColumnsDlg::AddRow(int kind, bool ticked) {
  InsertRow(RowCount(), lb::ColumnCaption(kind), kind, ticked);
}

void TColumnsDlg::Fill() {
  QList<int> shown;
  for (const auto& column : m_pChild->Columns()) {
    AddRow(column.first, true);
    shown.append(column.first);
  }
  for (int kind = 0; kind < lb::kColumnKindCount; ++kind)
    if (lb::IsColumnOffered(kind) && !shown.contains(kind)) AddRow(kind, false);
}

int TColumnsDlg::RowKind(int row) const {
  return ListView1->item(row)->data(kKindRole).toInt();
}

bool TColumnsDlg::RowTicked(int row) const {
  return ListView1->item(row)->checkState() == Qt::Checked;
}

void TColumnsDlg::SetRowTicked(int row, bool ticked) {
  ListView1->item(row)->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
}

int TColumnsDlg::DropIndex(int targetRow, bool bBelowMiddle) const {
  int index = targetRow < 0 ? RowCount() : targetRow + (bBelowMiddle ? 1 : 0);
  return index == 0 ? 1 : index;
}

void TColumnsDlg::MoveRow(int from, int index) {
  if (from <= 0 || from >= RowCount() || index == from) return;
  index = std::clamp(index, 1, RowCount());
  const QString caption = ListView1->item(from)->text();
  const int kind = RowKind(from);
  const bool ticked = RowTicked(from);
  InsertRow(index, caption, kind, ticked);
  if (index < from) ++from;  // the new row went in above the old one
  delete ListView1->takeItem(from);
  ListView1->setCurrentRow(index > from ? index - 1 : index);
}

void TColumnsDlg::SelBtnClick() {
  for (int row = 1; row < RowCount(); ++row) SetRowTicked(row, true);
}

void TColumnsDlg::Button2Click() {
  for (int row = 1; row < RowCount(); ++row) SetRowTicked(row, false);
}

void TColumnsDlg::OKBtnClick() {
  QMap<int, int> widths;
  for (const auto& [kind, width] : m_pChild->Columns()) widths.insert(kind, width);
  TColumnLayout layout;
  for (int row = 0; row < RowCount(); ++row) {
    if (!RowTicked(row)) continue;
    const int kind = RowKind(row);
    layout.append({kind, widths.value(kind, lb::ColumnDefaultWidth(kind))});
  }
  m_pChild->ListView2->hide();
  m_pChild->SetColumns(layout);
  m_pChild->ListView2->show();
  if (CheckBoxDefault->isChecked() && m_pChild->Host())
    m_pChild->Host()->StoreDefaultColumns(m_pChild->Columns());
  accept();
}
