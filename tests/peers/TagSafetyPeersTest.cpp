// What `lbtools3-cli tags set` leaves in files that other programs wrote: mutagen
// builds the tags (and corrupts them as faulty writers do) and reads the result, every
// frame compared by value; Python's wave module reads a WAV file that was refused.
#include "id3com/Mp3Files.h"
#include "support/CliRun.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kPython = "/usr/bin/python3";

// argv: path, major version (3 or 4). Frames of every kind the component does not
// handle, a genre outside the ID3v1 table, "3/10", a full date, a player's comment.
const char* const kBuild = R"PY(
import sys
from mutagen.id3 import (ID3, TIT2, TPE1, TALB, TCON, TRCK, COMM, APIC, USLT, TXXX, PRIV, POPM,
                         TDRC, RVA2, TMOO, TDRL, CTOC, CTOCFlags, CHAP, TYER)
path, v = sys.argv[1], int(sys.argv[2])
t = ID3()
t.add(TIT2(encoding=1, text="Старое"))
t.add(TPE1(encoding=1, text="Кино"))
t.add(TALB(encoding=1, text="Альбом"))
t.add(TCON(encoding=1, text="Шансон"))
t.add(TRCK(encoding=1, text="3/10"))
t.add(COMM(encoding=1, lang="eng", desc="iTunNORM", text=" 00000A2B 00000B3C"))
t.add(COMM(encoding=1, lang="rus", desc="", text="Мой комментарий"))
t.add(APIC(encoding=0, mime="image/png", type=3, desc="cover", data=b"\x89PNG" + bytes(range(256)) * 8))
t.add(USLT(encoding=1, lang="rus", desc="", text="Слова песни"))
t.add(TXXX(encoding=1, desc="MusicBrainz Album Id", text="abc-123"))
t.add(PRIV(owner="WM/MediaClassPrimaryID", data=b"\x01\x02\x03"))
t.add(POPM(email="Windows Media Player 9 Series", rating=196, count=3))
if v == 4:
    t.add(TDRC(encoding=1, text="2001-05-06"))
    t.add(RVA2(desc="track", channel=1, gain=-3.5, peak=0.9))
    t.add(TMOO(encoding=1, text="Грусть"))
    t.add(TDRL(encoding=1, text="2002-01-02"))
    t.add(CTOC(element_id="toc", flags=CTOCFlags.TOP_LEVEL | CTOCFlags.ORDERED,
               child_element_ids=["ch0", "ch1"], sub_frames=[TIT2(encoding=1, text="Оглавление")]))
    t.add(CHAP(element_id="ch0", start_time=0, end_time=1000, sub_frames=[TIT2(encoding=1, text="Глава 1")]))
    t.add(CHAP(element_id="ch1", start_time=1000, end_time=2000, sub_frames=[TIT2(encoding=1, text="Глава 2")]))
else:
    t.add(TYER(encoding=1, text="2001"))
t.save(path, v2_version=v)
)PY";

// Every frame by its key with its whole value (in whatever text encoding).
const char* const kDump = R"PY(
import sys, json, re
from mutagen.id3 import ID3
t = ID3(sys.argv[1], translate=False)
value = lambda f: re.sub(r"encoding=<[^>]*>, ", "", repr(f))
print(json.dumps({"version": "%d.%d" % t.version[:2],
                  "frames": {k: value(f) for k, f in t.items()}}, ensure_ascii=False))
)PY";

// argv: path, fault. A v2.4 tag as mutagen writes it, then damaged: "popm" gives the
// rating frame a wrong size, "plain" writes every frame size as a plain integer.
const char* const kDamage = R"PY(
import sys, struct
from mutagen.id3 import ID3, TIT2, COMM, POPM, TPE1, TALB, TCOM, TRCK
path, fault = sys.argv[1], sys.argv[2]
t = ID3()
t.add(TIT2(encoding=1, text="Название"))
t.add(COMM(encoding=1, lang="rus", desc="", text="Длинный комментарий " * 12))
t.add(POPM(email="Windows Media Player 9 Series", rating=196, count=3))
t.add(TPE1(encoding=1, text="Исполнитель"))
t.add(TALB(encoding=1, text="Альбом"))
t.add(TCOM(encoding=1, text="Композитор"))
t.add(TRCK(encoding=1, text="3/10"))
t.save(path, v2_version=4)
data = bytearray(open(path, "rb").read())
def syncsafe(b): return (b[0] << 21) | (b[1] << 14) | (b[2] << 7) | b[3]
end, pos = 10 + syncsafe(data[6:10]), 10
while pos < end and data[pos] != 0:
    fid, size = bytes(data[pos:pos + 4]), syncsafe(data[pos + 4:pos + 8])
    if fault == "plain":
        data[pos + 4:pos + 8] = struct.pack(">I", size)
    elif fid == b"POPM":
        data[pos + 4:pos + 8] = bytes([0, 0, 3, 0x55])
    pos += 10 + size
