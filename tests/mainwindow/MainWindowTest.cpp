// The main window with real document windows on the offscreen platform: hand-overs,
// hot keys, tool-bar placement, saving and path changes across the repository's lists.
#include "lbtools3/model/InfoWindowManager.h"
#include "TestEnv.h"
#include "model/ModelTestUtil.h"

#include "lbtools3/app/Main.h"
#include "lbtools3/repository/Repository.h"
#include "lbtools3/docwin/DocumentWindow.h"
#include "lbtools3/model/SongFields.h"
#include "platform/IniFile.h"
#include "platform/ScriptedUiServices.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMdiArea>
#include <QStandardPaths>
#include <QThread>
#include <QToolBar>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

QStringList Paths(const TSlDocument& doc) {
  QStringList paths;
  for (int n = 0; n < doc.m_Songs.size(); ++n) paths << doc.m_Songs[n].GetPath(true);
  return paths;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(modeltest::AttachID3Com());
    ini.WriteInteger("Position", "State", 0);  // not a first run
  }
  // Waits until every document window's pass has ended (the passes post to their
  // windows, so events are handled meanwhile); a pass that does not end fails the test.
  void Settle(TMainForm& form) {
    QDeadlineTimer deadline(30000);
    for (;;) {
      QApplication::processEvents();
      TMDIChild* busy = nullptr;
      for (TMDIChild* child : form.Children())
        if (child->m_Document.m_DocNotSync->WaitFor(0) != wrSignaled) busy = child;
      if (!busy) break;
      if (deadline.hasExpired()) {
        ADD_FAILURE() << "the synchronisation pass of " << busy->m_Document.m_FileName.toStdString()
                      << " did not end";
        return;
      }
      busy->m_Document.m_DocNotSync->WaitFor(10);
    }
    QApplication::processEvents();
  }
  // A list file with the given songs.
  QString MakeList(const QString& name, const QStringList& songs) {
    QByteArray bytes;
    for (const QString& s : songs) bytes += s.toUtf8() + "\r\n";
    const QString path = dir + "/" + name;
    lbtest::WriteFile(path, bytes);
    return path;
  }

  ScriptedUiServices ui;
  QString dir = lbtest::NewTempDir();
  TIniFile ini{dir + "/lbtools3.ini"};
};

TEST_F(MainWindowTest, HandOverGoesToTheActiveUnnamedDocumentOrANewOne) {
  TMainForm form(ini, false);
  const QString ten = "/m/123.mp3";
  const QString twenty = "/music/abcdefghi.mp3";
  // A file that is no music is skipped.
  form.HandOver(lb::BuildHandOverPayload({ten, "/m/readme.txt", twenty}));
  ASSERT_EQ(form.Children().size(), 1);
  TMDIChild* first = form.Children().first();
  EXPECT_TRUE(first->m_Document.m_bNew);
  EXPECT_EQ(Paths(first->m_Document), QStringList({ten, twenty}));
  EXPECT_EQ(first->m_Document.m_Songs[0].m_ExtInf, "");
  // While the unnamed document is active, the next hand-over joins it; an empty one
  // inserts nothing.
  form.MdiArea()->setActiveSubWindow(first->SubWindow());
  form.HandOver(lb::BuildHandOverPayload({"/m/x.mp3"}));
  form.HandOver(QByteArray(1, '\0'));
  EXPECT_EQ(form.Children().size(), 1);
  EXPECT_EQ(first->m_Document.m_Songs.size(), 3);

  // While a saved list is active, a new document takes the files.
  const QString list = MakeList("saved.m3u", {"/m/a.mp3"});
  IDocumentWindow* saved = form.Repository().OpenFile(list);
  ASSERT_FALSE(saved->LoadFailed());
  form.MdiArea()->setActiveSubWindow(static_cast<TMDIChild*>(saved)->SubWindow());
  form.HandOver(lb::BuildHandOverPayload({"/m/y.mp3"}));
  EXPECT_EQ(form.Children().size(), 3);
  EXPECT_EQ(static_cast<TMDIChild*>(saved)->m_Document.m_Songs.size(), 1);
  Settle(form);
}

