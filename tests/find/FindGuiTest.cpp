// The find dialog, the results window, the sort dialog and the document window's part
// in both, with real widgets on the offscreen platform.
#include "FakeLists.h"
#include "TestEnv.h"
#include "docwin_gui/FakeHost.h"

#include "lbtools3/docwin/DocumentWindow.h"
#include "lbtools3/model/SongFields.h"
#include "lbtools3/find/FindDialog.h"
#include "lbtools3/find/SortDialog.h"
#include "lbtools3/find/FindResultsWindow.h"
#include "platform/IniFile.h"
#include "platform/ScriptedUiServices.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

using findtest::FakeLists;

class FindGuiTest : public ::testing::Test {
 protected:
  QString dir = lbtest::NewTempDir();
  TIniFile ini{dir + "/lbtools3.ini"};
  ScriptedUiServices ui;
  FakeLists host;
  TNewFindTextForm results{&host};
};

TEST_F(FindGuiTest, OkChecksSearchesAndShowsTheResults) {
  host.AddOpen(dir + "/a.m3u").Add({"ABBA", "kino", "Abba"});
  TNewFindText dialog(nullptr, &host, ini, &results);
  EXPECT_TRUE(dialog.RadioButtons[fsCurrent]->isChecked());
  ASSERT_EQ(dialog.ListBox1->count(), lb::kFindRowCount);
  EXPECT_EQ(dialog.ListBox1->item(8)->text(), lb::ColumnCaption(10));  // kind 9 left out
  // First use: title, artist and album of both tags.
  EXPECT_EQ(dialog.Choices().mask, TFindChoices::DefaultMask());
  dialog.ComboBox1->setEditText("abba");
  dialog.ListBox1->item(lb::FindKindRow(11))->setSelected(true);

  // "В текущем" without a window: told, switched to "Во всех", the dialog stays.
  dialog.OKBtn->click();
  ASSERT_EQ(ui.Texts(), QStringList({"Отсутствует текущий лист"}));
  EXPECT_TRUE(dialog.RadioButtons[fsAll]->isChecked());
  EXPECT_EQ(dialog.result(), 0);
  EXPECT_TRUE(results.Rows().empty());

  dialog.OKBtn->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  ASSERT_EQ(results.ListView1->topLevelItemCount(), 1);
  EXPECT_EQ(results.ListView1->topLevelItem(0)->text(0), dir + "/a.m3u");
  EXPECT_EQ(results.ListView1->topLevelItem(0)->text(1), "2");
  EXPECT_TRUE(results.isVisible());
  EXPECT_TRUE(results.BtnClear->isEnabled());

  // The next dialog shows what was stored.
  TNewFindText again(nullptr, &host, ini, &results);
  EXPECT_EQ(again.ComboBox1->currentText(), "abba");
  EXPECT_TRUE(again.RadioButtons[fsAll]->isChecked());
  EXPECT_TRUE(again.ListBox1->item(lb::FindKindRow(11))->isSelected());
  EXPECT_EQ(again.ComboBox2->itemData(0).toInt(), 255);
}

TEST_F(FindGuiTest, RowsClickClearAndHide) {
  findtest::FakeWindow& open = host.AddOpen(dir + "/a.m3u");
  open.Add({"a", "b", "c"});
  host.AddClosed(dir + "/b.m3u", false);
  TFoundLists rows;
  rows.push_back({dir + "/a.m3u", {1, 2}, nullptr, false});
  rows.push_back({dir + "/b.m3u", {0}, std::make_unique<TSlDocument>(), false});
  rows.push_back({dir + "/c.m3u", {}, nullptr, true, "Файл не найден"});
  results.SetRows(std::move(rows));
  results.show();
  // A list that could not be loaded shows why instead of a count.
  EXPECT_EQ(results.ListView1->topLevelItem(2)->text(1), "Файл не найден");
  // Enter opens the current row as a click does.
  results.ListView1->setCurrentItem(results.ListView1->topLevelItem(0));
  QTest::keyClick(results.ListView1, Qt::Key_Return);
  EXPECT_EQ(open.activations, 1);
  EXPECT_EQ(open.selected, std::vector<int>({1, 2}));
  // Hiding lets the kept documents go; the rows stay (a click opens from the file).
  results.hide();
  EXPECT_FALSE(results.Rows()[1].document);
  results.RowClick(1);
  ASSERT_EQ(host.openedSources.size(), 1u);
  EXPECT_EQ(host.openedSources[0], nullptr);
  results.BtnClear->click();
  EXPECT_EQ(results.ListView1->topLevelItemCount(), 0);
  EXPECT_FALSE(results.BtnClear->isEnabled());
}

TEST(SortDlg, KindsAndProgramWideChoices) {
  g_bSortAscending = true;
  g_bSortCaseSensitive = false;
  {
    TNewSortDlg dialog;
    ASSERT_EQ(dialog.ComboBox1->count(), 23);
    EXPECT_EQ(dialog.ComboBox1->findText("Трэк (Тэг1)"), -1);
    EXPECT_EQ(dialog.ComboBox1->currentData().toInt(), 1);
    EXPECT_TRUE(dialog.RadioButton1->isChecked());
    dialog.RadioButton2->click();
    dialog.CheckBox1->click();
    EXPECT_FALSE(g_bSortAscending);  // at once, also when the dialog is cancelled
    EXPECT_TRUE(g_bSortCaseSensitive);
  }
  TNewSortDlg next;
  EXPECT_TRUE(next.RadioButton2->isChecked());
  EXPECT_TRUE(next.CheckBox1->isChecked());
  next.ComboBox1->setCurrentIndex(next.ComboBox1->findText("Название (Тэг2)"));
  const lb::TSortOrder order = next.Order();
  EXPECT_EQ(order.kind, 11);
  EXPECT_FALSE(order.bAscending);
  EXPECT_TRUE(order.bCaseSensitive);
  g_bSortAscending = true;
  g_bSortCaseSensitive = false;
}

TEST(FindSortWindow, SortsTheSelectionAndSelectsRows) {
  FakeHost host;
  QMdiArea area;
  auto* child = new TMDIChild(&area, &host, "/m/list.m3u", true, nullptr);
  for (const char* title : {"d", "c", "b", "a"}) {
    TSlSong song(nullptr, QString("/m/%1.mp3").arg(title), QString());
    song.m_Tag2.SetTitle(title);
    child->m_Document.InsertSong(song, -1);
  }
  child->RefreshCount();
  child->m_Document.m_bModified = false;
  // Nothing selected: nothing changes.
  child->ArrangeItems(lb::SongArranger({11, true, false}));
  EXPECT_FALSE(child->m_Document.m_bModified);
  EXPECT_EQ(child->m_Document.m_Songs[0].m_Tag2.Title, "d");
  // Rows beyond the list are ignored.
  child->SelectSongs({1, 3, 7});
  EXPECT_EQ(child->GatherSelected(false), std::vector<int>({1, 3}));
  child->ArrangeItems(lb::SongArranger({11, true, false}));
  EXPECT_EQ(child->m_Document.m_Songs[1].m_Tag2.Title, "a");
  EXPECT_EQ(child->m_Document.m_Songs[3].m_Tag2.Title, "c");
  EXPECT_TRUE(child->m_bPlayerListOutdated);
  child->m_Document.m_bModified = false;
  delete child->SubWindow();
}

}  // namespace
