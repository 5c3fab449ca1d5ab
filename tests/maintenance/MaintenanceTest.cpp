// Checking lists, replacing path parts and drives, the forgotten-files search, and
// the command-line commands over them.
#include "TestEnv.h"
#include "CliRun.h"
#include "PathLists.h"

#include "lbtools3/maintenance/CheckList.h"
#include "lbtools3/maintenance/Relink.h"
#include "lbtools3/maintenance/ReplacePaths.h"
#include "lbtools3/model/M3uList.h"
#include "platform/IniFile.h"
#include "platform/ScriptedUiServices.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

TSlDocument Document(const QString& listPath, const QStringList& paths) {
  TSlDocument doc;
  doc.SetFileName(listPath);
  for (const QString& p : paths) doc.InsertSong(TSlSong(nullptr, p, QString()), -1);
  doc.m_bModified = false;
  return doc;
}

QStringList Paths(const TSlDocument& doc) {
  QStringList paths;
  for (int n = 0; n < doc.m_Songs.size(); ++n) paths << doc.m_Songs[n].m_Path;
  return paths;
}

TEST(CheckList, FindsMissingFilesAndSaysHowMany) {
  const QString dir = lbtest::NewTempDir();
  lbtest::WriteFile(dir + "/a.mp3", "a");
  lbtest::WriteFile(dir + "/b.mp3", "b");
  TSlDocument all = Document(dir + "/l.m3u", {dir + "/a.mp3", "b.mp3"});
  EXPECT_TRUE(lb::MissingFileRows(all).empty());
  EXPECT_EQ(lb::CheckListMessage(0), "Проверка завершена.");
  TSlDocument some =
      Document(dir + "/l.m3u", {"x.mp3", dir + "/a.mp3", dir + "/A.mp3", "C:\\Music\\a.mp3"});
  EXPECT_EQ(lb::MissingFileRows(some), (std::vector<int>{0, 2, 3}));
  EXPECT_EQ(lb::CheckListMessage(3), "Проверка завершена.\nНе найдено 3 файла(ов).");
}

TEST(ReplacePaths, DrivePairsApplyInGridOrder) {
  TSlDocument doc =
      Document("/l/l.m3u", {"c:\\a.mp3", "D:\\b.mp3", "/x/c.mp3", "C:\\d.mp3", "E:\\e.mp3"});
  lb::TDrivePairs drives = lb::CollectDrives(doc, {0, 1, 2, 3});
  ASSERT_EQ(drives.size(), 2u);
  EXPECT_EQ(drives[0].drive, u'C');
  EXPECT_EQ(drives[1].drive, u'D');
  EXPECT_FALSE(lb::DrivesChanged(drives));
  drives[0].replacement = "D";
  drives[1].replacement = "E";
  lb::TReplaceRequest request;
  request.drives = drives;
  EXPECT_EQ(lb::ReplacePaths(doc, {0, 1, 2, 3}, request).changed, 3);
  EXPECT_EQ(Paths(doc),
            QStringList({"E:\\a.mp3", "E:\\b.mp3", "/x/c.mp3", "E:\\d.mp3", "E:\\e.mp3"}));
  EXPECT_TRUE(doc.m_bModified);
  // A folder of this machine takes the place of the drive.
  request.drives = {{u'E', "/media/disc/"}};
  EXPECT_EQ(lb::ReplacePath("e:\\Music\\Кино\\a.mp3", request), "/media/disc/Music/Кино/a.mp3");
}

