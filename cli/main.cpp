// lbtools3-cli: the program's list and tag operations from the command line.
#include "CliContext.h"

#include "com/Com.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

QList<CliCommandInfo> AllCommands() {
  QList<CliCommandInfo> all;
  all << ListCommands() << TagCommands() << ExtractCommands() << ScanCommands() << RepoCommands()
      << SettingsCommands();
  all << FileCommands();
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
  if (args.isEmpty() || args.first() == "--help" || args.first() == "-h") {
    PrintHelp(out);
    return args.isEmpty() ? 2 : 0;
  }
  CoInitialize(nullptr);
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