// Another program in front leaves no active document window, but the current one is
// still the one the user works with.
TEST_F(MainWindowTest, HandOverInTheBackgroundJoinsTheCurrentUnnamedList) {
  TMainForm form(ini, false);
  form.show();
  form.HandOver(lb::BuildHandOverPayload({"/m/a.mp3"}));
  ASSERT_EQ(form.Children().size(), 1);
  QApplication::processEvents();
  // Another program comes to the front: the window and the application lose activation.
  QApplication::setActiveWindow(nullptr);
  QEvent deactivate(QEvent::ApplicationDeactivate);
  QCoreApplication::sendEvent(qApp, &deactivate);
  ASSERT_EQ(form.MdiArea()->activeSubWindow(), nullptr) << "the program is not in the background";
  form.HandOver(lb::BuildHandOverPayload({"/m/b.mp3"}));
  ASSERT_EQ(form.Children().size(), 1);
  EXPECT_EQ(Paths(form.Children().first()->m_Document), QStringList({"/m/a.mp3", "/m/b.mp3"}));
  Settle(form);
}

// A window restored minimised is not activated until the user restores it; the program
// gets ready all the same.
TEST_F(MainWindowTest, FirstActivationRunsWhileTheWindowIsNeverActivated) {
  struct NoActivation : QObject {
    bool eventFilter(QObject*, QEvent* event) override {
      return event->type() == QEvent::WindowActivate;
    }
  } noActivation;
  ini.WriteInteger("Position", "State", 1);
  TMainForm form(ini, false);
  form.installEventFilter(&noActivation);
  bool ready = false;
  QObject::connect(&form, &TMainForm::FirstActivationDone, [&] { ready = true; });
  form.show();
  for (int i = 0; i < 200 && !ready; ++i) {
    QApplication::processEvents();
    QThread::msleep(10);
  }
  EXPECT_TRUE(ready);
}

TEST_F(MainWindowTest, GlobalHotKeysRunEveryMatchingSlotInOrder) {
  const uint16_t ctrlK = 0x4000 | 'K';
  const uint16_t shiftL = 0x2000 | 'L';
  ini.WriteInteger("Winamp", "SpeedKey0", ctrlK);
  ini.WriteBool("Winamp", "SpeedKeyG0", true);
  ini.WriteInteger("Winamp", "SpeedKey5", ctrlK);
  ini.WriteBool("Winamp", "SpeedKeyG5", true);
  ini.WriteInteger("Winamp", "SpeedKey4", shiftL);  // local
  TMainForm form(ini, false);
  form.ApplyHotKeys(ReadHotKeys(ini));
  QStringList ran;
  for (const char* name : {"WinampBackward", "WinampShow", "WinampForward"}) {
    QAction* action = form.FindAction(name);
    action->setEnabled(true);
    QObject::connect(action, &QAction::triggered, [&ran, name] { ran << name; });
  }
  form.HotKey(ctrlK);
  EXPECT_EQ(ran, QStringList({"WinampBackward", "WinampShow"}));
  ran.clear();
  form.HotKey(shiftL);
  EXPECT_TRUE(ran.isEmpty());
  EXPECT_EQ(form.FindAction("WinampForward")->shortcut(), QKeySequence(KeyFromShortCut(shiftL)));
  EXPECT_TRUE(form.FindAction("WinampBackward")->shortcut().isEmpty());
}