TEST(ReplacePaths, PartReplacesOnlyTheFirstOccurrence) {
  lb::TReplaceRequest request;
  request.find = "\\Music\\";
  request.replace = "\\Audio\\";
  EXPECT_EQ(lb::ReplacePath("C:\\Music\\Music\\a.mp3", request), "C:\\Audio\\Music\\a.mp3");
  EXPECT_EQ(lb::ReplacePath("C:\\MUSIC\\x\\a.mp3", request), "C:\\Audio\\x\\a.mp3");
  request.bCase = true;
  EXPECT_EQ(lb::ReplacePath("C:\\MUSIC\\x\\a.mp3", request), "C:\\MUSIC\\x\\a.mp3");
  request.find = "кино";
  request.replace = "Кино";
  request.bCase = false;
  EXPECT_EQ(lb::ReplacePath("/m/КИНО/a.mp3", request), "/m/Кино/a.mp3");
  TSlDocument doc = Document("/l/l.m3u", {"/m/a.mp3"});
  EXPECT_EQ(lb::ReplacePaths(doc, {0}, request).changed, 0);
  EXPECT_FALSE(doc.m_bModified);
}

TEST(ReplacePaths, DriveReplacementsMustLeadSomewhere) {
  const QString dir = lbtest::NewTempDir();
  TIniFile ini(dir + "/s.ini");
  ini.WriteString(lb::kDrivesSection, "D", dir);
  ini.WriteString(lb::kDrivesSection, "E", dir + "/none");
  EXPECT_EQ(lb::AcceptDriveReplacement("d:", ini), "D");
  EXPECT_EQ(lb::AcceptDriveReplacement("D:\\Music", ini), "D");
  EXPECT_EQ(lb::AcceptDriveReplacement("E:", ini), "");
  EXPECT_EQ(lb::AcceptDriveReplacement("F", ini), "");
  EXPECT_EQ(lb::AcceptDriveReplacement("", ini), "");
  EXPECT_EQ(lb::AcceptDriveReplacement(dir + "/", ini), dir);
  EXPECT_EQ(lb::AcceptDriveReplacement("relative/folder", ini), "");
  const QStringList pick = lb::DrivePickList(ini);
  ASSERT_FALSE(pick.empty());
  EXPECT_EQ(pick.first(), "D:");
  EXPECT_FALSE(pick.contains("E:"));
  EXPECT_TRUE(pick.contains("/"));
  EXPECT_FALSE(pick.contains("/proc"));
}

TEST(ForgottenFiles, FindsMusicNoListNamesWithExactPaths) {
  ScriptedUiServices ui;
  const QString dir = lbtest::NewTempDir();
  for (const char* name : {"a.mp3", "b.mp3", "C.mp3", "sub/d.wav", "notes.txt"})
    lbtest::WriteFile(dir + "/music/" + name, "x");
  TSlDocument list = Document(dir + "/one.m3u", {"music/a.mp3", dir + "/music/c.mp3"});
  ASSERT_TRUE(list.Save(true));
  lbtest::PathLists lists;
  lists.rows = {{dir + "/one.m3u", true}, {dir + "/gone.m3u"}};
  lb::TForgottenFiles search;
  EXPECT_TRUE(search.Run(lists, false, {dir + "/music/"}));
  // c.mp3 in the list names another file than C.mp3 on disk.
  QStringList found = Paths(search.m_Result);
  found.sort();
  EXPECT_EQ(found,
            QStringList({dir + "/music/C.mp3", dir + "/music/b.mp3", dir + "/music/sub/d.wav"}));
  EXPECT_EQ(ui.Texts(), QStringList{"Ошибка загрузки документа\n" + dir + "/gone.m3u" +
                                    ".\nДля уточнения причины ошибки попробуйте\nоткрыть "
                                    "документ обычным способом"});

  ui.ClearMessages();
  TSlDocument all = Document(dir + "/two.m3u", found);
  ASSERT_TRUE(all.Save(true));
  lists.rows = {{dir + "/two.m3u", true}, {dir + "/one.m3u"}};
  lb::TForgottenFiles again;
  EXPECT_TRUE(again.Run(lists, false, {dir + "/music"}));
  EXPECT_TRUE(again.m_Result.m_Songs.empty());
  EXPECT_EQ(ui.Texts(), QStringList{"Новых песен не найдено"});
  // Only the marked list (the first row) counts with "Отмеченные".
  lb::TForgottenFiles marked;
  marked.Run(lists, true, {dir + "/music"});
  EXPECT_EQ(marked.m_Result.m_Songs.size(), 1);
}

