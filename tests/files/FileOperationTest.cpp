// The file operation and the folder creation on real files: every decision of the
// error dialogs, copies that never overwrite, and copies between file systems that
// never leave a partial file behind.
#include "FilesTestUtil.h"

#include "lbtools3/files/FileOperation.h"
#include "platform/ScriptedUiServices.h"

#include <QDir>
#include <QFileInfo>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <optional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace lb;
using filestest::ScriptedFilePrompt;

namespace {

class FileOperationTest : public ::testing::Test {
 protected:
  QString File(const QString& name, const QByteArray& bytes) {
    lbtest::WriteFile(dir + "/" + name, bytes);
    return dir + "/" + name;
  }
  int Move(const QString& from, QString& to) { return operation.MoveOrCopy(true, from, to); }

  ScriptedUiServices ui;
  QString dir = lbtest::NewTempDir();
  ScriptedFilePrompt prompt;
  TFileOperation operation{&prompt};
};

TEST_F(FileOperationTest, ExistingTargetsAndTheirDecisions) {
  const QString a = File("a", "A"), b = File("b", "B");
  QString target = b;
  // Cancel leaves both files.
  EXPECT_EQ(Move(a, target), frCancelled);
  ASSERT_EQ(prompt.shown.size(), 1);
  EXPECT_TRUE(prompt.shown[0].targetExists);
  EXPECT_EQ(prompt.shown[0].source, a);
  EXPECT_EQ(lbtest::ReadFile(b), "B");
  // Skip this one; then skip every existing one: a skip in both cases (the song keeps
  // its own file, never takes the other one), the source stays.
  prompt.answers = {{fcSkip, {}}, {fcSkipAllExisting, {}}};
  EXPECT_EQ(Move(a, target), frSkipped);
  EXPECT_EQ(Move(a, target), frSkipped);
  EXPECT_EQ(Move(a, target), frSkipped);  // not asked again
  EXPECT_EQ(prompt.shown.size(), 3);
  EXPECT_EQ(prompt.shown[0].error, "Файл с таким именем уже существует");
  EXPECT_EQ(operation.m_nFailed, 0);  // existing targets are no failure
  EXPECT_EQ(lbtest::ReadFile(a), "A");
  EXPECT_EQ(lbtest::ReadFile(b), "B");
}

TEST_F(FileOperationTest, OverwriteThisAndAll) {
  const QString a = File("a", "A"), b = File("b", "B"), c = File("c", "C"), d = File("d", "D");
  const QString listed = File("listed", "L");
  operation.m_IsListed = [&](const QString& path) { return path == listed; };
  const QString trash = qEnvironmentVariable("XDG_DATA_HOME") + "/Trash/files/";
  QString target = b;
  prompt.answers = {{fcOverwrite, {}}};
  EXPECT_EQ(Move(a, target), frDone);
  EXPECT_EQ(lbtest::ReadFile(b), "A");
  EXPECT_FALSE(QFileInfo::exists(a));
  EXPECT_EQ(lbtest::ReadFile(trash + "b"), "B");  // the overwritten file can be had back
  // Neither the file this run made nor one a list names is overwritten: each file
  // takes the next numbered name.
  prompt.answers = {{fcOverwriteAll, {}}};
  target = b;
  EXPECT_EQ(Move(c, target), frDone);
  EXPECT_EQ(target, dir + "/b (2)");
  target = listed;
  EXPECT_EQ(Move(d, target), frDone);  // not asked again
  EXPECT_EQ(target, dir + "/listed (2)");
  EXPECT_EQ(prompt.shown.size(), 2);
  EXPECT_EQ(lbtest::ReadFile(b) + lbtest::ReadFile(dir + "/b (2)") + lbtest::ReadFile(listed) +
                lbtest::ReadFile(dir + "/listed (2)"),
            "ACLD");
}

TEST_F(FileOperationTest, NewNameRetryAndSkipAll) {
  const QString a = File("a", "A"), b = File("b", "B");
  QString target = b;
  // A name with a refused character is refused and the dialog comes again.
  prompt.answers = {{fcNewName, "x:y"}, {fcNewName, "c"}};
  EXPECT_EQ(Move(a, target), frDone);
  EXPECT_EQ(target, dir + "/c");
  EXPECT_EQ(lbtest::ReadFile(target), "A");
  EXPECT_EQ(ui.Texts(), QStringList{"В имени файла присутствуют недопустимые символы"});
  EXPECT_EQ(prompt.shown.size(), 2);
  EXPECT_EQ(prompt.shown[1].target, b);  // the dialog shown again as it was

  // Retry after the cause went away.
  QString missing = dir + "/gone/x";
  prompt.answers = {{fcRetry, {}}};
  prompt.shown.clear();
  struct Fix : lb::IFileErrorPrompt {
    ScriptedFilePrompt* inner;
    QString folder;
    int Ask(const TFileErrorInfo& info, QString& name) override {
      QDir().mkpath(folder);
      return inner->Ask(info, name);
    }
  } fix;
  fix.inner = &prompt;
  fix.folder = dir + "/gone";
  TFileOperation retrying(&fix);
  EXPECT_EQ(retrying.MoveOrCopy(true, b, missing), frDone);
  ASSERT_EQ(prompt.shown.size(), 1);
  EXPECT_FALSE(prompt.shown[0].targetExists);
  EXPECT_FALSE(prompt.shown[0].error.isEmpty());

  // Skip all errors: later failures are not asked.
  prompt.answers = {{fcSkipAllErrors, {}}};
  QString nowhere = dir + "/none/x";
  EXPECT_EQ(Move(target, nowhere), frSkipped);
  EXPECT_EQ(Move(target, nowhere), frSkipped);
  EXPECT_EQ(prompt.shown.size(), 2);
  // Onto itself: nothing happens and it counts as done.
  QString self = target;
  EXPECT_EQ(Move(target, self), frDone);
}

// A copy of a read-only file (from a disc) can be tagged; a move leaves the owner's mode.
TEST_F(FileOperationTest, CopyRefusesToOverwriteKeepsTheTimeAndIsWritable) {
  const QString a = File("a", "AAAA"), b = File("b", "B");
  modeltest::TouchLater(a, -3600);
  ASSERT_EQ(::chmod(QFile::encodeName(a).constData(), 0444), 0);
  QString target = b;
  EXPECT_EQ(operation.MoveOrCopy(false, a, target), frCancelled);
  EXPECT_EQ(lbtest::ReadFile(b), "B");
  EXPECT_TRUE(prompt.shown[0].targetExists);
  target = dir + "/c";
  EXPECT_EQ(operation.MoveOrCopy(false, a, target), frDone);
  EXPECT_EQ(lbtest::ReadFile(target), "AAAA");
  EXPECT_EQ(lbtest::ReadFile(a), "AAAA");
  struct stat sa, sc;
  ASSERT_EQ(::stat(QFile::encodeName(a).constData(), &sa), 0);
  ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &sc), 0);
  EXPECT_EQ(sa.st_mtim.tv_sec, sc.st_mtim.tv_sec);
  EXPECT_EQ(sa.st_mtim.tv_nsec, sc.st_mtim.tv_nsec);
  EXPECT_EQ(sc.st_mode & 07777, 0644u);
  EXPECT_EQ(filestest::FilesBelow(dir), (QStringList{"a", "b", "c"}));
  QString moved = dir + "/d";
  EXPECT_EQ(Move(a, moved), frDone);
  operation.m_bMoveByCopy = true;  // the way between file systems
  QString movedAgain = dir + "/e";
  EXPECT_EQ(Move(moved, movedAgain), frDone);
  ASSERT_EQ(::stat(QFile::encodeName(movedAgain).constData(), &sa), 0);
  EXPECT_EQ(sa.st_mode & 07777, 0444u);
}

