// The player control against a real, silent Audacious on a private session bus (each
// test starts its own bus and player), and its rules that need no player.
#include "lbtools3/player/AudaciousBinding.h"
#include "lbtools3/player/PlayerListWindow.h"
#include "lbtools3/player/PlayerControl.h"

#include "CliRun.h"
#include "TestEnv.h"
#include "platform/IniFile.h"
#include "platform/ScriptedUiServices.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

// A silent WAV file of the given length (8 kHz, 8-bit mono).
QString MakeWav(const QString& path, int seconds) {
  const quint32 samples = 8000u * seconds;
  QByteArray wav;
  auto u32 = [&](quint32 v) { wav.append(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](quint16 v) { wav.append(reinterpret_cast<const char*>(&v), 2); };
  wav += "RIFF";
  u32(36 + samples);
  wav += "WAVEfmt ";
  u32(16), u16(1), u16(1), u32(8000), u32(8000), u16(1), u16(8);
  wav += "data";
  u32(samples);
  wav.append(QByteArray(samples, char(0x80)));
  lbtest::WriteFile(path, wav);
  return path;
}

bool WaitFor(const std::function<bool()>& condition, int milliseconds = 3000) {
  QDeadlineTimer until(milliseconds);
  while (!condition()) {
    if (until.hasExpired()) return false;
    QThread::msleep(20);
  }
  return true;
}

// A private session bus with a headless Audacious that plays silently in real time.
class AudaciousSession {
 public:
  ~AudaciousSession() { Stop(); }

  // Starts the bus; the player too unless bPlayer is false. Returns the reason on failure.
  QString Start(bool bPlayer = true) {
    if (QStandardPaths::findExecutable("audacious").isEmpty() ||
        QStandardPaths::findExecutable("dbus-daemon").isEmpty())
      return "audacious or dbus-daemon is not installed";
    m_Dir = lbtest::NewTempDir();
    m_Bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    if (!m_Bus.waitForReadyRead(5000)) return "dbus-daemon did not start";
    m_Address = QString::fromUtf8(m_Bus.readLine().trimmed());
    static int serial = 0;
    m_Name = QString("player-test-%1").arg(++serial);
    bus = QDBusConnection::connectToBus(m_Address, m_Name);
    if (!bus.isConnected()) return "cannot connect to the private bus";
    // Children (and a player the control starts) meet this bus and configuration.
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_Address.toUtf8());
    qputenv("XDG_CONFIG_HOME", (m_Dir + "/config").toUtf8());
    qputenv("SDL_AUDIODRIVER", "dummy");
    if (!bPlayer) return {};
    return StartPlayer();
  }

  QString StartPlayer() {
    m_Player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_Player.setStandardOutputFile(QProcess::nullDevice());
    m_Player.start("audacious", {"-H"});
    if (!m_Player.waitForStarted(5000)) return "audacious did not start";
    return EnableSilentOutput() ? QString() : "audacious did not answer";
  }

  // Waits until the player answers, then sends its sound to the silent output.
  bool EnableSilentOutput() {
    if (!WaitFor([this] { return Call("PluginIsEnabled", {QString("sdlout")}).isValid(); }, 8000))
      return false;
    return Call("PluginEnable", {QString("sdlout"), true}).isValid();
  }

  QVariant Call(const QString& method, const QList<QVariant>& args = {}) {
    auto message = QDBusMessage::createMethodCall("org.atheme.audacious", "/org/atheme/audacious",
                                                  "org.atheme.audacious", method);
    message.setArguments(args);
    QDBusMessage reply = bus.call(message, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage) return {};
    return reply.arguments().isEmpty() ? QVariant(true) : reply.arguments().first();
  }
  // Title, position and entries of the player's play list n (made the active one).
  QStringList Playlist(int n) {
    Call("SetActivePlaylist", {n});
    QStringList state{Call("GetActivePlaylistName").toString(),
                      QString::number(Call("Position").toUInt())};
    for (int k = 0; k < Call("Length").toInt(); ++k)
      state << Call("SongFilename", {QVariant::fromValue(uint(k))}).toString();
    return state;
  }
  QList<QVariant> CallAll(const QString& method) {
    return bus
        .call(QDBusMessage::createMethodCall("org.atheme.audacious", "/org/atheme/audacious",
                                             "org.atheme.audacious", method),
              QDBus::Block, 2000)
        .arguments();
  }

  void Stop() {
    if (bus.isConnected()) {
      Call("Quit");
      QDBusConnection::disconnectFromBus(m_Name);
    }
    if (m_Player.state() != QProcess::NotRunning && !m_Player.waitForFinished(3000)) {
      m_Player.kill();
      m_Player.waitForFinished(1000);
    }
    if (m_Bus.state() != QProcess::NotRunning) {
      m_Bus.kill();
      m_Bus.waitForFinished(1000);
    }
  }

  QDBusConnection bus{QString()};

 private:
  QProcess m_Bus, m_Player;
  QString m_Dir, m_Address, m_Name;
};

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString why = session.Start(bStartPlayer);
    if (!why.isEmpty()) GTEST_SKIP() << why.toStdString();
    binding = std::make_unique<TAudaciousBinding>(session.bus);
    ini.WriteBool("Edit", "Winamp", true);
    control = std::make_unique<TPlayerControl>(ini, *binding);
    control->SetTempFolder(dir);
    control->Init();
  }

  // A list of count songs of the given length; the rows in missing have no file.
  void FillList(int count, int seconds = 3, std::vector<int> missing = {}) {
    window.m_Document.SetFileName(dir + "/list.m3u");
    for (int n = 0; n < count; ++n) {
      const QString path = QString("%1/song%2.wav").arg(dir).arg(n);
      if (std::find(missing.begin(), missing.end(), n) == missing.end()) MakeWav(path, seconds);
      window.m_Document.InsertSong(TSlSong(nullptr, path, QString()), -1);
    }
  }
  void PlayRow(int row, bool bSelectedOnly = false) {
    window.m_Selected = {row};
    control->Play(&window, bSelectedOnly);
  }
  bool Playing() { return session.Call("Status").toString() == "playing"; }

  bool bStartPlayer = true;
  AudaciousSession session;
  ScriptedUiServices ui;
  QString dir = lbtest::NewTempDir();
  TIniFile ini{dir + "/lbtools3.ini"};
  std::unique_ptr<TAudaciousBinding> binding;
  std::unique_ptr<TPlayerControl> control;
  TPlayerListWindow window;
};

