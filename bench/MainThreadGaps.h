// The main thread's longest gap between two turns of its event loop while a piece of
// work runs, and what the main thread was running in that gap. Every benchmark that
// says how responsive a window stays measures it with this one meter.
//
// A 1 ms timer on the main thread marks each turn of the loop (it can only fire when the
// loop turns: a long job on the main thread fires it only while it processes pending
// messages). A watcher thread looks every few milliseconds; while a gap is open it
// interrupts the main thread (SIGPROF) and records the main thread's stack. The stacks
// recorded in the longest gap are kept, with the processor time the main thread used in
// it: a gap of little processor time is the machine's load (the thread waited for a
// core), one of much is work on the main thread, named by the stacks.
//
//   TMainThreadGaps gaps;
//   gaps.Start();          // on the main thread, in its event loop or before the job
//   ...the job...
//   gaps.Stop();           // closes the last gap
//   gaps.LongestMs(), gaps.LongestCpuMs(), gaps.Print(stdout)
#pragma once

#include "lbtools3/ui/QtUiServices.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QWidget>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <pthread.h>
#include <signal.h>
#include <string>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

// A shown main window that has painted a text once, as the program's has by the time a
// job starts; the job's progress windows and messages belong to it.
class TPaintedMainWindow {
 public:
  TPaintedMainWindow(QtUiServices& ui, const char* text, int width, int height)
      : m_Text(QString::fromUtf8(text), &m_Window) {
    m_Window.resize(width, height);
    m_Window.show();
    ui.SetMainWindow(&m_Window);
    m_Text.show();
    for (int n = 0; n < 10; ++n) QApplication::processEvents();
  }

 private:
  QWidget m_Window;
  QLabel m_Text;
};

