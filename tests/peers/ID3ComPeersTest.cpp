// The ID3Com component against other ID3v2 implementations: tags it writes are read by
// mutagen and by id3lib's id3v2 tool with the same values, and tags mutagen writes
// (v2.3 and v2.4, UTF-16 and UTF-8) are read by the component.
#include "com/Com.h"
#include "RegisterID3Com.h"
#include "id3com/ID3Com.h"

#include "id3com/Mp3Files.h"
#include "support/TestEnv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibrary>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// Debian's interpreter: the python3 first on PATH may be another one without mutagen.
constexpr const char* kPython = "/usr/bin/python3";

const char* const kMutagenRead = R"PY(
import sys, json
from mutagen.id3 import ID3
t = ID3(sys.argv[1], translate=False)
out = {"version": "%d.%d" % t.version[:2], "enc": {}}
for fid in ["TIT2", "TPE1", "TALB", "TYER", "TDRC", "TCOM", "TOPE", "TCOP", "TENC", "TRCK", "TCON"]:
    if fid in t:
        out[fid] = "/".join(str(x) for x in t[fid].text)
        out["enc"][fid] = int(t[fid].encoding)
c = t.getall("COMM")
if c:
    out["COMM"] = c[0].text[0]
    out["COMM_lang"] = c[0].lang
w = t.getall("WXXX")
if w:
    out["WXXX"] = w[0].url
if "TCON" in t:
    out["genres"] = t["TCON"].genres
print(json.dumps(out, ensure_ascii=False))
)PY";

// argv: path, ID3v2 minor version (3 or 4), text encoding (0, 1 or 3), genre text.
const char* const kMutagenWrite = R"PY(
import sys
from mutagen.id3 import (ID3, TIT2, TPE1, TALB, TDRC, COMM, TCOM, TOPE, TCOP, WXXX, TENC,
                         TCON, TRCK)
path, version, enc, genre = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
t = ID3()
t.add(TIT2(encoding=enc, text="Группа крови"))
t.add(TPE1(encoding=enc, text="Кино"))
t.add(TALB(encoding=enc, text="Альбом"))
t.add(TDRC(encoding=enc, text="1988"))
t.add(COMM(encoding=enc, lang="rus", desc="", text="Комментарий"))
t.add(TCOM(encoding=enc, text="Цой"))
t.add(TOPE(encoding=enc, text="Оригинал"))
t.add(TCOP(encoding=enc, text="© Мелодия"))
t.add(WXXX(encoding=enc, desc="", url="http://kino.example/"))
t.add(TENC(encoding=enc, text="Кодировщик"))
t.add(TCON(encoding=enc, text=genre))
t.add(TRCK(encoding=enc, text="5/12"))
t.save(path, v2_version=version)
)PY";

QString RunTool(const QString& program, const QStringList& args, int* exitCode = nullptr) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(60000)) return QString();
  if (exitCode) *exitCode = p.exitCode();
  if (p.exitCode() != 0)
    ADD_FAILURE() << program.toStdString() << ": " << p.readAllStandardError().toStdString();
  return QString::fromUtf8(p.readAllStandardOutput());
}

QJsonObject MutagenRead(const QString& path) {
  QString out = RunTool(kPython, {"-c", kMutagenRead, path});
  return QJsonDocument::fromJson(out.toUtf8()).object();
}

// id3v2 -l prints "TIT2 (Title/songname/content description): value"; comments and URLs
// put "(description)[lang]: " before the value, genres add " (number)".
QMap<QString, QString> Id3v2List(const QString& path) {
  QMap<QString, QString> frames;
  static const QRegularExpression line(R"(^([A-Z0-9]{4}) \(.*?\): (.*)$)");
  static const QRegularExpression described(R"(^\(.*?\)(\[\w{3}\])?: )");
  for (const QString& l : RunTool("id3v2", {"-l", path}).split('\n')) {
    QRegularExpressionMatch m = line.match(l);
    if (!m.hasMatch()) continue;
    QString value = m.captured(2);
    if (m.captured(1) == "COMM" || m.captured(1) == "WXXX") value.remove(described);
    frames.insert(m.captured(1), value);
  }
  return frames;
}

