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
    if (Answers()) {
      // A restarted player brings back its old list: the control fills it anew.
      Call("Clear");
      return true;
    }
    WaitResponsive(50);
  }
  return false;
}

bool TAudaciousBinding::LoadListFile(const QString& path, int entries) {
  if (!Call("Clear").isValid()) return false;
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
  QVariant v = Call("Length");
  return v.isValid() ? v.toInt() : 0;
}

int TAudaciousBinding::Position() {
  QVariant v = Call("Position");
  if (!v.isValid()) return -1;
  const uint position = v.toUInt();
  return position == 0xFFFFFFFFu ? -1 : static_cast<int>(position);
}

void TAudaciousBinding::Jump(int index) {
  // An index past the end would stop playback and leave no position.
  if (index >= 0 && index < Length()) Call("Jump", {QVariant::fromValue(uint(index))});
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

void TAudaciousBinding::SetVolume(int volume) {
  const int percent = static_cast<int>(std::lround(std::clamp(volume, 0, 255) * 100.0 / 255.0));
  Call("SetVolume", {percent, percent});
}

void TAudaciousBinding::Show() {
  // A player without a main window (headless) does not know the call: not an error.
  Call("ShowMainWin", {true});
}
