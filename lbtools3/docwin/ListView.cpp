#include "ListView.h"
#include "lbtools3/ui/HeaderCaption.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QSet>
#include <QUrl>
#include <algorithm>

namespace {
// Live views, so that a drag marker naming a view that went away is not followed.
QSet<TSLLBListView*>& LiveViews() {
  static QSet<TSLLBListView*> views;
  return views;
}
}  // namespace

// ---------------------------------------------------------------------------------
// TSLLBListModel

TSLLBListModel::TSLLBListModel(TSLLBListView* view) : QAbstractTableModel(view), m_pView(view) {}

int TSLLBListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : m_nCount;
}

int TSLLBListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_Columns.size());
}

QVariant TSLLBListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= m_nCount || !m_pView->OnData) return QVariant();
  if (role == Qt::DisplayRole) {
    QString text;
    int image = -1;
    m_pView->OnData(index.row(), index.column(), true, text, image);
    return text;
  }
  if (role == Qt::DecorationRole) {
    QString text;
    int image = -1;
    m_pView->OnData(index.row(), index.column(), false, text, image);
    if (image < 0 || !m_pView->OnImage) return QVariant();
    QIcon icon = m_pView->OnImage(image);
    return icon.isNull() ? QVariant() : QVariant(icon);
  }
  if (role == Qt::ToolTipRole && m_pView->OnToolTip) {
    const QString tip = m_pView->OnToolTip(index.row(), index.column());
    return tip.isEmpty() ? QVariant() : QVariant(tip);
  }
  return QVariant();
}

QVariant TSLLBListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(m_Columns.size()))
    return QVariant();
  // Captions keep their start in view; one too wide for its column ends in "…".
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
  return lb::HeaderCaptionData(*m_pView->horizontalHeader(), section, m_Columns[section].caption,
                               role);
}

Qt::ItemFlags TSLLBListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::ItemIsDropEnabled;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
}

Qt::DropActions TSLLBListModel::supportedDropActions() const {
  return Qt::CopyAction | Qt::MoveAction;
}

void TSLLBListModel::SetCount(int count) {
  count = std::max(count, 0);
  if (count > m_nCount) {
    beginInsertRows(QModelIndex(), m_nCount, count - 1);
    m_nCount = count;
    endInsertRows();
  } else if (count < m_nCount) {
    beginRemoveRows(QModelIndex(), count, m_nCount - 1);
    m_nCount = count;
    endRemoveRows();
  }
}

void TSLLBListModel::RemoveRow(int n) {
  if (n < 0 || n >= m_nCount) return;
  beginRemoveRows(QModelIndex(), n, n);
  --m_nCount;
  endRemoveRows();
}

void TSLLBListModel::AddColumn(int tag, const QString& caption) {
  const int n = static_cast<int>(m_Columns.size());
  beginInsertColumns(QModelIndex(), n, n);
  m_Columns.push_back({tag, caption});
  endInsertColumns();
}

void TSLLBListModel::ClearColumns() {
  if (m_Columns.empty()) return;
  beginRemoveColumns(QModelIndex(), 0, static_cast<int>(m_Columns.size()) - 1);
  m_Columns.clear();
  endRemoveColumns();
}

void TSLLBListModel::SetCaption(int index, const QString& caption) {
  m_Columns[index].caption = caption;
  emit headerDataChanged(Qt::Horizontal, index, index);
}

// ---------------------------------------------------------------------------------
// TSLLBListColumn

int TSLLBListColumn::GetTag() const {
  return m_pView->Model()->Columns()[m_nIndex].tag;
}
void TSLLBListColumn::SetTag(int tag) {
  m_pView->Model()->SetTag(m_nIndex, tag);
}
QString TSLLBListColumn::GetCaption() const {
  return m_pView->Model()->Columns()[m_nIndex].caption;
}
void TSLLBListColumn::SetCaption(const QString& caption) {
  m_pView->Model()->SetCaption(m_nIndex, caption);
}
int TSLLBListColumn::GetWigth() const {
  return m_pView->horizontalHeader()->sectionSize(m_nIndex);
}
void TSLLBListColumn::SetWidth(int width) {
  m_pView->horizontalHeader()->resizeSection(m_nIndex, width);
}

