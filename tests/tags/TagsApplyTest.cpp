// What the tags editor writes, without a window: the text rules, the single and batch
// applies on real files, Stop, the questions, and undo.
#include "TagsTestUtil.h"

#include "lbtools3/tags/TagsApply.h"
#include "peers/PeerTools.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Genres.h"
#include "platform/ScriptedUiServices.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <taglib/fileref.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tpropertymap.h>

using namespace lbtags;
using tagstest::FileTags;

namespace {

TEST(TagsTextRules, NamesCommentsYearsSeparatorsAndGenres) {
  const TNameParts simple = ExtractFromPath("/m/Artist - Title.mp3", " - ");
  EXPECT_TRUE(simple.bFound);
  EXPECT_EQ(simple.artist, "Artist");
  EXPECT_EQ(simple.title, "Title");
  const TNameParts three = ExtractFromPath("C:\\m\\A - B - C.mp3", " - ");
  EXPECT_EQ(three.artist, "A");
  EXPECT_EQ(three.title, "B - C");
  // A backslash is a character of this system's names, a separator of Windows paths.
  EXPECT_EQ(ExtractFromPath("/m\\x/AC\\DC - Thunder.mp3", " - ").artist, "AC\\DC");
  const TNameParts none = ExtractFromPath("/m.d/Whole name", " - ");
  EXPECT_FALSE(none.bFound);
  EXPECT_EQ(none.title, "Whole name");
  EXPECT_TRUE(none.artist.isEmpty());
  EXPECT_FALSE(ExtractFromPath("/m/a - b.mp3", "").bFound);

  EXPECT_EQ(CommentForTag1("ab\ncd"), "ab cd ");
  EXPECT_EQ(CommentForTag1(QString(20, 'x') + "\n" + QString(20, 'y')).size(), 30);
  EXPECT_EQ(CommentForTag1(""), "");

  EXPECT_FALSE(ValidYear1("12345"));
  EXPECT_FALSE(ValidYear1("19x9"));
  EXPECT_TRUE(ValidYear1(""));
  EXPECT_TRUE(ValidYear1("1999  "));
  EXPECT_TRUE(ValidTrack(""));
  EXPECT_TRUE(ValidTrack("3/10"));
  for (const char* bad : {"99999999999", "3/99999999999", "-1", "1/2/3", "3/"})
    EXPECT_FALSE(ValidTrack(bad)) << bad;
  EXPECT_TRUE(ValidYear2("2001-05-06"));
  EXPECT_TRUE(ValidYear2("2001-05-06T10:20"));
  EXPECT_FALSE(ValidYear2("20011"));
  EXPECT_FALSE(ValidYear2("abcd"));
  EXPECT_FALSE(ValidYear2("-1"));

  EXPECT_EQ(EncodeSeparator(" - "), "202d20");
  EXPECT_EQ(DecodeSeparator(EncodeSeparator(" – Ж ")), " – Ж ");
  EXPECT_EQ(DecodeSeparator("2d2"), "-");

  const QStringList items = GenreListItems();
  ASSERT_EQ(items.size(), 149);
  EXPECT_EQ(items[1], "A Cappella");
  EXPECT_EQ(items[2], "Acid");
  EXPECT_EQ(items[3], "Acid Jazz");
  EXPECT_EQ(items.last(), "Vocal");
  for (int genre = 0; genre < lb::kGenreCount; ++genre) {
    const int p = PositionOfGenre(genre);
    ASSERT_EQ(GenreAtPosition(p), genre);
    EXPECT_EQ(items[p], lb::GenreName(genre));
  }
  EXPECT_EQ(PositionOfGenre(255), 0);
  EXPECT_EQ(GenreAtPosition(0), 255);
  EXPECT_EQ(PositionOfGenre(200), -1);
}

class TagsApplyTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(modeltest::AttachID3Com()); }

  QStringList Files(int count, const QString& prefix = "song") {
    QStringList paths;
    for (int n = 0; n < count; ++n)
      paths << tagstest::MakeTagged(dir + QString("/%1%2.mp3").arg(prefix).arg(n),
                                    QString("Песня %1").arg(n), "Артист");
    return paths;
  }
  std::vector<int> All() const {
    std::vector<int> rows;
    for (int n = 0; n < doc.m_Songs.size(); ++n) rows.push_back(n);
    return rows;
  }
  static QByteArray Bytes(const QString& path) { return lbtest::ReadFile(path); }

  QString dir = lbtest::NewTempDir();
  ScriptedUiServices ui;
  TSlDocument doc;
};

