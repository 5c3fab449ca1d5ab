#include "WriteBatch.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace lb {

namespace {

struct TPending {
  std::mutex mutex;
  int openBatches = 0;
  // One descriptor per file system written, for its syncfs.
  std::map<dev_t, int> fileSystems;
};

TPending& Pending() {
  static TPending pending;
  return pending;
}

}  // namespace

bool FlushWritten(int fd) {
  TPending& p = Pending();
  {
    std::lock_guard<std::mutex> lock(p.mutex);
    struct stat st;
    if (p.openBatches > 0 && ::fstat(fd, &st) == 0) {
      if (p.fileSystems.count(st.st_dev)) return true;
      // A descriptor of its own, so that the file system stays reachable, and so that
      // the flush reports every write error from here on.
      const int kept = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
      if (kept >= 0) {
        p.fileSystems.emplace(st.st_dev, kept);
        return true;
      }
    }
  }
  return ::fsync(fd) == 0;
}

TWriteBatch::TWriteBatch() {
  TPending& p = Pending();
  std::lock_guard<std::mutex> lock(p.mutex);
  ++p.openBatches;
}

TWriteBatch::~TWriteBatch() {
  Finish();
}

bool TWriteBatch::Finish() {
  if (!m_bOpen) return m_Error.isEmpty();
  m_bOpen = false;
  std::map<dev_t, int> fileSystems;
  TPending& p = Pending();
  {
    std::lock_guard<std::mutex> lock(p.mutex);
    --p.openBatches;
    fileSystems.swap(p.fileSystems);
  }
  for (const auto& [device, fd] : fileSystems) {
    if (::syncfs(fd) != 0 && m_Error.isEmpty())
      m_Error = QString::fromLocal8Bit(std::strerror(errno));
    ::close(fd);
  }
  return m_Error.isEmpty();
}

}  // namespace lb