// ---------------------------------------------------------------------------------
// TSLLBListView

TSLLBListView::TSLLBListView(QWidget* parent)
    : QTableView(parent), m_pModel(new TSLLBListModel(this)) {
  LiveViews().insert(this);
  setModel(m_pModel);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(true);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  setDragEnabled(true);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDropIndicatorShown(false);
  setDragDropMode(QAbstractItemView::DragDrop);
  setDefaultDropAction(Qt::CopyAction);
  setAutoScroll(false);  // the window scrolls while dragging (Timer1)
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setSectionsClickable(true);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setStretchLastSection(false);
  horizontalHeader()->setMinimumSectionSize(4);  // the "Синхр." columns are 16 pixels
  horizontalHeader()->setTextElideMode(Qt::ElideRight);
  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
    if (OnColumnClick) OnColumnClick(column);
  });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    if (OnChange) OnChange();
  });
}

TSLLBListView::~TSLLBListView() {
  LiveViews().remove(this);
}

void TSLLBListView::AddColumn(int tag, const QString& caption, int width) {
  m_pModel->AddColumn(tag, caption);
  horizontalHeader()->resizeSection(GetColumnCount() - 1, width);
}

void TSLLBListView::ClearColumns() {
  m_pModel->ClearColumns();
}

void TSLLBListView::SetCount(int count) {
  m_pModel->SetCount(count);
  viewport()->update();
}

bool TSLLBListView::GetState(int n, TItemState state) const {
  switch (state) {
    case isSelected:
      return IsSelected(n);
    case isFocused:
      return currentIndex().isValid() && currentIndex().row() == n;
    case isDropHilited:
      return n >= 0 && n == m_nDropTarget;
    default:
      return false;
  }
}

