// The relink command: finds where the missing songs of a list went, prints one line
// "OLD -> NEW (score)" per missing song and, with --apply, changes the sure matches in
// the list and in every list of the repository.
#include "CliContext.h"

#include "lbtools3/files/SongFiles.h"
#include "lbtools3/repository/Repository.h"
#include "lbtools3/files/ListPaths.h"
#include "lbtools3/maintenance/Relink.h"
#include "lbtools3/model/M3uList.h"
#include "platform/IniFile.h"

#include <QDir>
#include <QFileInfo>

namespace {

int Relink(CliContext& c, const QStringList& arguments) {
  QStringList args = arguments;
  const bool bApply = args.removeAll("--apply") > 0;
  const qsizetype at = args.indexOf("--search");
  QStringList folders;
  if (at >= 0) {
    folders = args.mid(at + 1);
    args = args.mid(0, at);
  }
  if (args.size() != 1 || folders.isEmpty())
    return CliUsageError(c, "Использование: relink LIST --search DIR... [--apply]");
  QStringList searched;
  if (!CliFolders(c, folders, &searched)) return 1;
  folders = searched;
  TSlDocument doc;
  if (!CliLoadList(c, args[0], doc)) return 1;
  // Without the tag component the files' ID3v1 tags still count.
  CliAttachID3Com(c);

  TIniFile ini(lb::SettingsFilePath());
  TListsRepository repository(ini, nullptr, true);
  repository.Load();
  lb::TRelinkSearch search;
  if (search.Run(repository, folders, doc) != lb::TRelinkSearch::rrDone) return 1;

  int sure = 0, unsure = 0, none = 0;
  for (const lb::TRelinkSong& song : search.m_Songs) {
    if (song.candidates.empty()) {
      ++none;
      c.out << song.oldPath << " -> ? (0)\n";
      continue;
    }
    song.bSure ? ++sure : ++unsure;
    const lb::TRelinkCandidate& best = song.candidates.front();
    c.out << song.oldPath << " -> " << best.path << " (" << best.score << ")"
          << (song.bSure ? "" : " ?") << '\n';
  }
  c.out.flush();
  c.err << "Пропавших файлов: " << search.m_Songs.size() << ", уверенных совпадений: " << sure
        << ", неуверенных: " << unsure << ", не найдено: " << none << Qt::endl;
  if (!bApply) return 0;

  const QStringList pairs = lb::RelinkPairs(search.m_Songs, lb::SureChoices(search.m_Songs));
  bool saved = true;
  if (!pairs.isEmpty()) {
    lb::ReplacePathsInDocument(doc, pairs);
    if (doc.m_bModified) saved = CliSaveList(c, doc);
    lb::ReplacePathsInRepositoryLists(repository, pairs, doc.m_FileName);
  }
  // Only changes that reached the list file are counted.
  if (!saved) return 1;
  c.err << "Изменено путей: " << pairs.size() / 2 << Qt::endl;
  return 0;
}

}  // namespace

QList<CliCommandInfo> RelinkCommands() {
  return {
      {"relink", "LIST --search DIR... [--apply]",
       "найти, куда перемещены пропавшие файлы листа (по тэгам из файла данных и по имени); "
       "строка «СТАРЫЙ -> НОВЫЙ (оценка)» на файл, «?» после неуверенных; с --apply уверенные "
       "совпадения меняются в листе и во всех листах хранилища",
       Relink},
  };
}
