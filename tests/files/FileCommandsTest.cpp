// The rename and organize commands as a user scripts them.
#include "FilesTestUtil.h"
#include "CliRun.h"

#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

using lbtest::CliRun;
using lbtest::RunCli;

class FileCommandsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    QProcess::execute(lbtest::BinDir() + "/lbregsvr", {lbtest::BinDir() + "/libid3com.so"});
  }
  void List(const QString& path, const QStringList& files) {
    TSlDocument doc;
    doc.SetFileName(path);
    for (const QString& f : files) doc.InsertSong(TSlSong(nullptr, f, QString()), -1);
    ASSERT_TRUE(doc.Save(true));
  }
  QStringList Entries(const QString& path) {
    TSlDocument doc;
    doc.SetFileName(path);
    EXPECT_TRUE(doc.Load(true));
    return filestest::Paths(doc);
  }
  QString dir = lbtest::NewTempDir();
};

TEST_F(FileCommandsTest, RenameThenOrganizeWithEveryListFollowing) {
  const QString a = filestest::MakeMp3(dir + "/a.mp3", {"Один", "Queen", ""});
  const QString b = filestest::MakeMp3(dir + "/b.mp3", {"Two", "Queen", ""});
  List(dir + "/list.m3u", {a, b});
  List(dir + "/other.m3u", {b, a});
  ASSERT_EQ(RunCli({"repo", "add", dir + "/other.m3u"}).code, 0);

  CliRun r =
      RunCli({"rename", dir + "/list.m3u", "--mask", "%17 %^1.%e", "--digits", "2", "--rows", "1"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  const QString a2 = dir + "/01 Один.mp3";
  EXPECT_EQ(r.out, a + " -> " + a2 + "\n");
  EXPECT_EQ(Entries(dir + "/list.m3u"), (QStringList{a2, b}));
  EXPECT_EQ(Entries(dir + "/other.m3u"), (QStringList{b, a2}));
  EXPECT_EQ(RunCli({"rename", dir + "/list.m3u", "--mask", "%18"}).code, 2);

  r = RunCli({"organize", dir + "/list.m3u", "--root", dir + "/M", "--by", "2,1", "--move"});
  EXPECT_EQ(r.code, 1) << r.err.toStdString();  // the root is not created without --yes
  r = RunCli(
      {"--yes", "organize", dir + "/list.m3u", "--root", dir + "/M", "--by", "2,1", "--move"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  const QString folder = dir + "/M/Queen/Unknown album/";
  EXPECT_EQ(Entries(dir + "/list.m3u"), (QStringList{folder + "01 Один.mp3", folder + "b.mp3"}));
  EXPECT_EQ(Entries(dir + "/other.m3u"), (QStringList{folder + "b.mp3", folder + "01 Один.mp3"}));
  EXPECT_EQ(r.out.count(" -> "), 2);
  EXPECT_FALSE(lb::FileExists(b));
}

// A copy leaves the list alone unless asked; a file that fails for another reason than
// an existing target is no success; a relative root lies below the working folder.
TEST_F(FileCommandsTest, OrganizeCopyKeepsTheListAndAFailureIsNoSuccess) {
  const QString a = filestest::MakeMp3(dir + "/a.mp3", {"One", "Queen", ""});
  const QString b = filestest::MakeMp3(dir + "/b.mp3", {"Two", "Abba", ""});
  List(dir + "/list.m3u", {a, b});
  QDir().mkpath(dir + "/M/Abba");
  lbtest::ReadOnlyFolder locked(dir + "/M/Abba");
  if (!locked.Ok()) GTEST_SKIP() << "no way to make a folder refuse files here";
  QProcess p;
  p.setWorkingDirectory(dir);
  p.start(lbtest::BinDir() + "/lbtools3-cli",
          {"organize", "list.m3u", "--root", "M", "--by", "2", "--on-exists", "skip"});
  ASSERT_TRUE(p.waitForFinished(30000));
  EXPECT_EQ(p.exitCode(), 1);
  const QString said = QString::fromUtf8(p.readAllStandardError());
  EXPECT_TRUE(said.contains("Не удалось обработать 1 файлa(ов)")) << said.toStdString();
  EXPECT_TRUE(lb::FileExists(dir + "/M/Queen/a.mp3"));
  EXPECT_EQ(Entries(dir + "/list.m3u"), (QStringList{a, b}));
}

// How a run ends: a failure under the default "stop" is named, never taken for the
// user's stop; skips asked for (a link to nothing at the name too) are no failure.
TEST_F(FileCommandsTest, OrganizeEndsSayingWhatHappened) {
  const QString a = filestest::MakeMp3(dir + "/a.mp3", {"One", "Queen", ""});
  const QString b = filestest::MakeMp3(dir + "/b.mp3", {"Two", "Queen", ""});
  List(dir + "/list.m3u", {a, b});
  const QString folder = dir + "/M/Queen/";
  QDir().mkpath(folder);
  lbtest::WriteFile(folder + "a.mp3", "old");
  ASSERT_TRUE(QFile::link(dir + "/nowhere.mp3", folder + "b.mp3"));
  const struct {
    QStringList options;
    int code;
    QString said;
  } cases[] = {
      {{},
       1,
       "Остановлено из-за ошибки: " + a + " -> " + folder +
           "a.mp3: " + lb::SystemErrorText(EEXIST)},
      {{"--on-exists", "skip"}, 0, "пропущено 2 файлa(ов)"},
  };
  for (const auto& c : cases) {
    const CliRun r = RunCli(
        QStringList{"organize", dir + "/list.m3u", "--root", dir + "/M", "--by", "2"} + c.options);
    EXPECT_EQ(r.code, c.code) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(c.said)) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("Прервано пользователем")) << r.err.toStdString();
  }
  EXPECT_EQ(lbtest::ReadFile(folder + "a.mp3"), "old");
  EXPECT_FALSE(QFileInfo::exists(dir + "/nowhere.mp3"));
}

}  // namespace
