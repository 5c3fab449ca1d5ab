// The floor of the folder-walking benchmarks: a recursive walk that reads every entry
// and descends into folders, nothing else.
#pragma once

#include <QByteArray>
#include <dirent.h>

// The entries below the folder (folders not counted).
inline long BareWalk(const QByteArray& folder) {
  DIR* dir = ::opendir(folder.constData());
  if (!dir) return 0;
  long count = 0;
  while (const dirent* e = ::readdir(dir)) {
    const char* name = e->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    if (e->d_type == DT_DIR)
      count += BareWalk(folder + "/" + name);
    else
      ++count;
  }
  ::closedir(dir);
  return count;
}
