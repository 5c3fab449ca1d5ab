// lbtools3-cli repo: the commands work on the settings file the window reads.
#include "CliRun.h"
#include "TestEnv.h"
#include "lbtools3/repository/Repository.h"
#include "platform/IniFile.h"

#include <gtest/gtest.h>

namespace {

using lbtest::CliRun;

class CliRepoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = lbtest::NewTempDir();
    iniPath = dir + "/lbtools3.ini";
  }
  // The tool on this test's settings file.
  CliRun Cli(const QStringList& args) {
    lbtest::CliOptions options;
    options.ini = iniPath;
    return lbtest::RunCli(args, options);
  }
  QString List(const QString& name) {
    const QString path = dir + "/" + name;
    EXPECT_TRUE(lbtest::WriteFile(path, "#EXTM3U\r\n"));
    return path;
  }

  QString dir, iniPath;
};

TEST_F(CliRepoTest, AddListRemoveOnTheWindowsSettings) {
  const QString b = List("B.m3u"), a = List("a=1.m3u");
  EXPECT_EQ(Cli({"repo", "add", b}).code, 0);
  EXPECT_EQ(Cli({"repo", "add", a}).code, 0);
  const CliRun again = Cli({"repo", "add", a});
  EXPECT_EQ(again.code, 1);
  EXPECT_TRUE(again.err.contains("Этот лист уже есть базе.")) << again.err.toStdString();
  EXPECT_EQ(Cli({"repo", "add", dir + "/missing.m3u"}).code, 1);

  // The window finds them, closed.
  TIniFile ini(iniPath);
  EXPECT_EQ(ini.ReadString(TListsRepository::kSection, TListsRepository::EncodeKey(a), ""), "0");
  ini.WriteBool(TListsRepository::kSection, b, true);  // as if open at the window's exit

  CliRun list = Cli({"repo", "list"});
  EXPECT_EQ(list.code, 0);
  EXPECT_EQ(list.out, "1\t\ta=1\t" + a + "\n2\t+\tB\t" + b + "\n");

  EXPECT_EQ(Cli({"repo", "remove", a}).code, 0);
  EXPECT_EQ(Cli({"repo", "remove", a}).code, 1);
  list = Cli({"repo", "list"});
  EXPECT_EQ(list.out, "1\t+\tB\t" + b + "\n");
}

TEST_F(CliRepoTest, ScanAddsListsOnlyWhenTheUserAgrees) {
  const QString one = List("music/x/one.m3u");
  const QString two = List("music/two.m3u8");  // ".m3u8" is a list as well
  CliRun run = Cli({"repo", "scan", dir + "/music"});
  EXPECT_EQ(run.code, 0);
  EXPECT_TRUE(run.out.contains("Добавлено листов: 0")) << run.out.toStdString();
  EXPECT_TRUE(run.err.contains("отсутствует в хранилище. Добавить ?")) << run.err.toStdString();
  run = Cli({"--yes", "repo", "scan", dir + "/music"});
  EXPECT_EQ(run.code, 0);
  EXPECT_TRUE(run.out.contains("Добавлено листов: 2")) << run.out.toStdString();
  const CliRun list = Cli({"repo", "list"});
  EXPECT_TRUE(list.out.contains(one));
  EXPECT_TRUE(list.out.contains(two));
  EXPECT_EQ(Cli({"repo", "scan", dir + "/nowhere"}).code, 1);
}

TEST_F(CliRepoTest, AddOnAFullDiskFailsAndSaysSo) {
  lbtest::SmallFileSystem fs(64);
  if (!fs.Ok()) GTEST_SKIP() << "a small file system needs root here";
  const QString list = List("a.m3u");
  iniPath = fs.Path() + "/lbtools3.ini";
  ASSERT_TRUE(lbtest::WriteFile(iniPath, "[Edit]\nFastPlay=0\n"));
  fs.Fill(1);  // room for the lock file, none for the settings file
  const CliRun run = Cli({"repo", "add", list});
  EXPECT_EQ(run.code, 1);
  EXPECT_TRUE(run.err.contains("Файл настроек не записан: " + iniPath)) << run.err.toStdString();
  EXPECT_EQ(lbtest::ReadFile(iniPath), "[Edit]\nFastPlay=0\n");
}

}  // namespace
