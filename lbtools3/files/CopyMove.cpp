#include "CopyMove.h"

#include "FileNames.h"
#include "FileOperation.h"
#include "ListPaths.h"
#include "Rename.h"
#include "lbtools3/model/SongFields.h"
#include "lbtools3/model/M3uList.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/Pace.h"
#include "platform/UiServices.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <mutex>
#include <sys/stat.h>

namespace lb {

namespace {

struct TCriterion {
  const char* caption;
  const char* emptyName;
};
constexpr TCriterion kCriteria[kCriterionCount] = {
    {"По алфавиту", ""},
    {"По альбому (тэг v1)", "Unknown album"},
    {"По исполнителю (тэг v1)", "Unknown artist"},
    {"По году (тэг v1)", "Unknown year"},
    {"По комментарию (тэг v1)", "Unknown comment"},
    {"По альбому (тэг v2)", "Unknown album"},
    {"По исполнителю (тэг v2)", "Unknown artist"},
    {"По году (тэг v2)", "Unknown year"},
    {"По комментарию (тэг v2)", "Unknown comment"},
    {"По композитору (тэг v2)", "Unknown composer"},
    {"По ориг. исполнителю (тэг v2)", "Unknown orig. artist"},
    {"По авторским правам (тэг v2)", "Unknown copyrights"},
    {"По URL (тэг v2)", "Unknown URL"},
    {"Кем кодирован (тэг v2)", "Unknown encoded"},
};

QString FieldOf(const TSlSong& song, int criterion) {
  const TSlTag1& t1 = song.m_Tag1;
  const TSlTag2& t2 = song.m_Tag2;
  // A file of a format without ID3v1 has only its main tag: the ID3v1 criteria (album,
  // artist, year, comment) take that tag's same fields.
  if (criterion >= 1 && criterion <= 4 && !CarriesTag1(song.m_Path)) criterion += 4;
  switch (criterion) {
    case 1:
      return t1.GetAlbum();
    case 2:
      return t1.GetArtist();
    case 3:
      return t1.GetYear();
    case 4:
      return t1.GetComment();
    case 5:
      return t2.Album;
    case 6:
      return t2.Artist;
    case 7:
      return t2.Year;
    case 8:
      return OneLineComment(t2.Comment);
    case 9:
      return t2.Composer;
    case 10:
      return t2.OrigArt;
    case 11:
      return t2.Copyright;
    case 12:
      return t2.URL;
    case 13:
      return t2.EncodedBy;
    default:
      return QString();
  }
}

// The folder level of a criterion's field (criteria 1 to 13): the field without blanks
// at both ends, corrected; the empty name when nothing is left.
QString FolderNameOf(const QString& field, int criterion, bool bCorrect) {
  QString name = field.trimmed();
  if (bCorrect) name = ReplaceRefusedCharacters(name);
  // The path separator would make two levels of one.
  name.replace(u'/', u'_');
  name = CorrectName(name);
  return name.isEmpty() ? CriterionEmptyName(criterion) : name;
}

// Appends a level to path (ending with "/"), creating the folder when missing. A folder
// in known was found or made before in this run and is not looked at again.
bool AddLevel(QString& path, const QString& level, IDirErrorPrompt* prompt,
              std::set<QString>* known) {
  QString folder = path + level;
  if (known && known->count(folder)) {
    path = folder + "/";
    return true;
  }
  if (!DirectoryExists(folder) && !CreateDirectoryAsking(prompt, folder)) return false;
  if (known) known->insert(folder);
  path = folder + "/";
  return true;
}

}  // namespace

QString CriterionCaption(int criterion) {
  return criterion >= 0 && criterion < kCriterionCount ? kCriteria[criterion].caption : "";
}

QString CriterionEmptyName(int criterion) {
  return criterion >= 0 && criterion < kCriterionCount ? kCriteria[criterion].emptyName : "";
}

QString CriterionFolderName(const TSlSong& song, int criterion, bool bCorrect) {
  return FolderNameOf(FieldOf(song, criterion), criterion, bCorrect);
}

QChar AlphabetLetter(const TSlSong& song) {
  const TSlTag& tag = !song.m_Tag1.m_bExists && song.m_Tag2.m_bExists
                          ? static_cast<const TSlTag&>(song.m_Tag2)
                          : static_cast<const TSlTag&>(song.m_Tag1);
  return tag.m_DisplayName.isEmpty() ? QChar() : tag.m_DisplayName.at(0).toUpper();
}

bool BuildTargetFolder(const TSlSong& song, const QString& root, const QList<int>& criteria,
                       bool bCorrect, IDirErrorPrompt* prompt, QString* folder,
                       TTargetFolders* known) {
  // The fields come from the song under its lock; the folders are made after it is
  // released, as a failure asks the user while the list view paints the songs.
  QStringList fields;  // one a criterion: the first letter (criterion 0) or the field
  fields.reserve(criteria.size());
  {
    std::lock_guard<std::recursive_mutex> lock(song.cs);
    for (int criterion : criteria) {
      if (criterion == 0)
        fields << QString(AlphabetLetter(song));
      else if (criterion > 0 && criterion < kCriterionCount)
        fields << FieldOf(song, criterion);
    }
  }
  // Songs with the same fields go to the same folder, found once a run.
  if (known) {
    const auto found = known->byFields.constFind(fields);
    if (found != known->byFields.cend()) {
      *folder = *found;
      return true;
    }
  }
  QStringList levels;
  qsizetype n = 0;
  for (int criterion : criteria) {
    if (criterion < 0 || criterion >= kCriterionCount) continue;
    const QString& field = fields[n++];
    if (criterion != 0) {
      levels << FolderNameOf(field, criterion, bCorrect);
      continue;
    }
    const QChar c = field.at(0);
    if (c.unicode() < u'A') {
      levels << "#";
      continue;
    }
    // Capital Cyrillic letters А..Я are gathered in one folder first.
    if (c.unicode() >= 0x0410 && c.unicode() <= 0x042F) levels << "RUS";
    levels << (bCorrect ? ReplaceRefusedCharacters(field) : field);
  }
  QString path = root.endsWith(u'/') ? root : root + "/";
  for (const QString& level : levels)
    if (!AddLevel(path, level, prompt, known ? &known->folders : nullptr)) return false;
  if (known) known->byFields.insert(fields, path);
  *folder = path;
  return true;
}

TCopyMoveSettings TCopyMoveSettings::Load(TIniFile& ini) {
  TCopyMoveSettings s;
  s.root = ini.ReadString("Settings", "CopyMoveFilesRootMusicFolder", QString());
  s.bCorrect = ini.ReadBool("Settings", "Correct Folders", true);
  s.criteria = ParseCriteria(ini.ReadString("Settings", "CopyMoveFilesSystematicMask", QString()));
  for (int i = 0; i < kHistorySize; ++i) {
    const QString entry =
        ini.ReadString("Settings", "CopyMoveString" + QString::number(i), QString());
    if (entry.isEmpty()) break;
    s.history << entry;
  }
  return s;
}

void TCopyMoveSettings::Store(TIniFile& ini) {
  if (!root.isEmpty()) {
    history.removeAll(root);
    history.prepend(root);
  }
  while (history.size() > kHistorySize) history.removeLast();
  ini.WriteString("Settings", "CopyMoveFilesRootMusicFolder", root);
  ini.WriteBool("Settings", "Correct Folders", bCorrect);
  for (int i = 0; i < history.size(); ++i)
    ini.WriteString("Settings", "CopyMoveString" + QString::number(i), history[i]);
  ini.WriteString("Settings", "CopyMoveFilesSystematicMask", CriteriaText(criteria));
}

QList<int> TCopyMoveSettings::ParseCriteria(const QString& text) {
  QList<int> criteria;
  for (const QString& part : text.split(',', Qt::SkipEmptyParts)) {
    bool ok = false;
    const int n = part.trimmed().toInt(&ok);
    if (ok && n >= 0 && n < kCriterionCount && !criteria.contains(n)) criteria << n;
  }
  return criteria;
}

QString TCopyMoveSettings::CriteriaText(const QList<int>& criteria) {
  QStringList parts;
  for (int n : criteria) parts << QString::number(n);
  return parts.join(", ");
}

QString AbsoluteRootFolder(const QString& text, const QString& base) {
  QString path = text.trimmed();
  if (path.isEmpty()) return path;
  if (path == u"~" || path.startsWith(u"~/")) path = QDir::homePath() + path.mid(1);
  if (!path.startsWith(u'/')) path = base + u'/' + path;
  return QDir::cleanPath(path);
}

bool EnsureRootFolder(const QString& root) {
  if (DirectoryExists(root)) return true;
  UiServices& ui = UiServices::Instance();
  if (ui.MessageBox("Корневая папка не существует. Создать ?", UiServices::kCaption,
                    MB_YESNO | MB_ICONQUESTION) != IDYES)
    return false;
  if (::mkdir(QFile::encodeName(root).constData(), 0777) == 0) return true;
  ui.MessageBox("Не удаётся создать корневую папку", UiServices::kCaption, MB_OK | MB_ICONERROR);
  return false;
}

QString CopyMoveSummary(int selected, int processed, int skipped, const QString& stopped) {
  QString text;
  if (processed < selected) text = stopped + "\n";
  text += "Всего было выделено " + QString::number(selected) + " файлa(ов)\nбыло обработано " +
          QString::number(processed - skipped) + " файлa(ов)\n";
  if (processed >= selected) text += "пропущено " + QString::number(skipped) + " файлa(ов)";
  return text;
}

TCriteriaLists::TCriteriaLists(const QList<int>& chosen) : selected(chosen) {
  for (int n = 0; n < kCriterionCount; ++n)
    if (!selected.contains(n)) unselected << n;
}

QList<int> TCriteriaLists::Choose(const QList<int>& availableRows, const QList<int>& selectedRows) {
  QList<int> moving;
  for (int row : availableRows)
    if (row >= 0 && row < unselected.size()) moving << unselected[row];
  int at = selectedRows.isEmpty() ? int(selected.size()) : selectedRows.first() + 1;
  at = qBound(0, at, int(selected.size()));
  QList<int> rows;
  for (int n : moving) {
    unselected.removeOne(n);
    rows << at;
    selected.insert(at++, n);
  }
  return rows;
}

QList<int> TCriteriaLists::Unchoose(const QList<int>& selectedRows) {
  QList<int> moving;
  for (int row : selectedRows)
    if (row >= 0 && row < selected.size()) moving << selected[row];
  for (int n : moving) {
    selected.removeOne(n);
    unselected << n;
  }
  std::sort(unselected.begin(), unselected.end());
  QList<int> rows;
  for (int n : moving) rows << int(unselected.indexOf(n));
  std::sort(rows.begin(), rows.end());
  return rows;
}

QList<int> TCriteriaLists::MoveUp(const QList<int>& selectedRows) {
  QList<int> rows;
  int floor = 0;  // a row never passes another chosen row that cannot move
  for (int row : selectedRows) {
    if (row < 0 || row >= selected.size()) continue;
    if (row > floor) {
      selected.swapItemsAt(row, row - 1);
      rows << row - 1;
      floor = row;
    } else {
      rows << row;
      floor = row + 1;
    }
  }
  return rows;
}

QList<int> TCriteriaLists::MoveDown(const QList<int>& selectedRows) {
  QList<int> rows;
  int ceiling = int(selected.size()) - 1;
  for (auto it = selectedRows.rbegin(); it != selectedRows.rend(); ++it) {
    const int row = *it;
    if (row < 0 || row >= selected.size()) continue;
    if (row < ceiling) {
      selected.swapItemsAt(row, row + 1);
      rows.prepend(row + 1);
      ceiling = row;
    } else {
      rows.prepend(row);
      ceiling = row - 1;
    }
  }
  return rows;
}

int TRowSelection::SongCount() {
  return m_Document.m_Songs.size();
}

}  // namespace lb

