// The command-line tool as a user scripts it: exit codes, Russian messages, and the
// files it leaves behind.
#include "TestEnv.h"
#include "CliRun.h"
#include "../model/ModelTestUtil.h"

#include <QFile>
#include <QFileInfo>

#include "lbtools3/model/M3uList.h"
#include "platform/CodePage.h"
#include <QProcess>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using lbtest::CliRun;
using lbtest::RunCli;

class CliTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The tool creates the tag component by its registration, as the program does.
    QProcess::execute(lbtest::BinDir() + "/lbregsvr", {lbtest::BinDir() + "/libid3com.so"});
  }
  QString dir = lbtest::NewTempDir();
};

TEST_F(CliTest, SetsAndShowsBothTags) {
  const QString mp3 = modeltest::MakeMp3(dir + "/a.mp3");
  CliRun set = RunCli(
      {"tags", "set", mp3, "title=Привет", "artist=Группа", "year=1999", "genre=Rock", "--v1"});
  ASSERT_EQ(set.code, 0) << set.err.toStdString();
  set = RunCli(
      {"tags", "set", mp3, "--v2", "title=Длинное название больше тридцати символов", "track=4"});
  ASSERT_EQ(set.code, 0) << set.err.toStdString();
  const CliRun show = RunCli({"tags", "show", mp3});
  ASSERT_EQ(show.code, 0);
  EXPECT_TRUE(show.out.contains("title\tПривет")) << show.out.toStdString();
  EXPECT_TRUE(show.out.contains("genre\tRock (17)"));
  EXPECT_TRUE(show.out.contains("title\tДлинное название больше тридцати символов"));
  EXPECT_TRUE(show.out.contains("track\t4"));
  // ID3v1 refuses what does not fit; nothing is written then.
  const QByteArray before = lbtest::ReadFile(mp3);
  const CliRun tooLong = RunCli({"tags", "set", mp3, "--v1", "title=" + QString(31, 'x')});
  EXPECT_NE(tooLong.code, 0);
  EXPECT_TRUE(tooLong.err.contains("не помещается в ID3v1"));
  EXPECT_EQ(lbtest::ReadFile(mp3), before);
}

TEST_F(CliTest, SyncsShowsAndConvertsAList) {
  modeltest::MakeMp3(dir + "/sub/one.mp3");
  ASSERT_EQ(RunCli({"tags", "set", dir + "/sub/one.mp3", "title=Один", "artist=Я"}).code, 0);
  lbtest::WriteFile(dir + "/list.m3u", (dir + "/sub/one.mp3\n" + dir + "/gone.mp3\n").toUtf8());
  const CliRun sync = RunCli({"list", "sync", dir + "/list.m3u"});
  ASSERT_EQ(sync.code, 0) << sync.err.toStdString();
  EXPECT_TRUE(sync.out.contains("Синхронизировано песен: 2, файлов нет: 1"));
  EXPECT_TRUE(QFile::exists(dir + "/list.lbt"));
  const CliRun show = RunCli({"list", "show", dir + "/list.m3u"});
  EXPECT_TRUE(show.out.contains("Я - Один\tЯ - Один")) << show.out.toStdString();
  ASSERT_EQ(RunCli({"list", "convert", "--brief", dir + "/list.m3u"}).code, 0);
  EXPECT_TRUE(lbtest::ReadFile(dir + "/list.m3u").startsWith("sub/one.mp3\r\n"));
}

TEST_F(CliTest, EditsAListWithoutTheWindow) {
  const QString list = dir + "/l.m3u";
  QStringList files;
  for (int i = 1; i <= 6; ++i) files << modeltest::MakeMp3(dir + QString("/%1.mp3").arg(i));
  ASSERT_EQ(RunCli(QStringList{"list", "add", list} + files).code, 0);
  // Songs 2 and 3 dropped on song 5 land at place 3.
  ASSERT_EQ(RunCli({"list", "move", list, "5", "2", "3"}).code, 0);
  ASSERT_EQ(RunCli({"list", "remove", list, "6", "1"}).code, 0);
  TSlDocument doc;
  doc.SetFileName(list);
  ASSERT_TRUE(doc.Load(true));
  QStringList names;
  for (int n = 0; n < doc.m_Songs.size(); ++n) names << QFileInfo(doc.m_Songs[n].m_Path).baseName();
  EXPECT_EQ(names, QStringList({"4", "2", "3", "5"}));
  EXPECT_EQ(RunCli({"list", "remove", list, "9"}).code, 2);

  QFile::remove(dir + "/3.mp3");
  const CliRun check = RunCli({"list", "check", list});
  EXPECT_EQ(check.code, 0);
  EXPECT_TRUE(check.out.contains("3\t" + dir + "/3.mp3"));
  EXPECT_TRUE(check.out.contains("Файлов нет: 1 из 4"));
  const CliRun info = RunCli({"files-info", list});
  EXPECT_TRUE(info.out.contains("10,008 байт(а)\n0 Мб.")) << info.out.toStdString();
}

