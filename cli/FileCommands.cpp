// File commands: rename the songs' files of a list by their tags, and copy or move them
// into a folder scheme under a root folder. The list and every list of the repository
// follow the files as they go (an interrupted run leaves no list behind); one line
// "OLD -> NEW" is printed per file.
#include "CliContext.h"

#include "lbtools3/repository/Repository.h"
#include "lbtools3/files/CopyMove.h"
#include "lbtools3/files/FileOperation.h"
#include "lbtools3/files/ListPaths.h"
#include "lbtools3/files/Rename.h"
#include "lbtools3/model/InfoWindowManager.h"
#include "lbtools3/model/M3uList.h"
#include "platform/IniFile.h"

#include <QDir>
#include <atomic>
#include <csignal>
#include <set>

namespace {

// Ctrl+C and SIGTERM during a run stop it after the file at hand, like the Stop button;
// the lists are then saved as usual. A second signal ends the program at once.
std::atomic<int>* g_pStopSignal = nullptr;
std::atomic<TBaseWorkerThread*> g_pWorker{nullptr};
bool* g_pProgressStop = nullptr;

void OnStopSignal(int nSignal) {
  if (g_pStopSignal) g_pStopSignal->store(nSignal);
  if (g_pProgressStop) *g_pProgressStop = true;
  if (TBaseWorkerThread* worker = g_pWorker.load()) worker->Terminate();
}

class StopSignals {
 public:
  explicit StopSignals(TBaseWorkerThread* worker = nullptr) {
    g_pStopSignal = &m_nSignal;
    g_pProgressStop = &InfoWindowManager().m_bStop;
    g_pWorker = worker;
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &m_OldInt);
    ::sigaction(SIGTERM, &action, &m_OldTerm);
  }
  ~StopSignals() {
    ::sigaction(SIGINT, &m_OldInt, nullptr);
    ::sigaction(SIGTERM, &m_OldTerm, nullptr);
    g_pWorker = nullptr;
    g_pProgressStop = nullptr;
    g_pStopSignal = nullptr;
  }
  // The signal that stopped the run; 0 when none came.
  int Signal() const { return m_nSignal; }

 private:
  std::atomic<int> m_nSignal{0};
  struct sigaction m_OldInt, m_OldTerm;
};

// Why a run stopped when no user stopped it: the failure that ended it, as told.
struct CliStopCause {
  QString text;
  // The line that ends the run's output: the failure, or the user's stop.
  QString Line() const {
    return text.isEmpty() ? QString(lb::TSlRenameFiles::kStopped)
                          : "Остановлено из-за ошибки: " + text;
  }
};

// What the file-error dialog would have been asked: the --on-exists policy answers;
// "stop" ends the run at the first failure, which then names it.
class CliFileErrorPrompt : public lb::IFileErrorPrompt {
 public:
  CliFileErrorPrompt(CliContext& c, const QString& policy, CliStopCause& cause)
      : m_Context(c), m_Policy(policy), m_Cause(cause) {}
  int Ask(const lb::TFileErrorInfo& info, QString&) override {
    const QString text = info.source + " -> " + info.target + ": " + info.error;
    m_Context.err << "Ошибка: " << text << Qt::endl;
    if (m_Policy == "stop") {
      m_Cause.text = text;
      return lb::fcCancel;
    }
    if (info.targetExists && m_Policy == "overwrite") return lb::fcOverwriteAll;
    return lb::fcSkip;
  }

 private:
  CliContext& m_Context;
  QString m_Policy;
  CliStopCause& m_Cause;
};

// A folder that cannot be made ends the run.
class CliDirErrorPrompt : public lb::IDirErrorPrompt {
 public:
  CliDirErrorPrompt(CliContext& c, CliStopCause& cause) : m_Context(c), m_Cause(cause) {}
  int Ask(const QString& path, const QString& error, QString&) override {
    m_Cause.text = "Невозможно создать директорию: " + path + ": " + error;
    m_Context.err << m_Cause.text << Qt::endl;
    return lb::dcCancel;
  }

