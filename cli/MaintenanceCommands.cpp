// Maintenance commands: replacing parts and drives of song paths, the forgotten files
// of folders, and text or HTML reports of lists.
#include "CliContext.h"

#include "lbtools3/repository/Repository.h"
#include "lbtools3/maintenance/CheckList.h"
#include "lbtools3/maintenance/ReplacePaths.h"
#include "lbtools3/model/M3uList.h"
#include "lbtools3/report/Report.h"
#include "lbtools3/ui/IRepositoryLists.h"
#include "platform/IniFile.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Takes "--name VALUE" out of args; false (after saying why) when the value is missing.
bool TakeValue(CliContext& c, QStringList& args, int i, QString* value) {
  if (i + 1 >= args.size()) {
    CliUsageError(c, "Нет значения для " + args[i]);
    return false;
  }
  *value = args[i + 1];
  args.remove(i, 2);
  return true;
}

int ReplacePathsCommand(CliContext& c, const QStringList& input) {
  QStringList args = input;
  TIniFile ini(lb::SettingsFilePath());
  lb::TReplaceRequest request;
  bool bFrom = false, bTo = false;
  for (int i = 0; i < args.size();) {
    const QString arg = args[i];
    QString value;
    if (arg == "--case") {
      request.bCase = true;
      args.removeAt(i);
    } else if (arg == "--from") {
      if (!TakeValue(c, args, i, &request.find)) return 2;
      bFrom = true;
    } else if (arg == "--to") {
      if (!TakeValue(c, args, i, &request.replace)) return 2;
      bTo = true;
    } else if (arg == "--drive") {
      if (!TakeValue(c, args, i, &value)) return 2;
      const qsizetype eq = value.indexOf('=');
      const QString drive = value.left(eq);
      if (eq < 1 || !drive[0].isLetter() || (drive.size() > 1 && drive != QString(drive[0]) + ':'))
        return CliUsageError(c, "Замена диска задаётся так: --drive X:=Y: (или X:=ПАПКА)");
      const QString replacement = lb::AcceptDriveReplacement(value.mid(eq + 1), ini);
      if (replacement.isEmpty()) {
        c.err << "Замена диска не принята: " << value.mid(eq + 1)
              << " (нет такой папки или диска в разделе \"Drives\" настроек)" << Qt::endl;
        return 1;
      }
      request.drives.push_back({drive[0].toUpper(), replacement});
    } else if (arg.startsWith("--")) {
      return CliUsageError(c, "Неизвестный параметр: " + arg);
    } else {
      ++i;
    }
  }
  if (args.isEmpty()) return CliUsageError(c, "Укажите хотя бы один лист");
  if (bFrom != bTo) return CliUsageError(c, "--from и --to задаются вместе");
  if (request.find.isEmpty() && !lb::DrivesChanged(request.drives))
    return CliUsageError(c, "Нечего заменять: задайте --from/--to или --drive");
  int code = 0;
  for (const QString& list : args) {
    TSlDocument doc;
    if (!CliLoadList(c, list, doc)) {
      code = 1;
      continue;
    }
    std::vector<int> rows(doc.m_Songs.size());
    for (int n = 0; n < doc.m_Songs.size(); ++n) rows[n] = n;
    const lb::TReplaceResult result = lb::ReplacePaths(doc, rows, request);
    if (result.changed && !doc.Save(false)) {
      c.err << "Лист не сохранён: " << doc.m_FileName << Qt::endl;
      code = 1;
      continue;
    }
    c.out << list << '\t' << result.changed << '\n';
    if (!result.lost.isEmpty())
      c.err << list << ":\n" << lb::ReplaceResultMessage(result) << Qt::endl;
  }
  return code;
}

int ForgottenCommand(CliContext& c, const QStringList& args) {
  if (args.isEmpty()) return CliUsageError(c, "Укажите хотя бы одну папку");
  QStringList folders;
  if (!CliFolders(c, args, &folders)) return 1;
  TIniFile ini(lb::SettingsFilePath());
  TListsRepository repository(ini, nullptr, true);
  repository.Load();
  lb::TForgottenFiles search;
  const bool bDone = search.Run(repository, false, folders);
  for (int n = 0; n < search.m_Result.m_Songs.size(); ++n)
    c.out << search.m_Result.m_Songs[n].GetPath(true) << '\n';
  // Files the scan could not look at may be forgotten too: the answer is incomplete.
  return bDone && search.m_nSkipped == 0 ? 0 : 1;
}

