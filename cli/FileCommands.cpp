// File commands: rename the songs' files of a list by their tags, and copy or move them
// into a folder scheme under a root folder. The list and every list of the repository
// follow the files; one line "OLD -> NEW" is printed per file.
#include "CliContext.h"

#include "lbtools3/repository/Repository.h"
#include "lbtools3/files/CopyMove.h"
#include "lbtools3/files/FileOperation.h"
#include "lbtools3/files/ListPaths.h"
#include "lbtools3/files/Rename.h"
#include "lbtools3/model/M3uList.h"
#include "platform/IniFile.h"

#include <QFileInfo>
#include <set>

namespace {

// What the file-error dialog would have been asked: the --on-exists policy answers.
class CliFileErrorPrompt : public lb::IFileErrorPrompt {
 public:
  CliFileErrorPrompt(CliContext& c, const QString& policy) : m_Context(c), m_Policy(policy) {}
  int Ask(const lb::TFileErrorInfo& info, QString&) override {
    m_Context.err << "Ошибка: " << info.source << " -> " << info.target << ": " << info.error
                  << Qt::endl;
    if (m_Policy == "stop") return lb::fcCancel;
    if (info.targetExists && m_Policy == "overwrite") return lb::fcOverwriteAll;
    return lb::fcSkip;
  }

 private:
  CliContext& m_Context;
  QString m_Policy;
};

class CliDirErrorPrompt : public lb::IDirErrorPrompt {
 public:
  explicit CliDirErrorPrompt(CliContext& c) : m_Context(c) {}
  int Ask(const QString& path, const QString& error, QString&) override {
    m_Context.err << "Невозможно создать директорию: " << path << ": " << error << Qt::endl;
    return lb::dcCancel;
  }

