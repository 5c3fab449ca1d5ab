// `lbtools3-cli tags` on the formats besides MP3, with files made by the encoders the
// users' files come from and tagged by mutagen as other taggers tag them: the main tag
// reads with its kind, joined values and texts as stored, and a title change leaves
// every other key, value and picture, the tag's type and the decoded audio as they were;
// an ID3v1 tag goes only into the formats that carry one.
#include "CliRun.h"
#include "PeerTools.h"
#include "TestEnv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

namespace {

using namespace peertest;

constexpr const char* kPython = "/usr/bin/python3";

// argv: path. About twenty keys in the file's own tag: two artists, a free-text genre,
// "3/10", a full date, ReplayGain, MusicBrainz, album artist, disc, lyrics, a picture.
const char* const kTag = R"PY(
import sys, base64, struct
import mutagen
from mutagen.flac import Picture
path = sys.argv[1]
f = mutagen.File(path)
png = b"\x89PNG\r\n\x1a\n" + bytes(range(64)) * 4
common = {"title": "Старое", "album": "Альбом", "date": "2001-05-06", "genre": "Шансон-рок",
          "comment": "Комментарий", "composer": "Цой", "copyright": "(c) Кино",
          "albumartist": "Группа", "lyrics": "Слова песни",
          "replaygain_track_gain": "-6.50 dB", "replaygain_track_peak": "0.988",
          "replaygain_album_gain": "-7.10 dB", "musicbrainz_trackid": "0b1c-track",
          "musicbrainz_albumid": "0b1c-album", "musicbrainz_artistid": "0b1c-artist"}
artists = ["Первый", "Второй"]
kind = type(f).__name__
if kind in ("FLAC", "OggVorbis", "OggOpus", "OggFLAC", "OggSpeex"):
    if f.tags is None: f.add_tags()
    for k, v in common.items(): f.tags[k.upper()] = [v]
    f.tags["ARTIST"] = artists
    f.tags["TRACKNUMBER"] = ["3/10"]; f.tags["TRACKTOTAL"] = ["10"]; f.tags["DISCNUMBER"] = ["1"]
    pic = Picture(); pic.type = 3; pic.mime = "image/png"; pic.desc = "обложка"; pic.data = png
    if kind == "FLAC": f.add_picture(pic)
    else: f.tags["METADATA_BLOCK_PICTURE"] = [base64.b64encode(pic.write()).decode()]
elif kind == "MP4":
    from mutagen.mp4 import MP4Cover, MP4FreeForm
    t = f.tags if f.tags is not None else (f.add_tags() or f.tags)
    for k, a in [("title", "\xa9nam"), ("album", "\xa9alb"), ("date", "\xa9day"), ("genre", "\xa9gen"),
                 ("comment", "\xa9cmt"), ("composer", "\xa9wrt"), ("copyright", "cprt"),
                 ("albumartist", "aART"), ("lyrics", "\xa9lyr")]:
        t[a] = [common[k]]
    t["\xa9ART"] = artists; t["trkn"] = [(3, 10)]; t["disk"] = [(1, 2)]
    for k in [k for k in common if k.startswith(("replaygain", "musicbrainz"))]:
        t["----:com.apple.iTunes:" + k] = [MP4FreeForm(common[k].encode())]
    t["covr"] = [MP4Cover(png, MP4Cover.FORMAT_PNG)]
elif kind == "ASF":
    from mutagen.asf import ASFDWordAttribute, ASFByteArrayAttribute
    t = f.tags
    for k, a in [("title", "Title"), ("album", "WM/AlbumTitle"), ("date", "WM/Year"), ("genre", "WM/Genre"),
                 ("comment", "Description"), ("composer", "WM/Composer"), ("copyright", "Copyright"),
                 ("albumartist", "WM/AlbumArtist"), ("lyrics", "WM/Lyrics")]:
        t[a] = [common[k]]
    t["Author"] = artists; t["WM/TrackNumber"] = [ASFDWordAttribute(3)]; t["WM/PartOfSet"] = ["1/2"]
    for k in [k for k in common if k.startswith(("replaygain", "musicbrainz"))]:
        t[k] = [common[k]]
    mime, desc = "image/png".encode("utf-16-le") + b"\0\0", "обложка".encode("utf-16-le") + b"\0\0"
    t["WM/Picture"] = [ASFByteArrayAttribute(struct.pack("<bi", 3, len(png)) + mime + desc + png)]
elif kind in ("WavPack", "Musepack", "MonkeysAudio"):
    from mutagen.apev2 import APEValue, BINARY
    f.add_tags()
    for k, v in common.items(): f.tags[k.title() if k != "date" else "Year"] = v
    f.tags["Artist"] = "\0".join(artists); f.tags["Track"] = "3/10"; f.tags["Disc"] = "1"
    f.tags["Cover Art (Front)"] = APEValue(b"cover.png\0" + png, BINARY)
else:  # AIFF, WAVE: an ID3v2 chunk; TrueAudio: an ID3v2 tag
    from mutagen.id3 import (TIT2, TPE1, TALB, TDRC, TCON, COMM, TCOM, TCOP, TPE2, USLT, TXXX,
                             TRCK, TPOS, APIC)
    f.add_tags(); t = f.tags
    t.add(TIT2(encoding=1, text=common["title"])); t.add(TPE1(encoding=1, text=artists))
    t.add(TALB(encoding=1, text=common["album"])); t.add(TDRC(encoding=1, text=common["date"]))
    t.add(TCON(encoding=1, text=common["genre"])); t.add(TCOM(encoding=1, text=common["composer"]))
    t.add(COMM(encoding=1, lang="rus", desc="", text=common["comment"]))
    t.add(TCOP(encoding=1, text=common["copyright"])); t.add(TPE2(encoding=1, text=common["albumartist"]))
    t.add(USLT(encoding=1, lang="rus", desc="", text=common["lyrics"]))
    t.add(TRCK(encoding=1, text="3/10")); t.add(TPOS(encoding=1, text="1/2"))
    for k in [k for k in common if k.startswith(("replaygain", "musicbrainz"))]:
        t.add(TXXX(encoding=1, desc=k, text=common[k]))
    t.add(APIC(encoding=0, mime="image/png", type=3, desc="cover", data=png))
f.save()
)PY";

