#include "PlayerControl.h"

#include "lbtools3/model/M3uList.h"
#include "lbtools3/ui/IDocumentWindow.h"
#include "platform/IniFile.h"
#include "platform/UiServices.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <utility>

TPlayerControl::TPlayerControl(TIniFile& iniFile, IPlayerBinding& binding)
    : ini(iniFile), m_Binding(binding) {}

void TPlayerControl::Init() {
  enabled = ini.ReadBool("Edit", "Winamp", false);
  if (!enabled) {
    ListChanged(nullptr);
    ForgetPlayer();
    return;
  }
  if (!bFound) FindWinamp(false);
}

bool TPlayerControl::FindWinamp(bool bStart) {
  bFound = m_Binding.IsRunning();
  if (!bFound && bStart) bFound = m_Binding.Start(ini.ReadString("Edit", "Winamp_path", ""));
  if (bFound) Reached();
  return bFound;
}

void TPlayerControl::Reached() {
  songLength = m_Binding.SongLength();
  m_PlayerVolume = m_Binding.Volume();
}

int TPlayerControl::TakePlayerVolume() {
  return std::exchange(m_PlayerVolume, -1);
}

void TPlayerControl::ForgetPlayer() {
  bFound = false;
}

QString TPlayerControl::TempFolder() const {
  if (!m_TempFolder.isEmpty()) return m_TempFolder;
  const QString program = QCoreApplication::applicationDirPath();
  if (QFileInfo(program).isWritable()) return program;
  for (auto location : {QStandardPaths::RuntimeLocation, QStandardPaths::CacheLocation}) {
    const QString folder = QStandardPaths::writableLocation(location);
    if (!folder.isEmpty() && QDir().mkpath(folder)) return folder;
  }
  return QDir::tempPath();
}

void TPlayerControl::RemoveTempList() {
  if (tempListPath.isEmpty()) return;
  if (!QFile::remove(tempListPath) && QFile::exists(tempListPath)) {
    QThread::msleep(1000);
    QFile::remove(tempListPath);
  }
  tempListPath.clear();
  tempListTicks = 0;
}

QString TPlayerControl::NewTempListPath() {
  RemoveTempList();
  const QDir folder(TempFolder());
  for (int n = 0; n < 1000; ++n) {
    const QString path = folder.filePath(QString::asprintf("list%03d%s", n, ".m3u"));
    if (!QFileInfo::exists(path)) return path;
  }
  return {};
}

bool TPlayerControl::SendListFile(const QString& path, int entries) {
  m_Binding.Stop();
  ListChanged(nullptr);
  return m_Binding.LoadListFile(path, entries);
}

bool TPlayerControl::SendPaths(const QStringList& paths) {
  const QString path = NewTempListPath();
  if (path.isEmpty()) return false;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  QByteArray text;
  for (const QString& p : paths) text += p.toUtf8() + "\r\n";
  if (file.write(text) != text.size() || !file.commit()) return false;

  tempListPath = path;
  tempListTicks = 0;
  if (!SendListFile(path, paths.size())) return false;
  m_SentPaths = paths;
  return true;
}

bool TPlayerControl::SendDocument(IDocumentWindow* window, bool bSelectedOnly, int& index,
                                  bool& bMissing) {
  bMissing = false;
  const bool bCut = ini.ReadBool("Edit", "CutNonPresent", false);
  const bool bFast = ini.ReadBool("Edit", "FastPlay", false);
  if (bFound && m_Binding.IsRunning())
    ListChanged(nullptr);
  else if (!FindWinamp(true))
    return false;
  if (!bSelectedOnly && !window->ChangedSinceSent() && bFast) return true;

  if (playingWindow) playingWindow->SetChangedSinceSent(true);
  QStringList paths;
  {
    TSlDocument& document = window->Document();
    std::lock_guard<std::recursive_mutex> lock(document.m_Lock);
    std::vector<int> rows;
    if (bSelectedOnly) {
      rows = window->SelectedRows();
    } else {
      rows.resize(document.m_Songs.size());
      for (int n = 0; n < static_cast<int>(rows.size()); ++n) rows[n] = n;
    }
    for (int row : rows) {
      if (row < 0 || row >= document.m_Songs.size()) continue;
      const TSlSong& song = document.m_Songs[row];
      std::lock_guard<std::recursive_mutex> songLock(song.cs);
      const QString full = song.GetPath(true);
      if (bCut && lb::SongFileOf(full) == lb::TSongFile::Missing) {
        if (index > paths.size()) --index;
        bMissing = true;
        continue;
      }
      paths << full;
    }
  }
  if (!SendPaths(paths)) return false;
  playingWindow = window;
  // A partial list (the selection, or songs cut out) leaves the window marked as
  // changed: its rows are not the player's entries, so the next Play sends it again.
  window->SetChangedSinceSent(bSelectedOnly || bMissing);
  return true;
}