TEST_F(PlayerTest, PlaySendsTheListStartsAtTheRowAndFollowsIt) {
  FillList(4);
  ASSERT_TRUE(control->IsFound());
  PlayRow(2);
  EXPECT_EQ(binding->Length(), 4);
  EXPECT_EQ(binding->Position(), 2);
  EXPECT_TRUE(WaitFor([&] { return Playing(); }));
  EXPECT_TRUE(control->Tracking());
  EXPECT_FALSE(window.ChangedSinceSent());
  const QString sent = control->TempListPath();
  ASSERT_FALSE(sent.isEmpty());
  EXPECT_TRUE(sent.endsWith("/list000.m3u"));
  control->Poll();
  EXPECT_EQ(control->CurrentIndex(), 2);
  EXPECT_EQ(control->PlayingImage(&window, 2), TPlayerControl::kPlayingImage);
  EXPECT_EQ(control->PlayingImage(&window, 1), -1);

  // The list file is gone on the fourth poll (800 ms at the window's pace).
  for (int n = 0; n < 2; ++n) control->Poll();
  EXPECT_TRUE(QFile::exists(sent));
  control->Poll();
  EXPECT_FALSE(QFile::exists(sent));
  EXPECT_TRUE(control->TempListPath().isEmpty());
}

TEST_F(PlayerTest, CutNonPresentLeavesMissingFilesOutAndStopsFollowingRows) {
  ini.WriteBool("Edit", "CutNonPresent", true);
  FillList(5, 3, {1, 2});
  PlayRow(4);
  EXPECT_EQ(binding->Length(), 3);
  EXPECT_EQ(binding->Position(), 2);
  EXPECT_FALSE(control->Tracking());
  // The rows are not the player's entries: the next Play sends the list again, even
  // with FastPlay.
  EXPECT_TRUE(window.ChangedSinceSent());
}

