#include "platform/FileSystem.h"
#include "platform/SystemError.h"

#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using lbtest::NewTempDir;
using lbtest::WriteFile;

bool SetMTime(const QString& path, time_t sec, long nsec) {
  timespec times[2] = {{0, UTIME_OMIT}, {sec, nsec}};
  return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

TEST(FileAge, ChangesWithModificationTimeAndSize) {
  const QString path = NewTempDir() + "/song.mp3";
  ASSERT_TRUE(WriteFile(path, "abcd"));
  ASSERT_TRUE(SetMTime(path, 1700000000, 100));
  const int32_t age = lb::FileAge(path);
  EXPECT_EQ(lb::FileAge(path), age);  // stable while the file is not touched

  // Same size, rewritten: only the time tells, down to the nanosecond.
  ASSERT_TRUE(WriteFile(path, "wxyz"));
  ASSERT_TRUE(SetMTime(path, 1700000000, 101));
  const int32_t rewritten = lb::FileAge(path);
  EXPECT_NE(rewritten, age);

  // Same time, other size.
  ASSERT_TRUE(WriteFile(path, "abcde"));
  ASSERT_TRUE(SetMTime(path, 1700000000, 101));
  EXPECT_NE(lb::FileAge(path), rewritten);

  ASSERT_TRUE(SetMTime(path, 1700000000, 100));
  ASSERT_TRUE(WriteFile(path, "abcd"));
  ASSERT_TRUE(SetMTime(path, 1700000000, 100));
  EXPECT_EQ(lb::FileAge(path), age);  // a value, not a counter: same state, same age
}

TEST(FileAge, MissingFileAndFolderAreMinusOne) {
  const QString dir = NewTempDir();
  EXPECT_EQ(lb::FileAge(dir + "/missing.mp3"), -1);
  EXPECT_EQ(lb::FileAge(dir), -1);
  EXPECT_EQ(lb::FileAge(""), -1);
}

TEST(FileSystem, ExistenceOfFilesAndFolders) {
  const QString dir = NewTempDir();
  const QString file = dir + "/a.mp3";
  ASSERT_TRUE(WriteFile(file, "x"));
  EXPECT_TRUE(lb::FileExists(file));
  EXPECT_FALSE(lb::FileExists(dir));
  EXPECT_FALSE(lb::FileExists(dir + "/b.mp3"));
  EXPECT_TRUE(lb::DirectoryExists(dir));
  EXPECT_FALSE(lb::DirectoryExists(file));
  EXPECT_FALSE(lb::DirectoryExists(""));
  // Shortcuts are symbolic links: they count as what they point to.
  ASSERT_TRUE(QFile::link(file, dir + "/link.mp3"));
  EXPECT_TRUE(lb::FileExists(dir + "/link.mp3"));
}

TEST(FileSystem, VolumesAndDiscs) {
  const QString dir = NewTempDir();
  EXPECT_TRUE(lb::VolumeAnswers(dir));
  EXPECT_TRUE(lb::VolumeAnswers(dir + "/not/yet/there.mp3"));
  EXPECT_TRUE(lb::VolumeAnswers("/"));
  EXPECT_FALSE(lb::VolumeAnswers(""));
  EXPECT_FALSE(lb::IsCdRom(dir));
  EXPECT_FALSE(lb::IsCdRom("/tmp"));
  EXPECT_FALSE(lb::IsCdRom(dir + "/missing.mp3"));
}

TEST(FileSystem, ClearReadOnlyMakesTheFileWritable) {
  const QString file = NewTempDir() + "/ro.mp3";
  ASSERT_TRUE(WriteFile(file, "x"));
  ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0444), 0);
  EXPECT_TRUE(lb::ClearReadOnly(file));
  struct stat st;
  ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_FALSE(lb::ClearReadOnly(file + ".missing"));
}

TEST(FileSystem, MoveToTrashTakesTheFileAway) {
  const QString dir = NewTempDir();
  const QString file = dir + "/to-trash.mp3";
  ASSERT_TRUE(WriteFile(file, "bytes"));
  QString error;
  ASSERT_TRUE(lb::MoveToTrash(file, &error)) << error.toStdString();
  EXPECT_FALSE(QFile::exists(file));
  // The test run has its own data folder, so the trash is a private one.
  const QString trash = qEnvironmentVariable("XDG_DATA_HOME") + "/Trash/files";
  EXPECT_FALSE(QDir(trash).entryList({"to-trash*"}, QDir::Files).isEmpty());
  // The run's data folder did not exist: the file must not land in the working folder.
  EXPECT_FALSE(QFile::exists(QDir::currentPath() + "/files/to-trash.mp3"));

  error.clear();
  EXPECT_FALSE(lb::MoveToTrash(file, &error));
  EXPECT_FALSE(error.isEmpty());
}

TEST(FileSystem, ExecutableFolderIsTheRunningProgramsFolder) {
  EXPECT_EQ(lb::ExecutableFolder(), QCoreApplication::applicationDirPath());
  EXPECT_FALSE(lb::ExecutableFolder().endsWith('/'));
}

}  // namespace

namespace {

TEST(FileSystem, OnlyRegularFilesWithinTheCapAreRead) {
  const QString dir = NewTempDir();
  ASSERT_TRUE(WriteFile(dir + "/a.txt", "abc"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(dir + "/fifo").constData(), 0600), 0);
  ASSERT_TRUE(QFile::link("/dev/zero", dir + "/zero"));
  QByteArray bytes;
  lb::TOpenFailure why = lb::TOpenFailure::None;
  EXPECT_TRUE(lb::ReadRegularFile(dir + "/a.txt", 3, &bytes, &why));
  EXPECT_EQ(bytes, "abc");
  EXPECT_FALSE(lb::ReadRegularFile(dir + "/a.txt", 2, &bytes, &why));
  EXPECT_EQ(why, lb::TOpenFailure::TooLarge);
  // Neither waits for a writer nor reads without end.
  EXPECT_FALSE(lb::ReadRegularFile(dir + "/fifo", 1 << 20, &bytes, &why));
  EXPECT_EQ(why, lb::TOpenFailure::NotRegular);
  EXPECT_FALSE(lb::ReadRegularFile(dir + "/zero", 1 << 20, &bytes, &why));
  EXPECT_EQ(why, lb::TOpenFailure::NotRegular);
  EXPECT_FALSE(lb::ReadRegularFile(dir + "/none", 1 << 20, &bytes, &why));
  EXPECT_EQ(why, lb::TOpenFailure::Missing);
}

// Every cause a file operation can meet is told in Russian: no system sentence in
// English reaches a message.
TEST(SystemErrorText, EveryErrorNumberIsToldInRussian) {
  EXPECT_EQ(lb::SystemErrorText(0), QString());
  for (int error = 1; error < 134; ++error) {
    const QString text = lb::SystemErrorText(error);
    const bool bCyrillic = std::any_of(
        text.begin(), text.end(), [](QChar c) { return c.script() == QChar::Script_Cyrillic; });
    EXPECT_TRUE(bCyrillic) << error << ": " << text.toStdString();
    EXPECT_FALSE(text.contains(QString::fromLocal8Bit(std::strerror(error)))) << error;
  }
}

}  // namespace
