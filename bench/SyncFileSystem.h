// The one flush a floor pays at its end: syncfs on the file system that holds a path.
#pragma once

#include <QFile>
#include <QString>

#include <fcntl.h>
#include <unistd.h>

// Flushes the file system holding path (a file or a folder); false when it failed.
inline bool SyncFileSystemOf(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  const bool ok = fd >= 0 && ::syncfs(fd) == 0;
  if (fd >= 0) ::close(fd);
  return ok;
}
