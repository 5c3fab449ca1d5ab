// TPlayerControl: drives the outside media player through a player binding. It hands the
// player a document window's songs as a temporary list file, starts, pauses, stops and
// skips playback, moves the play position, sets the volume, and is polled every 200 ms
// so that the main window shows the play position and the document window marks the
// song being played. Main thread only.
#pragma once

#include "PlayerBinding.h"

#include <QString>

class IDocumentWindow;
class TIniFile;

class TPlayerControl {
 public:
  static constexpr const char* kSongNotFound = "Запускаемая песня не найдена";
  static constexpr int kPlayingImage = 24;

  TPlayerControl(TIniFile& ini, IPlayerBinding& binding);

  // Reads the settings and looks for a running player (never starts one).
  void Init();
  bool IsEnabled() const { return enabled; }
  // A player was found and was still there at the last poll.
  bool IsFound() const { return bFound; }

  // Plays the window's list from its first selected song (all songs, or only the
  // selected ones).
  void Play(IDocumentWindow* window, bool bSelectedOnly);
  // Hands a list file to the player as it is and plays it.
  void PlayListFile(const QString& path);
  void Pause();
  void Stop();
  void Previous();
  void Next();
  void Show();
  // Volume 0..255 as sent (a vertical bar is inverted by its owner).
  void SetVolume(int volume);
  void SetPosition(int percent);

  // Every 200 ms: removes the sent list file, notices a player gone, follows the
  // playing row and reads the play position.
  void Poll();
  // "1.05 / 3.40": the play time at percent of the current song and its length.
  QString FormatTime(int percent) const;
  // The same text for the play time read at the last poll, to the second.
  QString FormatPlayTime() const;

  // The rows of the window (none: whichever is sent) may no longer match the player's
  // list: row tracking stops.
  void ListChanged(IDocumentWindow* window);
  void WindowClosing(IDocumentWindow* window);
  // The song of the window's row is about to be deleted: stops the player when it is
  // the song being played (true then).
  bool CheckDeletion(IDocumentWindow* window, int row);
  void RowRemoved(int row);
  // The deletion is over: the remembered row is forgotten.
  void ForgetSavedRow() { savedIndex = -1; }
  // kPlayingImage for the row being played, else -1.
  int PlayingImage(IDocumentWindow* window, int row) const;

  int PositionPercent() const { return positionPercent; }
  int SongLengthSeconds() const { return songLength; }
  bool Tracking() const { return tracking; }
  int CurrentIndex() const { return currentIndex; }
  IDocumentWindow* PlayingWindow() const { return playingWindow; }
  QString TempListPath() const { return tempListPath; }

  // The folder of the temporary lists: the program's folder when it is writable, else
  // the user's runtime or cache folder. Tests set their own.
  void SetTempFolder(const QString& folder) { m_TempFolder = folder; }
  QString TempFolder() const;

 private:
  bool FindWinamp(bool bStart);
  bool SendDocument(IDocumentWindow* window, bool bSelectedOnly, int& index, bool& bMissing);
  bool SendListFile(const QString& path, int entries);
  QString NewTempListPath();
  void RemoveTempList();
  void ForgetPlayer();
  QString FormatSeconds(int current) const;

  TIniFile& ini;
  IPlayerBinding& m_Binding;
  bool bFound = false;
  QString tempListPath;
  int tempListTicks = 0;
  int positionPercent = 0;
  int m_PlayMilliseconds = 0;
  int currentIndex = -1;
  int savedIndex = -1;
  IDocumentWindow* playingWindow = nullptr;
  int songLength = 0;
  bool tracking = false;
  bool enabled = false;
  QString m_TempFolder;
};
