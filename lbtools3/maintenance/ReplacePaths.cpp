#include "ReplacePaths.h"

#include "lbtools3/model/M3uList.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>
#include <mutex>

namespace lb {

namespace {

bool StartsWithDrive(const QString& path) {
  return path.size() >= 2 && path[1] == u':' && path[0].isLetter();
}

// The folder the settings give for a drive letter ("" when none).
QString DriveFolder(const TIniFile& ini, QChar letter) {
  return ini.ReadString(kDrivesSection, QString(letter.toUpper()), QString());
}

}  // namespace

TDrivePairs CollectDrives(const TSlDocument& document, const std::vector<int>& rows) {
  TDrivePairs pairs;
  for (int n : rows) {
    if (n < 0 || n >= document.m_Songs.size()) continue;
    const QString& path = document.m_Songs[n].m_Path;
    if (!StartsWithDrive(path)) continue;
    const QChar drive = path[0].toUpper();
    bool known = false;
    for (const TDrivePair& p : pairs) known |= p.drive == drive;
    if (!known) pairs.push_back({drive, QString(drive)});
  }
  return pairs;
}

bool DrivesChanged(const TDrivePairs& pairs) {
  for (const TDrivePair& p : pairs)
    if (p.Changed()) return true;
  return false;
}

QStringList DrivePickList(const TIniFile& ini) {
  QStringList list;
  for (const QString& key : ini.ReadSection(kDrivesSection)) {
    if (key.size() != 1 || !key[0].isLetter()) continue;
    const QString folder = DriveFolder(ini, key[0]);
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) list << key.toUpper() + ':';
  }
  // Volumes of the kernel's own file systems hold no music.
  static const QSet<QByteArray> kSystemTypes = {
      "proc",     "sysfs",     "devtmpfs",   "devpts",   "tmpfs",       "cgroup", "cgroup2",
      "mqueue",   "debugfs",   "tracefs",    "pstore",   "bpf",         "autofs", "fusectl",
      "configfs", "hugetlbfs", "securityfs", "squashfs", "binfmt_misc", "nsfs",   "ramfs"};
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    if (!volume.isValid() || !volume.isReady()) continue;
    if (kSystemTypes.contains(volume.fileSystemType())) continue;
    const QString root = volume.rootPath();
    if (!list.contains(root)) list << root;
  }
  return list;
}

QString AcceptDriveReplacement(const QString& typed, const TIniFile& ini) {
  const QString value = typed.trimmed();
  if (value.isEmpty()) return QString();
  if (value[0].isLetter() && (value.size() == 1 || value[1] == u':')) {
    const QString folder = DriveFolder(ini, value[0]);
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? QString(value[0].toUpper()) : QString();
  }
  if (QDir::isAbsolutePath(value) && QFileInfo(value).isDir()) return QDir::cleanPath(value);
  return QString();
}

QString ReplacePath(const QString& path, const TReplaceRequest& request) {
  QString result = path;
  if (StartsWithDrive(result) && DrivesChanged(request.drives)) {
    for (const TDrivePair& pair : request.drives) {
      if (!StartsWithDrive(result) || result[0].toUpper() != pair.drive) continue;
      if (pair.replacement.size() == 1) {
        result[0] = pair.replacement[0];
      } else {
        // A folder takes the place of "X:"; the rest of the path keeps its names with
        // this system's separators.
        QString rest = result.mid(2);
        rest.replace(u'\\', u'/');
        if (!rest.startsWith(u'/')) rest.prepend(u'/');
        QString folder = pair.replacement;
        if (folder.endsWith(u'/')) folder.chop(1);
        result = folder + rest;
      }
    }
  }
  if (!request.find.isEmpty()) {
    // Names differ by case on this system: "/Music/" is the folder of that name, and
    // only a path without it has its "/music/" replaced when case is not required.
    qsizetype at = result.indexOf(request.find, 0, Qt::CaseSensitive);
    if (at < 0 && !request.bCase) at = result.indexOf(request.find, 0, Qt::CaseInsensitive);
    if (at >= 0) result.replace(at, request.find.size(), request.replace);
  }
  return result;
}

TReplaceResult ReplacePaths(TSlDocument& document, const std::vector<int>& rows,
                            const TReplaceRequest& request) {
  TReplaceResult result;
  for (int n : rows) {
    if (n < 0 || n >= document.m_Songs.size()) continue;
    TSlSong& song = document.m_Songs[n];
    std::lock_guard<std::recursive_mutex> lock(song.cs);
    // A stream's address is no path of a file: its text stays as it is.
    if (song.IsStream()) continue;
    const QString path = ReplacePath(song.m_Path, request);
    if (path == song.m_Path) continue;
    const bool bExisted = SongFileOf(song.GetPath(true)) == TSongFile::Present;
    song.m_Path = path;
    ++result.changed;
    if (bExisted && SongFileOf(song.GetPath(true)) == TSongFile::Missing)
      result.lost << song.GetPath(true);
  }
  // A changed path is a change of the list: it must be saved.
  if (result.changed) document.SetModified();
  return result;
}

QString ReplaceResultMessage(const TReplaceResult& result) {
  QString text = "Изменено путей: " + QString::number(result.changed) + '.';
  if (result.lost.isEmpty()) return text;
  text += "\nФайлы, которые были на месте, по новым путям не найдены: " +
          QString::number(result.lost.size()) + ':';
  constexpr int kNamed = 10;
  for (int n = 0; n < result.lost.size() && n < kNamed; ++n) text += "\n" + result.lost[n];
  if (result.lost.size() > kNamed) text += "\n...";
  return text;
}

}  // namespace lb