TEST_F(FileOperationTest, MoveByCopyFailingHalfWayLeavesTheSourceWhole) {
  const QByteArray data(3 << 20, 'x');  // several blocks
  const QString a = File("a", data);
  int writes = 0;
  operation.m_bMoveByCopy = true;
  operation.m_Write = [&](int fd, const void* p, size_t n, off_t at) -> ssize_t {
    if (++writes == 2) {
      errno = ENOSPC;
      return -1;
    }
    return ::pwrite(fd, p, n, at);
  };
  prompt.answers = {{fcSkip, {}}};
  QString target = dir + "/b";
  EXPECT_EQ(Move(a, target), frSkipped);
  EXPECT_EQ(lbtest::ReadFile(a), data);
  EXPECT_EQ(filestest::FilesBelow(dir), QStringList{"a"});  // no partial copy anywhere
  // The next attempt goes through: the source goes only once the copy is whole.
  EXPECT_EQ(Move(a, target), frDone);
  EXPECT_EQ(lbtest::ReadFile(target), data);
  EXPECT_EQ(filestest::FilesBelow(dir), QStringList{"b"});
}

TEST_F(FileOperationTest, FolderCreationWithItsDialog) {
  filestest::ScriptedDirPrompt dirs;
  File("taken", "x");
  QString path = dir + "/taken";
  dirs.answers = {{dcNewName, "a|b"}, {dcNewName, "free"}};
  EXPECT_TRUE(CreateDirectoryAsking(&dirs, path));
  EXPECT_EQ(path, dir + "/free");
  EXPECT_TRUE(QFileInfo(path).isDir());
  EXPECT_EQ(ui.Texts(), QStringList{"В имени директории присутствуют недопустимые символы"});
  path = dir + "/taken";
  EXPECT_FALSE(CreateDirectoryAsking(&dirs, path));  // cancelled
}

