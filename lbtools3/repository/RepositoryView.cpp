#include "RepositoryView.h"
#include "lbtools3/ui/HeaderCaption.h"

#include <QHeaderView>
#include <QItemSelection>
#include <QKeyEvent>
#include <QScrollBar>

// ---------------------------------------------------------------------------------
// The model

TRepositoryModel::TRepositoryModel(TListsRepository& repository, QObject* parent)
    : QAbstractTableModel(parent), m_Repository(repository) {
  connect(&repository, &TListsRepository::RowAboutToBeInserted, this,
          [this](int row) { beginInsertRows(QModelIndex(), row, row); });
  connect(&repository, &TListsRepository::RowInserted, this, [this] { endInsertRows(); });
  connect(&repository, &TListsRepository::RowAboutToBeRemoved, this,
          [this](int row) { beginRemoveRows(QModelIndex(), row, row); });
  connect(&repository, &TListsRepository::RowRemoved, this, [this] { endRemoveRows(); });
  connect(&repository, &TListsRepository::RowsChanged, this, [this](int first, int last) {
    emit dataChanged(index(first, 0), index(last, TRepositoryViewLayout::kColumnCount - 1));
  });
}

int TRepositoryModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : m_Repository.Count();
}

int TRepositoryModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : TRepositoryViewLayout::kColumnCount;
}

QVariant TRepositoryModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= m_Repository.Count()) return QVariant();
  if (role == Qt::DisplayRole) return m_Repository.Text(index.row(), index.column());
  if (role == Qt::TextAlignmentRole && index.column() == TListsRepository::colOpen)
    return int(Qt::AlignCenter);
  return QVariant();
}

QVariant TRepositoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return QVariant();
  QString caption;
  switch (section) {
    case TListsRepository::colNumber:
      caption = QStringLiteral("N");
      break;
    case TListsRepository::colOpen:
      caption = QStringLiteral("Открыт");
      break;
    case TListsRepository::colName:
      caption = QStringLiteral("Имя листа");
      break;
    case TListsRepository::colPath:
      caption = QStringLiteral("Полный путь");
      break;
    default:
      return QVariant();
  }
  // Before the view shows the model there is no header to fit the caption to.
  if (!m_Header) return role == Qt::DisplayRole ? QVariant(caption) : QVariant();
  return lb::HeaderCaptionData(*m_Header, section, caption, role);
}

// ---------------------------------------------------------------------------------
// The view

TRepositoryView::TRepositoryView(TListsRepository& repository, QWidget* parent)
    : QTableView(parent), m_Repository(repository), m_Model(repository) {
  setModel(&m_Model);
  m_Model.SetHeader(horizontalHeader());
  setToolTip(QStringLiteral("Хранилище листов"));
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(repository.BulkRunning() ? QAbstractItemView::SingleSelection
                                            : QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(true);
  setWordWrap(false);
  setSortingEnabled(false);
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  horizontalHeader()->setSectionsClickable(true);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(false);
  horizontalHeader()->setTextElideMode(Qt::ElideRight);
  const TRepositoryViewLayout defaults;
  for (int i = 0; i < TRepositoryViewLayout::kColumnCount; ++i)
    setColumnWidth(i, defaults.widths[i]);

  connect(horizontalHeader(), &QHeaderView::sectionClicked, this,
          [this](int section) { m_Repository.ColumnClick(section); });
  connect(this, &QAbstractItemView::doubleClicked, this,
          [this] { m_Repository.OpenFirstSelected(); });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { SelectionFromView(); });
  connect(&repository, &TListsRepository::SelectionChanged, this, [this] { ApplySelection(); });
  connect(&repository, &TListsRepository::SelectionModeChanged, this, [this](bool multiple) {
    setSelectionMode(multiple ? QAbstractItemView::ExtendedSelection
                              : QAbstractItemView::SingleSelection);
  });
  connect(&repository, &TListsRepository::RowMarked, this,
          [this](int row) { scrollTo(m_Model.index(row, 0)); });
  ApplySelection();
}

void TRepositoryView::ApplySelection() {
  m_bApplying = true;
  QItemSelection selection;
  const int last = TRepositoryViewLayout::kColumnCount - 1;
  int start = -1;
  for (int row = 0; row <= m_Repository.Count(); ++row) {
    // The view shows the live flags (during a bulk operation: the marked row).
    const bool selected = row < m_Repository.Count() && m_Repository.IsHighlighted(row);
    if (selected && start == -1) start = row;
    if (!selected && start != -1) {
      selection.select(m_Model.index(start, 0), m_Model.index(row - 1, last));
      start = -1;
    }
  }
  selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
  m_bApplying = false;
}

void TRepositoryView::SelectionFromView() {
  if (m_bApplying) return;
  QList<int> rows;
  for (const QModelIndex& index : selectionModel()->selectedRows()) rows.append(index.row());
  m_Repository.SetSelectedRows(rows);
}

void TRepositoryView::scrollTo(const QModelIndex& index, ScrollHint hint) {
  // Rows are chosen whole: a click on a wide column must not scroll the first ones away.
  const int x = horizontalScrollBar()->value();
  QTableView::scrollTo(index, hint);
  horizontalScrollBar()->setValue(x);
}

void TRepositoryView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    m_Repository.OpenFirstSelected();
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}

void TRepositoryView::SaveView() {
  TRepositoryViewLayout layout;
  layout.splitter = width();
  for (int i = 0; i < TRepositoryViewLayout::kColumnCount; ++i) layout.widths[i] = columnWidth(i);
  m_Repository.SaveView(layout);
}

int TRepositoryView::LoadView() {
  TRepositoryViewLayout current;
  current.splitter = width();
  for (int i = 0; i < TRepositoryViewLayout::kColumnCount; ++i) current.widths[i] = columnWidth(i);
  const TRepositoryViewLayout layout = m_Repository.LoadView(current);
  for (int i = 0; i < TRepositoryViewLayout::kColumnCount; ++i) setColumnWidth(i, layout.widths[i]);
  return layout.splitter;
}
