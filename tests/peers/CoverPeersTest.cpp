// `lbtools3-cli tags cover` against mutagen: the bytes set are the bytes read back, in
// the picture list of each format; the other pictures, every field and the audio stay;
// a large picture set and removed again leaves an MP3's audio as it was; what is not a
// picture is refused before anything is written.
#include "CliRun.h"
#include "PeerTools.h"
#include "TestEnv.h"
#include "lbtools3/model/M3uList.h"
#include "lbtools3/tags/TagsApply.h"
#include "model/ModelTestUtil.h"
#include "platform/ScriptedUiServices.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <functional>
#include <gtest/gtest.h>

namespace {

using namespace peertest;

constexpr const char* kPython = "/usr/bin/python3";

// argv: path, back-cover file. Title, artist and a back cover (MP4 has no picture
// kinds: its back cover is a second covr atom, after an old cover).
const char* const kTag = R"PY(
import sys, base64, struct
import mutagen
from mutagen.flac import Picture
path, back = sys.argv[1], open(sys.argv[2], "rb").read()
f = mutagen.File(path)
kind = type(f).__name__
if f.tags is None: f.add_tags()
pic = Picture(); pic.type = 4; pic.mime = "image/png"; pic.desc = "back"; pic.data = back
if kind in ("FLAC", "OggVorbis", "OggOpus"):
    f.tags["TITLE"] = ["Песня"]; f.tags["ARTIST"] = ["Первый", "Второй"]
    if kind == "FLAC": f.add_picture(pic)
    else: f.tags["METADATA_BLOCK_PICTURE"] = [base64.b64encode(pic.write()).decode()]
elif kind == "MP4":
    from mutagen.mp4 import MP4Cover
    f.tags["\xa9nam"] = ["Песня"]; f.tags["\xa9ART"] = ["Первый"]
    f.tags["covr"] = [MP4Cover(b"\xff\xd8\xff" + b"old", MP4Cover.FORMAT_JPEG), MP4Cover(back, MP4Cover.FORMAT_PNG)]
elif kind == "ASF":
    from mutagen.asf import ASFByteArrayAttribute
    f.tags["Title"] = ["Песня"]; f.tags["Author"] = ["Первый"]
    mime, desc = "image/png".encode("utf-16-le") + b"\0\0", "back".encode("utf-16-le") + b"\0\0"
    f.tags["WM/Picture"] = [ASFByteArrayAttribute(struct.pack("<bi", 4, len(back)) + mime + desc + back)]
elif kind == "WavPack":
    from mutagen.apev2 import APEValue, BINARY
    f.tags["Title"] = "Песня"; f.tags["Artist"] = "Первый"
    f.tags["Cover Art (Back)"] = APEValue(b"back.png\0" + back, BINARY)
else:  # MP3, AIFF
    from mutagen.id3 import TIT2, TPE1, APIC, TXXX
    f.tags.add(TIT2(encoding=1, text="Песня")); f.tags.add(TPE1(encoding=1, text="Первый"))
    f.tags.add(TXXX(encoding=1, desc="replaygain_track_gain", text="-6.50 dB"))
    f.tags.add(APIC(encoding=0, mime="image/png", type=4, desc="back", data=back))
f.save()
)PY";

// The file's pictures as (kind, mime, sha1) and every other key with its values.
const char* const kDump = R"PY(
import sys, json, hashlib, base64, struct
import mutagen
from mutagen.flac import Picture
f = mutagen.File(sys.argv[1]); kind = type(f).__name__
sha = lambda b: hashlib.sha1(bytes(b)).hexdigest()
pics, rest = [], {}
if kind == "FLAC":
    pics = [[p.type, p.mime, sha(p.data)] for p in f.pictures]
