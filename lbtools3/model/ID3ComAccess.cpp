#include "ID3ComAccess.h"

#include "platform/FileSystem.h"
#include "platform/UiServices.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QThread>
#include <atomic>

namespace lb {

namespace {
// Releases the thread's pointer when the thread ends.
struct TThreadSlot {
  IID3ComTag* tag = nullptr;
  ~TThreadSlot() {
    if (tag) tag->Release();
  }
};
thread_local TThreadSlot t_Slot;

HRESULT CreateObject(IID3ComTag** tag) {
  return CoCreateInstance(CLSID_ID3ComTag, nullptr, CLSCTX_INPROC_SERVER, IID_IID3ComTag,
                          reinterpret_cast<void**>(tag));
}

std::atomic<TID3COMThread*> g_Thread{nullptr};

bool OnMainThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}
}  // namespace

std::recursive_mutex& ID3ComLock() {
  static std::recursive_mutex lock;
  return lock;
}

IID3ComTag* ThreadID3Com() {
  return t_Slot.tag;
}

void SetThreadID3Com(IID3ComTag* tag) {
  if (tag) tag->AddRef();
  if (t_Slot.tag) t_Slot.tag->Release();
  t_Slot.tag = tag;
}

HRESULT CreateID3Com(IID3ComTag** tag) {
  HRESULT hr = CreateObject(tag);
  if (hr != REGDB_E_CLASSNOTREG) return hr;
  const QString library = ExecutableFolder() + "/" + kID3ComLibraryName;
  if (!FileExists(library)) return hr;
  if (UiServices::Instance().MessageBox(
          "Библиотека для работы с ID3v2-тэгами не зарегистрирована.\nПопробовать "
          "зарегистрировать ?",
          UiServices::kCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
    return hr;
  QLibrary lib(library);
  auto reg = reinterpret_cast<PFN_DllRegisterServer>(lib.resolve("DllRegisterServer"));
  if (!reg) return hr;
  HRESULT regResult = reg();
  lib.unload();
  return SUCCEEDED(regResult) ? CreateObject(tag) : hr;
}

TID3COMThread* ID3COMThread() {
  return g_Thread.load();
}
void SetID3COMThread(TID3COMThread* thread) {
  g_Thread.store(thread);
}

HRESULT AttachThreadToID3Com(TID3COMThread* thread) {
  if (!thread) thread = ID3COMThread();
  if (!thread) return E_FAIL;
  IID3ComTag* cell = nullptr;
  TEvent answered(true, false);
  if (!thread->PostThreadMessage(WM_ID3COM_MARSHAL, reinterpret_cast<uintptr_t>(&cell),
                                 reinterpret_cast<uintptr_t>(&answered)))
    return FAILED(thread->m_ErrorCode) ? thread->m_ErrorCode : E_FAIL;
  answered.WaitFor(TEvent::INFINITE_WAIT);
  if (!cell) return E_FAIL;
  SetThreadID3Com(cell);
  cell->Release();  // the slot holds its own reference
  return S_OK;
}

void DetachThreadFromID3Com() {
  SetThreadID3Com(nullptr);
}

HRESULT AttachCurrentThreadToID3Com() {
  CoInitialize(nullptr);
  static std::mutex startMutex;
  TID3COMThread* thread = nullptr;
  {
    std::lock_guard<std::mutex> lock(startMutex);
    thread = ID3COMThread();
    if (!thread) {
      // Lives until the process ends: threads may attach at any time.
      thread = new TID3COMThread;
      thread->Start();
      if (!thread->WaitForStart()) {
        HRESULT hr = thread->m_ErrorCode;
        delete thread;
        return FAILED(hr) ? hr : E_FAIL;
      }
      SetID3COMThread(thread);
    }
  }
  return AttachThreadToID3Com(thread);
}

}  // namespace lb

TID3COMThread::TID3COMThread() = default;

TID3COMThread::~TID3COMThread() {
  Quit();
  if (lb::ID3COMThread() == this) lb::SetID3COMThread(nullptr);
}

void TID3COMThread::Start() {
  if (m_Thread.joinable()) return;
  m_Thread = std::thread([this] { Execute(); });
}

bool TID3COMThread::WaitForStart() {
  if (!m_Thread.joinable()) return false;
  const bool pump = lb::OnMainThread();
  for (;;) {
    if (m_Ready.WaitFor(pump ? 10 : 0) == wrSignaled) return true;
    if (m_Ended.WaitFor(pump ? 0 : 10) == wrSignaled) return m_Ready.WaitFor(0) == wrSignaled;
    if (pump) UiServices::Instance().ProcessMessages();
  }
}

void TID3COMThread::Quit() {
  if (!m_Thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_bEnded = true;  // the quit message: no request is taken after it
  }
  m_Cond.notify_all();
  m_Thread.join();
}

bool TID3COMThread::PostThreadMessage(unsigned msg, uintptr_t wParam, uintptr_t lParam) {
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (!m_bAccepting || m_bEnded) return false;
    m_Queue.push_back({msg, wParam, lParam});
  }
  m_Cond.notify_all();
  return true;
}

void TID3COMThread::AnswerMarshal(const Message& m) {
  auto* cell = reinterpret_cast<IID3ComTag**>(m.wParam);
  auto* answered = reinterpret_cast<TEvent*>(m.lParam);
  if (cell) {
    // The object is guarded by the program-wide lock for every whole operation, so
    // handing out a counted pointer to it is this platform's marshalling.
    *cell = m_Object;
    if (m_Object) m_Object->AddRef();
  }
  if (answered) answered->SetEvent();
}

void TID3COMThread::Execute() {
  CoInitialize(nullptr);
  HRESULT hr = lb::CreateID3Com(&m_Object);
  if (FAILED(hr) || !m_Object) {
    m_Object = nullptr;
    m_ErrorCode = FAILED(hr) ? hr : E_FAIL;
    CoUninitialize();
    m_Ended.SetEvent();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_bAccepting = !m_bEnded;
  }
  m_Ready.SetEvent();
  for (;;) {
    Message m{};
    {
      std::unique_lock<std::mutex> lock(m_Mutex);
      m_Cond.wait(lock, [this] { return !m_Queue.empty() || m_bEnded; });
      if (m_Queue.empty()) break;  // quit after the queued requests
      m = m_Queue.front();
      m_Queue.pop_front();
    }
    if (m.msg == WM_ID3COM_MARSHAL) AnswerMarshal(m);
  }
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_bAccepting = false;
  }
  {
    std::lock_guard<std::recursive_mutex> lock(lb::ID3ComLock());
    m_Object->Release();
    m_Object = nullptr;
  }
  CoUninitialize();
  m_Ended.SetEvent();
}
