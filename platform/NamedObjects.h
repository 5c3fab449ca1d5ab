// Named kernel objects shared between processes: an event, a memory mapping and a
// window-message port. Each object is a local socket "<folder>/<kind>-<namespace><name>"
// owned by the process that created it: the owner holds the lock of the name, which
// the kernel releases when that process ends, as a kernel object goes when its last
// handle closes. <namespace> is the value of LBTOOLS_OBJECT_NAMESPACE (empty when
// unset), so that programs started for tests never meet the user's own.
//
// The folder is private to the user ($XDG_RUNTIME_DIR/lbtools, else /tmp/lbtools-UID,
// mode 0700), so no other user can take a name or connect to one. Every server still
// closes connections from processes of another user, and every client drops a
// connection whose listening side belongs to another user. A server closes connections
// that stay silent while it owes them nothing, keeps a bounded number of them, and
// never gives up its name on an accept error.
//
// Events and mappings are served by one background thread of the process, so they
// answer other processes even while the creating thread is blocked (for instance
// while it waits on the event, or while it sends a message whose receiver reads the
// mapping). A message port is served by the thread that registered it, through that
// thread's event loop, so its handler always runs on that thread (the GUI thread).
//
// Creating an object (an event, a mapping, a port) needs the application object: Qt
// delivers no socket events before it exists, so Create fails then. Opening, waiting,
// signalling, reading and sending work without one.
#pragma once

#include "Event.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace lb {

// The private folder of this user's named objects; empty when none can be made.
QString NamedObjectFolder();
// The socket path of a named object of the given kind ("event", "mapping", "port").
// A name too long for a socket address is replaced by its SHA-1 digest.
QString NamedObjectSocketName(const QString& kind, const QString& name);
// How long a server lets a connection stay silent, and how many it keeps.
inline constexpr int kNamedObjectIdleMs = 3000;
inline constexpr int kNamedObjectMaxConnections = 64;

enum class TCreateResult {
  Created,        // this object owns the name now
  AlreadyExists,  // another object (of this or another process) owns it, however slow
  Failed          // empty name, no private folder, or no socket could be made
};

// Framing shared by every object: a 32-bit little-endian length, then the body, whose
// first byte is the operation code. Exposed for the tests of the framing.
namespace wire {
QByteArray Frame(uint8_t op, const QByteArray& body = {});
enum class TTake { Incomplete, Frame, Bad };
// Takes one frame from the front of buf. Bad: an empty frame or one longer than maxBody.
TTake TakeFrame(QByteArray& buf, uint8_t& op, QByteArray& body, uint32_t maxBody);
}  // namespace wire

class TNamedEventServer;

// A named event. Create makes it (or, when the name is taken, opens the existing one
// and says AlreadyExists, as the system call does with error 183); Open only opens.
// The owner keeps the state; an opener signals, resets and waits through the owner.
class TNamedEvent {
 public:
  TNamedEvent();
  ~TNamedEvent();
  TNamedEvent(const TNamedEvent&) = delete;
  TNamedEvent& operator=(const TNamedEvent&) = delete;

  TCreateResult Create(const QString& name, bool manualReset, bool initialState);
  // True when an event of this name exists now (its owner's process lives).
  bool Open(const QString& name);
  void Close();

  bool IsOwner() const { return m_pServer != nullptr; }
  bool IsOpen() const { return !m_Name.isEmpty(); }
  QString Name() const { return m_Name; }

  bool Signal();
  bool Reset();
  // The owner may attach a number to the event for the processes that open it (the
  // program puts the port of its window there once the window exists). An opener asks
  // the owner: nothing when the owner does not answer, 0 until a number is published.
  void Publish(int64_t value);
  std::optional<int64_t> Published(int timeoutMs = 2000) const;
  // Auto-reset events are reset by the wait that takes the signal. An opener gets
  // wrAbandoned when the owner goes away during the wait, wrError when it is gone.
  TWaitResult Wait(unsigned timeoutMs);

  static bool Exists(const QString& name);

 private:
  QString m_Name;
  std::shared_ptr<struct TNamedEventState> m_pState;  // owner only
  TNamedEventServer* m_pServer = nullptr;             // lives on the service thread
};

class TNamedMappingServer;

// A named block of bytes. The creator holds the bytes until it closes the object;
// another process opens it by name and receives a copy of them.
class TNamedMapping {
 public:
  // The largest mapping handed between processes.
  static constexpr int64_t kMaxSize = 64 * 1024 * 1024;

  TNamedMapping();
  ~TNamedMapping();
  TNamedMapping(const TNamedMapping&) = delete;
  TNamedMapping& operator=(const TNamedMapping&) = delete;

  // Fails (AlreadyExists) when the name is taken; size 0 or above kMaxSize fails.
  TCreateResult CreateExclusive(const QString& name, int64_t size);
  TCreateResult CreateExclusive(const QString& name, const QByteArray& bytes);
  // Writes into the held bytes; false past the end or when not the creator.
  bool Write(int64_t offset, const QByteArray& bytes);

  // Reads the first size bytes (0: all) of the mapping of that name. Fails when the
  // name is unknown or size is larger than the mapping.
  bool Open(const QString& name, int64_t size = 0, int timeoutMs = 5000);
  void Close();

  bool IsCreator() const { return m_pServer != nullptr; }
  // The held bytes (creator) or the bytes read (opener).
  QByteArray Data() const;
  int64_t Size() const;

 private:
  QString m_Name;
  std::shared_ptr<struct TNamedMappingState> m_pState;
  TNamedMappingServer* m_pServer = nullptr;
  QByteArray m_Read;
};

// The stand-in for a window handle: the owning process id in the high 32 bits and a
// per-process counter in the low ones. 0 is no port.
using TPortHandle = int64_t;
using TMessageHandler = std::function<int64_t(uint32_t msg, uint64_t wParam, int64_t lParam)>;

class TMessagePortServer;

// A window's message port. Register it on the thread whose event loop shall run the
// handler (the GUI thread) and destroy it on that thread.
class TMessagePort {
 public:
  static constexpr int kDefaultSendTimeoutMs = 60000;

  TMessagePort();
  ~TMessagePort();
  TMessagePort(const TMessagePort&) = delete;
  TMessagePort& operator=(const TMessagePort&) = delete;

  // Returns the new handle, 0 on failure. A second call replaces the first port.
  TPortHandle Register(TMessageHandler handler);
  void Unregister();
  TPortHandle Handle() const { return m_Handle; }

  // Runs the receiver's handler on its thread and returns its result; nothing when the
  // port does not exist, goes away, or does not answer within the time. A send to a
  // port of the calling thread calls the handler directly.
  static std::optional<int64_t> SendMessage(TPortHandle port, uint32_t msg, uint64_t wParam,
                                            int64_t lParam, int timeoutMs = kDefaultSendTimeoutMs);
  // Queues the message for the receiver's thread and returns; false when the port
  // cannot be reached.
  static bool PostMessage(TPortHandle port, uint32_t msg, uint64_t wParam, int64_t lParam);
  static bool IsWindow(TPortHandle port);

 private:
  TPortHandle m_Handle = 0;
  TMessagePortServer* m_pServer = nullptr;
};

}  // namespace lb
