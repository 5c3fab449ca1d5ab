// The find and sort commands of the command-line tool as a user scripts them.
#include "docwin/DocWinTestUtil.h"
#include "CliRun.h"

#include "lbtools3/model/M3uList.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

using lbtest::CliRun;
using lbtest::RunCli;

class FindCliTest : public ::testing::Test {
 protected:
  // The tool creates the tag component through the registration made here.
  void SetUp() override { ASSERT_TRUE(modeltest::AttachID3Com()); }
  // A list of MP3 files with these ID3v1 titles (no tag for an empty title).
  QString List(const QString& name, const QStringList& titles) {
    TSlDocument doc;
    doc.SetFileName(dir + "/" + name + ".m3u");
    for (int n = 0; n < titles.size(); ++n)
      doc.InsertSong(
          TSlSong(nullptr,
                  docwintest::MakeTaggedMp3(dir + QString("/%1%2.mp3").arg(name).arg(n), titles[n]),
                  QString()),
          -1);
    EXPECT_TRUE(doc.Save(true));
    return doc.m_FileName;
  }
  QString dir = lbtest::NewTempDir();
};

TEST_F(FindCliTest, FindsTextAndGenres) {
  const QString a = List("a", {"Abba gold", "x", "ABBA"});
  const QString b = List("b", {"none"});
  CliRun run = RunCli({"find", "abba", "--fields", "3,11", a, b});
  ASSERT_EQ(run.code, 0) << run.err.toStdString();
  EXPECT_EQ(run.out, a + "\t2\t1 3\n");
  // Without --fields and without a choice saved by the dialog: titles, artists, albums.
  run = RunCli({"find", "abba", a, b});
  EXPECT_EQ(run.out, a + "\t2\t1 3\n") << run.err.toStdString();
  // The empty genre entry: songs whose record exists and has no genre.
  const QString c = List("c", {"t", ""});
  run = RunCli({"find", "", "--genre", "", c});
  EXPECT_EQ(run.out, c + "\t1\t1\n") << run.err.toStdString();
  // Refusals.
  run = RunCli({"find", "abba", "--fields", "9", a});
  EXPECT_EQ(run.code, 2);
  EXPECT_TRUE(run.err.contains("недоступно для поиска"));
  run = RunCli({"find", "abba", "--fields", "3", dir + "/gone.m3u"});
  EXPECT_EQ(run.code, 1);
  EXPECT_TRUE(run.err.contains("Во время поиска при загрузке этого документа произошла ошибка."));
}

TEST_F(FindCliTest, SortsAndSavesTheList) {
  const QString a = List("s", {"x", "abba", "Beta", "ABBA"});
  CliRun run = RunCli({"sort", a, "--by", "3"});
  ASSERT_EQ(run.code, 0) << run.err.toStdString();
  TSlDocument doc;
  doc.SetFileName(a);
  ASSERT_TRUE(doc.Load(true));
  QStringList names;
  for (int n = 0; n < doc.m_Songs.size(); ++n) names << lb::FileBaseName(doc.m_Songs[n].m_Path);
  // The titles come from the files; abba and ABBA are equal and keep their order.
  EXPECT_EQ(names, QStringList({"s1", "s3", "s2", "s0"}));
  run = RunCli({"sort", a, "--by", "9"});
  EXPECT_EQ(run.code, 2);
  EXPECT_TRUE(run.err.contains("нельзя"));
}

}  // namespace
