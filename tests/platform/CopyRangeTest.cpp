#include "platform/CopyRange.h"

#include "support/TestEnv.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using lbtest::NewTempDir;
using lbtest::ReadFile;
using lbtest::WriteFile;

// A range copied inside the system and through blocks lands at the asked offsets,
// leaves the descriptors' positions alone, and every failure is an error with its
// cause: a source that ends early, a write that fails or writes nothing.
TEST(CopyRange, CopiesTheRangeOrFailsWithTheCause) {
  const QString dir = NewTempDir();
  QByteArray data;
  for (int n = 0; data.size() < (3 << 20) + 5; ++n) data += QByteArray::number(n) + ',';
  const int64_t size = data.size();
  ASSERT_TRUE(WriteFile(dir + "/src", data));
  enum THook { hNone, hPlain, hFailSecond, hWriteNothing };
  const struct {
    THook hook;
    int64_t from, to, count;
    int64_t result;  // -1: fails with error
    int error;
  } cases[] = {
      {hNone, 7, 3, size - 7, size - 7, 0},  {hNone, 10, 0, -1, size - 10, 0},
      {hNone, 0, 0, size + 1, -1, EIO},      {hPlain, 7, 3, size - 7, size - 7, 0},
      {hPlain, 10, 0, -1, size - 10, 0},     {hPlain, 1, 0, size, -1, EIO},
      {hFailSecond, 0, 0, size, -1, ENOSPC}, {hWriteNothing, 0, 0, -1, -1, ENOSPC},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.hook << " " << c.from << " " << c.to << " " << c.count);
    ASSERT_TRUE(WriteFile(dir + "/dst", "HEAD"));
    const int in = ::open(QFile::encodeName(dir + "/src").constData(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(QFile::encodeName(dir + "/dst").constData(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(in, 0);
    ASSERT_GE(out, 0);
    int writes = 0;
    lb::TWriteAtFunction hook;
    if (c.hook != hNone)
      hook = [&](int fd, const void* p, size_t n, off_t at) -> ssize_t {
        ++writes;
        if (c.hook == hWriteNothing) return 0;
        if (c.hook == hFailSecond && writes == 2) {
          errno = ENOSPC;
          return -1;
        }
        return ::pwrite(fd, p, n, at);
      };
    errno = 0;
    EXPECT_EQ(lb::CopyRange(in, c.from, out, c.to, c.count, hook), c.result);
    if (c.result < 0) {
      EXPECT_EQ(errno, c.error);
    }
    if (c.hook != hNone) {
      EXPECT_GT(writes, 0);
    }
    EXPECT_EQ(::lseek(in, 0, SEEK_CUR), 0);
    EXPECT_EQ(::lseek(out, 0, SEEK_CUR), 0);
    ::close(in);
    ::close(out);
    if (c.result >= 0) {
      EXPECT_TRUE(ReadFile(dir + "/dst") == QByteArray("HEAD").left(int(c.to)) + data.mid(c.from));
    }
  }
  // A pseudo file, which the system does not copy inside itself, is read through blocks.
  const int in = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  const int out = ::open(QFile::encodeName(dir + "/mounts").constData(),
                         O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(in, 0);
  ASSERT_GE(out, 0);
  EXPECT_GT(lb::CopyRange(in, 0, out, 0, -1), 0);
  ::close(in);
  ::close(out);
  EXPECT_TRUE(ReadFile(dir + "/mounts").startsWith(ReadFile("/proc/self/mountinfo").left(10)));
}

// Within one file a range moved over itself, toward the end or the start, by the
// system or through blocks, lands whole (a block is never written over before it is
// read), also past the file's end and across blocks; a move of the rest of the file
// toward its end stops at that end rather than chasing it (the blocks' writes end at
// four times the file's size, so that such a fault fails rather than fills the disk).
TEST(CopyRange, MovesARangeOverItselfWithinOneFile) {
  const QString path = NewTempDir() + "/file";
  QByteArray data;
  for (int n = 0; data.size() < (2 << 20) + 7; ++n) data += QByteArray::number(n) + ';';
  const int64_t size = data.size();
  const struct {
    int64_t from, to, count;
  } cases[] = {{0, 5, 100}, {5, 0, 100}, {3, 1000, -1}, {1000, 3, -1}, {0, (1 << 20) + 1, size}};
  for (const bool blocks : {false, true})
    for (const auto& c : cases) {
      if (!blocks && c.count < 0) continue;
      SCOPED_TRACE(testing::Message() << blocks << " " << c.from << " " << c.to << " " << c.count);
      ASSERT_TRUE(WriteFile(path, data));
      const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
      ASSERT_GE(fd, 0);
      const lb::TWriteAtFunction hook = [size](int f, const void* p, size_t n, off_t at) {
        if (at + off_t(n) > 4 * size) {
          errno = EFBIG;
          return ssize_t(-1);
        }
        return ::pwrite(f, p, n, at);
      };
      const int64_t count = c.count < 0 ? size - c.from : c.count;
      EXPECT_EQ(lb::CopyRange(fd, c.from, fd, c.to, c.count, blocks ? hook : nullptr), count);
      ::close(fd);
      QByteArray expected = data;
      expected.replace(c.to, count, data.mid(c.from, count));
      EXPECT_TRUE(ReadFile(path) == expected);
    }
}

}  // namespace
