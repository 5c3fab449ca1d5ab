#include "AudaciousBinding.h"

#include "platform/UiServices.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <cmath>

namespace {
constexpr const char* kPath = "/org/atheme/audacious";
constexpr const char* kInterface = "org.atheme.audacious";
constexpr int kStartDeadlineMs = 5000;
constexpr int kLoadDeadlineMs = 3000;

// Waits a little while the window keeps reacting.
void WaitResponsive(int milliseconds) {
  QDeadlineTimer until(milliseconds);
  do {
    UiServices::Instance().ProcessMessages();
    QThread::msleep(10);
  } while (!until.hasExpired());
}
}  // namespace

QDBusConnection& TAudaciousBinding::Bus() {
  if (!m_Bus) m_Bus = QDBusConnection::sessionBus();
  return *m_Bus;
}

QString TAudaciousBinding::Owner() {
  if (!Bus().isConnected() || !Bus().interface()) return {};
  QDBusReply<QString> owner = Bus().interface()->serviceOwner(kService);
  return owner.isValid() ? owner.value() : QString();
}

bool TAudaciousBinding::IsRunning() {
  const QString owner = Owner();
  return !owner.isEmpty() && owner != m_HungOwner;
}

QVariant TAudaciousBinding::Call(const QString& method, const QList<QVariant>& args) {
  if (!Bus().isConnected()) return {};
  QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
  message.setArguments(args);
  QDBusMessage reply = Bus().call(message, QDBus::Block, kCallTimeoutMs);
  if (reply.type() == QDBusMessage::ErrorMessage) {
    if (reply.errorName() == "org.freedesktop.DBus.Error.NoReply" ||
        reply.errorName() == "org.freedesktop.DBus.Error.Timeout")
      m_HungOwner = Owner();
    return {};
  }
  if (reply.type() != QDBusMessage::ReplyMessage) return {};
  return reply.arguments().isEmpty() ? QVariant(true) : reply.arguments().first();
}

bool TAudaciousBinding::Answers() {
  return IsRunning() && Call("PluginIsEnabled", {QString("sdlout")}).isValid();
}

bool TAudaciousBinding::Start(const QString& executable) {
  if (executable.isEmpty() || !QProcess::startDetached(executable, {})) return false;
  m_HungOwner.clear();
  QDeadlineTimer until(kStartDeadlineMs);
  while (!until.hasExpired()) {
    if (Answers()) return true;
    WaitResponsive(50);
  }
  return false;
}

bool TAudaciousBinding::OwnListActive() {
  return IsRunning() && Call("GetActivePlaylistName").toString() == kPlaylistTitle;
}

bool TAudaciousBinding::ActivateOwnList() {
  if (OwnListActive()) return true;
  const QVariant active = Call("GetActivePlaylist");
  if (!active.isValid()) return false;
  // The list is looked for by its title where it was last seen, then everywhere.
  const int count = Call("NumberOfPlaylists").toInt();
  QList<int> order;
  if (m_OwnIndex >= 0 && m_OwnIndex < count) order << m_OwnIndex;
  for (int n = 0; n < count; ++n)
    if (n != m_OwnIndex) order << n;
  for (int n : order) {
    if (n == active.toInt()) continue;
    Call("SetActivePlaylist", {n});
    if (OwnListActive()) {
      m_OwnIndex = n;
      return true;
    }
  }
  // None yet: a new list (the player places it after the active one).
  Call("SetActivePlaylist", {active.toInt()});
  if (!Call("NewPlaylist").isValid()) return false;
  Call("SetActivePlaylistName", {QString(kPlaylistTitle)});
  if (!OwnListActive()) return false;
  m_OwnIndex = Call("GetActivePlaylist").toInt();
  return true;
}

void TAudaciousBinding::OnOwnList(const QString& method) {
  if (ActivateOwnList()) Call(method);
}

bool TAudaciousBinding::LoadListFile(const QString& path, int entries) {
  if (!ActivateOwnList() || !Call("Clear").isValid()) return false;
  const QStringList urls{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)};
  if (!Call("AddList", {urls}).isValid()) return false;
  // The player reads the list in the background.
  QDeadlineTimer until(kLoadDeadlineMs);
  while (Length() < entries) {
    if (until.hasExpired() || !IsRunning()) return false;
    WaitResponsive(10);
  }
  return true;
}

int TAudaciousBinding::Length() {
  if (!OwnListActive()) return 0;
  QVariant v = Call("Length");
  return v.isValid() ? v.toInt() : 0;
}

int TAudaciousBinding::Position() {
  // While the user shows another list in the player, the program's position is not
  // known (and the user's choice is left alone).
  if (!OwnListActive()) return -1;
  QVariant v = Call("Position");
  if (!v.isValid()) return -1;
  const uint position = v.toUInt();
  return position == 0xFFFFFFFFu ? -1 : static_cast<int>(position);
}

void TAudaciousBinding::Jump(int index) {
  // An index past the end would stop playback and leave no position.
  if (ActivateOwnList() && index >= 0 && index < Length())
    Call("Jump", {QVariant::fromValue(uint(index))});
}

int TAudaciousBinding::SongLength() {
  const int position = Position();
  if (position < 0) return -1;
  QVariant v = Call("SongLength", {QVariant::fromValue(uint(position))});
  return v.isValid() ? v.toInt() : -1;
}

int TAudaciousBinding::Time() {
  QVariant v = Call("Time");
  return v.isValid() ? static_cast<int>(v.toUInt()) : 0;
}

void TAudaciousBinding::Seek(int milliseconds) {
  Call("Seek", {QVariant::fromValue(uint(std::max(0, milliseconds)))});
}

int TAudaciousBinding::Volume() {
  // Left and right 0..100; the left one stands for both.
  QVariant v = Call("Volume");
  if (!v.isValid()) return -1;
  return static_cast<int>(std::lround(std::clamp(v.toInt(), 0, 100) * 255.0 / 100.0));
}

void TAudaciousBinding::SetVolume(int volume) {
  const int percent = static_cast<int>(std::lround(std::clamp(volume, 0, 255) * 100.0 / 255.0));
  Call("SetVolume", {percent, percent});
}

void TAudaciousBinding::Show() {
  // A player without a main window (headless) does not know the call: not an error.
  Call("ShowMainWin", {true});
}