class ID3ComPeers : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(lbtest::RegisterID3Com()); }

  ComPtr<IID3ComTag> Open(const QString& path) {
    ComPtr<IID3ComTag> tag;
    EXPECT_EQ(CoCreateInstance(CLSID_ID3ComTag, nullptr, CLSCTX_INPROC_SERVER, IID_IID3ComTag,
                               tag.PutVoid()),
              S_OK);
    if (!tag) return tag;
    BSTR b = lb::BstrFromQString(path);
    EXPECT_EQ(tag->Link(b), S_OK);
    SysFreeString(b);
    return tag;
  }

  static QString Text(IID3ComTag* tag, HRESULT (STDMETHODCALLTYPE IID3ComTag::*get)(BSTR*)) {
    BSTR b = nullptr;
    (tag->*get)(&b);
    QString s = lb::QStringFromBstr(b);
    SysFreeString(b);
    return s;
  }
  static void Put(IID3ComTag* tag, HRESULT (STDMETHODCALLTYPE IID3ComTag::*put)(BSTR),
                  const QString& value) {
    BSTR b = lb::BstrFromQString(value);
    (tag->*put)(b);
    SysFreeString(b);
  }

  QString NewSong() {
    QString path = lbtest::NewTempDir() + "/song.mp3";
    EXPECT_TRUE(lbtest::WriteFile(path, lbtest::Mp3Audio()));
    return path;
  }
};

TEST_F(ID3ComPeers, MutagenAndId3libReadWhatWeWrite) {
  QString path = NewSong();
  {
    ComPtr<IID3ComTag> tag = Open(path);
    ASSERT_TRUE(tag);
    Put(tag.Get(), &IID3ComTag::put_Title, "Группа крови");
    Put(tag.Get(), &IID3ComTag::put_Artist, "Кино");
    Put(tag.Get(), &IID3ComTag::put_Album, "Альбом «Группа крови»");
    Put(tag.Get(), &IID3ComTag::put_Year, "1988");
    Put(tag.Get(), &IID3ComTag::put_Comment, "Комментарий");
    Put(tag.Get(), &IID3ComTag::put_Composer, "Виктор Цой");
    Put(tag.Get(), &IID3ComTag::put_OrigArtist, "Оригинал");
    Put(tag.Get(), &IID3ComTag::put_Copyright, "© Мелодия");
    Put(tag.Get(), &IID3ComTag::put_URL, "http://kino.example/");
    Put(tag.Get(), &IID3ComTag::put_EncodedBy, "Кодировщик");
    tag->put_Genre(17);
    tag->put_Track(5);
    ASSERT_EQ(tag->SaveV2Tag(), S_OK);
  }

  QJsonObject m = MutagenRead(path);
  EXPECT_EQ(m["version"].toString(), "2.3");
  EXPECT_EQ(m["TIT2"].toString(), "Группа крови");
  EXPECT_EQ(m["TPE1"].toString(), "Кино");
  EXPECT_EQ(m["TALB"].toString(), "Альбом «Группа крови»");
  EXPECT_EQ(m["TYER"].toString(), "1988");
  EXPECT_FALSE(m.contains("TDRC"));
  EXPECT_EQ(m["COMM"].toString(), "Комментарий");
  EXPECT_EQ(m["COMM_lang"].toString(), "eng");
  EXPECT_EQ(m["TCOM"].toString(), "Виктор Цой");
  EXPECT_EQ(m["TOPE"].toString(), "Оригинал");
  EXPECT_EQ(m["TCOP"].toString(), "© Мелодия");
  EXPECT_EQ(m["WXXX"].toString(), "http://kino.example/");
  EXPECT_EQ(m["TENC"].toString(), "Кодировщик");
  EXPECT_EQ(m["TRCK"].toString(), "5");
  ASSERT_FALSE(m["genres"].toArray().isEmpty());
  EXPECT_EQ(m["genres"].toArray().first().toString(), "Rock");
  EXPECT_EQ(m["enc"].toObject()["TIT2"].toInt(), 1);  // UTF-16: v2.3 has no UTF-8

  QMap<QString, QString> l = Id3v2List(path);
  EXPECT_EQ(l["TIT2"], "Группа крови");
  EXPECT_EQ(l["TPE1"], "Кино");
  EXPECT_EQ(l["TALB"], "Альбом «Группа крови»");
  EXPECT_EQ(l["TYER"], "1988");
  EXPECT_EQ(l["COMM"], "Комментарий");
  EXPECT_EQ(l["TCOM"], "Виктор Цой");
  EXPECT_EQ(l["TOPE"], "Оригинал");
  EXPECT_EQ(l["TENC"], "Кодировщик");
  EXPECT_EQ(l["WXXX"], "http://kino.example/");
  EXPECT_EQ(l["TRCK"], "5");
  EXPECT_TRUE(l["TCON"].startsWith("Rock")) << l["TCON"].toStdString();
}

