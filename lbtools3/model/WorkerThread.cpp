#include "WorkerThread.h"

#include "ID3ComAccess.h"
#include "platform/MainThreadMail.h"
#include "platform/UiServices.h"

#include <QCoreApplication>
#include <QThread>

namespace {
bool OnMainThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return !app || QThread::currentThread() == app->thread();
}
}  // namespace

TBaseWorkerThread::TBaseWorkerThread() = default;

TBaseWorkerThread::~TBaseWorkerThread() {
  // A derived worker is already gone here: Execute must have ended. StopAndWait in
  // the derived destructor, or the host's Stop, sees to that; this join is the last
  // guard against leaving a running thread behind.
  m_bTerminated = true;
  if (m_Thread.joinable()) {
    WaitFor();
    m_Thread.join();
  }
}

void TBaseWorkerThread::Resume() {
  if (m_Thread.joinable()) return;
  m_Thread = std::thread([this] { Run(); });
}

void TBaseWorkerThread::Run() {
  CoInitialize(nullptr);
  // Every thread that may touch tags attaches to the apartment thread first.
  if (lb::ID3COMThread()) lb::AttachThreadToID3Com();
  try {
    Execute();
  } catch (...) {
    // A failing worker still ends its dialog.
  }
  lb::DetachThreadFromID3Com();
  CoUninitialize();
  // The notice goes out before the end is signalled: once a waiter sees the end it may
  // free the dialog, and this thread must not touch it after that.
  if (m_pInfoWindow) m_pInfoWindow->PostWorkerFinished();
  m_bFinished = true;
  m_Ended.SetEvent();
  MainThreadMail().SetEvent();
}

void TBaseWorkerThread::WaitFor() {
  if (!m_Thread.joinable()) return;
  if (std::this_thread::get_id() == m_Thread.get_id()) return;
  if (OnMainThread()) {
    // Asleep until the worker hands this thread something to run or ends (both set
    // the mail); the timeout serves the thread's other events.
    while (m_Ended.WaitFor(0) != wrSignaled) {
      UiServices::Instance().ProcessMessages();
      MainThreadMail().WaitFor(5);
    }
  } else {
    m_Ended.WaitFor(TEvent::INFINITE_WAIT);
  }
}

void TBaseWorkerThread::StopAndWait() {
  Terminate();
  WaitFor();
}

void TBaseWorkerThread::Synchronize(const std::function<void()>& fn) {
  UiServices::Instance().RunOnMainThread(fn);
}

void TBaseWorkerThread::SetInfoText(int code, const QString& text) {
  Synchronize([&] {
    if (m_pInfoWindow) m_pInfoWindow->SetInfoText(code, text);
  });
}

void TBaseWorkerThread::SetProgress(int position) {
  Synchronize([&] {
    if (m_pInfoWindow) m_pInfoWindow->SetProgress(position);
  });
}

int TBaseWorkerThread::ThreadMessageBox(const QString& text, const QString& caption,
                                        unsigned flags) {
  m_MsgText = text;
  m_MsgCaption = caption;
  m_MsgFlags = flags;
  Synchronize([this] {
    m_MsgResult = UiServices::Instance().MessageBox(m_MsgText, m_MsgCaption, m_MsgFlags);
  });
  return m_MsgResult;
}

int TBaseWorkerThread::GetSelectedIndex() {
  Synchronize([this] { m_nValue = m_pChild ? m_pChild->SelectedIndex() : -1; });
  return m_nValue;
}

int TBaseWorkerThread::GetSelectedCount() {
  Synchronize([this] { m_nValue = m_pChild ? m_pChild->SelectedCount() : 0; });
  return m_nValue;
}

int TBaseWorkerThread::GetSongCount() {
  Synchronize([this] { m_nValue = m_pChild ? m_pChild->SongCount() : 0; });
  return m_nValue;
}

bool TBaseWorkerThread::IsSongSelected(int n) {
  m_nArgument = n;
  Synchronize([this] { m_nValue = m_pChild && m_pChild->IsSelected(m_nArgument) ? 1 : 0; });
  return m_nValue != 0;
}

void TBaseWorkerThread::RedrawSongs(int nFirst, int nLast) {
  Synchronize([&] {
    if (m_pChild) m_pChild->RedrawSongs(nFirst, nLast);
  });
}

bool RunOffMainThread(const std::function<bool()>& fn) {
  if (!QCoreApplication::instance() || !OnMainThread()) return fn();
  TEvent done(true, false);
  bool answer = false;
  std::thread thread([&] {
    answer = fn();
    done.SetEvent();
    MainThreadMail().SetEvent();
  });
  while (done.WaitFor(0) != wrSignaled) {
    UiServices::Instance().ProcessMessages();
    MainThreadMail().WaitFor(5);
  }
  thread.join();
  return answer;
}
