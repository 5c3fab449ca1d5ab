// The dialogs of the maintenance commands and of reports over a real document window:
// what they show, what OK changes, and what they keep in the settings file.
#include "PathLists.h"
#include "TestEnv.h"
#include "../docwin_gui/FakeHost.h"

#include "lbtools3/docwin/DocumentWindow.h"
#include "lbtools3/files/CopyMoveDialog.h"
#include "lbtools3/files/RenameDialog.h"
#include "lbtools3/find/FindDialog.h"
#include "lbtools3/find/FindResultsWindow.h"
#include "lbtools3/find/SortDialog.h"
#include "lbtools3/maintenance/ForgottenFilesDialog.h"
#include "lbtools3/maintenance/ReplacePathsDialog.h"
#include "lbtools3/maintenance/RelinkDialog.h"
#include "lbtools3/report/Report.h"
#include "lbtools3/report/ReportDialog.h"
#include "lbtools3/ui/Help.h"
#include "lbtools3/ui/IRepositoryLists.h"
#include "lbtools3/ui/InfoWindow.h"
#include "platform/ScriptedUiServices.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class MaintenanceDlgTest : public ::testing::Test {
 protected:
  TMDIChild* Open(const QStringList& paths) {
    TSlDocument source;
    source.SetFileName(dir + "/list.m3u");
    for (const QString& p : paths) source.InsertSong(TSlSong(nullptr, p, QString()), -1);
    for (int n = 0; n < source.m_Songs.size(); ++n) source.m_Songs[n].m_FileAge = kAgeMissing;
    source.m_bNew = false;
    source.m_bModified = false;
    child = new TMDIChild(&area, &host, source.m_FileName, false, &source);
    return child;
  }
  void TearDown() override {
    if (child) delete child->SubWindow();
  }

  ScriptedUiServices ui;
  FakeHost host;
  QMdiArea area;
  TMDIChild* child = nullptr;
  lbtest::PathLists lists;  // none
  QString dir = lbtest::NewTempDir();
};

TEST_F(MaintenanceDlgTest, WriteTextRemembersFieldsByMaskAndNeedsACurrentList) {
  TIniFile& ini = host.ini;
  ini.WriteInteger("Settings", "ExportFilesMask", 1 << 22);
  ini.WriteInteger("Settings", "ExportFilesLists", 0);
  {
    TWriteTextDlg dlg(nullptr, lists, ini);
    ASSERT_EQ(dlg.ListBoxFields->count(), 24);
    EXPECT_EQ(dlg.ListBoxFields->item(21)->text(), "Трэк (Тэг2)");
    ASSERT_EQ(dlg.ListBoxFields->selectedItems().size(), 1);
    EXPECT_TRUE(dlg.ListBoxFields->item(21)->isSelected());
    dlg.FilenameEdit1->setText("\"" + dir + "/r.txt\"");
    dlg.OKBtnClick();
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(dlg.FilenameEdit1->text(), dir + "/r.txt");
    EXPECT_TRUE(dlg.RadioGroup1[3]->isChecked());
    EXPECT_EQ(ui.Texts(), QStringList{"Отсутствует текущий лист"});
    dlg.ListBoxFields->item(21)->setSelected(false);
    dlg.ListBoxFields->item(9)->setSelected(true);
    dlg.OKBtnClick();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
  }
  EXPECT_EQ(ini.ReadInteger("Settings", "ExportFilesMask", 0), 1 << 10);
  EXPECT_EQ(ini.ReadInteger("Settings", "ExportFilesLists", 0), 3);
  EXPECT_TRUE(QFile::exists(dir + "/r.txt"));

  // The current window with a selection writes only the selected entries.
  Open({"/m/a.mp3", "/m/b.mp3", "/m/c.mp3"});
  child->ListView2->SelectItems({1});
  TWriteTextDlg dlg(child, lists, ini);
  dlg.SetListsIndex(0);
  dlg.FilenameEdit1->setText(dir + "/r2.htm");
  dlg.ListBoxFields->clearSelection();
  dlg.ListBoxFields->item(2)->setSelected(true);
  dlg.OKBtnClick();
  const QString html = QString::fromUtf8(lbtest::ReadFile(dir + "/r2.htm"));
  EXPECT_TRUE(html.contains("; Всего записей: 3; из них выделено: 1</CAPTION>"));
  EXPECT_TRUE(html.contains("<TR><TD>/m/b.mp3</TD>") && !html.contains("/m/a.mp3"));
}