TEST_F(TagsApplyTest, GreyMastersWriteBackWhatExistsAndCreateNothing) {
  const QString both = tagstest::MakeTagged(dir + "/both.mp3", "Оба", "А");
  const QString none = tagstest::MakeTagged(dir + "/none.mp3", "", "");
  tagstest::FillSynced(doc, dir, {both, none});
  const QStringList frames = tagstest::MutagenFrames(both);
  const QByteArray tail = tagstest::Tail128(both), noneBytes = Bytes(none);

  TTagsBatchApply batch(doc, All(), TTagsEditRequest{});
  EXPECT_TRUE(batch.Run());
  EXPECT_TRUE(ui.Messages().isEmpty());
  EXPECT_EQ(tagstest::MutagenFrames(both), frames);
  EXPECT_TRUE(tagstest::Tail128(both) == tail);
  EXPECT_TRUE(Bytes(none) == noneBytes);
  EXPECT_FALSE(doc.m_Songs[1].m_Tag1.m_bExists);
  EXPECT_FALSE(doc.m_Songs[1].m_Tag2.m_bExists);
  EXPECT_TRUE(batch.undo->Empty());
  ASSERT_EQ(ui.Progress().size(), 1u);
  EXPECT_EQ(ui.Progress()[0].action, kApplyAction);
  EXPECT_EQ(ui.Progress()[0].maxPosition, 100);
}

TEST_F(TagsApplyTest, ATickedFieldChangesOnlyThatFieldAndUndoWritesTheOldTagsBack) {
  const QStringList paths = Files(3);
  tagstest::FillSynced(doc, dir, paths);
  QList<QByteArray> before;
  QList<QStringList> frames;
  for (const QString& p : paths) {
    before << Bytes(p);
    frames << tagstest::MutagenFrames(p);
  }

  TTagsEditRequest r;
  r.master1 = r.master2 = TMaster::Ticked;
  r.change1[f1Title] = r.change2[f2Title] = true;
  r.value1[f1Title] = r.value2[f2Title] = "Новое";
  TTagsBatchApply batch(doc, {0, 2}, r);
  ASSERT_TRUE(batch.Run());
  EXPECT_EQ(batch.undo->Count(), 2);
  const FileTags changed(paths[2]);
  EXPECT_EQ(changed.song.m_Tag1.GetTitle(), "Новое");
  EXPECT_EQ(changed.song.m_Tag1.GetArtist(), "Артист");
  EXPECT_EQ(changed.song.m_Tag1.GetYear(), "1999");
  EXPECT_EQ(changed.song.m_Tag1.Genre, 17);
  EXPECT_EQ(changed.song.m_Tag2.Title, "Новое");
  EXPECT_EQ(changed.song.m_Tag2.Composer, "Композитор");
  EXPECT_EQ(changed.song.m_Tag2.Track, 5);
  // ID3v1 in the tag code page, byte for byte.
  EXPECT_TRUE(tagstest::Tail128(paths[2]).mid(3, 30) ==
              lb::ToTagCodePage("Новое").leftJustified(30, '\0'));
  EXPECT_TRUE(Bytes(paths[1]) == before[1]);
  EXPECT_EQ(doc.m_Songs[2].m_FileAge, lb::FileAge(paths[2]));

  ASSERT_TRUE(batch.undo->Available(doc));
  EXPECT_TRUE(batch.undo->Run(doc, {}));
  for (int n = 0; n < 3; ++n) {
    const FileTags now(paths[n]);
    EXPECT_EQ(now.song.m_Tag1.GetTitle(), QString("Песня %1").arg(n));
    EXPECT_TRUE(tagstest::Tail128(paths[n]) == before[n].right(128));
    EXPECT_EQ(tagstest::MutagenFrames(paths[n]), frames[n]);
  }
  ASSERT_FALSE(ui.Progress().empty());
  EXPECT_EQ(ui.Progress().back().action, kUndoAction);
  EXPECT_FALSE(batch.undo->Available(doc));
}

