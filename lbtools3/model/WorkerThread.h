// The worker-thread framework: a background thread hosted by a modal progress dialog
// (TInfoWindow1) with a Stop button. The worker reaches the dialog, the message boxes
// and the document window it serves only through calls run on the main thread
// (Synchronize), which return when the main thread has run them.
#pragma once

#include "platform/Event.h"

#include <QString>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// What the host dialog shows, as the worker sees it. SetInfoText and SetProgress run
// on the main thread; PostWorkerFinished is called on the worker's thread and must only
// post a notice that the dialog handles later on the main thread.
class IWorkerView {
 public:
  virtual ~IWorkerView() = default;
  // code 0: the text line (shortened), 1: the object (shortened), 2: the action.
  virtual void SetInfoText(int code, const QString& text) = 0;
  virtual void SetProgress(int position) = 0;
  virtual void PostWorkerFinished() = 0;
};

// The document window a worker serves, asked on the main thread.
class IWorkerDocumentWindow {
 public:
  virtual ~IWorkerDocumentWindow() = default;
  virtual int SelectedIndex() = 0;  // the first selected song, -1 when none
  virtual int SelectedCount() = 0;
  virtual int SongCount() = 0;
  virtual bool IsSelected(int n) = 0;
  virtual void RedrawSongs(int nFirst, int nLast) = 0;
  // The player-list updates: row n is about to go, row n went, forget the row.
  virtual void PlayerRowRemoving(int) {}
  virtual void PlayerRowRemoved(int) {}
  virtual void PlayerForgetRow() {}
};

// Codes of SetInfoText.
enum TInfoTextCode { itLine = 0, itObject = 1, itAction = 2 };

class TBaseWorkerThread {
 public:
  // Created suspended: the thread starts with Resume.
  TBaseWorkerThread();
  // Asks the thread to end and waits for it.
  virtual ~TBaseWorkerThread();
  TBaseWorkerThread(const TBaseWorkerThread&) = delete;
  TBaseWorkerThread& operator=(const TBaseWorkerThread&) = delete;

  // Called by the host dialog once it is linked to the worker (main thread).
  virtual void Prepare() {}

  void Resume();
  void Terminate() { m_bTerminated = true; }
  bool Terminated() const { return m_bTerminated; }
  bool Started() const { return m_Thread.joinable(); }
  bool Finished() const { return m_bFinished; }
  // Waits for the thread to end. On the main thread the synchronised calls the worker
  // makes meanwhile are served (pending messages are processed), so a worker waiting
  // for the main thread never deadlocks its own end.
  void WaitFor();
  // Terminate and WaitFor.
  void StopAndWait();

  // ---- services for the worker, each run on the main thread ----
  void Synchronize(const std::function<void()>& fn);
  void SetInfoText(int code, const QString& text);
  void SetProgress(int position);
  int ThreadMessageBox(const QString& text, const QString& caption, unsigned flags);
  int GetSelectedIndex();
  int GetSelectedCount();
  int GetSongCount();
  bool IsSongSelected(int n);
  void RedrawSongs(int nFirst, int nLast);

  // The host dialog, the owner and the document window (set by the host).
  IWorkerView* m_pInfoWindow = nullptr;
  void* m_pOwner = nullptr;
  IWorkerDocumentWindow* m_pChild = nullptr;
  // Cells through which synchronised calls pass values.
  int m_nArgument = 0;
  int m_nValue = 0;
  QString m_Text;
  QString m_MsgText, m_MsgCaption;
  unsigned m_MsgFlags = 0;
  int m_MsgResult = 0;

 protected:
  // The work. Checks Terminated() between units of work.
  virtual void Execute() = 0;

 private:
  void Run();

  std::thread m_Thread;
  std::atomic<bool> m_bTerminated{false};
  std::atomic<bool> m_bFinished{false};
  TEvent m_Ended{true, false};
};

// Runs fn on a thread of its own while the calling thread, when it is the main thread,
// keeps processing pending messages; returns fn's answer once fn has returned. For a
// call that blocks on the disk (a flush) and must not freeze the windows: fn touches no
// window and nothing the processed messages may change, and the caller holds no lock
// those messages may need.
bool RunOffMainThread(const std::function<bool()>& fn);
