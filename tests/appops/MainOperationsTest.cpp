// The main window's own operations without windows: the files-information summary,
// deleting to the trash and replacing paths in a document.
#include "TestEnv.h"

#include "lbtools3/files/SongFiles.h"
#include "lbtools3/model/M3uList.h"
#include "lbtools3/model/SlInsertFilesManager.h"
#include "lbtools3/ui/SongColumns.h"
#include "platform/ScriptedUiServices.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

TEST(FilesInfo, CountsEachFileOnceAndFormatsTheTotal) {
  const QString dir = lbtest::NewTempDir();
  lbtest::WriteFile(dir + "/a.mp3", QByteArray(1234000, 'a'));
  lbtest::WriteFile(dir + "/b.mp3", QByteArray(567, 'b'));
  QFile::link(dir + "/a.mp3", dir + "/link.mp3");
  const uint64_t total = lb::TotalFileSize(
      {dir + "/a.mp3", dir + "/b.mp3", dir + "/link.mp3", dir + "/./a.mp3", dir + "/none.mp3"});
  EXPECT_EQ(total, 1234567u);
  EXPECT_EQ(lb::FilesInfoText(total), "Общий размер файлов:\n1,234,567 байт(а)\n1 Мб.");
  EXPECT_EQ(lb::GroupDigits(0), "0");
  EXPECT_EQ(lb::GroupDigits(999), "999");
  EXPECT_EQ(lb::GroupDigits(1000), "1,000");
  EXPECT_EQ(lb::GroupDigits(5368709120ULL), "5,368,709,120");
}

TEST(DeleteToRecycleBin, MissingFileCountsAsDeleted) {
  const QString dir = lbtest::NewTempDir();
  EXPECT_TRUE(lb::DeleteToRecycleBin(dir + "/none.m3u"));
  lbtest::WriteFile(dir + "/x.m3u", "x");
  EXPECT_TRUE(lb::DeleteToRecycleBin(dir + "/x.m3u"));
  EXPECT_FALSE(QFile::exists(dir + "/x.m3u"));
}

TEST(ReplacePaths, RenamesAndRemovesEntries) {
  ScriptedUiServices ui;
  TSlDocument doc;
  doc.SetFileName("/l/list.m3u");
  for (const char* p : {"/m/a.mp3", "/m/b.mp3", "/m/c.mp3", "/m/b.mp3", "/m/d.mp3"})
    doc.InsertSong(TSlSong(nullptr, p, QString()), -1);
  doc.m_Songs[2].m_Tag1.SetTitle("keep", false);
  doc.m_bModified = false;
  int told = 0;
  EXPECT_TRUE(
      lb::ReplacePathsInDocument(doc, {"/m/b.mp3", "", "/m/c.mp3", "/n/c2.mp3"}, [&] { ++told; }));
  ASSERT_EQ(doc.m_Songs.size(), 3);
  EXPECT_EQ(doc.m_Songs[0].m_Path, "/m/a.mp3");
  EXPECT_EQ(doc.m_Songs[1].m_Path, "/n/c2.mp3");
  EXPECT_EQ(doc.m_Songs[1].m_Tag1.GetTitle(), "keep");
  EXPECT_EQ(doc.m_Songs[2].m_Path, "/m/d.mp3");
  EXPECT_EQ(told, 1);
  EXPECT_TRUE(doc.m_bModified);
  EXPECT_TRUE(ui.Messages().isEmpty());

  // A stop ends the replacement with its message.
  ui.StopAfterProcessMessages(1);
  EXPECT_FALSE(lb::ReplacePathsInDocument(doc, {"/m/zzz.mp3", ""}));
  ASSERT_FALSE(ui.Texts().empty());
  EXPECT_EQ(ui.Texts().last(),
            "Прервано пользователем. Пути в некоторых листах могут\nне соответствовать "
            "действительности.");
}

TEST(AddSongs, FilterFromTheWorkingExtensions) {
  TSlInsertFilesManager manager(QString("mp3, wav"));
  EXPECT_EQ(lb::AddSongsFilter(manager),
            "Музыкальные файлы (*.mp3 *.wav)|*.mp3;*.wav|mp3-песни (*.mp3)|*.mp3|wav-песни "
            "(*.wav)|*.wav");
}

// The kind of the main tag is told by the extension (no file needs to exist): named in
// the files information and on the second record's cells, silent for MP3 lists.
TEST(FilesInfo, NamesTheKindsOfTheMainTags) {
  EXPECT_EQ(lb::TagKindsText({"/m/a.mp3", "/m/b.MP3"}), "");
  EXPECT_EQ(lb::TagKindsText({"/m/a.flac", "/m/b.opus", "/m/c.txt"}), "Тэг: Vorbis comment");
  EXPECT_EQ(lb::FilesInfoText(
                QStringList{"/m/a.mp3", "/m/b.m4a", "/m/c.wma", "/m/d.Ogg", "/m/e.wv", "/m/f.mp3"}),
            "Общий размер файлов:\n0 байт(а)\n0 Мб.\n"
            "Тэги: ID3v2 (2), MP4 (1), ASF (1), Vorbis comment (1), APE (1)");
  const TSlSong flac(nullptr, "/m/a.flac", QString()), mp3(nullptr, "/m/a.mp3", QString());
  EXPECT_EQ(lb::ColumnToolTip(flac, 11), "Тэг: Vorbis comment");
  EXPECT_EQ(lb::ColumnToolTip(flac, lb::ckSync2), "Тэг: Vorbis comment");
  EXPECT_EQ(lb::ColumnToolTip(flac, 3), "");
  EXPECT_EQ(lb::ColumnToolTip(mp3, 11), "");

  // A file without ID3v1 is named by its main tag in the name column.
  TSlSong named(nullptr, "/m/b.opus", QString()), plain(nullptr, "/m/b.mp3", QString());
  for (TSlSong* song : {&named, &plain}) {
    song->m_Tag1.m_DisplayName = "b";
    song->m_Tag2.m_DisplayName = "Кино - Звезда";
  }
  EXPECT_EQ(lb::ColumnText(named, lb::ckName1, 0), "Кино - Звезда");
  EXPECT_EQ(lb::ColumnToolTip(named, lb::ckName1), "Тэг: Vorbis comment");
  EXPECT_EQ(lb::ColumnText(plain, lb::ckName1, 0), "b");
}

}  // namespace
