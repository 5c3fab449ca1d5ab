#include "SongFiles.h"

#include "FileNames.h"
#include "lbtools3/model/M3uList.h"
#include "lbtools3/model/SlInsertFilesManager.h"
#include "lbtools3/model/InfoWindowManager.h"
#include "platform/Assert.h"
#include "platform/FileSystem.h"
#include "platform/MusicFormats.h"
#include "platform/UiServices.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <optional>
#include <set>
#include <sys/stat.h>

namespace lb {

QString GroupDigits(uint64_t value) {
  QString digits = QString::number(value);
  for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, ',');
  return digits;
}

uint64_t TotalFileSize(const QStringList& fullPaths) {
  // A file is the same file however it is named (a link, another spelling of the
  // path): identity is its device and inode.
  std::set<TFileId> seen;
  uint64_t total = 0;
  for (const QString& path : fullPaths) {
    if (IsStreamUrl(path)) continue;  // an address names no file of this system
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    if (seen.insert(FileIdOf(st)).second) total += uint64_t(st.st_size);
  }
  return total;
}

QString FilesInfoText(uint64_t totalBytes) {
  return "Общий размер файлов:\n" + GroupDigits(totalBytes) + " байт(а)\n" +
         QString::number(totalBytes / 1048576) + " Мб.";
}

QString TagKindsText(const QStringList& fullPaths) {
  QStringList kinds;
  QHash<QString, int> counts;
  for (const QString& path : fullPaths) {
    if (IsStreamUrl(path)) continue;  // an address names no file, whatever its extension
    const QString kind = TagKindOf(MusicFormatOf(path));
    if (kind.isEmpty()) continue;
    if (!counts.contains(kind)) kinds << kind;
    ++counts[kind];
  }
  // A list of MP3 files says nothing new: their tag is ID3v2 as always.
  if (kinds.size() == 1) return kinds.first() == "ID3v2" ? QString() : "Тэг: " + kinds.first();
  QStringList items;
  for (const QString& kind : kinds) items << QString("%1 (%2)").arg(kind).arg(counts[kind]);
  return items.isEmpty() ? QString() : "Тэги: " + items.join(", ");
}

QString FilesInfoText(const QStringList& fullPaths) {
  const QString kinds = TagKindsText(fullPaths);
  return FilesInfoText(TotalFileSize(fullPaths)) + (kinds.isEmpty() ? QString() : "\n" + kinds);
}

bool DeleteToRecycleBin(const QString& path) {
  if (!QFile::exists(path) && !QFileInfo(path).isSymLink()) return true;
  return MoveToTrash(path);
}

namespace {

// Finds the pair of a path that names the old file through another route than the
// pair's own text (a linked folder, the real folder of a link, ".." from a list in a
// sibling folder): by the directory entry, that is the identity of the folder after
// links, and the name in it. The entry is what named the file before it moved, and the
// folders stay where they are; a hard link of the same file elsewhere is another entry
// and keeps its path. Folder identities are looked up once each.
class TEntryMatcher {
 public:
  explicit TEntryMatcher(const QStringList& pairs) : m_Pairs(pairs) {}

  // The pair for path, or -1; *newPath gets the new path in the form of path's folder.
  qsizetype Find(const QString& path, QString* newPath) {
    if (!path.startsWith(u'/')) return -1;
    if (!m_bNamed) {
      m_bNamed = true;
      for (qsizetype p = 0; p + 1 < m_Pairs.size(); p += 2)
        if (m_Pairs[p].startsWith(u'/')) m_ByName[FileNamePart(m_Pairs[p])] << p;
    }
    const auto found = m_ByName.constFind(FileNamePart(path));
    if (found == m_ByName.cend()) return -1;
    const QString folder = FileFolderPart(path);
    const TFileId* own = FolderId(folder);
    for (const qsizetype p : *found) {
      const QString oldFolder = FileFolderPart(m_Pairs[p]);
      const TFileId* other = FolderId(oldFolder);
      // A folder that is gone (renamed with the file) has no identity: its path with
      // links and ".." resolved as far as it exists stands for it.
      if (own && other ? *other != *own : Resolved(folder) != Resolved(oldFolder)) continue;
      const QString& target = m_Pairs[p + 1];
      // A file that stayed below its folder keeps the route this path takes to it.
      *newPath = target.startsWith(oldFolder) ? folder + target.mid(oldFolder.size()) : target;
      return p;
    }
    return -1;
  }