TEST_F(ID3ComPeers, WeReadWhatMutagenWrites) {
  struct Case {
    const char* version;
    const char* encoding;
    const char* genre;
    LONG expectedGenre;
  };
  const Case cases[] = {
      {"3", "1", "Rock", 17},          // v2.3, UTF-16
      {"3", "1", "(17)", 17},          // v2.3, numeric reference
      {"4", "1", "Heavy Metal", 137},  // v2.4, UTF-16
      {"4", "3", "17", 17},            // v2.4, UTF-8
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("v2.") + c.version + " encoding " + c.encoding);
    QString path = NewSong();
    int exitCode = -1;
    RunTool(kPython, {"-c", kMutagenWrite, path, c.version, c.encoding, c.genre}, &exitCode);
    ASSERT_EQ(exitCode, 0);
    ComPtr<IID3ComTag> tag = Open(path);
    ASSERT_TRUE(tag);
    VARIANT_BOOL has = 0;
    tag->get_HasV2Tag(&has);
    EXPECT_EQ(has, VARIANT_TRUE);
    EXPECT_EQ(Text(tag.Get(), &IID3ComTag::get_Title), "Группа крови");
    EXPECT_EQ(Text(tag.Get(), &IID3ComTag::get_Artist), "Кино");
    EXPECT_EQ(Text(tag.Get(), &IID3ComTag::get_Album), "Альбом");
    EXPECT_EQ(Text(tag.Get(), &IID3ComTag::get_Year), "1988");
    EXPECT_EQ(Text(tag.Get(), &IID3ComTag::get_Comment), "Комментарий");
    EXPECT_EQ(Text(tag.Get(), &IID3ComTag::get_Composer), "Цой");
    EXPECT_EQ(Text(tag.Get(), &IID3ComTag::get_OrigArtist), "Оригинал");
    EXPECT_EQ(Text(tag.Get(), &IID3ComTag::get_Copyright), "© Мелодия");
    EXPECT_EQ(Text(tag.Get(), &IID3ComTag::get_URL), "http://kino.example/");
    EXPECT_EQ(Text(tag.Get(), &IID3ComTag::get_EncodedBy), "Кодировщик");
    LONG genre = -1, track = -1;
    tag->get_Genre(&genre);
    tag->get_Track(&track);
    EXPECT_EQ(genre, c.expectedGenre);
    EXPECT_EQ(track, 5);
  }
}