TEST_F(MainWindowTest, ToolBarPlacementSurvivesARestart) {
  {
    TMainForm form(ini, false);
    form.show();
    auto* bar = form.findChild<QToolBar*>("MainToolBar");
    form.addToolBar(Qt::LeftToolBarArea, bar);
    form.findChild<QToolBar*>("WinampToolBar")->hide();
    form.SaveLayout();
  }
  TMainForm again(ini, false);
  again.show();
  again.RestoreLayout();
  EXPECT_EQ(again.toolBarArea(again.findChild<QToolBar*>("MainToolBar")), Qt::LeftToolBarArea);
  EXPECT_FALSE(again.findChild<QToolBar*>("WinampToolBar")->isVisible());
  EXPECT_FALSE(again.FindAction("OptionsPlayToolBar")->isChecked());
}

TEST_F(MainWindowTest, SaveAllKeepsTheProposedNameOfANewList) {
  TMainForm form(ini, false);
  IDocumentWindow* fresh = form.Repository().NewDocument();
  auto* child = static_cast<TMDIChild*>(fresh);
  const QString proposed = child->m_Document.m_FileName;
  EXPECT_TRUE(proposed.endsWith("/List1.m3u")) << proposed.toStdString();
  child->m_Document.InsertSong(TSlSong(nullptr, "/m/a.mp3", QString()), -1);
  form.FindAction("FileSaveAll")->setEnabled(true);
  form.FindAction("FileSaveAll")->trigger();
  EXPECT_TRUE(ui.Messages().isEmpty());
  EXPECT_TRUE(QFile::exists(proposed));
  EXPECT_FALSE(child->m_Document.m_bModified);
  // A file that took a new list's proposed name meanwhile is never written over: the
  // list is saved as the user names it (here the dialog is cancelled).
  auto* second = static_cast<TMDIChild*>(form.Repository().NewDocument());
  const QString taken = second->m_Document.m_FileName;
  ASSERT_TRUE(lbtest::WriteFile(taken, "/m/mine.mp3\r\n"));
  second->m_Document.InsertSong(TSlSong(nullptr, "/m/b.mp3", QString()), -1);
  form.FindAction("FileSaveAll")->trigger();
  EXPECT_EQ(lbtest::ReadFile(taken), "/m/mine.mp3\r\n");
  EXPECT_TRUE(second->m_Document.m_bModified);
  second->m_Document.m_bModified = false;
  Settle(form);
  for (const QString& path : {proposed, TSlDocument::DataFilePath(proposed), taken})
    QFile::remove(path);
}

TEST_F(MainWindowTest, SaveAsToAnotherCaseIsAnotherFile) {
  const QString list = MakeList("Case.m3u", {"/m/a.mp3"});
  TMainForm form(ini, false);
  auto* child = static_cast<TMDIChild*>(form.Repository().OpenFile(list));
  ASSERT_FALSE(child->LoadFailed());
  child->m_Document.InsertSong(TSlSong(nullptr, "/m/b.mp3", QString()), -1);
  // Another program's change to the old list is no question for a save under a new name.
  ASSERT_TRUE(lbtest::WriteFile(list, "/m/theirs.mp3\r\n"));
  ui.NextSaveFileName(dir + "/CASE.M3U");
  ui.Answer(IDNO);  // the old list stays
  EXPECT_TRUE(form.SaveDocumentAs(child));
  EXPECT_EQ(ui.Texts(), QStringList({"Удалить лист по старому пути ?"}));
  EXPECT_TRUE(lbtest::ReadFile(dir + "/CASE.M3U").contains("/m/b.mp3"));
  EXPECT_EQ(lbtest::ReadFile(list), "/m/theirs.mp3\r\n");
  EXPECT_EQ(child->m_Document.m_FileName, dir + "/CASE.M3U");
  EXPECT_NE(form.Repository().IndexOf(list), -1);
  Settle(form);
}

