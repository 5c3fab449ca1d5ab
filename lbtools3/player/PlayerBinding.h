// What the player control needs of an outside media player: filling its play list from
// a list file, positioning, the transport commands, volume and position queries. The
// program binds it to Audacious over D-Bus; tests may bind it to a stand-in.
#pragma once

#include <QString>

class IPlayerBinding {
 public:
  virtual ~IPlayerBinding() = default;

  // The player runs and answers (a player that stopped answering counts as gone).
  virtual bool IsRunning() = 0;
  // Starts the executable and waits, within a few seconds, until the player answers.
  virtual bool Start(const QString& executable) = 0;

  // The play list is the program's own: the player's other play lists are never
  // changed. Clears it, then adds the entries of the list file; waits until the
  // player holds `entries` entries (or a short deadline passes).
  virtual bool LoadListFile(const QString& path, int entries) = 0;
  // Number of entries of the program's play list.
  virtual int Length() = 0;
  // Position in the program's play list, 0-based; -1 when there is none.
  virtual int Position() = 0;
  // Sets the position in the program's play list; an index outside it is ignored.
  virtual void Jump(int index) = 0;
  // Length of the current song in seconds, -1 when there is none.
  virtual int SongLength() = 0;
  // Play position in milliseconds.
  virtual int Time() = 0;
  virtual void Seek(int milliseconds) = 0;
  // Volume 0..255; -1 when the player does not tell.
  virtual int Volume() = 0;
  virtual void SetVolume(int volume) = 0;

  // Plays the program's play list from its position.
  virtual void Play() = 0;
  virtual void Pause() = 0;
  virtual void Stop() = 0;
  virtual void Next() = 0;
  virtual void Previous() = 0;
  virtual void Show() = 0;
};
