// The main window as a user meets it: captions and icons, the tray, the "Окно" menu and
// closing keys, tiling, tool bars, the Tab ring, opening lists, modified marks, where
// new windows open, the columns dialog's layout, the repository pane and file dialogs.
#include "TestEnv.h"
#include "model/ModelTestUtil.h"

#include "lbtools3/app/Main.h"
#include "lbtools3/repository/Repository.h"
#include "lbtools3/repository/RepositoryView.h"
#include "lbtools3/app/WindowLayout.h"
#include "lbtools3/docwin/DocumentWindow.h"
#include "lbtools3/docwin/ColumnsDialog.h"
#include "lbtools3/ui/Application.h"
#include "lbtools3/ui/QtUiServices.h"
#include "platform/IniFile.h"
#include "platform/ScriptedUiServices.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QScrollBar>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <gtest/gtest.h>

namespace {

class WindowUxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(modeltest::AttachID3Com());
    ini.WriteInteger("Position", "State", 0);  // not a first run
  }
  QString MakeList(const QString& name) {
    const QString path = dir + "/" + name;
    lbtest::WriteFile(path, "/m/missing.mp3\r\n");
    return path;
  }
  // Shows the form and lets its first activation (which re-opens lists) finish.
  static void ShowActivated(TMainForm& form) {
    bool done = false;
    QObject::connect(&form, &TMainForm::FirstActivationDone, [&done] { done = true; });
    form.show();
    QApplication::setActiveWindow(&form);
    for (int i = 0; i < 200 && !done; ++i) QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  static QMenu* Menu(TMainForm& form, const QString& title) {
    for (QMenu* menu : form.findChildren<QMenu*>())
      if (menu->title() == title) return menu;
    return nullptr;
  }

  ScriptedUiServices ui;
  QString dir = lbtest::NewTempDir();
  TIniFile ini{dir + "/lbtools3.ini"};
};

TEST_F(WindowUxTest, CaptionsStayAsGivenAndEveryWindowHasTheIcon) {
  // Qt appends a display name, once one is set, to every caption.
  lb::SetUpApplication(*qApp);
  const QString name = QCoreApplication::applicationName();
  QCoreApplication::setApplicationName("probe");
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), "probe");
  QCoreApplication::setApplicationName(name);
  EXPECT_FALSE(QGuiApplication::windowIcon().isNull());

  TMainForm form(ini, false);
  EXPECT_EQ(form.windowTitle(), "Lyrabox Tools, 3.0");
  EXPECT_FALSE(form.windowIcon().isNull());
  auto* tray = form.findChild<QSystemTrayIcon*>();
  ASSERT_NE(tray, nullptr);
  EXPECT_FALSE(tray->icon().isNull());
  auto* child = static_cast<TMDIChild*>(form.Repository().NewDocument());
  EXPECT_FALSE(child->SubWindow()->windowIcon().isNull());

  // No tray to come back from: minimising leaves the window where the user sees it.
  ini.WriteBool("Settings", "HideMainWindow", true);
  form.show();
  form.showMinimized();
  QApplication::processEvents();
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    EXPECT_FALSE(form.isHidden());
    EXPECT_FALSE(tray->isVisible());
  }
}

TEST_F(WindowUxTest, QtsFileDialogsSpeakRussianAndStartInTheLastFolder) {
  lb::SetUpApplication(*qApp);
  EXPECT_EQ(QCoreApplication::translate("QAbstractFileIconProvider", "Folder"), "Папка");
  EXPECT_EQ(QtUiServices::FileSizeText(512), "512 байт");
  EXPECT_EQ(QtUiServices::FileSizeText(5000), "4,9 КБ");
  EXPECT_EQ(QtUiServices::FileSizeText(300LL * 1024 * 1024), "300 МБ");

  QtUiServices widgets;
  const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
  EXPECT_EQ(widgets.StartFolder(QString()), QDir(music).exists() ? music : QDir::homePath());
  widgets.RememberFolder(dir + "/a.mp3", false);
  EXPECT_EQ(widgets.StartFolder(QString()), dir);
  EXPECT_EQ(widgets.StartFolder("/given"), "/given");
}

TEST_F(WindowUxTest, WindowMenuListsTheListsAndKeysCloseTheActiveOne) {
  TMainForm form(ini, false);
  form.resize(1000, 700);
  ShowActivated(form);
  auto* a = static_cast<TMDIChild*>(form.Repository().OpenFile(MakeList("a.m3u")));
  auto* b = static_cast<TMDIChild*>(form.Repository().OpenFile(MakeList("b.m3u")));
  form.MdiArea()->setActiveSubWindow(a->SubWindow());

  QMenu* window = Menu(form, "&Окно");
  ASSERT_NE(window, nullptr);
  emit window->aboutToShow();
  emit window->aboutToShow();  // rebuilt, not doubled
  QList<QAction*> entries;
  for (QAction* action : window->actions())
    if (action->property("lbWindowEntry").toBool() && !action->isSeparator()) entries << action;
  ASSERT_EQ(entries.size(), 2);
  EXPECT_TRUE(entries[0]->text().contains(dir + "/a.m3u"));
  EXPECT_TRUE(entries[0]->isChecked());
  entries[1]->trigger();
  EXPECT_EQ(form.ActiveChild(), b);

  const QList<QKeySequence> keys = form.FindAction("FileClose1")->shortcuts();
  EXPECT_TRUE(keys.contains(QKeySequence("Ctrl+F4")));
  EXPECT_TRUE(keys.contains(QKeySequence("Ctrl+W")));
  // No frame action competes for them (an ambiguous key does nothing).
  for (QAction* action : a->SubWindow()->findChildren<QAction*>())
    for (const QKeySequence& key : action->shortcuts()) EXPECT_FALSE(keys.contains(key));

  // "Горизонтально": full width, one above the other.
  form.FindAction("WindowTileHorizontal1")->trigger();
  const QRect area = form.MdiArea()->viewport()->rect();
  const QRect first = a->SubWindow()->geometry(), second = b->SubWindow()->geometry();
  EXPECT_EQ(first.width(), area.width());
  EXPECT_EQ(second.width(), area.width());
  EXPECT_EQ(first.left(), 0);
  EXPECT_EQ(second.top(), first.bottom() + 1);
}