TEST_F(MainWindowTest, SaveAsThatFailsKeepsTheOldListAndItsRow) {
  const QString list = MakeList("kept.m3u", {"/m/a.mp3"});
  TMainForm form(ini, false);
  auto* child = static_cast<TMDIChild*>(form.Repository().OpenFile(list));
  ASSERT_TRUE(child->m_Document.Save(true));
  const QString target = dir + "/no such folder/new.m3u";
  ui.NextSaveFileName(target);
  ui.Answer(IDYES);  // trash the old list: never before the new one is written
  EXPECT_FALSE(form.SaveDocumentAs(child));
  EXPECT_TRUE(QFile::exists(list));
  EXPECT_TRUE(QFile::exists(TSlDocument::DataFilePath(list)));
  EXPECT_EQ(child->m_Document.m_FileName, list);
  EXPECT_NE(form.Repository().IndexOf(list), -1);
  EXPECT_EQ(form.Repository().IndexOf(target), -1);
  Settle(form);
}

TEST_F(MainWindowTest, SaveAsElsewhereAsksAboutTheOldList) {
  const QString list = MakeList("old.m3u", {"/m/a.mp3"});
  TMainForm form(ini, false);
  auto* child = static_cast<TMDIChild*>(form.Repository().OpenFile(list));
  ASSERT_TRUE(child->m_Document.Save(true));
  ui.NextSaveFileName(dir + "/new.m3u");
  ui.Answer(IDYES);
  EXPECT_TRUE(form.SaveDocumentAs(child));
  EXPECT_EQ(ui.Texts(), QStringList({"Удалить лист по старому пути ?"}));
  EXPECT_FALSE(QFile::exists(list));
  EXPECT_FALSE(QFile::exists(TSlDocument::DataFilePath(list)));
  EXPECT_TRUE(QFile::exists(dir + "/new.m3u"));
  EXPECT_EQ(form.Repository().IndexOf(list), -1);
  EXPECT_NE(form.Repository().IndexOf(dir + "/new.m3u"), -1);
  Settle(form);
}

TEST_F(MainWindowTest, PathChangesReachEveryListAndSkipTheUnloadable) {
  const QString open = MakeList("open.m3u", {"/m/gone.mp3", "/m/keep.mp3", "/m/moved.mp3"});
  const QString closed = MakeList("closed.m3u", {"/m/gone.mp3", "/m/moved.mp3"});
  const QString missing = dir + "/missing.m3u";
  TMainForm form(ini, false);
  TListsRepository& repository = form.Repository();
  repository.Add(missing, false, nullptr);
  repository.Add(closed, false, nullptr);
  auto* child = static_cast<TMDIChild*>(repository.OpenFile(open));
  ASSERT_FALSE(child->LoadFailed());
  Settle(form);

  ui.Answer(IDNO);  // skip the list that cannot be loaded
  form.ChangePathsInAllLists({"/m/gone.mp3", "", "/m/moved.mp3", "/n/moved.mp3"}, nullptr);
  EXPECT_EQ(Paths(child->m_Document), QStringList({"/m/keep.mp3", "/n/moved.mp3"}));
  TSlDocument reread;
  reread.SetFileName(closed);
  ASSERT_TRUE(reread.Load(true));
  EXPECT_EQ(Paths(reread), QStringList({"/n/moved.mp3"}));
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_TRUE(ui.Texts().first().startsWith("Лист " + missing + " не был загружен и изменён."));
  Settle(form);

  // An empty pair list does nothing at all.
  ui.ClearMessages();
  form.ChangePathsInAllLists({}, nullptr);
  EXPECT_TRUE(ui.Messages().isEmpty());
}

// A job the user stopped, or a termination signal stopped, after some files moved still
// takes every list along with those files; the job still sees its stop afterwards.
TEST_F(MainWindowTest, PathChangesAfterAStopReachEveryList) {
  const QString closed = MakeList("closed.m3u", {"/m/moved.mp3"});
  TMainForm form(ini, false);
  form.Repository().Add(closed, false, nullptr);
  {
    TInfoWindowLevel job("Переименование", QString(), true);
    InfoWindowManager().m_bStop = true;
    form.ChangePathsInAllLists({"/m/moved.mp3", "/n/moved.mp3"}, nullptr);
    EXPECT_TRUE(InfoWindowManager().m_bStop);
  }
  TSlDocument reread;
  reread.SetFileName(closed);
  ASSERT_TRUE(reread.Load(true));
  EXPECT_EQ(Paths(reread), QStringList({"/n/moved.mp3"}));
  EXPECT_TRUE(ui.Messages().isEmpty());
}

