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
#include "lbtools3/app/Repository.h"
#include "lbtools3/app/StartUp.h"
#include "platform/IniFile.h"
#include "platform/NamedObjects.h"
#include "platform/Registry.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSize>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <cstring>
#include <memory>
#include <optional>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kStartMs = 60000;  // generous: the machine is shared
constexpr int kSendMs = 60000;
// Delphi short-cut codes, as the settings keep them: Ctrl+K and Ctrl+J.
constexpr uint16_t kCtrlK = 0x4000 | 'K';
constexpr uint16_t kCtrlJ = 0x4000 | 'J';

// The named objects are per user, not per settings folder: programs of two tests (or
// of another build's tests) running at once would find each other. The tests of all
// builds take turns through this lock.
class TurnLock {
 public:
  TurnLock() {
    const QByteArray path = QFile::encodeName(QDir::tempPath() + "/lbtools-process-tests-" +
                                              QString::number(::getuid()) + ".lock");
    m_Fd = ::open(path.constData(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    if (m_Fd >= 0) ::flock(m_Fd, LOCK_EX);
  }
  ~TurnLock() {
    if (m_Fd >= 0) ::close(m_Fd);
  }
  TurnLock(const TurnLock&) = delete;
  TurnLock& operator=(const TurnLock&) = delete;

 private:
  int m_Fd = -1;
};

int64_t OwnerPid(int64_t handle) {
  return handle >> 32;
}

QByteArray Payload(std::initializer_list<const char*> paths) {
  QByteArray bytes;
  for (const char* path : paths) bytes.append(path).append('\0');
  return bytes.append('\0');
}

class ProgramProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Lock = std::make_unique<TurnLock>();
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

    // A program left by someone else holds the names; wait for it to go.
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
    m_Lock.reset();
  }

  // The settings file: the position section that marks a later run, then extra lines.
  void WriteSettings(const QByteArray& extra) {
    ASSERT_TRUE(lbtest::WriteFile(m_Ini, "[Position]\nState=0\n" + extra));
  }

  QProcess& Start(const QStringList& args = {}) {
    m_Processes.push_back(std::make_unique<QProcess>());
    QProcess& process = *m_Processes.back();
    process.setProcessEnvironment(m_Env);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(lbtest::BinDir() + "/lbtools3", args);
    // Also moves the object to "running" (it learns of the start through events).
    EXPECT_TRUE(process.waitForStarted(kStartMs));
    return process;
  }

  // Waits until a program finishes its first activation: it signals the instance event
  // then (the first one owns the event; a later full start signals it through the
  // first one).
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
  // message is answered. Nothing when the message was not answered.
  std::optional<int64_t> HandOver(const QByteArray& payload, uint64_t announcedSize) {
    lb::TNamedMapping mapping;
    if (mapping.CreateExclusive(lb::kHandOverMappingName, payload) != lb::TCreateResult::Created)
      return std::nullopt;
    return lb::TMessagePort::SendMessage(MainWindowHandle(), lb::kHandOverMessage, announcedSize, 0,
                                         kSendMs);
  }

  QStringList DumpLines() const {
    return QString::fromUtf8(lbtest::ReadFile(m_Dump)).split('\n', Qt::SkipEmptyParts);
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

  std::unique_ptr<TurnLock> m_Lock;
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
  ASSERT_TRUE(second.waitForFinished(kStartMs));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);

  // The first one goes on, still named by the run-time key and still answering.
  EXPECT_EQ(first.state(), QProcess::Running);
  ASSERT_TRUE(ReadHandle("HandleToApplication", &application));
  EXPECT_EQ(OwnerPid(application), first.processId());
  EXPECT_EQ(lb::TMessagePort::SendMessage(application, lb::kRaiseMessage, 0, 0, kSendMs), 1);
}

TEST_F(ProgramProcessTest, SecondStartWithoutRunTimeKeyStartsFully) {
  QProcess& first = Start();
  ASSERT_TRUE(WaitUntilActivated(first));
  ASSERT_TRUE(TRegistry(HKEY_CURRENT_USER).DeleteKey(lb::kRunTimeKey));

  QProcess& second = Start();
  ASSERT_TRUE(WaitUntilActivated(second));
  // It registered its own ports and keeps running beside the first.
  int64_t application = 0;
  ASSERT_TRUE(ReadHandle("HandleToApplication", &application));
  EXPECT_EQ(OwnerPid(application), second.processId());
  EXPECT_EQ(OwnerPid(MainWindowHandle()), second.processId());
  EXPECT_EQ(second.state(), QProcess::Running);
  EXPECT_EQ(first.state(), QProcess::Running);
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

  EXPECT_EQ(HandOver(payload, payload.size()), 1);
  EXPECT_EQ(DumpLines(), QStringList({NewListPath(1), "new=1", shortPath, longPath}));
  // The repository took the new list in as open.
  TIniFile ini(m_Ini);
  EXPECT_TRUE(
      ini.ReadBool(TListsRepository::kSection, TListsRepository::EncodeKey(NewListPath(1)), false));
  EXPECT_EQ(program.state(), QProcess::Running);
}

TEST_F(ProgramProcessTest, EmptyHandOverMakesAnEmptyListThatTheNextOneFills) {
  QProcess& program = Start();
  ASSERT_TRUE(WaitUntilActivated(program));

  const QByteArray empty(1, '\0');
  EXPECT_EQ(HandOver(empty, empty.size()), 1);
  EXPECT_EQ(DumpLines(), QStringList({NewListPath(1), "new=1"}));

  // The never-saved list is active now: the next hand-over goes into it.
  const QByteArray one = Payload({"/tmp/b.mp3"});
  EXPECT_EQ(HandOver(one, one.size()), 1);
  EXPECT_EQ(DumpLines(), QStringList({NewListPath(1), "new=1", "/tmp/b.mp3"}));
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
  EXPECT_EQ(HandOver(payload, payload.size()), 1);
  EXPECT_EQ(DumpLines(), QStringList({NewListPath(1), "new=1", "/tmp/c.mp3"}));
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
  ASSERT_TRUE(program.waitForFinished(kStartMs));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);
  const QSize size = PngSize(lbtest::ReadFile(picture));
  EXPECT_GE(size.width(), 400);
  EXPECT_GE(size.height(), 300);
  // The program is gone: its run-time key went with it.
  EXPECT_FALSE(TRegistry(HKEY_CURRENT_USER).KeyExists(lb::kRunTimeKey));
}

}  // namespace
