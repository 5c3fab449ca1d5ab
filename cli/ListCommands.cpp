// List commands: show, synchronise and convert the paths of a list.
#include "CliContext.h"

#include "lbtools3/files/SongFiles.h"
#include "lbtools3/docwin/ListOps.h"
#include "lbtools3/maintenance/CheckList.h"
#include "lbtools3/model/M3uList.h"
#include "platform/FileRewrite.h"
#include "platform/FileSystem.h"

#include <algorithm>

#include <QFileInfo>

namespace {

int ListShow(CliContext& c, const QStringList& args) {
  if (args.size() != 1) return CliUsageError(c, "Укажите один лист");
  TSlDocument doc;
  if (!CliLoadList(c, args[0], doc)) return 1;
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
  if (!CliLoadList(c, args[0], doc)) return 1;
  int missing = 0;
  const lb::TRecoveryBatch batch;
  for (int n = 0; n < doc.m_Songs.size(); ++n) {
    TSlSong& song = doc.m_Songs[n];
    song.Sync();
    if (song.m_FileAge == kAgeMissing && !song.m_Path.isEmpty() && !song.IsStream()) ++missing;
  }
  if (!CliSaveList(c, doc)) return 1;
  c.out << "Синхронизировано песен: " << doc.m_Songs.size();
  if (missing) c.out << ", файлов нет: " << missing;
  c.out << '\n';
  return 0;
}

int ListConvert(CliContext& c, const QStringList& args) {
  if (args.size() != 2 || (args[0] != "--full" && args[0] != "--brief"))
    return CliUsageError(c, "Укажите --full или --brief и лист");
  TSlDocument doc;
  if (!CliLoadList(c, args[1], doc)) return 1;
  const bool bFull = args[0] == "--full";
  for (int n = 0; n < doc.m_Songs.size(); ++n) doc.m_Songs[n].SetPathForm(bFull);
  return CliSaveList(c, doc) ? 0 : 1;
}

// 1-based song numbers of the arguments, ascending and without repeats; false (after
// saying why) when one is not a number of the list.
bool SongIndices(CliContext& c, const QStringList& args, int count, std::vector<int>* indices) {
  for (const QString& arg : args) {
    bool ok = false;
    const int n = arg.toInt(&ok);
    if (!ok || n < 1 || n > count) {
      c.err << "Нет песни с номером " << arg << " (в листе " << count << ")" << Qt::endl;
      return false;
    }
    indices->push_back(n - 1);
  }
  std::sort(indices->begin(), indices->end());
  indices->erase(std::unique(indices->begin(), indices->end()), indices->end());
  return true;
}

int ListAdd(CliContext& c, const QStringList& args) {
  if (args.size() < 2) return CliUsageError(c, "Укажите лист и хотя бы один файл");
  // A folder (or an empty name, which would mean the current folder) is no song:
  // nothing is written then.
  for (const QString& file : args.mid(1)) {
    if (file.trimmed().isEmpty() || QFileInfo(file).isDir()) {
      c.err << "Не файл, а папка: \"" << file
            << "\". Песни папки добавляет команда scan ПАПКА --into ЛИСТ" << Qt::endl;
      return 2;
    }
  }
  TSlDocument doc;
  const QString list = QFileInfo(args[0]).absoluteFilePath();
  if (!TSlDocument::CheckListPath(list, true, false)) return 1;
  // A list that does not exist yet is made.
  if (QFileInfo::exists(list)) {
    if (!CliLoadList(c, list, doc)) return 1;
  } else {
    doc.SetFileName(list);
  }
  for (const QString& file : args.mid(1)) {
    // A name that is not UTF-8 reaches the program with its bytes replaced: the list
    // would name another, missing file.
    if (file.contains(QChar::ReplacementCharacter) && !QFileInfo::exists(file)) {
      c.err << "Имена не в кодировке UTF-8 нельзя записать в лист: переименуйте их.\n"
            << file << Qt::endl;
      return 1;
    }
    // A line break would split the song's line in two.
    if (lb::HasLineBreak(file)) {
      c.err << "Имена с переводом строки нельзя записать в лист: переименуйте их.\n"
            << file << Qt::endl;
      return 1;
    }
    // A stream's address goes in as it is: it names no file of the current folder.
    const QString path = lb::IsStreamUrl(file) ? file : QFileInfo(file).absoluteFilePath();
    doc.InsertSong(TSlSong(nullptr, path, QString()), -1);
  }
  if (!CliSaveList(c, doc)) return 1;
  c.out << "Песен в листе: " << doc.m_Songs.size() << '\n';
  return 0;
}

int ListRemove(CliContext& c, const QStringList& args) {
  if (args.size() < 2) return CliUsageError(c, "Укажите лист и номера песен");
  TSlDocument doc;
  if (!CliLoadList(c, args[0], doc)) return 1;
  std::vector<int> indices;
  if (!SongIndices(c, args.mid(1), doc.m_Songs.size(), &indices)) return 2;
  doc.DeleteSongs(indices);
  return CliSaveList(c, doc) ? 0 : 1;
}

int ListMove(CliContext& c, const QStringList& args) {
  if (args.size() < 3) return CliUsageError(c, "Укажите лист, место и номера песен");
  TSlDocument doc;
  if (!CliLoadList(c, args[0], doc)) return 1;
  bool ok = false;
  const int to = args[1].toInt(&ok);
  if (!ok || to < 1 || to > doc.m_Songs.size() + 1)
    return CliUsageError(c, "Место должно быть номером песни листа или числом песен + 1");
  std::vector<int> indices;
  if (!SongIndices(c, args.mid(2), doc.m_Songs.size(), &indices)) return 2;
  // The same rule as a drag within the document window: the songs land before the
  // song that stood at the given place.
  lb::CarrySongs(doc, indices, doc, to - 1, true);
  return CliSaveList(c, doc) ? 0 : 1;
}

int ListCheck(CliContext& c, const QStringList& args) {
  if (args.size() != 1) return CliUsageError(c, "Укажите один лист");
  TSlDocument doc;
  if (!CliLoadList(c, args[0], doc)) return 1;
  const std::vector<int> missing = lb::MissingFileRows(doc, {}, 0);
  for (int n : missing) c.out << n + 1 << '\t' << doc.m_Songs[n].GetPath(true) << '\n';
  c.out << "Файлов нет: " << missing.size() << " из " << doc.m_Songs.size() << '\n';
  return 0;
}

int FilesInfo(CliContext& c, const QStringList& args) {
  if (args.size() != 1) return CliUsageError(c, "Укажите один лист");
  TSlDocument doc;
  if (!CliLoadList(c, args[0], doc)) return 1;
  QStringList paths;
  for (int n = 0; n < doc.m_Songs.size(); ++n) paths << doc.m_Songs[n].GetPath(true);
  c.out << lb::FilesInfoText(paths) << '\n';
  return 0;
}

}  // namespace

QList<CliCommandInfo> ListCommands() {
  return {
      {"list show", "LIST", "песни листа: путь, имя по ID3v1, имя по ID3v2", ListShow},
      {"list sync", "LIST", "синхронизировать тэги песен с файлами и сохранить лист", ListSync},
      {"list convert", "--full|--brief LIST",
       "перевести пути песен в полную или краткую форму и сохранить лист", ListConvert},
      {"list add", "LIST FILE...", "добавить файлы в конец листа (нет листа — создать)", ListAdd},
      {"list remove", "LIST N...", "удалить из листа песни с номерами N (с 1)", ListRemove},
      {"list move", "LIST TO N...",
       "переставить песни с номерами N перед песней номер TO (TO = число песен + 1 — в конец)",
       ListMove},
      {"list check", "LIST", "песни листа, чьих файлов нет на диске", ListCheck},
      {"files-info", "LIST", "общий размер файлов листа (каждый файл считается один раз)",
       FilesInfo},
  };
}