TCopyMoveThread::TCopyMoveThread(TSlDocument* document, const Options& options,
                                 lb::TFileOperation* operation, lb::IDirErrorPrompt* prompt)
    : m_pDocument(document), m_Options(options), m_pOperation(operation), m_pPrompt(prompt) {}

TCopyMoveThread::~TCopyMoveThread() {
  StopAndWait();
}

void TCopyMoveThread::Execute() {
  const bool bMove = !m_Options.bCopy;
  // The dialog follows the run every few milliseconds, in one visit of the main thread
  // that also tells the player (below): a move within a file system takes microseconds,
  // and each visit of the main thread costs more than that.
  lb::TPace shown(kShowIntervalMs);
  int nFirstDone = -1, nLastDone = -1;  // the rows handled since the dialog last showed
  // On the main thread: the rows handled since and the progress.
  auto showDone = [&] {
    if (nFirstDone < 0) return;
    if (m_pChild) m_pChild->RedrawSongs(nFirstDone, nLastDone);
    nFirstDone = -1;
    if (m_pInfoWindow && m_nSelected > 0)
      m_pInfoWindow->SetProgress(m_nProcessed * 100 / m_nSelected);
  };
  lb::TTargetFolders folders;  // made or found in this run
  // The songs pointed at copies: row, the song's path as it was stored, the copy. They
  // go back should the batch's flush fail.
  struct TRepointed {
    int row;
    QString storedPath, copy;
  };
  std::vector<TRepointed> repointed;
  // A move tells the player about the rows it is about to take, a few rows ahead in one
  // visit of the main thread. When the rows told last time went by quickly, sixteen
  // times as many are told next (up to 1,024): a thousand quick moves take four visits
  // rather than ten, and each visit costs more than many moves on a busy machine, where
  // the main thread waits for a processor. Slow rows halve the count again.
  size_t nTold = 0, nAhead = 1;
  lb::TPace told(kShowIntervalMs);
  // The selection is fixed for the run (the progress dialog is modal): it is read once,
  // in the visit that shows the first file and tells the player about its row.
  std::vector<int> rows;
  Synchronize([&] {
    if (!m_pChild) return;
    m_nSelected = m_pChild->SelectedCount();
    const int first = m_pChild->SelectedIndex();
    if (first < 0) return;
    for (int i = first, count = m_pChild->SongCount(); i < count; ++i)
      if (m_pChild->IsSelected(i)) rows.push_back(i);
    if (rows.empty()) return;
    shown.Turned();
    if (m_pInfoWindow) {
      const TSlSong& song = m_pDocument->m_Songs[rows[0]];
      std::lock_guard<std::recursive_mutex> lock(song.cs);
      m_pInfoWindow->SetInfoText(itObject, song.GetPath(true));
    }
    if (!bMove) return;
    told.Turned();
    m_pChild->PlayerRowRemoving(rows[0]);
    nTold = 1;
  });
  for (size_t k = 0; k < rows.size(); ++k) {
    const int i = rows[k];
    TSlSong& song = m_pDocument->m_Songs[i];
    QString source;
    {
      std::lock_guard<std::recursive_mutex> lock(song.cs);
      source = song.GetPath(true);
    }
    const bool bShow = shown.Take();
    const bool bTell = bMove && k >= nTold;
    if (bTell) {
      if (told.Started())
        nAhead = told.Due() ? qMax<size_t>(nAhead / 2, 1) : qMin<size_t>(nAhead * 16, 1024);
      told.Turned();
    }
    if (bShow || bTell) {
      const size_t end = bMove ? qMax(nTold, qMin(rows.size(), k + nAhead)) : nTold;
      Synchronize([&] {
        if (bShow) {
          showDone();
          if (m_pInfoWindow) m_pInfoWindow->SetInfoText(itObject, source);
        }
        for (size_t j = nTold; m_pChild && j < end; ++j) m_pChild->PlayerRowRemoving(rows[j]);
      });
      nTold = end;
    }
    if (song.IsStream()) {
      // A stream's address has no file to copy or move: no folder is made for it.
      ++m_nSkipped;
      ++m_nProcessed;
      continue;
    }
    QString folder;
    if (!lb::BuildTargetFolder(song, m_Options.root, m_Options.criteria, m_Options.bCorrect,
                               m_pPrompt, &folder, &folders))
      break;
    QString target = folder + lb::FileNamePart(source);
    const int result = m_pOperation->MoveOrCopy(bMove, source, target);
    if (result == lb::frCancelled) break;
    if (result == lb::frSkipped) ++m_nSkipped;
    const bool bDone = result == lb::frDone && target != source;
    if (bDone) m_Handled << source << target;
    if (bDone && (bMove || m_Options.bChangePaths)) {
      {
        std::lock_guard<std::recursive_mutex> lock(song.cs);
        if (!bMove) repointed.push_back({i, song.m_Path, target});
        m_Pairs << source << target;
        lb::MoveSongPath(song, target);
      }
      if (m_pCheckpoint) m_pCheckpoint->Add(source, target);
    }
    if (nFirstDone < 0) nFirstDone = i;
    nLastDone = i;
    ++m_nProcessed;
    if (Terminated()) break;
  }
  Synchronize(showDone);
  // The copies reach the disk once for the batch. Those that cannot are gone again:
  // their songs go back to their own files and the copies count as skipped.
  QStringList failed;
  if (m_pOperation->FlushCopies(&failed)) return;
  const std::set<QString> lost(failed.begin(), failed.end());
  // Drops the (source, copy) pairs of the lost copies; the number dropped.
  auto drop = [&lost](QStringList& pairs) {
    int dropped = 0;
    for (qsizetype n = 0; n + 1 < pairs.size();) {
      if (!lost.count(pairs[n + 1])) {
        n += 2;
        continue;
      }
      pairs.remove(n, 2);
      ++dropped;
    }
    return dropped;
  };
  m_nSkipped += drop(m_Handled);
  drop(m_Pairs);
  for (const TRepointed& r : repointed) {
    if (!lost.count(r.copy)) continue;
    TSlSong& song = m_pDocument->m_Songs[r.row];
    std::lock_guard<std::recursive_mutex> lock(song.cs);
    song.m_Path = r.storedPath;
    song.m_Tag1.UpdateDisplayName();
    song.m_Tag2.UpdateDisplayName();
  }
  if (!repointed.empty()) RedrawSongs(repointed.front().row, repointed.back().row);
}