TEST_F(MainWindowTest, RemovedEntriesTakeTheirRowsAndTheSelectionStaysOnItsSongs) {
  QStringList songs;
  for (int n = 0; n < 5; ++n) songs << QString("/m/f%1.mp3").arg(n);
  TMainForm form(ini, false);
  auto* a = static_cast<TMDIChild*>(form.Repository().OpenFile(MakeList("a.m3u", songs)));
  auto* b = static_cast<TMDIChild*>(form.Repository().OpenFile(MakeList("b.m3u", songs)));
  ASSERT_FALSE(a->LoadFailed());
  ASSERT_FALSE(b->LoadFailed());
  Settle(form);
  b->ListView2->SelectItems({3});
  b->ListView2->SetState(3, TSLLBListView::isFocused, true);

  form.ChangePathsInAllLists({"/m/f1.mp3", ""}, a);
  EXPECT_EQ(a->m_Document.m_Songs.size(), 5);
  ASSERT_EQ(b->ListView2->GetCount(), 4);
  EXPECT_EQ(b->GatherSelected(false), std::vector<int>({2}));
  EXPECT_EQ(b->m_Document.m_Songs[2].GetPath(true), "/m/f3.mp3");
  EXPECT_TRUE(b->ListView2->GetState(2, TSLLBListView::isFocused));
  Settle(form);
}

TEST_F(MainWindowTest, PathChangesLeaveListsWithoutAMatchUntouched) {
  // No data file beside the list, line ends of this platform: loading marks such a
  // list modified, yet nothing in it changed.
  const QString list = dir + "/plain.m3u";
  ASSERT_TRUE(lbtest::WriteFile(list, "/m/a.mp3\n/m/b.mp3\n"));
  TMainForm form(ini, false);
  form.Repository().Add(list, false, nullptr);
  form.ChangePathsInAllLists({"/m/other.mp3", ""}, nullptr);
  EXPECT_EQ(lbtest::ReadFile(list), "/m/a.mp3\n/m/b.mp3\n");
  EXPECT_FALSE(QFile::exists(TSlDocument::DataFilePath(list)));
  EXPECT_TRUE(ui.Messages().isEmpty());
}

TEST_F(MainWindowTest, ExitThatIsCalledOffClosesNoList) {
  TMainForm form(ini, false);
  QList<TMDIChild*> children;
  for (const char* name : {"one.m3u", "two.m3u", "three.m3u"}) {
    children << static_cast<TMDIChild*>(form.Repository().OpenFile(MakeList(name, {"/m/a.mp3"})));
    ASSERT_FALSE(children.last()->LoadFailed());
  }
  Settle(form);
  for (TMDIChild* child : children) ASSERT_TRUE(child->m_Document.Save(true));
  for (int n = 0; n < 2; ++n)
    children[n]->m_Document.InsertSong(TSlSong(nullptr, "/m/new.mp3", QString()), -1);

  ui.Answer(IDNO);
  ui.Answer(IDCANCEL);
  EXPECT_FALSE(form.close());
  EXPECT_EQ(ui.Messages().size(), 2);
  EXPECT_EQ(form.Children(), children);
  EXPECT_TRUE(children[0]->m_Document.m_bModified);
  EXPECT_FALSE(form.Exiting());

  // The next exit asks again from the first list, then closes every window.
  ui.ClearMessages();
  ui.Answer(IDNO);
  ui.Answer(IDNO);
  EXPECT_TRUE(form.close());
  EXPECT_EQ(ui.Messages().size(), 2);
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(form.Children().isEmpty());
}