TEST(ForgottenFiles, FolderListLivesInItsSettingsSection) {
  const QString dir = lbtest::NewTempDir();
  QDir().mkpath(dir + "/Music");
  QDir().mkpath(dir + "/music");
  TIniFile ini(dir + "/s.ini");
  lb::WriteSearchFolders(ini, {dir + "/b", dir + "/a", dir + "/c"});
  // Case twins and a name with "=" survive the next start.
  const QStringList folders = {dir + "/Music", dir + "/music", dir + "/a=b", dir + "/a"};
  lb::WriteSearchFolders(ini, folders);
  EXPECT_EQ(lb::ReadSearchFolders(TIniFile(dir + "/s.ini")), folders);
  // The older form: the folders as keys with empty values.
  lbtest::WriteFile(dir + "/old.ini", "[FindFilesDirs]\r\n/x/Old=\r\n/y=\r\n");
  EXPECT_EQ(lb::ReadSearchFolders(TIniFile(dir + "/old.ini")), QStringList({"/x/Old", "/y"}));
  EXPECT_TRUE(lb::CanAddSearchFolder({dir + "/Music"}, dir + "/music"));
  EXPECT_FALSE(lb::CanAddSearchFolder({dir + "/Music"}, dir + "/Music"));
  EXPECT_FALSE(lb::CanAddSearchFolder({}, dir + "/none"));
}

using lbtest::CliRun;
using lbtest::RunCli;

TEST(MaintenanceCli, ReplacesPathsFindsForgottenFilesAndWritesReports) {
  const QString dir = lbtest::NewTempDir();
  lbtest::WriteFile(dir + "/m/a.mp3", "x");
  lbtest::WriteFile(dir + "/m/lost.mp3", "x");
  TSlDocument doc = Document(dir + "/l.m3u", {"C:\\Music\\a.mp3", dir + "/m/a.mp3"});
  ASSERT_TRUE(doc.Save(true));
  CliRun run = RunCli({"replace-paths", dir + "/l.m3u", "--drive", "C:=" + dir + "/m", "--from",
                       "/Music/", "--to", "/"});
  ASSERT_EQ(run.code, 0) << run.err.toStdString();
  EXPECT_EQ(run.out, dir + "/l.m3u\t1\n");
  EXPECT_EQ(RunCli({"replace-paths", dir + "/l.m3u", "--drive", "C:=Q:"}).code, 1);

  ASSERT_EQ(RunCli({"repo", "add", dir + "/l.m3u"}).code, 0);
  run = RunCli({"forgotten", dir + "/m"});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, dir + "/m/lost.mp3\n");

  run = RunCli({"report", "--html", "--fields", "0,2", "--out", dir + "/r.htm", dir + "/l.m3u"});
  ASSERT_EQ(run.code, 0) << run.err.toStdString();
  const QString html = QString::fromUtf8(lbtest::ReadFile(dir + "/r.htm"));
  EXPECT_TRUE(html.contains("<TR><TD>1</TD><TD>" + dir +
                            "/m/a.mp3</TD>\r\n"
                            "<TR><TD>2</TD><TD>" +
                            dir + "/m/a.mp3</TD>\r\n"));
  // The file exists now: without --yes the answer is No and nothing is written.
  run = RunCli({"report", "--text", "--fields", "9", "--out", dir + "/r.htm", dir + "/l.m3u"});
  EXPECT_EQ(run.code, 2);
  run = RunCli({"report", "--text", "--fields", "1", "--out", dir + "/r.htm", dir + "/l.m3u"});
  EXPECT_EQ(run.code, 1);
  EXPECT_TRUE(run.err.contains("Файл уже существует. Переписать ? — Нет"));
}

