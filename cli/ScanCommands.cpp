// The scan command: collects the music files of folders into a new or existing list.
#include "CliContext.h"

#include "lbtools3/settings/Settings.h"
#include "lbtools3/model/M3uList.h"
#include "lbtools3/model/SlInsertFilesManager.h"

#include <QFileInfo>

namespace {

int Scan(CliContext& c, const QStringList& args) {
  QStringList named, folders;
  QString into;
  int lists = -1;  // -1: ask (the global answer), 0: no, 1: yes
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == "--into") {
      if (++i >= args.size()) return CliUsageError(c, "После --into укажите лист");
      into = args[i];
    } else if (a.startsWith("--into=")) {
      into = a.mid(7);
    } else if (a == "--lists=yes" || a == "--lists=no") {
      lists = a.endsWith("yes") ? 1 : 0;
    } else if (a.startsWith("--")) {
      return CliUsageError(c, "Неизвестный параметр: " + a);
    } else {
      named << a;
    }
  }
  if (named.isEmpty()) return CliUsageError(c, "Укажите папки для сканирования");
  // Every folder must be there before anything is scanned or written.
  if (!CliFolders(c, named, &folders)) return 1;

  TSlInsertFilesManager manager(QStringList{});
  const TIniFile ini(lb::SettingsFilePath());
  if (manager.BadExtensions() ||
      !TSettingsModel::ExtensionsValid(lbset::ReadString(ini, lbset::Extentions))) {
    c.err << "Неправильно заданы расширения файлов в файле конфигурации" << Qt::endl;
    return 1;
  }
  manager.m_bYesToAllLists = lists == 1;
  manager.m_bNoToAllLists = lists == 0;

  TSlDocument doc;
  if (!into.isEmpty()) {
    doc.SetFileName(QFileInfo(into).absoluteFilePath());
    if (QFileInfo::exists(doc.m_FileName) && !doc.Load(false)) {
      c.err << "Лист не загружен: " << into << Qt::endl;
      return 1;
    }
  }
  const bool complete = manager.ScanFolders(folders);
  const TSlSongVector& found = manager.m_FoundSongs;
  if (into.isEmpty()) {
    for (const TSlSong& song : found) c.out << song.m_Path << '\n';
  } else if (!found.empty()) {
    doc.InsertSongs(found, 0, static_cast<int>(found.size()), doc.m_Songs.size());
    if (!doc.Save(false)) {
      c.err << "Лист не сохранён: " << doc.m_FileName << Qt::endl;
      return 1;
    }
  }
  c.out << "Песен найдено: " << found.size() << '\n';
  if (!complete) c.err << "Прервано пользователем" << Qt::endl;
  // Files and folders left out were told above: the scan is not a clean one.
  return complete && manager.SkippedCount() == 0 ? 0 : 1;
}

}  // namespace

QList<CliCommandInfo> ScanCommands() {
  return {
      {"scan", "FOLDER... [--into LIST] [--lists=yes|no]",
       "собрать музыкальные файлы папок (рабочие расширения из файла настроек) в новый или "
       "существующий лист (без --into — вывести пути); --lists отвечает на вопросы о "
       "найденных листах",
       Scan},
  };
}