 private:
  CliContext& m_Context;
  CliStopCause& m_Cause;
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

// The list of a run and the repository's lists, kept in step with the files: pairs go
// to them as the run goes (see TPathCheckpoint) and at its end.
class ListsInStep {
 public:
  ListsInStep(CliContext& c, TSlDocument& doc)
      : m_Context(c),
        m_Doc(doc),
        m_Ini(lb::SettingsFilePath()),
        m_Repository(m_Ini, nullptr, true),
        m_Listed(doc, &m_Repository),
        m_Checkpoint([this](const QStringList& pairs) { Follow(pairs); }) {
    m_Repository.Load();
  }
  lb::TPathCheckpoint& Checkpoint() { return m_Checkpoint; }
  // Whether a list names the file (an overwrite must not replace it).
  bool Listed(const QString& path) { return m_Listed.Names(path); }
  // Saves the list and makes the other lists follow the pairs; false when the list
  // could not be saved.
  bool Follow(const QStringList& pairs) {
    bool ok = true;
    if (m_Doc.m_bModified && !m_Doc.Save(false)) {
      m_Context.err << "Лист не сохранён: " << m_Doc.m_FileName << Qt::endl;
      ok = false;
    }
    if (!pairs.isEmpty()) lb::ReplacePathsInRepositoryLists(m_Repository, pairs, m_Doc.m_FileName);
    return ok;
  }

