#include "DeleteFilesWorker.h"

#include "lbtools3/model/M3uList.h"
#include "platform/FileSystem.h"
#include "platform/UiServices.h"

#include <mutex>

TSlDelFilesWorkerThread::TSlDelFilesWorkerThread(TSlDocument* document, TRemoveRow removeRow,
                                                 TTrashFunction trash)
    : m_pDocument(document), m_RemoveRow(std::move(removeRow)), m_Trash(std::move(trash)) {
  if (!m_Trash)
    m_Trash = [](const QString& path, QString* error) { return lb::MoveToTrash(path, error); };
}

TSlDelFilesWorkerThread::~TSlDelFilesWorkerThread() {
  StopAndWait();
}

QString TSlDelFilesWorkerThread::SongPath(int n) {
  std::lock_guard<std::recursive_mutex> lock(m_pDocument->m_Lock);
  if (n < 0 || n >= m_pDocument->m_Songs.size()) return QString();
  return m_pDocument->m_Songs[n].GetPath(true);
}

bool TSlDelFilesWorkerThread::DeleteSong(int i, const QString& path, bool bPresent) {
  Synchronize([&] {
    if (m_pChild) m_pChild->PlayerRowRemoving(i);
  });
  SetInfoText(itObject, path);
  QString error;
  if (bPresent && !m_Trash(path, &error)) {
    ThreadMessageBox(QString::fromUtf8(kErrorText) + path, UiServices::kCaption, MB_ICONERROR);
    return false;
  }
  // The row leaves the view and the song the document in one main-thread step, so the
  // view never shows a row the document no longer has.
  Synchronize([&] {
    if (m_pChild) m_pChild->PlayerRowRemoved(i);
    m_RemoveRow(i);
  });
  m_DeletedPaths << path << QString();
  return true;
}

void TSlDelFilesWorkerThread::Execute() {
  const int total = GetSelectedCount();
  int i = GetSelectedIndex();
  if (i < 0) i = 0;
  while (i < GetSongCount()) {
    if (IsSongSelected(i)) {
      const QString path = SongPath(i);
      // A stream's address has no file to delete: its row stays.
      const lb::TSongFile file = lb::SongFileOf(path);
      if (file != lb::TSongFile::Stream && DeleteSong(i, path, file == lb::TSongFile::Present)) --i;
      ++m_nProcessed;
      if (total > 0) SetProgress(m_nProcessed * 100 / total);
      if (Terminated()) break;
    }
    ++i;
  }
  Synchronize([&] {
    if (!m_pChild) return;
    m_pChild->PlayerForgetRow();
    const int count = m_pChild->SongCount();
    if (count > 0) m_pChild->RedrawSongs(0, count - 1);
  });
}
