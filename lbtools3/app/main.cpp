// The program's entry point: the single-instance rule, the command-line switches, the
// tag component's thread, then the main window.
#include "Main.h"

#include "platform/IniFile.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setApplicationName("Lyrabox Tools");
  TIniFile ini(lb::SettingsFilePath());
  QStringList args = app.arguments();
  QString screenshot;
  const qsizetype at = args.indexOf("--screenshot");
  if (at > 0 && at + 1 < args.size()) {
    screenshot = args.at(at + 1);
    args.remove(at, 2);
  }
  const lb::TStartMode mode = lb::ClassifyCommandLine(lb::JoinCommandLine(args));
  TMainForm form(ini, mode == lb::TStartMode::ShellInvoke);
  if (!screenshot.isEmpty()) form.ScreenshotAfterActivation(screenshot);
  form.show();
  form.activateWindow();
  return app.exec();
}
