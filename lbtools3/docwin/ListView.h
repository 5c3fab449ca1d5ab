// TSLLBListView: a virtual list view. It holds no item data: it knows the item count,
// asks its owner for every cell's text and image through OnData, and keeps selection,
// focus and the drop target itself. Songs dragged between such views carry only the
// source view; the owners move or copy the songs.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QTableView>
#include <functional>
#include <utility>
#include <vector>

class TSLLBListView;

// The model behind the view: rowCount is the item count set by the owner, data() calls
// the owner's data event.
class TSLLBListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit TSLLBListModel(TSLLBListView* view);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  Qt::DropActions supportedDropActions() const override;

  // Sets the item count; rows that stay keep their selection.
  void SetCount(int count);
  // Removes one row (the selection after it moves up with it).
  void RemoveRow(int n);

  struct Column {
    int tag;
    QString caption;
  };
  void AddColumn(int tag, const QString& caption);
  void ClearColumns();
  const std::vector<Column>& Columns() const { return m_Columns; }
  void SetCaption(int index, const QString& caption);
  void SetTag(int index, int tag) { m_Columns[index].tag = tag; }

 private:
  TSLLBListView* m_pView;
  int m_nCount = 0;
  std::vector<Column> m_Columns;
};

// One column as a light handle.
class TSLLBListColumn {
 public:
  TSLLBListColumn(TSLLBListView* view, int index) : m_pView(view), m_nIndex(index) {}
  int GetTag() const;
  void SetTag(int tag);
  QString GetCaption() const;
  void SetCaption(const QString& caption);
  int GetWigth() const;
  void SetWidth(int width);
  int GetIndex() const { return m_nIndex; }

 private:
  TSLLBListView* m_pView;
  int m_nIndex;
};

class TSLLBListView : public QTableView {
  Q_OBJECT
 public:
  // States of an item.
  enum TItemState { isCut = 0, isDropHilited = 1, isFocused = 2, isSelected = 3, isActivating = 4 };

  // Asks the owner for a cell: item, column index, whether the text (else the image)
  // is wanted; the owner fills text or image (-1: none).
  using TDataEvent =
      std::function<void(int item, int column, bool bText, QString& text, int& image)>;

  explicit TSLLBListView(QWidget* parent = nullptr);
  ~TSLLBListView() override;

  TSLLBListModel* Model() const { return m_pModel; }

  // ---- columns ----
  int GetColumnCount() const { return static_cast<int>(m_pModel->Columns().size()); }
  TSLLBListColumn GetColumn(int index) { return TSLLBListColumn(this, index); }
  void AddColumn(int tag, const QString& caption, int width);
  void ClearColumns();

  // ---- items ----
  int GetCount() const { return m_pModel->rowCount(); }
  void SetCount(int count);
  bool GetState(int n, TItemState state) const;
  void SetState(int n, TItemState state, bool on);
  void MakeVisible(int n, bool bPartialOk);

  // ---- selection ----
  int GetSelected() const;  // the first selected item, -1 when none
  int GetLastSelected() const;
  int GetSelCount() const;
  bool IsSelected(int n) const;
  // Selected items in ascending order.
  std::vector<int> SelectedItems() const;
  // Selected items as merged ranges [first, last], ascending.
  std::vector<std::pair<int, int>> SelectedRanges() const;
  void UnselectAllItems();
  void SelectAllItems();
  void InvertSelection();
  // Selects exactly the listed items.
  void SelectItems(const std::vector<int>& items);

  // ---- geometry ----
  int GetItemIndexAt(const QPoint& point) const;  // -1 when not on an item
  QRect GetItemRect(int n) const;
  int GetTopItem() const;
  QPoint GetViewOrigin() const;
  int GetDropTarget() const { return m_nDropTarget; }
  void SetDropTarget(int n);
  // While songs are dragged over the view: the index they would be inserted at, drawn
  // as a line between the rows; -1 when no song drag is over the view.
  int GetDropLine() const { return m_nDropLine; }
  // The insertion index for a point: after a row when below its middle; past the last
  // row: the count.
  int InsertionIndexAt(const QPoint& point) const;
  // Repaints rows nFirst..nLast (only what is on screen costs anything).
  void UpdateItems(int nFirst, int nLast);
  void ScrollBy(int dy);

  // The view a drag marker names, when it still exists.
  static TSLLBListView* FromMime(const class QMimeData* mime);
  static constexpr const char* kMimeType = "application/x-lbtools-listview";

  // ---- events raised to the owner ----
  TDataEvent OnData;
  std::function<QIcon(int image)> OnImage;
  std::function<QString(int item, int column)> OnToolTip;
  std::function<void(int column)> OnColumnClick;
  std::function<void(const QPoint& point)> OnClick;
  std::function<void(int item)> OnDblClick;
  std::function<void()> OnRMouseDown;
  std::function<void()> OnChange;  // selection changed
  std::function<void()> OnStartDrag;
  std::function<void()> OnEndDrag;
  std::function<bool(TSLLBListView* source, const QPoint& point)> OnDragOver;
  std::function<void(TSLLBListView* source, const QPoint& point, bool bCtrl)> OnDragDrop;
  std::function<void(const QStringList& files)> OnFilesDropped;
  // True when the owner handled the key.
  std::function<bool(QKeyEvent* event)> OnKeyDown;

 protected:
  void keyboardSearch(const QString&) override {}  // typed characters are swallowed
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void startDrag(Qt::DropActions supportedActions) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  bool AcceptDrag(QDropEvent* event);
  void SetDropLine(int index);

  TSLLBListModel* m_pModel;
  int m_nDropTarget = -1;
  int m_nDropLine = -1;
  QPoint m_PressPos;
  bool m_bPressed = false;
};
