// The program as other processes meet it: a second start, the shell extension's
// hand-over and the global key hook's message. Each test starts lbtools3 with a private
// settings file, registry and home folder, plays the other side with the named objects,
// and kills every program it started at the end.
//
// What the tests can see from outside: the instance event (signalled once a program
// has finished its first activation), the run-time key in the private registry (the
// port handles carry the owner's process id in their high 32 bits), the settings file,
// the file LBTOOLS_TEST_DUMP names (rewritten by each hand-over with the receiving
// list), and a stand-in "pavucontrol" early on PATH that notes each of its starts (the
// action of hot-key slot 6).
#include "TestEnv.h"
#include "lbtools3/repository/Repository.h"
#include "lbtools3/app/StartUp.h"
#include "platform/IniFile.h"
#include "platform/NamedObjects.h"
#include "platform/Registry.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSize>
#include <QtEndian>
#include <csignal>
#include <fcntl.h>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kStartMs = 60000;  // generous: the machine is shared
constexpr int kSendMs = 60000;
// Delphi short-cut codes, as the settings keep them: Ctrl+K and Ctrl+J.
constexpr uint16_t kCtrlK = 0x4000 | 'K';
constexpr uint16_t kCtrlJ = 0x4000 | 'J';

int64_t OwnerPid(int64_t handle) {
  return handle >> 32;
}

// The socket name of a message port handle.
QString PortSocket(int64_t port) {
  return lb::NamedObjectSocketName(
      "port", QStringLiteral("%1-%2").arg(quint64(port) >> 32).arg(quint32(port)));
}

// The program ended by itself, normally and with code 0.
::testing::AssertionResult EndedCleanly(QProcess& process) {
  if (!process.waitForFinished(kStartMs)) return ::testing::AssertionFailure() << "still running";
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
    return ::testing::AssertionFailure() << "ended with code " << process.exitCode();
  return ::testing::AssertionSuccess();
}

QByteArray Payload(std::initializer_list<const char*> paths) {
  QByteArray bytes;
  for (const char* path : paths) bytes.append(path).append('\0');
  return bytes.append('\0');
}

class ProgramProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Dir = lbtest::NewTempDir();
    m_Home = m_Dir + "/home";
    QDir().mkpath(m_Home);
    QDir().mkpath(m_Dir + "/bin");
    m_Ini = m_Dir + "/lbtools3.ini";
    m_Dump = m_Dir + "/handover.txt";
    m_VolumeLog = m_Dir + "/volume.log";
    m_VolumeTool = m_Dir + "/bin/pavucontrol";
    m_Env = QProcessEnvironment::systemEnvironment();
    m_Env.insert("QT_QPA_PLATFORM", "offscreen");
    m_Env.insert("LBTOOLS_INI", m_Ini);
    m_Env.insert("LBTOOLS_REGISTRY_DIR", m_Dir + "/registry");
    m_Env.insert("XDG_CONFIG_HOME", m_Dir + "/config");
    m_Env.insert("XDG_DATA_HOME", m_Dir + "/data");
    m_Env.insert("HOME", m_Home);
    m_Env.insert("LBTOOLS_TEST_DUMP", m_Dump);
    m_Env.insert("PATH", m_Dir + "/bin:" + m_Env.value("PATH"));
    // This process reads and changes the same private registry as the programs.
    m_SavedRegistryDir = qgetenv("LBTOOLS_REGISTRY_DIR");
    qputenv("LBTOOLS_REGISTRY_DIR", (m_Dir + "/registry").toLocal8Bit());

    ASSERT_TRUE(lbtest::WriteFile(
        m_VolumeTool, "#!/bin/sh\necho started >> '" + QFile::encodeName(m_VolumeLog) + "'\n"));
    QFile::setPermissions(m_VolumeTool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    // Without the tag component in the registry the program asks a question and waits.
    QProcess regsvr;
    regsvr.setProcessEnvironment(m_Env);
    regsvr.setProcessChannelMode(QProcess::ForwardedChannels);
    regsvr.start(lbtest::BinDir() + "/lbregsvr", {lbtest::BinDir() + "/libid3com.so"});
    ASSERT_TRUE(regsvr.waitForFinished(kStartMs));
    ASSERT_EQ(regsvr.exitCode(), 0);

    // An existing settings file means "not the first run": no greeting dialogs.
    WriteSettings("");

    // The test support gives this process's named objects a namespace of their own, so
    // only a program of this very test could hold the names; wait for it to go.
    QDeadlineTimer deadline(kStartMs);
    while (lb::TNamedEvent::Exists(lb::kInstanceEventName) && !deadline.hasExpired())
      ::usleep(100 * 1000);
    ASSERT_FALSE(lb::TNamedEvent::Exists(lb::kInstanceEventName))
        << "another lbtools3 of this user keeps running";
  }

  void TearDown() override {
    for (auto& process : m_Processes) {
      if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(kStartMs);
      }
    }
    m_Processes.clear();
    qputenv("LBTOOLS_REGISTRY_DIR", m_SavedRegistryDir);
  }

  // The settings file: the position section that marks a later run, then extra lines.
  void WriteSettings(const QByteArray& extra) {
    ASSERT_TRUE(lbtest::WriteFile(m_Ini, "[Position]\nState=0\n" + extra));
  }

  QProcess& Start(const QStringList& args = {}, std::function<void()> inChild = {}) {
    m_Processes.push_back(std::make_unique<QProcess>());
    QProcess& process = *m_Processes.back();
    process.setProcessEnvironment(m_Env);
    if (inChild) process.setChildProcessModifier(inChild);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(lbtest::BinDir() + "/lbtools3", args);
    // Also moves the object to "running" (it learns of the start through events).
    EXPECT_TRUE(process.waitForStarted(kStartMs));
    return process;
  }

  // Waits until a program finishes its first activation: it signals the instance event
  // it owns then.
  ::testing::AssertionResult WaitUntilActivated(QProcess& process) {
    lb::TNamedEvent event;
    QDeadlineTimer deadline(kStartMs);
    while (!event.Open(lb::kInstanceEventName)) {
      if (process.state() == QProcess::NotRunning)
        return ::testing::AssertionFailure() << "the program ended, code " << process.exitCode();
      if (deadline.hasExpired()) return ::testing::AssertionFailure() << "no instance event";
      process.waitForFinished(100);
    }
    const TWaitResult result = event.Wait(kStartMs);
    if (result != wrSignaled)
      return ::testing::AssertionFailure() << "instance event wait gave " << int(result);
    return ::testing::AssertionSuccess();
  }

  static bool ReadHandle(const char* name, int64_t* handle) {
    TRegistry reg(HKEY_CURRENT_USER);
    if (!reg.OpenKeyReadOnly(lb::kRunTimeKey)) return false;
    bool ok = false;
    *handle = reg.ReadString(name).toLongLong(&ok);
    return ok;
  }

  int64_t MainWindowHandle() {
    int64_t handle = 0;
    EXPECT_TRUE(ReadHandle("HandleToMainWindow", &handle));
    return handle;
  }

  // Plays the shell extension: the payload in the exclusively created mapping while the
  // message is answered, announced with its own size unless told otherwise. Nothing when
  // the message was not answered.
  std::optional<int64_t> HandOver(const QByteArray& payload,
                                  std::optional<uint64_t> announcedSize = {}) {
    lb::TNamedMapping mapping;
    if (mapping.CreateExclusive(lb::kHandOverMappingName, payload) != lb::TCreateResult::Created)
      return std::nullopt;
    return lb::TMessagePort::SendMessage(MainWindowHandle(), lb::kHandOverMessage,
                                         announcedSize.value_or(payload.size()), 0, kSendMs);
  }

  // A helper process of the named-object tests (see IpcPeer.cpp); its lines are read
  // with PeerLine.
  QProcess& StartPeer(const QStringList& args) {
    m_Processes.push_back(std::make_unique<QProcess>());
    QProcess& process = *m_Processes.back();
    process.setProcessEnvironment(m_Env);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(lbtest::BinDir() + "/ipc_peer", args);
    EXPECT_TRUE(process.waitForStarted(kStartMs));
    return process;
  }
  static QByteArray PeerLine(QProcess& peer) {
    while (!peer.canReadLine())
      if (!peer.waitForReadyRead(kStartMs)) return peer.readAll().trimmed();
    return peer.readLine().trimmed();
  }

  // Runs until the program's run-time key names this process and its window answers.
  ::testing::AssertionResult WaitUntilServing(QProcess& process) {
    QDeadlineTimer deadline(kStartMs);
    int64_t application = 0;
    while (!(ReadHandle("HandleToApplication", &application) &&
             OwnerPid(application) == process.processId() &&
             lb::TMessagePort::SendMessage(application, lb::kRaiseMessage, 0, 0, 2000) == 1)) {
      if (process.state() == QProcess::NotRunning)
        return ::testing::AssertionFailure() << "the program ended, code " << process.exitCode();
      if (deadline.hasExpired()) return ::testing::AssertionFailure() << "no window answers";
      process.waitForFinished(100);
    }
    return ::testing::AssertionSuccess();
  }

  QStringList DumpLines() const {
    return QString::fromUtf8(lbtest::ReadFile(m_Dump)).split('\n', Qt::SkipEmptyParts);
  }
  // The program answers a hand-over before the files go in: waits until the receiving
  // list, as the last hand-over left it, holds these lines.
  ::testing::AssertionResult DumpBecomes(const QStringList& expected) const {
    QDeadlineTimer deadline(kSendMs);
    while (DumpLines() != expected) {
      if (deadline.hasExpired())
        return ::testing::AssertionFailure()
               << "the list holds: " << DumpLines().join(" | ").toStdString();
      ::usleep(20 * 1000);
    }
    return ::testing::AssertionSuccess();
  }

  QString NewListPath(int n) const {
    return m_Home + "/Documents/List" + QString::number(n) + ".m3u";
  }

  // The process ids of running stand-in volume tools.
  std::vector<int> RunningVolumeTools() const {
    std::vector<int> pids;
    const QByteArray script = QFile::encodeName(m_VolumeTool);
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
      bool numeric = false;
      const int pid = entry.toInt(&numeric);
      if (!numeric) continue;
      QByteArray cmdline = lbtest::ReadFile("/proc/" + entry + "/cmdline");
      if (cmdline.replace('\0', ' ').contains(script)) pids.push_back(pid);
    }
    return pids;
  }

  // Sends a hot-key message and then waits until every volume tool it started has
  // ended: a started one has been executed before the send returns (a detached start
  // reports the execution), so afterwards the log holds all its starts.
  std::optional<int64_t> SendHotKey(uint16_t code) {
    const auto answer =
        lb::TMessagePort::SendMessage(MainWindowHandle(), lb::kHotKeyMessage, code, 0, kSendMs);
    QDeadlineTimer deadline(kStartMs);
    while (!RunningVolumeTools().empty() && !deadline.hasExpired()) ::usleep(50 * 1000);
    return answer;
  }

  int VolumeToolStarts() const { return int(lbtest::ReadFile(m_VolumeLog).count("started\n")); }

  QString m_Dir, m_Home, m_Ini, m_Dump, m_VolumeLog, m_VolumeTool;
  QProcessEnvironment m_Env;
  QByteArray m_SavedRegistryDir;
  std::vector<std::unique_ptr<QProcess>> m_Processes;
};

