// A stream's address beside a song, through every operation that reads or writes tags or
// deletes, renames, copies or moves songs' files. The address names no file: a file of
// the current folder named like it ("http:/host/live.mp3") is a decoy that must stay
// untouched, and no operation may make a file or a list path of the address.
#include "FilesTestUtil.h"
#include "CliRun.h"

#include "lbtools3/docwin/DeleteFilesWorker.h"
#include "lbtools3/files/CopyMove.h"
#include "lbtools3/files/SongFiles.h"
#include "lbtools3/tags/TagsApply.h"
#include "platform/ScriptedUiServices.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <functional>
#include <gtest/gtest.h>

namespace {

constexpr const char* kStream = "http://radio.example.com/live.mp3";

struct Folder {
  QString dir = lbtest::NewTempDir();
  QString cwd = dir + "/cwd";
  QString list = dir + "/l.m3u";
  QString song = filestest::MakeMp3(dir + "/a.mp3", {"Song", "Artist", "Album"});
  QString decoy = filestest::MakeMp3(cwd + "/http:/radio.example.com/live.mp3", {"Decoy", "", ""});
  Folder() { lbtest::WriteFile(list, QByteArray("a.mp3\n") + kStream + "\n"); }
  lbtest::CliRun Cli(QStringList args) const {
    args.replaceInStrings("LIST", list).replaceInStrings("DIR", dir);
    lbtest::CliOptions options;
    options.workingDir = cwd;
    return lbtest::RunCli(args, options);
  }
};

// Runs an operation in a fresh folder; its exit code (0 for the window's operations)
// and what it said.
struct Case {
  QString name;
  std::function<lbtest::CliRun(Folder&)> run;
  int code = 0;
};

lbtest::CliRun Said(const ScriptedUiServices& ui) {
  return {0, ui.Texts().join('\n'), QString()};
}

TEST(StreamRowsTest, NoOperationTakesAStreamsAddressForAFile) {
  QProcess::execute(lbtest::BinDir() + "/lbregsvr", {lbtest::BinDir() + "/libid3com.so"});
  ASSERT_TRUE(modeltest::AttachID3Com());
  auto cli = [](QStringList args, int code = 0) {
    return Case{args.join(' '), [args](Folder& f) { return f.Cli(args); }, code};
  };
  std::vector<Case> cases = {
      cli({"list", "sync", "LIST"}),
      cli({"list", "check", "LIST"}),
      {"files-info",
       [](Folder& f) {
         lbtest::CliRun r = f.Cli({"files-info", "LIST"});
         // The song's size alone: the decoy is no file of the list.
         EXPECT_TRUE(r.out.contains(lb::GroupDigits(QFileInfo(f.song).size()) + " байт"));
         return r;
       }},
      cli({"list", "add", "LIST", "http://other.example.com/x.mp3"}),
      cli({"tags", "show", kStream}, 1),
      cli({"tags", "set", kStream, "title=X"}, 1),
      cli({"--yes", "tags", "cover", kStream, "--remove"}, 1),
      cli({"tags", "edit", "LIST", "--all", "title=X"}),
      cli({"tags", "cover", "LIST", "--remove"}),
      cli({"tags", "cover", "LIST", "--export", "DIR"}),
      cli({"rename", "LIST", "--mask", "%n-x.%e"}),
      cli({"--yes", "organize", "LIST", "--root", "DIR/O", "--by", "1", "--copy"}),
      cli({"--yes", "organize", "LIST", "--root", "DIR/O", "--by", "0", "--move"}),
      cli({"replace-paths", "LIST", "--from", "radio", "--to", "tv"}),
      {"report",
       [](Folder& f) {
         lbtest::CliRun r =
             f.Cli({"report", "--text", "--fields", "0,1,2", "--out", "DIR/r.txt", "LIST"});
         r.out += QString::fromUtf8(lbtest::ReadFile(f.dir + "/r.txt"));  // checked as said
         return r;
       }},
      cli({"find", "Decoy", "LIST"}),
      cli({"relink", "LIST", "--search", "DIR"}),
      {"delete files",
       [](Folder& f) {
         ScriptedUiServices ui;
         TSlDocument doc;
         doc.SetFileName(f.list);
         EXPECT_TRUE(doc.Load(true));
         lb::TRowSelection both(doc, {0, 1});
         TSlDelFilesWorkerThread worker(&doc, [&](int n) { doc.RemoveRange(n, 1); });
         worker.m_pChild = &both;
         worker.Resume();
         worker.WaitFor();
         EXPECT_FALSE(QFile::exists(f.song));
         EXPECT_TRUE(doc.Save(true));
         return Said(ui);
       }},
      {"tags editor, one song",
       [](Folder& f) {
         ScriptedUiServices ui;
         TSlDocument doc;
         doc.SetFileName(f.list);
         EXPECT_TRUE(doc.Load(true));
         lbtags::TTagsEditRequest single;
         single.master1 = single.master2 = lbtags::TMaster::Ticked;
         single.ChangeAll1();
         single.ChangeAll2();
         single.value1[lbtags::f1Title] = single.value2[lbtags::f2Title] = "X";
         single.value1[lbtags::f1Genre] = single.value2[lbtags::f2Genre] = "255";
         EXPECT_TRUE(lbtags::ApplySingle(doc.m_Songs[1], single, nullptr));
         EXPECT_TRUE(doc.Save(true));
         return Said(ui);
       }},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name.toStdString());
    Folder f;
    const QByteArray decoy = lbtest::ReadFile(f.decoy);
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(f.cwd);
    const lbtest::CliRun r = c.run(f);
    QDir::setCurrent(cwd);
    const QString said = r.out + r.err;
    SCOPED_TRACE(said.toStdString());
    EXPECT_EQ(r.code, c.code);
    for (const char* fault : {"Файл не найден", "не найдены", "отсутствует", "шибка", "Decoy"})
      EXPECT_FALSE(said.contains(fault)) << fault;
    // The row stays as it was: its address, and records that nothing was read into.
    TSlDocument doc;
    doc.SetFileName(f.list);
    ASSERT_TRUE(doc.Load(true));
    int rows = 0;
    for (int n = 0; n < doc.m_Songs.size(); ++n) {
      const TSlSong& song = doc.m_Songs[n];
      EXPECT_FALSE(song.m_Path.contains("/http:"));
      if (song.m_Path != kStream) continue;
      ++rows;
      EXPECT_FALSE(song.m_Tag1.m_bExists);
      EXPECT_FALSE(song.m_Tag2.m_bExists);
    }
    EXPECT_EQ(rows, 1);
    // No file is named like the address, and the one that was stays as it was.
    EXPECT_EQ(lbtest::ReadFile(f.decoy), decoy);
    QStringList named;
    for (QDirIterator it(f.dir,
                         QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
         it.hasNext();)
      if (it.next().contains("http:")) named << it.filePath();
    named.sort();
    EXPECT_EQ(named, (QStringList{f.cwd + "/http:", f.cwd + "/http:/radio.example.com", f.decoy}));
  }
}

}  // namespace
