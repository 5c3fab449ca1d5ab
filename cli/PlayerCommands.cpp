// Player commands: hand a list to the player as the window does, and read what it plays.
#include "CliContext.h"

#include "lbtools3/player/AudaciousBinding.h"
#include "lbtools3/player/PlayerListWindow.h"
#include "lbtools3/player/PlayerControl.h"
#include "platform/IniFile.h"

#include <QThread>

namespace {

constexpr const char* kPlayerOff =
    "Работа с Audacious выключена в настройках (Опции → Настройка..., \"Edit\"/\"Winamp\")";

// The control over the session's player, with the settings of the program.
struct CliPlayer {
  TIniFile ini{lb::SettingsFilePath()};
  TAudaciousBinding binding;
  TPlayerControl control{ini, binding};
};

int Play(CliContext& c, const QStringList& args) {
  QString list, from, selected;
  for (int i = 0; i < args.size(); ++i) {
    if (args[i] == "--from" && i + 1 < args.size())
      from = args[++i];
    else if (args[i] == "--selected" && i + 1 < args.size())
      selected = args[++i];
    else if (list.isEmpty() && !args[i].startsWith("--"))
      list = args[i];
    else
      return CliUsageError(c, "Неизвестный аргумент: " + args[i]);
  }
  if (list.isEmpty() || (!from.isEmpty() && !selected.isEmpty()))
    return CliUsageError(c, "Укажите лист и либо --from, либо --selected");
  TPlayerListWindow window;
  if (!CliLoadList(c, list, window.m_Document)) return 1;
  const int count = window.m_Document.m_Songs.size();
  if (count == 0) {
    c.err << "Лист пуст: " << list << Qt::endl;
    return 1;
  }
  if (!CliParseRows(c, selected.isEmpty() ? (from.isEmpty() ? "1" : from) : selected, count,
                    &window.m_Selected))
    return 1;
  if (selected.isEmpty()) window.m_Selected.resize(1);

  CliPlayer player;
  player.control.Init();
  if (!player.control.IsEnabled()) {
    c.err << kPlayerOff << Qt::endl;
    return 1;
  }
  switch (player.control.Play(&window, !selected.isEmpty())) {
    case TPlayerControl::prPlaying:
      break;
    case TPlayerControl::prSongMissing:  // already said
      return 1;
    default:
      c.err << "Audacious не отвечает или не запускается" << Qt::endl;
      return 1;
  }
  // The player has read the list file; the polls remove it.
  while (!player.control.TempListPath().isEmpty()) {
    QThread::msleep(200);
    player.control.Poll();
  }
  c.out << "Проигрывается: " << window.m_Document.m_Songs[window.m_Selected.front()].m_Path
        << Qt::endl;
  return 0;
}

int Status(CliContext& c, const QStringList& args) {
  if (!args.isEmpty()) return CliUsageError(c, "Команда не принимает аргументов");
  CliPlayer player;
  player.control.Init();
  if (!player.control.IsEnabled()) {
    c.err << kPlayerOff << Qt::endl;
    return 1;
  }
  if (!player.control.IsFound()) {
    c.err << "Audacious не запущен" << Qt::endl;
    return 1;
  }
  player.control.Poll();
  const int position = player.binding.Position();
  c.out << "Позиция в листе: " << (position < 0 ? QString("-") : QString::number(position + 1))
        << "\nВремя: " << player.control.FormatPlayTime() << Qt::endl;
  return 0;
}

}  // namespace

QList<CliCommandInfo> PlayerCommands() {
  return {
      {"play", "LIST [--from N | --selected N,M-K]",
       "передаёт лист в Audacious и начинает с песни N (по умолчанию 1) или проигрывает только "
       "выбранные песни",
       Play},
      {"player status", "", "номер проигрываемой песни, её время и длина (м.сс / м.сс)", Status},
  };
}
