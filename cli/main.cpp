// lbtools3-cli: the program's list and tag operations from the command line.
#include "CliContext.h"

#include "com/Com.h"
#include "lbtools3/settings/Settings.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

QList<CliCommandInfo> AllCommands() {
  QList<CliCommandInfo> all;
  all << ListCommands() << TagCommands() << ExtractCommands() << ScanCommands() << RepoCommands()
      << SettingsCommands();
  all << MaintenanceCommands();
  all << TagEditCommands();
  all << PlayerCommands();
  all << FindSortCommands();
  all << FileCommands();
  all << RecognizeCommands();
  all << RelinkCommands();
  all << TagCoverCommands();
  return all;
}

void PrintHelp(QTextStream& out) {
  out << "lbtools3-cli — операции Lyrabox Tools из командной строки\n\n"
         "Использование: lbtools3-cli [--yes] КОМАНДА [АРГУМЕНТЫ]\n"
         "  --yes  отвечать «Да» на все вопросы (по умолчанию «Нет»)\n\nКоманды:\n";
  for (const CliCommandInfo& c : AllCommands())
    out << "  " << c.name << " " << c.usage << "\n      " << c.help << "\n";
  out.flush();
}

// The manual page: the same commands and texts as --help, in the man format.
void PrintManualPage(QTextStream& out) {
  auto roff = [](QString text) {
    text.replace('\\', "\\e");
    text.replace('-', "\\-");
    if (text.startsWith('.') || text.startsWith('\'')) text.prepend("\\&");
    return text;
  };
  out << ".TH LBTOOLS3-CLI 1 \"\" \"Lyrabox Tools 3.0\"\n"
         ".SH NAME\nlbtools3\\-cli \\- операции Lyrabox Tools из командной строки\n"
         ".SH SYNOPSIS\n.B lbtools3\\-cli\n[\\-\\-yes]\n.I КОМАНДА\n[\\fIАРГУМЕНТЫ\\fR]\n"
         ".SH OPTIONS\n.TP\n.B \\-\\-yes\n"
      << roff("отвечать «Да» на все вопросы (по умолчанию «Нет»)") << "\n.SH COMMANDS\n";
  for (const CliCommandInfo& c : AllCommands())
    out << ".TP\n\\fB" << roff(c.name) << "\\fR " << roff(c.usage) << "\n" << roff(c.help) << "\n";
  out << ".SH EXIT STATUS\n"
      << roff("0 при успехе, иначе код ошибки; сообщения выводятся на стандартный поток ошибок.")
      << "\n";
  out.flush();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTextStream out(stdout), err(stderr);
  CliContext context{out, err};
  CliUiServices ui(context);
  UiServices::Install(&ui);

  QStringList args = app.arguments().mid(1);
  if (!args.isEmpty() && args.first() == "--yes") {
    context.bYes = true;
    args.removeFirst();
  }
  if (args.size() == 1 && args.first() == "--man") {
    PrintManualPage(out);
    return 0;
  }
  if (args.isEmpty() || args.first() == "--help" || args.first() == "-h") {
    PrintHelp(out);
    return args.isEmpty() ? 2 : 0;
  }
  CoInitialize(nullptr);
  lbset::ApplyTagCodePage(TIniFile(lb::SettingsFilePath()));
  // The longest command name that the arguments begin with.
  const CliCommandInfo* best = nullptr;
  int bestWords = 0;
  const QList<CliCommandInfo> commands = AllCommands();
  for (const CliCommandInfo& c : commands) {
    const QStringList words = c.name.split(' ');
    if (words.size() > bestWords && args.mid(0, words.size()) == words) {
      best = &c;
      bestWords = words.size();
    }
  }
  if (!best) return CliUsageError(context, "Неизвестная команда: " + args.join(' '));
  int code = best->run(context, args.mid(bestWords));
  out.flush();
  err.flush();
  UiServices::Install(nullptr);
  return code;
}
