// "lbtools3-cli tags edit" on a list of songs with Cyrillic tags, read back by mutagen.
#include "TagsTestUtil.h"
#include "CliRun.h"

#include "platform/CodePage.h"
#include "platform/PartialFiles.h"

#include "id3com/Mp3Files.h"

#include <QFile>
#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

using lbtest::CliRun;
using lbtest::RunCli;

QString Frame(const QStringList& frames, const QString& id) {
  for (const QString& f : frames)
    if (f.startsWith(id + "=")) return f;
  return {};
}

TEST(TagsCliTest, EditsTheChosenSongsOfAListAndSavesIt) {
  ASSERT_TRUE(modeltest::AttachID3Com());  // registers the tag component for the tool too
  const QString dir = lbtest::NewTempDir();
  QStringList paths;
  QByteArray m3u;
  for (int n = 1; n <= 20; ++n) {
    paths << tagstest::MakeTagged(dir + QString("/Виктор Цой - Звезда %1.mp3").arg(n),
                                  QString("Песня %1").arg(n), "Кино");
    m3u += paths.last().toUtf8() + "\r\n";
  }
  const QString list = dir + "/Кино.m3u";
  lbtest::WriteFile(list, m3u);
  const QStringList untouched = tagstest::MutagenFrames(paths[10]);
  const QByteArray tail = tagstest::Tail128(paths[0]);

  const CliRun edit = RunCli(
      {"tags", "edit", list, "--rows", "1-10,15", "--v2", "album=Группа крови", "composer=Цой"});
  ASSERT_EQ(edit.code, 0) << edit.err.toStdString();
  const QStringList edited = edit.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(edited.size(), 11);
  EXPECT_EQ(edited[10], "15\t" + paths[14]);
  const QStringList frames = tagstest::MutagenFrames(paths[0]);
  EXPECT_TRUE(Frame(frames, "TALB").contains("'Группа крови'")) << frames.join('\n').toStdString();
  EXPECT_TRUE(Frame(frames, "TCOM").contains("'Цой'"));
  EXPECT_TRUE(Frame(frames, "TIT2").contains("'Песня 1'"));
  EXPECT_TRUE(Frame(frames, "TPE1").contains("'Кино'"));
  EXPECT_EQ(tagstest::MutagenFrames(paths[10]), untouched);
  EXPECT_TRUE(tagstest::Tail128(paths[0]) == tail);  // --v2 leaves ID3v1 alone
  EXPECT_TRUE(QFile::exists(dir + "/Кино.lbt"));

  // Copies into ID3v1 (Windows-1251) and names from the file name, over all songs.
  const CliRun copy = RunCli({"tags", "edit", list, "--rows", "2", "--copy-v2-to-v1"});
  ASSERT_EQ(copy.code, 0) << copy.err.toStdString();
  EXPECT_TRUE(tagstest::Tail128(paths[1]).mid(63, 30) ==
              lb::ToTagCodePage("Группа крови").leftJustified(30, '\0'));
  const CliRun names = RunCli({"tags", "edit", list, "--v1", "--from-name", " - "});
  ASSERT_EQ(names.code, 0) << names.err.toStdString();
  EXPECT_EQ(names.out.count('\n'), 20);
  EXPECT_TRUE(tagstest::Tail128(paths[19]).mid(33, 30) ==
              lb::ToTagCodePage("Виктор Цой").leftJustified(30, '\0'));

  // Bad arguments change nothing.
  EXPECT_EQ(RunCli({"tags", "edit", list, "--v1", "track=3"}).code, 2);
  EXPECT_EQ(RunCli({"tags", "edit", list, "--rows", "21", "title=x"}).code, 2);
  const CliRun year = RunCli({"tags", "edit", list, "--rows", "3", "year=12345"});
  EXPECT_EQ(year.code, 1);
  EXPECT_TRUE(year.err.contains(
      "Год у тэга ID3v1 введён неправильно. Пропустить этот файл и продолжить ?"));
}

