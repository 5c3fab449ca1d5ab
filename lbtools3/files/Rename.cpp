#include "Rename.h"

#include "FileOperation.h"
#include "ListPaths.h"
#include "lbtools3/model/M3uList.h"
#include "platform/MusicFormats.h"
#include "lbtools3/model/InfoWindowManager.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <mutex>
#include <sys/stat.h>

namespace lb {

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
  song.m_Path = path;
  if (!bFull) song.SetPathForm(false);
  song.m_Tag1.UpdateDisplayName();
  song.m_Tag2.UpdateDisplayName();
  song.MarkModified();
}

bool TSlRenameFiles::Run(TSlDocument& document, const std::vector<int>& rows,
                         TFileOperation& operation, TPathCheckpoint* checkpoint) {
  TInfoWindowLevel window(kAction, QString(), true);
  TSlInfoWindowManager& progress = InfoWindowManager();
  const int selected = int(rows.size());
  // The progress window shows the file at hand and the Stop button is looked at every
  // few milliseconds rather than for every file: a rename takes microseconds.
  QElapsedTimer shown;
  bool bShow = true;
  for (int n : rows) {
    if (n < 0 || n >= document.m_Songs.size()) continue;
    TSlSong& song = document.m_Songs[n];
    const QString source = song.GetPath(true);
    if (bShow) progress.SetObject(source);
    QString name;
    bool built;
    // One look at the file tells whether the song's tags are in step with it and gives
    // the file operation what it needs of the file.
    struct stat st;
    const bool bLooked = ::stat(QFile::encodeName(source).constData(), &st) == 0;
    {
      std::lock_guard<std::recursive_mutex> lock(song.cs);
      const int64_t mtime = int64_t(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
      if (!bLooked || !S_ISREG(st.st_mode) || song.m_bNewFileAge ||
          song.m_FileAge == kAgeNeverSynced || FileAgeOf(mtime, st.st_size) != song.m_FileAge)
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
          m_Undo->Add(song, source, target, song.m_Tag1.bTagSync, song.m_Tag2.bTagSync);
          // Tags stay in step while the name keeps the file's format (a FLAC file stays
          // FLAC); another extension no longer tells what the file holds.
          if (MusicFormatOf(target) != MusicFormatOf(source)) {
            if (song.m_Tag1.bTagSync) song.m_Tag1.SetSync(false);
            if (song.m_Tag2.bTagSync) song.m_Tag2.SetSync(false);
          }
          m_Pairs << source << target;
          MoveSongPath(song, target);
          ++m_nRenamed;
        }
        if (checkpoint) checkpoint->Add(source, target);
        if (m_RowRenamed) m_RowRenamed(n);
      }
    }
    ++m_nProcessed;
    bShow = !shown.isValid() || shown.elapsed() >= kShowIntervalMs;
    if (!bShow) continue;
    shown.start();
    progress.SetProgress(selected ? m_nProcessed * 100 / selected : 100);
    if (progress.ProcessAndCheckStop()) break;
  }
  return m_nProcessed >= selected;
}

}  // namespace lb
