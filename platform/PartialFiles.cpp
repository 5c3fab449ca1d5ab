#include "PartialFiles.h"

#include "FileDescriptor.h"
#include "FileRewrite.h"
#include "FileSystem.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <utility>
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

// The mode bits a new file is not given (the process's umask, read without changing it).
mode_t CurrentUmask() {
  QFile status("/proc/self/status");
  if (status.open(QIODevice::ReadOnly))
    for (const QByteArray& line : status.readAll().split('\n'))
      if (line.startsWith("Umask:")) {
        bool ok = false;
        const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
        if (ok) return mode_t(mask);
      }
  return 022;
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
  // A folder is looked through at most once a minute: a batch writing many files into
  // it pays once, and a long-running window still finds what a killed writer left later.
  static std::mutex mutex;
  static QHash<QString, qint64> cleanedAt;
  {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    std::lock_guard<std::mutex> lock(mutex);
    const auto last = cleanedAt.constFind(folder);
    if (last != cleanedAt.cend() && now.tv_sec - *last < 60) return;
    cleanedAt.insert(folder, now.tv_sec);
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

bool TWholeFileWriter::Open() {
  // The file a chain of links leads to is written, even when the last link dangles.
  QFileInfo info(m_Path);
  for (int depth = 0; info.isSymLink() && depth < 40; ++depth) info.setFile(info.symLinkTarget());
  m_Target = QFile::encodeName(info.absoluteFilePath());
  m_Error = 0;
  struct stat st;
  const bool bExists = ::stat(m_Target.constData(), &st) == 0;
  if (bExists && (!S_ISREG(st.st_mode) || ::access(m_Target.constData(), W_OK) != 0)) {
    // The cause access() gave: no rights, or a disk mounted read-only.
    if (!S_ISREG(st.st_mode)) errno = EISDIR;
    return Failed();
  }
  Cancel();
  m_bFailed = false;
  m_bInPlace = bExists && st.st_nlink > 1;
  if (m_bInPlace) return true;
  m_Fd = CreatePartialFile(info.absolutePath(), info.fileName(), "lbtools", &m_Temp);
  if (m_Fd < 0) return Failed();
  if (::fchmod(m_Fd, bExists ? st.st_mode & 07777 : 0666 & ~CurrentUmask()) != 0) {
    Failed();
    Cancel();
    errno = m_Error;
    return false;
  }
  m_bFailed = false;
  return true;
}

bool TWholeFileWriter::Write(const QByteArray& bytes) {
  if (m_bInPlace) {
    m_Bytes += bytes;
    return true;
  }
  for (qsizetype done = 0; !m_bFailed && done < bytes.size();) {
    const ssize_t put = ::write(m_Fd, bytes.constData() + done, size_t(bytes.size() - done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = EIO;
      Failed();
      m_bFailed = true;
      break;
    }
    done += put;
  }
  return m_Fd >= 0 && !m_bFailed;
}

bool TWholeFileWriter::Commit() {
  if (m_bInPlace) return CommitInPlace() || Failed();
  if (m_Fd < 0) return false;
  bool ok = !m_bFailed && (::fdatasync(m_Fd) == 0 || Failed());
  ok = (::close(m_Fd) == 0 || Failed()) && ok;
  m_Fd = -1;
  ok = ok && (::rename(m_Temp.constData(), m_Target.constData()) == 0 || Failed());
  if (!ok) ::unlink(m_Temp.constData());
  m_Temp.clear();
  return ok;
}

bool TWholeFileWriter::CommitInPlace() {
  m_bInPlace = false;
  const QByteArray bytes = std::exchange(m_Bytes, QByteArray());
  // The file's lock is held from before its content is read for the backup until the
  // new content is in: another writer waits, then works on what this one left. The
  // lock must be on the file the name leads to now.
  TFileDescriptor fd;
  struct stat st;
  for (int attempt = 0;; ++attempt) {
    fd.Reset(::open(m_Target.constData(), O_RDWR | O_CLOEXEC));
    struct stat named;
    if (fd.Get() < 0 || ::flock(fd.Get(), LOCK_EX) != 0 || ::fstat(fd.Get(), &st) != 0 ||
        ::stat(m_Target.constData(), &named) != 0 || attempt == 100)
      return false;
    if (FileIdOf(named) == FileIdOf(st)) break;
  }
  // A rewrite cut short before is put back first: its backup is the only whole copy.
  const QString path = QFile::decodeName(m_Target);
  return RecoverInterruptedRewriteLocked(path, fd.Get()) && ::fstat(fd.Get(), &st) == 0 &&
         S_ISREG(st.st_mode) && ReplaceHeadInPlace(path, fd.Get(), st.st_size, bytes) && fd.Close();
}

bool TWholeFileWriter::Failed() {
  if (m_Error == 0) m_Error = errno;
  return false;
}

void TWholeFileWriter::Cancel() {
  m_bInPlace = false;
  m_Bytes.clear();
  if (m_Fd >= 0) ::close(m_Fd);
  m_Fd = -1;
  if (!m_Temp.isEmpty()) ::unlink(m_Temp.constData());
  m_Temp.clear();
}

}  // namespace lb