TEST_F(TagsApplyTest, UndoIsWithdrawnOnceTheSongsChangeOtherwise) {
  const QStringList paths = Files(2);
  tagstest::FillSynced(doc, dir, paths);
  TTagsEditRequest r;
  r.master2 = TMaster::Ticked;
  r.change2[f2Album] = true;
  r.value2[f2Album] = "Другой";
  TTagsBatchApply batch(doc, All(), r);
  batch.Run();
  ASSERT_TRUE(batch.undo->Available(doc));
  // Another program's change to a file, not yet seen by the synchronisation, is never
  // overwritten by the undo.
  EXPECT_TRUE(batch.undo->FilesUnchanged());
  modeltest::TouchLater(paths[1], 5);
  EXPECT_FALSE(batch.undo->FilesUnchanged());
  doc.m_Songs[1].m_Tag2.SetComposer("Кто-то");
  EXPECT_FALSE(batch.undo->Available(doc));
  doc.m_Songs[1].m_Tag2.SetComposer("Композитор");
  ASSERT_TRUE(batch.undo->Available(doc));
  doc.DeleteSongs({0});
  EXPECT_FALSE(batch.undo->Available(doc));
}

TEST_F(TagsApplyTest, StopLeavesTheSongsBeforeWrittenAndTheRestUntouched) {
  const QStringList paths = Files(5);
  tagstest::FillSynced(doc, dir, paths);
  const QByteArray last = Bytes(paths[4]);
  TTagsEditRequest r;
  r.master1 = TMaster::Ticked;
  r.change1[f1Album] = true;
  r.value1[f1Album] = "Стоп";
  TTagsBatchApply batch(doc, All(), r);
  batch.redraw = [&](int n) {
    if (n != 1) return;
    ASSERT_FALSE(ui.Progress().empty());
    ui.Progress().back().pressStop();  // while the second song is shown
  };
  EXPECT_TRUE(batch.Run());
  EXPECT_TRUE(batch.Stopped());
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(ui.Messages()[0].text,
            QString("Прервано пользователем. Последняя обработанная песня номер 2 :\n") + paths[1]);
  EXPECT_EQ(ui.Messages()[0].flags, unsigned(MB_OK | MB_ICONWARNING));
  EXPECT_EQ(FileTags(paths[0]).song.m_Tag1.GetAlbum(), "Стоп");
  EXPECT_EQ(FileTags(paths[1]).song.m_Tag1.GetAlbum(), "Стоп");
  EXPECT_EQ(FileTags(paths[2]).song.m_Tag1.GetAlbum(), "Альбом");
  EXPECT_TRUE(Bytes(paths[4]) == last);
}