for k, v in f.tags.items():
    lk = k.lower()
    if lk == "metadata_block_picture":
        for b in v:
            p = Picture(base64.b64decode(b)); pics.append([p.type, p.mime, sha(p.data)])
    elif lk == "covr":
        pics += [[0, int(c.imageformat), sha(c)] for c in v]
    elif lk == "wm/picture":
        for a in v:
            d = bytes(a.value); t, n = struct.unpack("<bi", d[:5]); pics.append([t, "", sha(d[-n:])])
    elif lk.startswith("cover art"):
        d = bytes(v); pics.append([k, "", sha(d[d.index(b"\0") + 1:])])
    elif lk.startswith("apic"):
        pics.append([int(v.type), v.mime, sha(v.data)])
    elif any(str(x) != "" for x in (v if isinstance(v, list) else [v])):
        rest[k] = repr(v)  # TagLib writes ASF's empty content fields, which hold nothing
pics.sort(key=repr)
print(json.dumps({"pictures": pics, "rest": rest}, ensure_ascii=False))
)PY";

QJsonObject Dump(const QString& path) {
  return QJsonDocument::fromJson(Tool(kPython, {"-c", kDump, path}).toUtf8()).object();
}

QString Sha(const QByteArray& bytes) {
  return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex();
}

QString DecodedAudio(const QString& path) {
  return Tool("ffmpeg", {"-v", "error", "-i", path, "-map", "0:a", "-f", "md5", "-"});
}

// A JPEG-marked picture of size bytes (its body random, so nothing compresses it).
QByteArray Picture(int size) {
  QByteArray bytes(size, '\0');
  QRandomGenerator rng(size);
  for (char& c : bytes) c = static_cast<char>(rng.bounded(256));
  bytes.replace(0, 4, QByteArray("\xFF\xD8\xFF\xE0", 4));
  return bytes;
}

TEST(CoverPeers, TheBytesSetAreReadBackAndEverythingElseStays) {
  const QString dir = lbtest::NewTempDir();
  QProcess::execute(lbtest::BinDir() + "/lbregsvr", {lbtest::BinDir() + "/libid3com.so"});
  const QString source = dir + "/source.wav", back = dir + "/back.png", cover = dir + "/cover.jpg";
  MakeTone(source, "0.5");
  lbtest::WriteFile(back, QByteArray("\x89PNG\r\n\x1A\n", 8) + QByteArray(300, 'b'));
  const QByteArray coverBytes = Picture(50000);
  lbtest::WriteFile(cover, coverBytes);
  const struct {
    const char* extension;
    QJsonArray front;  // how the new cover reads back
  } formats[] = {
      {"mp3", {3, "image/jpeg"}},
      {"flac", {3, "image/jpeg"}},
      {"ogg", {3, "image/jpeg"}},
      {"opus", {3, "image/jpeg"}},
      {"m4a", {0, 13}},
      {"wma", {3, ""}},
      {"wv", {"Cover Art (Front)", ""}},
      {"aiff", {3, "image/jpeg"}},
  };
  for (const auto& format : formats) {
    SCOPED_TRACE(format.extension);
    const QString path = dir + "/song." + format.extension;
    EncodeAs(source, path);
    Tool(kPython, {"-c", kTag, path, back});
    const QJsonObject before = Dump(path);
    const QString audio = DecodedAudio(path);

    lbtest::CliRun run = lbtest::RunCli({"tags", "cover", path, "--set", cover});
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.endsWith("\tобложка поставлена\n")) << run.out.toStdString();
    const QJsonObject set = Dump(path);
    EXPECT_EQ(set["rest"], before["rest"]);
    QJsonArray front = format.front;
    front.append(Sha(coverBytes));
    QJsonArray expected = before["pictures"].toArray();
    for (qsizetype i = 0; i < expected.size(); ++i)  // MP4: the old cover (the first atom) goes
      if (expected[i].toArray().at(1) == 13) expected.removeAt(i--);
    QJsonArray got = set["pictures"].toArray();
    EXPECT_TRUE(got.contains(front)) << QJsonDocument(got).toJson().toStdString();
    for (qsizetype i = 0; i < got.size(); ++i)
      if (got[i] == front) got.removeAt(i--);
    EXPECT_EQ(got, expected) << QJsonDocument(got).toJson().toStdString();
    EXPECT_EQ(DecodedAudio(path), audio);

    // What was set is what is saved.
    const QString out = lbtest::NewTempDir();
    run = lbtest::RunCli({"tags", "cover", path, "--export", out});
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(lbtest::ReadFile(out + "/01 - song.jpg") == coverBytes);
    run = lbtest::RunCli({"tags", "cover", path, "--export", out});
    EXPECT_NE(run.code, 0);  // never over a file that is there

    run = lbtest::RunCli({"tags", "cover", path, "--remove"});
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    const QJsonObject removed = Dump(path);
    EXPECT_EQ(removed["rest"], before["rest"]);
    EXPECT_EQ(removed["pictures"].toArray(), expected);
  }
}

