// Named events, mappings and message ports within one process and across processes.
#include "TestEnv.h"
#include "platform/NamedObjects.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QEventLoop>
#include <QLocalSocket>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <QUuid>
#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <thread>

using lb::TCreateResult;
using lb::TMessagePort;
using lb::TNamedEvent;
using lb::TNamedMapping;

namespace {

QString UniqueName() {
  return QStringLiteral("{%1}").arg(QUuid::createUuid().toString(QUuid::WithoutBraces));
}

// A started peer program; killed when the object goes.
class Peer {
 public:
  explicit Peer(const QStringList& args) {
    m_Process.setProgram(lbtest::BinDir() + "/ipc_peer");
    m_Process.setArguments(args);
    m_Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_Process.start();
  }
  ~Peer() {
    if (m_Process.state() != QProcess::NotRunning) {
      m_Process.kill();
      m_Process.waitForFinished();
    }
  }
  // The next line the peer prints ("" when it ends first).
  QByteArray Line() {
    while (!m_Process.canReadLine())
      if (!m_Process.waitForReadyRead(20000)) return m_Process.readAll().trimmed();
    return m_Process.readLine().trimmed();
  }
  void Write(const QByteArray& line) {
    m_Process.write(line + "\n");
    m_Process.waitForBytesWritten();
  }
  void Kill() {
    m_Process.kill();
    m_Process.waitForFinished();
  }
  // The exit code, or -1 when it did not end normally.
  int Finish() {
    if (m_Process.state() != QProcess::NotRunning && !m_Process.waitForFinished(30000)) return -1;
    return m_Process.exitStatus() == QProcess::NormalExit ? m_Process.exitCode() : -1;
  }
  // Runs this thread's event loop until the peer ends (this thread may own a port the
  // peer talks to).
  int FinishServing() {
    if (m_Process.state() != QProcess::NotRunning) {
      QEventLoop loop;
      QObject::connect(&m_Process, &QProcess::finished, &loop, &QEventLoop::quit);
      QTimer::singleShot(30000, &loop, &QEventLoop::quit);  // a guard against a hang
      loop.exec();
    }
    return Finish();
  }
  qint64 Pid() const { return m_Process.processId(); }
  // Stops the peer and waits until every thread of it is stopped: a stop signal takes
  // effect only when each thread next runs, which on a busy machine can be after an
  // answer it was about to give.
  bool Stop() {
    const pid_t pid = pid_t(Pid());
    if (::kill(pid, SIGSTOP) != 0) return false;
    const QString tasks = QString("/proc/%1/task").arg(pid);
    for (;;) {
      bool all = true;
      for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks + "/" + task + "/stat");
        if (!stat.open(QIODevice::ReadOnly)) continue;
        const QByteArray line = stat.readAll();
        const int close = line.lastIndexOf(')');
        if (close < 0 || close + 2 >= line.size() || line[close + 2] != 'T') all = false;
      }
      if (all) return true;
      std::this_thread::yield();
    }
  }
  QByteArray Rest() { return m_Process.readAllStandardOutput().trimmed(); }

 private:
  QProcess m_Process;
};