TEST_F(TagsApplyTest, NamesAndCopiesFillTheFieldsOfEverySong) {
  const QString a = tagstest::MakeTagged(dir + "/Artist - Title.mp3", "x", "y");
  const QString b = tagstest::MakeTagged(dir + "/A - B - C.mp3", "x", "y");
  const QString c = tagstest::MakeTagged(dir + "/NoSeparator.mp3", "Старое", "Старый");
  const QString bare = tagstest::MakeTagged(dir + "/Bare.mp3", "", "");
  tagstest::FillSynced(doc, dir, {a, b, c, bare});
  const QByteArray bareBytes = Bytes(bare);
  doc.m_Songs[0].m_Tag2.SetComment("ab\ncd");
  doc.m_Songs[0].m_Tag2.SaveTag(true);
  doc.m_Songs[0].Sync();

  TTagsEditRequest r;
  r.master1 = r.master2 = TMaster::Ticked;
  r.bExtract1 = r.bExtract2 = true;
  r.separator = " - ";
  r.change2[f2Title] = true;  // overruled by the name
  r.value2[f2Title] = "не это";
  TTagsBatchApply names(doc, All(), r);
  names.Run();
  EXPECT_EQ(FileTags(a).song.m_Tag2.Artist, "Artist");
  EXPECT_EQ(FileTags(a).song.m_Tag2.Title, "Title");
  EXPECT_EQ(FileTags(b).song.m_Tag2.Artist, "A");
  EXPECT_EQ(FileTags(b).song.m_Tag2.Title, "B - C");
  EXPECT_EQ(FileTags(c).song.m_Tag2.Title, "Старое");
  EXPECT_EQ(FileTags(c).song.m_Tag2.Artist, "Старый");
  EXPECT_TRUE(Bytes(bare) == bareBytes) << "a name without the separator creates no tag";

  TTagsEditRequest copy;
  copy.master1 = TMaster::Ticked;
  copy.bV2ToV1 = true;
  copy.ChangeAll1();
  TTagsBatchApply copies(doc, {0}, copy);
  copies.Run();
  const FileTags v1(a);
  // The ID3v1 setter drops the trailing blank of "ab cd ".
  EXPECT_EQ(v1.song.m_Tag1.GetComment(), "ab cd");
  EXPECT_EQ(v1.song.m_Tag1.GetTitle(), "Title");
  EXPECT_EQ(v1.song.m_Tag1.Genre, 17);
}

TEST_F(TagsApplyTest, InvalidValuesAreRefusedWithTheirMessages) {
  const QStringList paths = Files(3);
  tagstest::FillSynced(doc, dir, paths);
  const QByteArray bytes = Bytes(paths[0]);

  // Single mode: a five-character year keeps the dialog open and writes nothing.
  TTagsEditRequest single;
  single.master1 = single.master2 = TMaster::Ticked;
  single.ChangeAll1();
  single.ChangeAll2();
  single.value1[f1Year] = "12345";
  single.value1[f1Genre] = single.value2[f2Genre] = "255";
  EXPECT_FALSE(ApplySingle(doc.m_Songs[0], single, nullptr));
  EXPECT_EQ(ui.Texts(), QStringList{kYear1Error});
  EXPECT_TRUE(Bytes(paths[0]) == bytes);
  // An empty year is stored empty; a track too large for a number is refused.
  single.value1[f1Year] = "";
  single.value2[f2Track] = "99999999999";
  EXPECT_FALSE(ApplySingle(doc.m_Songs[0], single, nullptr));
  ASSERT_FALSE(ui.Texts().empty());
  EXPECT_EQ(ui.Texts().last(), kTrackError);
  EXPECT_EQ(FileTags(paths[0]).song.m_Tag1.GetYear(), "");
  EXPECT_EQ(FileTags(paths[0]).song.m_Tag1.m_bExists, true);

  // Batch mode asks whether to skip the song; No ends the run.
  ui.ClearMessages();
  TTagsEditRequest batch;
  batch.master1 = TMaster::Ticked;
  batch.change1[f1Year] = true;
  batch.value1[f1Year] = "19x9";
  ui.Answer(IDYES);
  ui.Answer(IDNO);
  TTagsBatchApply run(doc, All(), batch);
  run.Run();
  EXPECT_TRUE(run.Ended());
  EXPECT_EQ(run.Processed(), 2);
  EXPECT_EQ(ui.Texts(), QStringList(2, QString(kYear1Error) + kSkipQuestion));

  // A ticked track must be a number; an empty one leaves the track as it is.
  ui.ClearMessages();
  TTagsEditRequest track;
  track.master2 = TMaster::Ticked;
  track.change2[f2Track] = true;
  track.value2[f2Track] = "";
  TTagsBatchApply(doc, {2}, track).Run();
  EXPECT_EQ(FileTags(paths[2]).song.m_Tag2.Track, 5);
  track.value2[f2Track] = "x";
  TTagsBatchApply(doc, {2}, track).Run();
  EXPECT_EQ(ui.Texts(), QStringList{QString(kTrackError) + kSkipQuestion});
  track.value2[f2Track] = "7";
  TTagsBatchApply(doc, {2}, track).Run();
  EXPECT_EQ(FileTags(paths[2]).song.m_Tag2.Track, 7);
}

