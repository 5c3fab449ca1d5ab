// The tag records against real files: ID3v1 byte for byte in the legacy code page,
// the setters' refusals, and ID3v2 through the tag component.
#include "ModelTestUtil.h"

#include "lbtools3/model/M3uList.h"
#include "lbtools3/model/SlStream.h"
#include "platform/ScriptedUiServices.h"

#include <QDir>
#include <QFile>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include "id3com/Mp3Files.h"

using lbtest::ReadFile;

namespace {

class TagTest : public ::testing::Test {
 protected:
  ScriptedUiServices ui;
  QString dir = lbtest::NewTempDir();
  QString mp3 = modeltest::MakeMp3(dir + "/song.mp3");
  TSlSong song{nullptr, mp3, QString()};
  QByteArray audio = modeltest::Mp3Frames();
};

TEST_F(TagTest, Tag1SettersRefuseAndTruncate) {
  TSlTag1& t = song.m_Tag1;
  const QString thirty(30, QChar(0x0416));  // Ж
  EXPECT_TRUE(t.SetTitle(thirty, false));
  EXPECT_FALSE(t.SetTitle(thirty + "x", false));
  EXPECT_EQ(t.GetTitle(), thirty);
  EXPECT_TRUE(t.SetTitle("x" + thirty, true));
  EXPECT_EQ(t.GetTitle(), "x" + thirty.left(29));
  EXPECT_TRUE(t.SetArtist(thirty + "   ", false));  // trailing blanks go first

  EXPECT_TRUE(t.SetYear("1999"));
  EXPECT_FALSE(t.SetYear("19999"));
  EXPECT_EQ(t.GetYear(), "1999");
  EXPECT_THROW(t.SetYear("19x9"), TSlConvertError);
  EXPECT_EQ(t.GetYear(), "1999");
  EXPECT_TRUE(t.SetYear(""));
  EXPECT_EQ(t.GetYear(), "");
}

TEST_F(TagTest, Tag2SettersAndTrack) {
  TSlTag2& t = song.m_Tag2;
  EXPECT_TRUE(t.SetAlbum("   Альбом "));
  EXPECT_EQ(t.Album, "Альбом ");
  EXPECT_TRUE(t.SetTrack(QString()));
  EXPECT_EQ(t.Track, 0);
  EXPECT_TRUE(t.SetTrack(QString("12")));
  EXPECT_EQ(t.Track, 12);
  EXPECT_THROW(t.SetTrack(QString("1a")), TSlConvertError);
  EXPECT_EQ(t.Track, 12);
}

TEST_F(TagTest, Tag1IsWrittenInTheLegacyCodePageAndAppendedOnce) {
  TSlTag1& t = song.m_Tag1;
  t.SetTitle("Привет", false);
  t.SetArtist("Artist", false);
  t.SetYear("2001");
  t.SetGenre(17);
  ASSERT_TRUE(t.WriteToFile(false));
  QByteArray file = ReadFile(mp3);
  ASSERT_EQ(file.size(), audio.size() + 128);
  EXPECT_EQ(file.left(audio.size()), audio);
  QByteArray tag = file.right(128);
  EXPECT_EQ(tag.left(3), "TAG");
  EXPECT_EQ(tag.mid(3, 6), QByteArray("\xCF\xF0\xE8\xE2\xE5\xF2"));  // Windows-1251
  EXPECT_EQ(tag.at(9), '\0');
  EXPECT_EQ(tag.mid(33, 6), "Artist");
  EXPECT_EQ(tag.mid(93, 4), "2001");
  EXPECT_EQ(uchar(tag.at(127)), 17);

  // A second write overwrites the tag in place.
  t.SetTitle("Второй", false);
  ASSERT_TRUE(t.WriteToFile(false));
  EXPECT_EQ(ReadFile(mp3).size(), audio.size() + 128);

  TSlSong back(nullptr, mp3, QString());
  ASSERT_TRUE(back.m_Tag1.FileHasTag());
  ASSERT_TRUE(back.m_Tag1.ReadFromFile());
  EXPECT_TRUE(back.m_Tag1.m_bExists);
  EXPECT_EQ(back.m_Tag1.GetTitle(), "Второй");
  EXPECT_EQ(back.m_Tag1.Genre, 17);
}

TEST_F(TagTest, Tag1ThirtyByteFieldsWithoutTerminator) {
  QByteArray tag("TAG");
  tag += QByteArray(30, 'T') + QByteArray(30, 'A') + QByteArray(30, 'L') + "1987" +
         QByteArray(30, 'C') + char(255);
  lbtest::WriteFile(mp3, audio + tag);
  ASSERT_TRUE(song.m_Tag1.ReadFromFile());
  EXPECT_EQ(song.m_Tag1.GetTitle(), QString(30, 'T'));
  EXPECT_EQ(song.m_Tag1.GetArtist(), QString(30, 'A'));
  EXPECT_EQ(song.m_Tag1.GetYear(), "1987");
  EXPECT_EQ(song.m_Tag1.GetComment(), QString(30, 'C'));
  EXPECT_EQ(song.m_Tag1.Genre, 255);
}

TEST_F(TagTest, Tag1RemovalCutsTheLast128Bytes) {
  song.m_Tag1.SetTitle("x", false);
  ASSERT_TRUE(song.m_Tag1.WriteToFile(false));
  ASSERT_TRUE(song.m_Tag1.RemoveFromFile(false));
  EXPECT_EQ(ReadFile(mp3), audio);
  EXPECT_FALSE(song.m_Tag1.m_bExists);
  // Removing again changes nothing; a record that does not exist removes the tag.
  ASSERT_TRUE(song.m_Tag1.RemoveFromFile(false));
  EXPECT_EQ(ReadFile(mp3), audio);
  song.m_Tag1.m_bExists = false;
  EXPECT_TRUE(song.m_Tag1.WriteToFile(false));
  EXPECT_EQ(ReadFile(mp3), audio);
}

TEST_F(TagTest, Tag1FileProblems) {
  // A file shorter than a tag has none; a missing or unopenable file fails.
  lbtest::WriteFile(mp3, "TAG");
  EXPECT_FALSE(song.m_Tag1.FileHasTag());
  EXPECT_TRUE(song.m_Tag1.ReadFromFile());
  EXPECT_FALSE(song.m_Tag1.m_bExists);
  TSlSong missing(nullptr, dir + "/none.mp3", QString());
  EXPECT_FALSE(missing.m_Tag1.ReadFromFile());
  missing.m_Tag1.SetTitle("x", false);
  EXPECT_FALSE(missing.m_Tag1.WriteToFile(true));
  EXPECT_FALSE(QFile::exists(dir + "/none.mp3"));
  // A folder with a music file's name cannot be written.
  QDir().mkpath(dir + "/folder.mp3");
  TSlSong folder(nullptr, dir + "/folder.mp3", QString());
  folder.m_Tag1.SetTitle("x", false);
  EXPECT_FALSE(folder.m_Tag1.WriteToFile(true));
}

// The owner's write bit is the read-only attribute, for root as for anyone.
TEST_F(TagTest, ReadOnlyFileIsMadeWritableOnlyWhenAsked) {
  QFile::setPermissions(mp3, QFile::ReadOwner);
  song.m_Tag1.SetTitle("x", false);
  EXPECT_FALSE(song.m_Tag1.WriteToFile(false));
  EXPECT_EQ(song.m_Tag1.LastError(), TSlTagError::ReadOnly);
  EXPECT_FALSE(song.m_Tag1.RemoveFromFile(false));
  EXPECT_EQ(ReadFile(mp3), audio);
  EXPECT_TRUE(song.m_Tag1.WriteToFile(true));
  EXPECT_EQ(song.m_Tag1.LastError(), TSlTagError::None);
}

TEST_F(TagTest, Tag1KeepsTheId3v11TrackWhileTheCommentLeavesRoom) {
  lbtest::WriteFile(mp3, audio + lbtest::Id3v1("Title", "Artist"));  // track 7
  TSlTag1& t = song.m_Tag1;
  ASSERT_TRUE(t.ReadFromFile());
  t.SetTitle("New", false);
  t.SetComment(QString(28, 'c'), false);
  ASSERT_TRUE(t.WriteToFile(false));
  EXPECT_EQ(ReadFile(mp3).at(audio.size() + 126), 7);
  t.SetComment(QString(30, 'c'), false);
  ASSERT_TRUE(t.WriteToFile(false));
  EXPECT_EQ(ReadFile(mp3).at(audio.size() + 126), 'c');
}

TEST_F(TagTest, Tag1AppendCutShortLeavesTheFileAsItWas) {
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = audio.size() + 60;  // a disk that fills after 60 bytes
  std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  song.m_Tag1.SetTitle("x", false);
  const bool written = song.m_Tag1.WriteToFile(false);
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_FALSE(written);
  EXPECT_EQ(song.m_Tag1.LastError(), TSlTagError::Failed);
  EXPECT_EQ(ReadFile(mp3), audio);
}

class Tag2Test : public TagTest {
 protected:
  void SetUp() override { ASSERT_TRUE(modeltest::AttachID3Com()); }
};

TEST_F(Tag2Test, WriteReadAndRemoveThroughTheComponent) {
  TSlTag2& t = song.m_Tag2;
  t.SetTitle("Заголовок");
  t.SetArtist("Исполнитель");
  t.SetAlbum("Album");
  t.SetYear("1999");
  t.SetGenre(17);
  t.SetComment("Комментарий");
  t.SetComposer("Composer");
  t.SetOrigArt("Orig");
  t.SetCopyright("(c)");
  t.SetURL("http://example.org/");
  t.SetEncodedBy("Enc");
  t.SetTrack(7);
  ASSERT_TRUE(t.WriteToFile(false));
  EXPECT_TRUE(t.FileHasTag());

  TSlSong back(nullptr, mp3, QString());
  ASSERT_TRUE(back.m_Tag2.ReadFromFile());
  const TSlTag2& b = back.m_Tag2;
  EXPECT_TRUE(b.m_bExists);
  EXPECT_EQ(b.Title, "Заголовок");
  EXPECT_EQ(b.Artist, "Исполнитель");
  EXPECT_EQ(b.Album, "Album");
  EXPECT_EQ(b.Year, "1999");
  EXPECT_EQ(b.Genre, 17);
  EXPECT_EQ(b.Comment, "Комментарий");
  EXPECT_EQ(b.Composer, "Composer");
  EXPECT_EQ(b.OrigArt, "Orig");
  EXPECT_EQ(b.Copyright, "(c)");
  EXPECT_EQ(b.URL, "http://example.org/");
  EXPECT_EQ(b.EncodedBy, "Enc");
  EXPECT_EQ(b.Track, 7);

  // Empty fields lose their frames.
  t.SetComposer("");
  t.SetAlbum("");
  ASSERT_TRUE(t.WriteToFile(false));
  ASSERT_TRUE(back.m_Tag2.ReadFromFile());
  EXPECT_EQ(back.m_Tag2.Composer, "");
  EXPECT_EQ(back.m_Tag2.Album, "");
  EXPECT_EQ(back.m_Tag2.Title, "Заголовок");

  // The ID3v1 tag written by the program itself survives ID3v2 writes.
  song.m_Tag1.SetTitle("v1", false);
  ASSERT_TRUE(song.m_Tag1.WriteToFile(false));
  ASSERT_TRUE(t.RemoveFromFile(false));
  EXPECT_FALSE(t.m_bExists);
  EXPECT_FALSE(back.m_Tag2.FileHasTag());
  EXPECT_TRUE(song.m_Tag1.FileHasTag());
  EXPECT_EQ(ReadFile(mp3).left(audio.size()), audio);
}

TEST_F(Tag2Test, OnlyKnownFormatsAreWrittenWhateverTheCase) {
  // An MPEG layer II file: an ID3 tag before it would break other players; and no
  // ID3v1 tag after the frames of a FLAC file.
  const QString mp2 = dir + "/song.mp2";
  const QString flac = dir + "/song.flac";
  const QByteArray audio = QByteArray("fLaC\0\0\0\x22", 8) + QByteArray(34, '\1');
  for (const QString& path : {mp2, flac}) lbtest::WriteFile(path, audio);
  TSlSong other(nullptr, mp2, QString()), lossless(nullptr, flac, QString());
  other.m_Tag1.SetTitle("x", false);
  other.m_Tag2.SetTitle("x");
  lossless.m_Tag1.SetTitle("x", false);
  for (TSlTag* t : {static_cast<TSlTag*>(&other.m_Tag1), static_cast<TSlTag*>(&other.m_Tag2),
                    static_cast<TSlTag*>(&lossless.m_Tag1)}) {
    const QString path = t->Parent->GetPath(true);
    EXPECT_FALSE(t->WriteToFile(true));
    EXPECT_FALSE(t->RemoveFromFile(true));
    EXPECT_EQ(t->LastError(), TSlTagError::NotMp3);
    EXPECT_TRUE(t->LastErrorText().contains(path));
    EXPECT_EQ(ReadFile(path), audio);
  }

  TSlSong loud(nullptr, modeltest::MakeMp3(dir + "/loud.Mp3"), QString());
  loud.m_Tag2.SetTitle("Громко");
  EXPECT_TRUE(loud.m_Tag2.WriteToFile(false));
}

TEST_F(Tag2Test, MissingAndGarbageFiles) {
  TSlSong missing(nullptr, dir + "/none.mp3", QString());
  missing.m_Tag2.SetTitle("x");
  EXPECT_FALSE(missing.m_Tag2.WriteToFile(true));
  EXPECT_FALSE(QFile::exists(dir + "/none.mp3"));
  EXPECT_FALSE(missing.m_Tag2.FileHasTag());

  QByteArray junk(5000, '\xFF');
  lbtest::WriteFile(mp3, junk);
  song.m_Tag2.ReadFromFile();
  EXPECT_FALSE(song.m_Tag2.FileHasTag());
}

// Two writers read the tag, then write one after the other: each changes only the field
// it was asked to, so the first one's edit stays in the file (the second record still
// holds the old value of that field).
TEST_F(Tag2Test, AWriteKeepsTheFieldsAnotherWriterChangedSinceTheRead) {
  song.m_Tag2.SetTitle("Старое");
  song.m_Tag2.SetAlbum("Альбом");
  ASSERT_TRUE(song.m_Tag2.WriteToFile(false));
  TSlSong first(nullptr, mp3, QString()), second(nullptr, mp3, QString());
  ASSERT_TRUE(first.m_Tag2.ReadFromFile() && second.m_Tag2.ReadFromFile());
  first.m_Tag2.SetAlbum("Новый альбом");
  ASSERT_TRUE(first.m_Tag2.WriteToFile(false));
  second.m_Tag2.SetTitle("Новое");
  ASSERT_TRUE(second.m_Tag2.WriteToFile(false));
  TSlSong back(nullptr, mp3, QString());
  ASSERT_TRUE(back.m_Tag2.ReadFromFile());
  EXPECT_EQ(back.m_Tag2.Title, "Новое");
  EXPECT_EQ(back.m_Tag2.Album, "Новый альбом");
}

// A list's record filled by the synchronisation or from the data file, not by an
// explicit read, writes only the field changed in it: what another program changed in
// the other fields since stays.
TEST_F(Tag2Test, AListRecordWritesOnlyItsChangedFields) {
  song.m_Tag2.SetTitle("Старое");
  song.m_Tag2.SetAlbum("Альбом");
  ASSERT_TRUE(song.m_Tag2.WriteToFile(false));
  for (const bool bDataFile : {false, true}) {
    SCOPED_TRACE(bDataFile ? "data file" : "synchronisation");
    const QString n = QString::number(bDataFile);
    TSlSong listed(nullptr, mp3, QString()), loaded(nullptr, mp3, QString());
    ASSERT_TRUE(listed.Sync());
    TSlSong* record = &listed;
    if (bDataFile) {
      TSlStreamWriter out;
      listed.m_Tag2.SaveBody(out);
      TSlStreamReader in(out.Bytes());
      ASSERT_TRUE(loaded.m_Tag2.LoadBody(in));
      record = &loaded;
    }
    TSlSong other(nullptr, mp3, QString());
    ASSERT_TRUE(other.m_Tag2.ReadFromFile());
    other.m_Tag2.SetAlbum("Альбом " + n);
    ASSERT_TRUE(other.m_Tag2.WriteToFile(false));
    record->m_Tag2.SetTitle("Название " + n);
    ASSERT_TRUE(record->m_Tag2.WriteToFile(false));
    EXPECT_EQ(record->m_Tag2.Album, "Альбом " + n);  // the record shows what the file holds
    TSlSong back(nullptr, mp3, QString());
    ASSERT_TRUE(back.m_Tag2.ReadFromFile());
    EXPECT_EQ(back.m_Tag2.Title, "Название " + n);
    EXPECT_EQ(back.m_Tag2.Album, "Альбом " + n);
  }
}

}  // namespace