 private:
  CliContext& m_Context;
};

struct CommonOptions {
  QString list;
  QString rows;
  QString onExists = "stop";
};

// Takes "--name VALUE" out of args; false when the value is missing.
bool TakeValue(QStringList& args, const QString& name, QString* value) {
  const qsizetype at = args.indexOf(name);
  if (at < 0) return true;
  if (at + 1 >= args.size()) return false;
  *value = args[at + 1];
  args.remove(at, 2);
  return true;
}

bool TakeCommon(QStringList& args, CommonOptions* o) {
  if (!TakeValue(args, "--rows", &o->rows) || !TakeValue(args, "--on-exists", &o->onExists))
    return false;
  return o->onExists == "skip" || o->onExists == "overwrite" || o->onExists == "stop";
}

// Saves the list and makes every other list of the repository follow the pairs.
int Finish(CliContext& c, TSlDocument& doc, const QStringList& pairs, const QStringList& done) {
  for (qsizetype i = 0; i + 1 < done.size(); i += 2)
    c.out << done[i] << " -> " << done[i + 1] << '\n';
  c.out.flush();
  int code = 0;
  if (doc.m_bModified && !doc.Save(false)) {
    c.err << "Лист не сохранён: " << doc.m_FileName << Qt::endl;
    code = 1;
  }
  if (!pairs.isEmpty()) {
    TIniFile ini(lb::SettingsFilePath());
    TListsRepository repository(ini, nullptr, true);
    repository.Load();
    lb::ReplacePathsInRepositoryLists(repository, pairs, doc.m_FileName);
  }
  return code;
}

int Rename(CliContext& c, const QStringList& arguments) {
  QStringList args = arguments;
  CommonOptions o;
  QString mask, digits = "1";
  if (!TakeCommon(args, &o) || !TakeValue(args, "--mask", &mask) ||
      !TakeValue(args, "--digits", &digits) || args.size() != 1 || mask.isEmpty())
    return CliUsageError(c,
                         "Использование: rename LIST --mask MASK [--rows N,M-K] [--digits N] "
                         "[--on-exists skip|overwrite|stop]");
  bool ok = false;
  const int nDigits = digits.toInt(&ok);
  if (!ok || nDigits < 0) return CliUsageError(c, "Неверное число цифр: " + digits);
  QList<lb::TMaskPiece> pieces;
  const lb::TMaskError error = lb::ParseRenameMask(mask, &pieces);
  if (error != lb::TMaskError::None) {
    c.err << lb::MaskErrorText(error) << Qt::endl;
    return 2;
  }
  if (!CliAttachID3Com(c)) return 1;
  TSlDocument doc;
  if (!CliLoadList(c, args[0], doc)) return 1;
  std::vector<int> rows;
  if (!CliParseRows(c, o.rows, doc.m_Songs.size(), &rows)) return 2;
  CliFileErrorPrompt prompt(c, o.onExists);
  lb::TFileOperation operation(&prompt);
  lb::TSlRenameFiles rename(pieces, nDigits, lb::TRenameSettings::Load(doc.Ini()).bCorrect);
  const bool complete = rename.Run(doc, rows, operation);
  const int code = Finish(c, doc, rename.m_Pairs, rename.m_Pairs);
  if (!complete) c.err << lb::TSlRenameFiles::kStopped << Qt::endl;
  return code ? code : complete ? 0 : 1;
}

int Organize(CliContext& c, const QStringList& arguments) {
  QStringList args = arguments;
  CommonOptions o;
  TCopyMoveThread::Options options;
  QString by;
  const bool bCopy = args.removeAll("--copy") > 0;
  const bool bMove = args.removeAll("--move") > 0;
  const bool bNoChange = args.removeAll("--no-path-change") > 0;
  if (!TakeCommon(args, &o) || !TakeValue(args, "--root", &options.root) ||
      !TakeValue(args, "--by", &by) || args.size() != 1 || options.root.isEmpty() ||
      (bCopy && bMove))
    return CliUsageError(c,
                         "Использование: organize LIST --root DIR --by C1[,C2...] "
                         "[--copy|--move] [--rows ...] [--no-path-change] "
                         "[--on-exists skip|overwrite|stop]");
  options.bCopy = !bMove;
  options.bChangePaths = options.bCopy && !bNoChange;
  options.root = QFileInfo(options.root).absoluteFilePath();
  for (const QString& part : by.split(',', Qt::SkipEmptyParts)) {
    bool ok = false;
    const int n = part.trimmed().toInt(&ok);
    if (!ok || n < 0 || n >= lb::kCriterionCount)
      return CliUsageError(c, "Неверный критерий: " + part);
    options.criteria << n;
  }
  if (!CliAttachID3Com(c)) return 1;
  TSlDocument doc;
  if (!CliLoadList(c, args[0], doc)) return 1;
  std::vector<int> rows;
  if (!CliParseRows(c, o.rows, doc.m_Songs.size(), &rows)) return 2;
  if (!lb::EnsureRootFolder(options.root)) return 1;
  options.bCorrect = lb::TCopyMoveSettings::Load(doc.Ini()).bCorrect;
  // The folders are named after the songs' tags as they are in the files now.
  for (int n : rows) doc.m_Songs[n].Sync();

  CliFileErrorPrompt prompt(c, o.onExists);
  CliDirErrorPrompt dirPrompt(c);
  lb::TFileOperation operation(&prompt);
  lb::TRowSelection selection(doc, std::set<int>(rows.begin(), rows.end()));
  TCopyMoveThread worker(&doc, options, &operation, &dirPrompt);
  worker.m_pChild = &selection;
  worker.Resume();
  worker.WaitFor();
  // A copy whose songs keep their paths changes no other list.
  QStringList pairs = worker.m_Pairs;
  if (options.bCopy && options.bChangePaths && !pairs.isEmpty() &&
      UiServices::Instance().MessageBox(
          "Желаете изменить пути на скопированные файлы\nво всех остальных листах ?",
          UiServices::kCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
    pairs.clear();
  const int code = Finish(c, doc, pairs, worker.m_Handled);
  c.err << lb::CopyMoveSummary(worker.m_nSelected, worker.m_nProcessed, worker.m_nSkipped)
        << Qt::endl;
  return code ? code : worker.m_nProcessed < worker.m_nSelected ? 1 : 0;
}

}  // namespace

QList<CliCommandInfo> FileCommands() {
  return {
      {"rename", "LIST --mask MASK [--rows N,M-K] [--digits N] [--on-exists skip|overwrite|stop]",
       "переименовать файлы песен по тэгам (маска как в окне: %1 … %17, %n, %e); лист и все "
       "листы хранилища следуют за файлами",
       Rename},
      {"organize",
       "LIST --root DIR --by C1[,C2...] [--copy|--move] [--rows ...] [--no-path-change] "
       "[--on-exists skip|overwrite|stop]",
       "скопировать (по умолчанию) или переместить файлы песен в папки по критериям 0–13; "
       "при перемещении все листы хранилища следуют за файлами",
       Organize},
  };
}
