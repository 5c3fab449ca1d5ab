// A manual- or auto-reset event with a timed wait, the program's stand-in for the
// kernel event objects it waits on.
#pragma once

#include <condition_variable>
#include <mutex>

enum TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

class TEvent {
 public:
  TEvent(bool manualReset, bool initialState)
      : m_bManualReset(manualReset), m_bSignaled(initialState) {}
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void SetEvent() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_bSignaled = true;
    if (m_bManualReset)
      m_Cond.notify_all();
    else
      m_Cond.notify_one();
  }
  void ResetEvent() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_bSignaled = false;
  }
  // Timeout in milliseconds; INFINITE_WAIT waits for ever.
  static constexpr unsigned INFINITE_WAIT = 0xFFFFFFFFu;
  TWaitResult WaitFor(unsigned timeoutMs) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    auto ready = [this] { return m_bSignaled; };
    if (timeoutMs == INFINITE_WAIT) {
      m_Cond.wait(lock, ready);
    } else if (!m_Cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
      return wrTimeout;
    }
    if (!m_bManualReset) m_bSignaled = false;
    return wrSignaled;
  }

 private:
  std::mutex m_Mutex;
  std::condition_variable m_Cond;
  bool m_bManualReset;
  bool m_bSignaled;
};
