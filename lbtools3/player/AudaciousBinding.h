// The player binding for Audacious, through its own D-Bus interface (MPRIS cannot clear
// or load a list, nor jump to an index). Every call waits at most one short round trip:
// a player that does not answer in time is given up and reported as gone until another
// process owns the bus name. The songs go into a play list of the program's own (found
// by its title, created when missing), made the active one for the program's commands
// only: the user's play lists are never changed, and a poll never takes the active
// list away from the one the user chose.
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
  static constexpr const char* kPlaylistTitle = "Lyrabox Tools";

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
  int Volume() override;
  void SetVolume(int volume) override;
  void Play() override { OnOwnList("PlayActivePlaylist"); }
  void Pause() override { Call("Pause"); }
  void Stop() override { Call("Stop"); }
  void Next() override { OnOwnList("Advance"); }
  void Previous() override { OnOwnList("Reverse"); }
  void Show() override;

  // The player answers the calls the control needs (plug-ins loaded), not only its name.
  bool Answers();

 private:
  // One call; an invalid QVariant when it failed. A timeout marks the player gone.
  QVariant Call(const QString& method, const QList<QVariant>& args = {});
  QString Owner();
  QDBusConnection& Bus();
  // The program's play list is the player's active one (nothing is changed).
  bool OwnListActive();
  // Makes the program's play list the active one, creating it when the player has none.
  bool ActivateOwnList();
  // A call that works on the active play list, made on the program's own.
  void OnOwnList(const QString& method);

  std::optional<QDBusConnection> m_Bus;
  QString m_HungOwner;  // the bus name owner that stopped answering
  int m_OwnIndex = -1;  // where the program's play list was last found
};
