// Renaming a list's files by their tags on real files: the new paths, the tag
// synchronisation of files that are no longer MP3, and the other lists of the
// repository following with their cached tags.
#include "FilesTestUtil.h"

#include "lbtools3/repository/Repository.h"
#include "lbtools3/files/ListPaths.h"
#include "lbtools3/files/Rename.h"
#include "lbtools3/files/SongFiles.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/ScriptedUiServices.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace lb;

namespace {

class RenameFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(modeltest::AttachID3Com()); }
  // A saved list of the files, synchronised so that its data file caches their tags.
  void MakeList(TSlDocument& list, const QString& path, const QStringList& files) {
    list.SetFileName(path);
    for (const QString& f : files) list.InsertSong(TSlSong(nullptr, f, QString()), -1);
    for (int n = 0; n < list.m_Songs.size(); ++n) list.m_Songs[n].Sync();
    ASSERT_TRUE(list.Save(true));
  }
  TSlRenameFiles Renamer(const QString& mask, int digits = 1) {
    QList<TMaskPiece> pieces;
    EXPECT_EQ(ParseRenameMask(mask, &pieces), TMaskError::None);
    return TSlRenameFiles(pieces, digits, true);
  }

  ScriptedUiServices ui;
  QString dir = lbtest::NewTempDir();
  filestest::ScriptedFilePrompt prompt;
  TFileOperation operation{&prompt};
};

TEST_F(RenameFilesTest, RenamesSelectedFilesAndKeepsSongsPointingAtThem) {
  const QString a = filestest::MakeMp3(dir + "/x.MP3", {"Waterloo", "Abba", ""});
  const QString b = filestest::MakeMp3(dir + "/y.mp3", {"SOS", "Abba", ""});
  const QString c = filestest::MakeMp3(dir + "/Abba - Fernando.mp3", {"Fernando", "Abba", ""});
  TSlDocument doc;
  MakeList(doc, dir + "/list.m3u", {a, b, c});
  TSlRenameFiles rename = Renamer(kDefaultRenameMask);
  EXPECT_TRUE(rename.Run(doc, {0, 2}, operation));
  EXPECT_EQ(filestest::Paths(doc),
            (QStringList{dir + "/Abba - Waterloo.MP3", b, dir + "/Abba - Fernando.mp3"}));
  EXPECT_TRUE(FileExists(dir + "/Abba - Waterloo.MP3"));
  EXPECT_FALSE(FileExists(a));
  EXPECT_EQ(rename.m_Pairs, (QStringList{a, dir + "/Abba - Waterloo.MP3"}));  // c kept its name
  EXPECT_EQ(rename.m_nProcessed, 2);
  EXPECT_TRUE(doc.m_Songs[0].m_Tag1.bTagSync);  // still an MP3
  EXPECT_EQ(doc.m_Songs[0].m_Tag1.m_DisplayName, "Abba - Waterloo");
  EXPECT_TRUE(doc.m_bModified);

  // Another extension ends the synchronisation of the song's tags.
  TSlRenameFiles wav = Renamer("%n.wav");
  EXPECT_TRUE(wav.Run(doc, {1}, operation));
  EXPECT_EQ(doc.m_Songs[1].GetPath(true), dir + "/y.wav");
  EXPECT_FALSE(doc.m_Songs[1].m_Tag1.bTagSync);
  EXPECT_FALSE(doc.m_Songs[1].m_Tag2.bTagSync);
  EXPECT_TRUE(prompt.shown.isEmpty());
}

TEST_F(RenameFilesTest, CancelStopsTheRunAndStopIsReported) {
  const QString a = filestest::MakeMp3(dir + "/a.mp3", {"Same", "X", ""});
  const QString b = filestest::MakeMp3(dir + "/b.mp3", {"Same", "X", ""});
  const QString c = filestest::MakeMp3(dir + "/c.mp3", {"Other", "X", ""});
  TSlDocument doc;
  MakeList(doc, dir + "/list.m3u", {a, b, c});
  TSlRenameFiles rename = Renamer("%1.mp3");
  EXPECT_FALSE(rename.Run(doc, {0, 1, 2}, operation));  // b's name is taken: cancel
  EXPECT_EQ(filestest::Paths(doc), (QStringList{dir + "/Same.mp3", b, c}));
  EXPECT_EQ(rename.m_nProcessed, 1);
}

