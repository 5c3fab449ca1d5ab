// Repository commands: list, add, remove and scan for lists, on the program's own
// settings file (what the window shows at its next start).
#include "CliContext.h"

#include "lbtools3/repository/Repository.h"
#include "platform/IniFile.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The repository as the window loads it at a start through the shell: no list is
// opened and no file is checked.
struct CliRepository {
  TIniFile ini{lb::SettingsFilePath()};
  TListsRepository repository{ini, nullptr, true};
  CliRepository() { repository.Load(); }
};

int RepoList(CliContext& c, const QStringList& args) {
  if (!args.isEmpty()) return CliUsageError(c, "Команда без аргументов");
  CliRepository r;
  TListsRepository& repo = r.repository;
  // The open mark is the one the window will act on: open at the last exit.
  for (int row = 0; row < repo.Count(); ++row)
    c.out << repo.Number(row) << '\t' << (repo.StoredOpen(repo.Path(row)) ? "+" : "") << '\t'
          << repo.Name(row) << '\t' << repo.Path(row) << '\n';
  return 0;
}

int RepoAdd(CliContext& c, const QStringList& args) {
  if (args.size() != 1) return CliUsageError(c, "Укажите один лист");
  const QString path = CliAbsolutePath(args[0]);
  if (!QFileInfo(path).isFile()) {
    c.err << "Файл " << path << " не найден" << Qt::endl;
    return 1;
  }
  CliRepository r;
  if (r.repository.IndexOf(path) != -1) {
    c.err << "Этот лист уже есть базе." << Qt::endl;
    return 1;
  }
  r.repository.Add(path, false, nullptr);
  // A write that failed has been reported (the settings file is unchanged).
  return r.repository.WriteFailed() ? 1 : 0;
}

int RepoRemove(CliContext& c, const QStringList& args) {
  if (args.size() != 1) return CliUsageError(c, "Укажите один лист");
  CliRepository r;
  // The name as stored first (a list that no longer exists), then as a file here.
  int row = r.repository.IndexOf(args[0]);
  if (row == -1) row = r.repository.IndexOf(CliAbsolutePath(args[0]));
  if (row == -1) {
    c.err << "Листа нет в хранилище: " << args[0] << Qt::endl;
    return 1;
  }
  r.repository.Remove(row);
  return r.repository.WriteFailed() ? 1 : 0;
}

int RepoScan(CliContext& c, const QStringList& args) {
  if (args.isEmpty()) return CliUsageError(c, "Укажите хотя бы одну папку");
  QStringList folders;
  if (!CliFolders(c, args, &folders)) return 1;
  CliRepository r;
  const int before = r.repository.Count();
  const bool finished = r.repository.ScanFolders(folders);
  // Rows the settings file did not take are not counted as added (the failure was told).
  if (r.repository.WriteFailed()) return 1;
  c.out << "Добавлено листов: " << r.repository.Count() - before << '\n';
  return finished ? 0 : 1;
}

}  // namespace

QList<CliCommandInfo> RepoCommands() {
  return {
      {"repo list", "", "листы хранилища: номер, открыт при выходе (+), имя, полный путь",
       RepoList},
      {"repo add", "LIST", "добавить лист в хранилище (закрытым)", RepoAdd},
      {"repo remove", "LIST", "удалить ссылку на лист из хранилища (файл не трогается)",
       RepoRemove},
      {"repo scan", "FOLDER...",
       "найти листы в папках и добавить их в хранилище (с --yes без вопросов)", RepoScan},
  };
}
