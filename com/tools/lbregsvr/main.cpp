// lbregsvr: registers or unregisters an in-process server library, as regsvr32 does.
//   lbregsvr SERVER.so       calls the library's DllRegisterServer
//   lbregsvr -u SERVER.so    calls its DllUnregisterServer
//   --system                 in the machine-wide store instead of the user's (package
//                            install and removal steps)
// Exit codes: 0 done, 2 bad command line, 3 library not loadable, 4 entry point missing,
// 5 the entry point answered a failure.
#include "com/Com.h"
#include "platform/Registry.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <dlfcn.h>

namespace {

void Print(FILE* to, const QString& text) {
  std::fputs(text.toLocal8Bit().constData(), to);
  std::fputc('\n', to);
}

int Usage() {
  Print(stderr, QStringLiteral("Использование: lbregsvr [--system] [-u] SERVER.so\n"
                               "  регистрирует компонент (библиотеку-сервер), с -u снимает его "
                               "регистрацию;\n"
                               "  --system: в общем хранилище для всех пользователей машины"));
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QStringList args = app.arguments().mid(1);
  bool unregister = false;
  QString file;
  for (const QString& a : args) {
    if (a == QLatin1String("-u") || a == QLatin1String("/u"))
      unregister = true;
    else if (a == QLatin1String("--system"))
      lb::UseSystemRegistry(true);
    else if (a == QLatin1String("-h") || a == QLatin1String("--help"))
      return Usage();
    else if (file.isEmpty())
      file = a;
    else
      return Usage();
  }
  if (file.isEmpty()) return Usage();

  // A path names the file itself, not a library to be searched for.
  QFileInfo info(file);
  if (!info.exists()) {
    Print(stderr, QStringLiteral("Файл не найден: %1").arg(file));
    return 3;
  }
  QString path = info.absoluteFilePath();
  // The library is loaded as QLibrary would (symbols resolved when first called), so that
  // the loader's own reason for a refusal can be passed on.
  void* library = ::dlopen(QFile::encodeName(path).constData(), RTLD_LAZY | RTLD_LOCAL);
  if (!library) {
    Print(stderr, QStringLiteral("Библиотека не загружается: %1\nСообщение загрузчика: %2")
                      .arg(path, QString::fromLocal8Bit(::dlerror())));
    return 3;
  }
  const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto entry = reinterpret_cast<PFN_DllRegisterServer>(::dlsym(library, entryName));
  if (!entry) {
    Print(stderr, QStringLiteral("В библиотеке %1 нет точки входа %2: это не компонент")
                      .arg(path, QLatin1String(entryName)));
    return 4;
  }
  HRESULT hr = entry();
  if (FAILED(hr)) {
    Print(stderr, QStringLiteral("%1: точка входа %2 сообщила об ошибке 0x%3, %4")
                      .arg(path, QLatin1String(entryName))
                      .arg(static_cast<uint32_t>(hr), 8, 16, QLatin1Char('0'))
                      .arg(unregister ? QStringLiteral("регистрация не снята")
                                      : QStringLiteral("компонент не зарегистрирован")));
    return 5;
  }
  Print(stdout, unregister ? QStringLiteral("Регистрация компонента снята: %1").arg(path)
                           : QStringLiteral("Компонент зарегистрирован: %1").arg(path));
  return 0;
}
