#include "PartialFiles.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lb {

namespace {

// Leftovers without a process id are stale when untouched this long.
constexpr time_t kOldLeftoverSeconds = 60 * 60;

bool ProcessRuns(pid_t pid) {
  return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// Nobody holds the file's lock (nor can: we take it). The descriptor is closed after
// the file is unlinked, so no writer locks it in between.
bool RemoveUnlessLocked(int dirFd, const char* name) {
  const int fd = ::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  bool removed = false;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
    removed = ::unlinkat(dirFd, name, 0) == 0;
  ::close(fd);
  return removed;
}

// A partial file with its writer's process id.
const QRegularExpression& WithPid() {
  static const QRegularExpression re(R"(^\..+\.(lbpart|lbtools)-(\d+)-[A-Za-z0-9]{6}$)");
  return re;
}

// Only the hidden copies of older versions: a visible name such as "Rock.m3u.backup"
// may be the user's own file and is never taken for a leftover.
const QRegularExpression& WithoutPid() {
  static const QRegularExpression re(R"(^\..+\.lbpart-[A-Za-z0-9]{6}$)");
  return re;
}

}  // namespace

bool IsPartialFileName(const QString& name) {
  return name.startsWith(u'.') &&
         (WithPid().match(name).hasMatch() || WithoutPid().match(name).hasMatch());
}

void RemoveStalePartialFiles(const QString& folder) {
  static std::mutex mutex;
  static QSet<QString> cleaned;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (cleaned.contains(folder)) return;
    cleaned.insert(folder);
  }
  const QRegularExpression& withPid = WithPid();
  const QRegularExpression& withoutPid = WithoutPid();
  DIR* dir = ::opendir(QFile::encodeName(folder).constData());
  if (!dir) return;
  const int dirFd = ::dirfd(dir);
  const time_t now = ::time(nullptr);
  while (const dirent* e = ::readdir(dir)) {
    const QString name = QFile::decodeName(e->d_name);
    if (const QRegularExpressionMatch m = withPid.match(name); m.hasMatch()) {
      bool ok = false;
      const qlonglong pid = m.captured(2).toLongLong(&ok);
      if (ok && pid != ::getpid() && !ProcessRuns(pid_t(pid))) RemoveUnlessLocked(dirFd, e->d_name);
    } else if (withoutPid.match(name).hasMatch()) {
      struct stat st;
      if (::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          now - st.st_mtim.tv_sec > kOldLeftoverSeconds)
        RemoveUnlessLocked(dirFd, e->d_name);
    }
  }
  ::closedir(dir);
}

int CreatePartialFile(const QString& folder, const QString& name, const char* kind,
                      QByteArray* path) {
  RemoveStalePartialFiles(folder);
  const QString base = folder.endsWith(u'/') ? folder : folder + u'/';
  *path = QFile::encodeName(base + u'.' + name + u'.' + QString::fromLatin1(kind) + u'-' +
                            QString::number(::getpid()) + "-XXXXXX");
  const int fd = ::mkostemp(path->data(), O_CLOEXEC);
  if (fd < 0) return -1;
  // Held until the descriptor closes: the file is being written.
  ::flock(fd, LOCK_EX | LOCK_NB);
  return fd;
}

}  // namespace lb