// argv: path, kind. Tags other programs wrote that TagLib alone reads in part or
// upgrades with losses: "ext" and "extcrc" a v2.3 tag with an extended header (with a
// CRC of the frames for the second), "v22" a v2.2 tag with a date, a time, recording
// dates and the frames TagLib upgrades.
const char* const kForeignTag = R"PY(
import sys, struct, zlib
path, kind = sys.argv[1], sys.argv[2]
def syncsafe(n): return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])
def text(s): return b"\x00" + s.encode("latin-1")
if kind == "v22":
    frames = [(b"TT2", text("Title")), (b"TP1", text("Artist")), (b"TAL", text("Album")),
              (b"TYE", text("2001")), (b"TDA", text("0605")), (b"TIM", text("1230")),
              (b"TRD", text("June 5-6")), (b"TOR", text("1999")), (b"TCO", text("(17)")),
              (b"TRK", text("3/10")), (b"TCM", text("Composer")), (b"TOT", text("Original")),
              (b"TXT", text("Lyricist")), (b"TEN", text("Encoder")), (b"TBP", text("120")),
              (b"COM", b"\x00eng\x00Comment")]
    body = b"".join(i + struct.pack(">I", len(d))[1:] + d for i, d in frames) + bytes(32)
    head = b"ID3\x02\x00\x00" + syncsafe(len(body))
else:
    frames = [(b"TIT2", text("Title")), (b"TPE1", text("Artist")), (b"TALB", text("Album")),
              (b"TYER", text("1999")), (b"TRCK", text("7")), (b"COMM", b"\x00eng\x00Comment")]
    data = b"".join(i + struct.pack(">I", len(d)) + b"\x00\x00" + d for i, d in frames)
    padding = 64
    if kind == "extcrc":
        ext = struct.pack(">IHII", 10, 0x8000, padding, zlib.crc32(data))
    else:
        ext = struct.pack(">IHI", 6, 0, padding)
    body = ext + data + bytes(padding)
    head = b"ID3\x03\x00\x40" + syncsafe(len(body))
audio = (b"\xFF\xFB\x90\x64" + bytes(413)) * 20
open(path, "wb").write(head + body + audio)
)PY";

// Every frame mutagen finds, by key, with its value (v2.2 and v2.3 tags as mutagen
// upgrades them to v2.4).
const char* const kMutagenFrames = R"PY(
import sys, json
from mutagen.id3 import ID3
t = ID3(sys.argv[1])
print(json.dumps({k: repr(f.text if hasattr(f, "text") else f) for k, f in t.items()},
                 ensure_ascii=False))
)PY";

QJsonObject MutagenFrames(const QString& path) {
  return QJsonDocument::fromJson(RunTool(kPython, {"-c", kMutagenFrames, path}).toUtf8()).object();
}

// A v2.3 tag with an extended header is read whole, and a title change leaves a tag
// that mutagen and id3lib read whole too.
TEST_F(ID3ComPeers, ExtendedHeaderTagsAreReadAndRewrittenWhole) {
  for (const char* kind : {"ext", "extcrc"}) {
    SCOPED_TRACE(kind);
    QString path = NewSong();
    int exitCode = -1;
    RunTool(kPython, {"-c", kForeignTag, path, kind}, &exitCode);
    ASSERT_EQ(exitCode, 0);
    ASSERT_EQ(Id3v2List(path)["TRCK"], "7");  // the peers read the hand-built tag whole
    ASSERT_EQ(MutagenFrames(path)["TRCK"].toString(), "['7']");
    {
      ComPtr<IID3ComTag> tag = Open(path);
      ASSERT_TRUE(tag);
      EXPECT_EQ(Text(tag.Get(), &IID3ComTag::get_Title), "Title");
      EXPECT_EQ(Text(tag.Get(), &IID3ComTag::get_Artist), "Artist");
      EXPECT_EQ(Text(tag.Get(), &IID3ComTag::get_Comment), "Comment");
      LONG track = -1;
      tag->get_Track(&track);
      EXPECT_EQ(track, 7);
      Put(tag.Get(), &IID3ComTag::put_Title, "Новое");
      ASSERT_EQ(tag->SaveV2Tag(), S_OK);
    }
    QJsonObject m = MutagenFrames(path);
    EXPECT_EQ(m["TIT2"].toString(), "['Новое']");
    EXPECT_EQ(m["TPE1"].toString(), "['Artist']");
    EXPECT_EQ(m["TRCK"].toString(), "['7']");
    EXPECT_EQ(m["TDRC"].toString(), "['1999']");
    EXPECT_EQ(m["COMM::eng"].toString(), "['Comment']");
    QMap<QString, QString> l = Id3v2List(path);
    EXPECT_EQ(l["TIT2"], "Новое");
    EXPECT_EQ(l["TALB"], "Album");
    EXPECT_EQ(l["COMM"], "Comment");
  }
}

