#include "StartUp.h"

#include "platform/Registry.h"

namespace lb {

TStartMode ClassifyCommandLine(const QString& commandLine) {
  if (commandLine == QLatin1String("/shell_register")) return TStartMode::ShellRegister;
  if (commandLine == QLatin1String("/shell_unregister")) return TStartMode::ShellUnregister;
  if (commandLine == QLatin1String("/shell_invoke")) return TStartMode::ShellInvoke;
  return TStartMode::Normal;
}

QString JoinCommandLine(const QStringList& arguments) {
  return arguments.mid(1).join(' ');
}

bool WriteRunTimeHandles(int64_t mainWindow, int64_t application) {
  TRegistry reg(HKEY_CURRENT_USER);
  if (!reg.OpenKey(kRunTimeKey, true)) return false;
  // Handles are 64-bit here; the store keeps 32-bit integers, so they go as text.
  return reg.WriteString("HandleToMainWindow", QString::number(mainWindow)) &&
         reg.WriteString("HandleToApplication", QString::number(application));
}

bool ReadApplicationHandle(int64_t* application) {
  TRegistry reg(HKEY_CURRENT_USER);
  if (!reg.OpenKeyReadOnly(kRunTimeKey)) return false;
  bool ok = false;
  *application = reg.ReadString("HandleToApplication").toLongLong(&ok);
  return ok;
}

void DeleteRunTimeKey() {
  TRegistry reg(HKEY_CURRENT_USER);
  reg.DeleteKey(kRunTimeKey);
}

QStringList ParseHandOverPaths(const QByteArray& bytes) {
  QStringList paths;
  qsizetype start = 0;
  while (start < bytes.size()) {
    const qsizetype end = bytes.indexOf('\0', start);
    if (end < 0 || end == start) break;  // no terminator, or the empty end mark
    paths << QString::fromUtf8(bytes.constData() + start, end - start);
    start = end + 1;
  }
  return paths;
}

QByteArray BuildHandOverPayload(const QStringList& paths) {
  QByteArray bytes;
  for (const QString& path : paths) bytes.append(path.toUtf8()).append('\0');
  bytes.append('\0');
  return bytes;
}

QList<int> SlotsForHotKeyMessage(const THotKeySlots& hotKeys, uint16_t code) {
  QList<int> matching;
  for (int i = 0; i < int(hotKeys.size()); ++i)
    if (hotKeys[i].key == code && hotKeys[i].global && code != 0) matching << i;
  return matching;
}

}  // namespace lb