TEST_F(WindowUxTest, ToolBarsMenuKeepsTheMenuBarAndTheTicksInStep) {
  TMainForm form(ini, false);
  ShowActivated(form);
  QMenu* popup = form.createPopupMenu();
  ASSERT_NE(popup, nullptr);
  for (QAction* action : popup->actions())
    EXPECT_NE(action->text(), "Главное меню программы LBTools");
  delete popup;

  auto* bar = form.findChild<QToolBar*>("MainToolBar");
  ASSERT_NE(bar, nullptr);
  bar->toggleViewAction()->trigger();  // hidden from the pop-up menu
  EXPECT_TRUE(bar->isHidden());
  EXPECT_FALSE(form.FindAction("OptionsMainToolBar")->isChecked());
  bar->toggleViewAction()->trigger();
  EXPECT_TRUE(form.FindAction("OptionsMainToolBar")->isChecked());
}

TEST_F(WindowUxTest, TabSkipsHiddenToolBarsAndReachesTheListView) {
  TMainForm form(ini, false);  // the player is off: its tool bar is hidden
  ShowActivated(form);
  auto* child = static_cast<TMDIChild*>(form.Repository().OpenFile(MakeList("t.m3u")));
  child->Activate();
  form.findChild<TRepositoryView*>()->setFocus();
  form.FindAction("GlobalTab")->trigger();
  EXPECT_EQ(QApplication::focusWidget(), child->ListView2);
  form.FindAction("GlobalTab")->trigger();
  EXPECT_EQ(QApplication::focusWidget(), form.findChild<TRepositoryView*>());
}

TEST_F(WindowUxTest, OpenOpensEveryChosenListAndModifiedOnesShowAStar) {
  TMainForm form(ini, false);
  ui.NextOpenFileNames({MakeList("one.m3u"), MakeList("two.m3u")});
  form.FindAction("FileOpen1")->trigger();
  const QList<TMDIChild*> children = form.Children();
  ASSERT_EQ(children.size(), 2);

  TMDIChild* child = children[0];
  const QString caption = child->windowTitle();
  child->m_Document.m_bModified = true;
  form.UpdateActions();
  EXPECT_EQ(child->windowTitle(), caption + "*");
  child->m_Document.m_bModified = false;
  form.UpdateActions();
  EXPECT_EQ(child->windowTitle(), caption);
}

TEST_F(WindowUxTest, NewListWindowsOpenWhollyInsideTheDocumentArea) {
  EXPECT_EQ(lb::NewDocumentWindowRect(QSize(900, 500), 0), QRect(0, 0, 675, 400));
  EXPECT_EQ(lb::NewDocumentWindowRect(QSize(900, 500), 1), QRect(24, 24, 675, 400));
  EXPECT_EQ(lb::NewDocumentWindowRect(QSize(900, 500), 5), QRect(0, 0, 675, 400));
  EXPECT_EQ(lb::NewDocumentWindowRect(QSize(500, 300), 3), QRect(0, 0, 500, 300));

  TMainForm form(ini, false);
  form.resize(1100, 760);
  ShowActivated(form);
  QApplication::processEvents();
  const QRect area = form.MdiArea()->viewport()->rect();
  for (int n = 0; n < 4; ++n) {
    auto* child = static_cast<TMDIChild*>(form.Repository().NewDocument());
    const QRect frame = child->SubWindow()->geometry();
    EXPECT_TRUE(area.contains(frame)) << n;
    EXPECT_GE(frame.width(), qMin(area.width(), 640));
    EXPECT_GE(frame.height(), qMin(area.height(), 400));
  }
}

TEST_F(WindowUxTest, ConfirmedColumnsAreWrittenAtOnce) {
  TMainForm form(ini, false);
  const QString list = MakeList("cols.m3u");
  auto* child = static_cast<TMDIChild*>(form.Repository().OpenFile(list));
  form.MdiArea()->setActiveSubWindow(child->SubWindow());
  child->SetColumns({{0, 40}, {2, 150}});
  QTimer::singleShot(0, [] {
    if (auto* dialog = qobject_cast<TColumnsDlg*>(QApplication::activeModalWidget())) {
      dialog->SetRowTicked(1, false);
      dialog->OKBtnClick();
    }
  });
  ASSERT_TRUE(form.ExecuteCommand("OptionsDocColumns"));
  QString written;
  for (const QString& key : ini.ReadSection(TListsRepository::kSection))
    if (key.endsWith("*Columns"))
      written = ini.ReadString(TListsRepository::kSection, key, QString());
  EXPECT_EQ(written, "0,40");
}

TEST_F(WindowUxTest, RepositoryPaneKeepsItsFirstColumnsInView) {
  TMainForm form(ini, false);
  ShowActivated(form);
  form.Repository().Add(MakeList("wide.m3u"), false, nullptr);
  auto* view = form.findChild<TRepositoryView*>();
  view->resize(120, 200);
  QApplication::processEvents();
  ASSERT_GT(view->horizontalScrollBar()->maximum(), 0);
  view->scrollTo(view->model()->index(0, 3));
  EXPECT_EQ(view->horizontalScrollBar()->value(), 0);
}

}  // namespace
