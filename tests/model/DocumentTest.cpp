// The document in memory: path forms, display names, structural edits, copies between
// documents and the clipboard.
#include "ModelTestUtil.h"

#include "lbtools3/model/M3uList.h"
#include "platform/IniFile.h"
#include "platform/ScriptedUiServices.h"

#include <gtest/gtest.h>

namespace {

using modeltest::Paths;

void Fill(TSlDocument& doc, int count) {
  for (int n = 0; n < count; ++n)
    doc.InsertSong(TSlSong(nullptr, QString("/m/%1.mp3").arg(n), QString()), -1);
}

TEST(PathForms, FullAndBriefConversions) {
  const QString list = "/home/u/lists/rock.m3u";
  EXPECT_EQ(lb::ToFullPath("a.mp3", list), "/home/u/lists/a.mp3");
  EXPECT_EQ(lb::ToFullPath("sub/a.mp3", list), "/home/u/lists/sub/a.mp3");
  EXPECT_EQ(lb::ToFullPath("/music/a.mp3", list), "/music/a.mp3");
  EXPECT_EQ(lb::ToFullPath("", list), "");
  EXPECT_EQ(lb::ToBriefPath("/home/u/lists/sub/a.mp3", list), "sub/a.mp3");
  EXPECT_EQ(lb::ToBriefPath("/home/u/other/a.mp3", list), "/home/u/other/a.mp3");
  // A folder whose name only begins like the list's folder is outside it.
  EXPECT_EQ(lb::ToBriefPath("/home/u/lists2/a.mp3", list), "/home/u/lists2/a.mp3");
  // Paths are compared exactly on this system.
  EXPECT_EQ(lb::ToBriefPath("/home/U/lists/a.mp3", list), "/home/U/lists/a.mp3");
  // A brief name with a backslash would be read back as a folder and a name.
  EXPECT_EQ(lb::ToBriefPath("/home/u/lists/AC\\DC.mp3", list), "/home/u/lists/AC\\DC.mp3");
}

TEST(PathForms, ListsMadeOnWindowsKeepTheirRules) {
  const QString list = "D:\\Lists\\rock.m3u";
  EXPECT_EQ(lb::ToFullPath("sub\\a.mp3", list), "D:\\Lists\\sub\\a.mp3");
  // A rooted path without a drive resolves against the list's drive only.
  EXPECT_EQ(lb::ToFullPath("\\Music\\a.mp3", list), "D:\\Music\\a.mp3");
  EXPECT_EQ(lb::ToFullPath("E:\\a.mp3", list), "E:\\a.mp3");
  EXPECT_EQ(lb::ToBriefPath("d:\\lists\\SUB\\a.mp3", list), "SUB\\a.mp3");
  EXPECT_EQ(lb::ToBriefPath("E:\\Lists\\a.mp3", list), "E:\\Lists\\a.mp3");
  EXPECT_EQ(lb::DrivePart("\\\\host\\share\\x.mp3"), "\\\\host\\share");
  EXPECT_TRUE(lb::HasDrive("C:\\x.mp3"));
  EXPECT_FALSE(lb::HasDrive("x.mp3"));
}

TEST(Song, SetPathFormMarksModifiedOnlyOnChange) {
  ScriptedUiServices ui;
  TSlDocument doc;
  doc.SetFileName("/l/list.m3u");
  doc.InsertSong(TSlSong(nullptr, "/l/sub/a.mp3", QString()), -1);
  doc.m_bModified = false;
  TSlSong& song = doc.m_Songs[0];
  song.SetPathForm(true);
  EXPECT_FALSE(doc.m_bModified);
  song.SetPathForm(false);
  EXPECT_EQ(song.m_Path, "sub/a.mp3");
  EXPECT_EQ(song.GetPath(true), "/l/sub/a.mp3");
  EXPECT_TRUE(doc.m_bModified);
}

TEST(Song, DisplayNames) {
  TSlSong song(nullptr, "/m/Some Song.mp3", QString());
  EXPECT_EQ(song.m_Tag1.m_DisplayName, "Some Song");
  EXPECT_EQ(song.m_Tag2.m_DisplayName, "Some Song");
  song.m_Tag1.SetTitle("Title   ", false);
  EXPECT_EQ(song.m_Tag1.m_DisplayName, "Unknown Artist - Title");
  song.m_Tag1.SetArtist("Artist", false);
  EXPECT_EQ(song.m_Tag1.m_DisplayName, "Artist - Title");
  song.m_Tag1.SetTitle("", false);
  EXPECT_EQ(song.m_Tag1.m_DisplayName, "Artist - Untitled");
  song.m_Tag2.SetArtist("  Исполнитель");
  song.m_Tag2.SetTitle("Песня");
  EXPECT_EQ(song.m_Tag2.m_DisplayName, "Исполнитель - Песня");
  song.m_Tag2.m_bExists = false;
  song.m_Tag2.UpdateDisplayName();
  EXPECT_EQ(song.m_Tag2.m_DisplayName, "Some Song");
}

TEST(Song, CopiesRepointTheirTagsAndKeepPendingAgesApart) {
  TSlSong a(nullptr, "/m/a.mp3", "#EXTINF:1,a");
  a.m_Tag1.SetTitle("A", false);
  a.m_bNewFileAge = true;
  a.m_NewFileAge = 77;
  TSlSong b(a);
  EXPECT_EQ(b.m_Tag1.Parent, &b);
  EXPECT_EQ(b.m_Tag2.Parent, &b);
  EXPECT_FALSE(b.m_bNewFileAge);
  EXPECT_EQ(b.m_Tag1.GetTitle(), "A");

  TSlSong c(nullptr, "/m/c.mp3", "#EXT c");
  c.AssignData(a);
  EXPECT_EQ(c.m_Path, "/m/c.mp3");
  EXPECT_EQ(c.m_ExtInf, "#EXT c");
  EXPECT_EQ(c.m_Tag1.GetTitle(), "A");
  EXPECT_EQ(c.m_Tag1.Parent, &c);
}

TEST(Document, DeleteInsertMoveAndRanges) {
  ScriptedUiServices ui;
  TSlDocument doc;
  Fill(doc, 7);
  doc.DeleteSongs({2, 5});
  EXPECT_EQ(Paths(doc), QStringList({"/m/0.mp3", "/m/1.mp3", "/m/3.mp3", "/m/4.mp3", "/m/6.mp3"}));
  doc.RemoveRange(1, 2);
  EXPECT_EQ(Paths(doc), QStringList({"/m/0.mp3", "/m/4.mp3", "/m/6.mp3"}));

  TSlSongVector moved;
  doc.MoveSongs({0, 2}, moved, 0);
  EXPECT_EQ(Paths(doc), QStringList({"/m/4.mp3"}));
  ASSERT_EQ(moved.size(), 2u);
  EXPECT_EQ(moved[1].m_Path, "/m/6.mp3");
  EXPECT_EQ(moved[1].m_Parent, nullptr);
  doc.InsertSongs(moved, 0, 2, 1);
  EXPECT_EQ(Paths(doc), QStringList({"/m/4.mp3", "/m/0.mp3", "/m/6.mp3"}));
  EXPECT_EQ(doc.m_Songs[2].m_Parent, &doc);
  EXPECT_EQ(doc.InsertSong(TSlSong(nullptr, "/m/9.mp3", QString()), 0), 1);
  EXPECT_EQ(doc.m_Songs[1].m_Path, "/m/9.mp3");
}

TEST(Document, BriefPathsWhenTheSettingIsOff) {
  ScriptedUiServices ui;
  TSlDocument doc;
  doc.SetFileName("/l/list.m3u");
  doc.Ini().WriteBool("Edit", "FullPathsInsert", false);
  doc.InsertSong(TSlSong(nullptr, "/l/a.mp3", QString()), -1);
  doc.InsertSong(TSlSong(nullptr, "/x/b.mp3", QString()), -1);
  doc.Ini().EraseSection("Edit");
  EXPECT_EQ(Paths(doc), QStringList({"a.mp3", "/x/b.mp3"}));
}

TEST(Document, CopyOfADocumentOwnsItsSongs) {
  TSlDocument doc;
  Fill(doc, 3);
  TSlDocument copy(doc);
  ASSERT_EQ(copy.m_Songs.size(), 3);
  for (int n = 0; n < 3; ++n) {
    EXPECT_EQ(copy.m_Songs[n].m_Parent, &copy);
    EXPECT_EQ(copy.m_Songs[n].m_Tag1.Parent, &copy.m_Songs[n]);
  }
}

TEST(Document, SortKeepsTheSongsInTheirOwnPositions) {
  TSlDocument doc;
  for (const char* name : {"d", "x", "b", "y", "a"})
    doc.InsertSong(TSlSong(nullptr, QString("/m/%1.mp3").arg(name), QString()), -1);
  doc.SortSongs({0, 2, 4}, [](const TSlSong& a, const TSlSong& b) { return a.m_Path < b.m_Path; });
  EXPECT_EQ(Paths(doc), QStringList({"/m/a.mp3", "/m/x.mp3", "/m/b.mp3", "/m/y.mp3", "/m/d.mp3"}));
}

TEST(Clipboard, CopyAndPasteBetweenDocuments) {
  ScriptedUiServices ui;
  TSlDocument from;
  from.SetFileName("/l/from.m3u");
  for (int n = 0; n < 5; ++n) {
    TSlSong song(nullptr, QString("/l/%1.mp3").arg(n), QString());
    song.m_Tag2.SetTitle(QString("Песня %1").arg(n));
    from.InsertSong(song, -1);
  }
  from.m_Songs[3].SetPathForm(false);  // stored brief; the clipboard carries it full
  from.CopyToClipboard({1, 3, 4});

  TSlDocument to;
  to.SetFileName("/other/to.m3u");
  Fill(to, 2);
  to.m_bModified = false;
  to.PasteFromClipboard(1);
  EXPECT_EQ(Paths(to), QStringList({"/m/0.mp3", "/l/1.mp3", "/l/3.mp3", "/l/4.mp3", "/m/1.mp3"}));
  EXPECT_EQ(to.m_Songs[2].m_Tag2.Title, "Песня 3");
  EXPECT_EQ(to.m_Songs[2].m_Parent, &to);
  EXPECT_TRUE(to.m_bModified);

  from.CutToClipboard({0});
  EXPECT_EQ(from.m_Songs.size(), 4);
  to.PasteFromClipboard(to.m_Songs.size());
  ASSERT_GT(to.m_Songs.size(), 0);
  EXPECT_EQ(to.m_Songs.back().m_Path, "/l/0.mp3");
}

TEST(Clipboard, DamagedPayloadPastesOnlyWholeRecords) {
  ScriptedUiServices ui;
  TSlDocument from;
  Fill(from, 3);
  QByteArray payload = from.ClipboardPayload({0, 1, 2});
  TSlDocument to;
  // Cut into the third record; then a byte count larger than the block.
  qint32 recordBytes = 0;
  std::memcpy(&recordBytes, payload.constData(), 4);
  QByteArray cut = payload.left(8 + recordBytes - 10);
  qint32 bytes = cut.size() - 8;
  std::memcpy(cut.data(), &bytes, 4);
  ui.SetClipboardData(TSlDocument::kClipboardFormat, cut);
  to.PasteFromClipboard(0);
  EXPECT_EQ(to.m_Songs.size(), 2);
  QByteArray lying = payload;
  qint32 huge = 1 << 30;
  std::memcpy(lying.data(), &huge, 4);
  ui.SetClipboardData(TSlDocument::kClipboardFormat, lying);
  to.PasteFromClipboard(0);
  EXPECT_EQ(to.m_Songs.size(), 2);
  ui.SetClipboardData(TSlDocument::kClipboardFormat, "xy");
  to.PasteFromClipboard(0);
  EXPECT_EQ(to.m_Songs.size(), 2);
}

TEST(Document, TitleFollowsTheSetting) {
  TSlDocument doc;
  doc.SetFileName("/l/My List.m3u");
  EXPECT_EQ(doc.GetTitle(), "/l/My List.m3u");
  doc.Ini().WriteBool("Settings", "DocumentTitle", true);
  EXPECT_EQ(doc.GetTitle(), "My List");
  doc.Ini().EraseSection("Settings");
}

using DocumentDeathTest = ::testing::Test;
TEST(DocumentDeathTest, StructuralChangeDuringSynchronisationIsAProgrammingError) {
  TSlDocument doc;
  Fill(doc, 2);
  doc.m_DocNotSync->ResetEvent();
  EXPECT_DEATH(doc.DeleteSongs({0}), "m_DocNotSync->WaitFor\\(0\\) == wrSignaled");
  doc.m_DocNotSync->SetEvent();
  TSlSongVector none;
  EXPECT_DEATH(doc.CopySongsTo({0}, none, 1), "nTargStart <= \\(int\\)vSongs.size\\(\\)");
}

}  // namespace
