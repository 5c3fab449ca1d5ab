// TPlayerControl: drives the outside media player through a player binding. It hands the
// player a document window's songs as a temporary list file, starts, pauses, stops and
// skips playback, moves the play position, sets the volume, and is polled every 200 ms
// so that the main window shows the play position and the document window marks the
// song being played. Main thread only.
#pragma once

#include "PlayerBinding.h"

#include <QString>
#include <QStringList>

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
  // The player's volume (0..255) read when the player was reached, once; -1 when there
  // is none to take.
  int TakePlayerVolume();

  enum TPlayResult { prPlaying, prNothing, prSongMissing, prNoPlayer };
  // Plays the window's list from its first selected song (all songs, or only the
  // selected ones). prNothing: the control is off or nothing is selected; prNoPlayer:
  // no player could be reached or the list could not be handed over.
  TPlayResult Play(IDocumentWindow* window, bool bSelectedOnly);
  // Plays a list file: its songs as the program reads them (any code page, Windows
  // paths), handed over as a temporary list like a window's.
  void PlayListFile(const QString& path);
  void Pause();
  void Stop();
  void Previous();
  void Next();
  void Show();
  // Volume 0..255 as sent (a vertical bar is inverted by its owner).
  void SetVolume(int volume);
  void SetPosition(int percent);

  // Every 200 ms: removes the sent list file, notices a player started or gone,
  // follows the playing row and reads the play position.
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
  // The window's row whose song plays (the rows may have moved since the list was
  // sent: the song is found by its path), -1 when none.
  int PlayingRow(IDocumentWindow* window) const;

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
  bool SendPaths(const QStringList& paths);
  bool SendListFile(const QString& path, int entries);
  void Reached();
  // Finds the row of the entry that plays after the window's rows moved; redraws the
  // rows that gain or lose the mark.
  void FollowPlayingRow();
  // The player's entry that holds the song of the row, -1 when none.
  int EntryOfRow(int row) const;
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
  int currentIndex = -1;    // the player's list position at the last poll
  int m_PlayingRow = -1;    // the row of playingWindow that shows that entry's song
  QStringList m_SentPaths;  // the full path of each entry handed to the player
  int m_PlayerVolume = -1;
  int savedIndex = -1;
  IDocumentWindow* playingWindow = nullptr;
  int songLength = 0;
  bool tracking = false;
  bool enabled = false;
  QString m_TempFolder;
};
