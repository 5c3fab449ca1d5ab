// Synchronising songs with their files: the file-age rules, discs, failed writes and
// turning synchronisation on and off.
#include "ModelTestUtil.h"

#include "lbtools3/model/M3uList.h"
#include "platform/FileSystem.h"
#include "platform/ScriptedUiServices.h"

#include <QDir>
#include <QFile>
#include <fcntl.h>
#include <sys/stat.h>
#include <gtest/gtest.h>

#include "id3com/Mp3Files.h"

namespace {

class SyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(modeltest::AttachID3Com());
    doc.SetFileName(dir + "/list.m3u");
  }
  // Adds a song for the file and returns it.
  TSlSong& Add(const QString& path) {
    int n = doc.InsertSong(TSlSong(nullptr, path, QString()), -1);
    doc.m_bModified = false;
    return doc.m_Songs[n];
  }
  // Writes an ID3v1 title into the file as another program would.
  void WriteTitleOutside(const QString& path, const QString& title) {
    TSlSong other(nullptr, path, QString());
    other.m_Tag1.ReadFromFile();
    other.m_Tag1.SetTitle(title, false);
    ASSERT_TRUE(other.m_Tag1.WriteToFile(false));
  }

  ScriptedUiServices ui;
  QString dir = lbtest::NewTempDir();
  TSlDocument doc;
};

TEST_F(SyncTest, FirstSyncReadsTheFileAndRecordsItsAge) {
  QString mp3 = modeltest::MakeMp3(dir + "/a.mp3");
  WriteTitleOutside(mp3, "Первая");
  TSlSong& song = Add(mp3);
  EXPECT_EQ(song.m_FileAge, kAgeNeverSynced);
  EXPECT_TRUE(song.Sync());
  EXPECT_EQ(song.m_FileAge, lb::FileAge(mp3));
  EXPECT_FALSE(song.m_bNewFileAge);
  EXPECT_TRUE(song.m_Tag1.m_bExists);
  EXPECT_EQ(song.m_Tag1.m_DisplayName, "Unknown Artist - Первая");
  EXPECT_FALSE(song.m_Tag2.m_bExists);
  EXPECT_TRUE(doc.m_bModified);

  // Unchanged file: nothing happens; a changed file is read again.
  doc.m_bModified = false;
  song.Sync();
  EXPECT_FALSE(doc.m_bModified);
  WriteTitleOutside(mp3, "Вторая");
  modeltest::TouchLater(mp3, 5);
  song.Sync();
  EXPECT_EQ(song.m_Tag1.GetTitle(), "Вторая");
  EXPECT_EQ(song.m_FileAge, lb::FileAge(mp3));
}

TEST_F(SyncTest, MissingFileRecordsMinusOne) {
  TSlSong& song = Add(dir + "/gone.mp3");
  song.Sync();
  EXPECT_EQ(song.m_FileAge, kAgeMissing);
  EXPECT_FALSE(song.m_Tag1.m_bExists);
  // It comes back: the next pass reads it.
  QString mp3 = modeltest::MakeMp3(dir + "/gone.mp3");
  WriteTitleOutside(mp3, "Back");
  song.Sync();
  EXPECT_EQ(song.m_Tag1.GetTitle(), "Back");
  EXPECT_EQ(song.m_FileAge, lb::FileAge(mp3));
}

