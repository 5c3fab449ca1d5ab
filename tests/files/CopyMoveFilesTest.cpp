// Copying and moving into a folder scheme: the target folders of the criteria, the
// settings, and runs on real files, including moves that fail half way.
#include "FilesTestUtil.h"

#include "lbtools3/repository/Repository.h"
#include "lbtools3/files/CopyMove.h"
#include "lbtools3/files/ListPaths.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/ScriptedUiServices.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace lb;

namespace {

class CopyMoveFilesTest : public ::testing::Test {
 protected:
  QString Folder(const TSlSong& song, const QList<int>& criteria) {
    QString folder;
    return BuildTargetFolder(song, root, criteria, true, &dirs, &folder) ? folder : "<cancel>";
  }
  void Run(bool bCopy, bool bChangePaths, const QList<int>& criteria, const std::set<int>& rows) {
    TCopyMoveThread::Options options;
    options.bCopy = bCopy;
    options.bChangePaths = bChangePaths;
    options.criteria = criteria;
    options.root = root;
    TRowSelection selection(doc, rows);
    worker = std::make_unique<TCopyMoveThread>(&doc, options, &operation, &dirs);
    worker->m_pChild = &selection;
    worker->Resume();
    worker->WaitFor();
  }
  // Three songs by three artists, in a saved list that the repository knows.
  void ThreeSongs() {
    for (const char* artist : {"A", "B", "C"}) {
      const QString path = filestest::MakeMp3(dir + "/src/" + artist + ".mp3", {"t", artist, ""});
      filestest::AddSong(doc, path, {"t", artist, ""});
      sources << path;
    }
    doc.SetFileName(dir + "/list.m3u");
    ASSERT_TRUE(doc.Save(true));
    TSlDocument other;
    other.SetFileName(dir + "/other.m3u");
    for (const QString& s : sources) other.InsertSong(TSlSong(nullptr, s, QString()), -1);
    ASSERT_TRUE(other.Save(true));
    repository.Add(dir + "/other.m3u", false, nullptr);
  }
  // Every song and every entry of the other list names a whole file.
  void ExpectEveryPathTrue() {
    TSlDocument other;
    other.SetFileName(dir + "/other.m3u");
    ASSERT_TRUE(other.Load(true));
    for (int n = 0; n < 3; ++n) {
      const QString path = doc.m_Songs[n].GetPath(true);
      EXPECT_EQ(lbtest::ReadFile(path).size(), modeltest::Mp3Frames().size() + 128) << n;
      EXPECT_EQ(other.m_Songs[n].GetPath(true), path);
    }
    EXPECT_EQ(filestest::FilesBelow(dir).filter(".lbpart").size(), 0);
  }