// A long job that lets the windows turn (a list check) still reads its list: neither the
// list's window nor the program closes under it; both close once it has ended.
TEST_F(MainWindowTest, NoWindowClosesUnderALongJob) {
  TMainForm form(ini, false);
  auto* child =
      static_cast<TMDIChild*>(form.Repository().OpenFile(MakeList("one.m3u", {"/m/a.mp3"})));
  Settle(form);
  {
    TInfoWindowLevel job("Проверка листа", QString(), true);
    EXPECT_FALSE(child->close());
    EXPECT_FALSE(form.close());
    EXPECT_EQ(form.Children(), QList<TMDIChild*>{child});
  }
  EXPECT_TRUE(form.close());
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(form.Children().isEmpty());
}

TEST_F(MainWindowTest, AddedSongsFollowTheSelectedRowInOrder) {
  TMainForm form(ini, false);
  auto* child = static_cast<TMDIChild*>(
      form.Repository().OpenFile(MakeList("add.m3u", {"/m/a.mp3", "/m/b.mp3", "/m/c.mp3"})));
  ASSERT_FALSE(child->LoadFailed());
  form.MdiArea()->setActiveSubWindow(child->SubWindow());
  Settle(form);
  child->ListView2->SelectItems({0});
  ui.NextOpenFileNames({"/m/x1.mp3", "/m/x2.mp3"});
  ASSERT_TRUE(form.ExecuteCommand("OptionsAddSong"));
  EXPECT_EQ(Paths(child->m_Document),
            QStringList({"/m/a.mp3", "/m/x1.mp3", "/m/x2.mp3", "/m/b.mp3", "/m/c.mp3"}));
  // With no selection the files go to the end.
  child->ListView2->UnselectAllItems();
  ui.NextOpenFileNames({"/m/y.mp3"});
  ASSERT_TRUE(form.ExecuteCommand("OptionsAddSong"));
  ASSERT_EQ(child->m_Document.m_Songs.size(), 6);
  EXPECT_EQ(child->m_Document.m_Songs[5].GetPath(true), "/m/y.mp3");
  Settle(form);
}

TEST_F(MainWindowTest, SyncColumnsShowATickForSongsThatFollowTheirFile) {
  const QString song = modeltest::MakeMp3(dir + "/song.mp3");
  TMainForm form(ini, false);
  auto* child = static_cast<TMDIChild*>(
      form.Repository().OpenFile(MakeList("sync.m3u", {song, "/m/other.mp3"})));
  ASSERT_FALSE(child->LoadFailed());
  Settle(form);
  int column[2] = {-1, -1};
  for (int n = 0; n < child->ListView2->GetColumnCount(); ++n) {
    const int kind = child->ListView2->GetColumn(n).GetTag();
    if (kind == lb::ckSync1) column[0] = n;
    if (kind == lb::ckSync2) column[1] = n;
  }
  ASSERT_NE(column[0], -1);
  ASSERT_NE(column[1], -1);
  const QAbstractItemModel* model = child->ListView2->model();
  auto image = [&](int row, int tag) {
    return model->data(model->index(row, column[tag - 1]), Qt::DecorationRole).value<QIcon>();
  };
  child->ListView2->SelectItems({0, 1});
  for (int tag : {1, 2}) child->SetSyncFlags(tag, false);
  child->ListView2->SelectItems({0});
  child->SetSyncFlags(1, true);
  EXPECT_FALSE(image(0, 1).isNull());
  EXPECT_TRUE(image(0, 2).isNull());
  EXPECT_TRUE(image(1, 1).isNull());
  child->SetSyncFlags(2, true);
  ASSERT_FALSE(image(0, 2).isNull());
  EXPECT_NE(image(0, 1).pixmap(16).toImage(), image(0, 2).pixmap(16).toImage());
  Settle(form);
}