TEST_F(RenameFilesTest, ClosedListsOfTheRepositoryFollowWithTheirCachedTags) {
  const QString a = filestest::MakeMp3(dir + "/a.mp3", {"Title", "Artist", ""});
  TSlDocument doc, other;
  MakeList(doc, dir + "/list.m3u", {a});
  MakeList(other, dir + "/other.m3u", {a, a});
  TIniFile ini(SettingsFilePath());
  TListsRepository repository(ini, nullptr, true);
  repository.Add(dir + "/list.m3u", false, nullptr);
  repository.Add(dir + "/other.m3u", false, nullptr);

  TSlRenameFiles rename = Renamer("%2 - %1.%e");
  ASSERT_TRUE(rename.Run(doc, {0}, operation));
  const QString renamed = dir + "/Artist - Title.mp3";
  EXPECT_EQ(ReplacePathsInRepositoryLists(repository, rename.m_Pairs, doc.m_FileName),
            QStringList{dir + "/other.m3u"});

  TSlDocument reloaded;
  reloaded.SetFileName(dir + "/other.m3u");
  ASSERT_TRUE(reloaded.Load(true));
  ASSERT_EQ(reloaded.m_Songs.size(), 2);
  for (int n = 0; n < 2; ++n) {
    const TSlSong& song = reloaded.m_Songs[n];
    EXPECT_EQ(song.GetPath(true), renamed);
    EXPECT_EQ(song.m_Tag1.GetTitle(), "Title");  // from the data file, not read again
    EXPECT_EQ(song.m_FileAge, FileAge(renamed));
  }
}

// The preview names each selected file's new name from the tags as they are and marks
// the names another selected song or another file already takes.
TEST_F(RenameFilesTest, PreviewMarksNamesTakenTwiceOrByAnotherFile) {
  TSlDocument doc;
  filestest::MakeMp3(dir + "/Queen.mp3", {"", "", ""});  // someone else's file
  const struct {
    const char* file;
    filestest::Tag1 tag;
    QString newName;
    bool bConflict;
  } rows[] = {
      {"a.mp3", {"One", "Abba", ""}, "Abba.mp3", true},  // b gets the same name
      {"b.mp3", {"Two", "Abba", ""}, "Abba.mp3", true},
      {"c.mp3", {"x", "Queen", ""}, "Queen.mp3", true},  // the name is another file's
      {"d.mp3", {"y", "ELO", ""}, "ELO.mp3", false},
      {"ELO 2.mp3", {"z", "ELO 2", ""}, "ELO 2.mp3", false},  // its own name
  };
  std::vector<int> selected;
  for (const auto& r : rows) {
    filestest::AddSong(doc, filestest::MakeMp3(dir + "/" + r.file, r.tag), r.tag);
    selected.push_back(int(selected.size()));
  }
  doc.InsertSong(TSlSong(nullptr, dir + "/untagged.mp3", QString()), -1);
  selected.push_back(int(selected.size()));
  QList<TMaskPiece> pieces;
  ASSERT_EQ(ParseRenameMask("%2.%e", &pieces), TMaskError::None);
  const QList<TRenamePreview> preview = PreviewRenames(doc, selected, pieces, 1, true);
  ASSERT_EQ(preview.size(), 6);
  for (int n = 0; n < 5; ++n) {
    EXPECT_EQ(preview[n].oldName, rows[n].file) << n;
    EXPECT_EQ(preview[n].newName, rows[n].newName) << n;
    EXPECT_EQ(preview[n].bConflict, rows[n].bConflict) << n;
  }
  EXPECT_EQ(preview[5].newName, "");  // no tag to build the name from
  EXPECT_FALSE(preview[5].bConflict);
}

// Undo renames the files back, the last renamed first, and the songs and the other
// lists follow; a file moved away meanwhile and an old name taken meanwhile are left
// alone and named.
TEST_F(RenameFilesTest, UndoPutsTheFilesBackAndNamesWhatItCannot) {
  const QString a = filestest::MakeMp3(dir + "/a.mp3", {"One", "X", ""});
  const QString b = filestest::MakeMp3(dir + "/b.mp3", {"Two", "X", ""});
  const QString c = filestest::MakeMp3(dir + "/c.mp3", {"Three", "X", ""});
  TSlDocument doc;
  MakeList(doc, dir + "/list.m3u", {a, b, c});
  const QString stored = doc.m_Songs[0].m_Path;
  const QString one = dir + "/One.mp3", two = dir + "/Two.mp3";
  TSlRenameFiles rename = Renamer("%1.%e");
  ASSERT_TRUE(rename.Run(doc, {0, 1}, operation));
  ASSERT_TRUE(rename.m_Undo->Available(doc));
  QStringList pairs;
  TPathCheckpoint checkpoint([&](const QStringList& p) { pairs << p; });
  EXPECT_TRUE(rename.m_Undo->Run(doc, &checkpoint));
  checkpoint.Flush();
  EXPECT_EQ(filestest::Paths(doc), (QStringList{a, b, c}));
  EXPECT_EQ(doc.m_Songs[0].m_Path, stored);  // in the form it had
  EXPECT_EQ(filestest::FilesBelow(dir),
            (QStringList{"a.mp3", "b.mp3", "c.mp3", "list.lbt", "list.m3u"}));
  EXPECT_EQ(pairs, (QStringList{two, b, one, a}));
  EXPECT_FALSE(rename.m_Undo->Available(doc));

  TSlRenameFiles again = Renamer("%1.%e");
  ASSERT_TRUE(again.Run(doc, {0, 1, 2}, operation));
  ASSERT_TRUE(QFile::rename(one, dir + "/moved.mp3"));
  lbtest::WriteFile(b, "someone else's");
  EXPECT_FALSE(again.m_Undo->Run(doc));
  EXPECT_EQ(filestest::Paths(doc), (QStringList{one, two, c}));
  EXPECT_EQ(lbtest::ReadFile(b), "someone else's");
  EXPECT_EQ(again.m_Undo->m_NotUndone, (QStringList{two + " → b.mp3: " + TRenameUndo::kTaken,
                                                    one + " → a.mp3: " + TRenameUndo::kGone}));
}