TEST(CoverPeers, ALargePictureComesAndGoesWithoutTouchingTheAudioAndNonPicturesAreRefused) {
  const QString dir = lbtest::NewTempDir();
  QProcess::execute(lbtest::BinDir() + "/lbregsvr", {lbtest::BinDir() + "/libid3com.so"});
  const QString path = dir + "/song.mp3", big = dir + "/big.jpg";
  Tool("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=3", path});
  Tool(kPython, {"-c", kTag, path, dir + "/song.mp3"});  // any bytes do for the back cover
  const QJsonObject before = Dump(path);
  // The audio: everything after the ID3v2 tag.
  const auto audio = [&] {
    const QByteArray bytes = lbtest::ReadFile(path);
    const int size = ((bytes[6] & 0x7F) << 21) | ((bytes[7] & 0x7F) << 14) |
                     ((bytes[8] & 0x7F) << 7) | (bytes[9] & 0x7F);
    return bytes.mid(10 + size);
  };
  const QByteArray audioBefore = audio();
  const QByteArray picture = Picture(10 << 20);
  lbtest::WriteFile(big, picture);

  lbtest::CliRun run = lbtest::RunCli({"tags", "cover", path, "--set", big});
  ASSERT_EQ(run.code, 0) << run.err.toStdString();
  const QJsonArray pictures = Dump(path)["pictures"].toArray();
  EXPECT_TRUE(pictures.contains(QJsonArray{3, "image/jpeg", Sha(picture)}));
  EXPECT_TRUE(audio() == audioBefore);
  run = lbtest::RunCli({"tags", "cover", path, "--remove"});
  ASSERT_EQ(run.code, 0) << run.err.toStdString();
  EXPECT_EQ(Dump(path), before);
  EXPECT_TRUE(audio() == audioBefore);

  EXPECT_TRUE(lbtest::RunCli({"--help"}).out.contains("\n  tags cover ФАЙЛ|ЛИСТ [--rows N,M-K]"));

  // A text named like a picture, and a picture over 16 MB: refused, nothing written.
  const QByteArray file = lbtest::ReadFile(path);
  lbtest::WriteFile(dir + "/notes.jpg", "не картинка");
  lbtest::WriteFile(dir + "/huge.jpg", Picture((16 << 20) + 1));
  for (const char* name : {"notes.jpg", "huge.jpg"}) {
    run = lbtest::RunCli({"tags", "cover", path, "--set", dir + "/" + name});
    EXPECT_NE(run.code, 0) << name;
    EXPECT_TRUE(run.err.contains(dir + "/" + name)) << run.err.toStdString();
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_TRUE(lbtest::ReadFile(path) == file) << name;
  }
}

}  // namespace

