#include "RenameUndo.h"

#include "FileNames.h"
#include "FileOperation.h"
#include "ListPaths.h"
#include "Rename.h"
#include "lbtools3/model/InfoWindowManager.h"
#include "lbtools3/model/M3uList.h"
#include "lbtools3/model/SongSet.h"

#include <QSet>
#include <cerrno>
#include <mutex>

namespace lb {

void TRenameUndo::Add(TSlSong& song, const QString& oldPath, const QString& newPath, bool sync1,
                      bool sync2, const TFileId* file) {
  Entry e{&song, oldPath, newPath, {}, sync1, sync2};
  if (file)
    e.file = *file;
  else if (!FileIdentity(newPath, &e.file))
    return;
  m_Entries.push_back(std::move(e));
}

bool TRenameUndo::Available(const TSlDocument& document) const {
  if (m_Entries.empty()) return false;
  std::lock_guard<std::recursive_mutex> lock(document.m_Lock);
  const QSet<const TSlSong*> songs = SongSetOf(document);
  for (const Entry& e : m_Entries) {
    if (!songs.contains(e.song)) return false;
    // A song being synchronised just now is not asked for: the answer waits.
    std::unique_lock<std::recursive_mutex> songLock(e.song->cs, std::try_to_lock);
    if (!songLock.owns_lock() || e.song->GetPath(true) != e.newPath) return false;
  }
  return true;
}

bool TRenameUndo::Run(TSlDocument& document, TPathCheckpoint* checkpoint,
                      const std::function<void(int n)>& rowChanged) {
  m_NotUndone.clear();
  TInfoWindowLevel window(kAction, document.GetTitle(), true);
  TSlInfoWindowManager& progress = InfoWindowManager();
  const int count = int(m_Entries.size());
  int done = 0;
  // The last rename first: a name the batch freed and gave to another file is free
  // again by the time its first owner comes back to it.
  while (!m_Entries.empty()) {
    const Entry e = m_Entries.back();
    m_Entries.pop_back();
    progress.SetObject(e.newPath);
    int row;
    {
      std::lock_guard<std::recursive_mutex> lock(document.m_Lock);
      row = SongRow(document, e.song);
    }
    QString reason;
    TFileId now;
    if (row < 0 || e.song->GetPath(true) != e.newPath) {
      reason = kSongGone;
    } else if (FileIdentity(e.newPath, &now) && now == e.file) {
      if (!MoveFileNoReplace(e.newPath, e.oldPath))
        reason = errno == EEXIST ? QString(kTaken) : SystemErrorText(errno);
    } else if (!FileIdentity(e.oldPath, &now) || now != e.file) {
      // (The file is back at its old name already when the song is listed twice: only
      // the song goes back.)
      reason = kGone;
    }
    if (!reason.isEmpty()) {
      m_NotUndone << e.newPath + " → " + FileNamePart(e.oldPath) + ": " + reason;
    } else {
      TSlSong& song = *e.song;
      {
        std::lock_guard<std::recursive_mutex> lock(song.cs);
        MoveSongPath(song, e.oldPath);
        if (e.sync1 && !song.m_Tag1.bTagSync) song.m_Tag1.SetSync(true);
        if (e.sync2 && !song.m_Tag2.bTagSync) song.m_Tag2.SetSync(true);
      }
      if (checkpoint) checkpoint->Add(e.newPath, e.oldPath);
      if (rowChanged) rowChanged(row);
    }
    progress.SetProgress(++done * 100 / count);
    if (progress.ProcessAndCheckStop()) break;
  }
  return m_Entries.empty() && m_NotUndone.isEmpty();
}

QString TRenameUndo::Report() const {
  if (m_NotUndone.isEmpty()) return QString();
  return QString(kNotUndone).arg(m_NotUndone.size()) + "\n" + m_NotUndone.join('\n');
}

}  // namespace lb
