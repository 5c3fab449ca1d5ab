// Every field of both tag records and both synchronisation flags through the data file
// and the clipboard, against a data file laid out here byte by byte from the format.
#include "ModelTestUtil.h"

#include "lbtools3/model/M3uList.h"
#include "lbtools3/model/SlStream.h"
#include "platform/FileSystem.h"
#include "platform/ScriptedUiServices.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

// The values of one song; a text per field, so that two swapped fields show.
struct SongValues {
  QString path;
  int32_t age;
  bool sync1, sync2;
  QString title1, artist1, album1, year1, comment1;
  uint8_t genre1;
  QString title2, artist2, album2, year2;
  int32_t genre2;
  QString comment2, composer, origArt, copyright, url, encodedBy;
  int32_t track;
};

// clang-format off
const SongValues kSongs[] = {
    {"/m/a.mp3", 101, false, true, "T1a", "A1a", "B1a", "1991", "C1a", 17,
     "Название А", "Артист А", "Альбом А", "2001", 80, "Комментарий А", "Композитор А",
     "Оригинал А", "Права А", "http://a.example/", "Кодировщик А", 7},
    {"/m/b.mp3", -1, true, false, "T1b", "A1b", "B1b", "1992", "C1b", 255,
     "Title B", "Artist B", "Album B", "2002", 255, "Comment B", "Composer B",
     "OrigArt B", "Copyright B", "http://b.example/", "EncodedBy B", 0}};
// clang-format on

// The data file layout: little-endian integers, texts as a 32-bit byte count and the
// UTF-8 bytes, the ID3v1 body as fixed fields of 30, 30, 30, 4, 30 bytes and a genre byte.
class Golden {
 public:
  void Int(int32_t v) {
    for (int i = 0; i < 4; ++i) bytes.append(char(uint32_t(v) >> (8 * i) & 0xFF));
  }
  void Text(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    Int(int32_t(utf8.size()));
    bytes.append(utf8);
  }
  void Fixed(const QString& text, int width) {
    QByteArray field = text.toLatin1();
    field.resize(width, '\0');
    bytes.append(field);
  }
  void Song(const SongValues& s) {
    Text(s.path);
    Text(QString());  // reserved
    Int(s.age);
    bytes.append(char(1 | (s.sync1 ? 2 : 0)));
    for (const QString* f : {&s.title1, &s.artist1, &s.album1}) Fixed(*f, 30);
    Fixed(s.year1, 4);
    Fixed(s.comment1, 30);
    bytes.append(char(s.genre1));
    bytes.append(char(1 | (s.sync2 ? 2 : 0)));
    for (const QString* f : {&s.title2, &s.artist2, &s.album2, &s.year2}) Text(*f);
    Int(s.genre2);
    for (const QString* f :
         {&s.comment2, &s.composer, &s.origArt, &s.copyright, &s.url, &s.encodedBy})
      Text(*f);
    Int(s.track);
  }
  QByteArray bytes;
};

QByteArray GoldenRecords() {
  Golden g;
  for (const SongValues& s : kSongs) g.Song(s);
  return g.bytes;
}

TSlSong MakeSong(const SongValues& v) {
  TSlSong s(nullptr, v.path, QString());
  s.m_FileAge = v.age;
  s.m_Tag1.SetTitle(v.title1, false);
  s.m_Tag1.SetArtist(v.artist1, false);
  s.m_Tag1.SetAlbum(v.album1, false);
  s.m_Tag1.SetYear(v.year1);
  s.m_Tag1.SetComment(v.comment1, false);
  s.m_Tag1.SetGenre(v.genre1);
  s.m_Tag2.SetTitle(v.title2);
  s.m_Tag2.SetArtist(v.artist2);
  s.m_Tag2.SetAlbum(v.album2);
  s.m_Tag2.SetYear(v.year2);
  s.m_Tag2.SetGenre(v.genre2);
  s.m_Tag2.SetComment(v.comment2);
  s.m_Tag2.SetComposer(v.composer);
  s.m_Tag2.SetOrigArt(v.origArt);
  s.m_Tag2.SetCopyright(v.copyright);
  s.m_Tag2.SetURL(v.url);
  s.m_Tag2.SetEncodedBy(v.encodedBy);
  s.m_Tag2.SetTrack(v.track);
  s.m_Tag1.bTagSync = v.sync1;
  s.m_Tag2.bTagSync = v.sync2;
  return s;
}

// Each field as read back from a song, beside the value it must have.
struct Field {
  const char* name;
  std::function<QString(const TSlSong&)> got;
  std::function<QString(const SongValues&)> want;
};