TEST_F(MainWindowTest, DroppedListsJoinTheRepository) {
  TMainForm form(ini, false);
  form.DropFiles({dir + "/A.M3U", dir + "/b.lbt", dir + "/song.mp3"});
  form.DropFiles({dir + "/A.M3U"});
  EXPECT_EQ(form.Repository().Count(), 1);
  EXPECT_NE(form.Repository().IndexOf(dir + "/A.M3U"), -1);
}

// Several folders handed over at once, with a song that cannot be reached between them:
// what their scan left out is told in one warning, and the songs keep the order given.
TEST_F(MainWindowTest, HandOverOfSeveralFoldersTellsWhatItLeftOutOnce) {
  TMainForm form(ini, false);
  const QStringList folders = {dir + "/one", dir + "/two"};
  for (const QString& folder : folders) {
    lbtest::WriteFile(folder + "/a.mp3", "x");
    const int fd =
        ::open((QFile::encodeName(folder) + "/\xcf\xe5.mp3").constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
  form.HandOver(lb::BuildHandOverPayload({folders[0], "/m/gone.mp3", folders[1]}));
  ASSERT_EQ(form.Children().size(), 1);
  EXPECT_EQ(Paths(form.Children().first()->m_Document),
            QStringList({folders[0] + "/a.mp3", "/m/gone.mp3", folders[1] + "/a.mp3"}));
  ASSERT_EQ(ui.Texts().size(), 1);
  for (const QString& folder : folders)
    EXPECT_TRUE(ui.Texts()[0].contains("В папке \"" + folder + "\" имён не в кодировке UTF-8: 1."))
        << ui.Texts()[0].toStdString();
  Settle(form);
}

}  // namespace

// "Сохранить как" of a list never saved never offers a folder that does not exist: the
// user's music folder instead, or home when there is none.
TEST_F(MainWindowTest, SaveAsOfANewListOffersAnExistingFolder) {
  const QString documents = QDir::homePath() + "/Documents";
  const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
  TMainForm form(ini, false);
  auto* child = static_cast<TMDIChild*>(form.Repository().NewDocument());
  ASSERT_EQ(child->m_Document.m_FileName, documents + "/List1.m3u");
  form.SaveDocumentAs(child);  // every dialog here is cancelled
  EXPECT_EQ(ui.ProposedSaveName(), documents + "/List1.m3u");
  ASSERT_TRUE(QDir(documents).removeRecursively());
  for (bool musicExists : {false, true}) {
    if (musicExists) {
      ASSERT_TRUE(QDir().mkpath(music));
    }
    form.SaveDocumentAs(child);
    EXPECT_EQ(ui.ProposedSaveName(), (musicExists ? music : QDir::homePath()) + "/List1.m3u");
  }
  QDir(music).removeRecursively();
  QDir().mkpath(documents);
  child->m_Document.m_bModified = false;
}

// A list handed over with a file that is neither a song nor a list: the list opens, the
// other file is named to the user, and no empty list is made for it.
TEST_F(MainWindowTest, HandOverOfAListAndATextFileOpensTheListAndNamesTheText) {
  TMainForm form(ini, false);
  const QString list = MakeList("handed.m3u", {"/m/a.mp3"});
  const QString text = dir + "/readme.txt";
  lbtest::WriteFile(text, "hello\n");
  form.HandOver(lb::BuildHandOverPayload({list, text}));
  ASSERT_EQ(form.Children().size(), 1);
  EXPECT_EQ(form.Children().first()->m_Document.m_FileName, list);
  Settle(form);  // the message follows the answer to the hand-over
  EXPECT_EQ(ui.Texts(),
            QStringList({"Файл не является ни песней, ни листом и не добавлен:\n" + text}));
}

TEST_F(MainWindowTest, AnOpenListIsClosedThenForgottenOrDeleted) {
  for (const char* action : {"RepListRemoveList", "RepListActDeleteList"}) {
    const QString list = MakeList(QString(action) + ".m3u", {"/m/a.mp3"});
    TMainForm form(ini, false);
    ASSERT_NE(form.Repository().OpenFile(list), nullptr);
    Settle(form);
    form.Repository().SelectAll(false);
    form.Repository().SetSelected(form.Repository().IndexOf(list), true);
    ui.Answer(IDYES);  // the deletion's question; only "delete" asks one
    form.UpdateActions();
    form.FindAction(action)->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // as the loop would
    EXPECT_EQ(form.Repository().IndexOf(list), -1) << action;
    EXPECT_TRUE(form.Children().isEmpty()) << action;
    EXPECT_EQ(QFile::exists(list), QString(action) == "RepListRemoveList") << action;
  }
}

// A new list saved when nobody is there to answer (the session ends) never replaces a
// list the user has under the proposed name: with no Documents folder it goes into the
// home folder under the first free number.
TEST_F(MainWindowTest, NewListSavedUnattendedNeverReplacesAUserList) {
  const QString home = QDir::homePath();
  const QString own = home + "/List1.m3u";
  ASSERT_TRUE(lbtest::WriteFile(own, "/m/mine.mp3\r\n"));
  TMainForm form(ini, false);
  form.HandOver(lb::BuildHandOverPayload({"/m/new.mp3"}));
  ASSERT_EQ(form.Children().size(), 1);
  Settle(form);
  ASSERT_TRUE(QDir(home + "/Documents").removeRecursively());
  lb::TUnattendedUiServices unattended;
  UiServices* previous = UiServices::Install(&unattended);
  const bool closed = form.close();
  UiServices::Install(previous);
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QDir().mkpath(home + "/Documents");
  EXPECT_TRUE(closed);
  EXPECT_EQ(lbtest::ReadFile(own), "/m/mine.mp3\r\n");
  EXPECT_TRUE(lbtest::ReadFile(home + "/List2.m3u").contains("/m/new.mp3"));
  for (const QString& path : {own, home + "/List2.m3u", home + "/List2.lbt"}) QFile::remove(path);
}

// "Сохранить как" onto a list open in another window (the same file by identity, here
// reached through a linked folder) is refused: that list stays on disk and in its window.
TEST_F(MainWindowTest, SaveAsOntoAListOpenInAnotherWindowIsRefused) {
  const QString list = MakeList("open.m3u", {"/m/a.mp3", "/m/b.mp3"});
  const QByteArray before = lbtest::ReadFile(list);
  ASSERT_TRUE(QFile::link(dir, dir + "/linked"));
  TMainForm form(ini, false);
  auto* open = static_cast<TMDIChild*>(form.Repository().OpenFile(list));
  ASSERT_FALSE(open->LoadFailed());
  auto* fresh = static_cast<TMDIChild*>(form.Repository().NewDocument());
  fresh->m_Document.InsertSong(TSlSong(nullptr, "/m/new.mp3", QString()), -1);
  const QString proposed = fresh->m_Document.m_FileName;
  ui.NextSaveFileName(dir + "/linked/open.m3u");
  EXPECT_FALSE(form.SaveDocumentAs(fresh));
  EXPECT_EQ(ui.Texts(), QStringList({"Лист \"" + dir +
                                     "/linked/open.m3u\"\nоткрыт в другом окне. Закройте его "
                                     "или выберите другое имя."}));
  EXPECT_EQ(lbtest::ReadFile(list), before);
  EXPECT_EQ(Paths(open->m_Document), QStringList({"/m/a.mp3", "/m/b.mp3"}));
  EXPECT_EQ(fresh->m_Document.m_FileName, proposed);
  EXPECT_TRUE(fresh->m_Document.m_bNew);
  Settle(form);
  fresh->m_Document.m_bModified = false;
}
