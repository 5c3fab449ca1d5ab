// Covers written inside a write batch: a cover that grows the tag is rewritten through a
// copy that waits for the batch's next group before it takes the file's place.
#include "TagsTestUtil.h"

#include "TestEnv.h"
#include "lbtools3/tags/Covers.h"
#include "platform/FileSystem.h"
#include "platform/PartialFiles.h"
#include "platform/WriteBatch.h"
#include "platform/ScriptedUiServices.h"
#include "lbtools3/tags/TagsApply.h"

#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

using namespace lbtags;

namespace {

QByteArray Jpeg(char fill) {
  return QByteArray("\xFF\xD8\xFF\xE0", 4) + QByteArray(64 * 1024, fill);
}

QByteArray CoverOf(const QString& path) {
  TCover cover;
  EXPECT_TRUE(ReadCover(path, &cover));
  return cover.data;
}

QStringList PartialFiles(const QString& dir) {
  QStringList found;
  for (const QString& name : QDir(dir).entryList(QDir::Files | QDir::Hidden))
    if (lb::IsPartialFileName(name)) found << name;
  return found;
}

// The same file twice in a list: the second row's writes start from what the first
// wrote (its copy takes the file's place first), and what the rows read back inside the
// batch is the file's new content.
TEST(CoverBatchTest, AFileWrittenTwiceInABatchKeepsEveryWrite) {
  ASSERT_TRUE(modeltest::AttachID3Com());
  const QString dir = lbtest::NewTempDir();
  const QString path = tagstest::MakeTagged(dir + "/song.mp3", "Песня", "Артист");
  TSlDocument doc;
  tagstest::FillSynced(doc, dir, {path, path});
  TSlSong &first = doc.m_Songs[0], &second = doc.m_Songs[1];
  const QByteArray before = lbtest::ReadFile(path);
  {
    lb::TWriteBatch batch;
    ASSERT_EQ(WriteSongCover(first, Jpeg('a')), "");
    EXPECT_TRUE(lbtest::ReadFile(path) == before);  // waits for its group
    EXPECT_EQ(CoverOf(path), Jpeg('a'));
    second.m_Tag2.SetTitle("Второе название");
    ASSERT_TRUE(second.m_Tag2.SaveTag(true));
    ASSERT_EQ(WriteSongCover(second, Jpeg('b')), "");
    ASSERT_TRUE(batch.Finish()) << batch.FlushError().toStdString();
  }
  EXPECT_EQ(CoverOf(path), Jpeg('b'));
  const QStringList frames = tagstest::MutagenFrames(path);
  EXPECT_EQ(frames.filter("APIC").size(), 1);
  EXPECT_TRUE(frames.filter("TIT2").join("").contains("'Второе название'"))
      << frames.join('\n').toStdString();
  EXPECT_EQ(second.m_FileAge, lb::FileAge(path));
  EXPECT_EQ(PartialFiles(dir), QStringList());
}

// A copy that cannot take its file's place (someone else changed the file meanwhile,
// or the copy is gone) is not placed; the batch fails, naming the file, and the file
// holds what it held.
TEST(CoverBatchTest, ACopyThatCannotBePlacedFailsTheBatchAndLeavesTheFileWhole) {
  ASSERT_TRUE(modeltest::AttachID3Com());
  const struct {
    const char* what;
    QByteArray appended;  // written at the file's end by someone else; else the copy goes
  } cases[] = {{"changed by someone else", "TAGx"}, {"copy gone", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const QString dir = lbtest::NewTempDir();
    const QString path = tagstest::MakeTagged(dir + "/song.mp3", "Песня", "Артист");
    const QString other = tagstest::MakeTagged(dir + "/other.mp3", "Другая", "Артист");
    QByteArray expected = lbtest::ReadFile(path) + c.appended;
    lb::TWriteBatch batch;
    ASSERT_EQ(WriteCover(path, Jpeg('a')), "");
    ASSERT_EQ(WriteCover(other, Jpeg('a')), "");
    if (c.appended.isEmpty()) {
      const QString copy = lb::PendingCopyOf(path);
      ASSERT_FALSE(copy.isEmpty());
      ASSERT_TRUE(QFile::remove(copy));
    } else {
      QFile file(path);
      ASSERT_TRUE(file.open(QIODevice::Append));
      ASSERT_EQ(file.write(c.appended), c.appended.size());
      file.close();
      EXPECT_TRUE(CoverOf(path).isEmpty());  // the file as it is now, not the waiting copy
    }
    EXPECT_FALSE(batch.Finish());
    ASSERT_EQ(batch.NotPlaced().size(), 1u);  // the other file took its new content
    EXPECT_EQ(batch.NotPlaced()[0].path, path);
    EXPECT_TRUE(lbtest::ReadFile(path) == expected);
    EXPECT_EQ(CoverOf(other), Jpeg('a'));
    EXPECT_EQ(PartialFiles(dir), QStringList());
  }
}

}  // namespace

namespace {

// A file changed by another program while its new content waits in the batch keeps what
// that program wrote: the run does not count, report or offer to undo the write it
// dropped, reads the song again and fails, saying why.
TEST(CoverBatchTest, AWriteDroppedAtTheBatchsEndIsNotCountedAsDone) {
  ASSERT_TRUE(modeltest::AttachID3Com());
  ScriptedUiServices ui;
  const QString dir = lbtest::NewTempDir();
  const QStringList paths{tagstest::MakeTagged(dir + "/a.mp3", "Песня", "Артист"),
                          tagstest::MakeTagged(dir + "/b.mp3", "Другая", "Артист")};
  TSlDocument doc;
  tagstest::FillSynced(doc, dir, paths);
  TTagsEditRequest r;
  r.master1 = r.master2 = TMaster::Untouched;
  r.cover.kind = TCoverRequest::Set;
  r.cover.data = Jpeg('n');
  TTagsBatchApply batch(doc, {0, 1}, r);
  QList<TCoverOutcome> outcomes;
  batch.coverDone = [&](int, TCoverOutcome outcome, const QString&) { outcomes << outcome; };
  batch.redraw = [&](int row) {
    if (row != 1 || !outcomes.isEmpty()) return;
    QFile file(paths[0]);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("TAGx");
  };
  ASSERT_TRUE(batch.Run(false));
  EXPECT_TRUE(batch.FlushFailed());
  EXPECT_EQ(CoverOf(paths[0]), QByteArray());
  EXPECT_EQ(outcomes, (QList<TCoverOutcome>{TCoverOutcome::Skipped, TCoverOutcome::Set}));
  EXPECT_EQ(batch.CoversSet(), 1);
  EXPECT_EQ(batch.undo->Count(), 1);
  EXPECT_EQ(doc.m_Songs[0].m_FileAge, lb::FileAge(paths[0]));
  QStringList texts;
  for (const auto& m : ui.Messages()) texts << m.text;
  EXPECT_TRUE(texts.contains(QString::fromUtf8(kChangedMeanwhile).arg(paths[0])))
      << texts.join('\n').toStdString();
  EXPECT_EQ(texts.back(), QString::fromUtf8(kCoverSummary).arg(1).arg(0).arg(1));
}

// An undo whose write is dropped at its end because another program changed the file:
// the row shows what the file holds, the user is told, and the undo is not a success.
TEST(CoverBatchTest, AnUndoWriteDroppedAtItsEndLeavesTheRowAsTheFileIs) {
  ASSERT_TRUE(modeltest::AttachID3Com());
  ScriptedUiServices ui;
  const QString dir = lbtest::NewTempDir();
  const QStringList paths{tagstest::MakeTagged(dir + "/a.mp3", "Длинное старое название", "А"),
                          tagstest::MakeTagged(dir + "/b.mp3", "Длинное старое название", "Б")};
  TSlDocument doc;
  tagstest::FillSynced(doc, dir, paths);
  TTagsEditRequest r;
  r.master1 = TMaster::Untouched;
  r.master2 = TMaster::Ticked;
  r.change2[f2Title] = true;
  r.value2[f2Title] = "Новое";
  TTagsBatchApply batch(doc, {0, 1}, r);
  ASSERT_TRUE(batch.Run(false));
  // Another tagger saves the first file's tag without room to spare: the undo's longer
  // title then rewrites the file through a copy that waits for the undo's end.
  QProcess tagger;
  tagger.start("/usr/bin/python3", {"-c",
                                    "import sys\nfrom mutagen.id3 import ID3\n"
                                    "ID3(sys.argv[1]).save(sys.argv[1], padding=lambda info: 0)",
                                    paths[0]});
  ASSERT_TRUE(tagger.waitForFinished(30000) && tagger.exitCode() == 0);
  ASSERT_TRUE(batch.undo->Available(doc));
  const auto redraw = [&](int row) {
    if (row != 1) return;
    QFile file(paths[0]);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("x");
  };
  EXPECT_FALSE(batch.undo->Run(doc, redraw));
  EXPECT_EQ(doc.m_Songs[0].m_Tag2.Title, "Новое");
  EXPECT_EQ(doc.m_Songs[0].m_FileAge, lb::FileAge(paths[0]));
  EXPECT_EQ(doc.m_Songs[1].m_Tag2.Title, "Длинное старое название");
  EXPECT_EQ(batch.undo->Count(), 1);  // the first song can still be undone
  QStringList texts;
  for (const auto& m : ui.Messages()) texts << m.text;
  EXPECT_TRUE(texts.contains(QString::fromUtf8(kChangedMeanwhile).arg(paths[0])))
      << texts.join('\n').toStdString();
}

}  // namespace

namespace {

// A disk with room for the files' copies one by one, not all at once: a copy that finds
// the disk full lets the waiting ones take their places, and is written again.
TEST(CoverBatchTest, ADiskWithRoomForOneCopyAtATimeTakesEveryCover) {
  ASSERT_TRUE(modeltest::AttachID3Com());
  lbtest::SmallFileSystem disk(2048);
  if (!disk.Ok()) GTEST_SKIP() << "mounting needs root";
  QStringList paths;
  for (const char* name : {"a.mp3", "b.mp3", "c.mp3"})
    paths << modeltest::MakeMp3(disk.Path() + "/" + name, 500);  // about 200 KB each
  disk.Fill(110);  // room for one copy and the growth of every file
  lb::TWriteBatch batch;
  for (const QString& path : paths)
    EXPECT_EQ(WriteCover(path, Jpeg('a')), "") << path.toStdString();
  EXPECT_TRUE(batch.Finish()) << batch.FlushError().toStdString();
  for (const QString& path : paths) EXPECT_TRUE(CoverOf(path) == Jpeg('a')) << path.toStdString();
}

}  // namespace