namespace {

// Puts the cover change into a one-song list synchronised with the file, lets
// between() look at the result, then undoes the change; each step must succeed.
void ChangeCoverAndUndo(const QString& path, const lbtags::TCoverRequest& request,
                        const std::function<void()>& between) {
  ScriptedUiServices ui;
  TSlDocument doc;
  doc.SetFileName(QFileInfo(path).absolutePath() + "/list.m3u");
  doc.InsertSong(TSlSong(nullptr, path, QString()), -1);
  doc.m_Songs[0].Sync();
  lbtags::TTagsEditRequest r;
  r.master1 = r.master2 = lbtags::TMaster::Untouched;
  r.cover = request;
  lbtags::TTagsBatchApply batch(doc, {0}, r);
  ASSERT_TRUE(batch.Run());
  ASSERT_EQ(batch.CoversSet(), 1);
  between();
  ASSERT_TRUE(batch.undo->Available(doc));
  ASSERT_TRUE(batch.undo->Run(doc, {}));
}

// A file from another tagger with two front covers and a back cover: a new cover takes
// the place of the first front cover only, the second and the back cover stay byte for
// byte (the new one is the one shown), and the undo gives the first one back.
TEST(CoverPeers, ASecondFrontCoverAndABackCoverStayAndUndoGivesBackTheFirst) {
  ASSERT_TRUE(modeltest::AttachID3Com());
  const QString dir = lbtest::NewTempDir();
  const QString source = dir + "/source.wav";
  MakeTone(source, "0.3", 48000, 1);
  // argv: path, then (type, mime, description, file) per picture, in the file's order.
  const char* const put = R"PY(
import sys, base64, mutagen
from mutagen.flac import Picture
from mutagen.id3 import APIC
f = mutagen.File(sys.argv[1]); a = sys.argv[2:]
if f.tags is None: f.add_tags()
blocks = []
for i in range(0, len(a), 4):
    p = Picture(); p.type = int(a[i]); p.mime = a[i + 1]; p.desc = a[i + 2]
    p.data = open(a[i + 3], "rb").read()
    if type(f).__name__ == "FLAC": f.add_picture(p)
    elif type(f).__name__ == "MP3": f.tags.add(APIC(encoding=3, mime=p.mime, type=p.type, desc=p.desc, data=p.data))
    else: blocks.append(base64.b64encode(p.write()).decode())
if blocks: f.tags["METADATA_BLOCK_PICTURE"] = blocks
f.save()
)PY";
  // The pictures in the file's order as "type mime description sha1".
  const char* const list = R"PY(
import sys, base64, hashlib, mutagen
from mutagen.flac import Picture
f = mutagen.File(sys.argv[1]); kind = type(f).__name__
if kind == "FLAC": pics = f.pictures
elif kind == "MP3": pics = f.tags.getall("APIC")
else: pics = [Picture(base64.b64decode(b)) for b in f.tags.get("METADATA_BLOCK_PICTURE", [])]
for p in pics: print(int(p.type), p.mime, p.desc, hashlib.sha1(p.data).hexdigest())
)PY";
  const QByteArray first = Picture(300), fresh = Picture(4000);
  const QByteArray second = QByteArray("\x89PNG\r\n\x1A\n", 8) + QByteArray(500, 's');
  const QByteArray back = QByteArray("\x89PNG\r\n\x1A\n", 8) + QByteArray(700, 'b');
  // (mutagen writes the frames of an MP3 file in the order of their sizes)
  const QStringList pictures{"3", "image/jpeg", "1 первая", dir + "/first.jpg",
                             "3", "image/png",  "2 вторая", dir + "/second.png",
                             "4", "image/png",  "3 задняя", dir + "/back.png"};
  lbtest::WriteFile(dir + "/first.jpg", first);
  lbtest::WriteFile(dir + "/second.png", second);
  lbtest::WriteFile(dir + "/back.png", back);
  const QString secondLine = "3 image/png 2 вторая " + Sha(second);
  const QString backLine = "4 image/png 3 задняя " + Sha(back);
  for (const char* extension : {"mp3", "flac", "opus"}) {
    SCOPED_TRACE(extension);
    const QString path = dir + "/song." + extension;
    EncodeAs(source, path);
    Tool(kPython, QStringList{"-c", put, path} + pictures);
    const QStringList before = Tool(kPython, {"-c", list, path}).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(before.size(), 3);
    ASSERT_EQ(before[0], "3 image/jpeg 1 первая " + Sha(first));

    lbtags::TCover shown;
    ChangeCoverAndUndo(path, {lbtags::TCoverRequest::Set, fresh}, [&] {
      const QStringList set = Tool(kPython, {"-c", list, path}).split('\n', Qt::SkipEmptyParts);
      const QStringList fronts = set.filter(QRegularExpression("^3 "));
      ASSERT_EQ(fronts.size(), 2) << set.join('\n').toStdString();
      // The new cover keeps the old one's description, for the undo to give it back.
      EXPECT_EQ(fronts[0], "3 image/jpeg 1 первая " + Sha(fresh));
      EXPECT_EQ(fronts[1], secondLine);
      EXPECT_TRUE(set.contains(backLine)) << set.join('\n').toStdString();
      EXPECT_EQ(set.size(), 3);
      ASSERT_TRUE(lbtags::ReadCover(path, &shown));
      EXPECT_TRUE(shown.data == fresh);
    });
    if (HasFatalFailure()) return;
    QStringList undone = Tool(kPython, {"-c", list, path}).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(undone.filter(QRegularExpression("^3 ")).value(0), before[0]);
    undone.sort();
    QStringList all = before;
    all.sort();
    EXPECT_EQ(undone, all);
    ASSERT_TRUE(lbtags::ReadCover(path, &shown));
    EXPECT_TRUE(shown.data == first);
  }
}