TEST(TagsCliTest, ATrackTooLargeIsRefusedAndNoVersionIsCreatedUnasked) {
  ASSERT_TRUE(modeltest::AttachID3Com());
  const QString dir = lbtest::NewTempDir();
  const QString song = tagstest::MakeTagged(dir + "/song.mp3", "Песня", "Кто");
  TSlSong(nullptr, song, QString()).m_Tag1.RemoveTag(true);  // ID3v2 only
  const QString list = dir + "/list.m3u";
  lbtest::WriteFile(list, song.toUtf8() + "\r\n");
  const QByteArray before = lbtest::ReadFile(song);

  const CliRun big = RunCli({"tags", "edit", list, "track=99999999999"});
  EXPECT_EQ(big.code, 1) << big.err.toStdString();
  EXPECT_TRUE(big.err.contains("Номер дорожки у тэга ID3v2 введён неправильно"));
  EXPECT_TRUE(lbtest::ReadFile(song) == before);
  // A genre number the table does not have would remove the song's genre: refused.
  EXPECT_EQ(RunCli({"tags", "edit", list, "--v2", "genre=200"}).code, 2);  // a bad argument
  EXPECT_EQ(RunCli({"tags", "edit", list, "--v2", "year=abcd"}).code, 1);
  for (const char* year : {"year=abcd", "year=19999"}) {
    const CliRun set = RunCli({"tags", "set", song, "--v2", year});
    EXPECT_EQ(set.code, 1) << year;
    EXPECT_TRUE(set.err.contains("Год у тэга ID3v2 введён неправильно")) << year;
  }
  EXPECT_TRUE(lbtest::ReadFile(song) == before);

  // Without --v1/--v2 a field only ID3v2 has creates no ID3v1 tag; "N/M" is a track.
  const CliRun track = RunCli({"tags", "edit", list, "track=3/12"});
  ASSERT_EQ(track.code, 0) << track.err.toStdString();
  EXPECT_TRUE(Frame(tagstest::MutagenFrames(song), "TRCK").contains("'3/12'"));
  EXPECT_FALSE(tagstest::Tail128(song).startsWith("TAG"));
}

// "tags edit" killed in the middle of its batch (by the file size limit, as the
// temporary copy of the fifth song's growing tag crosses it): the songs written in
// place hold the new title; the songs whose tags grew earlier (their copies waiting for
// the batch's group) and those from the fifth on hold their old tag; every song keeps
// its audio, and what the kill left beside them is partial files only.
TEST(TagsCliTest, ABatchKilledHalfWayLeavesEverySongWhole) {
  ASSERT_TRUE(modeltest::AttachID3Com());
  const QString dir = lbtest::NewTempDir();
  const QByteArray audio = lbtest::Mp3Audio(200), shortAudio = lbtest::Mp3Audio(100);
  const QByteArray roomy = lbtest::Id3v2(3, {{"TIT2", lbtest::TextBody("Old")}});
  QByteArray tight = roomy;
  tight.chop(64);  // no padding
  tight.replace(6, 4, lbtest::SyncSafe(tight.size() - 10));
  const struct {
    bool grows, shortAudio, written;  // written: holds the new title after the kill
  } songs[] = {{false, false, true}, {true, true, false},  {false, false, true},
               {true, true, false},  {true, false, false}, {false, false, false}};
  QStringList paths;
  QList<QByteArray> before;
  QByteArray m3u;
  for (const auto& song : songs) {
    paths << dir + QString("/%1.mp3").arg(paths.size());
    before << (song.grows ? tight : roomy) + (song.shortAudio ? shortAudio : audio);
    ASSERT_TRUE(lbtest::WriteFile(paths.last(), before.last()));
    m3u += paths.last().toUtf8() + "\r\n";
  }
  const QString list = dir + "/list.m3u";
  lbtest::WriteFile(list, m3u);

  QProcess cli;
  const rlim_t limit = static_cast<rlim_t>(before[0].size() + 1000);
  cli.setChildProcessModifier([limit] {
    const rlimit none{0, 0}, size{limit, limit};
    ::setrlimit(RLIMIT_CORE, &none);
    ::setrlimit(RLIMIT_FSIZE, &size);
  });
  cli.start(lbtest::BinDir() + "/lbtools3-cli",
            {"tags", "edit", list, "--v2", "title=Новое название"});
  ASSERT_TRUE(cli.waitForFinished(60000));
  ASSERT_EQ(cli.exitStatus(), QProcess::CrashExit) << cli.readAllStandardError().toStdString();
  for (int n = 0; n < paths.size(); ++n) {
    SCOPED_TRACE(n);
    const QByteArray now = lbtest::ReadFile(paths[n]);
    EXPECT_TRUE(now.endsWith(songs[n].shortAudio ? shortAudio : audio));
    if (songs[n].written) {
      EXPECT_EQ(now.size(), before[n].size());
      EXPECT_TRUE(Frame(tagstest::MutagenFrames(paths[n]), "TIT2").contains("'Новое название'"));
    } else {
      EXPECT_TRUE(now == before[n]);
    }
  }
  QStringList left = QDir(dir).entryList(QDir::Files | QDir::Hidden);
  for (const QString& name : QDir(dir).entryList(QDir::Files)) left.removeOne(name);
  EXPECT_EQ(left.size(), 3);  // the copies of the three growing tags
  for (const QString& name : left) EXPECT_TRUE(lb::IsPartialFileName(name)) << name.toStdString();
}

}  // namespace
