#include "Rename.h"

#include "FileOperation.h"
#include "ListPaths.h"
#include "lbtools3/model/M3uList.h"
#include "platform/MusicFormats.h"
#include "lbtools3/model/InfoWindowManager.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/Pace.h"

#include <QFile>
#include <QHash>
#include <mutex>
#include <optional>
#include <sys/stat.h>

namespace lb {

namespace {

// Whether both paths end in the same extension (so in the same format): most renames
// keep it, and the text compare spares them the look-up of the format.
bool SameExtension(const QString& a, const QString& b) {
  auto extension = [](const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/'), dot = path.lastIndexOf(u'.');
    return dot <= slash + 1 ? QStringView() : QStringView(path).mid(dot);
  };
  const QStringView x = extension(a);
  return !x.isEmpty() && x == extension(b);
}

}  // namespace

TRenameSettings TRenameSettings::Load(TIniFile& ini) {
  TRenameSettings s;
  s.mask = ini.ReadString("Settings", "Rename Files Mask", kDefaultRenameMask);
  s.digits = ini.ReadInteger("Settings", "Rename N length", 1);
  s.bCorrect = ini.ReadBool("Settings", "Correct Folders", true);
  return s;
}

void TRenameSettings::Store(TIniFile& ini) const {
  ini.WriteString("Settings", "Rename Files Mask", mask);
  ini.WriteInteger("Settings", "Rename N length", digits);
  ini.WriteBool("Settings", "Correct Folders", bCorrect);
}

QList<TRenamePreview> PreviewRenames(const TSlDocument& document, const std::vector<int>& rows,
                                     const QList<TMaskPiece>& pieces, int digits, bool bCorrect) {
  QList<TRenamePreview> preview;
  QList<QString> targets;
  QHash<QString, int> uses;  // how many selected songs each target would take
  for (int n : rows) {
    if (n < 0 || n >= document.m_Songs.size()) continue;
    const TSlSong& song = document.m_Songs[n];
    std::lock_guard<std::recursive_mutex> lock(song.cs);
    const QString source = song.GetPath(true);
    TRenamePreview p;
    p.row = n;
    p.oldName = FileNamePart(source);
    QString target;
    if (BuildFileName(song, n, pieces, digits, bCorrect, &p.newName)) {
      target = FileFolderPart(source) + p.newName;
      TFileId own, other;
      p.bConflict = target != source && FileIdentity(target, &other) &&
                    !(FileIdentity(source, &own) && own == other);
      ++uses[target];
    }
    preview << p;
    targets << target;
  }
  for (qsizetype i = 0; i < preview.size(); ++i)
    if (!targets[i].isEmpty() && uses.value(targets[i]) > 1) preview[i].bConflict = true;
  return preview;
}

void MoveSongPath(TSlSong& song, const QString& path) {
  std::lock_guard<std::recursive_mutex> lock(song.cs);
  const bool bFull = HasDrive(song.m_Path);
  // A record shows the file's name only when its tags give none; a name built from the
  // tags stays as it is (the tags did not change), which spares re-reading them.
  const QString oldName = FileBaseName(song.m_Path);
  const bool bName1 = song.m_Tag1.m_DisplayName == oldName;
  const bool bName2 = song.m_Tag2.m_DisplayName == oldName;
  song.m_Path = path;
  if (!bFull) song.SetPathForm(false);
  if (bName1) song.m_Tag1.UpdateDisplayName();
  if (bName2) song.m_Tag2.UpdateDisplayName();
  song.MarkModified();
}

bool TSlRenameFiles::Run(TSlDocument& document, const std::vector<int>& rows,
                         TFileOperation& operation, TPathCheckpoint* checkpoint) {
  TInfoWindowLevel window(kAction, QString(), true);
  TSlInfoWindowManager& progress = InfoWindowManager();
  const int selected = int(rows.size());
  // The progress window shows the file at hand and the Stop button is looked at every
  // few milliseconds rather than for every file: a rename takes microseconds.
  TPace shown(kShowIntervalMs);
  bool bShow = true;
  m_Pairs.reserve(m_Pairs.size() + 2 * qsizetype(rows.size()));
  // The files this run renamed: a song listed twice follows its file, which an earlier
  // row renamed, rather than looking for a file that is gone. Their pairs are indexed
  // by old path only when a look first fails, which a run without such rows never does.
  struct TRenamed {
    TFileId file;
    bool bKnown;
  };
  const qsizetype firstPair = m_Pairs.size();
  std::vector<TRenamed> files;  // of each pair this run added
  files.reserve(rows.size());
  std::optional<QHash<QString, qsizetype>> renamed;  // old path -> its pair
  // The same by the identity of the old path's folder and the file's name, for a row
  // that names the file through a linked folder (or the other way round).
  std::optional<QHash<TFileId, QHash<QString, qsizetype>>> byFolder;
  QHash<QString, std::optional<TFileId>> folderIds;
  auto folderId = [&folderIds](const QString& folder) {
    auto it = folderIds.find(folder);
    if (it == folderIds.end()) {
      TFileId id;
      it = folderIds.insert(folder, FileIdentity(folder, &id) ? std::optional(id) : std::nullopt);
    }
    return *it;
  };
  auto noteByFolder = [&](qsizetype p) {
    if (const std::optional<TFileId> id = folderId(FileFolderPart(m_Pairs[p])))
      (*byFolder)[*id].insert(FileNamePart(m_Pairs[p]), p);
  };
  for (int n : rows) {
    if (n < 0 || n >= document.m_Songs.size()) continue;
    TSlSong& song = document.m_Songs[n];
    const QString source = song.GetPath(true);
    if (bShow) progress.SetObject(source);
    if (song.IsStream()) {
      // A stream's address has no file to rename (the next row shows the progress).
      ++m_nSkipped;
      ++m_nProcessed;
      continue;
    }
    QString name;
    bool built = false;
    // One look at the file tells whether the song's tags are in step with it and gives
    // the file operation what it needs of the file. It goes by the path, as the rename
    // does: a folder another program swapped for another meanwhile is seen as it is now.
    struct stat st;
    const bool bLooked = ::stat(QFile::encodeName(source).constData(), &st) == 0;
    if (!bLooked && !renamed) {
      renamed.emplace();
      for (qsizetype p = firstPair; p < m_Pairs.size(); p += 2) renamed->insert(m_Pairs[p], p);
    }
    qsizetype earlier = bLooked ? -1 : renamed->value(source, -1);
    QString followed;
    if (earlier >= 0) {
      followed = m_Pairs[earlier + 1];
    } else if (!bLooked) {
      if (!byFolder) {
        byFolder.emplace();
        for (qsizetype p = firstPair; p < m_Pairs.size(); p += 2) noteByFolder(p);
      }
      const QString folder = FileFolderPart(source);
      if (const std::optional<TFileId> id = folderId(folder)) {
        earlier = byFolder->value(*id).value(FileNamePart(source), -1);
        if (earlier >= 0) {
          // The new name, reached the way this row reaches its folder.
          const QString oldFolder = FileFolderPart(m_Pairs[earlier]);
          followed = m_Pairs[earlier + 1];
          if (followed.startsWith(oldFolder)) followed = folder + followed.mid(oldFolder.size());
        }
      }
    }
    if (earlier >= 0) {
      const TRenamed& file = files[(earlier - firstPair) / 2];
      {
        std::lock_guard<std::recursive_mutex> lock(song.cs);
        m_Undo->Add(song, source, followed, song.m_Tag1.bTagSync, song.m_Tag2.bTagSync,
                    file.bKnown ? &file.file : nullptr);
        MoveSongPath(song, followed);
      }
      if (m_RowRenamed) m_RowRenamed(n);
    } else {
      std::lock_guard<std::recursive_mutex> lock(song.cs);
      const TFileStamp stamp = FileStampOf(st);
      if (!bLooked || !S_ISREG(st.st_mode) || song.m_bNewFileAge ||
          song.m_FileAge == kAgeNeverSynced ||
          FileAgeOf(stamp.mtimeNs, stamp.size) != song.m_FileAge)
        song.Sync();
      built = BuildFileName(song, n, m_Pieces, m_nDigits, m_bCorrect, &name);
    }
    if (built) {
      QString target = FileFolderPart(source) + name;
      const int result = operation.MoveOrCopy(true, source, target, bLooked ? &st : nullptr);
      if (result == frCancelled) break;
      if (result == frSkipped) ++m_nSkipped;
      if (result == frDone && target != source) {
        {
          std::lock_guard<std::recursive_mutex> lock(song.cs);
          // The file renamed is the one just looked at: its identity needs no second look.
          const TFileId file = FileIdOf(st);
          const bool bKnown = bLooked && !operation.m_bMoveByCopy;
          m_Undo->Add(song, source, target, song.m_Tag1.bTagSync, song.m_Tag2.bTagSync,
                      bKnown ? &file : nullptr);
          // Tags stay in step while the name keeps the file's format (a FLAC file stays
          // FLAC); another extension no longer tells what the file holds.
          if (!SameExtension(source, target) && MusicFormatOf(target) != MusicFormatOf(source)) {
            if (song.m_Tag1.bTagSync) song.m_Tag1.SetSync(false);
            if (song.m_Tag2.bTagSync) song.m_Tag2.SetSync(false);
          }
          if (renamed) renamed->insert(source, m_Pairs.size());
          m_Pairs << source << target;
          if (byFolder) noteByFolder(m_Pairs.size() - 2);
          files.push_back({file, bKnown});
          MoveSongPath(song, target);
          ++m_nRenamed;
        }
        if (checkpoint) checkpoint->Add(source, target);
        if (m_RowRenamed) m_RowRenamed(n);
      }
    }
    ++m_nProcessed;
    bShow = shown.Take();
    if (!bShow) continue;
    progress.SetProgress(selected ? m_nProcessed * 100 / selected : 100);
    if (progress.ProcessAndCheckStop()) break;
  }
  return m_nProcessed >= selected;
}

}  // namespace lb
