#include "FileDescriptor.h"

#include <cerrno>
#include <unistd.h>

namespace lb {

void TFileDescriptor::Reset(int fd) {
  if (m_Fd >= 0) ::close(m_Fd);
  m_Fd = fd;
}

bool TFileDescriptor::Close() {
  const int fd = m_Fd;
  m_Fd = -1;
  return fd < 0 || ::close(fd) == 0;
}

namespace {

// Calls io (pread or pwrite) until every byte went, a call was cut short by a signal
// being retried; false on any failure, or at the end of the file.
template <class Io, class Bytes>
bool AllAt(Io io, int fd, Bytes data, int64_t count, int64_t offset) {
  while (count > 0) {
    const ssize_t n = io(fd, data, static_cast<size_t>(count), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    count -= n;
    offset += n;
  }
  return true;
}

}  // namespace

bool ReadAllAt(int fd, char* data, int64_t count, int64_t offset) {
  return AllAt(::pread, fd, data, count, offset);
}

bool WriteAllAt(int fd, const char* data, int64_t count, int64_t offset) {
  return AllAt(::pwrite, fd, data, count, offset);
}

}  // namespace lb