// A v2.2 tag rewritten as v2.3 keeps every value: mutagen finds the same frames with
// the same values before and after a title change, date and time included.
TEST_F(ID3ComPeers, V22TagsKeepEveryValueWhenUpgraded) {
  QString path = NewSong();
  int exitCode = -1;
  RunTool(kPython, {"-c", kForeignTag, path, "v22"}, &exitCode);
  ASSERT_EQ(exitCode, 0);
  QJsonObject before = MutagenFrames(path);
  ASSERT_TRUE(before["TDRC"].toString().contains("2001-05-06"))
      << before["TDRC"].toString().toStdString();
  {
    ComPtr<IID3ComTag> tag = Open(path);
    ASSERT_TRUE(tag);
    EXPECT_EQ(Text(tag.Get(), &IID3ComTag::get_Year), "2001");
    Put(tag.Get(), &IID3ComTag::put_Title, "Новое");
    ASSERT_EQ(tag->SaveV2Tag(), S_OK);
  }
  QJsonObject after = MutagenFrames(path);
  EXPECT_EQ(after["TIT2"].toString(), "['Новое']");
  before.remove("TIT2");
  after.remove("TIT2");
  EXPECT_EQ(after, before) << QJsonDocument(after).toJson().toStdString() << "\n"
                           << QJsonDocument(before).toJson().toStdString();
  EXPECT_EQ(Id3v2List(path)["TDAT"], "0605");
}

// argv: path, "plain" or "unsync". A v2.3 tag whose frames TagLib cannot all write
// back: v2.3 frames it reads as outdated (RVAD, EQUA, TSIZ), v2.4 frames other
// taggers leave in v2.3 tags (TMOO, a full TDOR), a genre number outside the table,
// and a described comment beside the main one; "unsync" unsynchronises the tag.
const char* const kV23Tag = R"PY(
import sys, struct
path, kind = sys.argv[1], sys.argv[2]
def syncsafe(n): return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])
def latin(s): return b"\x00" + s.encode("latin-1")
def utf16(s): return b"\x01" + s.encode("utf-16")
frames = [(b"TIT2", utf16("Song")), (b"TPE1", utf16("Band")), (b"TYER", latin("1980")),
          (b"TMOO", utf16("Calm")), (b"RVAD", b"\x03\x10\x01\xff\x01\xff\xff\x00\xff\xe0"),
          (b"EQUA", b"\x10\x80\x40\xff\xf0"), (b"TSIZ", latin("123456")),
          (b"TDOR", latin("1975-03-02")), (b"TCON", latin("(999)")),
          (b"TXXX", utf16("MusicBrainz Album Id") + b"\x00\x00" + "abc".encode("utf-16")),
          (b"COMM", b"\x01eng" + "".encode("utf-16") + b"\x00\x00" + "Main".encode("utf-16")),
          (b"COMM", b"\x00engiTunNORM\x00 0000012A 00000130")]
body = b"".join(i + struct.pack(">I", len(d)) + b"\x00\x00" + d for i, d in frames)
flags = 0
if kind == "unsync":
    out = bytearray()
    for n, b in enumerate(body):
        out.append(b)
        if b == 0xFF and (n + 1 == len(body) or body[n + 1] == 0 or body[n + 1] >= 0xE0):
            out.append(0)
    body, flags = bytes(out), 0x80
