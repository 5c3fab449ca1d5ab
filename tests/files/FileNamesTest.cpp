// Names built from tags: the mask's variables, modifiers and refusals, the padding of
// the song number, the corrections, and the tag versions a mask needs.
#include "FilesTestUtil.h"

#include "lbtools3/files/FileNames.h"

#include <gtest/gtest.h>

using namespace lb;

namespace {

QString Name(const TSlSong& song, const QString& mask, int row = 0, int digits = 1,
             bool bCorrect = true) {
  QList<TMaskPiece> pieces;
  EXPECT_EQ(ParseRenameMask(mask, &pieces), TMaskError::None) << mask.toStdString();
  QString name;
  return BuildFileName(song, row, pieces, digits, bCorrect, &name) ? name : "<none>";
}

class FileNamesTest : public ::testing::Test {
 protected:
  TSlDocument doc;
};

TEST_F(FileNamesTest, MasksThatAreRefused) {
  QList<TMaskPiece> pieces;
  for (const char* mask : {"%18", "%123", "%x", "%0", "%&"})
    EXPECT_EQ(ParseRenameMask(mask, &pieces),
              QString(mask) == "%&" ? TMaskError::NoPieces : TMaskError::BadExpression)
        << mask;
  EXPECT_EQ(ParseRenameMask("%1/%2", &pieces), TMaskError::RefusedCharacters);
  EXPECT_EQ(ParseRenameMask("", &pieces), TMaskError::NoPieces);
  EXPECT_EQ(MaskErrorText(TMaskError::BadExpression),
            "В строке присутствуют недопустимые выражения");
  EXPECT_EQ(MaskErrorText(TMaskError::NoPieces),
            "В строке не найдено идентификаторов переименования");
  // A trailing "%" yields nothing; "%%" is one percent sign; the last modifier counts.
  QList<TMaskPiece> trailing, plain;
  ASSERT_EQ(ParseRenameMask("%1 - %", &trailing), TMaskError::None);
  ASSERT_EQ(ParseRenameMask("%1 - ", &plain), TMaskError::None);
  EXPECT_EQ(trailing, plain);
  ASSERT_EQ(ParseRenameMask("%&_1%%", &pieces), TMaskError::None);
  ASSERT_EQ(pieces.size(), 2);
  EXPECT_EQ(pieces[0].modifier, mcLower);
  EXPECT_EQ(pieces[1].text, "%");
}

TEST_F(FileNamesTest, DefaultMaskKeepsTheExtensionsCase) {
  const TSlSong& song = filestest::AddSong(doc, "/m/x.MP3", {"Waterloo      ", "Abba   ", ""});
  EXPECT_EQ(Name(song, kDefaultRenameMask), "Abba - Waterloo.MP3");
  EXPECT_EQ(Name(song, "%n-%17"), "x-1");
}

TEST_F(FileNamesTest, CaseModifiersOnLatinAndCyrillic) {
  const TSlSong& latin = filestest::AddSong(doc, "/m/a.mp3", {"love me", "", ""});
  EXPECT_EQ(Name(latin, "%&1"), "LOVE ME");
  EXPECT_EQ(Name(latin, "%^1"), "Love Me");
  EXPECT_EQ(Name(latin, "%$1"), "Love me");
  const TSlSong& cyr = filestest::AddSong(doc, "/m/b.mp3", {"ЁЛКА в лесу", "", ""});
  EXPECT_EQ(Name(cyr, "%&1"), "ЁЛКА В ЛЕСУ");
  EXPECT_EQ(Name(cyr, "%_1"), "ёлка в лесу");
  EXPECT_EQ(Name(cyr, "%^1"), "Ёлка В Лесу");
  EXPECT_EQ(Name(cyr, "%$1"), "Ёлка в лесу");
}

TEST_F(FileNamesTest, NumberPaddingAndCorrections) {
  const TSlSong& song = filestest::AddSong(doc, "/m/a.mp3", {"a", "AC:DC", ""});
  EXPECT_EQ(Name(song, "%17", 7, 3), "008");
  EXPECT_EQ(Name(song, "%17", 1234, 3), "1235");
  EXPECT_EQ(Name(song, "..%1.."), "_.a");
  EXPECT_EQ(Name(song, "%2"), "AC_DC");
  EXPECT_EQ(Name(song, "%2", 0, 1, false), "AC:DC");
  const TSlSong& every = filestest::AddSong(doc, "/m/b.mp3", {"a\\b:c*d?e\"f<g>h|i;Ж", "", ""});
  EXPECT_EQ(Name(every, "%1"), "a_b_c_d_e_f_g_h_i;Ж");
  EXPECT_EQ(CorrectName(".a...b..."), "_.a.b");
  // A line break from a tag never reaches a name, also with correction off.
  const TSlSong& broken = filestest::AddSong(doc, "/m/c.mp3", {"Line\nBreak\rX", "", ""});
  EXPECT_EQ(Name(broken, "%1", 0, 1, false), "Line_Break_X");
}

TEST_F(FileNamesTest, TagVersionsTheMaskNeeds) {
  TSlSong& song = filestest::AddSong(doc, "/m/a.mp3", {"t1", "", ""});
  EXPECT_EQ(Name(song, "%7"), "<none>");  // ID3v2 only, no ID3v2 record
  EXPECT_EQ(Name(song, "%1 %7"), "t1 ");  // either version will do
  EXPECT_EQ(Name(song, "x%n"), "xa");     // no tag field at all
  song.m_Tag1.m_bExists = false;
  EXPECT_EQ(Name(song, "%1 %7"), "<none>");
  // A value that leaves nothing of the name never names the folder itself.
  song.m_Tag2.m_bExists = true;
  EXPECT_EQ(Name(song, "%7"), "<none>");
  // A separator in a tag never moves the file into another folder.
  song.m_Tag2.Title = "a/b";
  EXPECT_EQ(Name(song, "%7", 0, 1, false), "a_b");
}

// A backslash separates folders only in a path stored on Windows; in a path of this
// system it is part of the name.
TEST(FileNameParts, BackslashSeparatesOnlyInWindowsPaths) {
  const std::pair<QString, QString> cases[] = {
      {"/m/AC\\DC - Back.mp3", "AC\\DC - Back.mp3"},
      {"/m/sub/a.mp3", "a.mp3"},
      {"D:\\Music\\a.mp3", "a.mp3"},
      {"sub\\a.mp3", "a.mp3"},
  };
  for (const auto& [path, name] : cases) {
    EXPECT_EQ(FileNamePart(path), name) << path.toStdString();
    EXPECT_EQ(FileFolderPart(path) + name, path) << path.toStdString();
  }
}

}  // namespace
