#include "TestEnv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lbtest {
namespace {
QTemporaryDir& Run() {
  static QTemporaryDir dir(QDir::tempPath() + "/lbtest-XXXXXX");
  return dir;
}
}  // namespace

QString RunDir() {
  return Run().path();
}

void PrepareEnvironment() {
  const QString run = RunDir();
  qputenv("LBTOOLS_REGISTRY_DIR", (run + "/registry").toLocal8Bit());
  qputenv("LBTOOLS_INI", (run + "/lbtools3.ini").toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", (run + "/config").toLocal8Bit());
  qputenv("XDG_DATA_HOME", (run + "/data").toLocal8Bit());
  qputenv("HOME", (run + "/home").toLocal8Bit());
  QDir().mkpath(run + "/home/Documents");
  // The program's named objects of this test process and of every child it starts
  // live apart from the user's running program and from other tests.
  qputenv("LBTOOLS_OBJECT_NAMESPACE", "test" + QByteArray::number(QCoreApplication::applicationPid()) + "-");
  // Every tag the lean reader takes is read through TagLib too, and a difference stops
  // the process: each test that reads a tag proves the two equal on its files.
  qputenv("LBTOOLS_ID3COM_CROSSCHECK", "1");
  // Names that are not UTF-8 (some tests make them) defeat the temporary folder's own
  // removal, which then warns while the process ends, after Qt's locale data is gone
  // (it crashed): the run's folder is removed by its bytes while Qt still runs.
  qAddPostRoutine([] {
    std::error_code ignored;
    std::filesystem::remove_all(QFile::encodeName(RunDir()).toStdString(), ignored);
  });
}

QString NewTempDir() {
  static std::atomic<int> counter{0};
  QString path = RunDir() + "/t" + QString::number(++counter);
  QDir().mkpath(path);
  return path;
}

QString BinDir() {
  QByteArray env = qgetenv("LB_BIN_DIR");
  if (!env.isEmpty()) return QString::fromLocal8Bit(env);
  return QCoreApplication::applicationDirPath();
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  return f.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}
ReadOnlyFolder::ReadOnlyFolder(const QString& path) : m_Path(QFile::encodeName(path)) {
  ::chmod(m_Path.constData(), 0555);
  if (Refuses()) return;
  int fd = ::open(m_Path.constData(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  int flags = 0;
  if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
    flags |= FS_IMMUTABLE_FL;
    m_bImmutable = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
}

ReadOnlyFolder::~ReadOnlyFolder() {
  if (m_bImmutable) {
    int fd = ::open(m_Path.constData(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
      flags &= ~FS_IMMUTABLE_FL;
      ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0) ::close(fd);
  }
  ::chmod(m_Path.constData(), 0755);
}

bool ReadOnlyFolder::Refuses() const {
  QByteArray probe = m_Path + "/.probe";
  int fd = ::open(probe.constData(), O_CREAT | O_WRONLY, 0644);
  if (fd < 0) return true;
  ::close(fd);
  ::unlink(probe.constData());
  return false;
}
}  // namespace lbtest

namespace lbtest {

SmallFileSystem::SmallFileSystem(int kilobytes) : m_Path(NewTempDir()) {
  const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k";
  m_bMounted =
      ::mount("tmpfs", QFile::encodeName(m_Path).constData(), "tmpfs", 0, options.constData()) == 0;
}

SmallFileSystem::~SmallFileSystem() {
  if (m_bMounted) ::umount2(QFile::encodeName(m_Path).constData(), MNT_DETACH);
}

void SmallFileSystem::Fill(int sparePages) {
  const int fd = ::open(QFile::encodeName(m_Path + "/filler").constData(),
                        O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  const QByteArray block(512, 'f');
  while (::write(fd, block.constData(), block.size()) > 0) {
  }
  while (::write(fd, block.constData(), 1) > 0) {
  }
  struct stat st;
  if (sparePages > 0 && ::fstat(fd, &st) == 0) {
    const off_t kept = std::max<off_t>(0, st.st_size - off_t(sparePages) * 4096);
    if (::ftruncate(fd, kept) != 0) std::perror("ftruncate");
  }
  ::close(fd);
}

}  // namespace lbtest
