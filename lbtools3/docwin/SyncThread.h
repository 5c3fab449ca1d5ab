// The synchronisation pass of a document window: a background thread at idle priority
// that brings every song's tag records in step with the music files and reports its
// progress to the window.
#pragma once

#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class QObject;
class QThread;
class TSlDocument;
class TSlSong;

// What the pass tells its window; both are called on the main thread.
class ISyncWindow {
 public:
  virtual ~ISyncWindow() = default;
  // Panel 1 of the window's status bar.
  virtual void SyncStatus(const QString& text) = 0;
  // Repaints rows nFirst..nLast (nLast may lie past the end).
  virtual void SyncRepaint(int nFirst, int nLast) = 0;
};

class TSyncThread {
 public:
  static constexpr const char* kFinished = "Синхронизация тэгов завершена";

  // Created suspended on the main thread; Resume starts it.
  TSyncThread(TSlDocument* document, ISyncWindow* window);
  // Terminates the pass and waits for its end. Reports it had not delivered yet are
  // dropped.
  ~TSyncThread();
  TSyncThread(const TSyncThread&) = delete;
  TSyncThread& operator=(const TSyncThread&) = delete;

  // Marks the document as synchronising (structural changes are refused from here on)
  // and starts the thread.
  void Resume();
  void Terminate() { m_bTerminated = true; }
  bool Terminated() const { return m_bTerminated; }
  bool Finished() const { return m_bFinished; }
  // Waits for the end of the thread.
  void WaitFor();

  // "Тэги: P% синхронизировано" for row n of count.
  static QString StatusText(int n, int count);
  // Synchronises one song: a song whose file is unchanged since its last
  // synchronisation costs one stat and takes no further locks.
  static void SyncSong(TSlSong& song);

  // Index of the song being synchronised; after the loop, where it stopped.
  std::atomic<int> m_nIndex{0};
  // Songs synchronised by this pass (for tests and measurements).
  std::atomic<int> m_nSynced{0};

 private:
  class Runner;
  void Execute();
  // Locates the song to synchronise next under the document's lock; null at the end.
  TSlSong* NextSong(int* count);
  // Songs the pass has not met (after insertions before its position).
  std::vector<std::pair<int, TSlSong*>> MissedSongs();
  void Report(int n, int count);
  void PostStatus(const QString& text);
  void PostRepaint(int nFirst, int nLast);

  TSlDocument* m_pDocument;
  ISyncWindow* m_pWindow;
  std::unique_ptr<Runner> m_Thread;
  // Lives on the main thread: reports are queued to it and die with it.
  std::unique_ptr<QObject> m_Poster;
  std::atomic<bool> m_bTerminated{false};
  std::atomic<bool> m_bFinished{false};
  bool m_bStarted = false;

  QString m_Status;  // the last status text posted
  // Rows waiting for a repaint, merged until the main thread takes them.
  std::mutex m_RepaintMutex;
  int m_nRepaintFirst = -1, m_nRepaintLast = -1;
  bool m_bRepaintPosted = false;

  // Songs met, in the order met (sorted when songs inserted meanwhile are looked for).
  std::vector<const TSlSong*> m_Met;
  const TSlSong* m_pLast = nullptr;
};