// ---------------------------------------------------------------------------------
// Second starts

TEST_F(ProgramProcessTest, SecondStartRaisesTheFirstAndEnds) {
  QProcess& first = Start();
  ASSERT_TRUE(WaitUntilActivated(first));
  int64_t application = 0;
  ASSERT_TRUE(ReadHandle("HandleToApplication", &application));
  EXPECT_EQ(OwnerPid(application), first.processId());

  QProcess& second = Start();
  ASSERT_TRUE(EndedCleanly(second));

  // The first one goes on, still named by the run-time key and still answering.
  EXPECT_EQ(first.state(), QProcess::Running);
  ASSERT_TRUE(ReadHandle("HandleToApplication", &application));
  EXPECT_EQ(OwnerPid(application), first.processId());
  EXPECT_EQ(lb::TMessagePort::SendMessage(application, lb::kRaiseMessage, 0, 0, kSendMs), 1);
}

// The instance event itself names the window to raise: a missing run-time key does
// not make a second full instance.
TEST_F(ProgramProcessTest, SecondStartWithoutRunTimeKeyStillRaisesTheFirst) {
  QProcess& first = Start();
  ASSERT_TRUE(WaitUntilActivated(first));
  ASSERT_TRUE(TRegistry(HKEY_CURRENT_USER).DeleteKey(lb::kRunTimeKey));

  QProcess& second = Start();
  ASSERT_TRUE(EndedCleanly(second));
  EXPECT_EQ(first.state(), QProcess::Running);
}