// Every key of the tag with its values in order (an empty one too), the title apart; the tag's
// type, the pictures of a FLAC file, and the file's first bytes (no tag put before them).
const char* const kDump = R"PY(
import sys, json
import mutagen
f = mutagen.File(sys.argv[1])
rest, title = {}, None
for k, v in f.tags.items():
    if k.lower() in ("title", "\xa9nam", "tit2"): title = str(v); continue
    rest.setdefault(k, []).append(repr(v))
pics = [repr((p.type, p.mime, p.desc, p.data)) for p in getattr(f, "pictures", [])]
print(json.dumps({"type": type(f.tags).__name__, "title": title, "rest": rest, "pictures": pics,
                  "head": open(sys.argv[1], "rb").read(4).hex()}, ensure_ascii=False))
)PY";

// argv: path. Debian has no Monkey's Audio encoder: a file of one frame made by hand,
// which TagLib and mutagen take as Monkey's Audio 3.99 (its tag goes after these bytes).
const char* const kApe = R"PY(
import sys, struct
frame = bytes(range(256)) * 4
descriptor = b"MAC " + struct.pack("<HHIIIIIII", 3990, 0, 52, 24, 4, 0, len(frame), 0, 0) + bytes(16)
header = struct.pack("<HHIIIHHI", 2000, 0, 73728 * 4, 1024, 1, 16, 2, 44100)
open(sys.argv[1], "wb").write(descriptor + header + struct.pack("<I", 80) + frame)
)PY";

// argv: path, "cp1251" or "empty". An item the tag library drops while reading: a value
// in Windows-1251 (put as "@@@@" and replaced by as many bytes; no Ogg, whose pages are
// checksummed) or an empty one.
const char* const kUnreadable = R"PY(
import sys, mutagen
from mutagen.apev2 import APEv2
path, what = sys.argv[1], sys.argv[2]
f = mutagen.File(path)
value = "@@@@" if what == "cp1251" else ""
if isinstance(f.tags, APEv2): f.tags["Artist"] = value
else: f.tags["ARTIST"] = [value]
f.save()
if what == "cp1251":
    data = open(path, "rb").read()
    assert data.count(b"@@@@") == 1
    open(path, "wb").write(data.replace(b"@@@@", "Кино".encode("cp1251")))
)PY";