TEST_F(MaintenanceDlgTest, ReplacePathsOffersTheDrivesOfTheSelectedSongs) {
  QDir().mkpath(dir + "/e");
  host.ini.WriteString("Drives", "E", dir + "/e");
  Open({"c:\\Music\\a.mp3", "/x/b.mp3", "D:\\Music\\c.mp3", "F:\\d.mp3"});
  child->ListView2->SelectItems({0, 1, 2});
  TNewReplacePaths dlg(child, host.ini);
  ASSERT_EQ(dlg.RxDrawGridDisks->rowCount(), 2);
  EXPECT_EQ(dlg.RxDrawGridDisks->item(0, 0)->text(), "C:");
  EXPECT_EQ(dlg.RxDrawGridDisks->item(1, 0)->text(), "D:");
  EXPECT_FALSE(dlg.SetReplacement(0, "Q:"));
  EXPECT_FALSE(dlg.DrivesChanged());
  EXPECT_TRUE(dlg.SetReplacement(0, "e"));
  EXPECT_TRUE(dlg.DrivesChanged());
  dlg.EditFind->setText("\\music\\");
  dlg.EditReplace->setText("\\Audio\\");
  dlg.CheckBox1->setChecked(false);
  dlg.OKBtnClick();
  const TSlDocument& doc = child->m_Document;
  EXPECT_EQ(doc.m_Songs[0].m_Path, "E:\\Audio\\a.mp3");
  EXPECT_EQ(doc.m_Songs[1].m_Path, "/x/b.mp3");
  EXPECT_EQ(doc.m_Songs[2].m_Path, "D:\\Audio\\c.mp3");
  EXPECT_EQ(doc.m_Songs[3].m_Path, "F:\\d.mp3");
  EXPECT_TRUE(doc.m_bModified);
  EXPECT_TRUE(host.ini.ValueExists("Settings", "Replace Paths case"));
  EXPECT_EQ(ui.Texts(), QStringList{"Изменено путей: 2."});
}

TEST_F(MaintenanceDlgTest, CheckListSelectsTheMissingFiles) {
  lbtest::WriteFile(dir + "/here.mp3", "x");
  Open({dir + "/here.mp3", dir + "/gone.mp3"});
  child->ListView2->SelectItems({0});
  lb::CheckListInWindow(child);
  EXPECT_EQ(child->ListView2->SelectedItems(), std::vector<int>{1});
  EXPECT_EQ(ui.Texts(), QStringList{"Проверка завершена.\nНе найдено 1 файла(ов)."});
}

TEST_F(MaintenanceDlgTest, CheckListOffersToFindTheMovedFiles) {
  Open({dir + "/gone.mp3"});
  int offered = 0;
  ui.Answer(IDOK);
  ui.Answer(IDYES);
  lb::CheckListInWindow(child, [&] { ++offered; });
  EXPECT_EQ(offered, 1);
  EXPECT_EQ(ui.Texts(), QStringList({"Проверка завершена.\nНе найдено 1 файла(ов).",
                                     "Найти, куда перемещены пропавшие файлы?"}));
}

TEST_F(MaintenanceDlgTest, RelinkReviewTakesSureMatchesAndHandPickedOnes) {
  lbtest::WriteFile(dir + "/Kino/a.mp3", "x");
  lbtest::WriteFile(dir + "/Kino/b.mp3", "x");
  lbtest::WriteFile(dir + "/Other/b.mp3", "x");
  Open({dir + "/Кино/a.mp3", dir + "/Кино/b.mp3", dir + "/Кино/c.mp3"});
  {
    TRelinkDlg dlg(*child, host, lists, host.ini);
    dlg.DirectoryEdit1->setText(dir + "/Kino");
    dlg.ButtonAddClick();
    dlg.DirectoryEdit1->setText(dir + "/Other");
    dlg.ButtonAddClick();
    EXPECT_FALSE(dlg.OkBtn->isEnabled());
    dlg.SearchBtnClick();
    ASSERT_EQ(dlg.ResultGrid->rowCount(), 3);
    EXPECT_EQ(dlg.SummaryLabel->text(), "Пропавших файлов: 3, найдено: 2, уверенно: 1");
    EXPECT_EQ(dlg.Choices(), std::vector<int>({-1, -1, -1}));  // nothing taken unasked
    dlg.SureBtnClick();
    EXPECT_EQ(dlg.Choices(), std::vector<int>({0, -1, -1}));
    // Two files named b.mp3 and no tags to tell them apart: the user picks one.
    auto* combo = qobject_cast<QComboBox*>(dlg.ResultGrid->cellWidget(1, 1));
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(2), QDir::toNativeSeparators(dir + "/Other/b.mp3") + " (70)");
    combo->setCurrentIndex(2);
    EXPECT_FALSE(qobject_cast<QComboBox*>(dlg.ResultGrid->cellWidget(2, 1))->isEnabled());
    dlg.OkBtnClick();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
  }
  EXPECT_EQ(host.changedPaths, QStringList({dir + "/Кино/a.mp3", dir + "/Kino/a.mp3",
                                            dir + "/Кино/b.mp3", dir + "/Other/b.mp3"}));
  EXPECT_EQ(host.skipped, nullptr);  // the window's own list follows too
  EXPECT_EQ(lb::ReadSearchFolders(host.ini, lb::kRelinkDirsSection),
            QStringList({dir + "/Kino", dir + "/Other"}));
}