void TSLLBListView::SetState(int n, TItemState state, bool on) {
  if (n < 0 || n >= GetCount()) return;
  switch (state) {
    case isSelected:
      selectionModel()->select(m_pModel->index(n, 0),
                               (on ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                                   QItemSelectionModel::Rows);
      break;
    case isFocused:
      if (on)
        selectionModel()->setCurrentIndex(m_pModel->index(n, 0), QItemSelectionModel::NoUpdate);
      break;
    case isDropHilited:
      SetDropTarget(on ? n : -1);
      break;
    default:
      break;
  }
}

void TSLLBListView::MakeVisible(int n, bool bPartialOk) {
  if (n < 0 || n >= GetCount() || GetColumnCount() == 0) return;
  const QRect rect = GetItemRect(n);
  if (bPartialOk && rect.intersects(viewport()->rect())) return;
  scrollTo(m_pModel->index(n, 0), QAbstractItemView::EnsureVisible);
}

std::vector<std::pair<int, int>> TSLLBListView::SelectedRanges() const {
  std::vector<std::pair<int, int>> spans;
  const QItemSelection selection = selectionModel()->selection();
  spans.reserve(selection.size());
  for (const QItemSelectionRange& range : selection)
    if (range.isValid()) spans.emplace_back(range.top(), range.bottom());
  std::sort(spans.begin(), spans.end());
  std::vector<std::pair<int, int>> merged;
  for (const auto& span : spans) {
    if (!merged.empty() && span.first <= merged.back().second + 1)
      merged.back().second = std::max(merged.back().second, span.second);
    else
      merged.push_back(span);
  }
  return merged;
}

std::vector<int> TSLLBListView::SelectedItems() const {
  std::vector<int> items;
  for (const auto& [first, last] : SelectedRanges())
    for (int n = first; n <= last; ++n) items.push_back(n);
  return items;
}

int TSLLBListView::GetSelected() const {
  const auto ranges = SelectedRanges();
  return ranges.empty() ? -1 : ranges.front().first;
}

int TSLLBListView::GetLastSelected() const {
  const auto ranges = SelectedRanges();
  return ranges.empty() ? -1 : ranges.back().second;
}

int TSLLBListView::GetSelCount() const {
  int count = 0;
  for (const auto& [first, last] : SelectedRanges()) count += last - first + 1;
  return count;
}

bool TSLLBListView::IsSelected(int n) const {
  return n >= 0 && n < GetCount() && selectionModel()->isRowSelected(n, QModelIndex());
}

void TSLLBListView::UnselectAllItems() {
  selectionModel()->clearSelection();
}

void TSLLBListView::SelectAllItems() {
  if (GetCount() == 0 || GetColumnCount() == 0) return;
  QItemSelection all(m_pModel->index(0, 0), m_pModel->index(GetCount() - 1, GetColumnCount() - 1));
  selectionModel()->select(all, QItemSelectionModel::ClearAndSelect);
}

void TSLLBListView::InvertSelection() {
  const int count = GetCount();
  if (count == 0 || GetColumnCount() == 0) return;
  const int lastColumn = GetColumnCount() - 1;
  QItemSelection inverted;
  int next = 0;
  for (const auto& [first, last] : SelectedRanges()) {
    if (first > next)
      inverted.select(m_pModel->index(next, 0), m_pModel->index(first - 1, lastColumn));
    next = last + 1;
  }
  if (next < count)
    inverted.select(m_pModel->index(next, 0), m_pModel->index(count - 1, lastColumn));
  selectionModel()->select(inverted, QItemSelectionModel::ClearAndSelect);
}

void TSLLBListView::SelectItems(const std::vector<int>& items) {
  QItemSelection selection;
  const int lastColumn = std::max(GetColumnCount() - 1, 0);
  size_t n = 0;
  while (n < items.size()) {
    size_t end = n;
    while (end + 1 < items.size() && items[end + 1] == items[end] + 1) ++end;
    if (items[n] >= 0 && items[end] < GetCount())
      selection.select(m_pModel->index(items[n], 0), m_pModel->index(items[end], lastColumn));
    n = end + 1;
  }
  selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

int TSLLBListView::GetItemIndexAt(const QPoint& point) const {
  return rowAt(point.y());
}

QRect TSLLBListView::GetItemRect(int n) const {
  if (n < 0 || n >= GetCount()) return QRect();
  return QRect(-horizontalOffset(), rowViewportPosition(n), horizontalHeader()->length(),
               rowHeight(n));
}

int TSLLBListView::GetTopItem() const {
  return rowAt(0);
}

QPoint TSLLBListView::GetViewOrigin() const {
  return QPoint(horizontalOffset(), verticalOffset());
}

void TSLLBListView::SetDropTarget(int n) {
  if (n == m_nDropTarget) return;
  const int old = m_nDropTarget;
  m_nDropTarget = n;
  if (old >= 0) UpdateItems(old, old);
  if (n >= 0) UpdateItems(n, n);
}

void TSLLBListView::UpdateItems(int nFirst, int nLast) {
  const int count = GetCount();
  if (count == 0) return;
  nFirst = std::max(nFirst, 0);
  nLast = std::min(nLast, count - 1);
  if (nFirst > nLast) return;
  const int top = rowAt(0);
  int bottom = rowAt(viewport()->height() - 1);
  if (bottom < 0) bottom = count - 1;
  if (top < 0 || nLast < top || nFirst > bottom) return;  // off screen
  nFirst = std::max(nFirst, top);
  nLast = std::min(nLast, bottom);
  const int y = rowViewportPosition(nFirst);
  const int height = rowViewportPosition(nLast) + rowHeight(nLast) - y;
  viewport()->update(QRect(0, y, viewport()->width(), height));
}

void TSLLBListView::ScrollBy(int dy) {
  verticalScrollBar()->setValue(verticalScrollBar()->value() + dy / std::max(rowHeight(0), 1));
}

TSLLBListView* TSLLBListView::FromMime(const QMimeData* mime) {
  if (!mime || !mime->hasFormat(kMimeType)) return nullptr;
  auto* view = reinterpret_cast<TSLLBListView*>(mime->data(kMimeType).toULongLong());
  return LiveViews().contains(view) ? view : nullptr;
}

void TSLLBListView::keyPressEvent(QKeyEvent* event) {
  if (OnKeyDown && OnKeyDown(event)) return;
  QTableView::keyPressEvent(event);
}

void TSLLBListView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton && OnRMouseDown) OnRMouseDown();
  m_PressPos = event->position().toPoint();
  m_bPressed = event->button() == Qt::LeftButton;
  QTableView::mousePressEvent(event);
}

