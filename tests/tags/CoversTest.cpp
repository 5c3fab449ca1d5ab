// Covers: how pictures are told and named, and the tags editor's cover apply over
// MP3 files with its counts and undo.
#include "TagsTestUtil.h"

#include "CliRun.h"
#include "TestEnv.h"
#include "lbtools3/tags/TagsApply.h"
#include "platform/ImageTypes.h"
#include "platform/ScriptedUiServices.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <functional>

#include <gtest/gtest.h>

using namespace lbtags;

namespace {

QByteArray Jpeg(char fill, int size = 600) {
  return QByteArray("\xFF\xD8\xFF\xE0", 4) + QByteArray(size, fill);
}

TEST(CoverRules, PicturesAreToldByTheirBytesAndFolderPicturesByName) {
  const struct {
    QByteArray bytes;
    const char* mime;
  } kinds[] = {
      {Jpeg('a'), "image/jpeg"},
      {QByteArray("\x89PNG\r\n\x1A\n....", 12), "image/png"},
      {"GIF89a....", "image/gif"},
      {QByteArray("RIFF\x10\0\0\0WEBPVP8 ....", 20), "image/webp"},
      {QByteArray("RIFF\x10\0\0\0WAVEfmt ....", 20), ""},  // a sound, not a picture
      {"<html>cover</html>", ""},
      {"", ""},
  };
  for (const auto& k : kinds) EXPECT_EQ(lb::ImageMimeOf(k.bytes), k.mime) << k.bytes.toStdString();
  EXPECT_TRUE(CoverRefusal(Jpeg('a'), "x").isEmpty());
  EXPECT_EQ(CoverRefusal("text", "a.jpg"), QString::fromUtf8(kNotImage).arg("a.jpg"));
  EXPECT_EQ(CoverRefusal(Jpeg('a', 16 << 20), "big.jpg"),
            QString::fromUtf8(kImageTooLarge).arg("big.jpg"));

  EXPECT_EQ(CoverCaption(600, 600, "image/jpeg", 85 * 1024), "600×600, JPEG, 85 КБ");
  EXPECT_EQ(ExportFileName(3, "/m/Песня.01.mp3", QByteArray("\x89PNG\r\n\x1A\n.", 9)),
            "03 - Песня.01.png");
  EXPECT_EQ(ExportFileName(112, "/m/a.flac", Jpeg('a')), "112 - a.jpg");

  // Folders: the picture each song takes.
  const struct {
    QStringList files;
    const char* picture;  // empty: none
  } folders[] = {
      {{"song.mp3", "back.png", "Cover.JPG"}, "Cover.JPG"},
      {{"song.mp3", "FOLDER.jpeg", "scan.png"}, "FOLDER.jpeg"},
      {{"song.mp3", "front.png", "a.png"}, "front.png"},
      {{"song.mp3", "booklet.PNG"}, "booklet.PNG"},  // the only picture
      {{"song.mp3", "a.png", "b.jpg"}, ""},
      {{"song.mp3", "cover.txt"}, ""},
      {{"song.mp3", "!cover.jpg", "Front.jpeg"}, "Front.jpeg"},  // "!": bytes of no picture
      {{"song.mp3", "!cover.jpg", "a.png"}, "cover.jpg"},        // named, so the user hears
  };
  for (const auto& f : folders) {
    const QString dir = lbtest::NewTempDir();
    for (const QString& name : f.files) {
      const bool picture = !name.startsWith(u'!');
      lbtest::WriteFile(dir + "/" + QString(name).remove(u'!'),
                        picture ? QByteArray("\xFF\xD8\xFF\xE0x") : QByteArray("x"));
    }
    const QString found = FolderPictureOf(dir + "/song.mp3");
    EXPECT_EQ(found, *f.picture ? dir + "/" + f.picture : QString())
        << f.files.join(' ').toStdString();
  }
}

class CoversApplyTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(modeltest::AttachID3Com()); }
  QString Song(const QString& folder) {
    QDir().mkpath(dir + "/" + folder);
    return tagstest::MakeTagged(dir + "/" + folder + "/song.mp3", "Песня", "Артист");
  }
  static QByteArray CoverOf(const QString& path) {
    TCover cover;
    EXPECT_TRUE(ReadCover(path, &cover));
    return cover.data;
  }
  QString dir = lbtest::NewTempDir();
  ScriptedUiServices ui;
  TSlDocument doc;
};

