// The rename and copy/move dialogs as the user meets them: refused masks keep the
// dialog open, a run renames or moves the selected files, the window's other lists are
// told the new paths, and the summary is shown.
#include "../docwin_gui/FakeHost.h"
#include "../files/FilesTestUtil.h"

#include "lbtools3/docwin/DocumentWindow.h"
#include "lbtools3/docwin/ListView.h"
#include "lbtools3/files/RenameDialog.h"
#include "lbtools3/files/CopyMoveDialog.h"
#include "lbtools3/ui/WindowUndo.h"
#include "platform/FileSystem.h"
#include "platform/ScriptedUiServices.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QThread>
#include <gtest/gtest.h>

namespace {

class FilesDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(modeltest::AttachID3Com());
    for (const char* artist : {"Queen", "Abba"})
      paths << filestest::MakeMp3(dir + "/" + artist + ".mp3", {"Song", artist, ""});
    TSlDocument source;
    source.SetFileName(dir + "/list.m3u");
    for (const QString& p : paths) source.InsertSong(TSlSong(nullptr, p, QString()), -1);
    source.m_bNew = false;
    child = new TMDIChild(&area, &host, source.m_FileName, false, &source);
    child->ShowWindow();
    WaitIdle();
    child->ListView2->SelectItems({1});
  }
  void TearDown() override {
    WaitIdle();
    child->m_Document.m_bModified = false;
    for (QMdiSubWindow* sub : area.subWindowList()) delete sub;
  }
  void WaitIdle() {
    while (child->IsSynchronising()) {
      QApplication::processEvents(QEventLoop::AllEvents, 5);
      QThread::msleep(1);
    }
    QApplication::processEvents();
  }

  ScriptedUiServices ui;
  QString dir = lbtest::NewTempDir();
  QStringList paths;
  FakeHost host;  // outlives the window, which tells it that it closes
  QMdiArea area;
  TMDIChild* child = nullptr;
};

TEST_F(FilesDialogsTest, RenameDialogRefusesBadMasksAndRenamesTheSelection) {
  TNewRenameFiles dialog(child, nullptr);
  EXPECT_EQ(dialog.Edit1->text(), "%2 - %1.%e");
  dialog.Edit1->setText("%2%x");
  dialog.OKBtnClick();
  EXPECT_EQ(ui.Texts(), QStringList{"В строке присутствуют недопустимые выражения"});
  EXPECT_NE(dialog.result(), QDialog::Accepted);

  dialog.Edit1->setText("%&2 %17");
  dialog.Edit2->setText("2");
  dialog.OKBtnClick();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  const QString renamed = dir + "/ABBA 02";
  EXPECT_TRUE(lb::FileExists(renamed));
  EXPECT_EQ(child->m_Document.m_Songs[1].GetPath(true), renamed);
  EXPECT_EQ(host.changedPaths, (QStringList{paths[1], renamed}));
  EXPECT_EQ(host.skipped, child);
  EXPECT_EQ(host.ini.ReadString("Settings", "Rename Files Mask", ""), "%&2 %17");
  EXPECT_EQ(host.ini.ReadInteger("Settings", "Rename N length", 0), 2);

  // "Отменить" renames the file back; the other lists follow.
  ASSERT_EQ(lb::UndoText(child), "Отменить переименование файлов");
  lb::UndoLastChange(child);
  EXPECT_TRUE(lb::FileExists(paths[1]));
  EXPECT_EQ(child->m_Document.m_Songs[1].GetPath(true), paths[1]);
  EXPECT_EQ(host.changedPaths, (QStringList{paths[1], renamed, renamed, paths[1]}));
  EXPECT_FALSE(lb::CanUndoLastChange(child));
}

TEST_F(FilesDialogsTest, MoveDialogCreatesTheRootAndSummarises) {
  TCopyMoveFiles dialog(child, false, nullptr);
  EXPECT_EQ(dialog.windowTitle(), "LBTools - Перемещение файлов");
  EXPECT_FALSE(dialog.CheckBoxChangePaths->isEnabled());
  EXPECT_EQ(dialog.ListViewUnselected->count(), 14);
  // Artist, chosen with the arrow command.
  dialog.show();
  QApplication::setActiveWindow(&dialog);
  dialog.ListViewUnselected->setFocus();
  QApplication::processEvents();
  EXPECT_FALSE(dialog.LeftArrow->isEnabled());  // nothing chosen yet
  dialog.ListViewUnselected->item(2)->setSelected(true);
  dialog.LeftArrow->trigger();
  ASSERT_EQ(dialog.ListViewSelected->count(), 1);
  EXPECT_EQ(dialog.ListViewSelected->item(0)->data(Qt::UserRole).toInt(), 2);
  const QString root = dir + "/Music";
  dialog.DirectoryEdit1->setEditText(root);
  ui.Answer(IDYES);  // create the root
  dialog.OKBtnClick();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(child->m_Document.m_Songs[1].GetPath(true), root + "/Abba/Abba.mp3");
  EXPECT_TRUE(lb::FileExists(root + "/Abba/Abba.mp3"));
  EXPECT_FALSE(lb::FileExists(paths[1]));
  EXPECT_EQ(host.changedPaths, (QStringList{paths[1], root + "/Abba/Abba.mp3"}));
  EXPECT_TRUE(host.events.contains("forget row"));
  ASSERT_FALSE(ui.Texts().empty());
  EXPECT_EQ(ui.Texts().last(),
            "Всего было выделено 1 файлa(ов)\nбыло обработано 1 файлa(ов)\nпропущено 0 файлa(ов)");
  EXPECT_EQ(host.ini.ReadString("Settings", "CopyMoveString0", ""), root);
  EXPECT_EQ(host.ini.ReadString("Settings", "CopyMoveFilesSystematicMask", ""), "2");
}

TEST_F(FilesDialogsTest, CopyDialogShowsEveryCriterionAndTakesARelativeRootBelowTheList) {
  TCopyMoveFiles dialog(child, true, nullptr);
  dialog.show();
  QApplication::processEvents();
  for (QListWidget* list : {dialog.ListViewUnselected, dialog.ListViewSelected}) {
    // Every criterion in one list fits without scrolling.
    EXPECT_GE(list->viewport()->height(),
              dialog.ListViewUnselected->sizeHintForRow(0) * lb::kCriterionCount);
  }
  dialog.DirectoryEdit1->setEditText("rel_out");
  ui.Answer(IDYES);  // create the root
  dialog.OKBtnClick();
  EXPECT_EQ(host.ini.ReadString("Settings", "CopyMoveString0", ""), dir + "/rel_out");
  EXPECT_EQ(filestest::FilesBelow(dir + "/rel_out").filter("Abba.mp3").size(), 1);
  EXPECT_EQ(child->m_Document.m_Songs[1].GetPath(true), paths[1]);  // a copy leaves the list
}

}  // namespace
