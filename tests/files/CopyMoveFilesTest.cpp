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
  operation.m_Write = [&](int fd, const void* p, size_t n) -> ssize_t {
    if (++writes == 2) {
      errno = ENOSPC;
      return -1;
    }
    return ::write(fd, p, n);
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

}  // namespace