// An undo puts a removed or replaced cover back as it was: its description, its text
// encoding, its picture type and the MIME type the file stated, not only its bytes.
TEST(CoverPeers, UndoGivesTheCoverBackWhole) {
  ASSERT_TRUE(modeltest::AttachID3Com());
  const QString dir = lbtest::NewTempDir();
  const QString source = dir + "/source.wav";
  MakeTone(source, "0.3", 48000, 1);
  const QString picture = dir + "/cover.jpg";
  lbtest::WriteFile(picture, Picture(300));
  // argv: path, picture file. Two pictures marked "other": the cover (the first), a BMP
  // with a non-standard MIME type and a description in UTF-16, then a booklet page that
  // neither the change nor its undo may touch.
  const char* const put = R"PY(
import sys, base64, struct, mutagen
from mutagen.flac import Picture
from mutagen.id3 import APIC
f = mutagen.File(sys.argv[1])
bmp = b"BM" + struct.pack("<IHHIIiiHHIIiiII", 58, 0, 0, 54, 40, 1, 1, 1, 24, 0, 4, 0, 0, 0, 0) + b"\x10\x20\x30\0"
if f.tags is None: f.add_tags()
pics = []
for desc, data in (("Обложка альбома", bmp), ("Буклет", open(sys.argv[2], "rb").read())):
    p = Picture(); p.type = 0; p.mime = "image/jpg"; p.desc = desc; p.data = data; pics.append(p)
kind = type(f).__name__
if kind == "FLAC":
    for p in pics: f.add_picture(p)
elif kind == "MP3":
    for p in pics: f.tags.add(APIC(encoding=1, mime=p.mime, type=0, desc=p.desc, data=p.data))
elif kind == "MP4":
    from mutagen.mp4 import MP4Cover
    f.tags["covr"] = [MP4Cover(p.data, MP4Cover.FORMAT_JPEG) for p in pics]
elif kind == "ASF":
    from mutagen.asf import ASFByteArrayAttribute
    text = lambda s: s.encode("utf-16-le") + b"\0\0"
    f.tags["WM/Picture"] = [ASFByteArrayAttribute(struct.pack("<bi", 0, len(p.data)) + text(p.mime) + text(p.desc) + p.data) for p in pics]
else: f.tags["METADATA_BLOCK_PICTURE"] = [base64.b64encode(p.write()).decode() for p in pics]
f.save()
)PY";
  // "type mime description encoding sha1" per picture, in the file's order (encoding
  // "-1" outside ID3v2; an MP4 covr atom shows its sha1 alone, a WM/Picture its whole
  // value's).
  const char* const list = R"PY(
