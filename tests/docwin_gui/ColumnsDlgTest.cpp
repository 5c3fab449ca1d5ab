// The columns dialog: filling, the pinned first row, moving rows, and the layout it
// gives the window.
#include "WindowTest.h"

#include "lbtools3/model/SongFields.h"
#include "lbtools3/docwin/ColumnsDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QMdiSubWindow>
#include <QMimeData>

namespace {

class ColumnsDlgTest : public WindowTest {
 protected:
  void SetUp() override {
    area.resize(800, 600);
    child = new TMDIChild(&area, &host, "/tmp/columns.m3u", true, nullptr);
    child->SetColumns({{2, 333}, {0, 44}, {23, 16}});
  }
  void TearDown() override { delete child->SubWindow(); }
  QList<int> Kinds(const TColumnsDlg& dlg) {
    QList<int> kinds;
    for (int row = 0; row < dlg.RowCount(); ++row) kinds << dlg.RowKind(row);
    return kinds;
  }

  TMDIChild* child = nullptr;
};

TEST_F(ColumnsDlgTest, ShownColumnsFirstThenTheOthersWithoutKindNine) {
  TColumnsDlg dlg(child);
  EXPECT_EQ(dlg.windowTitle(), "Выбор колонок");
  ASSERT_EQ(dlg.RowCount(), 24);
  EXPECT_EQ(Kinds(dlg).mid(0, 5), QList<int>({2, 0, 23, 1, 3}));
  EXPECT_FALSE(Kinds(dlg).contains(9));
  EXPECT_EQ(dlg.ListView1->item(0)->text(), "Путь");
  for (int row = 0; row < dlg.RowCount(); ++row) EXPECT_EQ(dlg.RowTicked(row), row < 3) << row;
}

TEST_F(ColumnsDlgTest, FirstRowStaysTickedAndInPlace) {
  TColumnsDlg dlg(child);
  dlg.SetRowTicked(0, false);
  EXPECT_TRUE(dlg.RowTicked(0));
  dlg.Button2Click();
  EXPECT_TRUE(dlg.RowTicked(0));
  EXPECT_FALSE(dlg.RowTicked(1));
  dlg.SelBtnClick();
  for (int row = 0; row < dlg.RowCount(); ++row) EXPECT_TRUE(dlg.RowTicked(row));
  // A drop on row 0 lands at row 1; row 0 itself never moves.
  EXPECT_EQ(dlg.DropIndex(0, false), 1);
  EXPECT_EQ(dlg.DropIndex(0, true), 1);
  EXPECT_EQ(dlg.DropIndex(4, true), 5);
  EXPECT_EQ(dlg.DropIndex(-1, false), dlg.RowCount());
  dlg.MoveRow(0, 5);
  EXPECT_EQ(dlg.RowKind(0), 2);
}

TEST_F(ColumnsDlgTest, MovedRowsKeepKindAndTick) {
  TColumnsDlg dlg(child);
  dlg.MoveRow(3, dlg.DropIndex(1, false));  // kind 1, unticked, before row 1
  EXPECT_EQ(Kinds(dlg).mid(0, 5), QList<int>({2, 1, 0, 23, 3}));
  EXPECT_FALSE(dlg.RowTicked(1));
  dlg.MoveRow(2, dlg.DropIndex(4, true));  // kind 0 after row 4
  EXPECT_EQ(Kinds(dlg).mid(0, 5), QList<int>({2, 1, 23, 3, 0}));
  EXPECT_TRUE(dlg.RowTicked(4));
  EXPECT_EQ(dlg.RowCount(), 24);
}

TEST_F(ColumnsDlgTest, DropOnTheListMovesTheDraggedRow) {
  TColumnsDlg dlg(child);
  dlg.show();
  QApplication::processEvents();
  auto drop = [&](int from, int targetRow, bool below) {
    QMimeData mime;
    mime.setData(TColumnsListWidget::kMimeType,
                 QByteArray::number(from) + ' ' +
                     QByteArray::number(reinterpret_cast<quintptr>(dlg.ListView1)));
    const QRect rect = dlg.ListView1->visualItemRect(dlg.ListView1->item(targetRow));
    const QPoint point(5, below ? rect.bottom() - 1 : rect.top() + 1);
    QDragEnterEvent enter(point, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dlg.ListView1->viewport(), &enter);
    QDropEvent event(QPointF(point), Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dlg.ListView1->viewport(), &event);
  };
  drop(4, 0, false);  // kind 3 onto the pinned row: lands at row 1
  EXPECT_EQ(Kinds(dlg).mid(0, 3), QList<int>({2, 3, 0}));
  drop(1, 3, true);  // kind 3 below row 3
  EXPECT_EQ(Kinds(dlg).mid(0, 4), QList<int>({2, 0, 23, 3}));
  EXPECT_EQ(dlg.RowCount(), 24);
}

TEST_F(ColumnsDlgTest, OkRebuildsTheColumnsWithRememberedWidths) {
  TColumnsDlg dlg(child);
  dlg.SetRowTicked(2, false);                  // kind 23 goes
  dlg.SetRowTicked(dlg.RowCount() - 1, true);  // the last kind offered
  const int lastKind = dlg.RowKind(dlg.RowCount() - 1);
  dlg.MoveRow(1, 3);  // kind 0 after kind 23
  dlg.OKBtnClick();
  EXPECT_EQ(child->Columns(),
            TColumnLayout({{2, 333}, {0, 44}, {lastKind, lb::ColumnDefaultWidth(lastKind)}}));
  EXPECT_TRUE(host.storedDefault.isEmpty());
  EXPECT_EQ(dlg.result(), QDialog::Accepted);

  TColumnsDlg again(child);
  again.CheckBoxDefault->setChecked(true);
  again.OKBtnClick();
  EXPECT_EQ(host.storedDefault, child->Columns());
}

}  // namespace