TEST_F(ProgramProcessTest, TwoStartsAtTheSameMomentGiveOneInstance) {
  QProcess& a = Start();
  QProcess& b = Start();
  QDeadlineTimer deadline(kStartMs);
  // Each process object learns of its end only while it is waited on.
  while (!a.waitForFinished(25) && !b.waitForFinished(25) && !deadline.hasExpired()) {
  }
  QProcess& ended = a.state() == QProcess::Running ? b : a;
  QProcess& running = &ended == &a ? b : a;
  ASSERT_EQ(ended.state(), QProcess::NotRunning) << "both programs keep running";
  EXPECT_EQ(ended.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(ended.exitCode(), 0);
  EXPECT_TRUE(WaitUntilActivated(running));
  EXPECT_EQ(OwnerPid(MainWindowHandle()), running.processId());
}

// A crash leaves the run-time key and a socket at the event's name behind, which
// nobody owns any more. The start neither believes the key nor ends: it runs.
TEST_F(ProgramProcessTest, StaleKeyAndLeftOverEventSocketStartANormalProgram) {
  const int64_t gone = (int64_t(0x7ffffff0) << 32) | 1;  // no process has that id
  ASSERT_TRUE(lb::WriteRunTimeHandles(gone, gone));
  QProcess& squatter =
      StartPeer({"squat", lb::NamedObjectSocketName("event", lb::kInstanceEventName)});
  ASSERT_EQ(PeerLine(squatter), "listening");

  QProcess& program = Start();
  EXPECT_TRUE(WaitUntilServing(program));
  EXPECT_EQ(OwnerPid(MainWindowHandle()), program.processId());
}

TEST_F(ProgramProcessTest, StartWhileMinimisedFinishesItsFirstActivation) {
  ASSERT_TRUE(lbtest::WriteFile(m_Ini, "[Position]\nState=1\n"));
  // This platform never activates a window by itself (the offscreen one activates every
  // window it shows, minimised or not).
  m_Env.insert("QT_QPA_PLATFORM", "minimal");
  QProcess& program = Start();
  ASSERT_TRUE(WaitUntilActivated(program));
  EXPECT_EQ(HandOver(Payload({"/tmp/m.mp3"})), 1);
  EXPECT_EQ(DumpLines(), QStringList({NewListPath(1), "new=1", "/tmp/m.mp3"}));
}

// The first run shows its dialogs; the program is ready for hand-overs before them and
// keeps what comes meanwhile until the dialog closes (here: the end of the program).
TEST_F(ProgramProcessTest, HandOverDuringTheFirstRunDialogWaitsForIt) {
  QFile::remove(m_Ini);
  ASSERT_TRUE(QDir().mkpath(m_Home + "/Documents"));
  QProcess& program = Start();
  ASSERT_TRUE(WaitUntilActivated(program));
  EXPECT_EQ(HandOver(Payload({"/tmp/first-run.mp3"})), 1);
  EXPECT_FALSE(QFile::exists(m_Dump)) << "taken in while the dialog is open";
  ASSERT_EQ(::kill(pid_t(program.processId()), SIGTERM), 0);
  ASSERT_TRUE(program.waitForFinished(kStartMs));
  EXPECT_EQ(DumpLines(), QStringList({NewListPath(1), "new=1", "/tmp/first-run.mp3"}));
}

// Idle connections hold every server of the program, which may open few descriptors:
// the guard stays, a second start still raises the first.
TEST_F(ProgramProcessTest, FloodOfIdleConnectionsKeepsTheInstanceGuard) {
  QProcess& first = Start({}, [] {
    const rlimit few{128, 128};
    ::setrlimit(RLIMIT_NOFILE, &few);
  });
  ASSERT_TRUE(WaitUntilActivated(first));
  int64_t application = 0;
  ASSERT_TRUE(ReadHandle("HandleToApplication", &application));
  const QString servers[] = {lb::NamedObjectSocketName("event", lb::kInstanceEventName),
                             PortSocket(MainWindowHandle()), PortSocket(application)};
  std::vector<std::unique_ptr<QLocalSocket>> flood;
  for (const QString& server : servers) {
    for (int n = 0; n < 150; ++n) {
      auto socket = std::make_unique<QLocalSocket>();
      socket->connectToServer(server);
      socket->waitForConnected(2000);
      flood.push_back(std::move(socket));
    }
  }
  QProcess& second = Start();
  ASSERT_TRUE(EndedCleanly(second));
  EXPECT_EQ(first.state(), QProcess::Running);
  EXPECT_EQ(lb::TMessagePort::SendMessage(application, lb::kRaiseMessage, 0, 0, kSendMs), 1);
}

// The program ends on a termination signal without waiting for anyone: the modified
// list is kept, the layout written, the run-time key gone.
TEST_F(ProgramProcessTest, TerminationSignalEndsTheProgramCleanly) {
  ASSERT_TRUE(QDir().mkpath(QFileInfo(NewListPath(1)).absolutePath()));
  QProcess& program = Start();
  ASSERT_TRUE(WaitUntilActivated(program));
  ASSERT_EQ(HandOver(Payload({"/tmp/t.mp3"})), 1);

  ASSERT_EQ(::kill(pid_t(program.processId()), SIGTERM), 0);
  ASSERT_TRUE(EndedCleanly(program));
  EXPECT_FALSE(TRegistry(HKEY_CURRENT_USER).KeyExists(lb::kRunTimeKey));
  TIniFile ini(m_Ini);
  EXPECT_TRUE(ini.ValueExists("Position", "Width"));
  EXPECT_TRUE(lbtest::ReadFile(NewListPath(1)).contains("/tmp/t.mp3"));
}

// Only the exact "/shell_invoke" is the shell start; anything else is a plain start
// that runs on.
class ShellInvokeLookalike : public ProgramProcessTest,
                             public ::testing::WithParamInterface<QStringList> {};

TEST_P(ShellInvokeLookalike, StartsAndKeepsRunning) {
  QProcess& program = Start(GetParam());
  ASSERT_TRUE(WaitUntilActivated(program));
  int64_t application = 0;
  ASSERT_TRUE(ReadHandle("HandleToApplication", &application));
  EXPECT_EQ(OwnerPid(application), program.processId());
  EXPECT_EQ(program.state(), QProcess::Running);
}

INSTANTIATE_TEST_SUITE_P(CommandLines, ShellInvokeLookalike,
                         ::testing::Values(QStringList{"/SHELL_INVOKE"},
                                           QStringList{"/shell_invoke", "x"}),
                         [](const auto& info) {
                           return info.index == 0 ? "Upper" : "WithArgument";
                         });

// ---------------------------------------------------------------------------------
// Hand-over

TEST_F(ProgramProcessTest, HandOverOfTwoPathsFillsANewUnnamedList) {
  QProcess& program = Start();
  ASSERT_TRUE(WaitUntilActivated(program));
  const char* shortPath = "/tmp/a.mp3";
  const char* longPath = "/tmp/lbt/song-02.mp3";
  ASSERT_EQ(strlen(shortPath), 10u);
  ASSERT_EQ(strlen(longPath), 20u);
  const QByteArray payload = Payload({shortPath, longPath});
  ASSERT_EQ(payload.size(), 33);

  EXPECT_EQ(HandOver(payload), 1);
  EXPECT_TRUE(DumpBecomes(QStringList({NewListPath(1), "new=1", shortPath, longPath})));
  // The repository took the new list in as open.
  TIniFile ini(m_Ini);
  EXPECT_TRUE(
      ini.ReadBool(TListsRepository::kSection, TListsRepository::EncodeKey(NewListPath(1)), false));
  EXPECT_EQ(program.state(), QProcess::Running);
}

// A file manager's "open with" starts the program with the list: a running program
// gets it through the hand-over and opens it in a window of its own, not as songs of
// a new list.
TEST_F(ProgramProcessTest, ListNamedOnASecondStartOpensInTheFirst) {
  QProcess& first = Start();
  ASSERT_TRUE(WaitUntilActivated(first));
  const QString list = m_Dir + "/Мой лист.m3u";
  ASSERT_TRUE(lbtest::WriteFile(list, "/tmp/a.mp3\r\n"));
  QProcess& second = Start({list});
  ASSERT_TRUE(EndedCleanly(second));
  QDeadlineTimer deadline(kStartMs);
  while (!TIniFile(m_Ini).ReadBool(TListsRepository::kSection, TListsRepository::EncodeKey(list),
                                   false) &&
         !deadline.hasExpired())
    ::usleep(50 * 1000);
  EXPECT_TRUE(TIniFile(m_Ini).ReadBool(TListsRepository::kSection,
                                       TListsRepository::EncodeKey(list), false));
  EXPECT_FALSE(QFileInfo::exists(m_Dump)) << "no new list was made";
  EXPECT_EQ(first.state(), QProcess::Running);
}

TEST_F(ProgramProcessTest, EmptyHandOverMakesAnEmptyListThatTheNextOneFills) {
  QProcess& program = Start();
  ASSERT_TRUE(WaitUntilActivated(program));

  const QByteArray empty(1, '\0');
  EXPECT_EQ(HandOver(empty), 1);
  EXPECT_TRUE(DumpBecomes(QStringList({NewListPath(1), "new=1"})));

  // The never-saved list is active now: the next hand-over goes into it.
  const QByteArray one = Payload({"/tmp/b.mp3"});
  EXPECT_EQ(HandOver(one), 1);
  EXPECT_TRUE(DumpBecomes(QStringList({NewListPath(1), "new=1", "/tmp/b.mp3"})));
  TIniFile ini(m_Ini);
  EXPECT_FALSE(
      ini.ValueExists(TListsRepository::kSection, TListsRepository::EncodeKey(NewListPath(2))));
  EXPECT_EQ(program.state(), QProcess::Running);
}

TEST_F(ProgramProcessTest, HandOverThatCannotBeReadIsDeclined) {
  QProcess& program = Start();
  ASSERT_TRUE(WaitUntilActivated(program));

  // No mapping at all.
  EXPECT_EQ(lb::TMessagePort::SendMessage(MainWindowHandle(), lb::kHandOverMessage, 33, 0, kSendMs),
            0);
  // A size larger than the mapping.
  const QByteArray payload = Payload({"/tmp/c.mp3"});
  EXPECT_EQ(HandOver(payload, payload.size() + 1), 0);

  EXPECT_FALSE(QFile::exists(m_Dump));
  EXPECT_EQ(program.state(), QProcess::Running);
  // Still serving: a good hand-over afterwards is taken.
  EXPECT_EQ(HandOver(payload), 1);
  EXPECT_TRUE(DumpBecomes(QStringList({NewListPath(1), "new=1", "/tmp/c.mp3"})));
}

// A mapping that never answers leaves the window working meanwhile.
TEST_F(ProgramProcessTest, HandOverFromASilentMappingDoesNotFreezeTheWindow) {
  QProcess& program = Start();
  ASSERT_TRUE(WaitUntilActivated(program));
  int64_t application = 0;
  ASSERT_TRUE(ReadHandle("HandleToApplication", &application));
  QProcess& squatter =
      StartPeer({"squat", lb::NamedObjectSocketName("mapping", lb::kHandOverMappingName)});
  ASSERT_EQ(PeerLine(squatter), "listening");

  const int64_t main = MainWindowHandle();
  std::optional<int64_t> handOver;
  std::thread sender([&] {
    handOver = lb::TMessagePort::SendMessage(main, lb::kHandOverMessage, 33, 0, kSendMs);
  });
  // The program is reading the mapping now.
  EXPECT_EQ(PeerLine(squatter), "connection");
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(lb::TMessagePort::SendMessage(application, lb::kRaiseMessage, 0, 0, kSendMs), 1);
  EXPECT_LT(clock.elapsed(), 500);
  sender.join();
  EXPECT_EQ(handOver, std::optional<int64_t>(0));
  EXPECT_FALSE(QFile::exists(m_Dump));
}

namespace {
qint64 ResidentKb(qint64 pid) {
  for (const QByteArray& line :
       lbtest::ReadFile("/proc/" + QString::number(pid) + "/status").split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLongLong();
  return -1;
}
}  // namespace

TEST_F(ProgramProcessTest, OversizedHandOverIsRefusedWithoutGrowing) {
  QProcess& program = Start();
  ASSERT_TRUE(WaitUntilActivated(program));
  const qint64 before = ResidentKb(program.processId());
  ASSERT_GT(before, 0);

  // More bytes than any hand-over needs.
  const QByteArray big = QByteArray(16 * 1024 * 1024 - 2, 'a') + QByteArray(2, '\0');
  EXPECT_EQ(HandOver(big), 0);
  // Within the byte limit, but a million short paths.
  QByteArray many;
  for (int n = 0; n < 1000000; ++n) many.append("/a", 2).append('\0');
  many.append('\0');
  EXPECT_EQ(HandOver(many), 0);

  EXPECT_FALSE(QFile::exists(m_Dump));
  EXPECT_LT(ResidentKb(program.processId()) - before, 10 * 1024);
  EXPECT_EQ(program.state(), QProcess::Running);
}

// ---------------------------------------------------------------------------------
// Another user of the machine. The program's names live in a folder of this user's
// own: a stranger can neither reach them nor take them first. Run as root, a helper
// drops to the user "nobody" to play the stranger.

TEST_F(ProgramProcessTest, AnotherUserReachesNothing) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a helper as another user";
  const QString nobody = "65534";
  QProcess& program = Start();
  ASSERT_TRUE(WaitUntilActivated(program));
  int64_t application = 0;
  ASSERT_TRUE(ReadHandle("HandleToApplication", &application));
  const int64_t main = MainWindowHandle();
  const QString ping = QString::fromLatin1(lb::wire::Frame(1).toHex());
  for (const QString& server : {lb::NamedObjectSocketName("event", lb::kInstanceEventName),
                                PortSocket(main), PortSocket(application)}) {
    QProcess& own = StartPeer({"probe", server, ping});
    EXPECT_EQ(PeerLine(own), "answered") << server.toStdString();
    QProcess& stranger = StartPeer({"as-uid", nobody, "probe", server, ping});
    EXPECT_EQ(PeerLine(stranger), "refused") << server.toStdString();
  }

  // A stranger's hand-over of a list this user prepared opens nothing.
  const QByteArray payload = Payload({"/tmp/x.mp3"});
  {
    lb::TNamedMapping mapping;
    ASSERT_EQ(mapping.CreateExclusive(lb::kHandOverMappingName, payload),
              lb::TCreateResult::Created);
    QByteArray send(20, '\0');
    qToLittleEndian<quint32>(lb::kHandOverMessage, send.data());
    qToLittleEndian<quint64>(quint64(payload.size()), send.data() + 4);
    QProcess& stranger = StartPeer({"as-uid", nobody, "probe", PortSocket(main),
                                    QString::fromLatin1(lb::wire::Frame(40, send).toHex())});
    EXPECT_EQ(PeerLine(stranger), "refused");
  }
  // The stranger cannot put a mapping under the program's name.
  const QByteArray passwd = Payload({"/etc/passwd"});
  QProcess& squatter = StartPeer({"as-uid", nobody, "squat",
                                  lb::NamedObjectSocketName("mapping", lb::kHandOverMappingName),
                                  QString::fromLatin1(lb::wire::Frame(21, passwd).toHex())});
  EXPECT_EQ(PeerLine(squatter), "taken");
  // Nor the instance event: a start still finds the running program and ends.
  QProcess& eventSquatter = StartPeer(
      {"as-uid", nobody, "squat", lb::NamedObjectSocketName("event", lb::kInstanceEventName)});
  EXPECT_EQ(PeerLine(eventSquatter), "taken");
  QProcess& second = Start();
  ASSERT_TRUE(EndedCleanly(second));
  EXPECT_EQ(lb::TMessagePort::SendMessage(main, lb::kHandOverMessage, uint64_t(passwd.size()), 0,
                                          kSendMs),
            0);
  EXPECT_FALSE(QFile::exists(m_Dump));
  EXPECT_EQ(program.state(), QProcess::Running);
}

// ---------------------------------------------------------------------------------
// Hot keys. Slot 6 (the volume control) is the only slot whose action runs before the
// player is in place; the order of several matching slots is checked in-process.

TEST_F(ProgramProcessTest, GlobalSlotsSharingAKeyReachTheLastOne) {
  WriteSettings("[Winamp]\nSpeedKey0=" + QByteArray::number(kCtrlK) +
                "\nSpeedKeyG0=1\nSpeedKey6=" + QByteArray::number(kCtrlK) + "\nSpeedKeyG6=1\n");
  QProcess& program = Start();
  ASSERT_TRUE(WaitUntilActivated(program));

  EXPECT_EQ(SendHotKey(kCtrlJ), 1);  // a key no slot has
  EXPECT_EQ(VolumeToolStarts(), 0);
  // Slot 0 matches first but its action is disabled; slot 6 still runs, once.
  EXPECT_EQ(SendHotKey(kCtrlK), 1);
  EXPECT_EQ(VolumeToolStarts(), 1);
  EXPECT_EQ(program.state(), QProcess::Running);
}

TEST_F(ProgramProcessTest, LocalSlotIgnoresTheHotKeyMessage) {
  WriteSettings("[Winamp]\nSpeedKey6=" + QByteArray::number(kCtrlK) + "\nSpeedKeyG6=0\n");
  QProcess& program = Start();
  ASSERT_TRUE(WaitUntilActivated(program));

  EXPECT_EQ(SendHotKey(kCtrlK), 1);
  EXPECT_EQ(VolumeToolStarts(), 0);
  EXPECT_EQ(program.state(), QProcess::Running);
}

}  // namespace

