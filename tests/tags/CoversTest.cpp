// Covers: how pictures are told and named, and the tags editor's cover apply over
// MP3 files with its counts and undo.
#include "TagsTestUtil.h"

#include "TestEnv.h"
#include "lbtools3/tags/TagsApply.h"
#include "platform/ImageTypes.h"
#include "platform/ScriptedUiServices.h"

#include <QDir>
#include <QRegularExpression>

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
  EXPECT_EQ(ExportFileName(3, "/m/Песня.01.mp3", "image/png"), "03 - Песня.01.png");
  EXPECT_EQ(ExportFileName(112, "/m/a.flac", "image/jpeg"), "112 - a.jpg");

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