TEST_F(CoversApplyTest, FolderPicturesAreCountedAndUndoBringsTheOldCoversBack) {
  // Song 0 has an old cover and a new folder picture; song 1 has no picture in its
  // folder; song 2's folder picture is the cover it has already.
  const QStringList paths{Song("a"), Song("b"), Song("c")};
  ASSERT_EQ(WriteCover(paths[0], Jpeg('o')), "");
  ASSERT_EQ(WriteCover(paths[2], Jpeg('c')), "");
  lbtest::WriteFile(dir + "/a/cover.jpg", Jpeg('n'));
  lbtest::WriteFile(dir + "/c/Front.JPG", Jpeg('c'));
  tagstest::FillSynced(doc, dir, paths);
  const QStringList frames0 = tagstest::MutagenFrames(paths[0]);

  TTagsEditRequest r;
  r.master1 = r.master2 = TMaster::Untouched;
  r.cover.kind = TCoverRequest::FromFolder;
  TTagsBatchApply batch(doc, {0, 1, 2}, r);
  ASSERT_TRUE(batch.Run());
  EXPECT_EQ(CoverOf(paths[0]), Jpeg('n'));
  EXPECT_TRUE(CoverOf(paths[1]).isEmpty());
  EXPECT_EQ(CoverOf(paths[2]), Jpeg('c'));
  ASSERT_FALSE(ui.Messages().isEmpty());
  EXPECT_EQ(ui.Messages().back().text, QString::fromUtf8(kCoverSummary).arg(1).arg(1).arg(1));
  // The picture's frame is the one thing that changed in the tag.
  QStringList framesNow = tagstest::MutagenFrames(paths[0]);
  EXPECT_EQ(framesNow.filter("APIC").size(), 1);
  EXPECT_EQ(framesNow.filter(QRegularExpression("^(?!APIC)")),
            frames0.filter(QRegularExpression("^(?!APIC)")));
  EXPECT_EQ(doc.m_Songs[0].m_Tag2.Title, "Песня");

  ASSERT_TRUE(batch.undo->Available(doc));
  EXPECT_EQ(batch.undo->Count(), 1);
  EXPECT_TRUE(batch.undo->Run(doc, {}));
  EXPECT_EQ(CoverOf(paths[0]), Jpeg('o'));

  // Single mode: a removal with the fields, and its undo.
  TTagsUndo undo;
  TTagsEditRequest single;
  single.cover.kind = TCoverRequest::Remove;
  ASSERT_TRUE(ApplySingle(doc.m_Songs[2], single, &undo));
  EXPECT_TRUE(CoverOf(paths[2]).isEmpty());
  ASSERT_TRUE(undo.Available(doc));
  EXPECT_TRUE(undo.Run(doc, {}));
  EXPECT_EQ(CoverOf(paths[2]), Jpeg('c'));
}

}  // namespace

namespace {

// A v2.2 tag keeps its picture in a PIC frame ("JPG" for a type); it reads as the cover
// and a new cover takes its place.
TEST_F(CoversApplyTest, AV22PictureFrameIsTheCover) {
  const QByteArray picture = Jpeg('p');
  const auto frame = [](const char* id, const QByteArray& body) {
    const int n = int(body.size());
    return QByteArray(id) + char(n >> 16) + char((n >> 8) & 0xFF) + char(n & 0xFF) + body;
  };
  const QByteArray frames = frame("TT2", QByteArray("\0Песня", 12)) +
                            frame("PIC", QByteArray("\0JPG\x03\0", 6) + picture);
  const int n = int(frames.size());
  const QByteArray header = QByteArray("ID3\x02\0\0", 6) + char((n >> 21) & 0x7F) +
                            char((n >> 14) & 0x7F) + char((n >> 7) & 0x7F) + char(n & 0x7F);
  QByteArray audio(4000, '\0');
  audio.replace(0, 4, QByteArray("\xFF\xFB\x90\x64", 4));
  const QString path = dir + "/v22.mp3";
  lbtest::WriteFile(path, header + frames + audio);
  EXPECT_EQ(CoverOf(path), picture);
  ASSERT_EQ(WriteCover(path, Jpeg('q')), "");
  EXPECT_EQ(CoverOf(path), Jpeg('q'));
  const QStringList frames2 = tagstest::MutagenFrames(path);
  EXPECT_EQ(frames2.filter("APIC").size(), 1) << frames2.join('\n').toStdString();
  EXPECT_TRUE(lbtest::ReadFile(path).endsWith(audio));
}

}  // namespace

