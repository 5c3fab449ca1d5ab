#include "CopyRange.h"

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

}  // namespace

int64_t CopyRange(int from, int64_t fromOffset, int to, int64_t toOffset, int64_t count,
                  const TWriteAtFunction& write) {
  const bool bAll = count < 0;
  int64_t copied = 0;
  if (!write) {
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
  if (!bAll)
    capacity = std::min(count, kBlock);
  else if (::fstat(from, &st) == 0)
    capacity = std::clamp<int64_t>(st.st_size - fromOffset + 1, 1, kBlock);
  const std::unique_ptr<char[]> buffer(new char[size_t(capacity)]);
  while (bAll || copied < count) {
    const int64_t want = bAll ? capacity : std::min(capacity, count - copied);
    const ssize_t got = ::pread(from, buffer.get(), size_t(want), off_t(fromOffset + copied));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) return EndedAt(copied, bAll);
    for (ssize_t done = 0; done < got;) {
      const off_t at = off_t(toOffset + copied + done);
      const size_t size = size_t(got - done);
      const ssize_t put = write ? write(to, buffer.get() + done, size, at)
                                : ::pwrite(to, buffer.get() + done, size, at);
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) return -1;
      if (put == 0) {
        errno = ENOSPC;
        return -1;
      }
      done += put;
    }
    copied += got;
  }
  return copied;
}

}  // namespace lb