TEST_F(CliTest, BadInputGivesRussianMessagesAndExitCodes) {
  CliRun r = RunCli({"nonsense"});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.err.contains("Неизвестная команда"));
  r = RunCli({"list", "show", dir + "/none.m3u"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("Файл не найден"));
  r = RunCli({"tags", "show", dir + "/none.mp3"});
  EXPECT_EQ(r.code, 1);
  r = RunCli({"tags", "set", modeltest::MakeMp3(dir + "/x.mp3"), "year=12a4"});
  EXPECT_NE(r.code, 0);
  EXPECT_TRUE(r.err.contains("должно быть числом"));
  EXPECT_EQ(RunCli({"--help"}).code, 0);
}

TEST_F(CliTest, ScanIntoAListAndWhatItRefuses) {
  const QString music = dir + "/music", list = dir + "/found.m3u";
  modeltest::MakeMp3(music + "/a.mp3");
  modeltest::MakeMp3(music + "/sub/b.mp3");
  // A FIFO named like a song or a list is neither, and never hangs the scan.
  ASSERT_EQ(::mkfifo(QFile::encodeName(music + "/c.mp3").constData(), 0600), 0);
  ASSERT_EQ(::mkfifo(QFile::encodeName(music + "/d.m3u").constData(), 0600), 0);
  CliRun r = RunCli({"scan", music, "--into", list, "--lists=yes"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.contains("Песен найдено: 2"));
  TSlDocument doc;
  doc.SetFileName(list);
  ASSERT_TRUE(doc.Load(true));
  QStringList paths;
  for (int n = 0; n < doc.m_Songs.size(); ++n) paths << doc.m_Songs[n].GetPath(true);
  paths.sort();
  EXPECT_EQ(paths, QStringList({music + "/a.mp3", music + "/sub/b.mp3"}));

  // A missing folder fails before anything is scanned or written.
  const QByteArray before = lbtest::ReadFile(list);
  r = RunCli({"scan", music, dir + "/none", "--into", list});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("Папка не найдена: " + dir + "/none"));
  EXPECT_EQ(lbtest::ReadFile(list), before);

  // A folder or an empty name is no song; a music file is no list.
  for (const QString& bad : {QString("/"), QString(""), music}) {
    r = RunCli({"list", "add", list, bad});
    EXPECT_EQ(r.code, 2) << bad.toStdString();
    EXPECT_TRUE(r.err.contains("Не файл, а папка")) << r.err.toStdString();
  }
  const QByteArray song = lbtest::ReadFile(music + "/a.mp3");
  r = RunCli({"list", "add", music + "/a.mp3", music + "/sub/b.mp3"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("это музыкальный файл"));
  EXPECT_EQ(lbtest::ReadFile(music + "/a.mp3"), song);
  EXPECT_EQ(lbtest::ReadFile(list), before);
}

TEST_F(CliTest, SettingsSetChecksTheValueAndTheToolUsesIt) {
  EXPECT_EQ(RunCli({"settings", "set", "Edit", "Extentions", ";;;"}).code, 1);
  EXPECT_EQ(RunCli({"settings", "set", "Edit", "FullPathsInsert", "yes"}).code, 1);
  EXPECT_EQ(RunCli({"settings", "set", "Edit", "TagCodePage", "65001"}).code, 1);
  EXPECT_EQ(RunCli({"settings", "set", "Drives", "DD", "/media/music"}).code, 1);
  EXPECT_EQ(RunCli({"settings", "set", "Drives", "d", "media"}).code, 1);
  ASSERT_EQ(RunCli({"settings", "set", "edit", "fullpathsinsert", "false"}).code, 0);
  ASSERT_EQ(RunCli({"settings", "set", "Drives", "d", dir}).code, 0);
  ASSERT_EQ(RunCli({"settings", "set", "Edit", "TagCodePage", "1252"}).code, 0);
  EXPECT_EQ(RunCli({"settings", "get", "Edit", "TagCodePage"}).out, "1252\n");
  const QString ini = lbtest::ReadFile(qEnvironmentVariable("LBTOOLS_INI"));
  EXPECT_TRUE(ini.contains("[Edit]\nFullPathsInsert=0\n")) << ini.toStdString();
  EXPECT_TRUE(ini.contains("[Drives]\nD=" + dir + "\n"));
  EXPECT_TRUE(RunCli({"settings", "show"}).out.contains("Edit/TagCodePage=1252\n"));
  EXPECT_TRUE(RunCli({"settings", "show"}).out.contains("Drives/D=" + dir + "\n"));

  // The tool reads legacy lists in the chosen page (0xE9: "é" in 1252) and finds the
  // file through the drive's folder.
  modeltest::MakeMp3(dir + "/Café.mp3");
  lbtest::WriteFile(dir + "/l.m3u", "D:\\Caf\xE9.mp3\r\n");
  const CliRun check = RunCli({"list", "check", dir + "/l.m3u"});
  EXPECT_TRUE(check.out.contains("Файлов нет: 0 из 1")) << check.out.toStdString();
  RunCli({"settings", "set", "Edit", "TagCodePage", "1251"});

  // A full disk: the write is reported and the file stays whole.
  lbtest::SmallFileSystem fs(64);
  if (!fs.Ok()) GTEST_SKIP() << "a small file system needs root here";
  const QString small = fs.Path() + "/lbtools3.ini";
  lbtest::WriteFile(small, "[Edit]\nFastPlay=0\n");
  fs.Fill();
  const QByteArray saved = qgetenv("LBTOOLS_INI");
  qputenv("LBTOOLS_INI", QFile::encodeName(small));
  const CliRun full = RunCli({"settings", "set", "Edit", "Winamp_path", "/usr/bin/audacious"});
  qputenv("LBTOOLS_INI", saved);
  EXPECT_EQ(full.code, 1);
  EXPECT_TRUE(full.err.contains("Файл настроек не записан"));
  EXPECT_EQ(lbtest::ReadFile(small), "[Edit]\nFastPlay=0\n");
}

// A tool that outlives its time limit fails the test instead of passing for code 0.
TEST(CliRunner, ToolPastItsTimeLimitFailsTheTest) {
  lbtest::CliOptions options;
  options.timeoutMs = 1;
  EXPECT_NONFATAL_FAILURE(EXPECT_EQ(RunCli({"--help"}, options).code, -1), "no end within 1 ms");
}

// A scan that left files out says which and does not end as a clean one; what it found
// is still written.
TEST_F(CliTest, ScanThatLeftFilesOutSaysSoAndFails) {
  const QString music = dir + "/left", list = dir + "/left.m3u";
  modeltest::MakeMp3(music + "/a.mp3");
  const QByteArray notUtf8 = QFile::encodeName(music) + "/\xcf\xe5.mp3";
  const int fd = ::open(notUtf8.constData(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ::close(fd);
  const CliRun r = RunCli({"scan", music, "--into", list});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("имён не в кодировке UTF-8: 1.")) << r.err.toStdString();
  EXPECT_TRUE(lbtest::ReadFile(list).contains("a.mp3"));
}

}  // namespace

// A scan over several folders tells what it left out once, at its end, naming every
// folder, and does not end as a clean one; each command that scans folders does so.
TEST_F(CliTest, ScanOfSeveralFoldersTellsWhatItLeftOutOnce) {
  const QStringList folders = {dir + "/one", dir + "/two"};
  for (const QString& folder : folders) {
    modeltest::MakeMp3(folder + "/a.mp3");
    const int fd =
        ::open((QFile::encodeName(folder) + "/\xcf\xe5.mp3").constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
  for (const QStringList& command :
       {QStringList{"scan"}, QStringList{"repo", "scan"}, QStringList{"forgotten"}}) {
    const CliRun r = RunCli(command + folders);
    const std::string name = command.join(' ').toStdString();
    EXPECT_EQ(r.code, 1) << name;
    EXPECT_EQ(r.err.count("Сканирование пропустило"), 1) << name << '\n' << r.err.toStdString();
    for (const QString& folder : folders)
      EXPECT_TRUE(r.err.contains("В папке \"" + folder + "\" имён не в кодировке UTF-8: 1."))
          << name << '\n'
          << r.err.toStdString();
  }
}