TEST_F(SyncTest, ACachedTagGoesOnlyIntoAFileUnchangedSinceTheLastSync) {
  QString mp3 = modeltest::MakeMp3(dir + "/a.mp3");
  TSlSong& song = Add(mp3);
  song.Sync();
  // The record has a tag the file lacks: the pass the user asks for (turning the
  // synchronisation on) writes it, though the file changed since.
  song.m_Tag1.SetTitle("Из кэша", false);
  modeltest::TouchLater(mp3, 3);
  ASSERT_TRUE(song.m_Tag1.SyncWithFile(true));
  TSlSong check(nullptr, mp3, QString());
  ASSERT_TRUE(check.m_Tag1.ReadFromFile());
  EXPECT_EQ(check.m_Tag1.GetTitle(), "Из кэша");
  song.Sync();
  // Another program removes the tag (or is still copying the file): the file is left
  // as it is and its state wins.
  const QByteArray stripped = modeltest::Mp3Frames();
  lbtest::WriteFile(mp3, stripped);
  ::chmod(QFile::encodeName(mp3).constData(), 0444);
  modeltest::TouchLater(mp3, 5);
  song.Sync();
  EXPECT_EQ(lbtest::ReadFile(mp3), stripped);
  struct stat st;
  ASSERT_EQ(::stat(QFile::encodeName(mp3).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  EXPECT_FALSE(song.m_Tag1.m_bExists);
  EXPECT_EQ(song.m_FileAge, lb::FileAge(mp3));
}

TEST_F(SyncTest, OtherExtensionsStopFollowingTheirFiles) {
  QString wav = dir + "/a.mp2";
  lbtest::WriteFile(wav, QByteArray(1000, 'w'));
  TSlSong& song = Add(wav);
  song.Sync();
  EXPECT_FALSE(song.m_Tag1.bTagSync);
  EXPECT_FALSE(song.m_Tag2.bTagSync);
  EXPECT_FALSE(song.m_Tag1.SetSync(true));
  EXPECT_FALSE(song.m_Tag1.bTagSync);
  EXPECT_TRUE(song.m_Tag1.SetSync(false));  // same value: nothing to do

  QString mp3 = modeltest::MakeMp3(dir + "/b.mp3");
  TSlSong& other = Add(mp3);
  doc.m_bModified = false;
  EXPECT_TRUE(other.m_Tag1.SetSync(false));
  EXPECT_TRUE(doc.m_bModified);
  EXPECT_TRUE(other.m_Tag1.SetSync(true));
  EXPECT_TRUE(other.m_Tag1.bTagSync);
}

TEST_F(SyncTest, DiscFilesAreReadOnceAndNeverWritten) {
  QString mp3 = modeltest::MakeMp3(dir + "/disc.mp3");
  WriteTitleOutside(mp3, "С диска");
  const QString root = dir;
  lb::SetFileSystemTypeProbe([root](const QString& path) {
    return path.startsWith(root) ? QByteArray("iso9660") : QByteArray("ext4");
  });
  TSlSong& song = Add(mp3);
  song.Sync();
  lb::SetFileSystemTypeProbe(nullptr);
  EXPECT_EQ(song.m_Tag1.GetTitle(), "С диска");
  EXPECT_FALSE(song.m_Tag1.bTagSync);
  EXPECT_FALSE(song.m_Tag2.bTagSync);
  const QByteArray before = lbtest::ReadFile(mp3);
  song.m_Tag1.SetTitle("Нельзя", false);
  EXPECT_TRUE(song.m_Tag1.SaveTag(true));
  EXPECT_EQ(lbtest::ReadFile(mp3), before);
}

TEST_F(SyncTest, FailedWriteMakesTheNextSyncReadTheFileAgain) {
  QString mp3 = modeltest::MakeMp3(dir + "/a.mp3");
  WriteTitleOutside(mp3, "В файле");
  TSlSong& song = Add(mp3);
  song.Sync();
  const QByteArray bytes = lbtest::ReadFile(mp3);
  struct stat original;
  ASSERT_EQ(::stat(QFile::encodeName(mp3).constData(), &original), 0);
  // Puts the file back exactly as it was, modification time included, so that only
  // the pending "once more" can make the next pass read it.
  auto restore = [&] {
    lbtest::WriteFile(mp3, bytes);
    struct timespec times[2] = {original.st_atim, original.st_mtim};
    ::utimensat(AT_FDCWD, QFile::encodeName(mp3).constData(), times, 0);
  };
  // The file turns into a folder for the write: the write fails.
  QFile::remove(mp3);
  QDir().mkpath(mp3);
  song.m_Tag1.SetTitle("Не записано", false);
  EXPECT_FALSE(song.m_Tag1.SaveTag(true));
  EXPECT_TRUE(song.m_bNewFileAge);
  EXPECT_EQ(song.m_NewFileAge, kAgeSyncAgain);
  // The value stays through later successful work on the other record.
  QDir().rmdir(mp3);
  restore();
  song.m_Tag2.SetTitle("v2");
  EXPECT_TRUE(song.m_Tag2.SaveTag(true));
  EXPECT_EQ(song.m_NewFileAge, kAgeSyncAgain);
  restore();
  ASSERT_EQ(lb::FileAge(mp3), song.m_FileAge);
  song.Sync();
  EXPECT_EQ(song.m_Tag1.GetTitle(), "В файле");
  // The file was put back by another program after the ID3v2 write: its state wins.
  EXPECT_FALSE(song.m_Tag2.m_bExists);
  EXPECT_EQ(song.m_FileAge, lb::FileAge(mp3));
  EXPECT_FALSE(song.m_bNewFileAge);
}

TEST_F(SyncTest, RemoveTagWithoutSyncOnlyClearsTheRecord) {
  QString mp3 = modeltest::MakeMp3(dir + "/a.mp3");
  WriteTitleOutside(mp3, "Stays");
  TSlSong& song = Add(mp3);
  song.Sync();
  song.m_Tag1.SetSync(false);
  EXPECT_TRUE(song.m_Tag1.RemoveTag(true));
  EXPECT_FALSE(song.m_Tag1.m_bExists);
  EXPECT_EQ(song.m_Tag1.m_DisplayName, "a");
  TSlSong check(nullptr, mp3, QString());
  check.m_Tag1.ReadFromFile();
  EXPECT_EQ(check.m_Tag1.GetTitle(), "Stays");
}

TEST_F(SyncTest, UpperCaseExtensionsAreMp3Files) {
  for (const QString name : {"LOUD.MP3", "Mixed.Mp3"}) {
    const QString path = dir + "/" + name;
    lbtest::WriteFile(
        path, lbtest::Id3v2(3, {{"TIT2", lbtest::TextBody("Title")}}) + modeltest::Mp3Frames());
    TSlSong& song = Add(path);
    song.Sync();
    EXPECT_TRUE(song.m_Tag2.bTagSync) << name.toStdString();
    EXPECT_EQ(song.m_Tag2.Title, "Title");
    EXPECT_EQ(song.m_FileAge, lb::FileAge(path));
    EXPECT_TRUE(song.m_Tag2.SetSync(false));
    EXPECT_TRUE(song.m_Tag2.SetSync(true));
  }
}

// A v2.4 tag whose rating frame has a broken size: the frames around it are read; a
// write is refused and leaves the file and the edited record alone.
TEST_F(SyncTest, DamagedId3v2TagIsReadButNeverRewritten) {
  QByteArray tag = lbtest::Id3v2(4, {{"TIT2", lbtest::TextBody("Title")},
                                     {"POPM", QByteArray("user\0\xC4\0\0\0\x03", 10)},
                                     {"TALB", lbtest::TextBody("Album")}});
  const qsizetype popm = tag.indexOf("POPM");
  tag.replace(popm + 4, 4, QByteArray("\0\0\x02\x11", 4));
  const QString mp3 = dir + "/damaged.mp3";
  lbtest::WriteFile(mp3, tag + modeltest::Mp3Frames());
  const QByteArray before = lbtest::ReadFile(mp3);

  TSlSong& song = Add(mp3);
  song.Sync();
  EXPECT_TRUE(song.m_Tag2.m_bExists);
  EXPECT_EQ(song.m_Tag2.Title, "Title");
  EXPECT_EQ(song.m_Tag2.Album, "Album");

  song.m_Tag2.SetTitle("New");
  EXPECT_FALSE(song.m_Tag2.SaveTag(true));
  EXPECT_EQ(song.m_Tag2.LastError(), TSlTagError::Damaged);
  EXPECT_TRUE(song.m_Tag2.LastErrorText().contains("повреждён"));
  song.Sync();
  EXPECT_EQ(song.m_Tag2.Title, "New");
  EXPECT_TRUE(lbtest::ReadFile(mp3) == before);
  // Removing the whole tag is still possible.
  EXPECT_TRUE(song.m_Tag2.RemoveTag(true));
  EXPECT_TRUE(lbtest::ReadFile(mp3) == modeltest::Mp3Frames());
}

}  // namespace