struct Format {
  const char* extension;
  const char* kind;     // as `tags show` names the main tag
  const char* track;    // the track as shown: ASF holds the number alone
  bool v1;              // the format carries an ID3v1 tag
  const char* decoder;  // "ffmpeg"; "mpcdec" (ffmpeg reads no ID3v1 behind Musepack's
                        // APE tag); empty: no decoder, the encoded bytes are compared
  QStringList encode;   // its own encoder's command line (%1 the WAV, %2 the file made);
                        // empty: the usual encoder of the extension
};

void PrintTo(const Format& format, std::ostream* out) {
  *out << format.extension;
}

// The audio of the file: decoded, or its first bytes as encoded.
QByteArray Audio(const Format& format, const QString& path, qsizetype encoded) {
  const QString decoder = format.decoder;
  if (decoder == "ffmpeg")
    return Tool("ffmpeg", {"-v", "error", "-i", path, "-map", "0:a", "-f", "md5", "-"}).toUtf8();
  if (decoder.isEmpty()) return lbtest::ReadFile(path).left(encoded);
  const QString wav = path + ".decoded.wav";
  Tool(decoder, {path, wav});
  return lbtest::ReadFile(wav);
}

// One test a format, so that each has the whole time a test may take on a busy machine.
const Format kFormats[] = {
    {"flac", "Vorbis comment", "3/10", false, "ffmpeg", {}},
    {"oga", "Vorbis comment", "3/10", false, "ffmpeg", {}},
    {"ogg", "Vorbis comment", "3/10", false, "ffmpeg", {}},
    {"opus", "Vorbis comment", "3/10", false, "ffmpeg", {}},
    {"spx", "Vorbis comment", "3/10", false, "ffmpeg", {}},
    {"m4a", "MP4", "3/10", false, "ffmpeg", {}},
    {"wma", "ASF", "3", false, "ffmpeg", {}},
    {"wv", "APE", "3/10", true, "ffmpeg", {}},
    {"mpc", "APE", "3/10", true, "mpcdec", {}},
    {"ape", "APE", "3/10", true, "", {kPython, "-c", kApe, "%2"}},
    {"tta", "ID3v2", "3/10", true, "ffmpeg", {}},
    {"aiff", "ID3v2", "3/10", false, "ffmpeg", {}},
    {"wav", "ID3v2", "3/10", false, "ffmpeg", {}},
};

class FormatTagsPeersEach : public ::testing::TestWithParam<Format> {
 protected:
  static void SetUpTestSuite() {
    dir = lbtest::NewTempDir();
    QProcess::execute(lbtest::BinDir() + "/lbregsvr", {lbtest::BinDir() + "/libid3com.so"});
    source = dir + "/source.wav";
    MakeTone(source, "0.5");
  }
  static inline QString dir, source;
};