TEST_F(MaintenanceDlgTest, ForgottenFilesKeepsItsFolderList) {
  QDir().mkpath(dir + "/a");
  QDir().mkpath(dir + "/b");
  lb::WriteSearchFolders(host.ini, {dir + "/a"});
  {
    TDeadFilesDlg dlg(lists, host.ini);
    EXPECT_EQ(dlg.Folders(), QStringList{dir + "/a"});
    EXPECT_FALSE(dlg.RadioButton2->isEnabled());
    EXPECT_FALSE(dlg.ButtonRemove->isEnabled());
    dlg.DirectoryEdit1->setText(dir + "/b");
    dlg.ButtonAddClick();
    dlg.ButtonAddClick();
    dlg.DirectoryEdit1->setText(dir + "/none");
    dlg.ButtonAddClick();
    dlg.TextListBox1->item(0)->setSelected(true);
    EXPECT_TRUE(dlg.ButtonRemove->isEnabled());
    dlg.ButtonRemoveClick();
    EXPECT_EQ(dlg.Folders(), QStringList{dir + "/b"});
    // A folder typed but not added is searched and kept when the user presses "Да".
    dlg.DirectoryEdit1->clear();
    QTest::keyClicks(dlg.DirectoryEdit1, dir + "/a");
    dlg.OkBtnClick();
    EXPECT_EQ(dlg.Folders(), QStringList({dir + "/b", dir + "/a"}));
  }
  EXPECT_EQ(lb::ReadSearchFolders(host.ini), QStringList({dir + "/b", dir + "/a"}));
}

// F1 in every dialog of the list operations and in the progress window opens the
// guide at that dialog's own section, and the guide has each section.
TEST_F(MaintenanceDlgTest, F1OpensEachDialogsSectionOfTheGuide) {
  Open({dir + "/a.mp3"});
  QStringList topics;
  const lb::THelpViewer previous = lb::SetHelpViewer([&topics](const QString& topic) {
    topics << topic;
    return true;
  });
  TNewFindTextForm results(nullptr);
  TNewFindText find(child, nullptr, host.ini, &results);
  TNewSortDlg sort;
  TNewRenameFiles rename(child, nullptr);
  TCopyMoveFiles copy(child, true, nullptr);
  TWriteTextDlg report(child, lists, host.ini);
  TNewReplacePaths replace(child, host.ini);
  TDeadFilesDlg forgotten(lists, host.ini);
  TRelinkDlg moved(*child, host, lists, host.ini);
  TInfoWindow progress(nullptr, [] {});
  for (QWidget* dialog : std::initializer_list<QWidget*>{&find, &sort, &rename, &copy, &report,
                                                         &replace, &forgotten, &moved, &progress}) {
    for (QShortcut* key : dialog->findChildren<QShortcut*>())
      if (key->key() == QKeySequence(Qt::Key_F1)) emit key->activated();
  }
  lb::SetHelpViewer(previous);
  const QStringList expected = {"context_2",  "context_4",  "context_5",   "context_7", "report",
                                "context_21", "context_24", "moved_files", "progress"};
  EXPECT_EQ(topics, expected);
  const QByteArray guide = lbtest::ReadFile(lb::HelpFilePath());
  for (const QString& topic : expected)
    EXPECT_TRUE(guide.contains("id=\"" + topic.toUtf8() + "\"")) << topic.toStdString();
}

TEST_F(MaintenanceDlgTest, WriteTextAsksAboutOverwritingOnce) {
  lbtest::WriteFile(dir + "/old.htm", "old");
  TWriteTextDlg dlg(nullptr, lists, host.ini);
  dlg.SetListsIndex(3);
  // The file dialog asked about the file it returns: OK does not ask again.
  ui.NextSaveFileName(dir + "/old.htm");
  dlg.BrowseBtn->click();
  EXPECT_EQ(dlg.FilenameEdit1->text(), dir + "/old.htm");
  dlg.OKBtnClick();
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_FALSE(ui.Texts().contains("Файл уже существует. Переписать ?"));
  EXPECT_TRUE(lbtest::ReadFile(dir + "/old.htm").startsWith("<!DOCTYPE"));
}

}  // namespace