const Field kFields[] = {
    {"age", [](auto& s) { return QString::number(s.m_FileAge); },
     [](auto& v) { return QString::number(v.age); }},
    {"sync1", [](auto& s) { return QString::number(s.m_Tag1.bTagSync); },
     [](auto& v) { return QString::number(v.sync1); }},
    {"sync2", [](auto& s) { return QString::number(s.m_Tag2.bTagSync); },
     [](auto& v) { return QString::number(v.sync2); }},
    {"exists", [](auto& s) { return QString::number(s.m_Tag1.m_bExists + s.m_Tag2.m_bExists); },
     [](auto&) { return QString("2"); }},
    {"Title1", [](auto& s) { return s.m_Tag1.GetTitle(); }, [](auto& v) { return v.title1; }},
    {"Artist1", [](auto& s) { return s.m_Tag1.GetArtist(); }, [](auto& v) { return v.artist1; }},
    {"Album1", [](auto& s) { return s.m_Tag1.GetAlbum(); }, [](auto& v) { return v.album1; }},
    {"Year1", [](auto& s) { return s.m_Tag1.GetYear(); }, [](auto& v) { return v.year1; }},
    {"Comment1", [](auto& s) { return s.m_Tag1.GetComment(); }, [](auto& v) { return v.comment1; }},
    {"Genre1", [](auto& s) { return QString::number(s.m_Tag1.Genre); },
     [](auto& v) { return QString::number(v.genre1); }},
    {"Title2", [](auto& s) { return s.m_Tag2.Title; }, [](auto& v) { return v.title2; }},
    {"Artist2", [](auto& s) { return s.m_Tag2.Artist; }, [](auto& v) { return v.artist2; }},
    {"Album2", [](auto& s) { return s.m_Tag2.Album; }, [](auto& v) { return v.album2; }},
    {"Year2", [](auto& s) { return s.m_Tag2.Year; }, [](auto& v) { return v.year2; }},
    {"Genre2", [](auto& s) { return QString::number(s.m_Tag2.Genre); },
     [](auto& v) { return QString::number(v.genre2); }},
    {"Comment2", [](auto& s) { return s.m_Tag2.Comment; }, [](auto& v) { return v.comment2; }},
    {"Composer", [](auto& s) { return s.m_Tag2.Composer; }, [](auto& v) { return v.composer; }},
    {"OrigArt", [](auto& s) { return s.m_Tag2.OrigArt; }, [](auto& v) { return v.origArt; }},
    {"Copyright", [](auto& s) { return s.m_Tag2.Copyright; }, [](auto& v) { return v.copyright; }},
    {"URL", [](auto& s) { return s.m_Tag2.URL; }, [](auto& v) { return v.url; }},
    {"EncodedBy", [](auto& s) { return s.m_Tag2.EncodedBy; }, [](auto& v) { return v.encodedBy; }},
    {"Track", [](auto& s) { return QString::number(s.m_Tag2.Track); },
     [](auto& v) { return QString::number(v.track); }},
};

void ExpectEveryField(const TSlDocument& doc, const char* where) {
  ASSERT_EQ(doc.m_Songs.size(), 2) << where;
  for (int n = 0; n < 2; ++n) {
    EXPECT_EQ(doc.m_Songs[n].GetPath(true), kSongs[n].path) << where;
    for (const Field& f : kFields)
      EXPECT_EQ(f.got(doc.m_Songs[n]), f.want(kSongs[n]))
          << where << " song " << n << " " << f.name;
  }
}

TEST(RoundTrip, EveryFieldThroughTheDataFileAndTheClipboard) {
  ScriptedUiServices ui;
  const QString dir = lbtest::NewTempDir();
  TSlDocument doc;
  doc.SetFileName(dir + "/list.m3u");
  for (const SongValues& v : kSongs) doc.InsertSong(MakeSong(v), -1);

  // Written: exactly the golden records after the header.
  ASSERT_TRUE(doc.Save(true));
  const QByteArray written = lbtest::ReadFile(dir + "/list.lbt");
  EXPECT_EQ(written.left(4), QByteArray("LBT\x01"));
  EXPECT_EQ(written.mid(8), GoldenRecords());

  // Read: the golden file gives back every value.
  Golden header;
  header.Int(lb::FileAge(dir + "/list.m3u"));
  lbtest::WriteFile(dir + "/list.lbt", "LBT\x01" + header.bytes + GoldenRecords());
  TSlDocument loaded;
  loaded.SetFileName(dir + "/list.m3u");
  ASSERT_TRUE(loaded.Load(true));
  ExpectEveryField(loaded, "data file");

  // The clipboard carries the same records behind their byte count and song count
  // (the songs' "#" lines follow, past the byte count).
  Golden payload;
  payload.Int(int32_t(GoldenRecords().size()));
  payload.Int(2);
  const QByteArray expected = payload.bytes + GoldenRecords();
  EXPECT_EQ(loaded.ClipboardPayload({0, 1}).left(expected.size()), expected);
  TSlDocument pasted;
  pasted.SetFileName(dir + "/other.m3u");
  loaded.CopyToClipboard({0, 1});
  pasted.PasteFromClipboard(0);
  ExpectEveryField(pasted, "clipboard");
}

// Texts of every UTF-8 length go into a data stream as QString::toUtf8 gives them (a
// lone surrogate as '?').
TEST(DataStreamTest, TextsOfEveryUtf8LengthAreWrittenAsUtf8) {
  const QString texts[] = {QString(),
                           "abc",
                           QStringLiteral("Ёжик"),
                           QStringLiteral("«Звезда» — 2€"),
                           QStringLiteral("\U0001F3B5 ♪"),
                           QChar(0xD800) + QStringLiteral("x") + QChar(0xDC00) + QChar(0xD83D)};
  TSlStreamWriter out;
  Golden expected;
  for (const QString& text : texts) {
    out.WriteString(text);
    expected.Text(text);
  }
  EXPECT_EQ(out.Bytes(), expected.bytes);
}

}  // namespace
