// The list commands over a folder of mixed formats made by their encoders: scanning,
// synchronising, the batch edit (mutagen reads every other key unchanged), finding,
// renaming and organizing by tags, the report and the files information.
#include "CliRun.h"
#include "PeerTools.h"
#include "TestEnv.h"

#include "platform/FileSystem.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

using namespace peertest;

// argv: path. Every key of the file's tags with its values, and the file's first bytes.
const char* const kDump = R"PY(
import sys, json
import mutagen
f = mutagen.File(sys.argv[1])
tags = {k: repr(v) for k, v in f.tags.items()} if f.tags is not None else {}
print(json.dumps({"tags": tags, "head": open(sys.argv[1], "rb").read(4).hex()},
                 ensure_ascii=False))
)PY";

QJsonObject Dump(const QString& path) {
  return QJsonDocument::fromJson(Tool("/usr/bin/python3", {"-c", kDump, path}).toUtf8()).object();
}

QStringList ListEntries(const QString& list) {
  QStringList entries;
  for (const QString& line : CliOk({"list", "show", list}).split('\n', Qt::SkipEmptyParts))
    entries << line.section('\t', 0, 0);
  return entries;
}

struct Format {
  const char* extension;
  QStringList encode;    // %1 the source WAV, %2 the file made
  const char* albumKey;  // the album's key as mutagen names it
};

TEST(FormatListPeers, ScanSyncEditFindRenameOrganizeReport) {
  const QString dir = lbtest::NewTempDir();
  QProcess::execute(lbtest::BinDir() + "/lbregsvr", {lbtest::BinDir() + "/libid3com.so"});
  const QString source = dir + "/source.wav";
  MakeTone(source, "0.3");
  const Format formats[] = {
      {"mp3", {"ffmpeg", "-v", "error", "-i", "%1", "-c:a", "libmp3lame", "%2"}, "TALB"},
      {"flac", {"flac", "-s", "-o", "%2", "%1"}, "album"},
      {"opus", {"opusenc", "--quiet", "%1", "%2"}, "album"},
      {"m4a", {"ffmpeg", "-v", "error", "-i", "%1", "-c:a", "aac", "%2"}, "\u00a9alb"},
      {"wma", {"ffmpeg", "-v", "error", "-i", "%1", "-c:a", "wmav2", "%2"}, "WM/AlbumTitle"},
  };
  const int count = int(std::size(formats));
  QDir().mkpath(dir + "/in");
  lbtest::WriteFile(dir + "/in/notes.txt", "no music");
  QStringList paths;
  QList<QJsonObject> before;
  for (int i = 0; i < count; ++i) {
    const Format& format = formats[i];
    const QString path = QString("%1/in/%2.%3").arg(dir).arg(i + 1).arg(format.extension);
    Encode(format.encode, source, path);
    CliOk({"tags", "set", path, QString("title=Песня %1").arg(i + 1),
           QString("artist=Группа %1").arg(i + 1)});
    paths << path;
    before << Dump(path);
  }

  const QString list = dir + "/mix.m3u";
  EXPECT_EQ(CliOk({"scan", dir + "/in", "--into", list}),
            QString("Песен найдено: %1\n").arg(count));
  EXPECT_EQ(ListEntries(list), paths);
  EXPECT_TRUE(CliOk({"list", "sync", list}).startsWith("Синхронизировано песен: 5"));

  // The batch edit writes the album into every file's own tag and nothing else.
  EXPECT_EQ(CliOk({"tags", "edit", list, "--all", "album=Сборник"}).count('\n'), count);
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE(formats[i].extension);
    QJsonObject after = Dump(paths[i]), had = before[i];
    QJsonObject tags = after["tags"].toObject(), hadTags = had["tags"].toObject();
    EXPECT_TRUE(tags.take(formats[i].albumKey).toString().contains("Сборник"));
    EXPECT_EQ(tags, hadTags);
    EXPECT_EQ(after["head"], had["head"]);  // a FLAC file stays "fLaC", no ID3v2 before it
  }
  EXPECT_EQ(CliOk({"find", "Сборник", "--fields", "13", list}), list + "\t5\t1 2 3 4 5\n");

  // The default mask's ID3v1 artist and title come from the main tag of a file without
  // ID3v1; the MP3 file has both tags.
  CliOk({"rename", list, "--mask", "%2 - %1.%e"});
  QStringList renamed;
  for (int i = 0; i < count; ++i)
    renamed
        << QString("%1/in/Группа %2 - Песня %2.%3").arg(dir).arg(i + 1).arg(formats[i].extension);
  EXPECT_EQ(ListEntries(list), renamed);

  CliOk({"--yes", "organize", list, "--root", dir + "/M", "--by", "2", "--move"});
  QStringList organized;
  for (int i = 0; i < count; ++i)
    organized << QString("%1/M/Группа %2/Группа %2 - Песня %2.%3")
                     .arg(dir)
                     .arg(i + 1)
                     .arg(formats[i].extension);
  EXPECT_EQ(ListEntries(list), organized);
  for (const QString& path : organized) EXPECT_TRUE(lb::FileExists(path)) << path.toStdString();

  // Renamed and moved, the songs still follow their files' tags.
  Tool("/usr/bin/python3", {"-c",
                            "import sys, mutagen\n"
                            "f = mutagen.File(sys.argv[1]); f['title'] = ['Песня 2b']; f.save()",
                            organized[1]});
  CliOk({"report", "--text", "--fields", "11,13", "--out", dir + "/report.txt", list});
  const QString report = QString::fromUtf8(lbtest::ReadFile(dir + "/report.txt"));
  for (int i = 0; i < count; ++i)
    EXPECT_TRUE(report.contains(
        QRegularExpression(QString("Песня %1%2 +\\| Сборник").arg(i + 1).arg(i == 1 ? "b" : ""))))
        << report.toStdString();

  EXPECT_TRUE(CliOk({"files-info", list})
                  .endsWith("\nТэги: ID3v2 (1), Vorbis comment (2), MP4 (1), ASF (1)\n"));
}

}  // namespace