body += bytes(256)
audio = open(path, "rb").read()
open(path, "wb").write(b"ID3\x03\x00" + bytes([flags]) + syncsafe(len(body)) + body + audio)
)PY";

// The frames of the file's tag in order as [identifier, bytes in hex] (unsynchronisation
// undone), and the texts mutagen reads from it, by key, as the file has them.
const char* const kRawFrames = R"PY(
import sys, json, struct
from mutagen.id3 import ID3
data = open(sys.argv[1], "rb").read()
size = (data[6] << 21) | (data[7] << 14) | (data[8] << 7) | data[9]
body = data[10:10 + size]
if data[5] & 0x80:
    body = body.replace(b"\xff\x00", b"\xff")
frames, pos = [], 0
while pos + 10 <= len(body) and body[pos] != 0:
    n = struct.unpack(">I", body[pos + 4:pos + 8])[0]
    frames.append([body[pos:pos + 4].decode("latin-1"), body[pos:pos + 10 + n].hex()])
    pos += 10 + n
t = ID3(sys.argv[1], translate=False)
print(json.dumps({"version": t.version[1], "frames": frames,
                  "texts": {k: str(f) for k, f in t.items() if hasattr(f, "text")}},
                 ensure_ascii=False))
)PY";

// An edit of a v2.3 tag changes the edited frames alone: every other frame keeps its
// bytes and its place, whatever TagLib can write; the edited ones read back right.
TEST_F(ID3ComPeers, V23EditsKeepEveryOtherFrameByteForByte) {
  using Put = HRESULT (STDMETHODCALLTYPE IID3ComTag::*)(BSTR);
  struct Edit {
    const char* frame;
    Put put;
    const char* text;
  };
  const struct {
    const char* kind;
    std::vector<Edit> edits;
  } cases[] = {
      {"plain", {{"TIT2", &IID3ComTag::put_Title, "Новое"}}},
      {"plain",
       {{"TPE1", &IID3ComTag::put_Artist, "Другой"}, {"TYER", &IID3ComTag::put_Year, "1999"}}},
      {"unsync", {{"TIT2", &IID3ComTag::put_Title, "Новое"}}},
  };
  const auto read = [](const QString& path) {
    return QJsonDocument::fromJson(RunTool(kPython, {"-c", kRawFrames, path}).toUtf8()).object();
  };
  for (const auto& c : cases) {
    SCOPED_TRACE((c.kind + QString(" ") + c.edits.front().frame).toStdString());
    const QString path = NewSong();
    int exitCode = -1;
    RunTool(kPython, {"-c", kV23Tag, path, c.kind}, &exitCode);
    ASSERT_EQ(exitCode, 0);
    const QJsonObject before = read(path);
    ASSERT_EQ(before["frames"].toArray().size(), 12);
    {
      ComPtr<IID3ComTag> tag = Open(path);
      ASSERT_TRUE(tag);
      for (const Edit& e : c.edits) ID3ComPeers::Put(tag.Get(), e.put, e.text);
      ASSERT_EQ(tag->SaveV2Tag(), S_OK);
    }
    const QJsonObject after = read(path);
    EXPECT_EQ(after["version"].toInt(), 3);
    const auto untouched = [&c](const QJsonObject& tag) {
      QStringList frames;
      for (const QJsonValue& f : tag["frames"].toArray()) {
        const QString id = f.toArray()[0].toString();
        if (std::none_of(c.edits.begin(), c.edits.end(),
                         [&](const Edit& e) { return id == e.frame; }))
          frames << id + " " + f.toArray()[1].toString();
      }
      return frames;
    };
    EXPECT_EQ(untouched(after), untouched(before));
    const QMap<QString, QString> listed = Id3v2List(path);
    for (const Edit& e : c.edits) {
      EXPECT_EQ(after["texts"].toObject()[e.frame].toString(), e.text) << e.frame;
      EXPECT_EQ(listed[e.frame], e.text) << e.frame;
    }
  }
}

}  // namespace