namespace {

// A cover changed by another program after a batch is not overwritten by the undo: the
// undo is withdrawn when the user asks for it. A file merely touched keeps it.
TEST_F(CoversApplyTest, UndoIsWithdrawnWhenAnotherProgramChangesTheCover) {
  const struct {
    const char* what;
    std::function<void(const QString&)> outside;
    bool available;
  } cases[] = {
      {"touched", [](const QString& p) { modeltest::TouchLater(p, 5); }, true},
      {"other cover", [](const QString& p) { ASSERT_EQ(WriteCover(p, Jpeg('x')), ""); }, false},
      {"removed", [](const QString& p) { ASSERT_EQ(WriteCover(p, QByteArray()), ""); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TSlDocument document;
    const QStringList paths{Song(QString(c.what) + "1"), Song(QString(c.what) + "2")};
    ASSERT_EQ(WriteCover(paths[1], Jpeg('o')), "");
    tagstest::FillSynced(document, dir + "/" + c.what + "1", paths);
    TTagsEditRequest r;
    r.master1 = r.master2 = TMaster::Untouched;
    r.cover = {TCoverRequest::Set, Jpeg('n')};
    TTagsBatchApply batch(document, {0, 1}, r);
    ASSERT_TRUE(batch.Run());
    ASSERT_TRUE(batch.undo->Available(document));
    c.outside(paths[1]);
    // The menu's regular look never reads the files: the undo is withdrawn when asked for.
    EXPECT_TRUE(batch.undo->Available(document));
    EXPECT_EQ(batch.undo->FilesUnchanged(), c.available);
    if (c.available) {
      EXPECT_TRUE(batch.undo->Run(document, {}));
      EXPECT_EQ(CoverOf(paths[1]), Jpeg('o'));
      EXPECT_TRUE(CoverOf(paths[0]).isEmpty());
    }
  }
}

}  // namespace

namespace {

// Export names a picture by its kind (GIF and WebP as well); bytes of no known kind
// (a BMP another tagger put in) are not written, by the command or the window, and the
// user is told.
TEST_F(CoversApplyTest, CoversAreSavedUnderTheirKindsExtensionAndNonPicturesAreNot) {
  const QByteArray bmp = "BM" + QByteArray(100, 'b');
  const struct {
    QByteArray picture;
    const char* saved;  // empty: nothing is written
  } cases[] = {
      {"GIF89a" + QByteArray(50, 'g'), "01 - song.gif"},
      {QByteArray("RIFF\x10\0\0\0WEBPVP8 ....", 20), "01 - song.webp"},
      {bmp, ""},
  };
  const QString out = lbtest::NewTempDir();
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.saved);
    const QString path = Song(QString::number(++n));
    if (*c.saved) {
      ASSERT_EQ(WriteCover(path, c.picture), "");
    } else {  // written by mutagen, which takes any bytes
      lbtest::WriteFile(dir + "/bmp", c.picture);
      QProcess p;
      p.start("/usr/bin/python3",
              {"-c",
               "import sys; from mutagen.id3 import ID3, APIC; t = ID3(sys.argv[1]); "
               "t.add(APIC(encoding=0, mime='image/bmp', type=3, desc='', "
               "data=open(sys.argv[2], 'rb').read())); t.save()",
               path, dir + "/bmp"});
      ASSERT_TRUE(p.waitForFinished() && p.exitCode() == 0) << p.readAllStandardError().data();
    }
    const lbtest::CliRun run = lbtest::RunCli({"tags", "cover", path, "--export", out});
    const QStringList saved = QDir(out).entryList(QDir::Files);
    if (*c.saved) {
      EXPECT_EQ(run.code, 0) << run.err.toStdString();
      EXPECT_TRUE(saved.contains(c.saved)) << saved.join(' ').toStdString();
      EXPECT_EQ(lbtest::ReadFile(out + "/" + c.saved), c.picture);
    } else {
      EXPECT_NE(run.code, 0);
      EXPECT_EQ(run.out,
                "1\t" + path + "\tпропущена: " + QString::fromUtf8(kCoverSaveNotImage) + "\n");
      EXPECT_EQ(saved.size(), 2) << saved.join(' ').toStdString();
      // The window's "Сохранить как..." goes the same way.
      TCoverEdit edit;
      TCover cover;
      ASSERT_TRUE(ReadCover(path, &cover));
      ASSERT_EQ(cover.data, bmp);
      edit.Start(cover, false);
      EXPECT_EQ(edit.SaveAs(out + "/cover.bmp"), QString::fromUtf8(kCoverSaveNotImage));
      EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), 2);
    }
  }
}

}  // namespace