  ScriptedUiServices ui;
  QString dir = lbtest::NewTempDir();
  QString root = dir + "/Music";
  TSlDocument doc;
  QStringList sources;
  filestest::ScriptedFilePrompt prompt;
  filestest::ScriptedDirPrompt dirs;
  TFileOperation operation{&prompt};
  std::unique_ptr<TCopyMoveThread> worker;
  TIniFile ini{SettingsFilePath()};
  TListsRepository repository{ini, nullptr, true};
};

TEST_F(CopyMoveFilesTest, TargetFoldersOfTheCriteria) {
  QDir().mkpath(root);
  const TSlSong& queen = filestest::AddSong(doc, "/m/q.mp3", {"Bohemian", "Queen ", ""});
  EXPECT_EQ(Folder(queen, {2, 1}), root + "/Queen/Unknown album/");
  EXPECT_TRUE(DirectoryExists(root + "/Queen/Unknown album"));
  EXPECT_EQ(Folder(queen, {}), root + "/");
  EXPECT_EQ(Folder(queen, {0}), root + "/Q/");  // display name "Queen - Bohemian"
  const TSlSong& digits = filestest::AddSong(doc, "/m/1.mp3", {"", "", ""});
  EXPECT_EQ(Folder(digits, {0}), root + "/#/");  // no tag text: the file name "1"
  const TSlSong& cyr = filestest::AddSong(doc, "/m/b.mp3", {"песня", "бард", "A:B"});
  EXPECT_EQ(Folder(cyr, {0, 1}), root + "/RUS/Б/A_B/");
  // A folder that cannot be made is put to the user, who may rename or cancel it.
  lbtest::WriteFile(root + "/Queen2", "file");
  const TSlSong& q2 = filestest::AddSong(doc, "/m/q2.mp3", {"x", "Queen2", ""});
  dirs.answers = {{dcNewName, "Queen 2"}};
  EXPECT_EQ(Folder(q2, {2}), root + "/Queen 2/");
  EXPECT_EQ(Folder(q2, {2}), "<cancel>");
}

TEST_F(CopyMoveFilesTest, SettingsAndSummaries) {
  TCopyMoveSettings s;
  s.criteria = {2, 1};
  for (int i = 0; i < 12; ++i) {
    s.root = "/r" + QString::number(i);
    s.Store(ini);
  }
  s.root = "/r5";
  s.Store(ini);
  const TCopyMoveSettings loaded = TCopyMoveSettings::Load(ini);
  EXPECT_EQ(loaded.criteria, (QList<int>{2, 1}));
  EXPECT_EQ(ini.ReadString("Settings", "CopyMoveFilesSystematicMask", ""), "2, 1");
  ASSERT_EQ(loaded.history.size(), 10);
  EXPECT_EQ(loaded.history.mid(0, 3), (QStringList{"/r5", "/r11", "/r10"}));
  EXPECT_EQ(TCopyMoveSettings::ParseCriteria("3, x, 99, 3, 0"), (QList<int>{3, 0}));
  EXPECT_EQ(CopyMoveSummary(3, 3, 1),
            "Всего было выделено 3 файлa(ов)\nбыло обработано 2 файлa(ов)\nпропущено 1 файлa(ов)");
  EXPECT_EQ(
      CopyMoveSummary(3, 1, 0),
      "Прервано пользователем.\nВсего было выделено 3 файлa(ов)\nбыло обработано 1 файлa(ов)\n");
}

TEST_F(CopyMoveFilesTest, ArrowCommandsOfTheCriteriaLists) {
  TCriteriaLists lists({2, 1});
  EXPECT_EQ(lists.unselected.mid(0, 3), (QList<int>{0, 3, 4}));
  // Available rows 0 and 2 (criteria 0 and 4) go after the first chosen row.
  EXPECT_EQ(lists.Choose({0, 2}, {0}), (QList<int>{1, 2}));
  EXPECT_EQ(lists.selected, (QList<int>{2, 0, 4, 1}));
  EXPECT_EQ(lists.MoveUp({0, 2}), (QList<int>{0, 1}));  // the top row stays
  EXPECT_EQ(lists.selected, (QList<int>{2, 4, 0, 1}));
  EXPECT_EQ(lists.MoveDown({2, 3}), (QList<int>{2, 3}));  // the bottom row stays
  EXPECT_EQ(lists.Unchoose({0, 3}), (QList<int>{0, 1}));
  EXPECT_EQ(lists.selected, (QList<int>{4, 0}));
  EXPECT_EQ(lists.unselected.mid(0, 3), (QList<int>{1, 2, 3}));
}

TEST_F(CopyMoveFilesTest, CopyLeavesTheListUnlessAskedAndNeverOverwrites) {
  QDir().mkpath(root);
  ThreeSongs();
  lbtest::WriteFile(root + "/B/B.mp3", "older");
  prompt.answers = {{fcSkip, {}}};
  Run(true, false, {2}, {0, 1, 2});
  EXPECT_EQ(filestest::Paths(doc), sources);
  EXPECT_TRUE(worker->m_Pairs.isEmpty());
  EXPECT_EQ(lbtest::ReadFile(root + "/B/B.mp3"), "older");
  ASSERT_EQ(prompt.shown.size(), 1);
  EXPECT_TRUE(prompt.shown[0].targetExists);
  EXPECT_EQ(worker->m_nSkipped, 1);
  EXPECT_EQ(lbtest::ReadFile(root + "/C/C.mp3"), lbtest::ReadFile(sources[2]));

  Run(true, true, {}, {0});
  EXPECT_EQ(doc.m_Songs[0].GetPath(true), root + "/A.mp3");
  EXPECT_EQ(worker->m_Pairs, (QStringList{sources[0], root + "/A.mp3"}));
  EXPECT_TRUE(FileExists(sources[0]));
}

TEST_F(CopyMoveFilesTest, MoveUpdatesTheRepositoryLists) {
  QDir().mkpath(root);
  ThreeSongs();
  Run(false, false, {2, 1}, {0, 2});
  EXPECT_EQ(worker->m_nProcessed, 2);
  EXPECT_EQ(doc.m_Songs[0].GetPath(true), root + "/A/Unknown album/A.mp3");
  EXPECT_FALSE(FileExists(sources[0]));
  ReplacePathsInRepositoryLists(repository, worker->m_Pairs, doc.m_FileName);
  ExpectEveryPathTrue();
}

TEST_F(CopyMoveFilesTest, MoveMeetingAReadOnlyFolderHalfWay) {
  QDir().mkpath(root + "/B");
  ThreeSongs();
  lbtest::ReadOnlyFolder locked(root + "/B");
  if (!locked.Ok()) GTEST_SKIP() << "no way to make a folder refuse files here";
  prompt.answers = {{fcSkip, {}}};
  Run(false, false, {2}, {0, 1, 2});
  EXPECT_EQ(filestest::Paths(doc), (QStringList{root + "/A/A.mp3", sources[1], root + "/C/C.mp3"}));
  ReplacePathsInRepositoryLists(repository, worker->m_Pairs, doc.m_FileName);
  ExpectEveryPathTrue();
}

TEST_F(CopyMoveFilesTest, MoveBetweenFileSystemsOntoAFullOne) {
  QDir().mkpath(root);
  ThreeSongs();
  int writes = 0;
  operation.m_bMoveByCopy = true;
  operation.m_Write = [&](int fd, const void* p, size_t n, off_t at) -> ssize_t {
    if (++writes == 2) {
      errno = ENOSPC;
      return -1;
    }
    return ::pwrite(fd, p, n, at);
  };
  modeltest::TouchLater(sources[0], -100);
  const int32_t age = FileAge(sources[0]);
  Run(false, false, {2}, {0, 1, 2});  // cancelled at the second file
  EXPECT_EQ(worker->m_nProcessed, 1);
  EXPECT_EQ(filestest::Paths(doc), (QStringList{root + "/A/A.mp3", sources[1], sources[2]}));
  EXPECT_EQ(FileAge(root + "/A/A.mp3"), age);  // same time and size: cached tags stay valid
  EXPECT_FALSE(FileExists(root + "/B/B.mp3"));
  ReplacePathsInRepositoryLists(repository, worker->m_Pairs, doc.m_FileName);
  ExpectEveryPathTrue();
}

// Two songs whose files get one target name, under each answer to "it exists": no file
// is lost, no two songs end on one file, and a skip keeps the song with its own file.
TEST_F(CopyMoveFilesTest, TwoSongsWithOneTargetNameUnderEachChoice) {
  struct Case {
    int choice;
    bool bCopy;
    QStringList targets;  // below the root; "" keeps the source
    int skipped;
  };
  const Case cases[] = {
      {fcOverwriteAll, false, {"Queen/01.mp3", "Queen/01 (2).mp3"}, 0},
      {fcOverwrite, true, {"Queen/01.mp3", "Queen/01 (2).mp3"}, 0},
      {fcSkipAllExisting, false, {"Queen/01.mp3", ""}, 1},
      {fcSkip, true, {"Queen/01.mp3", ""}, 1},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(i);
    const QString base = dir + "/case" + QString::number(++i);
    root = base + "/Music";
    QDir().mkpath(root);
    doc.Clear();
    QList<QByteArray> contents;
    for (const char* album : {"album1", "album2"}) {
      const QString path =
          filestest::MakeMp3(base + "/" + album + "/01.mp3", {album, "Queen", album});
      filestest::AddSong(doc, path, {album, "Queen", album});
      contents << lbtest::ReadFile(path);
    }
    const QStringList before = filestest::Paths(doc);
    operation = TFileOperation(&prompt);
    prompt.answers = {{c.choice, {}}};
    Run(c.bCopy, true, {2}, {0, 1});
    for (int n = 0; n < 2; ++n) {
      const QString expected = c.targets[n].isEmpty() ? before[n] : root + "/" + c.targets[n];
      EXPECT_EQ(doc.m_Songs[n].GetPath(true), expected) << n;
      EXPECT_EQ(lbtest::ReadFile(expected), contents[n]) << n;
    }
    EXPECT_EQ(worker->m_nSkipped, c.skipped);
    EXPECT_EQ(operation.m_nFailed, 0);
  }
}

// A list from Windows names its songs with backslashes and drive letters: the copies
// are named after the files, and the list finds them.
TEST_F(CopyMoveFilesTest, WindowsListWithABackslashPathAndADrivePath) {
  ini.WriteString("Drives", "D", dir + "/d");
  filestest::MakeMp3(dir + "/sub/a.mp3", {"a", "Queen", ""});
  filestest::MakeMp3(dir + "/d/Music/b.mp3", {"b", "Queen", ""});
  doc.SetFileName(dir + "/list.m3u");
  filestest::AddSong(doc, "sub\\a.mp3", {"a", "Queen", ""});
  filestest::AddSong(doc, "D:\\Music\\b.mp3", {"b", "Queen", ""});
  QDir().mkpath(root);
  Run(true, true, {2}, {0, 1});
  EXPECT_EQ(filestest::FilesBelow(root), (QStringList{"Queen/a.mp3", "Queen/b.mp3"}));
  EXPECT_EQ(filestest::Paths(doc), (QStringList{root + "/Queen/a.mp3", root + "/Queen/b.mp3"}));
}

// A move that is killed half way leaves lists that name every file where it is: the
// lists are kept in step as the batch goes (here after every file).
TEST_F(CopyMoveFilesTest, KillInTheMiddleOfAMoveLeavesTheListsTrue) {
  QDir().mkpath(root);
  ThreeSongs();
  TPathCheckpoint checkpoint(
      [&](const QStringList& pairs) {
        SaveListInStep(doc);
        ReplacePathsInRepositoryLists(repository, pairs, doc.m_FileName);
      },
      0);
  // The moment the third file is being written, the lists on disk are what a kill
  // would leave.
  QStringList onDisk;
  operation.m_bMoveByCopy = true;
  operation.m_Write = [&](int fd, const void* p, size_t n, off_t at) -> ssize_t {
    if (onDisk.isEmpty() && FileExists(root + "/A/A.mp3") && FileExists(root + "/B/B.mp3")) {
      for (const char* list : {"/list.m3u", "/other.m3u"}) {
        TSlDocument saved;
        saved.SetFileName(dir + list);
        EXPECT_TRUE(saved.Load(true));
        onDisk << filestest::Paths(saved);
      }
    }
    return ::pwrite(fd, p, n, at);
  };
  TCopyMoveThread::Options options;
  options.bCopy = false;
  options.criteria = {2};
  options.root = root;
  TRowSelection selection(doc, {0, 1, 2});
  TCopyMoveThread move(&doc, options, &operation, &dirs);
  move.m_pChild = &selection;
  move.m_pCheckpoint = &checkpoint;
  move.Resume();
  move.WaitFor();
  const QStringList expected = {root + "/A/A.mp3", root + "/B/B.mp3", sources[2]};
  EXPECT_EQ(onDisk, expected + expected);
}

TEST_F(CopyMoveFilesTest, RootFolderIsMadeAbsolute) {
  const QString home = QDir::homePath();
  const std::pair<QString, QString> cases[] = {
      {"rel_out", "/lists/rel_out"},
      {"~", home},
      {"~/Music/", home + "/Music"},
      {"/m/../n/", "/n"},
      {"../up", "/up"},
      {"", ""},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(AbsoluteRootFolder(text, "/lists"), expected) << text.toStdString();
}

// The copies of a batch are flushed once at its end; when that flush fails they are
// removed, the songs pointed at them go back to their own files as the list stored
// them, and the run reports the copies as skipped and failed. A target that was there
// before stays.
TEST_F(CopyMoveFilesTest, FailingFlushAtTheEndTakesTheCopiesBack) {
  QDir().mkpath(root);
  ThreeSongs();
  lbtest::WriteFile(root + "/B/B.mp3", "older");
  const QStringList stored = {"src/A.mp3", "src/B.mp3", "src/C.mp3"};
  for (int n = 0; n < 3; ++n) doc.m_Songs[n].m_Path = stored[n];
  int flushes = 0;
  operation.m_Flush = [&](int) {
    ++flushes;
    errno = ENOSPC;
    return -1;
  };
  for (const bool bChangePaths : {false, true}) {
    SCOPED_TRACE(bChangePaths);
    ui.ClearMessages();
    operation.m_nFailed = flushes = 0;
    prompt.answers = {{fcSkip, {}}};
    Run(true, bChangePaths, {2}, {0, 1, 2});
    EXPECT_EQ(flushes, 1);
    for (int n = 0; n < 3; ++n) EXPECT_EQ(doc.m_Songs[n].m_Path, stored[n]) << n;
    EXPECT_EQ(filestest::Paths(doc), sources);
    EXPECT_TRUE(worker->m_Pairs.isEmpty());
    EXPECT_TRUE(worker->m_Handled.isEmpty());
    EXPECT_EQ(worker->m_nSkipped, 3);
    EXPECT_EQ(operation.m_nFailed, 2);
    EXPECT_EQ(filestest::FilesBelow(root), QStringList{"B/B.mp3"});
    EXPECT_EQ(lbtest::ReadFile(root + "/B/B.mp3"), "older");
    EXPECT_EQ(ui.Texts(), QStringList{"Не удалось записать копии на диск (2), например\n" + root +
                                      "/A/A.mp3\nНедостаточно места на диске\nЭти копии удалены, "
                                      "исходные файлы на месте."});
  }
  // A copy that replaced a file now in the trash stays, and the message says so.
  ui.ClearMessages();
  operation.m_bOverwriteAll = true;
  Run(true, false, {2}, {0, 1, 2});
  EXPECT_EQ(lbtest::ReadFile(root + "/B/B.mp3"), lbtest::ReadFile(sources[1]));
  ASSERT_EQ(ui.Texts().size(), 1);
  EXPECT_TRUE(ui.Texts()[0].endsWith(
      "(1), например\n" + root + "/B/B.mp3\nФайлы, которые копии заменили, находятся в корзине."))
      << ui.Texts()[0].toStdString();
}

// A move tells the player about every row once, before the row's file goes (the player
// stops a song whose file is about to move); rows not selected are not told.
TEST_F(CopyMoveFilesTest, MoveTellsThePlayerAboutEachRowBeforeItsFileGoes) {
  QDir().mkpath(root);
  ThreeSongs();
  struct Player : TRowSelection {
    Player(TSlDocument& d, const std::set<int>& rows) : TRowSelection(d, rows), doc(d) {}
    void PlayerRowRemoving(int n) override {
      told << QString::number(n) + (FileExists(doc.m_Songs[n].GetPath(true)) ? "" : " gone");
    }
    TSlDocument& doc;
    QStringList told;
  };
  const std::pair<std::set<int>, QStringList> cases[] = {{{0, 2}, {"0", "2"}}, {{1}, {"1"}}};
  for (const auto& [rows, expected] : cases) {
    Player player(doc, rows);
    TCopyMoveThread::Options options;
    options.bCopy = false;
    options.criteria = {2};
    options.root = root;
    TCopyMoveThread move(&doc, options, &operation, &dirs);
    move.m_pChild = &player;
    move.Resume();
    move.WaitFor();
    EXPECT_EQ(player.told, expected);
    EXPECT_EQ(move.m_nProcessed, int(rows.size()));
  }
}

}  // namespace
