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
#include <QFileInfo>
#include <QLibrary>
#include <QStringList>

#include <cstdio>

namespace {

void Print(FILE* to, const QString& text) {
  std::fputs(text.toLocal8Bit().constData(), to);
  std::fputc('\n', to);
}

int Usage() {
  Print(stderr, QStringLiteral("usage: lbregsvr [--system] [-u] SERVER.so\n"
                               "  registers the in-process server (with -u: unregisters it);\n"
                               "  --system: for every user of the machine"));
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
    Print(stderr, QStringLiteral("lbregsvr: %1: no such file").arg(file));
    return 3;
  }
  QString path = info.absoluteFilePath();
  QLibrary lib(path);
  if (!lib.load()) {
    Print(stderr, QStringLiteral("lbregsvr: cannot load %1: %2").arg(path, lib.errorString()));
    return 3;
  }
  const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto entry = reinterpret_cast<PFN_DllRegisterServer>(lib.resolve(entryName));
  if (!entry) {
    Print(stderr,
          QStringLiteral("lbregsvr: %1 has no entry point %2").arg(path, QLatin1String(entryName)));
    return 4;
  }
  HRESULT hr = entry();
  if (FAILED(hr)) {
    Print(stderr, QStringLiteral("lbregsvr: %1 in %2 failed: 0x%3")
                      .arg(QLatin1String(entryName), path)
                      .arg(static_cast<uint32_t>(hr), 8, 16, QLatin1Char('0')));
    return 5;
  }
  Print(stdout, QStringLiteral("%1 in %2 succeeded.").arg(QLatin1String(entryName), path));
  return 0;
}