TEST_F(TagsApplyTest, RemovingATagIsAskedFirst) {
  const QStringList paths = Files(2);
  tagstest::FillSynced(doc, dir, paths);
  TTagsEditRequest r;
  r.master1 = TMaster::Unticked;
  ui.Answer(IDNO);
  EXPECT_FALSE(TTagsBatchApply(doc, All(), r).Run());
  EXPECT_EQ(ui.Texts(), QStringList{kRemove1Question});
  EXPECT_TRUE(FileTags(paths[0]).song.m_Tag1.m_bExists);

  r.master2 = TMaster::Unticked;
  ui.Answer(IDYES);
  TTagsBatchApply both(doc, All(), r);
  EXPECT_TRUE(both.Run());
  ASSERT_FALSE(ui.Texts().empty());
  EXPECT_EQ(ui.Texts().last(), kRemoveBothQuestion);
  EXPECT_FALSE(FileTags(paths[1]).song.m_Tag1.m_bExists);
  EXPECT_FALSE(FileTags(paths[1]).song.m_Tag2.m_bExists);
  EXPECT_EQ(QFile(paths[1]).size(), modeltest::Mp3Frames().size());
  // Undo gives both tags back.
  ASSERT_TRUE(both.undo->Run(doc, {}));
  EXPECT_EQ(FileTags(paths[1]).song.m_Tag2.Composer, "Композитор");
  EXPECT_EQ(FileTags(paths[1]).song.m_Tag1.GetTitle(), "Песня 1");
}

}  // namespace

namespace {

// A tag written by another program, with frames the editor has no field for.
void MutagenTag(const QString& path) {
  const char* script = R"PY(
import sys
from mutagen.id3 import ID3, TIT2, TPE1, TXXX, TPOS, APIC, TRCK, TCON, COMM
t = ID3()
t.add(TIT2(encoding=1, text="Старое"))
t.add(TPE1(encoding=1, text="Кино"))
t.add(TXXX(encoding=3, desc="Настроение", text="Грусть"))
t.add(TPOS(encoding=0, text="1/2"))
t.add(APIC(encoding=0, mime="image/png", type=3, desc="", data=b"\x89PNG0123"))
t.add(TRCK(encoding=0, text="3/10"))
t.add(TCON(encoding=1, text="Свой жанр"))
t.add(COMM(encoding=1, lang="rus", desc="", text="Комментарий"))
t.save(sys.argv[1], v2_version=3)
)PY";
  QProcess::execute("/usr/bin/python3", {"-c", script, path});
}

TEST_F(TagsApplyTest, ABatchTitleChangeLeavesEveryOtherFrameAsMutagenSawIt) {
  const QString path = modeltest::MakeMp3(dir + "/m.mp3");
  MutagenTag(path);
  tagstest::FillSynced(doc, dir, {path});
  // Every frame as mutagen reads it, the genre text and the "3/10" track included.
  auto values = [&] { return tagstest::MutagenFrames(path); };
  const QStringList before = values();
  ASSERT_EQ(before.size(), 8);
  TTagsEditRequest r;
  r.master1 = TMaster::Untouched;
  r.change2[f2Title] = true;
  r.value2[f2Title] = "Новое";
  TTagsBatchApply(doc, All(), r).Run();
  QStringList expected = before;
  expected.replaceInStrings("Старое", "Новое");
  EXPECT_EQ(values(), expected);
}

}  // namespace

