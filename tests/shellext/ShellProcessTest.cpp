// The extension with the real program: lbshellhost starting it, a run-time key that
// names no window, and the file managers' action files written by "/shell_register",
// run with awkward names and removed by "/shell_unregister". Each test gives the
// programs a private settings file, registry and home folder and ends every program it
// caused to start.
#include "ShellTestUtil.h"
#include "platform/NamedObjects.h"
#include "platform/Registry.h"
#include "platform/ScriptedUiServices.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <csignal>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace shelltest;

namespace {

constexpr int kStartMs = 60000;  // generous: the machine is shared
const char* kInstanceEvent = "{B14B566D-EDD6-4f5c-8E7D-7A0E22BC0FE4}";
const char* kRunTimeKey = "\\Software\\Corvane\\Lyrabox Tools";

class ShellProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Dir = lbtest::NewTempDir();
    m_Home = m_Dir + "/home";
    QDir().mkpath(m_Home + "/Documents");
    m_Dump = m_Dir + "/handover.txt";
    m_Env = QProcessEnvironment::systemEnvironment();
    m_Env.insert("QT_QPA_PLATFORM", "offscreen");
    m_Env.insert("LBTOOLS_INI", m_Dir + "/lbtools3.ini");
    m_Env.insert("LBTOOLS_REGISTRY_DIR", m_Dir + "/registry");
    m_Env.insert("XDG_CONFIG_HOME", m_Dir + "/config");
    m_Env.insert("XDG_DATA_HOME", m_Dir + "/data");
    m_Env.insert("HOME", m_Home);
    m_Env.insert("LBTOOLS_TEST_DUMP", m_Dump);
    m_SavedRegistryDir = qgetenv("LBTOOLS_REGISTRY_DIR");
    qputenv("LBTOOLS_REGISTRY_DIR", (m_Dir + "/registry").toLocal8Bit());
    // A later run (no greeting dialogs) with mp3 as the working extension.
    ASSERT_TRUE(lbtest::WriteFile(m_Dir + "/lbtools3.ini",
                                  "[Position]\nState=0\n[Edit]\nExtentions=mp3\n"));
    for (const char* server : {"libid3com.so", "libLBShellExtention.so"})
      ASSERT_EQ(Run(lbtest::BinDir() + "/lbregsvr", {lbtest::BinDir() + "/" + server}), 0);
    CoInitialize(nullptr);
  }

  void TearDown() override {
    CoUninitialize();
    for (auto& process : m_Processes) {
      if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(kStartMs);
      }
    }
    // A program the extension started is no child of ours: end it by its id.
    int64_t window = 0;
    if (ReadMainWindow(&window)) EndProcess(pid_t(window >> 32));
    QDeadlineTimer deadline(kStartMs);
    while (lb::TNamedEvent::Exists(kInstanceEvent) && !deadline.hasExpired()) ::usleep(100000);
    qputenv("LBTOOLS_REGISTRY_DIR", m_SavedRegistryDir);
  }

  int Run(const QString& program, const QStringList& args,
          const QProcessEnvironment* env = nullptr) {
    QProcess process;
    process.setProcessEnvironment(env ? *env : m_Env);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, args);
    if (!process.waitForFinished(2 * kStartMs)) return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  }

  QProcess& StartProgram() {
    m_Processes.push_back(std::make_unique<QProcess>());
    QProcess& process = *m_Processes.back();
    process.setProcessEnvironment(m_Env);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(lbtest::BinDir() + "/lbtools3", {});
    EXPECT_TRUE(process.waitForStarted(kStartMs));
    lb::TNamedEvent event;
    QDeadlineTimer deadline(kStartMs);
    while (!event.Open(kInstanceEvent) && !deadline.hasExpired()) process.waitForFinished(100);
    EXPECT_EQ(event.Wait(kStartMs), wrSignaled);
    return process;
  }

  static bool ReadMainWindow(int64_t* handle) {
    TRegistry reg(HKEY_CURRENT_USER);
    if (!reg.OpenKeyReadOnly(kRunTimeKey)) return false;
    bool ok = false;
    *handle = reg.ReadString("HandleToMainWindow").toLongLong(&ok);
    return ok;
  }

  static void EndProcess(pid_t pid) {
    if (pid <= 0 || ::kill(pid, SIGTERM) != 0) return;
    QDeadlineTimer deadline(kStartMs);
    while (::kill(pid, 0) == 0 && !deadline.hasExpired()) ::usleep(50000);
  }

  QStringList DumpLines() const {
    return QString::fromUtf8(lbtest::ReadFile(m_Dump)).split('\n', Qt::SkipEmptyParts);
  }
  // The program answers a hand-over before the files go in: waits until the receiving
  // list, as the last hand-over left it, ends with these lines.
  ::testing::AssertionResult DumpEndsWith(const QStringList& tail) const {
    QDeadlineTimer deadline(kStartMs);
    for (;;) {
      const QStringList lines = DumpLines();
      if (lines.size() >= tail.size() && lines.mid(lines.size() - tail.size()) == tail)
        return ::testing::AssertionSuccess();
      if (deadline.hasExpired())
        return ::testing::AssertionFailure()
               << "the list holds: " << lines.join(" | ").toStdString();
      ::usleep(20 * 1000);
    }
  }
  QString DataFile(const QString& relative) const { return m_Dir + "/data/" + relative; }
  QStringList ActionFiles() const {
    return {DataFile("kio/servicemenus/lbtools3-shellext.desktop"),
            DataFile("nemo/actions/lbtools3-shellext.nemo_action"),
            DataFile("nautilus/scripts/Добавить файлы в LBTools")};
  }

  QString m_Dir, m_Home, m_Dump;
  QProcessEnvironment m_Env;
  QByteArray m_SavedRegistryDir;
  std::vector<std::unique_ptr<QProcess>> m_Processes;
};

