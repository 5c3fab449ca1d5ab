// The program's entry point: the single-instance rule, the command-line switches, the
// tag component's thread, then the main window.
#include "Main.h"
#include "lbtools3/ui/QtUiServices.h"
#include "Settings.h"

#include "lbtools3/model/ID3ComAccess.h"
#include "platform/IniFile.h"
#include "platform/NamedObjects.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QSocketNotifier>
#include <QTranslator>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A readable text for the error code with which the tag component failed to load.
QString SystemMessage(HRESULT code) {
  switch (code) {
    case REGDB_E_CLASSNOTREG:
      return "Класс не зарегистрирован";
    case CO_E_DLLNOTFOUND:
      return "Не найдена библиотека компонента";
    case CO_E_ERRORINDLL:
      return "Ошибка в библиотеке компонента";
    case E_OUTOFMEMORY:
      return "Недостаточно памяти";
    case 14:
      return "Недостаточно памяти для завершения операции";
    default:
      return QString("Ошибка 0x%1").arg(uint32_t(code), 8, 16, QChar('0')).toUpper();
  }
}

// A second start raises the first instance's window; false when there is none to
// raise (its run-time key is missing) and this process goes on as the first.
bool RaiseFirstInstance() {
  int64_t application = 0;
  if (!lb::ReadApplicationHandle(&application)) return false;
  lb::TMessagePort::SendMessage(application, lb::kRaiseMessage, 0, 0, 5000);
  return true;
}

// A termination request (the session ends, kill) closes the main window as the user
// would, so modified lists are offered for saving instead of being lost.
int g_SignalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t written = ::write(g_SignalPipe[1], &byte, 1);
}

void CloseOnTermination(QWidget* window) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_SignalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(g_SignalPipe[0], QSocketNotifier::Read, window);
  QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
    char byte;
    [[maybe_unused]] ssize_t got = ::read(g_SignalPipe[0], &byte, 1);
    window->close();
  });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

void LoadTranslations(QApplication& app) {
  // Qt's own dialogs and buttons speak Russian.
  auto* qt = new QTranslator(&app);
  if (qt->load(QLocale("ru_RU"), "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    app.installTranslator(qt);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setApplicationName("Lyrabox Tools");
  app.setApplicationDisplayName("Lyrabox Tools");
  LoadTranslations(app);
  QtUiServices ui;
  UiServices::Install(&ui);

  QStringList args = app.arguments();
  QString screenshot;
  const qsizetype at = args.indexOf("--screenshot");
  if (at > 0 && at + 1 < args.size()) {
    screenshot = args.at(at + 1);
    args.remove(at, 2);
  }

  lb::TNamedEvent instance;
  const lb::TCreateResult created = instance.Create(lb::kInstanceEventName, false, false);
  if (created == lb::TCreateResult::AlreadyExists && RaiseFirstInstance()) return 0;

  const lb::TStartMode mode = lb::ClassifyCommandLine(lb::JoinCommandLine(args));
  if (mode == lb::TStartMode::ShellRegister || mode == lb::TStartMode::ShellUnregister) {
    RegisterShellExtension(mode == lb::TStartMode::ShellRegister, QString());
    return 0;
  }

  CoInitialize(nullptr);
  TID3COMThread id3com;
  lb::SetID3COMThread(&id3com);
  id3com.Start();
  if (!id3com.WaitForStart()) {
    const HRESULT code = id3com.m_ErrorCode ? id3com.m_ErrorCode : 14;
    UiServices::Instance().MessageBox(
        "Не удаётся загрузить COM-библиотеку для работы с ID3v2-тэгами.\nПрограмма не может "
        "работать без неё. Пожалуйста, переустановите программу.\nСистемное сообщение об "
        "ошибке: \"" +
            SystemMessage(code) + "\".",
        UiServices::kCaption, MB_OK | MB_ICONERROR);
    lb::SetID3COMThread(nullptr);
    return 1;
  }
  lb::AttachThreadToID3Com(&id3com);

  int code = 0;
  {
    TIniFile ini(lb::SettingsFilePath());
    TMainForm form(ini, mode == lb::TStartMode::ShellInvoke, &instance);
    ui.SetMainWindow(&form);
    if (!screenshot.isEmpty()) form.ScreenshotAfterActivation(screenshot);
    CloseOnTermination(&form);
    form.show();
    form.activateWindow();
    code = app.exec();
    ui.SetMainWindow(nullptr);
  }
  lb::DetachThreadFromID3Com();
  id3com.Quit();
  lb::SetID3COMThread(nullptr);
  UiServices::Install(nullptr);
  return code;
}