// The lists named on the command line as the report walks them: none is open.
class CliListFiles : public IRepositoryLists {
 public:
  explicit CliListFiles(const QStringList& paths) : m_Paths(paths) {}
  int Count() const override { return int(m_Paths.size()); }
  QString Path(int row) const override { return m_Paths[row]; }
  bool IsOpen(int) const override { return false; }
  IDocumentWindow* Child(int) const override { return nullptr; }
  bool IsSelected(int) const override { return true; }
  int SelectedCount() const override { return Count(); }
  void BeginBulk() override {}
  void MarkRow(int) override {}
  void EndBulk() override {}

 private:
  QStringList m_Paths;
};

int ReportCommand(CliContext& c, const QStringList& input) {
  QStringList args = input;
  lb::TReportRequest request;
  request.scope = lb::rsAll;
  int format = 0;  // 1 text, 2 HTML
  QString fields;
  for (int i = 0; i < args.size();) {
    const QString arg = args[i];
    if (arg == "--html" || arg == "--text") {
      format = arg == "--html" ? 2 : 1;
      args.removeAt(i);
    } else if (arg == "--url") {
      request.bUrlLinks = true;
      args.removeAt(i);
    } else if (arg == "--fields") {
      if (!TakeValue(c, args, i, &fields)) return 2;
    } else if (arg == "--out") {
      if (!TakeValue(c, args, i, &request.fileName)) return 2;
    } else if (arg.startsWith("--")) {
      return CliUsageError(c, "Неизвестный параметр: " + arg);
    } else {
      ++i;
    }
  }
  if (!format) return CliUsageError(c, "Укажите --html или --text");
  if (fields.isEmpty()) return CliUsageError(c, "Укажите поля: --fields K1,K2...");
  if (args.isEmpty()) return CliUsageError(c, "Укажите хотя бы один лист");
  request.mask = 0;
  for (const QString& field : fields.split(',', Qt::SkipEmptyParts)) {
    bool ok = false;
    const int kind = field.trimmed().toInt(&ok);
    if (!ok || kind < 0 || kind > lb::ReportRowCount() || kind == 9)
      return CliUsageError(c, "Нет такого поля для записи: " + field +
                                  " (поля 0-24, кроме 9; см. колонки документа)");
    request.mask |= 1u << kind;
  }
  request.bHtml = format == 2;
  if (!lb::ValidateReportRequest(&request.fileName, &request.scope, false)) return 1;
  QStringList lists;
  for (const QString& list : args) lists << CliAbsolutePath(list);
  CliListFiles source(lists);
  // The lists' tags are read as opening them would (without the tag component the
  // files' ID3v1 tags still count).
  if (lb::ReportReadsTags(request.mask)) CliAttachID3Com(c);
  switch (lb::WriteReport(request, {}, &source, {})) {
    case lb::rrWritten:
      return 0;
    default:
      return 1;
  }
}

}  // namespace

QList<CliCommandInfo> MaintenanceCommands() {
  return {
      {"replace-paths", "LIST... [--from TEXT --to TEXT [--case]] [--drive X:=Y:...]",
       "заменить в путях песен первое вхождение текста и буквы дисков (пары по порядку; "
       "Y — буква из раздела \"Drives\" настроек или папка); печатает лист и число изменённых "
       "путей",
       ReplacePathsCommand},
      {"forgotten", "FOLDER...",
       "музыкальные файлы в папках, которых нет ни в одном листе хранилища (по одному в "
       "строке)",
       ForgottenCommand},
      {"report", "--html|--text --fields K1,K2... --out FILE [--url] LIST...",
       "записать листы в виде текста или HTML; K — номера колонок документа (0-24, кроме 9); "
       "--url — адреса ссылками",
       ReportCommand},
  };
}