 private:
  CliContext& m_Context;
  TSlDocument& m_Doc;
  TIniFile m_Ini;
  TListsRepository m_Repository;
  lb::TListedFiles m_Listed;
  lb::TPathCheckpoint m_Checkpoint;
};

void PrintDone(CliContext& c, const QStringList& done, const lb::TFileOperation& operation) {
  for (qsizetype i = 0; i + 1 < done.size(); i += 2)
    c.out << done[i] << " -> " << done[i + 1] << '\n';
  c.out.flush();
  for (const QString& target : operation.m_Renumbered)
    c.err << "Файл не перезаписан (его называет лист или он создан этим запуском), новое имя: "
          << target << Qt::endl;
}

// The files skipped because they failed (a skip counts them with those skipped as asked).
void PrintFailed(CliContext& c, const lb::TFileOperation& operation) {
  if (operation.m_nFailed > 0)
    c.err << "Не удалось обработать " << operation.m_nFailed << " файлa(ов), причины названы выше"
          << Qt::endl;
}

// The exit code of a run: 1 when a list was not saved, a file failed for another reason
// than an existing target, or a failure stopped the run; a run the user stopped by a
// signal ends as that signal would have ended it (128 + its number); 0 when every file
// was done or skipped as asked.
int ExitCode(bool bSaved, const lb::TFileOperation& operation, bool bComplete,
             const CliStopCause& cause, int nSignal) {
  if (!bSaved || operation.m_nFailed > 0 || (!bComplete && !cause.text.isEmpty())) return 1;
  if (!bComplete) return nSignal > 0 ? 128 + nSignal : 1;
  return 0;
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
  CliStopCause cause;
  CliFileErrorPrompt prompt(c, o.onExists, cause);
  lb::TFileOperation operation(&prompt);
  ListsInStep lists(c, doc);
  operation.m_IsListed = [&lists](const QString& path) { return lists.Listed(path); };
  lb::TSlRenameFiles rename(pieces, nDigits, lb::TRenameSettings::Load(doc.Ini()).bCorrect);
  bool complete;
  int nSignal;
  {
    StopSignals stopSignals;
    complete = rename.Run(doc, rows, operation, &lists.Checkpoint());
    nSignal = stopSignals.Signal();
    complete = complete && nSignal == 0;
  }
  lists.Checkpoint().Flush();
  PrintDone(c, rename.m_Pairs, operation);
  const bool bSaved = lists.Follow({});
  if (!complete) c.err << cause.Line() << Qt::endl;
  PrintFailed(c, operation);
  return ExitCode(bSaved, operation, complete, cause, nSignal);
}

int Organize(CliContext& c, const QStringList& arguments) {
  QStringList args = arguments;
  CommonOptions o;
  TCopyMoveThread::Options options;
  QString by, root;
  const bool bCopy = args.removeAll("--copy") > 0;
  const bool bMove = args.removeAll("--move") > 0;
  const bool bChange = args.removeAll("--change-paths") > 0;
  const bool bNoChange = args.removeAll("--no-path-change") > 0;  // the default
  if (!TakeCommon(args, &o) || !TakeValue(args, "--root", &root) || !TakeValue(args, "--by", &by) ||
      args.size() != 1 || root.isEmpty() || (bCopy && bMove) || (bChange && (bMove || bNoChange)))
    return CliUsageError(c,
                         "Использование: organize LIST --root DIR --by C1[,C2...] "
                         "[--copy [--change-paths]|--move] [--rows ...] "
                         "[--on-exists skip|overwrite|stop]");
  options.bCopy = !bMove;
  options.bChangePaths = options.bCopy && bChange;
  options.root = lb::AbsoluteRootFolder(root, QDir::currentPath());
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

  CliStopCause cause;
  CliFileErrorPrompt prompt(c, o.onExists, cause);
  CliDirErrorPrompt dirPrompt(c, cause);
  lb::TFileOperation operation(&prompt);
  ListsInStep lists(c, doc);
  operation.m_IsListed = [&lists](const QString& path) { return lists.Listed(path); };
  lb::TRowSelection selection(doc, std::set<int>(rows.begin(), rows.end()));
  TCopyMoveThread worker(&doc, options, &operation, &dirPrompt);
  worker.m_pChild = &selection;
  // A move keeps the lists in step as it goes; a copy leaves the files where they were.
  if (!options.bCopy) worker.m_pCheckpoint = &lists.Checkpoint();
  int nSignal;
  {
    StopSignals stopSignals(&worker);
    worker.Resume();
    worker.WaitFor();
    nSignal = stopSignals.Signal();
  }
  QStringList pairs;
  if (!options.bCopy) {
    lists.Checkpoint().Flush();
  } else if (!worker.m_Pairs.isEmpty() &&
             UiServices::Instance().MessageBox(
                 "Желаете изменить пути на скопированные файлы\nво всех остальных листах ?",
                 UiServices::kCaption, MB_YESNO | MB_ICONQUESTION) == IDYES) {
    pairs = worker.m_Pairs;
  }
  PrintDone(c, worker.m_Handled, operation);
  const bool bSaved = lists.Follow(pairs);
  const bool bComplete = worker.m_nProcessed >= worker.m_nSelected;
  c.err << lb::CopyMoveSummary(worker.m_nSelected, worker.m_nProcessed, worker.m_nSkipped,
                               cause.Line() + ".")
        << Qt::endl;
  PrintFailed(c, operation);
  return ExitCode(bSaved, operation, bComplete, cause, nSignal);
}

}  // namespace

QList<CliCommandInfo> FileCommands() {
  // How both commands end (see ExitCode).
  const QString exitCodes =
      "; код выхода 0, если каждый файл обработан или пропущен по --on-exists skip, 1, если "
      "файл не удалось обработать, лист не сохранён или ошибка остановила запуск "
      "(--on-exists stop, по умолчанию), 128 + номер сигнала после Ctrl+C (130) или SIGTERM "
      "(143)";
  return {
      {"rename", "LIST --mask MASK [--rows N,M-K] [--digits N] [--on-exists skip|overwrite|stop]",
       "переименовать файлы песен по тэгам (маска как в окне: %1 … %17, %n, %e); лист и все "
       "листы хранилища следуют за файлами" +
           exitCodes,
       Rename},
      {"organize",
       "LIST --root DIR --by C1[,C2...] [--copy [--change-paths]|--move] [--rows ...] "
       "[--on-exists skip|overwrite|stop]",
       "скопировать (по умолчанию) или переместить файлы песен в папки по критериям 0–13; "
       "копирование оставляет лист как есть, --change-paths направляет его на копии; при "
       "перемещении все листы хранилища следуют за файлами" +
           exitCodes,
       Organize},
  };
}
