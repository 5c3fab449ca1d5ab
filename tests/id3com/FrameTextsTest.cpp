// The lean tag reader against TagLib on a generated corpus of varied files: v2.2, v2.3
// and v2.4 tags in every text encoding, Windows-1251 bytes in Latin-1 frames, several
// strings in a frame, comments and user URLs with and without descriptions, every
// form of genre, track and year, padding of any length, files without ID3v1, and
// tags the lean reader must leave to TagLib. The component reads every file with
// LBTOOLS_ID3COM_CROSSCHECK set (the test environment sets it), so it reads each tag
// both ways and stops on a difference; the test checks besides that the lean reader
// takes exactly the tags of the common kind.
//
// LB_CORPUS_FILES sets the number of files (2,000 by default); LB_CORPUS_DIR keeps
// them there with a list.m3u, for runs by hand.
#include "com/Com.h"
#include "RegisterID3Com.h"
#include "id3com/FrameTexts.h"
#include "id3com/ID3Com.h"
#include "platform/CodePage.h"

#include "id3com/Mp3Files.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QLibrary>

#include <gtest/gtest.h>
#include <random>

namespace {

using lbtest::RawFrame;

// What a generated file holds besides its frames.
struct TSong {
  QByteArray tag;      // the tag as the file holds it (cut short in some)
  bool common = true;  // of the kind the lean reader takes
  QByteArray file;     // tag, audio and maybe an ID3v1 tag
};

class TCorpus {
 public:
  explicit TCorpus(unsigned seed) : m_Random(seed) {}

  TSong Song() {
    TSong song;
    const int version = Pick({2, 3, 3, 3, 4, 4, 4});
    song.common = version != 2;
    QList<RawFrame> frames;
    const QByteArray yearId = version == 2 ? "TYE" : Pick<QByteArray>({"TYER", "TDRC", "TRDC"});
    for (const char* id : {"TIT2", "TPE1", "TALB", "TCOM", "TOPE", "TCOP", "TENC"})
      if (Chance(4, 5)) frames << RawFrame{Id(id, version), TextBody()};
    if (Chance(3, 4)) frames << RawFrame{yearId, Encoded(Year(), Encoding())};
    if (Chance(1, 5)) frames << RawFrame{Id("TYER", version), Encoded("1987", 0)};
    if (Chance(3, 4)) frames << RawFrame{Id("TRCK", version), Encoded(Track(), Encoding())};
    if (Chance(3, 4)) frames << RawFrame{Id("TCON", version), Genre()};
    for (int i = Pick({0, 1, 1, 2, 3}); i > 0; --i)
      frames << RawFrame{Id("COMM", version), Comment()};
    for (int i = Pick({0, 0, 1, 2}); i > 0; --i) frames << RawFrame{Id("WXXX", version), Url()};
    if (Chance(1, 3)) frames << RawFrame{Id("PRIV", version), QByteArray("owner\0", 6) + Bytes(40)};
    if (Chance(1, 4))
      frames << RawFrame{Id("TXXX", version), Encoded(QStringLiteral("Описание"), 1) + '\0' + '\0'};
    std::shuffle(frames.begin(), frames.end(), m_Random);

    QByteArray body;
    for (const RawFrame& f : frames) body += Frame(version, f);
    int flags = 0;
    const int odd = song.common && Chance(1, 3) ? Pick({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}) : -1;
    song.common = song.common && odd < 0;
    switch (odd) {
      case 0:  // unsynchronisation (nothing to undo in these bytes)
        flags = 0x80;
        break;
      case 1:  // a frame flag: grouping
        body += Id("TIT3", version) + Size(version, 2) + QByteArray(1, '\0') +
                char(version == 3 ? 0x20 : 0x40) + QByteArray("\0x", 2);
        break;
      case 2:  // an empty frame
        body += Id("TIT3", version) + Size(version, 0) + QByteArray(2, '\0');
        break;
      case 3:  // a frame after the padding
        body += QByteArray(20, '\0') + Frame(version, {Id("TIT3", version), TextBody()});
        break;
      case 4:  // junk in the padding
        body += QByteArray(20, '\0') + "junk";
        break;
      case 5:  // an encoding TagLib does not know, in a frame read first
        body.prepend(Frame(version, {Id("TIT2", version), "\x05text"}));
        break;
      case 6:  // a v2.3 date TagLib folds into the year
        if (version == 3) body += Frame(version, {"TDAT", Encoded("0512", 0)});
        song.common = version != 3;
        break;
      case 7:  // a v2.4 size written as a plain integer
        if (version == 4) {
          const QByteArray text = Encoded(QString(200, QChar('x')), 0);
          body +=
              QByteArray("TIT3") + lbtest::BigEndian(text.size(), 4) + QByteArray(2, '\0') + text;
        }
        song.common = version != 4;
        break;
      case 8:  // bytes that are no UTF-8, in a frame read first
        body.prepend(Frame(version, {Id("TIT2", version), QByteArray("\x03\xC0\xAF", 3)}));
        break;
      case 9:  // a genre reference TagLib reads its own way
        body +=
            Frame(version, {Id("TCON", version),
                            Encoded(Pick<QString>({"( 17)", "(RX)Remix", "((Foo)", "(17)(4)Disco"}),
                                    Pick({0, 1, 3}))});
        break;
    }
    body += QByteArray(Pick({0, 0, 10, 64, 1024, 4096}), '\0');
    song.tag = "ID3" + QByteArray(1, char(version)) + '\0' + char(flags) +
               lbtest::SyncSafe(body.size()) + body;
    song.file = song.tag + lbtest::Mp3Audio(2);
    if (Chance(1, 2)) song.file += lbtest::Id3v1("Song", "Artist");
    if (Chance(1, 40)) {  // the file ends inside its tag
      song.tag.chop(song.tag.size() / 3);
      song.file = song.tag;
      song.common = false;
    }
    return song;
  }