// A song listed twice follows its file, which its first row renamed, and the undo puts
// the file back once and both rows with it.
TEST_F(RenameFilesTest, ASongListedTwiceFollowsItsFileBothWays) {
  const QString a = filestest::MakeMp3(dir + "/a.mp3", {"One", "X", ""});
  TSlDocument doc;
  MakeList(doc, dir + "/list.m3u", {a, a});
  TSlRenameFiles rename = Renamer("%1.%e");
  ASSERT_TRUE(rename.Run(doc, {0, 1}, operation));
  const QString one = dir + "/One.mp3";
  EXPECT_EQ(filestest::Paths(doc), (QStringList{one, one}));
  EXPECT_EQ(rename.m_nRenamed, 1);
  EXPECT_TRUE(ui.Messages().isEmpty());
  EXPECT_TRUE(rename.m_Undo->Run(doc));
  EXPECT_EQ(filestest::Paths(doc), (QStringList{a, a}));
  EXPECT_TRUE(rename.m_Undo->m_NotUndone.isEmpty());
  EXPECT_TRUE(QFile::exists(a));

  // Listed again through a linked folder: that row follows too, by its own route.
  ASSERT_EQ(::symlink(QFile::encodeName(dir).constData(), QFile::encodeName(dir + "/link")), 0);
  TSlDocument linked;
  MakeList(linked, dir + "/linked.m3u", {a, dir + "/link/a.mp3"});
  TSlRenameFiles again = Renamer("%1.%e");
  ASSERT_TRUE(again.Run(linked, {0, 1}, operation));
  EXPECT_EQ(filestest::Paths(linked), (QStringList{one, dir + "/link/One.mp3"}));
  EXPECT_EQ(again.m_nRenamed, 1);
  EXPECT_TRUE(ui.Messages().isEmpty());
}