TEST_F(PlayerTest, FastPlayResendsOnlyAChangedListAndTheSelectionAlways) {
  ini.WriteBool("Edit", "FastPlay", true);
  FillList(4);
  PlayRow(0);
  for (int n = 0; n < 4; ++n) control->Poll();
  ASSERT_TRUE(control->TempListPath().isEmpty());

  // Unchanged list: only the position and play.
  PlayRow(3);
  EXPECT_TRUE(control->TempListPath().isEmpty());
  EXPECT_EQ(binding->Position(), 3);
  EXPECT_TRUE(control->Tracking());

  // The selection alone is always sent, and leaves the window marked as changed.
  window.m_Selected = {1, 2};
  control->Play(&window, true);
  EXPECT_FALSE(control->TempListPath().isEmpty());
  EXPECT_EQ(binding->Length(), 2);
  EXPECT_EQ(binding->Position(), 0);
  EXPECT_TRUE(window.ChangedSinceSent());
  EXPECT_FALSE(control->Tracking());
}

TEST_F(PlayerTest, APlayerThatQuitsIsForgottenAtTheNextPoll) {
  FillList(3);
  PlayRow(1);
  ASSERT_TRUE(control->Tracking());
  session.Call("Quit");
  ASSERT_TRUE(WaitFor([&] { return !binding->IsRunning(); }));
  control->Poll();
  EXPECT_FALSE(control->IsFound());
  EXPECT_FALSE(control->Tracking());
  EXPECT_TRUE(window.ChangedSinceSent());
  EXPECT_EQ(control->FormatTime(50), "");
}

TEST_F(PlayerTest, DeletingTheSongBeingPlayedStopsItFirst) {
  FillList(3);
  PlayRow(1);
  ASSERT_TRUE(WaitFor([&] { return Playing(); }));
  control->Poll();
  EXPECT_FALSE(control->CheckDeletion(&window, 0));
  control->RowRemoved(0);
  // The playing song is now row 0.
  EXPECT_TRUE(control->CheckDeletion(&window, 0));
  EXPECT_TRUE(WaitFor([&] { return session.Call("Status").toString() == "stopped"; }));
}

TEST_F(PlayerTest, PositionTextPositionBarAndVolume) {
  FillList(1, 220);
  PlayRow(0);
  ASSERT_TRUE(WaitFor([&] { return Playing(); }));
  session.Call("Pause");
  control->Poll();
  ASSERT_EQ(control->SongLengthSeconds(), 220);
  control->SetPosition(50);  // 110 s
  ASSERT_TRUE(WaitFor([&] { return binding->Time() / 1000 == 110; }));
  binding->Seek(65000);
  ASSERT_TRUE(WaitFor([&] { return binding->Time() / 1000 == 65; }));
  control->Poll();
  EXPECT_EQ(control->FormatPlayTime(), "1.05 / 3.40");
  EXPECT_EQ(control->PositionPercent(), 29);
  EXPECT_EQ(control->FormatTime(50), "1.50 / 3.40");

  // A control that reaches the player takes its volume over once.
  session.Call("SetVolume", {40, 40});
  TPlayerControl other(ini, *binding);
  other.Init();
  EXPECT_EQ(other.TakePlayerVolume(), 102);
  EXPECT_EQ(other.TakePlayerVolume(), -1);

  control->SetVolume(255);
  EXPECT_EQ(session.CallAll("Volume"), (QList<QVariant>{100, 100}));
  control->SetVolume(0);
  EXPECT_EQ(session.CallAll("Volume"), (QList<QVariant>{0, 0}));
}

TEST_F(PlayerTest, AMissingFirstSongIsReportedAndNothingIsSent) {
  FillList(2, 3, {0});
  PlayRow(0);
  EXPECT_EQ(ui.Texts(), QStringList{TPlayerControl::kSongNotFound});
  EXPECT_EQ(binding->Length(), 0);
  EXPECT_EQ(control->PlayingWindow(), nullptr);
}

