// A FLAC song in a list: its Vorbis comment's texts as the file holds them (several
// artists, "3/10" with TRACKTOTAL, a full date, a free-text genre), the synchronisation
// and the data file as for MP3, and writes that put back only what the user changed.
#include "ModelTestUtil.h"

#include "lbtools3/model/M3uList.h"
#include "lbtools3/model/SongFields.h"
#include "platform/FileSystem.h"
#include "platform/ScriptedUiServices.h"

#include <QFile>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

QByteArray Le32(uint32_t n) {
  QByteArray b(4, '\0');
  qToLittleEndian(n, b.data());
  return b;
}

// A FLAC file: STREAMINFO, a Vorbis comment with the entries, and bytes standing for
// the audio frames.
QByteArray Flac(const QStringList& entries) {
  QByteArray info = QByteArray::fromHex(
      "10001000000000000000"     // block sizes, frame sizes
      "0ac442f000000000");       // 44100 Hz, 2 ch, 16 bit
  info += QByteArray(16, '\0');  // MD5
  QByteArray comment = Le32(4) + "test" + Le32(uint32_t(entries.size()));
  for (const QString& e : entries) comment += Le32(uint32_t(e.toUtf8().size())) + e.toUtf8();
  const auto block = [](char type, const QByteArray& body) {
    const auto n = uint32_t(body.size());
    return QByteArray(1, type) + char(n >> 16) + char(n >> 8) + char(n) + body;
  };
  return "fLaC" + block(0, info) + block(char(0x84), comment) + QByteArray(200, '\x5A');
}

// Whether the file holds the Vorbis comment entry "KEY=value" as one entry.
bool HasEntry(const QString& path, const QString& entry) {
  const QByteArray e = entry.toUtf8();
  return lbtest::ReadFile(path).contains(Le32(uint32_t(e.size())) + e);
}

class FormatSongTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(modeltest::AttachID3Com());
    lbtest::WriteFile(flac, Flac(kEntries));
    doc.SetFileName(dir + "/list.m3u");
  }
  TSlSong& Add(TSlDocument& d, const QString& path) {
    return d.m_Songs[d.InsertSong(TSlSong(nullptr, path, QString()), -1)];
  }
  const QStringList kEntries = {"TITLE=Старое",           "ARTIST=Первый",
                                "ARTIST=Второй",          "TRACKNUMBER=3",
                                "TRACKTOTAL=10",          "DATE=2003-05-12",
                                "GENRE=Прогрессив-метал", "REPLAYGAIN_TRACK_GAIN=-6.50 dB"};
  ScriptedUiServices ui;
  QString dir = lbtest::NewTempDir();
  QString flac = dir + "/song.flac";
  TSlDocument doc;
};

TEST_F(FormatSongTest, TextsShowAsStoredAndOnlyTheChangeIsWritten) {
  TSlSong& song = Add(doc, flac);
  ASSERT_TRUE(song.Sync());
  const TSlTag2& t = song.m_Tag2;
  EXPECT_TRUE(t.m_bExists);
  EXPECT_FALSE(song.m_Tag1.bTagSync);  // no ID3v1 in a FLAC file, nor a way to follow one
  EXPECT_FALSE(song.m_Tag1.SetSync(true));
  EXPECT_TRUE(song.m_Tag2.bTagSync);
  // The columns: artist, year, genre, track.
  const QStringList shown = {lb::ColumnText(song, 12, 0), lb::ColumnText(song, 14, 0),
                             lb::ColumnText(song, 15, 0), lb::ColumnText(song, 22, 0)};
  EXPECT_EQ(shown, (QStringList{"Первый; Второй", "2003-05-12", "Прогрессив-метал", "3/10"}));

  // A title change leaves the two artists, the number and total, the date and genre.
  song.m_Tag2.SetTitle("Новое");
  ASSERT_TRUE(song.m_Tag2.SaveTag(false));
  QStringList kept = kEntries;
  kept.replace(0, "TITLE=Новое");
  for (const QString& e : kept) EXPECT_TRUE(HasEntry(flac, e)) << e.toStdString();

  // The joined text edited goes back as separate values; "5/12" into number and total.
  song.m_Tag2.SetArtist("Первый; Третий");
  song.m_Tag2.SetTrack(QString("5/12"));
  ASSERT_TRUE(song.m_Tag2.SaveTag(false));
  for (const char* e : {"ARTIST=Первый", "ARTIST=Третий", "TRACKNUMBER=5", "TRACKTOTAL=12"})
    EXPECT_TRUE(HasEntry(flac, e)) << e;
  EXPECT_FALSE(HasEntry(flac, "ARTIST=Второй"));
  TSlSong back(nullptr, flac, QString());
  ASSERT_TRUE(back.m_Tag2.ReadFromFile());
  EXPECT_EQ(back.m_Tag2.Artist, "Первый; Третий");
  EXPECT_EQ(back.m_Tag2.TrackText, "5/12");

  // A read-only file is refused as such and stays as it was.
  ASSERT_TRUE(QFile::setPermissions(flac, QFile::ReadOwner | QFile::ReadGroup));
  const QFile::Permissions mode = QFile::permissions(flac);
  const QByteArray written = lbtest::ReadFile(flac);
  song.m_Tag2.SetTitle("Нельзя");
  EXPECT_FALSE(song.m_Tag2.WriteToFile(false));
  EXPECT_EQ(song.m_Tag2.LastError(), TSlTagError::ReadOnly);
  EXPECT_EQ(lbtest::ReadFile(flac), written);
  EXPECT_EQ(QFile::permissions(flac), mode);
}

TEST_F(FormatSongTest, DataFileAndOutsideEditsAsForMp3) {
  Add(doc, flac).Sync();
  ASSERT_TRUE(doc.Save(true));
  // Another program adds a song to the list and retitles the FLAC file.
  QFile list(dir + "/list.m3u");
  ASSERT_TRUE(list.open(QIODevice::Append));
  list.write("other.flac\n");
  list.close();
  modeltest::TouchLater(dir + "/list.m3u", 5);

  TSlDocument loaded;
  loaded.SetFileName(dir + "/list.m3u");
  ASSERT_TRUE(loaded.Load(true));
  ASSERT_EQ(loaded.m_Songs.size(), 2u);
  TSlSong& song = loaded.m_Songs[0];
  EXPECT_EQ(song.m_Tag2.Artist, "Первый; Второй");  // from the data file
  EXPECT_TRUE(song.m_Tag2.bTagSync);
  EXPECT_EQ(song.m_FileAge, lb::FileAge(flac));
  // The data file holds the genre and track as numbers: a title written from its record
  // leaves the file's texts.
  song.m_Tag2.SetTitle("Из списка");
  ASSERT_TRUE(song.m_Tag2.SaveTag(false));
  for (const QString& e : kEntries.mid(1)) EXPECT_TRUE(HasEntry(flac, e)) << e.toStdString();

  QStringList retitled = kEntries;
  retitled.replace(0, "TITLE=Снаружи");
  lbtest::WriteFile(flac, Flac(retitled));
  modeltest::TouchLater(flac, 5);
  ASSERT_TRUE(song.Sync());
  EXPECT_EQ(song.m_Tag2.Title, "Снаружи");
  EXPECT_EQ(song.m_FileAge, lb::FileAge(flac));
  EXPECT_TRUE(HasEntry(flac, "ARTIST=Второй"));  // the file's tag won; nothing written back
}

}  // namespace
