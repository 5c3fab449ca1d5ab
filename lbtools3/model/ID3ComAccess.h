// Access to the ID3Com tag component. One apartment thread (TID3COMThread) owns the
// program's only ID3Com object; every other thread that touches tags attaches to it
// first (AttachThreadToID3Com) and keeps its own interface pointer in a per-thread
// slot. A program-wide lock is held around every whole tag operation, so the shared
// object serves one operation at a time.
#pragma once

#include "id3com/ID3Com.h"
#include "platform/Event.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace lb {

std::recursive_mutex& ID3ComLock();

// The calling thread's interface pointer; null when the thread has none.
IID3ComTag* ThreadID3Com();
// Stores the thread's pointer (taking a reference of its own; null releases it).
void SetThreadID3Com(IID3ComTag* tag);

// Creates an ID3Com object. When the class is not registered and the component's
// library lies beside the executable, asks the user whether to register it and, on
// Yes, registers the library and tries once more.
HRESULT CreateID3Com(IID3ComTag** tag);

}  // namespace lb

// The request a thread posts to the apartment thread for its own interface pointer:
// wParam is the address of the cell that receives the pointer (IID3ComTag**), lParam
// the address of the TEvent set when the cell is filled.
inline constexpr unsigned WM_ID3COM_MARSHAL = 0x8001;

// The apartment thread: creates the object (asking about registration when its class
// is not registered), then answers marshal requests from its own request queue until
// it is told to quit.
class TID3COMThread {
 public:
  TID3COMThread();
  // Quits the thread and waits for it.
  ~TID3COMThread();
  TID3COMThread(const TID3COMThread&) = delete;
  TID3COMThread& operator=(const TID3COMThread&) = delete;

  void Start();
  // Waits until the thread owns the object (true) or has ended with an error (false).
  // On the main thread pending messages are processed meanwhile, so the registration
  // question the thread may ask can be shown.
  bool WaitForStart();
  // Asks the thread to end after the requests already queued, and waits for it.
  void Quit();

  // Queues a request; false when the thread does not take requests (not started,
  // failed or ended), in which case nothing will answer it.
  bool PostThreadMessage(unsigned msg, uintptr_t wParam, uintptr_t lParam);

  // Set when the object exists and the request queue accepts requests.
  TEvent m_Ready{true, false};
  // The failure result of creating the object; 0 when it succeeded.
  HRESULT m_ErrorCode = 0;

 private:
  struct Message {
    unsigned msg;
    uintptr_t wParam, lParam;
  };
  void Execute();
  void AnswerMarshal(const Message& m);

  std::thread m_Thread;
  TEvent m_Ended{true, false};
  std::mutex m_Mutex;
  std::condition_variable m_Cond;
  std::deque<Message> m_Queue;
  bool m_bAccepting = false;
  bool m_bEnded = false;
  IID3ComTag* m_Object = nullptr;
};

namespace lb {

// The program's apartment thread (set by start-up; null when there is none).
TID3COMThread* ID3COMThread();
void SetID3COMThread(TID3COMThread* thread);

// Posts the marshal request to the apartment thread, waits for the answer and stores
// the pointer in the calling thread's slot. A thread that is not running answers at
// once with its error (or E_FAIL); a failed marshal leaves the slot empty.
HRESULT AttachThreadToID3Com(TID3COMThread* thread = nullptr);
// Releases the calling thread's pointer (the end of a thread that used tags).
void DetachThreadFromID3Com();

// For tools and tests without a start-up sequence: initialises COM for the thread,
// starts the program's apartment thread when none runs yet (it then lives until the
// process ends) and attaches the calling thread to it.
HRESULT AttachCurrentThreadToID3Com();
}  // namespace lb
