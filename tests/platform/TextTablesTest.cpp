#include "platform/CodePage.h"
#include "platform/Genres.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

QByteArray AllBytes() {
  QByteArray bytes(256, '\0');
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<char>(i);
  return bytes;
}

TEST(CodePage, TagCodePageIsWindows1251) {
  EXPECT_EQ(lb::ToTagCodePage("Привет"), QByteArray("\xCF\xF0\xE8\xE2\xE5\xF2"));
  EXPECT_EQ(lb::FromTagCodePage("\xCF\xF0\xE8\xE2\xE5\xF2"), "Привет");
  EXPECT_EQ(lb::ToTagCodePage("Ёё№ A1"), QByteArray("\xA8\xB8\xB9 A1"));
}

TEST(CodePage, OemCodePageIsIbm866) {
  EXPECT_EQ(lb::ToOemCodePage("Привет"), QByteArray("\x8F\xE0\xA8\xA2\xA5\xE2"));
  EXPECT_EQ(lb::FromOemCodePage("\x8F\xE0\xA8\xA2\xA5\xE2"), "Привет");
  EXPECT_EQ(lb::FromOemCodePage("\xF0\xF1"), "Ёё");
}

TEST(CodePage, UnmappableCharactersTakeOneQuestionMarkEach) {
  EXPECT_EQ(lb::ToTagCodePage("aé日b"), QByteArray("a??b"));
  // A character outside the basic plane is two UTF-16 units but one character.
  EXPECT_EQ(lb::ToTagCodePage(QString::fromUtf8("x\xF0\x9F\x98\x80y")), QByteArray("x?y"));
  EXPECT_EQ(lb::TagCodePageLength(QString::fromUtf8("Тест\xF0\x9F\x98\x80")), 5);
  EXPECT_EQ(lb::ToOemCodePage("€"), QByteArray("?"));
}

TEST(CodePage, EveryByteSurvivesARoundTrip) {
  // Bytes the code page leaves undefined (0x98 in Windows-1251) included: a tag read
  // and written back must not change.
  const QByteArray all = AllBytes();
  EXPECT_EQ(lb::ToTagCodePage(lb::FromTagCodePage(all)), all);
  EXPECT_EQ(lb::ToOemCodePage(lb::FromOemCodePage(all)), all);
  EXPECT_EQ(lb::FromTagCodePage(all).size(), 256);
  EXPECT_EQ(lb::FromTagCodePage(QByteArray("a\0b", 3)).size(), 3);
}

TEST(Genres, NamesByNumber) {
  EXPECT_EQ(lb::GenreName(0), "Blues");
  EXPECT_EQ(lb::GenreName(17), "Rock");
  EXPECT_EQ(lb::GenreName(79), "Hard Rock");
  EXPECT_EQ(lb::GenreName(80), "Folk");
  EXPECT_EQ(lb::GenreName(123), "A Cappella");
  EXPECT_EQ(lb::GenreName(147), "Synthpop");
  EXPECT_EQ(lb::GenreName(148), "");
  EXPECT_EQ(lb::GenreName(lb::kNoGenre), "");
  EXPECT_EQ(lb::GenreName(-1), "");
}

TEST(Genres, NumbersByNameWithoutCase) {
  EXPECT_EQ(lb::GenreNumber("blues"), 0);
  EXPECT_EQ(lb::GenreNumber("ROCK"), 17);
  EXPECT_EQ(lb::GenreNumber("r&b"), 14);
  EXPECT_EQ(lb::GenreNumber("SynthPop"), 147);
  EXPECT_EQ(lb::GenreNumber("A Capella"), 123);  // a common other spelling
  EXPECT_EQ(lb::GenreNumber("Polka Rock"), -1);
  EXPECT_EQ(lb::GenreNumber(""), -1);
  // Every name leads back to its own number: no two entries share a name.
  for (int i = 0; i < lb::kGenreCount; ++i) {
    ASSERT_FALSE(lb::GenreName(i).isEmpty()) << i;
    EXPECT_EQ(lb::GenreNumber(lb::GenreName(i)), i) << lb::GenreName(i).toStdString();
  }
}

}  // namespace

// The UTF-8 check accepts exactly the bytes that come back unchanged from Qt's decoder
// and encoder (anything else turns into replacement characters): every lead byte, the
// edges of the second byte's ranges, sequences cut short at the end or followed by more
// text, behind a run of ASCII long enough to be read a word at a time.
TEST(CodePage, Utf8CheckAcceptsWhatSurvivesDecoding) {
  const unsigned char second[] = {0x41, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
  const unsigned char later[] = {0x41, 0x80, 0xBF, 0xC0};
  for (int lead = 0; lead < 256; ++lead)
    for (unsigned char b1 : second)
      for (unsigned char b2 : later)
        for (unsigned char b3 : later) {
          const char seq[] = {char(lead), char(b1), char(b2), char(b3)};
          for (int length = 1; length <= 5; ++length) {
            const QByteArray bytes =
                "eleven byte" + QByteArray(seq, std::min(length, 4)) + (length == 5 ? "tail" : "");
            ASSERT_EQ(lb::IsValidUtf8(bytes.constData(), bytes.size()),
                      QString::fromUtf8(bytes).toUtf8() == bytes)
                << bytes.toHex(' ').constData();
          }
        }
  for (int at = 0; at < 20; ++at) {
    QByteArray bytes(20, 'a');
    bytes[at] = char(0xFF);
    EXPECT_FALSE(lb::IsValidUtf8(bytes.constData(), bytes.size())) << at;
  }
}