// Runs this thread's event loop until done() is true (or a generous guard expires).
template <class Pred>
bool ServeUntil(Pred done) {
  QDeadlineTimer guard(30000);
  while (!done() && !guard.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

}  // namespace

// ---------------------------------------------------------------------------------

TEST(NamedObjectsWire, FramesSurviveSplittingAndRejectGarbage) {
  QByteArray stream = lb::wire::Frame(5, "abc") + lb::wire::Frame(6);
  QByteArray buf;
  uint8_t op = 0;
  QByteArray body;
  // Byte by byte: nothing comes out before the whole frame is there.
  int frames = 0;
  for (char c : stream) {
    buf.append(c);
    if (lb::wire::TakeFrame(buf, op, body, 16) == lb::wire::TTake::Frame) {
      ++frames;
      if (frames == 1) {
        EXPECT_EQ(op, 5);
        EXPECT_EQ(body, QByteArray("abc"));
      } else {
        EXPECT_EQ(op, 6);
        EXPECT_TRUE(body.isEmpty());
      }
    }
  }
  EXPECT_EQ(frames, 2);
  EXPECT_TRUE(buf.isEmpty());

  QByteArray empty = QByteArray::fromHex("00000000");
  EXPECT_EQ(lb::wire::TakeFrame(empty, op, body, 16), lb::wire::TTake::Bad);
  QByteArray huge = QByteArray::fromHex("ffffffff01");
  EXPECT_EQ(lb::wire::TakeFrame(huge, op, body, 16), lb::wire::TTake::Bad);
  QByteArray tooLong = lb::wire::Frame(1, QByteArray(17, 'x'));
  EXPECT_EQ(lb::wire::TakeFrame(tooLong, op, body, 16), lb::wire::TTake::Bad);
}

TEST(NamedObjectsWire, LongNamesStillMakeUsableSocketNames) {
  const QString longName(300, QChar('n'));
  const QString socketName = lb::NamedObjectSocketName("event", longName);
  EXPECT_LE(socketName.toUtf8().size(), 100);
  EXPECT_NE(socketName, lb::NamedObjectSocketName("event", longName + "x"));
  EXPECT_NE(lb::NamedObjectSocketName("event", "a"), lb::NamedObjectSocketName("mapping", "a"));

  TNamedEvent event;
  ASSERT_EQ(event.Create(longName, false, false), TCreateResult::Created);
  EXPECT_TRUE(TNamedEvent::Exists(longName));
}

// ---------------------------------------------------------------------------------

TEST(NamedEvent, SecondCreateOpensTheExistingEvent) {
  const QString name = UniqueName();
  EXPECT_FALSE(TNamedEvent::Exists(name));
  TNamedEvent owner;
  ASSERT_EQ(owner.Create(name, false, false), TCreateResult::Created);
  EXPECT_TRUE(owner.IsOwner());

  TNamedEvent second;
  EXPECT_EQ(second.Create(name, false, false), TCreateResult::AlreadyExists);
  EXPECT_FALSE(second.IsOwner());
  // The second handle reaches the same event.
  EXPECT_TRUE(second.Signal());
  EXPECT_EQ(owner.Wait(TEvent::INFINITE_WAIT), wrSignaled);

  owner.Close();
  EXPECT_FALSE(TNamedEvent::Exists(name));
  TNamedEvent missing;
  EXPECT_FALSE(missing.Open(name));
  EXPECT_FALSE(missing.Signal());
  EXPECT_EQ(missing.Wait(0), wrError);
}

TEST(NamedEvent, AnOpenerWhoseWaitEndsDoesNotSwallowALaterSignal) {
  const QString name = UniqueName();
  TNamedEvent owner, opener;
  ASSERT_EQ(owner.Create(name, false, false), TCreateResult::Created);
  ASSERT_TRUE(opener.Open(name));
  EXPECT_EQ(opener.Wait(30), wrTimeout);
  owner.Signal();
  // The withdrawn wait must not have taken the signal.
  EXPECT_EQ(owner.Wait(TEvent::INFINITE_WAIT), wrSignaled);
}

TEST(NamedEvent, EventOfAChildProcessVanishesWithIt) {
  const QString name = UniqueName();
  Peer child({"hold-event", name});
  ASSERT_EQ(child.Line(), "created");

  TNamedEvent here;
  EXPECT_EQ(here.Create(name, false, false), TCreateResult::AlreadyExists);
  here.Close();

  // An opener waiting when the owner dies wakes up without the signal.
  TNamedEvent opener;
  ASSERT_TRUE(opener.Open(name));
  std::atomic<int> waitResult{-1};
  std::thread waiter([&] { waitResult = opener.Wait(TEvent::INFINITE_WAIT); });
  child.Kill();
  waiter.join();
  EXPECT_NE(waitResult.load(), int(wrSignaled));

  EXPECT_FALSE(TNamedEvent::Exists(name));
  EXPECT_EQ(here.Create(name, false, false), TCreateResult::Created);
}

TEST(NamedEvent, OpenerInAnotherProcessWakesOnSignal) {
  const QString name = UniqueName();
  TNamedEvent owner;
  ASSERT_EQ(owner.Create(name, false, false), TCreateResult::Created);
  Peer waiter({"wait-event", name, QString::number(TEvent::INFINITE_WAIT)});
  ASSERT_EQ(waiter.Line(), "waiting");
  ASSERT_TRUE(owner.Signal());
  EXPECT_EQ(waiter.Finish(), 0);
  // The peer's wait took the auto-reset signal.
  EXPECT_EQ(owner.Wait(0), wrTimeout);

  Peer impatient({"wait-event", name, "50"});
  EXPECT_EQ(impatient.Finish(), 1);
  Peer nobody({"wait-event", UniqueName(), "50"});
  EXPECT_EQ(nobody.Finish(), 2);
}

TEST(NamedEvent, OwnerWaitingOnItsMainThreadWakesOnAnotherProcessSignal) {
  const QString name = UniqueName();
  TNamedEvent owner;
  ASSERT_EQ(owner.Create(name, false, false), TCreateResult::Created);
  Peer signaller({"signal-event", name});
  // No event loop runs here: the event is served on its own thread.
  EXPECT_EQ(owner.Wait(TEvent::INFINITE_WAIT), wrSignaled);
  EXPECT_EQ(signaller.Finish(), 0);
}

TEST(NamedEvent, ChildOwnerSignalsAnOpenerHere) {
  const QString name = UniqueName();
  Peer child({"hold-event", name});
  ASSERT_EQ(child.Line(), "created");
  TNamedEvent opener;
  ASSERT_TRUE(opener.Open(name));
  std::atomic<int> waitResult{-1};
  std::thread waiter([&] { waitResult = opener.Wait(TEvent::INFINITE_WAIT); });
  child.Write("signal");
  EXPECT_EQ(child.Line(), "signalled");
  waiter.join();
  EXPECT_EQ(waitResult.load(), int(wrSignaled));
}

TEST(NamedEvent, GarbageFromAClientLeavesTheOwnerWorking) {
  const QString name = UniqueName();
  TNamedEvent owner;
  ASSERT_EQ(owner.Create(name, false, false), TCreateResult::Created);
  const QString socketName = lb::NamedObjectSocketName("event", name);
  const QByteArray junk[] = {
      QByteArray::fromHex("ffffffff00112233"),  // an absurd length
      QByteArray::fromHex("0000000000"),        // an empty frame
      lb::wire::Frame(0xEE, "what"),            // an unknown request
      QByteArray::fromHex("0a000000") + "abc",  // cut off mid-frame
      QByteArray(4096, '\x01'),                 // noise
  };
  for (const QByteArray& bytes : junk) {
    QLocalSocket socket;
    socket.connectToServer(socketName);
    ASSERT_TRUE(socket.waitForConnected(5000));
    socket.write(bytes);
    socket.waitForBytesWritten(5000);
    socket.disconnectFromServer();
  }
  Peer signaller({"signal-event", name});
  EXPECT_EQ(owner.Wait(TEvent::INFINITE_WAIT), wrSignaled);
  EXPECT_EQ(signaller.Finish(), 0);
}

// ---------------------------------------------------------------------------------

namespace {
// Two paths of 10 and 20 characters with their NULs and the closing NUL: 33 bytes.
QByteArray ThirtyThreeBytes() {
  QByteArray bytes = QByteArray("/music/a.b") + '\0' + QByteArray("/music/cd/efghij.mp3") + '\0';
  bytes.append('\0');
  return bytes;
}
}  // namespace

TEST(NamedMapping, AnotherProcessReadsTheBytesExactly) {
  const QString name = UniqueName();
  const QByteArray bytes = ThirtyThreeBytes();
  ASSERT_EQ(bytes.size(), 33);
  TNamedMapping mapping;
  ASSERT_EQ(mapping.CreateExclusive(name, bytes), TCreateResult::Created);

  Peer reader({"read-mapping", name, "33"});
  EXPECT_EQ(reader.Finish(), 0);
  EXPECT_EQ(QByteArray::fromHex(reader.Rest()), bytes);

  Peer whole({"read-mapping", name, "0"});
  EXPECT_EQ(whole.Finish(), 0);
  EXPECT_EQ(QByteArray::fromHex(whole.Rest()), bytes);

  Peer oversized({"read-mapping", name, "34"});
  EXPECT_EQ(oversized.Finish(), 1);
  Peer unknown({"read-mapping", UniqueName(), "1"});
  EXPECT_EQ(unknown.Finish(), 1);
}

TEST(NamedMapping, ReadsAMappingHeldByAnotherProcess) {
  const QString name = UniqueName();
  Peer holder({"hold-mapping", name, "00"});
  ASSERT_EQ(holder.Line(), "created");

  TNamedMapping here;
  EXPECT_EQ(here.CreateExclusive(name, QByteArray("x")), TCreateResult::AlreadyExists);
  TNamedMapping reader;
  ASSERT_TRUE(reader.Open(name, 1));
  EXPECT_EQ(reader.Data(), QByteArray(1, '\0'));  // an empty list: one NUL
  EXPECT_FALSE(reader.Open(name, 2));

  holder.Kill();
  EXPECT_FALSE(reader.Open(name, 1));
  EXPECT_EQ(here.CreateExclusive(name, QByteArray("x")), TCreateResult::Created);
}

TEST(NamedMapping, CreatorWritesWithinItsSizeOnly) {
  const QString name = UniqueName();
  TNamedMapping mapping;
  EXPECT_EQ(mapping.CreateExclusive(name, int64_t(0)), TCreateResult::Failed);
  ASSERT_EQ(mapping.CreateExclusive(name, int64_t(4)), TCreateResult::Created);
  EXPECT_TRUE(mapping.Write(1, "ab"));
  EXPECT_FALSE(mapping.Write(3, "ab"));
  EXPECT_FALSE(mapping.Write(-1, "a"));
  TNamedMapping reader;
  ASSERT_TRUE(reader.Open(name));
  EXPECT_EQ(reader.Data(), QByteArray("\0ab\0", 4));
  EXPECT_FALSE(reader.Write(0, "z"));

  mapping.Close();
  EXPECT_FALSE(reader.Open(name));
}

// ---------------------------------------------------------------------------------

TEST(MessagePort, SendAcrossProcessesRunsTheHandlerOnTheReceiversMainThread) {
  Peer receiver({"serve-port"});
  const lb::TPortHandle port = receiver.Line().toLongLong();
  ASSERT_NE(port, 0);
  EXPECT_EQ(quint64(port) >> 32, quint64(receiver.Pid()));
  EXPECT_TRUE(TMessagePort::IsWindow(port));

  const auto result = TMessagePort::SendMessage(port, 0x8002, 33, 2);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(*result, 1000035);  // 33 + 2, and the handler ran on the main thread

  // Posted messages arrive, though the poster hangs up at once.
  EXPECT_TRUE(TMessagePort::PostMessage(port, 0x8001, 1, 0));
  EXPECT_TRUE(TMessagePort::PostMessage(port, 0x8001, 2, 0));
  EXPECT_TRUE(ServeUntil([&] { return TMessagePort::SendMessage(port, 0x8003, 0, 0) == 3; }));

  receiver.Kill();
  EXPECT_FALSE(TMessagePort::IsWindow(port));
  EXPECT_FALSE(TMessagePort::SendMessage(port, 0x8002, 1, 0, 2000).has_value());
  EXPECT_FALSE(TMessagePort::PostMessage(port, 0x8001, 1, 0));
  EXPECT_FALSE(TMessagePort::IsWindow(0));
}

TEST(MessagePort, SendToAReceiverThatStopsAnsweringFails) {
  Peer receiver({"serve-port"});
  const lb::TPortHandle port = receiver.Line().toLongLong();
  ASSERT_NE(port, 0);
  // A frozen receiver: the send gives up at its time limit, and the port is still there.
  ASSERT_TRUE(receiver.Stop());
  EXPECT_FALSE(TMessagePort::SendMessage(port, 0x8002, 1, 0, 200).has_value());
  EXPECT_TRUE(TMessagePort::IsWindow(port));
  ASSERT_EQ(::kill(pid_t(receiver.Pid()), SIGCONT), 0);
  EXPECT_EQ(TMessagePort::SendMessage(port, 0x8002, 1, 0), std::optional<int64_t>(1000001));
  // Message 0x0010 ends the receiver after it answered.
  EXPECT_EQ(TMessagePort::SendMessage(port, 0x0010, 0, 0), std::optional<int64_t>(7));
  EXPECT_EQ(receiver.Finish(), 0);
  EXPECT_FALSE(TMessagePort::SendMessage(port, 0x8002, 1, 0, 2000).has_value());
}

TEST(MessagePort, HandOverReadsTheSendersMappingDuringTheSend) {
  // The sender blocks in its send while our handler reads the mapping it holds.
  const QString mapName = UniqueName();
  const QByteArray bytes = ThirtyThreeBytes();
  QByteArray received;
  bool onMain = false;
  TMessagePort port;
  const lb::TPortHandle handle = port.Register([&](uint32_t msg, uint64_t w, int64_t) {
    onMain = QThread::currentThread() == qApp->thread();
    if (msg != 0x8002) return int64_t(-1);
    TNamedMapping mapping;
    if (!mapping.Open(mapName, int64_t(w))) return int64_t(-2);
    received = mapping.Data();
    return int64_t(received.size());
  });
  ASSERT_NE(handle, 0);
  Peer sender({"handover", mapName, QString::fromLatin1(bytes.toHex()), QString::number(handle)});
  EXPECT_EQ(sender.FinishServing(), 0);
  EXPECT_EQ(sender.Rest(), "33");
  EXPECT_EQ(received, bytes);
  EXPECT_TRUE(onMain);
}

TEST(MessagePort, SendsWithinTheProcess) {
  std::atomic<bool> ranOnMain{false};
  TMessagePort port;
  const lb::TPortHandle handle = port.Register([&](uint32_t msg, uint64_t w, int64_t l) {
    ranOnMain = QThread::currentThread() == qApp->thread();
    return int64_t(msg) + int64_t(w) * l;
  });
  ASSERT_NE(handle, 0);
  EXPECT_EQ(quint64(handle) >> 32, quint64(QCoreApplication::applicationPid()));
  EXPECT_TRUE(TMessagePort::IsWindow(handle));

  // From the owning thread: called at once, no event loop needed.
  EXPECT_EQ(TMessagePort::SendMessage(handle, 1, 2, 3), std::optional<int64_t>(7));
  EXPECT_TRUE(ranOnMain);

  // From a worker: the handler still runs on the main thread.
  ranOnMain = false;
  std::atomic<bool> done{false};
  std::optional<int64_t> fromWorker;
  std::thread worker([&] {
    fromWorker = TMessagePort::SendMessage(handle, 10, 4, -1);
    done = true;
  });
  EXPECT_TRUE(ServeUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_EQ(fromWorker, std::optional<int64_t>(6));
  EXPECT_TRUE(ranOnMain);

  port.Unregister();
  EXPECT_FALSE(TMessagePort::IsWindow(handle));
  EXPECT_FALSE(TMessagePort::SendMessage(handle, 1, 2, 3).has_value());
}

TEST(MessagePort, PostReturnsAtOnceAndRunsLater) {
  int calls = 0;
  TMessagePort port;
  const lb::TPortHandle handle = port.Register([&](uint32_t, uint64_t w, int64_t) {
    calls += int(w);
    return int64_t(0);
  });
  ASSERT_TRUE(TMessagePort::PostMessage(handle, 0x8001, 1, 0));
  EXPECT_EQ(calls, 0);
  EXPECT_TRUE(ServeUntil([&] { return calls == 1; }));

  // A message posted to a port that is gone before it is delivered is dropped.
  ASSERT_TRUE(TMessagePort::PostMessage(handle, 0x8001, 5, 0));
  port.Unregister();
  QCoreApplication::processEvents();
  EXPECT_EQ(calls, 1);
}

TEST(MessagePort, GarbageFromAClientLeavesThePortWorking) {
  TMessagePort port;
  const lb::TPortHandle handle =
      port.Register([](uint32_t, uint64_t w, int64_t) { return int64_t(w); });
  ASSERT_NE(handle, 0);
  const QString socketName = lb::NamedObjectSocketName(
      "port", QStringLiteral("%1-%2").arg(quint64(handle) >> 32).arg(quint32(handle)));
  const QByteArray junk[] = {
      QByteArray::fromHex("ffffffff00"),
      lb::wire::Frame(40, "short"),           // a send with a truncated body
      QByteArray::fromHex("15000000") + "x",  // cut off mid-frame
      QByteArray(1000, '\x7f'),
  };
  std::vector<std::unique_ptr<QLocalSocket>> sockets;
  for (const QByteArray& bytes : junk) {
    auto socket = std::make_unique<QLocalSocket>();
    socket->connectToServer(socketName);
    ASSERT_TRUE(socket->waitForConnected(5000));
    socket->write(bytes);
    socket->waitForBytesWritten(5000);
    sockets.push_back(std::move(socket));
  }
  QCoreApplication::processEvents();
  sockets.pop_back();  // one of them goes away without a word
  std::atomic<bool> done{false};
  std::optional<int64_t> result;
  std::thread worker([&] {
    result = TMessagePort::SendMessage(handle, 0x8002, 42, 0);
    done = true;
  });
  EXPECT_TRUE(ServeUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_EQ(result, std::optional<int64_t>(42));
}

// ---------------------------------------------------------------------------------

TEST(NamedObjectServer, AFloodOfSilentConnectionsLeavesRoomAndIsClosed) {
  const QString name = UniqueName();
  TNamedEvent owner;
  ASSERT_EQ(owner.Create(name, false, false), TCreateResult::Created);
  std::vector<std::unique_ptr<QLocalSocket>> flood;
  for (int n = 0; n < 2 * lb::kNamedObjectMaxConnections; ++n) {
    auto socket = std::make_unique<QLocalSocket>();
    socket->connectToServer(lb::NamedObjectSocketName("event", name));
    ASSERT_TRUE(socket->waitForConnected(5000));
    flood.push_back(std::move(socket));
  }
  // Another process still gets through.
  Peer signaller({"signal-event", name});
  EXPECT_EQ(signaller.Finish(), 0);
  EXPECT_EQ(owner.Wait(5000), wrSignaled);

  // Every silent connection is closed before long.
  QDeadlineTimer deadline(3 * lb::kNamedObjectIdleMs + 5000);
  auto open = [&] {
    int count = 0;
    for (auto& socket : flood) {
      socket->waitForReadyRead(0);
      count += socket->state() == QLocalSocket::ConnectedState;
    }
    return count;
  };
  while (open() > 0 && !deadline.hasExpired()) QThread::msleep(100);
  EXPECT_EQ(open(), 0);
}

TEST(NamedObjectServer, ANameIsTakenWhileItsOwnersProcessLivesHoweverSlow) {
  // The owner of a published number answers it.
  const QString name = UniqueName();
  TNamedEvent owner;
  ASSERT_EQ(owner.Create(name, false, false), TCreateResult::Created);
  EXPECT_EQ(owner.Published(), std::optional<int64_t>(0));
  owner.Publish(42);
  TNamedEvent opener;
  ASSERT_EQ(opener.Create(name, false, false), TCreateResult::AlreadyExists);
  EXPECT_EQ(opener.Published(), std::optional<int64_t>(42));

  // An owner that answers nothing (stopped) still holds its name; only its end frees it.
  const QString held = UniqueName();
  Peer holder({"hold-event", held});
  ASSERT_EQ(holder.Line(), "created");
  ASSERT_TRUE(holder.Stop());
  TNamedEvent later;
  EXPECT_EQ(later.Create(held, false, false), TCreateResult::AlreadyExists);
  EXPECT_TRUE(TNamedEvent::Exists(held));
  EXPECT_EQ(later.Published(300), std::nullopt);
  holder.Kill();
  EXPECT_FALSE(TNamedEvent::Exists(held));
  EXPECT_EQ(later.Create(held, false, false), TCreateResult::Created);

  // A socket left at the name by a process that holds no lock is no owner.
  const QString left = UniqueName();
  Peer squatter({"squat", lb::NamedObjectSocketName("event", left)});
  ASSERT_EQ(squatter.Line(), "listening");
  EXPECT_FALSE(TNamedEvent::Exists(left));
  TNamedEvent taker;
  EXPECT_EQ(taker.Create(left, false, false), TCreateResult::Created);
}

// The names live in a folder of this user's own: a process of another user can
// neither take a name before us nor reach ours. Run as root, a peer drops to the user
// "nobody" to play that stranger.
TEST(NamedObjectServer, AnotherUserCanNeitherTakeNorReachOurNames) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a peer as another user";
  const QString event = UniqueName();
  Peer squatter({"as-uid", "65534", "squat", lb::NamedObjectSocketName("event", event)});
  EXPECT_EQ(squatter.Line(), "taken");
  TNamedEvent owner;
  ASSERT_EQ(owner.Create(event, false, false), TCreateResult::Created);
  Peer prober({"as-uid", "65534", "probe", lb::NamedObjectSocketName("event", event),
               QString::fromLatin1(lb::wire::Frame(1).toHex())});
  EXPECT_EQ(prober.Line(), "refused");
}