import sys, base64, hashlib, mutagen
from mutagen.flac import Picture
f = mutagen.File(sys.argv[1]); kind = type(f).__name__
sha = lambda b: hashlib.sha1(bytes(b)).hexdigest()
if kind == "FLAC": pics = f.pictures
elif kind == "MP3": pics = f.tags.getall("APIC")
elif kind in ("MP4", "ASF"):
    for c in f.tags.get("covr" if kind == "MP4" else "WM/Picture", []): print(sha(getattr(c, "value", c)))
    pics = []
else: pics = [Picture(base64.b64decode(b)) for b in f.tags.get("METADATA_BLOCK_PICTURE", [])]
for p in pics:
    print(int(p.type), p.mime, p.desc, int(getattr(p, "encoding", -1)), sha(p.data))
)PY";
  for (const char* extension : {"mp3", "flac", "opus", "m4a", "wma"})
    for (const auto kind : {lbtags::TCoverRequest::Remove, lbtags::TCoverRequest::Set}) {
      SCOPED_TRACE(std::string(extension) +
                   (kind == lbtags::TCoverRequest::Set ? " set" : " remove"));
      const QString path = dir + "/song." + extension;
      QFile::remove(path);
      EncodeAs(source, path);
      Tool(kPython, {"-c", put, path, picture});
      const QString before = Tool(kPython, {"-c", list, path});
      ASSERT_EQ(before.count('\n'), 2) << before.toStdString();

      ChangeCoverAndUndo(
          path, {kind, kind == lbtags::TCoverRequest::Set ? Picture(4000) : QByteArray()}, [&] {
            ASSERT_NE(Tool(kPython, {"-c", list, path}), before);
          });
      if (HasFatalFailure()) return;
      EXPECT_EQ(Tool(kPython, {"-c", list, path}), before);
    }
}

// A WMA file's first picture larger than 64 KB, another one after it, then a smaller
// one, all in the header's metadata library (language 0 makes mutagen put them there):
// a tag write and a new cover give them back in that order, so the cover stays first.
TEST(CoverPeers, WmaPicturesBehindALargeFirstOneKeepTheirOrder) {
  const QString dir = lbtest::NewTempDir();
  QProcess::execute(lbtest::BinDir() + "/lbregsvr", {lbtest::BinDir() + "/libid3com.so"});
  const QString source = dir + "/source.wav", path = dir + "/song.wma", cover = dir + "/cover.jpg";
  MakeTone(source, "0.3");
  EncodeAs(source, path);
  const QByteArray coverBytes = Picture(80000);
  lbtest::WriteFile(cover, coverBytes);
  // argv: path, then "put" or "list"; list prints "type sha1" per picture in order.
  const char* const pictures = R"PY(
import sys, os, struct, hashlib
from mutagen.asf import ASF, ASFByteArrayAttribute
f = ASF(sys.argv[1])
text = lambda s: s.encode("utf-16-le") + b"\0\0"
if sys.argv[2] == "put":
    f.tags["WM/Picture"] = [ASFByteArrayAttribute(struct.pack("<bi", t, n) + text("image/jpeg") + text(d) + b"\xff\xd8\xff\xe0" + os.urandom(n - 4), language=0)
                            for t, d, n in ((0, "cover", 70000), (4, "back", 66000), (0, "booklet", 300))]
    f.save()
for a in f.tags.get("WM/Picture", []):
    d = bytes(a.value); t, n = struct.unpack("<bi", d[:5]); print(t, hashlib.sha1(d[-n:]).hexdigest())
)PY";
  const QStringList before = Tool(kPython, {"-c", pictures, path, "put"}).split('\n');
  ASSERT_EQ(before.size(), 4);

  CliOk({"tags", "set", path, "title=Песня"});
  EXPECT_EQ(Tool(kPython, {"-c", pictures, path, "list"}).split('\n'), before);

  CliOk({"tags", "cover", path, "--set", cover});
  QStringList expected = before;
  expected[0] = "3 " + Sha(coverBytes);
  EXPECT_EQ(Tool(kPython, {"-c", pictures, path, "list"}).split('\n'), expected);
}

}  // namespace