// Partial files of writers that were killed go the next time the folder is written;
// those of a writer that still runs, recent leftovers and backups stay.
TEST_F(FileOperationTest, StalePartialFilesGoWhenTheFolderIsWrittenAgain) {
  const QString self = QString::number(::getpid());
  pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ASSERT_GT(gone, 0);
  ::waitpid(gone, nullptr, 0);
  const QString dead = QString::number(gone);
  const std::pair<QString, bool> files[] = {
      // name, stays
      {".a.mp3.lbpart-" + dead + "-Ab12Cd", false},
      {".b.mp3.lbtools-" + dead + "-Ab12Cd", false},
      {".c.mp3.lbpart-" + self + "-Ab12Cd", true},
      {".d.mp3.lbbackup-" + dead + "-Ab12Cd", true},
      {".e.mp3.lbpart-Ab12Cd", false},  // old, no process id
      {".f.mp3.lbtools-Ab12Cd", true},  // old, but may be a backup
      {"list.m3u.Ab12Cd", true},        // visible names may be the user's own
      {"Rock.m3u.backup", true},
      {"mix.m3u8.201912", true},
  };
  QStringList expected = {"song.mp3"};
  for (const auto& [name, stays] : files) {
    File("out/" + name, "partial");
    if (stays) expected << name;
    modeltest::TouchLater(dir + "/out/" + name, -2 * 3600);
  }
  expected.sort();
  const QString source = File("src.mp3", "song");
  EXPECT_TRUE(CopyFileSafely(source, dir + "/out/song.mp3", false));
  EXPECT_EQ(filestest::FilesBelow(dir + "/out"), expected);
}

// An overwrite whose target cannot go to the trash never removes it another way: the
// target stays, the user is told why, and the file counts as failed (the window's
// "Перезаписать" and "Перезаписать все", the command line's --on-exists overwrite).
// The trash may be missing, or the target's folder may refuse the move.
TEST_F(FileOperationTest, OverwriteWhoseTrashFailsKeepsTheTarget) {
  struct DataHome {  // a data folder whose trash is a plain file, for this test only
    QByteArray saved = qgetenv("XDG_DATA_HOME");
    explicit DataHome(const QString& path) { qputenv("XDG_DATA_HOME", QFile::encodeName(path)); }
    ~DataHome() { qputenv("XDG_DATA_HOME", saved); }
  };
  ASSERT_TRUE(lbtest::WriteFile(dir + "/data/Trash", "not a folder"));
  for (const bool bLockedFolder : {false, true}) {
    const QString b = File(bLockedFolder ? "locked/b" : "b", "B");
    std::optional<DataHome> home;
    std::optional<lbtest::ReadOnlyFolder> locked;
    if (bLockedFolder) {
      locked.emplace(dir + "/locked");
      ASSERT_TRUE(locked->Ok());
    } else {
      home.emplace(dir + "/data");
    }
    ui.ClearMessages();
    for (const int choice : {fcOverwrite, fcOverwriteAll}) {
      TFileOperation run{&prompt};
      const QString a = File("a", "A");
      QString target = b;
      prompt.answers = {{choice, {}}};
      EXPECT_EQ(run.MoveOrCopy(true, a, target), frSkipped) << choice;
      EXPECT_EQ(run.m_nFailed, 1) << choice;
      EXPECT_EQ(lbtest::ReadFile(b), "B") << choice;
      EXPECT_EQ(lbtest::ReadFile(a), "A") << choice;
    }
    const QString cause = bLockedFolder ? "Нет прав доступа к файлу или папке"
                                        : "Не удаётся создать папку корзины " + dir + "/data/Trash";
    EXPECT_EQ(ui.Texts(), QStringList(2, "Не удаётся удалить файл\n" + b + "\n" + cause));
  }
}

