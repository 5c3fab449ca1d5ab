#include "CopyRange.h"

#include "FileDescriptor.h"
#include "FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace lb {

namespace {

constexpr int64_t kBlock = int64_t(1) << 20;

// The end of the source came before count bytes: an error, unless the whole rest was
// asked for.
int64_t EndedAt(int64_t copied, bool bAll) {
  if (bAll) return copied;
  errno = EIO;
  return -1;
}

// Writes size bytes at offset through write (::pwrite without one); false with errno
// set, ENOSPC when a write takes nothing.
bool WriteWhole(int to, const char* data, int64_t size, int64_t offset,
                const TWriteAtFunction& write) {
  for (int64_t done = 0; done < size;) {
    const off_t at = off_t(offset + done);
    const size_t n = size_t(size - done);
    const ssize_t put = write ? write(to, data + done, n, at) : ::pwrite(to, data + done, n, at);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return false;
    if (put == 0) {
      errno = ENOSPC;
      return false;
    }
    done += put;
  }
  return true;
}

}  // namespace

int64_t CopyRange(int from, int64_t fromOffset, int to, int64_t toOffset, int64_t count,
                  const TWriteAtFunction& write) {
  const bool bAll = count < 0;
  int64_t copied = 0;
  // Within one file a move toward the end is left to the blocks below, which take an
  // overlapping one from its end back: the system's copy takes its chunks in order and,
  // once the move is longer than a chunk, would write over bytes it has yet to read.
  struct stat source, target;
  const bool bForwardInOneFile = toOffset > fromOffset && ::fstat(from, &source) == 0 &&
                                 ::fstat(to, &target) == 0 && FileIdOf(source) == FileIdOf(target);
  if (!write && !bForwardInOneFile) {
    loff_t in = fromOffset, out = toOffset;
    while (bAll || copied < count) {
      const int64_t want = bAll ? int64_t(1) << 30 : std::min(count - copied, int64_t(1) << 30);
      const ssize_t put = ::copy_file_range(from, &in, to, &out, size_t(want), 0);
      if (put > 0) {
        copied += put;
        continue;
      }
      if (put < 0 && errno == EINTR) continue;
      // Nothing copied yet: an empty source, or files the system does not copy this way
      // (another file system, a pseudo file that yields nothing so); the blocks below
      // find out which.
      if (copied == 0) break;
      return put < 0 ? -1 : EndedAt(copied, bAll);
    }
    if (!bAll && copied == count) return copied;
  }
  // Blocks no larger than the range (or the rest of the file, plus one byte to see its
  // end), left unfilled.
  int64_t capacity = kBlock;
  struct stat st;
  const bool bStat = ::fstat(from, &st) == 0;
  if (!bAll)
    capacity = std::min(count, kBlock);
  else if (bStat)
    capacity = std::clamp<int64_t>(st.st_size - fromOffset + 1, 1, kBlock);
  const std::unique_ptr<char[]> buffer(new char[size_t(capacity)]);
  // Within one file a range that moves toward the end over itself goes from its end
  // back, so that no block is written over before it was read (the system refuses to
  // copy such a range itself); a move toward the start is safe block by block.
  if (bStat && bForwardInOneFile) {
    const int64_t size = bAll ? std::max<int64_t>(st.st_size - fromOffset, 0) : count;
    if (toOffset < fromOffset + size) {
      if (fromOffset + size > st.st_size) return EndedAt(0, false);
      for (int64_t rest = size; rest > 0;) {
        const int64_t n = std::min(capacity, rest);
        rest -= n;
        errno = 0;
        if (!ReadAllAt(from, buffer.get(), n, fromOffset + rest)) {
          if (errno == 0) errno = EIO;  // the file ended early
          return -1;
        }
        if (!WriteWhole(to, buffer.get(), n, toOffset + rest, write)) return -1;
      }
      return size;
    }
  }
  while (bAll || copied < count) {
    const int64_t want = bAll ? capacity : std::min(capacity, count - copied);
    const ssize_t got = ::pread(from, buffer.get(), size_t(want), off_t(fromOffset + copied));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) return EndedAt(copied, bAll);
    if (!WriteWhole(to, buffer.get(), got, toOffset + copied, write)) return -1;
    copied += got;
  }
  return copied;
}

}  // namespace lb