open(path, "wb").write(data)
)PY";

QString Run(const QString& program, const QStringList& args, int* code = nullptr,
            QString* err = nullptr) {
  QProcess p;
  p.start(program, args);
  p.waitForFinished(60000);
  if (code) *code = p.exitCode();
  if (err) *err = QString::fromUtf8(p.readAllStandardError());
  return QString::fromUtf8(p.readAllStandardOutput());
}

QString Python(const char* script, const QStringList& args) {
  int code = -1;
  QString err;
  QString out = Run(kPython, QStringList{"-c", script} + args, &code, &err);
  EXPECT_EQ(code, 0) << err.toStdString();
  return out;
}

QJsonObject Dump(const QString& path) {
  return QJsonDocument::fromJson(Python(kDump, {path}).toUtf8()).object();
}

QString Frame(const QJsonObject& dump, const QString& key) {
  return dump["frames"].toObject()[key].toString();
}

using lbtest::CliRun;
using lbtest::RunCli;

class TagSafetyPeers : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    QProcess::execute(lbtest::BinDir() + "/lbregsvr", {lbtest::BinDir() + "/libid3com.so"});
  }
  QString dir = lbtest::NewTempDir();

  QString Mp3(const QString& name, const QByteArray& tag = {}) {
    const QString path = dir + "/" + name;
    EXPECT_TRUE(lbtest::WriteFile(path, tag + lbtest::Mp3Audio(40)));
    return path;
  }
  QString Built(const QString& name, int version) {
    const QString path = Mp3(name);
    Python(kBuild, {path, QString::number(version)});
    return path;
  }
  // Every frame but the changed ones keeps its value; the version stays.
  static void ExpectKept(const QJsonObject& before, const QJsonObject& after,
                         const QStringList& changed) {
    EXPECT_EQ(after["version"], before["version"]);
    const QJsonObject b = before["frames"].toObject(), a = after["frames"].toObject();
    EXPECT_EQ(a.keys(), b.keys());
    for (const QString& key : b.keys())
      if (!changed.contains(key)) {
        EXPECT_EQ(a[key].toString(), b[key].toString()) << key.toStdString();
      }
  }
};

TEST_F(TagSafetyPeers, TitleChangeKeepsEveryOtherFrameAndTheVersion) {
  for (int version : {4, 3}) {
    SCOPED_TRACE(version);
    const QString path = Built(QString("v%1.mp3").arg(version), version);
    const QJsonObject before = Dump(path);
    const CliRun set = RunCli({"tags", "set", path, "--v2", "title=Новое"});
    ASSERT_EQ(set.code, 0) << set.err.toStdString();
    const QJsonObject after = Dump(path);
    EXPECT_EQ(after["version"].toString(), QString(version == 4 ? "2.4" : "2.3"));
    ExpectKept(before, after, {"TIT2"});
    EXPECT_TRUE(Frame(after, "TIT2").contains("Новое"));
    EXPECT_TRUE(lbtest::ReadFile(path).endsWith(lbtest::Mp3Audio(40)));

    // The comment is the one without a description; the player's own stays.
    const CliRun show = RunCli({"tags", "show", path});
    EXPECT_TRUE(show.out.contains("comment\tМой комментарий")) << show.out.toStdString();
    ASSERT_EQ(RunCli({"tags", "set", path, "--v2", "comment=Новый"}).code, 0);
    const QJsonObject commented = Dump(path);
    ExpectKept(after, commented, {"COMM::rus"});
    EXPECT_TRUE(Frame(commented, "COMM::rus").contains("Новый"));
  }
}

TEST_F(TagSafetyPeers, OldAndNewTagsAreWrittenAsV23WithAnEmptyDescriptionComment) {
  const QString v22 = Mp3("v22.mp3", lbtest::Id3v2(2, {{"TT2", lbtest::TextBody("Old")},
                                                       {"TP1", lbtest::TextBody("Artist")}}));
  const QString none = Mp3("none.mp3");
  for (const QString& path : {v22, none}) {
    ASSERT_EQ(RunCli({"tags", "set", path, "--v2", "title=Новое", "comment=Текст"}).code, 0);
    const QJsonObject after = Dump(path);
    EXPECT_EQ(after["version"].toString(), "2.3");
    EXPECT_TRUE(after["frames"].toObject().contains("COMM::eng")) << path.toStdString();
  }
  EXPECT_TRUE(Frame(Dump(v22), "TPE1").contains("Artist"));
}