namespace {

// A tagged song that keeps only one of its two tags.
QString OnlyOneTag(const QString& path, bool keep1) {
  tagstest::MakeTagged(path, "Один", "Кто");
  TSlSong song(nullptr, path, QString());
  if (keep1)
    song.m_Tag2.RemoveTag(true);
  else
    song.m_Tag1.RemoveTag(true);
  return path;
}

TEST_F(TagsApplyTest, CopiesSkipSongsWithoutTheSourceTagAndLeaveTheirTargetAlone) {
  struct Case {
    bool bV2ToV1;
    const char* skippedText;
  };
  for (const Case c : {Case{true, kSkippedNoV2}, Case{false, kSkippedNoV1}}) {
    SCOPED_TRACE(c.bV2ToV1 ? "v2 -> v1" : "v1 -> v2");
    const QString sub = lbtest::NewTempDir();
    const QString both = tagstest::MakeTagged(sub + "/both.mp3", "Общее", "Оба");
    {
      TSlSong song(nullptr, both, QString());
      song.m_Tag2.ReadFromFile();
      song.m_Tag2.SetTitle("Только в v2");
      ASSERT_TRUE(song.m_Tag2.WriteToFile(true));
    }
    const QString only1 = OnlyOneTag(sub + "/only1.mp3", true);
    const QString only2 = OnlyOneTag(sub + "/only2.mp3", false);
    TSlDocument list;
    tagstest::FillSynced(list, sub, {both, only1, only2});
    const QString sourceless = c.bV2ToV1 ? only1 : only2;
    const QByteArray untouched = Bytes(sourceless);

    TTagsEditRequest r;
    r.bV2ToV1 = c.bV2ToV1;
    r.bV1ToV2 = !c.bV2ToV1;
    (c.bV2ToV1 ? r.master1 : r.master2) = TMaster::Ticked;
    if (c.bV2ToV1)
      r.ChangeAll1();
    else
      for (int f : {f2Title, f2Artist, f2Album, f2Year, f2Genre, f2Comment}) r.change2[f] = true;
    ui.ClearMessages();
    TTagsBatchApply batch(list, {0, 1, 2}, r);
    ASSERT_TRUE(batch.Run());
    EXPECT_EQ(batch.Skipped(), 1);
    EXPECT_TRUE(Bytes(sourceless) == untouched);
    ASSERT_FALSE(ui.Messages().isEmpty());
    EXPECT_EQ(ui.Messages().last().text, QString::fromUtf8(c.skippedText).arg(1));
    // The songs that have the source get its fields, a missing target included.
    const FileTags copied(both), created(c.bV2ToV1 ? only2 : only1);
    const QString title1 = copied.song.m_Tag1.GetTitle(), title2 = copied.song.m_Tag2.Title;
    EXPECT_EQ(title1, title2);
    EXPECT_EQ(title1, c.bV2ToV1 ? "Только в v2" : "Общее");
    EXPECT_EQ(c.bV2ToV1 ? created.song.m_Tag1.GetTitle() : created.song.m_Tag2.Title, "Один");
  }
}

TEST_F(TagsApplyTest, ID3v1TextsOutsideTheCodePageAreCountedAndAskedFirst) {
  const QStringList paths = Files(3);
  tagstest::FillSynced(doc, dir, paths);
  const QByteArray bytes = Bytes(paths[0]);
  TTagsEditRequest r;
  r.master1 = TMaster::Ticked;
  r.change1[f1Title] = true;
  r.value1[f1Title] = "東京";
  ui.Answer(IDNO);
  EXPECT_FALSE(TTagsBatchApply(doc, {0, 2}, r).Run());
  EXPECT_EQ(ui.Texts(), QStringList{QString::fromUtf8(kLossyQuestion).arg(2)});
  EXPECT_TRUE(Bytes(paths[0]) == bytes);
}

}  // namespace