// A copy batch killed in the middle of a file leaves the copies made so far whole under
// their names and the one in hand only as a hidden partial file, which goes when that
// folder is written again.
TEST_F(FileOperationTest, CopyBatchKilledHalfWayLeavesNoPartialFileUnderATargetName) {
  const QByteArray data(3 << 20, 'x');  // several blocks
  const QStringList names = {"a.mp3", "b.mp3", "c.mp3"};
  for (const QString& name : names) File("src/" + name, data);
  QDir().mkpath(dir + "/out");
  const pid_t child = ::fork();
  if (child == 0) {
    int writes = 0;
    operation.m_Write = [&](int fd, const void* p, size_t n, off_t at) -> ssize_t {
      if (++writes == 5) ::raise(SIGKILL);  // the second block of the second file
      return ::pwrite(fd, p, n, at);
    };
    for (const QString& name : names) {
      QString target = dir + "/out/" + name;
      operation.MoveOrCopy(false, dir + "/src/" + name, target);
    }
    ::_exit(0);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  QStringList left = filestest::FilesBelow(dir + "/out");
  ASSERT_EQ(left.size(), 2) << left.join(' ').toStdString();
  EXPECT_EQ(left[0], ".b.mp3.lbpart-" + QString::number(child) + left[0].right(7));
  EXPECT_EQ(lbtest::ReadFile(dir + "/out/a.mp3"), data);
  QString target = dir + "/out/b.mp3";
  EXPECT_EQ(operation.MoveOrCopy(false, dir + "/src/b.mp3", target), frDone);
  EXPECT_EQ(filestest::FilesBelow(dir + "/out"), (QStringList{"a.mp3", "b.mp3"}));
  EXPECT_EQ(lbtest::ReadFile(target), data);
}

// A song's name that is now a FIFO is refused at once: an open for reading would wait
// for a writer for ever, and the copy with it.
TEST_F(FileOperationTest, ACopyOfAFifoIsRefusedWithoutWaiting) {
  const QString fifo = dir + "/pipe.mp3";
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
  auto copy = std::async(std::launch::async, [&] {
    errno = 0;
    const bool ok = CopyFileSafely(fifo, dir + "/copy.mp3", false);
    return std::make_pair(ok, errno);
  });
  if (copy.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
    copy.wait();  // the writer lets the waiting open go
    if (writer >= 0) ::close(writer);
    FAIL() << "the copy waited on the FIFO";
  }
  const auto [ok, error] = copy.get();
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, ENXIO);
  EXPECT_TRUE(filestest::FilesBelow(dir).isEmpty());  // no copy, no partial file
}

// A symbolic link to nothing at the target is a taken name like any other: it is never
// written through nor replaced unasked; skipping it is no failure; an overwrite puts
// the link in the trash.
TEST_F(FileOperationTest, ALinkToNothingAtTheTargetIsATakenName) {
  const QString nowhere = dir + "/nowhere.mp3";
  const QString trash = qEnvironmentVariable("XDG_DATA_HOME") + "/Trash/files/";
  for (const bool bMove : {false, true}) {
    SCOPED_TRACE(bMove ? "move" : "copy");
    const QString a = File("a.mp3", "A"), link = dir + "/link.mp3";
    QFile::remove(link);
    ASSERT_TRUE(QFile::link(nowhere, link));
    prompt.answers = {{fcSkip, {}}, {fcOverwrite, {}}};
    prompt.shown.clear();
    QString target = link;
    EXPECT_EQ(operation.MoveOrCopy(bMove, a, target), frSkipped);
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), nowhere);
    ASSERT_EQ(prompt.shown.size(), 1);
    EXPECT_TRUE(prompt.shown[0].targetExists);
    EXPECT_EQ(prompt.shown[0].error, SystemErrorText(EEXIST));
    EXPECT_EQ(operation.m_nFailed, 0);
    EXPECT_EQ(operation.MoveOrCopy(bMove, a, target), frDone);
    EXPECT_EQ(lbtest::ReadFile(link), "A");
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(nowhere));
    QFile::remove(link);
  }
  EXPECT_TRUE(QFileInfo(trash + "link.mp3").isSymLink());
}

}  // namespace