// A rename looks at each file once: that look must still catch tags changed since the
// list was saved and keep the renamed file from being overwritten by the next song that
// wants its name. The renamed file keeps its owner's read-only mode.
TEST_F(RenameFilesTest, OneLookAtEachFileSyncsKeepsTheModeAndGuardsTheRenamedFile) {
  const QString a = filestest::MakeMp3(dir + "/a.mp3", {"Old", "X", ""});
  const QString b = filestest::MakeMp3(dir + "/b.mp3", {"New", "X", ""});
  TSlDocument doc;
  MakeList(doc, dir + "/list.m3u", {a, b});
  filestest::MakeMp3(a, {"New", "X", ""});  // changed since the list was saved
  const struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(a).constData(), times, 0), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(a).constData(), 0444), 0);
  operation.m_bOverwriteAll = true;
  TSlRenameFiles rename = Renamer("%1.mp3");
  EXPECT_TRUE(rename.Run(doc, {0, 1}, operation));
  EXPECT_EQ(filestest::Paths(doc), (QStringList{dir + "/New.mp3", dir + "/New (2).mp3"}));
  struct stat st;
  ASSERT_EQ(::stat(QFile::encodeName(dir + "/New.mp3").constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
}

// Another list follows a renamed file whatever route its path takes to it (the linked
// folder or the real one); another hard link of the file keeps its own name.
TEST_F(RenameFilesTest, OtherListsFollowTheFileThroughALinkedFolder) {
  struct Case {
    const char* renamedAs;  // the folder the renaming list names the file through
    const char* otherAs;    // the other list's path to it
    const char* otherAfter;
  } cases[] = {
      {"link", "real/a.mp3", "real/One.mp3"},
      {"real", "link/a.mp3", "link/One.mp3"},
      {"real", "hard/a.mp3", "hard/a.mp3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.otherAs);
    const QString root = lbtest::NewTempDir();
    ASSERT_TRUE(QDir().mkpath(root + "/real") && QDir().mkpath(root + "/hard"));
    ASSERT_TRUE(QFile::link(root + "/real", root + "/link"));
    filestest::MakeMp3(root + "/real/a.mp3", {"One", "X", ""});
    ASSERT_EQ(::link(QFile::encodeName(root + "/real/a.mp3").constData(),
                     QFile::encodeName(root + "/hard/a.mp3").constData()),
              0);
    TSlDocument doc, other;
    MakeList(doc, root + "/list.m3u", {root + "/" + c.renamedAs + "/a.mp3"});
    filestest::AddSong(other, root + "/" + c.otherAs, {"One", "X", ""});
    TSlRenameFiles rename = Renamer("%1.%e");
    ASSERT_TRUE(rename.Run(doc, {0}, operation));
    ASSERT_TRUE(ReplacePathsInDocument(other, rename.m_Pairs));
    EXPECT_EQ(filestest::Paths(other), QStringList{root + "/" + c.otherAfter});
    EXPECT_TRUE(FileExists(root + "/" + c.otherAfter));
  }
}

// Another program swaps the songs' folder in the middle of a run (the old one moved
// away with its files, a new one in its place whose file has new tags): the run looks
// at what the path names now, renames that file by its tags and leaves the old one.
TEST_F(RenameFilesTest, AFolderSwappedDuringTheRunIsLookedAtAgain) {
  const QString folder = dir + "/album";
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString a = filestest::MakeMp3(folder + "/a.mp3", {"One", "X", ""});
  const QString b = filestest::MakeMp3(folder + "/b.mp3", {"Two", "X", ""});
  TSlDocument doc;
  MakeList(doc, dir + "/list.m3u", {a, b});
  TSlRenameFiles rename = Renamer("%1.%e");
  rename.m_RowRenamed = [&](int n) {
    if (n != 0) return;
    ASSERT_TRUE(QDir().rename(folder, dir + "/away"));
    ASSERT_TRUE(QDir().mkpath(folder));
    filestest::MakeMp3(b, {"Three", "X", ""});
    const struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(b).constData(), times, 0), 0);
  };
  EXPECT_TRUE(rename.Run(doc, {0, 1}, operation));
  EXPECT_TRUE(prompt.shown.isEmpty());
  EXPECT_EQ(filestest::Paths(doc), (QStringList{folder + "/One.mp3", folder + "/Three.mp3"}));
  EXPECT_TRUE(FileExists(folder + "/Three.mp3"));
  EXPECT_TRUE(FileExists(dir + "/away/b.mp3"));
}

// A batch's checkpoint flushes its list while the windows turn: an edit made meanwhile is
// not in the list file, the list stays modified so that it is saved later, and the list
// still loads whole with its data file.
TEST_F(RenameFilesTest, AnEditWhileTheListIsFlushedKeepsItModified) {
  const QString a = filestest::MakeMp3(dir + "/a.mp3", {"One", "X", ""});
  TSlDocument doc;
  MakeList(doc, dir + "/list.m3u", {a});
  doc.SetModified();
  QTimer::singleShot(0, [&] { filestest::AddSong(doc, dir + "/b.mp3", {"Two", "X", ""}); });
  SaveListInStep(doc);
  QCoreApplication::processEvents();  // the edit, when the flush ended before any turn
  EXPECT_TRUE(doc.m_bModified);
  TSlDocument saved;
  saved.SetFileName(doc.m_FileName);
  ASSERT_TRUE(saved.Load(true));
  EXPECT_EQ(filestest::Paths(saved), QStringList{a});
}

}  // namespace

// A list in a sibling folder names the file through ".." (Playlists/../Artist/a.mp3);
// the folder Artist was renamed, so it has no identity left to compare: the list
// still follows the file, and a pair for another gone folder is not taken for it.
TEST_F(RenameFilesTest, AListReachingTheFileThroughDotDotFollowsARenamedFolder) {
  ASSERT_TRUE(QDir().mkpath(dir + "/Playlists") && QDir().mkpath(dir + "/Artist (2001)"));
  TSlDocument mine;
  mine.SetFileName(dir + "/Playlists/mine.m3u");
  mine.InsertSong(TSlSong(nullptr, "../Artist/a.mp3", QString()), -1);
  const QStringList pairs = {dir + "/Other/a.mp3", dir + "/Other (2001)/a.mp3",
                             dir + "/Artist/a.mp3", dir + "/Artist (2001)/a.mp3"};
  ASSERT_TRUE(ReplacePathsInDocument(mine, pairs));
  EXPECT_EQ(filestest::Paths(mine), QStringList{dir + "/Artist (2001)/a.mp3"});
}
