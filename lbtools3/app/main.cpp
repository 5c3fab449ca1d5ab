// The program's entry point: the single-instance rule, the command-line switches, the
// tag component's thread, then the main window.
#include "Main.h"
#include "lbtools3/ui/Application.h"
#include "lbtools3/ui/QtUiServices.h"
#include "lbtools3/settings/Settings.h"

#include "lbtools3/model/ID3ComAccess.h"
#include "lbtools3/model/InfoWindowManager.h"
#include "platform/IniFile.h"
#include "platform/NamedObjects.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
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

// A termination request (the session ends, kill) closes the main window as the user
// would, but nobody may be there to answer: every question gets its default button
// (a modified list is saved, a new one under its proposed name), so the program ends
// with its lists and its layout kept instead of waiting for ever.
int g_SignalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t written = ::write(g_SignalPipe[1], &byte, 1);
}

// Closes the main window and leaves the program; a long job in progress is stopped
// first and the window closed once it has ended (the job still reads its lists). The
// stop is asked once: what the job does after it (the lists following files that
// moved, the saves) runs to its end. Where the job's Stop is off (a part that must
// finish), the stop waits for it to come on again.
void CloseWhenIdle(QWidget* window, bool bStopAsked = false) {
  if (InfoWindowManager().Depth() > 0) {
    if (!bStopAsked && InfoWindowManager().StopEnabled()) {
      InfoWindowManager().m_bStop = true;
      bStopAsked = true;
    }
    // A question the job put before the signal came waits for nobody: it gets its
    // default button, as every later question does; a dialog of the job's own (a file
    // that cannot be renamed) is cancelled.
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      QAbstractButton* button = box->defaultButton();
      if (!button) button = box->escapeButton();
      if (button) button->click();
    } else if (auto* dialog = qobject_cast<QDialog*>(modal); dialog && dialog != window) {
      dialog->reject();
    }
    QTimer::singleShot(50, window, [window, bStopAsked] { CloseWhenIdle(window, bStopAsked); });
    return;
  }
  // A list that could not be saved keeps the window open; end anyway, and say so.
  // Leaving every event loop also ends a modal dialog that may be open.
  QApplication::exit(window->close() ? 0 : 1);
}

void CloseOnTermination(QWidget* window) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_SignalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(g_SignalPipe[0], QSocketNotifier::Read, window);
  QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
    char byte;
    [[maybe_unused]] ssize_t got = ::read(g_SignalPipe[0], &byte, 1);
    static lb::TUnattendedUiServices unattended;
    UiServices::Install(&unattended);
    CloseWhenIdle(window);
  });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  lb::SetUpApplication(app);
  QtUiServices ui;
  UiServices::Install(&ui);
  lbset::ApplyTagCodePage(TIniFile(lb::SettingsFilePath()));

  QStringList args = app.arguments();
  QString screenshot;
  const qsizetype at = args.indexOf("--screenshot");
  if (at > 0 && at + 1 < args.size()) {
    screenshot = args.at(at + 1);
    args.remove(at, 2);
  }

  // The registration switches make no window, so a running program does not stop them.
  const lb::TStartMode mode = lb::ClassifyCommandLine(lb::JoinCommandLine(args));
  if (mode == lb::TStartMode::ShellRegister || mode == lb::TStartMode::ShellUnregister) {
    RegisterShellExtension(mode == lb::TStartMode::ShellRegister, QString());
    return 0;
  }

  // Files named on the command line (a file manager's "open with") are opened by the
  // program that runs: handed over to a first instance, or opened by this one once
  // it is ready.
  const QStringList files = lb::FilesOnCommandLine(args);
  lb::TNamedEvent instance;
  switch (lb::TakeInstanceOrRaiseFirst(instance)) {
    case lb::TInstanceDecision::First:
      break;
    case lb::TInstanceDecision::Raised:
      if (files.isEmpty() || lb::HandOverToRunningProgram(files)) return 0;
      UiServices::Instance().MessageBox("Запущенная программа не приняла файлы.",
                                        UiServices::kCaption, MB_OK | MB_ICONERROR);
      return 1;
    case lb::TInstanceDecision::Unanswered:
      UiServices::Instance().MessageBox(
          "Программа LBTools уже запущена, но не отвечает. Вторая копия не запускается.",
          UiServices::kCaption, MB_OK | MB_ICONERROR);
      return 1;
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
    form.OpenAtFirstActivation(files);
    CloseOnTermination(&form);
    form.show();
    // A window restored minimised stays so until the user restores it (a window system
    // defers the activation of a window that is not on screen).
    if (!form.isMinimized()) form.activateWindow();
    code = app.exec();
    ui.SetMainWindow(nullptr);
  }
  lb::DetachThreadFromID3Com();
  id3com.Quit();
  lb::SetID3COMThread(nullptr);
  UiServices::Install(nullptr);
  return code;
}
