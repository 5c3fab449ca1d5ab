// TColumnsDlg: the column layout of one document window. One ticked row per shown
// column in the window's order, then one unticked row per kind not shown; the first
// row is pinned (always ticked, never moved); rows are reordered by dragging.
#pragma once

#include <QDialog>
#include <QListWidget>

class QCheckBox;
class QPushButton;
class TMDIChild;
class TColumnsDlg;

// The list of the dialog: rows carry their kind; a drag carries the row's index
// (TColumnsDragControlObject).
class TColumnsListWidget : public QListWidget {
  Q_OBJECT
 public:
  static constexpr const char* kMimeType = "application/x-lbtools-columnrow";
  explicit TColumnsListWidget(TColumnsDlg* dialog);

 protected:
  void startDrag(Qt::DropActions supportedActions) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // The dragged row, -1 when the drag is not a row of this list other than row 0.
  int DraggedRow(const QMimeData* mime) const;
  TColumnsDlg* m_pDialog;
};

class TColumnsDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kKindRole = Qt::UserRole + 1;
  static constexpr int kHelpContext = 3;

  TColumnsDlg(TMDIChild* child, QWidget* parent = nullptr);

  TColumnsListWidget* ListView1;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;
  QPushButton* SelBtn;
  QPushButton* Button2;
  QCheckBox* CheckBoxDefault;

  int RowCount() const { return ListView1->count(); }
  int RowKind(int row) const;
  bool RowTicked(int row) const;
  void SetRowTicked(int row, bool ticked);

  // The row index a drop lands on: the target row (rowCount when none), plus one when
  // bBelowMiddle; row 0 becomes 1.
  int DropIndex(int targetRow, bool bBelowMiddle) const;
  // Moves the dragged row to index (as computed by DropIndex).
  void MoveRow(int from, int index);

  void SelBtnClick();
  void Button2Click();
  void OKBtnClick();

 private:
  void Fill();
  void AddRow(int kind, bool ticked);
  void InsertRow(int index, const QString& caption, int kind, bool ticked);

  TMDIChild* m_pChild;
};
