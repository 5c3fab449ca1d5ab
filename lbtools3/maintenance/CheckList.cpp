#include "CheckList.h"

#include "lbtools3/model/InfoWindowManager.h"
#include "lbtools3/ui/IDocumentWindow.h"
#include "lbtools3/ui/IRepositoryLists.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/Pace.h"
#include "platform/UiServices.h"

#include <QDir>
#include <mutex>
#include <optional>

namespace lb {

namespace {
int Tell(const QString& text, unsigned flags) {
  return UiServices::Instance().MessageBox(text, UiServices::kCaption, flags);
}
}  // namespace

std::vector<int> MissingFileRows(const TSlDocument& document,
                                 const std::function<bool(int, int)>& turn, int sliceMs) {
  std::vector<int> rows;
  TPace slice(sliceMs);
  slice.Turned();
  for (int n = 0;;) {
    int count;
    {
      std::lock_guard<std::recursive_mutex> lock(document.m_Lock);
      count = document.m_Songs.size();
      while (n < count) {
        if (SongFileOf(document.m_Songs[n].GetPath(true)) == TSongFile::Missing) rows.push_back(n);
        ++n;
        if (turn && slice.Due()) break;
      }
    }
    if (n >= count || !turn(n, count)) return rows;
    slice.Turned();
  }
}

std::vector<int> CheckMissingFiles(const TSlDocument& document, bool* stopped) {
  *stopped = false;
  std::optional<TInfoWindowLevel> window;
  return MissingFileRows(document, [&](int done, int count) {
    if (!window) window.emplace(kCheckAction, document.m_FileName, true);
    InfoWindowManager().SetProgress(int(int64_t(done) * 100 / count));
    *stopped = InfoWindowManager().ProcessAndCheckStop();
    return !*stopped;
  });
}

QString CheckListMessage(int missing) {
  QString text = "Проверка завершена.";
  if (missing) text += "\nНе найдено " + QString::number(missing) + " файла(ов).";
  return text;
}

QStringList ReadSearchFolders(const TIniFile& ini, const char* section) {
  QStringList folders;
  for (const QString& line : ini.ReadSectionValues(section)) {
    const qsizetype eq = line.indexOf('=');
    const QString value = eq < 0 ? QString() : line.mid(eq + 1);
    // "N=folder"; a line of the older form names the folder in its key.
    const QString folder = value.isEmpty() ? line.left(eq) : value;
    if (!folder.isEmpty() && !folders.contains(folder)) folders << folder;
  }
  return folders;
}

void WriteSearchFolders(TIniFile& ini, const QStringList& folders, const char* section) {
  ini.EraseSection(section);
  // Keys compare without case and end at "=": the folder is the value of a numbered key.
  for (int n = 0; n < folders.size(); ++n)
    ini.WriteString(section, QString::number(n + 1), folders[n]);
}

bool CanAddSearchFolder(const QStringList& folders, const QString& folder) {
  return !folder.isEmpty() && DirectoryExists(folder) && !folders.contains(folder);
}

void TForgottenFiles::AddKnown(const TSlDocument& document) {
  std::lock_guard<std::recursive_mutex> lock(document.m_Lock);
  m_Known.reserve(m_Known.size() + document.m_Songs.size());
  for (int n = 0; n < document.m_Songs.size(); ++n) {
    const QString path = QDir::cleanPath(document.m_Songs[n].GetPath(true));
    m_Known.insert(path);
    TFileId id;
    if (FileIdentity(path, &id)) m_KnownFiles.insert(id);
  }
}

void TForgottenFiles::CollectKnown(IRepositoryLists& lists, bool bMarkedOnly) {
  TSlDocument scratch;
  for (int row = 0; row < lists.Count(); ++row) {
    if (bMarkedOnly && !lists.IsSelected(row)) continue;
    const QString path = lists.Path(row);
    InfoWindowManager().SetObject(path);
    if (lists.IsOpen(row)) {
      if (IDocumentWindow* window = lists.Child(row)) AddKnown(window->Document());
      continue;
    }
    scratch.Clear();
    scratch.SetFileName(path);
    if (scratch.Load(true)) {
      AddKnown(scratch);
      continue;
    }
    // A load the user stopped is no load error: the whole search ends.
    if (InfoWindowManager().m_bStop) return;
    Tell("Ошибка загрузки документа\n" + path +
             ".\nДля уточнения причины ошибки попробуйте\nоткрыть документ обычным способом",
         MB_OK | MB_ICONERROR);
  }
}

bool TForgottenFiles::IsKnownPath(const QString& fullPath) {
  if (m_Known.contains(QDir::cleanPath(fullPath))) return true;
  TFileId id;
  return FileIdentity(fullPath, &id) && m_KnownFiles.contains(id);
}

void TForgottenFiles::AddSong(const TSlSong& song) {
  m_Result.InsertSong(song, -1);
}

TForgottenFiles::TScanResult TForgottenFiles::Scan(const QStringList& folders) {
  TSlInsertFilesManager manager(QStringList{});
  if (manager.BadExtensions()) {
    Tell("Неправильно заданы расширения файлов в файле конфигурации", MB_OK | MB_ICONERROR);
    return srBadExtensions;
  }
  manager.m_Mode = imForgotten;
  manager.m_DeadFilesDlg = this;
  if (!manager.ScanFolders(folders)) return srStopped;
  m_nSkipped = manager.SkippedCount();
  return srDone;
}

bool TForgottenFiles::Run(IRepositoryLists& lists, bool bMarkedOnly, const QStringList& folders) {
  TScanResult result = srStopped;
  {
    TInfoWindowLevel level("Поиск забытых файлов...", QString(), false);
    CollectKnown(lists, bMarkedOnly);
    m_Result.Clear();
    if (!InfoWindowManager().m_bStop) result = Scan(folders);
  }
  if (result == srStopped)
    Tell("Прервано пользователем", MB_OK | MB_ICONWARNING);
  else if (result == srDone && m_Result.m_Songs.empty())
    Tell("Новых песен не найдено", MB_OK | MB_ICONWARNING);
  return result == srDone;
}

}  // namespace lb
