// The command-line tool as a user scripts it: exit codes, Russian messages, and the
// files it leaves behind.
#include "TestEnv.h"
#include "../model/ModelTestUtil.h"

#include <QFile>
#include <QFileInfo>

#include "lbtools3/model/M3uList2.h"
#include <QProcess>
#include <gtest/gtest.h>

namespace {

struct CliRun {
  int code;
  QString out;
  QString err;
};

CliRun Cli(const QStringList& args) {
  QProcess p;
  p.start(lbtest::BinDir() + "/lbtools3-cli", args);
  p.waitForFinished(30000);
  return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
          QString::fromUtf8(p.readAllStandardError())};
}

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
  CliRun set =
      Cli({"tags", "set", mp3, "title=Привет", "artist=Группа", "year=1999", "genre=Rock", "--v1"});
  ASSERT_EQ(set.code, 0) << set.err.toStdString();
  set = Cli(
      {"tags", "set", mp3, "--v2", "title=Длинное название больше тридцати символов", "track=4"});
  ASSERT_EQ(set.code, 0) << set.err.toStdString();
  const CliRun show = Cli({"tags", "show", mp3});
  ASSERT_EQ(show.code, 0);
  EXPECT_TRUE(show.out.contains("title\tПривет")) << show.out.toStdString();
  EXPECT_TRUE(show.out.contains("genre\tRock (17)"));
  EXPECT_TRUE(show.out.contains("title\tДлинное название больше тридцати символов"));
  EXPECT_TRUE(show.out.contains("track\t4"));
  // ID3v1 refuses what does not fit; nothing is written then.
  const QByteArray before = lbtest::ReadFile(mp3);
  const CliRun tooLong = Cli({"tags", "set", mp3, "--v1", "title=" + QString(31, 'x')});
  EXPECT_NE(tooLong.code, 0);
  EXPECT_TRUE(tooLong.err.contains("не помещается в ID3v1"));
  EXPECT_EQ(lbtest::ReadFile(mp3), before);
}

TEST_F(CliTest, SyncsShowsAndConvertsAList) {
  modeltest::MakeMp3(dir + "/sub/one.mp3");
  ASSERT_EQ(Cli({"tags", "set", dir + "/sub/one.mp3", "title=Один", "artist=Я"}).code, 0);
  lbtest::WriteFile(dir + "/list.m3u", (dir + "/sub/one.mp3\n" + dir + "/gone.mp3\n").toUtf8());
  const CliRun sync = Cli({"list", "sync", dir + "/list.m3u"});
  ASSERT_EQ(sync.code, 0) << sync.err.toStdString();
  EXPECT_TRUE(sync.out.contains("Синхронизировано песен: 2, файлов нет: 1"));
  EXPECT_TRUE(QFile::exists(dir + "/list.lbt"));
  const CliRun show = Cli({"list", "show", dir + "/list.m3u"});
  EXPECT_TRUE(show.out.contains("Я - Один\tЯ - Один")) << show.out.toStdString();
  ASSERT_EQ(Cli({"list", "convert", "--brief", dir + "/list.m3u"}).code, 0);
  EXPECT_TRUE(lbtest::ReadFile(dir + "/list.m3u").startsWith("sub/one.mp3\r\n"));
}

TEST_F(CliTest, EditsAListWithoutTheWindow) {
  const QString list = dir + "/l.m3u";
  QStringList files;
  for (int i = 1; i <= 6; ++i) files << modeltest::MakeMp3(dir + QString("/%1.mp3").arg(i));
  ASSERT_EQ(Cli(QStringList{"list", "add", list} + files).code, 0);
  // Songs 2 and 3 dropped on song 5 land at place 3.
  ASSERT_EQ(Cli({"list", "move", list, "5", "2", "3"}).code, 0);
  ASSERT_EQ(Cli({"list", "remove", list, "6", "1"}).code, 0);
  TSlDocument doc;
  doc.SetFileName(list);
  ASSERT_TRUE(doc.Load(true));
  QStringList names;
  for (int n = 0; n < doc.m_Songs.size(); ++n) names << QFileInfo(doc.m_Songs[n].m_Path).baseName();
  EXPECT_EQ(names, QStringList({"4", "2", "3", "5"}));
  EXPECT_EQ(Cli({"list", "remove", list, "9"}).code, 2);

  QFile::remove(dir + "/3.mp3");
  const CliRun check = Cli({"list", "check", list});
  EXPECT_EQ(check.code, 0);
  EXPECT_TRUE(check.out.contains("3\t" + dir + "/3.mp3"));
  EXPECT_TRUE(check.out.contains("Файлов нет: 1 из 4"));
  const CliRun info = Cli({"files-info", list});
  EXPECT_TRUE(info.out.contains("10,008 байт(а)\n0 Мб.")) << info.out.toStdString();
}

TEST_F(CliTest, BadInputGivesRussianMessagesAndExitCodes) {
  CliRun r = Cli({"nonsense"});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.err.contains("Неизвестная команда"));
  r = Cli({"list", "show", dir + "/none.m3u"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("Файл не найден"));
  r = Cli({"tags", "show", dir + "/none.mp3"});
  EXPECT_EQ(r.code, 1);
  r = Cli({"tags", "set", modeltest::MakeMp3(dir + "/x.mp3"), "year=12a4"});
  EXPECT_NE(r.code, 0);
  EXPECT_TRUE(r.err.contains("должно быть числом"));
  EXPECT_EQ(Cli({"--help"}).code, 0);
}

}  // namespace