class TMainThreadGaps {
 public:
  // openAfterMs: how long the loop must have been still before the watcher records the
  // stack (then every sampleEveryMs while the gap lasts).
  explicit TMainThreadGaps(int openAfterMs = 5, int sampleEveryMs = 2)
      : m_OpenAfterNs(openAfterMs * 1000000LL), m_EveryMs(sampleEveryMs) {
    m_Main = pthread_self();
    const std::string stat = "/proc/self/task/" + std::to_string(gettid()) + "/schedstat";
    m_SchedStat = ::open(stat.c_str(), O_RDONLY | O_CLOEXEC);
    pthread_getcpuclockid(m_Main, &m_CpuClock);
    void* warm[4];
    backtrace(warm, 4);  // loads the unwinder outside the signal handler
    Self() = this;
    struct sigaction sa {};
    sa.sa_sigaction = &TMainThreadGaps::OnSignal;
    sa.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGPROF, &sa, &m_OldAction);
    m_Pulse.setTimerType(Qt::PreciseTimer);
    m_Pulse.setInterval(1);
    QObject::connect(&m_Pulse, &QTimer::timeout, [this] { Turn(); });
  }
  ~TMainThreadGaps() {
    Stop();
    sigaction(SIGPROF, &m_OldAction, nullptr);
    Self() = nullptr;
    if (m_SchedStat >= 0) ::close(m_SchedStat);
  }
  TMainThreadGaps(const TMainThreadGaps&) = delete;
  TMainThreadGaps& operator=(const TMainThreadGaps&) = delete;

  void Start() {
    Stop();
    m_Clock.start();
    m_Last = 0;
    m_LastCpu = CpuNs();
    m_LastQueued = QueuedNs();
    m_Longest = m_LongestCpu = m_LongestHeld = m_CurrentHeld = 0;
    m_LongestAt = 0;
    m_Turns = 0;
    m_Current.clear();
    m_Kept.clear();
    m_bRunning = true;
    m_Pulse.start();
    m_Watcher = std::thread([this] { Watch(); });
  }
  // Closes the last gap (the job's end counts as a turn) and ends the watcher.
  void Stop() {
    if (!m_bRunning) return;
    Turn();
    m_Pulse.stop();
    m_bRunning = false;
    m_Watcher.join();
  }

  double LongestMs() const { return m_Longest / 1e6; }
  double LongestCpuMs() const { return m_LongestCpu / 1e6; }
  double LongestAtMs() const { return m_LongestAt / 1e6; }  // its end, from Start
  // The longest stretch in that gap in which the watcher thread, asleep for a few
  // milliseconds, was not run: when it is most of the gap, the machine's load held the
  // whole process off the cores.
  double LongestHeldMs() const { return m_LongestHeld / 1e6; }
  // The time the main thread waited for a core in that gap while it could have run: the
  // machine's load, not the program's work.
  double LongestQueuedMs() const { return m_LongestQueued / 1e6; }
  int Turns() const { return m_Turns; }

  // One line of figures, then the stacks recorded in the longest gap, our frames only
  // (innermost first; the innermost frame of any library is named too).
  void Print(FILE* out, const char* title) const {
    std::fprintf(out,
                 "%s: longest main-thread gap %.1f ms: the main thread on a core %.1f ms, "
                 "waiting for a core %.1f ms (the watcher held off up to %.1f ms); ending "
                 "%.0f ms into the job, %d turns\n",
                 title, LongestMs(), LongestCpuMs(), LongestQueuedMs(), LongestHeldMs(),
                 LongestAtMs(), m_Turns);
    std::map<std::string, int> seen;
    for (const Sample& s : m_Kept) ++seen[Describe(s)];
    for (const auto& [text, count] : seen) std::fprintf(out, "  %d x %s\n", count, text.c_str());
  }

 private:
  static constexpr int kDepth = 48;
  struct Sample {
    void* frames[kDepth];
    int depth = 0;
    qint64 atNs = 0;
  };

  static TMainThreadGaps*& Self() {
    static TMainThreadGaps* self = nullptr;
    return self;
  }

  // The time the main thread has waited for a core while it could run (the scheduler's
  // own count), 0 where the system does not keep it.
  qint64 QueuedNs() const {
    char text[128];
    const ssize_t got = m_SchedStat >= 0 ? ::pread(m_SchedStat, text, sizeof text - 1, 0) : -1;
    if (got <= 0) return 0;
    text[got] = 0;
    unsigned long long running = 0, waiting = 0;
    return std::sscanf(text, "%llu %llu", &running, &waiting) == 2 ? qint64(waiting) : 0;
  }

  qint64 CpuNs() const {
    timespec ts{};
    clock_gettime(m_CpuClock, &ts);
    return qint64(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
  }

  // A turn of the loop, on the main thread.
  void Turn() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    const qint64 now = m_Clock.nsecsElapsed(), cpu = CpuNs(), queued = QueuedNs();
    ++m_Turns;
    if (now - m_Last > m_Longest) {
      m_Longest = now - m_Last;
      m_LongestCpu = cpu - m_LastCpu;
      m_LongestQueued = queued - m_LastQueued;
      m_LongestAt = now;
      m_Kept = m_Current;
      m_LongestHeld = m_CurrentHeld;
    }
    m_Current.clear();
    m_CurrentHeld = 0;
    m_Last = now;
    m_LastCpu = cpu;
    m_LastQueued = queued;
  }

  void Watch() {
    while (m_bRunning) {
      const qint64 before = m_Clock.nsecsElapsed();
      std::this_thread::sleep_for(std::chrono::milliseconds(m_EveryMs));
      std::lock_guard<std::mutex> lock(m_Mutex);
      // A sleep far longer than asked: the whole process was waiting for a core.
      m_CurrentHeld = std::max(m_CurrentHeld, m_Clock.nsecsElapsed() - before);
      if (!m_bRunning || m_Clock.nsecsElapsed() - m_Last < m_OpenAfterNs) continue;
      if (m_Current.size() >= 256) continue;
      m_bTaken.store(false);
      pthread_kill(m_Main, SIGPROF);
      // The handler runs on the main thread even while it waits for this mutex.
      while (!m_bTaken.load()) std::this_thread::yield();
      m_Sample.atNs = m_Clock.nsecsElapsed();
      m_Current.push_back(m_Sample);
    }
  }

  static void OnSignal(int, siginfo_t*, void*) {
    TMainThreadGaps* self = Self();
    if (!self) return;
    self->m_Sample.depth = backtrace(self->m_Sample.frames, kDepth);
    self->m_bTaken.store(true);
  }

  // The frames of a stack as "function < caller < ...", our own code by name through
  // addr2line (most of it is linked in statically), the rest by the library.
  static std::string Describe(const Sample& s) {
    std::string text;
    int shown = 0;
    // Frames 0-1 are the handler and the signal trampoline.
    for (int i = 2; i < s.depth && shown < 8; ++i) {
      Dl_info info{};
      if (!dladdr(s.frames[i], &info) || !info.dli_fname) continue;
      const std::string module = info.dli_fname;
      // Our code: the program itself and the libraries of the build, not the system's.
      const bool ours = module.rfind("/usr/", 0) != 0 && module.rfind("/lib", 0) != 0;
      std::string name;
      if (ours) {
        name = Symbol(module, reinterpret_cast<char*>(s.frames[i]) -
                                  reinterpret_cast<char*>(info.dli_fbase) - 1);
      } else if (shown == 0 || text.empty()) {
        name = module.substr(module.rfind('/') + 1);
        if (info.dli_sname) name += ":" + Demangled(info.dli_sname);
      } else {
        continue;
      }
      if (!text.empty()) text += " < ";
      text += name;
      ++shown;
    }
    return text;
  }

  static std::string Demangled(const char* name) {
    int status = 0;
    char* d = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::string out = status == 0 && d ? d : name;
    std::free(d);
    return Short(out);
  }

  // A function name without its parameter list or return type.
  static std::string Short(std::string name) {
    int depth = 0;
    for (size_t i = 0; i < name.size(); ++i) {
      if (name[i] == '<') ++depth;
      if (name[i] == '>') --depth;
      if (name[i] == '(' && depth == 0 && i > 0) {
        name.resize(i);
        break;
      }
    }
    return name.size() > 70 ? name.substr(name.size() - 70) : name;
  }

  static std::string Symbol(const std::string& module, long offset) {
    static std::map<std::pair<std::string, long>, std::string> cache;
    const auto key = std::make_pair(module, offset);
    if (auto it = cache.find(key); it != cache.end()) return it->second;
    char command[1024];
    std::snprintf(command, sizeof command, "addr2line -f -C -e '%s' 0x%lx", module.c_str(), offset);
    std::string name = "?";
    if (FILE* p = popen(command, "r")) {
      char line[4096];
      if (std::fgets(line, sizeof line, p)) {
        name = line;
        name.erase(name.find_last_not_of("\n") + 1);
        name = Short(name);
      }
      if (std::fgets(line, sizeof line, p)) {
        std::string where = line;
        where.erase(where.find_last_not_of("\n") + 1);
        where = where.substr(where.rfind('/') + 1);
        name += " [" + where.substr(0, where.find(' ')) + "]";
      }
      pclose(p);
    }
    return cache[key] = name;
  }

  const qint64 m_OpenAfterNs;
  const int m_EveryMs;
  pthread_t m_Main;
  clockid_t m_CpuClock{};
  struct sigaction m_OldAction {};
  QTimer m_Pulse;
  QElapsedTimer m_Clock;
  std::thread m_Watcher;
  std::mutex m_Mutex;
  std::atomic<bool> m_bRunning{false};
  std::atomic<bool> m_bTaken{false};
  qint64 m_Last = 0, m_LastCpu = 0, m_Longest = 0, m_LongestCpu = 0, m_LongestAt = 0;
  qint64 m_CurrentHeld = 0, m_LongestHeld = 0;
  int m_SchedStat = -1;
  qint64 m_LastQueued = 0, m_LongestQueued = 0;
  int m_Turns = 0;
  Sample m_Sample;
  std::vector<Sample> m_Current, m_Kept;
};
