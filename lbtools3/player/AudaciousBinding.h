// The player binding for Audacious, through its own D-Bus interface (MPRIS cannot clear
// or load a list, nor jump to an index). Every call waits at most one short round trip:
// a player that does not answer in time is given up and reported as gone until another
// process owns the bus name.
#pragma once

#include "PlayerBinding.h"

#include <QDBusConnection>
#include <QVariant>
#include <optional>

class TAudaciousBinding : public IPlayerBinding {
 public:
  static constexpr const char* kService = "org.atheme.audacious";
  // Clearing a list that plays takes the player a few hundred milliseconds.
  static constexpr int kCallTimeoutMs = 2000;

  // The session bus, reached only when the player is first asked for (a program that
  // does not work with the player never touches the bus).
  TAudaciousBinding() = default;
  explicit TAudaciousBinding(QDBusConnection bus) : m_Bus(std::move(bus)) {}

  bool IsRunning() override;
  bool Start(const QString& executable) override;
  bool LoadListFile(const QString& path, int entries) override;
  int Length() override;
  int Position() override;
  void Jump(int index) override;
  int SongLength() override;
  int Time() override;
  void Seek(int milliseconds) override;
  void SetVolume(int volume) override;
  void Play() override { Call("Play"); }
  void Pause() override { Call("Pause"); }
  void Stop() override { Call("Stop"); }
  void Next() override { Call("Advance"); }
  void Previous() override { Call("Reverse"); }
  void Show() override;

  // The player answers the calls the control needs (plug-ins loaded), not only its name.
  bool Answers();

 private:
  // One call; an invalid QVariant when it failed. A timeout marks the player gone.
  QVariant Call(const QString& method, const QList<QVariant>& args = {});
  QString Owner();
  QDBusConnection& Bus();

  std::optional<QDBusConnection> m_Bus;
  QString m_HungOwner;  // the bus name owner that stopped answering
};
