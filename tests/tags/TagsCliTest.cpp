// "lbtools3-cli tags edit" on a list of songs with Cyrillic tags, read back by mutagen.
#include "TagsTestUtil.h"
#include "CliRun.h"

#include "platform/CodePage.h"

#include <QFile>
#include <gtest/gtest.h>

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
  EXPECT_TRUE(lbtest::ReadFile(song) == before);

  // Without --v1/--v2 a field only ID3v2 has creates no ID3v1 tag; "N/M" is a track.
  const CliRun track = RunCli({"tags", "edit", list, "track=3/12"});
  ASSERT_EQ(track.code, 0) << track.err.toStdString();
  EXPECT_TRUE(Frame(tagstest::MutagenFrames(song), "TRCK").contains("'3/12'"));
  EXPECT_FALSE(tagstest::Tail128(song).startsWith("TAG"));
}

}  // namespace
