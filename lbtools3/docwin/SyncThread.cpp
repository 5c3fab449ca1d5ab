#include "SyncThread.h"

#include "ListOps.h"

#include "lbtools3/model/ID3ComAccess.h"
#include "lbtools3/model/M3uList.h"
#include "platform/FileSystem.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <algorithm>

class TSyncThread::Runner : public QThread {
 public:
  explicit Runner(TSyncThread* owner) : m_pOwner(owner) {}
  void run() override { m_pOwner->Execute(); }

 private:
  TSyncThread* m_pOwner;
};

TSyncThread::TSyncThread(TSlDocument* document, ISyncWindow* window)
    : m_pDocument(document),
      m_pWindow(window),
      m_Thread(std::make_unique<Runner>(this)),
      m_Poster(std::make_unique<QObject>()) {}

TSyncThread::~TSyncThread() {
  Terminate();
  WaitFor();
  // Deleting the poster drops the reports still queued to it.
  m_Poster.reset();
}

void TSyncThread::Resume() {
  if (m_bStarted) return;
  m_bStarted = true;
  // Reset here rather than on the thread, so that no removal slips in between the
  // start and the thread's first step.
  m_pDocument->m_DocNotSync->ResetEvent();
  m_Thread->start(QThread::IdlePriority);
}

void TSyncThread::WaitFor() {
  if (m_bStarted) m_Thread->wait();
}

QString TSyncThread::StatusText(int n, int count) {
  const long long percent = count > 0 ? (static_cast<long long>(n) + 1) * 100 / count : 100;
  return QStringLiteral("Тэги: ") + QString::number(percent) + QStringLiteral("% синхронизировано");
}

void TSyncThread::SyncSong(TSlSong& song) {
  {
    std::lock_guard<std::recursive_mutex> lock(song.cs);
    if (!song.m_bNewFileAge) {
      if (!song.m_Tag1.bTagSync && !song.m_Tag2.bTagSync) return;
      // What Sync would find for an unchanged file, for the price of one stat: a file
      // whose age is the one recorded is left alone (a missing file stays missing).
      if (song.m_FileAge != kAgeNeverSynced && lb::FileAge(song.GetPath(true)) == song.m_FileAge)
        return;
    }
  }
  // Nothing may end the pass's thread (and the program with it): a song whose
  // synchronisation fails in an unforeseen way is left as it was.
  try {
    song.Sync();
  } catch (...) {
  }
}

TSlSong* TSyncThread::NextSong(int* count) {
  std::lock_guard<std::recursive_mutex> lock(m_pDocument->m_Lock);
  TSlSongList& songs = m_pDocument->m_Songs;
  *count = songs.size();
  int n = m_nIndex;
  if (m_pLast) {
    // The song met last stood at n - 1. Songs inserted at or before it moved it on:
    // find it again and go on behind it; the inserted songs are met after the loop.
    int at = n - 1;
    if (at >= *count || &songs[at] != m_pLast) {
      at = std::max(at, 0);
      while (at < *count && &songs[at] != m_pLast) ++at;
      n = at + 1;
      m_nIndex = n;
    }
  }
  if (n >= *count) return nullptr;
  return &songs[n];
}

std::vector<std::pair<int, TSlSong*>> TSyncThread::MissedSongs() {
  std::sort(m_Met.begin(), m_Met.end());
  std::vector<std::pair<int, TSlSong*>> missed;
  std::lock_guard<std::recursive_mutex> lock(m_pDocument->m_Lock);
  TSlSongList& songs = m_pDocument->m_Songs;
  for (int n = 0; n < songs.size(); ++n)
    if (!std::binary_search(m_Met.begin(), m_Met.end(), &songs[n]))
      missed.emplace_back(n, &songs[n]);
  return missed;
}

void TSyncThread::Execute() {
  CoInitialize(nullptr);
  if (lb::ID3COMThread()) lb::AttachThreadToID3Com();

  int count = 0;
  for (m_nIndex = 0;; ++m_nIndex) {
    TSlSong* song = NextSong(&count);
    if (!song) break;
    SyncSong(*song);
    m_pLast = song;
    m_Met.push_back(song);
    ++m_nSynced;
    Report(m_nIndex, count);
    if (m_bTerminated) break;
  }
  // Songs inserted while the pass ran but not met by it (inserted before its
  // position, or after its last look at the count) are met now. Songs never leave the
  // document during the pass, so all were met exactly when the count equals the number
  // met; that test and the end of the pass happen under the document's lock, so any
  // later insertion comes after the pass.
  bool bEnded = false;
  while (!m_bTerminated) {
    {
      std::lock_guard<std::recursive_mutex> lock(m_pDocument->m_Lock);
      if (m_pDocument->m_Songs.size() == static_cast<int>(m_Met.size())) {
        m_pDocument->m_DocNotSync->SetEvent();
        bEnded = true;
        break;
      }
    }
    for (const auto& [n, song] : MissedSongs()) {
      SyncSong(*song);
      m_Met.push_back(song);
      ++m_nSynced;
      PostRepaint(n, n);
      if (m_bTerminated) break;
    }
  }
  if (!bEnded) m_pDocument->m_DocNotSync->SetEvent();

  const int n = m_nIndex;
  PostRepaint(lb::RepaintBlockStart(n), n);
  PostStatus(QString::fromUtf8(kFinished));

  lb::DetachThreadFromID3Com();
  CoUninitialize();
  m_bFinished = true;
}

void TSyncThread::Report(int n, int count) {
  const QString status = StatusText(n, count);
  // The text changes at most a hundred times a pass; only changes are sent.
  if (status != m_Status) PostStatus(status);
  if (n % 16 == 15) PostRepaint(lb::RepaintBlockStart(n), n);
}

void TSyncThread::PostStatus(const QString& text) {
  m_Status = text;
  QMetaObject::invokeMethod(
      m_Poster.get(), [this, text] { m_pWindow->SyncStatus(text); }, Qt::QueuedConnection);
}

void TSyncThread::PostRepaint(int nFirst, int nLast) {
  std::lock_guard<std::mutex> lock(m_RepaintMutex);
  if (m_nRepaintFirst < 0) {
    m_nRepaintFirst = nFirst;
    m_nRepaintLast = nLast;
  } else {
    m_nRepaintFirst = std::min(m_nRepaintFirst, nFirst);
    m_nRepaintLast = std::max(m_nRepaintLast, nLast);
  }
  // One repaint request waits at a time; blocks that finish meanwhile join it, so a
  // busy main thread is never flooded.
  if (m_bRepaintPosted) return;
  m_bRepaintPosted = true;
  QMetaObject::invokeMethod(
      m_Poster.get(),
      [this] {
        int first, last;
        {
          std::lock_guard<std::mutex> lock(m_RepaintMutex);
          first = m_nRepaintFirst;
          last = m_nRepaintLast;
          m_nRepaintFirst = m_nRepaintLast = -1;
          m_bRepaintPosted = false;
        }
        if (first >= 0) m_pWindow->SyncRepaint(first, last);
      },
      Qt::QueuedConnection);
}