TEST_F(PlayerTest, APlayerThatHangsIsGivenUpAfterAShortDeadline) {
  // The bus name belongs to a connection of this thread, which is busy in the call: the
  // call never gets an answer.
  session.Call("Quit");
  ASSERT_TRUE(WaitFor([&] { return !binding->IsRunning(); }));
  QDBusConnection squatter = QDBusConnection::connectToBus(
      qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), "player-test-squatter");
  QObject object;
  ASSERT_TRUE(
      squatter.registerObject("/org/atheme/audacious", &object, QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(squatter.registerService("org.atheme.audacious"));
  ASSERT_TRUE(binding->IsRunning());
  QElapsedTimer timer;
  timer.start();
  EXPECT_EQ(binding->Position(), -1);
  EXPECT_LT(timer.elapsed(), 2 * TAudaciousBinding::kCallTimeoutMs + 200);
  EXPECT_FALSE(binding->IsRunning());
  QDBusConnection::disconnectFromBus("player-test-squatter");
}

TEST_F(PlayerTest, CommandLineHandsTheListOverAndReportsThePosition) {
  FillList(4);
  ASSERT_TRUE(window.m_Document.Save(true));
  lbtest::CliOptions options;
  options.ini = ini.FileName();
  EXPECT_EQ(lbtest::RunCli({"play", dir + "/list.m3u", "--from", "3"}, options).code, 0);
  EXPECT_EQ(binding->Position(), 2);
  EXPECT_TRUE(lbtest::RunCli({"player", "status"}, options).out.startsWith("Позиция в листе: 3\n"));
  EXPECT_EQ(lbtest::RunCli({"play", dir + "/list.m3u", "--selected", "2,4"}, options).code, 0);
  EXPECT_EQ(binding->Length(), 2);
  EXPECT_EQ(lbtest::RunCli({"play", dir + "/list.m3u", "--from", "5"}, options).code, 1);
  // A missing song is said once, not followed by a player failure.
  QFile::remove(window.m_Document.m_Songs[0].GetPath(true));
  const lbtest::CliRun missing = lbtest::RunCli({"play", dir + "/list.m3u"}, options);
  EXPECT_EQ(missing.code, 1);
  EXPECT_TRUE(missing.err.contains(TPlayerControl::kSongNotFound)) << missing.err.toStdString();
  EXPECT_FALSE(missing.err.contains("Audacious")) << missing.err.toStdString();
}

class PlayerStartTest : public PlayerTest {
 protected:
  PlayerStartTest() { bStartPlayer = false; }
};

TEST_F(PlayerStartTest, PlayStartsTheConfiguredPlayerWhenNoneRuns) {
  FillList(3);
  EXPECT_FALSE(control->IsFound());
  // The player's window needs a display: headless, the configured program starts it so.
  const QString start = dir + "/audacious-headless";
  lbtest::WriteFile(start, "#!/bin/sh\nexec audacious -H \"$@\"\n");
  QFile::setPermissions(start, QFile::permissions(start) | QFile::ExeOwner);
  ini.WriteString("Edit", "Winamp_path", start);
  PlayRow(1);
  ASSERT_TRUE(control->IsFound());
  EXPECT_EQ(binding->Length(), 3);
  EXPECT_EQ(binding->Position(), 1);
}

TEST_F(PlayerStartTest, APlayerStartedLaterIsFoundByThePolls) {
  control->Poll();
  EXPECT_FALSE(control->IsFound());
  ASSERT_EQ(session.StartPlayer(), QString());
  control->Poll();
  EXPECT_TRUE(control->IsFound());
}

TEST_F(PlayerStartTest, AControlThatIsOffDoesNothing) {
  ini.WriteBool("Edit", "Winamp", false);
  ini.WriteString("Edit", "Winamp_path", QStandardPaths::findExecutable("audacious"));
  control->Init();
  FillList(2);
  PlayRow(0);
  control->Poll();
  EXPECT_FALSE(control->IsEnabled());
  EXPECT_FALSE(control->IsFound());
  EXPECT_FALSE(binding->IsRunning());
  EXPECT_EQ(control->PlayingWindow(), nullptr);
}

TEST_F(PlayerTest, TheUsersPlaylistIsLeftAsItWas) {
  QStringList urls;
  for (int n = 0; n < 4; ++n)
    urls << QUrl::fromLocalFile(MakeWav(QString("%1/user%2.wav").arg(dir).arg(n), 3)).toString();
  session.Call("AddList", {urls});
  ASSERT_TRUE(WaitFor([&] { return session.Call("Length").toInt() == 4; }));
  session.Call("Jump", {QVariant::fromValue(uint(1))});
  const QStringList before = session.Playlist(0);

  FillList(3, 60);
  PlayRow(0);
  ASSERT_TRUE(WaitFor([&] { return Playing(); }));
  control->Poll();
  control->Next();
  control->Stop();
  EXPECT_EQ(session.Call("NumberOfPlaylists").toInt(), 2);
  EXPECT_EQ(session.Playlist(1).mid(0, 2), (QStringList{TAudaciousBinding::kPlaylistTitle, "1"}));
  EXPECT_EQ(session.Playlist(0), before);

  // The next Play finds the program's list again by its title.
  PlayRow(2);
  EXPECT_EQ(session.Call("NumberOfPlaylists").toInt(), 2);
  EXPECT_EQ(session.Playlist(0), before);
}

TEST_F(PlayerTest, TheMarkStaysOnThePlayingSongWhenRowsMoveOrGo) {
  FillList(4, 60);
  PlayRow(1);
  control->Poll();
  ASSERT_EQ(control->PlayingRow(&window), 1);
  // Sorted backwards: song1 is row 2.
  TSlDocument& document = window.m_Document;
  document.ArrangeSongs({0, 1, 2, 3},
                        [](const std::vector<const TSlSong*>&, std::vector<int>& order) {
                          std::reverse(order.begin(), order.end());
                        });
  control->Poll();
  EXPECT_EQ(control->PlayingRow(&window), 2);
  EXPECT_EQ(control->PlayingImage(&window, 1), -1);
  // Next plays the next row (song0), not the player's next entry.
  control->Next();
  EXPECT_EQ(binding->Position(), 0);
  control->Poll();
  EXPECT_EQ(control->PlayingRow(&window), 3);
  // Rows above it go (deleted from another window).
  document.RemoveRange(0, 2);
  control->Poll();
  EXPECT_EQ(control->PlayingRow(&window), 1);
  control->Previous();
  EXPECT_EQ(binding->Position(), 1);
}

TEST_F(PlayerTest, AListFileIsPlayedAsTheProgramReadsIt) {
  // A Windows list: Windows-1251 text, backslashes, a relative path.
  MakeWav(dir + "/sub/Песня.wav", 3);
  MakeWav(dir + "/b.wav", 3);
  QByteArray list = "sub\\\xcf\xe5\xf1\xed\xff.wav\r\n" + dir.toUtf8() + "/b.wav\r\n";
  lbtest::WriteFile(dir + "/win.m3u", list);
  control->PlayListFile(dir + "/win.m3u");
  ASSERT_EQ(binding->Length(), 2);
  EXPECT_EQ(
      QUrl(session.Call("SongFilename", {QVariant::fromValue(uint(0))}).toString()).toLocalFile(),
      dir + "/sub/Песня.wav");
  EXPECT_TRUE(WaitFor([&] { return Playing(); }));
}

// Records what the control asks of the player (a stream cannot be played here).
class RecordingBinding : public IPlayerBinding {
 public:
  QStringList entries;
  int position = -1;
  bool playing = false;

  bool IsRunning() override { return true; }
  bool Start(const QString&) override { return true; }
  bool LoadListFile(const QString& path, int) override {
    entries = QString::fromUtf8(lbtest::ReadFile(path)).split("\r\n", Qt::SkipEmptyParts);
    return true;
  }
  int Length() override { return entries.size(); }
  int Position() override { return position; }
  void Jump(int index) override { position = index; }
  int SongLength() override { return -1; }
  int Time() override { return 0; }
  void Seek(int) override {}
  int Volume() override { return -1; }
  void SetVolume(int) override {}
  void Play() override { playing = true; }
  void Pause() override {}
  void Stop() override { playing = false; }
  void Next() override {}
  void Previous() override {}
  void Show() override {}
};

TEST(PlayerStreamTest, AStreamRowIsNeverMissingAndPlays) {
  ScriptedUiServices ui;
  const QString dir = lbtest::NewTempDir();
  TIniFile ini(dir + "/lbtools3.ini");
  ini.WriteBool("Edit", "Winamp", true);
  ini.WriteBool("Edit", "CutNonPresent", true);
  RecordingBinding binding;
  TPlayerControl control(ini, binding);
  control.SetTempFolder(dir);
  control.Init();
  TPlayerListWindow window;
  window.m_Document.SetFileName(dir + "/list.m3u");
  const QString song = MakeWav(dir + "/a.wav", 1), stream = "http://127.0.0.1:9/live";
  for (const QString& path : {song, stream})
    window.m_Document.InsertSong(TSlSong(nullptr, path, QString()), -1);
  window.m_Selected = {1};
  EXPECT_EQ(control.Play(&window, false), TPlayerControl::prPlaying);
  EXPECT_TRUE(ui.Texts().isEmpty());
  EXPECT_EQ(binding.entries, (QStringList{song, stream}));
  EXPECT_EQ(binding.position, 1);
  EXPECT_TRUE(binding.playing);
}

}  // namespace