void TSLLBListView::mouseReleaseEvent(QMouseEvent* event) {
  QTableView::mouseReleaseEvent(event);
  if (m_bPressed && event->button() == Qt::LeftButton && OnClick) {
    m_bPressed = false;
    OnClick(event->position().toPoint());
  }
}

void TSLLBListView::mouseDoubleClickEvent(QMouseEvent* event) {
  QTableView::mouseDoubleClickEvent(event);
  const int row = rowAt(event->position().toPoint().y());
  if (event->button() == Qt::LeftButton && row >= 0 && OnDblClick) OnDblClick(row);
}

void TSLLBListView::startDrag(Qt::DropActions) {
  m_bPressed = false;
  if (GetSelCount() == 0) return;
  auto* mime = new QMimeData;
  mime->setData(kMimeType, QByteArray::number(reinterpret_cast<quintptr>(this)));
  QDrag drag(this);
  drag.setMimeData(mime);
  if (OnStartDrag) OnStartDrag();
  // The owners carry the songs; the drag only tells where.
  drag.exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
  if (OnEndDrag) OnEndDrag();
}

int TSLLBListView::InsertionIndexAt(const QPoint& point) const {
  const int row = rowAt(point.y());
  if (row < 0) return GetCount();
  const int top = rowViewportPosition(row);
  return top + rowHeight(row) / 2 < point.y() ? row + 1 : row;
}

void TSLLBListView::SetDropLine(int index) {
  if (index == m_nDropLine) return;
  m_nDropLine = index;
  viewport()->update();
}

void TSLLBListView::paintEvent(QPaintEvent* event) {
  QTableView::paintEvent(event);
  if (m_nDropLine < 0 || GetCount() == 0) return;
  // The line between the rows where the dragged songs will land.
  const int last = GetCount() - 1;
  const int y = m_nDropLine <= last ? rowViewportPosition(m_nDropLine)
                                    : rowViewportPosition(last) + rowHeight(last);
  QPainter painter(viewport());
  painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
  const int width = qMin(viewport()->width(), horizontalHeader()->length() - horizontalOffset());
  painter.drawLine(0, qMax(y, 1), width, qMax(y, 1));
}

bool TSLLBListView::AcceptDrag(QDropEvent* event) {
  const QPoint point = event->position().toPoint();
  if (TSLLBListView* source = FromMime(event->mimeData())) {
    if (OnDragOver && !OnDragOver(source, point)) return false;
    SetDropTarget(rowAt(point.y()));
    SetDropLine(InsertionIndexAt(point));
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
  }
  if (event->mimeData()->hasUrls()) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
  }
  return false;
}

void TSLLBListView::dragEnterEvent(QDragEnterEvent* event) {
  if (!AcceptDrag(event)) event->ignore();
}

void TSLLBListView::dragMoveEvent(QDragMoveEvent* event) {
  if (!AcceptDrag(event)) event->ignore();
}

void TSLLBListView::dragLeaveEvent(QDragLeaveEvent* event) {
  SetDropTarget(-1);
  SetDropLine(-1);
  event->accept();
}

void TSLLBListView::dropEvent(QDropEvent* event) {
  const QPoint point = event->position().toPoint();
  SetDropLine(-1);
  if (TSLLBListView* source = FromMime(event->mimeData())) {
    SetDropTarget(rowAt(point.y()));
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (OnDragDrop) OnDragDrop(source, point, event->modifiers().testFlag(Qt::ControlModifier));
    SetDropTarget(-1);
    return;
  }
  if (event->mimeData()->hasUrls()) {
    QStringList files;
    for (const QUrl& url : event->mimeData()->urls())
      if (url.isLocalFile()) files << url.toLocalFile();
    event->setDropAction(Qt::CopyAction);
    event->accept();
    SetDropTarget(-1);
    if (!files.isEmpty() && OnFilesDropped) OnFilesDropped(files);
    return;
  }
  event->ignore();
}
