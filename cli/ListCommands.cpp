// List commands: show, synchronise and convert the paths of a list.
#include "CliContext.h"

#include "lbtools3/model/M3uList2.h"

#include <QFileInfo>

namespace {

// Loads the list named by the argument; prints why when it cannot.
bool LoadList(CliContext& c, const QString& path, TSlDocument& doc) {
  doc.SetFileName(QFileInfo(path).absoluteFilePath());
  if (doc.Load(false)) return true;
  c.err << "Лист не загружен: " << path << Qt::endl;
  return false;
}

bool SaveList(CliContext& c, TSlDocument& doc) {
  if (doc.Save(false)) return true;
  c.err << "Лист не сохранён: " << doc.m_FileName << Qt::endl;
  return false;
}

int ListShow(CliContext& c, const QStringList& args) {
  if (args.size() != 1) return CliUsageError(c, "Укажите один лист");
  TSlDocument doc;
  if (!LoadList(c, args[0], doc)) return 1;
  for (int n = 0; n < doc.m_Songs.size(); ++n) {
    const TSlSong& song = doc.m_Songs[n];
    c.out << song.GetPath(false) << '\t' << song.m_Tag1.m_DisplayName << '\t'
          << song.m_Tag2.m_DisplayName << '\n';
  }
  return 0;
}

int ListSync(CliContext& c, const QStringList& args) {
  if (args.size() != 1) return CliUsageError(c, "Укажите один лист");
  if (!CliAttachID3Com(c)) return 1;
  TSlDocument doc;
  if (!LoadList(c, args[0], doc)) return 1;
  int missing = 0;
  for (int n = 0; n < doc.m_Songs.size(); ++n) {
    TSlSong& song = doc.m_Songs[n];
    song.Sync();
    if (song.m_FileAge == kAgeMissing && !song.m_Path.isEmpty()) ++missing;
  }
  if (!SaveList(c, doc)) return 1;
  c.out << "Синхронизировано песен: " << doc.m_Songs.size();
  if (missing) c.out << ", файлов нет: " << missing;
  c.out << '\n';
  return 0;
}

int ListConvert(CliContext& c, const QStringList& args) {
  if (args.size() != 2 || (args[0] != "--full" && args[0] != "--brief"))
    return CliUsageError(c, "Укажите --full или --brief и лист");
  TSlDocument doc;
  if (!LoadList(c, args[1], doc)) return 1;
  const bool bFull = args[0] == "--full";
  for (int n = 0; n < doc.m_Songs.size(); ++n) doc.m_Songs[n].SetPathForm(bFull);
  return SaveList(c, doc) ? 0 : 1;
}

}  // namespace

QList<CliCommandInfo> ListCommands() {
  return {
      {"list show", "LIST", "песни листа: путь, имя по ID3v1, имя по ID3v2", ListShow},
      {"list sync", "LIST", "синхронизировать тэги песен с файлами и сохранить лист", ListSync},
      {"list convert", "--full|--brief LIST",
       "перевести пути песен в полную или краткую форму и сохранить лист", ListConvert},
  };
}