 private:
  template <class T>
  T Pick(std::initializer_list<T> values) {
    return values.begin()[std::uniform_int_distribution<size_t>(0, values.size() - 1)(m_Random)];
  }
  int Pick(std::initializer_list<int> values) { return Pick<int>(values); }
  bool Chance(int in, int of) { return std::uniform_int_distribution<int>(1, of)(m_Random) <= in; }
  QByteArray Bytes(int n) {
    QByteArray b;
    for (int i = 0; i < n; ++i) b += char(m_Random());
    return b;
  }

  static QByteArray Id(const char* id, int version) {
    static const QMap<QByteArray, QByteArray> v22 = {
        {"TIT2", "TT2"}, {"TPE1", "TP1"}, {"TALB", "TAL"}, {"TCOM", "TCM"},
        {"TOPE", "TOA"}, {"TCOP", "TCR"}, {"TENC", "TEN"}, {"TYER", "TYE"},
        {"TRCK", "TRK"}, {"TCON", "TCO"}, {"COMM", "COM"}, {"WXXX", "WXX"},
        {"PRIV", "PRV"}, {"TXXX", "TXX"}, {"TIT3", "TT3"}, {"TIT1", "TT1"}};
    return version == 2 ? v22.value(id) : QByteArray(id);
  }
  static QByteArray Size(int version, int n) {
    return version == 2   ? lbtest::BigEndian(n, 3)
           : version == 3 ? lbtest::BigEndian(n, 4)
                          : lbtest::SyncSafe(n);
  }
  static QByteArray Frame(int version, const RawFrame& f) {
    return f.id + Size(version, f.body.size()) +
           (version == 2 ? QByteArray() : QByteArray(2, '\0')) + f.body;
  }

  // 0 Latin-1 (Windows-1251 bytes for Cyrillic), 1 UTF-16 with a little- or big-endian
  // byte-order mark, 11 UTF-16 without one, 2 UTF-16BE, 3 UTF-8.
  int Encoding() { return Pick({0, 0, 1, 1, 11, 2, 3, 3}); }

  QString Text() {
    return Pick<QString>({QStringLiteral("Кино"), QStringLiteral("Группа крови"), "Plain ASCII",
                          QStringLiteral("Café déjà"), QStringLiteral("ЁёЪъ № «»"), " padded ",
                          QStringLiteral("Ноты 🎵"), QString()});
  }

  // One string in an encoding, without the encoding byte.
  QByteArray String(const QString& text, int encoding, bool mark = true) {
    switch (encoding) {
      case 0:
        return text.contains(QChar(0xE9)) ? text.toLatin1() : lb::ToTagCodePage(text);
      case 1: {
        const bool big = Chance(1, 3);
        QByteArray b = mark ? QByteArray(big ? "\xFE\xFF" : "\xFF\xFE", 2) : QByteArray();
        for (QChar c : text) {
          const char high = char(c.unicode() >> 8), low = char(c.unicode());
          b.append(big ? high : low).append(big ? low : high);
        }
        return b;
      }
      case 11:
        return String(text, 1, false);
      case 2: {
        QByteArray b;
        for (QChar c : text) b.append(char(c.unicode() >> 8)).append(char(c.unicode()));
        return b;
      }
      default:
        return text.toUtf8();
    }
  }
  static char EncodingByte(int encoding) { return char(encoding == 11 ? 1 : encoding); }
  static QByteArray Terminator(int encoding) {
    return QByteArray(encoding == 0 || encoding == 3 ? 1 : 2, '\0');
  }

  QByteArray Encoded(const QString& text, int encoding) {
    return EncodingByte(encoding) + String(text, encoding);
  }