// The Exec value of an action file, unescaped as a key file reader does.
QString ExecLine(const QString& file) {
  for (const QString& line : QString::fromUtf8(lbtest::ReadFile(file)).split('\n')) {
    if (!line.startsWith("Exec=")) continue;
    QString out;
    for (qsizetype i = 5; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        const QChar c = line[++i];
        out += c == 's' ? QChar(' ') : c == 'n' ? QChar('\n') : c;
      } else {
        out += line[i];
      }
    }
    return out;
  }
  return {};
}

// How the file managers put a path into the command: Dolphin in single quotes, Nemo
// with its shell characters escaped.
QString SingleQuoted(const QString& path) {
  return "'" + QString(path).replace("'", "'\\''") + "'";
}
QString BackslashEscaped(const QString& path) {
  QString out;
  for (QChar c : path) {
    if (c.unicode() < 128 && !c.isLetterOrNumber() && !QString("/._-").contains(c)) out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

TEST_F(ShellProcessTest, HostStartsTheProgramAndTheFilesArriveInANewList) {
  ASSERT_FALSE(lb::TNamedEvent::Exists(kInstanceEvent));
  const QStringList paths = {"/tmp/a.mp3", "/tmp/lbt/song-02.mp3"};
  // The program it starts keeps none of its channels: a pipe after it closes when the
  // host ends, while the program runs on.
  const QStringList host = {"-c", "\"$0\" \"$@\" | cat", lbtest::BinDir() + "/lbshellhost"};
  ASSERT_EQ(Run("/bin/sh", host + paths), 0);
  EXPECT_TRUE(lb::TNamedEvent::Exists(kInstanceEvent));

  EXPECT_TRUE(DumpEndsWith(QStringList({m_Home + "/Documents/List1.m3u", "new=1"}) + paths));
  int64_t window = 0;
  ASSERT_TRUE(ReadMainWindow(&window));
  const QByteArray cmdline =
      lbtest::ReadFile("/proc/" + QString::number(window >> 32) + "/cmdline");
  const QByteArray expected = QFile::encodeName(lbtest::BinDir()) + "/lbtools3";
  EXPECT_EQ(cmdline, expected + '\0' + "/shell_invoke" + '\0');
}

TEST_F(ShellProcessTest, RunTimeKeyWithoutAWindowGivesTheMessageAndNothingElse) {
  StartProgram();
  int64_t window = 0;
  ASSERT_TRUE(ReadMainWindow(&window));
  ScriptedUiServices ui;

  {
    TRegistry reg(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey(kRunTimeKey, false));
    ASSERT_TRUE(reg.DeleteValue("HandleToMainWindow"));
  }
  TExtension e = TExtension::Create();
  ASSERT_EQ(e.Initialize({"/tmp/x.mp3"}), S_OK);
  EXPECT_EQ(e.Invoke(), S_OK);
  // A key left behind by a program that died names a window nobody answers for.
  {
    TRegistry reg(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey(kRunTimeKey, false));
    ASSERT_TRUE(
        reg.WriteString("HandleToMainWindow", QString::number((int64_t(0x7ffffff0) << 32) | 1)));
  }
  ASSERT_EQ(e.Initialize({"/tmp/y.mp3"}), S_OK);
  EXPECT_EQ(e.Invoke(), S_OK);

  ASSERT_EQ(ui.Messages().size(), 2);
  for (const auto& m : ui.Messages()) {
    EXPECT_EQ(m.text, "Ошибка запуска программы LBTools");
    EXPECT_EQ(m.caption, "");
    EXPECT_EQ(m.flags & MB_ICONMASK, unsigned(MB_ICONERROR));
  }
  EXPECT_FALSE(QFile::exists(m_Dump));
  // The list was dropped after each try.
  EXPECT_FALSE(lb::TNamedMapping().Open("{311A82FE-1F4B-4102-9E74-4086CE1CB596}", 0, 1000));
  // Restored, the same object hands over.
  {
    TRegistry reg(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey(kRunTimeKey, false));
    ASSERT_TRUE(reg.WriteString("HandleToMainWindow", QString::number(window)));
  }
  ASSERT_EQ(e.Initialize({"/tmp/z.mp3"}), S_OK);
  EXPECT_EQ(e.Invoke(), S_OK);
  EXPECT_TRUE(DumpEndsWith({"new=1", "/tmp/z.mp3"}));
}

TEST_F(ShellProcessTest, ActionFilesHandAwkwardNamesOverAndGoAway) {
  const QString program = lbtest::BinDir() + "/lbtools3";
  ASSERT_EQ(Run(program, {"/shell_register"}), 0);
  for (const QString& file : ActionFiles()) ASSERT_TRUE(QFile::exists(file)) << file.toStdString();
  const QString dolphin = QString::fromUtf8(lbtest::ReadFile(ActionFiles()[0]));
  const QString listType = QMimeDatabase().mimeTypeForFile("x.m3u").name();
  EXPECT_TRUE(dolphin.contains("MimeType=audio/mpeg;" + listType + ";inode/directory;"))
      << dolphin.toStdString();
  EXPECT_TRUE(lbtest::ReadFile(ActionFiles()[1])
                  .contains("\nMimetypes=audio/mpeg;" + listType.toUtf8() + ";inode/directory;\n"));
  const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
  // A service menu is a desktop entry of KDE's own type "Service", which the validator
  // knows nothing of: everything else in it must pass.
  if (!validator.isEmpty()) {
    QProcess validate;
    validate.start(validator, {ActionFiles()[0]});
    ASSERT_TRUE(validate.waitForFinished(kStartMs));
    const QString report = QString::fromUtf8(validate.readAll());
    for (const QString& line : report.split('\n', Qt::SkipEmptyParts))
      EXPECT_TRUE(!line.contains("error:") || line.contains("the type is \"Service\""))
          << line.toStdString();
  }
  EXPECT_EQ(Run("/bin/sh", {"-n", ActionFiles()[2]}), 0);

  StartProgram();
  // Awkward names, a folder whose music files go in as a drop's would, and a file that
  // is no music, which is skipped.
  const QString folder = m_Dir + "/Моя музыка";
  const QStringList paths = {folder + "/it's \"a\" song.mp3", folder + "/два  пробела $HOME.mp3",
                             folder + "/back\\slash `x`.mp3", folder + "/альбом",
                             folder + "/readme.txt"};
  const QStringList songs = paths.mid(0, 3) + QStringList{folder + "/альбом/1.mp3"};
  for (const QString& path : songs + QStringList{folder + "/readme.txt", folder + "/альбом/2.txt"})
    ASSERT_TRUE(lbtest::WriteFile(path, "x"));

  QStringList dolphinArgs, nemoArgs;
  for (const QString& path : paths) {
    dolphinArgs << SingleQuoted(path);
    nemoArgs << BackslashEscaped(path);
  }
  const QString dolphinExec = ExecLine(ActionFiles()[0]);
  ASSERT_TRUE(dolphinExec.endsWith(" %F"));
  ASSERT_EQ(
      Run("/bin/sh", {"-c", "exec " + QString(dolphinExec).replace("%F", dolphinArgs.join(' '))}),
      0);
  EXPECT_TRUE(DumpEndsWith(songs));
  QFile::remove(m_Dump);
  const QString nemoExec = ExecLine(ActionFiles()[1]);
  ASSERT_EQ(Run("/bin/sh", {"-c", "exec " + QString(nemoExec).replace("%F", nemoArgs.join(' '))}),
            0);
  EXPECT_TRUE(DumpEndsWith(songs));
  QFile::remove(m_Dump);
  QProcessEnvironment nautilus = m_Env;
  nautilus.insert("NAUTILUS_SCRIPT_SELECTED_FILE_PATHS", paths.join('\n') + "\n");
  ASSERT_EQ(Run(ActionFiles()[2], {}, &nautilus), 0);
  EXPECT_TRUE(DumpEndsWith(songs));

  // Unregistering works while the program runs, and leaves no action file behind.
  ASSERT_EQ(Run(program, {"/shell_unregister"}), 0);
  for (const QString& file : ActionFiles()) EXPECT_FALSE(QFile::exists(file)) << file.toStdString();
}