TPlayerControl::TPlayResult TPlayerControl::Play(IDocumentWindow* window, bool bSelectedOnly) {
  if (!enabled || !window) return prNothing;
  const std::vector<int> selected = window->SelectedRows();
  if (selected.empty()) return prNothing;
  int index = selected.front();
  {
    TSlDocument& document = window->Document();
    std::lock_guard<std::recursive_mutex> lock(document.m_Lock);
    if (index >= document.m_Songs.size()) return prNothing;
    const TSlSong& song = document.m_Songs[index];
    std::lock_guard<std::recursive_mutex> songLock(song.cs);
    // A stream's address is the player's to open: it is never missing.
    if (lb::SongFileOf(song.GetPath(true)) == lb::TSongFile::Missing) {
      UiServices::Instance().MessageBox(kSongNotFound, UiServices::kCaption, MB_ICONEXCLAMATION);
      return prSongMissing;
    }
  }
  TBusyCursor busy;
  bool bMissing = false;
  if (!SendDocument(window, bSelectedOnly, index, bMissing)) return prNoPlayer;
  m_Binding.Jump(bSelectedOnly ? 0 : index);
  m_Binding.Play();
  tracking = !bMissing && !bSelectedOnly;
  currentIndex = -1;
  m_PlayingRow = -1;
  return prPlaying;
}

void TPlayerControl::PlayListFile(const QString& path) {
  if (!enabled) return;
  TBusyCursor busy;
  if (!(bFound && m_Binding.IsRunning())) {
    if (!FindWinamp(true)) return;
  } else {
    ListChanged(nullptr);
  }
  // The songs as the program resolves them: a list in the legacy code page or with
  // Windows paths means nothing to the player as it stands.
  TSlDocument document;
  document.SetFileName(path);
  if (!document.Load(false)) return;
  QStringList paths;
  for (int n = 0; n < document.m_Songs.size(); ++n) paths << document.m_Songs[n].GetPath(true);
  if (playingWindow) playingWindow->SetChangedSinceSent(true);
  if (!SendPaths(paths)) return;
  m_Binding.Jump(0);
  m_Binding.Play();
}

void TPlayerControl::Pause() {
  if (enabled && bFound) m_Binding.Pause();
}

void TPlayerControl::Stop() {
  if (!enabled) return;
  if (bFound) m_Binding.Stop();
  ListChanged(nullptr);
}

int TPlayerControl::EntryOfRow(int row) const {
  if (!playingWindow || row < 0) return -1;
  TSlDocument& document = playingWindow->Document();
  std::lock_guard<std::recursive_mutex> lock(document.m_Lock);
  if (row >= document.m_Songs.size()) return -1;
  // A song listed twice: the k-th row with the path is the k-th entry with it.
  const QString path = document.m_Songs[row].GetPath(true);
  int occurrence = 0;
  for (int n = 0; n < row; ++n)
    if (document.m_Songs[n].GetPath(true) == path) ++occurrence;
  for (int entry = 0; entry < m_SentPaths.size(); ++entry)
    if (m_SentPaths[entry] == path && occurrence-- == 0) return entry;
  return -1;
}

void TPlayerControl::Previous() {
  if (!enabled || !bFound) return;
  FollowPlayingRow();
  // While the rows are followed, the row before the playing one plays (the rows may
  // have been sorted since the list was sent).
  const int entry = tracking && m_PlayingRow > 0 ? EntryOfRow(m_PlayingRow - 1) : -1;
  if (entry >= 0) {
    m_Binding.Jump(entry);
    playingWindow->EnsureRowVisible(m_PlayingRow - 1);
  } else {
    m_Binding.Previous();
  }
}

void TPlayerControl::Next() {
  if (!enabled || !bFound) return;
  FollowPlayingRow();
  const int entry = tracking && m_PlayingRow >= 0 ? EntryOfRow(m_PlayingRow + 1) : -1;
  if (entry >= 0) {
    m_Binding.Jump(entry);
    playingWindow->EnsureRowVisible(m_PlayingRow + 1);
  } else {
    m_Binding.Next();
  }
}

