// Where drops land, what they move or copy, and the column under a click.
#include "lbtools3/docwin/ListOps.h"
#include "lbtools3/model/M3uList.h"

#include "DocWinTestUtil.h"
#include "platform/ScriptedUiServices.h"

#include <gtest/gtest.h>

namespace {

TEST(DropIndexTest, UpperHalfInsertsBeforeLowerHalfAfter) {
  // Row 4 spans y 80..100 (bottom exclusive): its middle is 90.
  EXPECT_EQ(lb::DropIndex(4, 80, 100, 85, 10), 4);
  EXPECT_EQ(lb::DropIndex(4, 80, 100, 90, 10), 4);
  EXPECT_EQ(lb::DropIndex(4, 80, 100, 91, 10), 5);
  // Below the middle of the last row, or on no row at all: append.
  EXPECT_EQ(lb::DropIndex(9, 180, 200, 195, 10), 10);
  EXPECT_EQ(lb::DropIndex(-1, 0, 0, 500, 10), 10);
  EXPECT_EQ(lb::DropIndex(-1, 0, 0, 5, 0), 0);
}

TEST(DropIndexTest, MovesWithinOneListCountWithoutTheMovedSongs) {
  EXPECT_EQ(lb::AdjustDropIndexForMove(5, {2, 3}), 3);
  EXPECT_EQ(lb::AdjustDropIndexForMove(5, {5, 6}), 5);
  EXPECT_EQ(lb::AdjustDropIndexForMove(0, {2, 3}), 0);
  EXPECT_EQ(lb::AdjustDropIndexForMove(10, {0, 4, 9}), 7);
  EXPECT_TRUE(lb::DropMoves(true, false));
  EXPECT_TRUE(lb::DropMoves(false, true));
  EXPECT_FALSE(lb::DropMoves(false, false));
}

class CarrySongsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    docwintest::FillDocument(source, dir, docwintest::MissingFiles(dir, 8, "a"));
    docwintest::FillDocument(target, dir + "/other", docwintest::MissingFiles(dir, 3, "b"));
  }
  QString Name(const TSlDocument& doc, int n) { return lb::FileBaseName(doc.m_Songs[n].m_Path); }
  QStringList Names(const TSlDocument& doc) {
    QStringList names;
    for (int n = 0; n < doc.m_Songs.size(); ++n) names << Name(doc, n);
    return names;
  }

  ScriptedUiServices ui;
  QString dir = lbtest::NewTempDir();
  TSlDocument source, target;
};

TEST_F(CarrySongsTest, RowsTwoAndThreeOntoRowFiveLandAtThree) {
  EXPECT_EQ(lb::CarrySongs(source, {2, 3}, source, 5, true), 3);
  EXPECT_EQ(Names(source), QStringList({"a0", "a1", "a4", "a2", "a3", "a5", "a6", "a7"}));
  EXPECT_TRUE(source.m_bModified);
}

TEST_F(CarrySongsTest, MovingToTheEndAndToTheStart) {
  EXPECT_EQ(lb::CarrySongs(source, {0, 7}, source, 8, true), 6);
  EXPECT_EQ(Names(source), QStringList({"a1", "a2", "a3", "a4", "a5", "a6", "a0", "a7"}));
  EXPECT_EQ(lb::CarrySongs(source, {6, 7}, source, 0, true), 0);
  EXPECT_EQ(Names(source), QStringList({"a0", "a7", "a1", "a2", "a3", "a4", "a5", "a6"}));
}

TEST_F(CarrySongsTest, CopyLeavesTheSourceAndMoveEmptiesIt) {
  EXPECT_EQ(lb::CarrySongs(source, {1, 2}, target, 1, false), 1);
  EXPECT_EQ(Names(target), QStringList({"b0", "a1", "a2", "b1", "b2"}));
  EXPECT_EQ(source.m_Songs.size(), 8);
  // Songs in another list keep naming their files: full paths, the new document.
  EXPECT_EQ(target.m_Songs[1].GetPath(true), dir + "/a1.mp3");
  EXPECT_EQ(target.m_Songs[1].m_Parent, &target);

  EXPECT_EQ(lb::CarrySongs(source, {0, 7}, target, 5, true), 5);
  EXPECT_EQ(Names(source), QStringList({"a1", "a2", "a3", "a4", "a5", "a6"}));
  EXPECT_EQ(Names(target).mid(5), QStringList({"a0", "a7"}));
}

TEST_F(CarrySongsTest, NothingLeavesASynchronisingList) {
  source.m_DocNotSync->ResetEvent();
  EXPECT_FALSE(lb::CanRemoveSongs(source));
  EXPECT_EQ(lb::CarrySongs(source, {1}, target, 0, true), -1);
  EXPECT_EQ(lb::CarrySongs(source, {1}, source, 0, true), -1);
  EXPECT_EQ(source.m_Songs.size(), 8);
  EXPECT_EQ(target.m_Songs.size(), 3);
  // Copying out of it is fine.
  EXPECT_EQ(lb::CarrySongs(source, {1}, target, 0, false), 0);
  EXPECT_EQ(target.m_Songs.size(), 4);
  source.m_DocNotSync->SetEvent();
  EXPECT_EQ(lb::CarrySongs(source, {}, target, 0, true), -1);
}

TEST(ColumnAtXTest, SumsWidthsFromTheLeft) {
  const std::vector<int> widths{40, 200, 16};
  EXPECT_EQ(lb::ColumnAtX(widths, 0), 0);
  EXPECT_EQ(lb::ColumnAtX(widths, 39), 0);
  EXPECT_EQ(lb::ColumnAtX(widths, 40), 1);
  EXPECT_EQ(lb::ColumnAtX(widths, 255), 2);
  EXPECT_EQ(lb::ColumnAtX(widths, 256), -1);
  EXPECT_EQ(lb::ColumnAtX(widths, -1), -1);
  EXPECT_EQ(lb::RepaintBlockStart(31), 16);
  EXPECT_EQ(lb::RepaintBlockStart(15), 0);
}

}  // namespace