namespace {

// The width and height of a PNG file's image; 0 × 0 when it is no PNG.
QSize PngSize(const QByteArray& bytes) {
  if (!bytes.startsWith("\x89PNG\r\n\x1a\n") || bytes.size() < 24) return {};
  auto be32 = [&](int at) {
    return int(uchar(bytes[at]) << 24 | uchar(bytes[at + 1]) << 16 | uchar(bytes[at + 2]) << 8 |
               uchar(bytes[at + 3]));
  };
  return QSize(be32(16), be32(20));
}

TEST_F(ProgramProcessTest, ScreenshotDrawsTheMainWindowAndEnds) {
  const QString picture = m_Dir + "/main.png";
  QProcess& program = Start({"--screenshot", picture});
  ASSERT_TRUE(EndedCleanly(program));
  const QSize size = PngSize(lbtest::ReadFile(picture));
  EXPECT_GE(size.width(), 400);
  EXPECT_GE(size.height(), 300);
  // The program is gone: its run-time key went with it.
  EXPECT_FALSE(TRegistry(HKEY_CURRENT_USER).KeyExists(lb::kRunTimeKey));
}

// The file manager's helper is answered once the program took the files, not once the
// user answered what their scan tells (here: a name that is not UTF-8). A hand-over
// that comes meanwhile waits its turn, and both reach the list.
TEST_F(ProgramProcessTest, HandOverIsAnsweredBeforeItsScanWarningAndTheNextWaitsItsTurn) {
  QProcess& program = Start();
  ASSERT_TRUE(WaitUntilActivated(program));
  const QString music = m_Dir + "/music";
  ASSERT_TRUE(lbtest::WriteFile(music + "/a.mp3", "x"));
  const int fd =
      ::open((QFile::encodeName(music) + "/\xcf\xe5.mp3").constData(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ::close(fd);
  const QByteArray folder = Payload({QFile::encodeName(music).constData()});
  const QByteArray late = Payload({"/tmp/late.mp3"});
  EXPECT_EQ(HandOver(folder, folder.size()), 1);
  EXPECT_EQ(HandOver(late, late.size()), 1);
  EXPECT_FALSE(QFile::exists(m_Dump)) << "the files went in before the warning was answered";
  // Nobody answers: a termination signal gives the warning its default button.
  ASSERT_EQ(::kill(pid_t(program.processId()), SIGTERM), 0);
  ASSERT_TRUE(program.waitForFinished(kStartMs));
  EXPECT_EQ(DumpLines(), QStringList({NewListPath(1), "new=1", music + "/a.mp3", "/tmp/late.mp3"}));
}

}  // namespace