void TPlayerControl::Show() {
  if (!bFound && (!enabled || !FindWinamp(false))) return;
  m_Binding.Show();
}

void TPlayerControl::SetVolume(int volume) {
  if (enabled && bFound) m_Binding.SetVolume(volume);
}

void TPlayerControl::SetPosition(int percent) {
  if (enabled && bFound && songLength >= 0) m_Binding.Seek(songLength * percent * 10);
}

void TPlayerControl::Poll() {
  if (!tempListPath.isEmpty() && ++tempListTicks >= 4) RemoveTempList();
  // A player started after the program (or restarted) is found by the polls, so its
  // commands work before the first Play.
  if (!bFound && (!enabled || !FindWinamp(false))) return;
  if (!m_Binding.IsRunning()) {
    ListChanged(nullptr);
    if (playingWindow) playingWindow->SetChangedSinceSent(true);
    ForgetPlayer();
    return;
  }
  if (tracking) {
    currentIndex = m_Binding.Position();
    FollowPlayingRow();
  }
  songLength = m_Binding.SongLength();
  const int milliseconds = m_Binding.Time();
  m_PlayMilliseconds = milliseconds;
  positionPercent = songLength >= 1 ? (milliseconds / 10) / songLength : 0;
}

QString TPlayerControl::FormatSeconds(int current) const {
  if (!bFound) return "";
  if (songLength == -1) return "-";
  return QString::asprintf("%d.%2.2d / %d.%2.2d", current / 60, current % 60, songLength / 60,
                           songLength % 60);
}

QString TPlayerControl::FormatTime(int percent) const {
  return FormatSeconds(percent * songLength / 100);
}

QString TPlayerControl::FormatPlayTime() const {
  return FormatSeconds(songLength >= 0 ? std::min(m_PlayMilliseconds / 1000, songLength) : 0);
}

void TPlayerControl::FollowPlayingRow() {
  const int old = m_PlayingRow;
  int row = -1;
  if (tracking && playingWindow && currentIndex >= 0 && currentIndex < m_SentPaths.size()) {
    TSlDocument& document = playingWindow->Document();
    std::lock_guard<std::recursive_mutex> lock(document.m_Lock);
    const QString& path = m_SentPaths[currentIndex];
    if (old >= 0 && old < document.m_Songs.size() && document.m_Songs[old].GetPath(true) == path) {
      row = old;
    } else {
      // The k-th entry with the path is shown by the k-th row with it.
      int occurrence = 0;
      for (int entry = 0; entry < currentIndex; ++entry)
        if (m_SentPaths[entry] == path) ++occurrence;
      for (int n = 0; n < document.m_Songs.size(); ++n) {
        if (document.m_Songs[n].GetPath(true) != path) continue;
        row = n;
        if (occurrence-- == 0) break;
      }
    }
  }
  if (row == old) return;
  m_PlayingRow = row;
  if (playingWindow) {
    if (row >= 0) playingWindow->RedrawRow(row);
    if (old >= 0) playingWindow->RedrawRow(old);
  }
}

void TPlayerControl::ListChanged(IDocumentWindow* window) {
  if (!tracking || (window && window != playingWindow)) return;
  const int old = m_PlayingRow;
  currentIndex = -1;
  m_PlayingRow = -1;
  tracking = false;
  // The row loses its playing mark.
  if (old >= 0 && playingWindow) playingWindow->RedrawRow(old);
}

void TPlayerControl::WindowClosing(IDocumentWindow* window) {
  if (window != playingWindow) return;
  // The window is going: its rows are not redrawn.
  playingWindow = nullptr;
  ListChanged(nullptr);
}

bool TPlayerControl::CheckDeletion(IDocumentWindow* window, int row) {
  FollowPlayingRow();
  if (m_PlayingRow >= 0) savedIndex = m_PlayingRow;
  ListChanged(window);
  if (window == playingWindow && row == savedIndex) {
    if (bFound) m_Binding.Stop();
    savedIndex = -1;
    return true;
  }
  return false;
}

void TPlayerControl::RowRemoved(int row) {
  if (savedIndex >= 0 && savedIndex > row) --savedIndex;
}

int TPlayerControl::PlayingImage(IDocumentWindow* window, int row) const {
  return row >= 0 && row == PlayingRow(window) ? kPlayingImage : -1;
}

int TPlayerControl::PlayingRow(IDocumentWindow* window) const {
  return tracking && window && window == playingWindow ? m_PlayingRow : -1;
}
