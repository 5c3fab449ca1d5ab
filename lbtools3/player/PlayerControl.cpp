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

namespace {

int CountListEntries(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return 0;
  int entries = 0;
  while (!file.atEnd()) {
    const QByteArray line = file.readLine().trimmed();
    if (!line.isEmpty() && !line.startsWith('#')) ++entries;
  }
  return entries;
}

}  // namespace

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
  if (bFound) songLength = m_Binding.SongLength();
  return bFound;
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
  const QString path = NewTempListPath();
  if (path.isEmpty()) return false;
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
      if (bCut && !QFileInfo::exists(full)) {
        if (index > paths.size()) --index;
        bMissing = true;
        continue;
      }
      paths << full;
    }
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  QByteArray text;
  for (const QString& p : paths) text += p.toUtf8() + "\r\n";
  if (file.write(text) != text.size() || !file.commit()) return false;

  tempListPath = path;
  tempListTicks = 0;
  if (!SendListFile(path, paths.size())) return false;
  playingWindow = window;
  window->SetChangedSinceSent(bSelectedOnly);
  return true;
}

void TPlayerControl::Play(IDocumentWindow* window, bool bSelectedOnly) {
  if (!enabled || !window) return;
  const std::vector<int> selected = window->SelectedRows();
  if (selected.empty()) return;
  int index = selected.front();
  {
    TSlDocument& document = window->Document();
    std::lock_guard<std::recursive_mutex> lock(document.m_Lock);
    if (index >= document.m_Songs.size()) return;
    const TSlSong& song = document.m_Songs[index];
    std::lock_guard<std::recursive_mutex> songLock(song.cs);
    if (!QFileInfo::exists(song.GetPath(true))) {
      UiServices::Instance().MessageBox(kSongNotFound, UiServices::kCaption, MB_ICONEXCLAMATION);
      return;
    }
  }
  TBusyCursor busy;
  bool bMissing = false;
  if (!SendDocument(window, bSelectedOnly, index, bMissing)) return;
  m_Binding.Jump(bSelectedOnly ? 0 : index);
  m_Binding.Play();
  tracking = !bMissing && !bSelectedOnly;
  currentIndex = -1;
}

void TPlayerControl::PlayListFile(const QString& path) {
  if (!enabled) return;
  TBusyCursor busy;
  if (!(bFound && m_Binding.IsRunning())) {
    if (!FindWinamp(true)) return;
  } else {
    ListChanged(nullptr);
  }
  if (playingWindow) playingWindow->SetChangedSinceSent(true);
  if (!SendListFile(path, CountListEntries(path))) return;
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

void TPlayerControl::Previous() {
  if (!enabled || !bFound) return;
  m_Binding.Previous();
  if (tracking && playingWindow && currentIndex - 1 >= 0)
    playingWindow->EnsureRowVisible(currentIndex - 1);
}

void TPlayerControl::Next() {
  if (!enabled || !bFound) return;
  m_Binding.Next();
  if (tracking && playingWindow && currentIndex + 1 < playingWindow->Document().m_Songs.size())
    playingWindow->EnsureRowVisible(currentIndex + 1);
}

void TPlayerControl::Show() {
  if (!bFound && !FindWinamp(false)) return;
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
  if (!bFound) return;
  if (!m_Binding.IsRunning()) {
    ListChanged(nullptr);
    if (playingWindow) playingWindow->SetChangedSinceSent(true);
    ForgetPlayer();
    return;
  }
  if (tracking) {
    const int position = m_Binding.Position();
    if (position != currentIndex) {
      const int old = currentIndex;
      currentIndex = position;
      if (playingWindow) {
        if (position >= 0) playingWindow->RedrawRow(position);
        if (old >= 0) playingWindow->RedrawRow(old);
      }
    }
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

void TPlayerControl::ListChanged(IDocumentWindow* window) {
  if (!tracking || (window && window != playingWindow)) return;
  const int old = currentIndex;
  currentIndex = -1;
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
  if (currentIndex >= 0) savedIndex = currentIndex;
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
  return tracking && window == playingWindow && row == currentIndex ? kPlayingImage : -1;
}
