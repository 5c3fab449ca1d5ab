// The column kinds: the table and the text and image every kind shows for a song.
#include "lbtools3/ui/SongColumns.h"
#include "lbtools3/model/M3uList.h"

#include "TestEnv.h"

#include <gtest/gtest.h>

namespace {

TEST(ColumnKindsTest, TableHoldsTheTwentyFiveKinds) {
  EXPECT_EQ(lb::kColumnKindCount, 25);
  EXPECT_EQ(lb::ColumnCaption(0), "N");
  EXPECT_EQ(lb::ColumnCaption(2), "Путь");
  EXPECT_EQ(lb::ColumnCaption(17), "Композитор(Тэг2)");  // no blank before "("
  EXPECT_EQ(lb::ColumnCaption(18), "Orig. Исполнитель (Тэг2)");
  EXPECT_EQ(lb::ColumnCaption(24), "Синхр. (Тэг2)");
  EXPECT_EQ(lb::ColumnDefaultWidth(2), 400);
  EXPECT_EQ(lb::ColumnTextWidth(2), 100);
  EXPECT_EQ(lb::ColumnDefaultWidth(23), 16);
  EXPECT_EQ(lb::ColumnTextWidth(20), 50);
  EXPECT_FALSE(lb::IsColumnKind(25));
  EXPECT_FALSE(lb::IsColumnOffered(9));
  EXPECT_TRUE(lb::IsColumnOffered(22));
  for (const auto& [kind, width] : lb::DefaultColumnLayout()) {
    EXPECT_TRUE(lb::IsColumnOffered(kind));
    EXPECT_EQ(width, lb::ColumnDefaultWidth(kind));
  }
}

class ColumnTextTest : public ::testing::Test {
 protected:
  TSlSong song{nullptr, "/music/Song name.mp3", QString()};
};

TEST_F(ColumnTextTest, EmptyAndMissingFieldsShowNothing) {
  // A cleared ID3v1 record has genre 255; kind 9 never shows anything.
  song.m_Tag1.SetTitle("T", false);
  ASSERT_EQ(song.m_Tag1.Genre, 255);
  EXPECT_EQ(lb::ColumnText(song, 8, 0), "");
  EXPECT_EQ(lb::ColumnText(song, 9, 0), "");
  EXPECT_EQ(lb::ColumnText(song, 15, 0), "");
  EXPECT_EQ(lb::ColumnText(song, 22, 0), "");  // no ID3v2 record: no track
  EXPECT_EQ(lb::ColumnText(song, 23, 0), "");
  EXPECT_EQ(lb::ColumnText(song, 24, 0), "");
}

TEST_F(ColumnTextTest, GenreNeedsAnExistingRecordAndAKnownNumber) {
  song.m_Tag1.Genre = 0;
  EXPECT_EQ(lb::ColumnText(song, 8, 0), "");  // the record does not exist
  song.m_Tag1.m_bExists = true;
  EXPECT_EQ(lb::ColumnText(song, 8, 0), "Blues");
  song.m_Tag1.Genre = 147;
  EXPECT_EQ(lb::ColumnText(song, 8, 0), "Synthpop");
  song.m_Tag1.Genre = 148;
  EXPECT_EQ(lb::ColumnText(song, 8, 0), "");
  song.m_Tag2.SetGenre(-1);
  EXPECT_EQ(lb::ColumnText(song, 15, 0), "");
}

TEST_F(ColumnTextTest, CommentLinesAreJoinedByOneBlank) {
  song.m_Tag2.SetComment("a\r\n\r\nb");
  EXPECT_EQ(lb::ColumnText(song, 16, 0), "a b");
  song.m_Tag2.SetComment("a\n\nb\rc\r\n");
  EXPECT_EQ(lb::ColumnText(song, 16, 0), "a b c");
  song.m_Tag2.SetComment("one line");
  EXPECT_EQ(lb::ColumnText(song, 16, 0), "one line");
  EXPECT_EQ(lb::OneLineComment("\r\n"), "");
}

TEST_F(ColumnTextTest, FieldsOfBothRecords) {
  EXPECT_EQ(lb::ColumnText(song, 0, 41), "42");
  EXPECT_EQ(lb::ColumnText(song, 1, 0), "Song name");
  EXPECT_EQ(lb::ColumnText(song, 2, 0), "/music/Song name.mp3");
  song.m_Tag1.SetTitle("Заголовок", false);
  song.m_Tag1.SetArtist("Артист", false);
  song.m_Tag1.SetYear("1999");
  EXPECT_EQ(lb::ColumnText(song, 1, 0), "Артист - Заголовок");
  EXPECT_EQ(lb::ColumnText(song, 3, 0), "Заголовок");
  EXPECT_EQ(lb::ColumnText(song, 6, 0), "1999");
  song.m_Tag2.SetTitle("T2");
  song.m_Tag2.SetComposer("C");
  song.m_Tag2.SetURL("http://x");
  song.m_Tag2.SetTrack(7);
  EXPECT_EQ(lb::ColumnText(song, 10, 0), "Unknown Artist - T2");
  EXPECT_EQ(lb::ColumnText(song, 17, 0), "C");
  EXPECT_EQ(lb::ColumnText(song, 20, 0), "http://x");
  EXPECT_EQ(lb::ColumnText(song, 22, 0), "7");
}

TEST_F(ColumnTextTest, ImagesOnlyForNumberAndSyncKinds) {
  EXPECT_EQ(lb::ColumnImage(song, 0, true), lb::ciPlaying);
  EXPECT_EQ(lb::ColumnImage(song, 0, false), lb::ciNone);
  EXPECT_EQ(lb::ColumnImage(song, 23, false), 32);
  EXPECT_EQ(lb::ColumnImage(song, 24, false), 33);
  song.m_Tag2.bTagSync = false;
  EXPECT_EQ(lb::ColumnImage(song, 24, false), lb::ciNone);
  EXPECT_EQ(lb::ColumnImage(song, 1, true), lb::ciNone);
}

}  // namespace