TEST_P(FormatTagsPeersEach, ReadAndTitleChangeKeepEverythingElse) {
  const Format& format = GetParam();
  const QString path = dir + "/song." + format.extension;
  if (format.encode.isEmpty())
    EncodeAs(source, path);
  else
    Encode(format.encode, source, path);
  const qsizetype encoded = lbtest::ReadFile(path).size();
  Tool(kPython, {"-c", kTag, path});
  const QJsonObject before =
      QJsonDocument::fromJson(Tool(kPython, {"-c", kDump, path}).toUtf8()).object();
  const QByteArray audio = Audio(format, path, encoded);

  const QString shown = CliOk({"tags", "show", path});
  const QString head =
      QString(format.kind) == "ID3v2" ? "ID3v2:\n" : QString("ID3v2 (%1):\n").arg(format.kind);
  EXPECT_TRUE(shown.startsWith("ID3v1: нет\n" + head)) << shown.toStdString();
  for (const QString& line :
       {QString("title\tСтарое"), QString("artist\tПервый; Второй"), QString("year\t2001-05-06"),
        QString("genre\tШансон-рок"), QString("composer\tЦой"), "track\t" + QString(format.track)})
    EXPECT_TRUE(shown.contains("\n  " + line + "\n")) << line.toStdString() << "\n"
                                                      << shown.toStdString();

  CliOk({"tags", "set", path, "title=Новое"});
  const QJsonObject after =
      QJsonDocument::fromJson(Tool(kPython, {"-c", kDump, path}).toUtf8()).object();
  EXPECT_TRUE(after["title"].toString().contains("Новое"))
      << after["title"].toString().toStdString();
  for (const char* key : {"type", "pictures", "head"}) EXPECT_EQ(after[key], before[key]) << key;
  const QJsonObject kept = after["rest"].toObject(), had = before["rest"].toObject();
  EXPECT_EQ(kept.keys(), had.keys());
  for (const QString& key : had.keys())
    EXPECT_EQ(kept[key], had[key])
        << key.toStdString() << ": " << QJsonDocument(kept[key].toArray()).toJson().toStdString();
  EXPECT_EQ(Audio(format, path, encoded), audio);
  // The first record is written only where the format has one.
  const QString v1 = format.v1 ? "ID3v1:\n  title\tНовое\n" : "ID3v1: нет\n";
  const QString now = CliOk({"tags", "show", path});
  EXPECT_TRUE(now.startsWith(v1) && now.contains("\n  title\tНовое\n")) << now.toStdString();
  // A typed "; " is no separator where the key held one value; a track "N/M" puts both.
  CliOk({"tags", "set", path, "title=Prelude; Fugue in C", "track=5/12"});
  const QString typed = CliOk({"tags", "show", path});
  EXPECT_TRUE(typed.contains("\n  track\t5/12\n")) << typed.toStdString();
  const QJsonObject retitled =
      QJsonDocument::fromJson(Tool(kPython, {"-c", kDump, path}).toUtf8()).object();
  EXPECT_TRUE(retitled["title"].toString().contains("Prelude; Fugue in C"))
      << retitled["title"].toString().toStdString();
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, FormatTagsPeersEach, ::testing::ValuesIn(kFormats),
                         [](const ::testing::TestParamInfo<Format>& info) {
                           return std::string(info.param.extension);
                         });

