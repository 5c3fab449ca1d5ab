// Per-module state of an in-process server. This file builds into a static library
// compiled with hidden visibility, so every server that links it keeps its own count
// and answers DllCanUnloadNow for itself alone.
#include "Server.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <dlfcn.h>

namespace lb {

namespace {
std::atomic<long> g_ModuleLocks{0};
}

void ModuleAddRef() {
  ++g_ModuleLocks;
}
void ModuleRelease() {
  --g_ModuleLocks;
}
bool ModuleCanUnload() {
  return g_ModuleLocks.load() <= 0;
}

QString ModulePathOf(const void* addressInModule) {
  Dl_info info{};
  if (!dladdr(addressInModule, &info) || !info.dli_fname) return QString();
  // dladdr answers the name the library was loaded by, which may be relative.
  QFileInfo file(QFile::decodeName(info.dli_fname));
  QString canonical = file.canonicalFilePath();
  return canonical.isEmpty() ? file.absoluteFilePath() : canonical;
}

}  // namespace lb