 private:
  const TFileId* FolderId(const QString& folder) {
    auto it = m_Folders.find(folder);
    if (it == m_Folders.end()) {
      TFileId id;
      it = m_Folders.insert(folder, FileIdentity(folder, &id) ? std::optional(id) : std::nullopt);
    }
    return it->has_value() ? &**it : nullptr;
  }

  QString Resolved(const QString& folder) {
    auto it = m_Resolved.constFind(folder);
    if (it == m_Resolved.cend()) it = m_Resolved.insert(folder, ResolvedPath(folder));
    return *it;
  }

  const QStringList& m_Pairs;
  bool m_bNamed = false;
  QHash<QString, QList<qsizetype>> m_ByName;
  QHash<QString, std::optional<TFileId>> m_Folders;
  QHash<QString, QString> m_Resolved;
};

}  // namespace

bool ReplacePathsInDocument(TSlDocument& document, const QStringList& pairs,
                            const std::function<void()>& onChanged,
                            const std::function<void(int n)>& removeRow) {
  LB_ASSERT(pairs.size() % 2 == 0);
  TInfoWindowLevel window("Поиск и смена путей...", document.m_FileName, true);
  TSlInfoWindowManager& progress = InfoWindowManager();
  bool bToldChanged = false;
  int n = 0;
  int done = 0;
  const int total = document.m_Songs.size();
  // The first pair of each old path, found by a key that compares as SamePath does:
  // paths with a drive or host without case, paths of this system exactly.
  auto key = [](const QString& path) {
    return DrivePart(path).isEmpty() ? path : path.toCaseFolded();
  };
  QHash<QString, qsizetype> firstPair;
  for (qsizetype p = pairs.size() - 2; p >= 0; p -= 2) firstPair[key(pairs[p])] = p;
  TEntryMatcher entries(pairs);
  while (n < document.m_Songs.size()) {
    TSlSong& song = document.m_Songs[n];
    bool bRemoved = false;
    const QString path = song.GetPath(true);
    const auto found = firstPair.constFind(key(path));
    QString newPath;
    const qsizetype p = found != firstPair.cend() ? *found : entries.Find(path, &newPath);
    if (p >= 0) {
      if (newPath.isEmpty()) newPath = pairs[p + 1];
      if (!bToldChanged && onChanged) onChanged();
      bToldChanged = true;
      if (pairs[p + 1].isEmpty()) {
        if (removeRow)
          removeRow(n);
        else
          document.RemoveRange(n, 1);
        bRemoved = true;
      } else {
        song.m_Path = newPath;
        song.m_Tag1.UpdateDisplayName();  // a record without tags shows the file name
        song.m_Tag2.UpdateDisplayName();
        document.SetModified();
      }
    }
    if (!bRemoved) ++n;
    ++done;
    progress.SetProgress(total ? int(100LL * done / total) : 100);
    if (progress.ProcessAndCheckStop()) {
      UiServices::Instance().MessageBox(
          "Прервано пользователем. Пути в некоторых листах могут\nне соответствовать "
          "действительности.",
          UiServices::kCaption, MB_OK | MB_ICONWARNING);
      return false;
    }
  }
  return true;
}

QString AddSongsFilter(const TSlInsertFilesManager& manager) {
  QStringList items, patterns;
  for (int i = 0; i < manager.GetExtensionCount(); ++i) {
    const QString e = manager.GetExtension(i);
    items << e.mid(1) + "-песни (*" + e + ")|*" + e;
    patterns << "*" + e;
  }
  // First every working extension at once, so that a folder of mixed songs shows whole.
  if (!patterns.isEmpty())
    items.prepend("Музыкальные файлы (" + patterns.join(' ') + ")|" + patterns.join(';'));
  return items.join('|');
}

}  // namespace lb