TEST(ForgottenFiles, SongsReachedThroughLinksAreKnown) {
  ScriptedUiServices ui;
  const QString dir = lbtest::NewTempDir();
  for (const char* name : {"a.mp3", "b.mp3", "new.mp3"})
    lbtest::WriteFile(dir + "/library/" + name, "x");
  ASSERT_TRUE(QFile::link(dir + "/library", dir + "/Music"));
  ASSERT_TRUE(QFile::link(dir + "/library/b.mp3", dir + "/b-link.mp3"));
  // The list names one file by its own path, the other through a link to it.
  TSlDocument list = Document(dir + "/l.m3u", {dir + "/library/a.mp3", dir + "/b-link.mp3"});
  ASSERT_TRUE(list.Save(true));
  lbtest::PathLists lists;
  lists.rows = {{dir + "/l.m3u"}};
  for (const QString& folder : {dir + "/Music", dir + "/library"}) {
    lb::TForgottenFiles search;
    EXPECT_TRUE(search.Run(lists, false, {folder}));
    EXPECT_EQ(Paths(search.m_Result), QStringList{folder + "/new.mp3"});
  }
  // The moved-files search takes no file that a list names already as a candidate.
  lb::TRelinkSearch relink;
  relink.CollectKnown(lists, false);
  EXPECT_EQ(relink.Scan({dir + "/Music"}), lb::TForgottenFiles::srDone);
  EXPECT_EQ(relink.FileCount(), 1);
}

TEST(ReplacePaths, ExactCaseFirstAndSongsLostByItAreNamed) {
  const QString dir = lbtest::NewTempDir();
  lbtest::WriteFile(dir + "/music/Music/a.mp3", "x");
  lbtest::WriteFile(dir + "/music/Audio/b.mp3", "x");
  TSlDocument doc =
      Document(dir + "/l.m3u", {dir + "/music/Music/a.mp3", dir + "/music/Music/b.mp3"});
  lb::TReplaceRequest request;
  request.find = "/Music/";
  request.replace = "/Audio/";
  // The parent folder "/music/" is left alone although it comes first.
  const lb::TReplaceResult result = lb::ReplacePaths(doc, {0, 1}, request);
  EXPECT_EQ(Paths(doc), QStringList({dir + "/music/Audio/a.mp3", dir + "/music/Audio/b.mp3"}));
  EXPECT_EQ(result.changed, 2);
  EXPECT_EQ(result.lost, QStringList{dir + "/music/Audio/a.mp3"});
  EXPECT_EQ(lb::ReplaceResultMessage(result),
            "Изменено путей: 2.\nФайлы, которые были на месте, по новым путям не найдены: 1:\n" +
                dir + "/music/Audio/a.mp3");
}

}  // namespace

// A long look lets the windows turn between slices (here a song each) and stops when
// asked, with the rows found so far.
TEST(CheckList, TurnsBetweenSlicesAndStopsWhenAsked) {
  const QString dir = lbtest::NewTempDir();
  lbtest::WriteFile(dir + "/here.mp3", "x");
  const TSlDocument doc =
      Document(dir + "/l.m3u", {"gone0.mp3", dir + "/here.mp3", "gone2.mp3", "gone3.mp3"});
  const struct {
    int stopAt;  // the turn that asks to stop, after that many songs (-1: none)
    std::vector<int> rows;
    int turns;
  } cases[] = {{-1, {0, 2, 3}, 3}, {2, {0}, 2}, {1, {0}, 1}};
  for (const auto& [stopAt, rows, turns] : cases) {
    std::vector<int> done;
    auto turn = [&](int n, int count) {
      EXPECT_EQ(count, 4);
      done.push_back(n);
      return n != stopAt;
    };
    EXPECT_EQ(lb::MissingFileRows(doc, turn, 0), rows) << stopAt;
    EXPECT_EQ(int(done.size()), turns) << stopAt;
  }
}
