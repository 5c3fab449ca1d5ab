#include "WriteBatch.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <string>
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
      // the flush reports every write error from here on. It is a new open of the file,
      // not a copy of fd: a copy would keep the writer's lock on the file until the end
      // of the batch, and the next write of that file in the batch would wait forever.
      const int kept =
          ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC);
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