TEST_F(TagSafetyPeers, UrlsAreStoredEncodedAndShownDecoded) {
  const QString path = Mp3("url.mp3");
  ASSERT_EQ(RunCli({"tags", "set", path, "--v2", "url=http://пример.рф/путь"}).code, 0);
  EXPECT_TRUE(
      Frame(Dump(path), "WXXX:").contains("http://xn--e1afmkfd.xn--p1ai/%D0%BF%D1%83%D1%82%D1%8C"));
  EXPECT_TRUE(RunCli({"tags", "show", path}).out.contains("url\thttp://пример.рф/путь"));
}

TEST_F(TagSafetyPeers, DamagedTagsAreReadAroundTheFaultAndNeverRewritten) {
  for (const char* fault : {"popm", "plain"}) {
    SCOPED_TRACE(fault);
    const QString path = Mp3(QString(fault) + ".mp3");
    Python(kDamage, {path, fault});
    const QByteArray before = lbtest::ReadFile(path);
    const CliRun show = RunCli({"tags", "show", path});
    for (const char* line : {"title\tНазвание", "artist\tИсполнитель", "album\tАльбом",
                             "composer\tКомпозитор", "track\t3", "comment\tДлинный комментарий"})
      EXPECT_TRUE(show.out.contains(QString::fromUtf8(line))) << show.out.toStdString();
    const CliRun set = RunCli({"tags", "set", path, "--v2", "title=X"});
    if (QByteArrayView(fault) == "plain" && set.code == 0) {
      // TagLib read this one whole: the rewrite must then keep every frame.
      const QJsonObject after = Dump(path);
      EXPECT_EQ(after["frames"].toObject().size(), 7);
      EXPECT_TRUE(Frame(after, "POPM:Windows Media Player 9 Series").contains("rating=196"));
      continue;
    }
    EXPECT_EQ(set.code, 1);
    EXPECT_TRUE(set.err.contains("повреждён")) << set.err.toStdString();
    EXPECT_TRUE(set.err.contains(path));
    EXPECT_TRUE(lbtest::ReadFile(path) == before);
  }
}

TEST_F(TagSafetyPeers, WavFilesGetTheirTagInAChunkAndStayReadable) {
  const QString path = dir + "/song.wav";
  Python(
      "import sys, wave\nw = wave.open(sys.argv[1], 'wb')\nw.setnchannels(1)\n"
      "w.setsampwidth(2)\nw.setframerate(8000)\nw.writeframes(bytes(1600))\nw.close()",
      {path});
  const CliRun set = RunCli({"tags", "set", path, "title=X"});
  EXPECT_EQ(set.code, 0) << set.err.toStdString();
  EXPECT_TRUE(lbtest::ReadFile(path).startsWith("RIFF"));
  EXPECT_EQ(
      Python("import sys, wave\nprint(wave.open(sys.argv[1]).getnframes())", {path}).trimmed(),
      "800");
  EXPECT_TRUE(RunCli({"tags", "show", path}).out.contains("\n  title\tX\n"));
  // The --v1 tag has no place in a WAV file.
  const CliRun v1 = RunCli({"tags", "set", "--v1", path, "title=Y"});
  EXPECT_EQ(v1.code, 1);
  EXPECT_TRUE(v1.err.contains("не бывает тэга ID3v1")) << v1.err.toStdString();
}

TEST_F(TagSafetyPeers, RewritesKeepOwnerModeAndWorkInAFolderThatRefusesNewFiles) {
  const QString path = Built("owned.mp3", 3);
  ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0664), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
  }
  struct stat before {};
  ::stat(QFile::encodeName(path).constData(), &before);
  const QJsonObject tags = Dump(path);
  {
    lbtest::ReadOnlyFolder locked(dir);
    if (!locked.Ok()) GTEST_SKIP() << "no folder here refuses new files";
    // A title far longer than the old tag's padding: the audio must move.
    const CliRun set =
        RunCli({"tags", "set", path, "--v2", "title=" + QString(3000, QChar(0x0416))});
    ASSERT_EQ(set.code, 0) << set.err.toStdString();
  }
  struct stat after {};
  ::stat(QFile::encodeName(path).constData(), &after);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(after.st_mode, before.st_mode);
  ExpectKept(tags, Dump(path), {"TIT2"});
  EXPECT_TRUE(lbtest::ReadFile(path).endsWith(lbtest::Mp3Audio(40)));
  EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

}  // namespace
