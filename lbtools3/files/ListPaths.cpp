#include "ListPaths.h"

#include "lbtools3/files/SongFiles.h"
#include "lbtools3/repository/Repository.h"
#include "lbtools3/model/M3uList.h"
#include "lbtools3/model/InfoWindowManager.h"
#include "lbtools3/model/ListFlush.h"
#include "lbtools3/ui/IDocumentWindow.h"
#include "lbtools3/ui/IRepositoryLists.h"
#include "platform/UiServices.h"

namespace lb {

namespace {
int Ask(const QString& text, unsigned flags) {
  return UiServices::Instance().MessageBox(text, UiServices::kCaption, flags);
}
}  // namespace

int ReplacePathsInListFile(TSlDocument& scratch, const QString& path, const QStringList& pairs,
                           bool* changed) {
  if (changed) *changed = false;
  for (;;) {
    scratch.Clear();
    scratch.SetFileName(path);
    if (scratch.Load(true)) break;
    InfoWindowManager().m_bStop = false;
    const int answer = Ask("Лист " + path +
                               " не был загружен и изменён.\nПопробовать ещё раз (да), "
                               "продолжить работу по смене путей в остальных листах (нет)\nили "
                               "прервать операцию (отмена)?",
                           MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDYES) continue;
    scratch.Clear();
    return answer == IDCANCEL ? lpStop : lpSkipped;
  }
  // Only a list whose entries changed is written: loading alone may mark a list
  // modified (one without its data file), and it must stay as it is on disk.
  bool entriesChanged = false;
  if (!ReplacePathsInDocument(scratch, pairs, [&entriesChanged] { entriesChanged = true; }))
    return lpStop;
  while (entriesChanged) {
    // Nothing but this call holds the loaded list: its file is flushed on a thread of its
    // own while the windows turn.
    TListFlushOffMainThread offMainThread;
    if (scratch.Save(false)) {
      if (changed) *changed = true;
      break;
    }
    if (Ask("При записи листа " + path + " произошла ошибка.\nПопробовать ещё раз ?",
            MB_YESNO | MB_ICONQUESTION) != IDYES)
      return lpSkipped;
  }
  return lpDone;
}

QStringList ReplacePathsInRepositoryLists(TListsRepository& repository, const QStringList& pairs,
                                          const QString& skip) {
  QStringList rewritten;
  if (pairs.isEmpty()) return rewritten;
  TSlDocument scratch;
  TInfoWindowLevel window("Поиск и смена путей...", QString(), true);
  repository.BeginBulk();
  for (int row = 0; row < repository.Count(); ++row) {
    repository.MarkRow(row);
    const QString path = repository.Path(row);
    if (!skip.isEmpty() && SamePath(path, skip)) continue;
    bool changed = false;
    const int result = ReplacePathsInListFile(scratch, path, pairs, &changed);
    if (changed) rewritten << path;
    if (result == lpStop) break;
  }
  repository.EndBulk();
  return rewritten;
}

TPathCheckpoint::TPathCheckpoint(TSink sink, int intervalMs)
    : m_Sink(std::move(sink)), m_Pace(intervalMs) {
  m_Pace.Turned();
}

void TPathCheckpoint::Add(const QString& oldPath, const QString& newPath) {
  m_Pending << oldPath << newPath;
  if (m_Pace.Due()) Flush();
}

void TPathCheckpoint::Flush() {
  if (!m_Pending.isEmpty()) {
    const QStringList pairs = std::move(m_Pending);
    m_Pending.clear();
    UiServices::Instance().RunOnMainThread([&] { m_Sink(pairs); });
  }
  m_Pace.Turned();
}

void SaveListInStep(TSlDocument& document) {
  if (document.m_bNew || document.m_FileName.isEmpty() || !document.m_bModified) return;
  // The batch's progress window keeps the list's window open, and an edit made while the
  // file is flushed marks the list modified again.
  TListFlushOffMainThread offMainThread;
  document.Save(true);
}

void TListedFiles::Add(const TSlDocument& document) {
  std::lock_guard<std::recursive_mutex> lock(document.m_Lock);
  TFileId id;
  for (int n = 0; n < document.m_Songs.size(); ++n)
    if (FileIdentity(document.m_Songs[n].GetPath(true), &id)) m_Files.insert(id);
}

bool TListedFiles::Names(const QString& path) {
  if (!m_bGathered) {
    m_bGathered = true;
    Add(m_Document);
    TSlDocument scratch;
    for (int row = 0; m_pLists && row < m_pLists->Count(); ++row) {
      if (m_pLists->IsOpen(row)) {
        if (IDocumentWindow* window = m_pLists->Child(row)) Add(window->Document());
        continue;
      }
      scratch.Clear();
      scratch.SetFileName(m_pLists->Path(row));
      if (scratch.Load(true)) Add(scratch);
    }
  }
  TFileId id;
  return FileIdentity(path, &id) && m_Files.count(id) != 0;
}

}  // namespace lb