// A write onto a full disk is reported and leaves the file whole; a file reached by a
// link, or with two hard links, is changed in its own place. Owner, mode and links stay.
TEST(FormatTagsPeers, FailedAndLinkedWritesKeepTheFile) {
  QProcess::execute(lbtest::BinDir() + "/lbregsvr", {lbtest::BinDir() + "/libid3com.so"});
  const QString source = lbtest::NewTempDir() + "/source.wav";
  MakeTone(source, "0.5");
  // kNotUtf8, kEmptyValue: an item the tag library cannot keep; the write is refused.
  enum Case { kFullDisk, kSymbolicLink, kHardLinks, kNotUtf8, kEmptyValue };
  const struct {
    Case what;
    const char* extension;
  } cases[] = {
      {kFullDisk, "flac"},    {kFullDisk, "ogg"},  {kFullDisk, "m4a"}, {kFullDisk, "opus"},
      {kSymbolicLink, "wma"}, {kHardLinks, "wv"},  {kNotUtf8, "wv"},   {kNotUtf8, "flac"},
      {kEmptyValue, "opus"},  {kEmptyValue, "wv"},
  };
  const bool root = ::geteuid() == 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extension + QString(" case %1").arg(c.what).toStdString());
    const QString made = lbtest::NewTempDir() + "/made." + c.extension;
    EncodeAs(source, made);
    Tool(kPython, {"-c", kTag, made});
    const bool refused = c.what == kFullDisk || c.what == kNotUtf8 || c.what == kEmptyValue;
    if (c.what == kNotUtf8 || c.what == kEmptyValue)
      Tool(kPython, {"-c", kUnreadable, made, c.what == kNotUtf8 ? "cp1251" : "empty"});
    const QByteArray original = lbtest::ReadFile(made);

    lbtest::SmallFileSystem disk(1024);
    if (c.what == kFullDisk && !disk.Ok()) continue;  // mounting needs root
    const QString dir = c.what == kFullDisk ? disk.Path() : lbtest::NewTempDir();
    const QString path = dir + "/song." + c.extension;
    ASSERT_TRUE(lbtest::WriteFile(path, original));
    const QByteArray name = QFile::encodeName(path);
    ASSERT_EQ(::chmod(name.constData(), 0640), 0);
    if (root) {
      ASSERT_EQ(::chown(name.constData(), 65534, 65534), 0);
    }
    QString target = path;  // the name the command is given
    if (c.what == kSymbolicLink) {
      target = lbtest::NewTempDir() + "/link." + c.extension;
      ASSERT_EQ(::symlink(name.constData(), QFile::encodeName(target).constData()), 0);
    } else if (c.what == kHardLinks) {
      ASSERT_EQ(::link(name.constData(), QFile::encodeName(dir + "/other").constData()), 0);
    }
    // The copy fits on the disk; the new tag, far longer than the old one, does not.
    if (c.what == kFullDisk) disk.Fill(original.size() / 4096 + 2);
    struct stat before {};
    ::stat(name.constData(), &before);

    const lbtest::CliRun set =
        lbtest::RunCli({"tags", "set", "--v2", target, "title=" + QString(30000, QChar(0x0416))});
    struct stat after {};
    ::stat(name.constData(), &after);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(after.st_nlink, before.st_nlink);
    if (refused) {
      EXPECT_NE(set.code, 0);
      EXPECT_TRUE(set.err.contains(path)) << set.err.toStdString();
      if (c.what != kFullDisk) {
        EXPECT_TRUE(set.err.contains("без потери")) << set.err.toStdString();
      }
      EXPECT_TRUE(lbtest::ReadFile(path) == original);
      QStringList left = QDir(dir).entryList(QDir::Files | QDir::Hidden);
      left.removeAll("filler");
      EXPECT_EQ(left, QStringList{QFileInfo(path).fileName()});
    } else {
      EXPECT_EQ(set.code, 0) << set.err.toStdString();
      EXPECT_TRUE(QFileInfo(target).isSymLink() == (c.what == kSymbolicLink));
      if (c.what == kHardLinks) {
        EXPECT_EQ(after.st_ino, before.st_ino);  // rewritten in place: both names see it
      }
      const QJsonObject tags =
          QJsonDocument::fromJson(Tool(kPython, {"-c", kDump, path}).toUtf8()).object();
      EXPECT_TRUE(tags["title"].toString().contains(QString(30000, QChar(0x0416))));
    }
  }
}

// Writers at once each keep their edit; the copy a killed writer left beside the song
// is no song for a scan, and the next write in the folder removes it.
TEST(FormatTagsPeers, WritersLoseNoEditAndLeaveNoSongs) {
  QProcess::execute(lbtest::BinDir() + "/lbregsvr", {lbtest::BinDir() + "/libid3com.so"});
  const QString source = lbtest::NewTempDir() + "/source.wav";
  MakeTone(source, "20");
  const QString dir = lbtest::NewTempDir();
  const QString song = dir + "/song.flac";
  Tool("flac", {"-s", "-o", song, source});
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ASSERT_GT(gone, 0);
  ::waitpid(gone, nullptr, 0);
  const QString left = dir + "/.song.flac.lbtools-" + QString::number(gone) + "-Ab12Cd";
  ASSERT_TRUE(lbtest::WriteFile(left, lbtest::ReadFile(song)));

  const QString scanned = CliOk({"scan", dir});
  EXPECT_TRUE(scanned.contains(song) && !scanned.contains("lbtools")) << scanned.toStdString();

  std::vector<std::thread> writers;
  for (const char* edit : {"title=Один", "album=Два", "composer=Три"})
    writers.emplace_back([&song, edit] { CliOk({"tags", "set", song, QString::fromUtf8(edit)}); });
  for (std::thread& w : writers) w.join();
  const QString shown = CliOk({"tags", "show", song});
  for (const char* line : {"title\tОдин", "album\tДва", "composer\tТри"})
    EXPECT_TRUE(shown.contains(QString::fromUtf8(line))) << shown.toStdString();
  EXPECT_FALSE(QFileInfo::exists(left));
}

}  // namespace