  // A text frame body: one to three strings, sometimes the later ones without a
  // byte-order mark, sometimes with terminators at the end.
  QByteArray TextBody() {
    const int encoding = Encoding();
    QByteArray body = Encoded(Text(), encoding);
    for (int i = Pick({0, 0, 0, 1, 2}); i > 0; --i)
      body += Terminator(encoding) + String(Text(), encoding, Chance(1, 2));
    for (int i = Pick({0, 0, 1, 2}); i > 0; --i) body += Terminator(encoding);
    return body;
  }

  QString Year() {
    return Pick<QString>(
        {"1999", "99", "2001-05-06", "2001-05-06T12:30", "", QStringLiteral("год")});
  }
  QString Track() { return Pick<QString>({"3", "3/10", " 03 ", "x", "0", "12/", ""}); }

  QByteArray Genre() {
    const int encoding = Encoding();
    QByteArray body = Encoded(Pick<QString>({"(17)", "17", "(17)Rock", "(17)Rocky", "Rock", "(255)",
                                             "(200)", QStringLiteral("Шансон"), "Jazz"}),
                              encoding);
    if (Chance(1, 4)) body += Terminator(encoding) + String("(4)", encoding, Chance(1, 2));
    return body;
  }

  QByteArray Comment() {
    const int encoding = Encoding();
    if (Chance(1, 20)) return QByteArray("\0en", 3);  // too short to hold anything
    QByteArray body =
        EncodingByte(encoding) + Pick<QByteArray>({"eng", "rus", QByteArray(3, '\0')});
    body += String(Pick<QString>({"", "", "iTunNORM", QStringLiteral("описание")}), encoding) +
            Terminator(encoding);
    if (Chance(9, 10)) body += String(Text(), encoding, Chance(4, 5));
    for (int i = Pick({0, 1, 2}); i > 0; --i) body += Terminator(encoding);
    return body;
  }

  QByteArray Url() {
    const int encoding = Encoding();
    if (Chance(1, 10))
      return EncodingByte(encoding) + QByteArray("www.example.org");  // no description
    QByteArray body = EncodingByte(encoding) +
                      String(Pick<QString>({"", "", "home", QStringLiteral("сайт")}), encoding) +
                      Terminator(encoding);
    if (Chance(9, 10))
      body += Pick<QByteArray>({"http://example.org/a?b=1", "http://xn--e1afmkfd.xn--p1ai/%D0%B0",
                                "www.example.org", "\xE0\xE1\xE2"});
    if (Chance(1, 3)) body += '\0';
    return body;
  }

  std::mt19937 m_Random;
};

class FrameTextsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(lbtest::RegisterID3Com()); }
};

TEST_F(FrameTextsTest, LeanReadEqualsTagLibOnAGeneratedCorpus) {
  ASSERT_FALSE(qEnvironmentVariableIsEmpty("LBTOOLS_ID3COM_CROSSCHECK"));
  ASSERT_EQ(lb::CurrentTagCodePage(), 1251);
  const int count = qEnvironmentVariableIsSet("LB_CORPUS_FILES")
                        ? qEnvironmentVariableIntValue("LB_CORPUS_FILES")
                        : 2000;
  QString dir = qEnvironmentVariable("LB_CORPUS_DIR");
  if (dir.isEmpty()) dir = lbtest::NewTempDir();
  QDir().mkpath(dir + "/music");
  ComPtr<IID3ComTag> tag;
  ASSERT_EQ(CoCreateInstance(CLSID_ID3ComTag, nullptr, CLSCTX_INPROC_SERVER, IID_IID3ComTag,
                             tag.PutVoid()),
            S_OK);
  TCorpus corpus(28);
  QByteArray list;
  int lean = 0;
  for (int n = 0; n < count; ++n) {
    const TSong song = corpus.Song();
    const QString name = QString("music/%1.mp3").arg(n, 5, 10, QChar('0'));
    ASSERT_TRUE(lbtest::WriteFile(dir + "/" + name, song.file));
    list += name.toUtf8() + "\n";
    id3::TFrameTexts texts;
    const bool taken = id3::ReadFrameTexts(song.tag, id3::WalkFrames(song.tag, false), &texts);
    EXPECT_EQ(taken, song.common) << name.toStdString();
    lean += taken ? 1 : 0;
    // Read both ways inside the component; a difference ends the process with both.
    BSTR path = lb::BstrFromQString(dir + "/" + name);
    EXPECT_EQ(tag->Link(path), S_OK) << name.toStdString();
    SysFreeString(path);
  }
  EXPECT_GT(lean, count / 3);
  ASSERT_TRUE(lbtest::WriteFile(dir + "/list.m3u", list));
  std::printf("%d files, %d read by the lean reader\n", count, lean);
}

}  // namespace