namespace {

// The title and artists as TagLib reads them back, with the text encoding of an MP3's
// TIT2 and TPE1 frames.
QString TagLibView(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  QString view;
  const TagLib::FileRef file(name.constData());
  const TagLib::PropertyMap props = file.file()->properties();
  for (const char* key : {"TITLE", "ARTIST"}) {
    view += QString(key) + "=";
    for (const TagLib::String& v : props[key]) view += QString::fromStdString(v.to8Bit(true)) + "|";
  }
  if (path.endsWith(".mp3")) {
    TagLib::MPEG::File mp3(name.constData());
    for (const char* id : {"TIT2", "TPE1"})
      for (TagLib::ID3v2::Frame* f : mp3.ID3v2Tag()->frameListMap()[id])
        view += QString(" %1:%2").arg(id).arg(
            static_cast<TagLib::ID3v2::TextIdentificationFrame*>(f)->textEncoding());
  }
  return view;
}

// An undo puts back every value of a field, and an MP3 frame's text encoding: two
// artists in each kind of file (an MP3's in a v2.3 frame of ISO-8859-1 text and in a
// v2.4 frame of UTF-8), a batch change of the title and the artist, and its undo.
TEST_F(TagsApplyTest, UndoPutsBackEveryValueOfAFieldAndItsEncoding) {
  // argv: path, ID3v2 version (0: the format's own tag).
  const char* const tag = R"PY(
import sys, mutagen
from mutagen.id3 import ID3, TIT2, TPE1
path, version = sys.argv[1], int(sys.argv[2])
if version:
    t = ID3(); e = 0 if version == 3 else 3
    t.add(TIT2(encoding=e, text=["Old"])); t.add(TPE1(encoding=e, text=["A1", "A2"]))
    t.save(path, v2_version=version, v23_sep=None)
else:
    f = mutagen.File(path); mp4 = type(f).__name__ == "MP4"
    f["\xa9nam" if mp4 else "title"] = ["Old"]; f["\xa9ART" if mp4 else "artist"] = ["A1", "A2"]
    f.save()
)PY";
  const QString tone = dir + "/tone.wav";
  peertest::MakeTone(tone, "0.2");
  const std::pair<const char*, const char*> cases[] = {
      {"v23.mp3", "3"}, {"v24.mp3", "4"}, {"s.flac", "0"}, {"s.opus", "0"}, {"s.m4a", "0"}};
  QStringList paths, before;
  for (const auto& [file, version] : cases) {
    const QString path = dir + "/" + file;
    if (path.endsWith(".mp3"))
      modeltest::MakeMp3(path);
    else
      peertest::EncodeAs(tone, path);
    ASSERT_EQ(QProcess::execute("/usr/bin/python3", {"-c", tag, path, version}), 0);
    paths << path;
    before << TagLibView(path);
    EXPECT_TRUE(before.last().contains("ARTIST=A1|A2|")) << before.last().toStdString();
  }
  tagstest::FillSynced(doc, dir, paths);
  TTagsEditRequest r;
  r.master1 = TMaster::Untouched;
  r.change2[f2Title] = r.change2[f2Artist] = true;
  r.value2[f2Title] = "Новое";
  r.value2[f2Artist] = "Другой";
  TTagsBatchApply batch(doc, All(), r);
  ASSERT_TRUE(batch.Run());
  for (const QString& path : paths) EXPECT_TRUE(TagLibView(path).contains("ARTIST=Другой|"));
  ASSERT_TRUE(batch.undo->Available(doc));
  ASSERT_TRUE(batch.undo->Run(doc, {}));
  for (int n = 0; n < paths.size(); ++n) {
    EXPECT_EQ(TagLibView(paths[n]), before[n]);
    EXPECT_EQ(doc.m_Songs[n].m_Tag2.Artist, paths[n].endsWith(".mp3") ? "A1/A2" : "A1; A2");
  }
}

}  // namespace
