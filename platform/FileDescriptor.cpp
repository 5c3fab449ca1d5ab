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

bool ReadAllAt(int fd, char* data, int64_t count, int64_t offset) {
  while (count > 0) {
    const ssize_t n = ::pread(fd, data, static_cast<size_t>(count), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    count -= n;
    offset += n;
  }
  return true;
}

bool WriteAllAt(int fd, const char* data, int64_t count, int64_t offset) {
  while (count > 0) {
    const ssize_t n = ::pwrite(fd, data, static_cast<size_t>(count), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    count -= n;
    offset += n;
  }
  return true;
}

}  // namespace lb
