#include "StartUp.h"

#include "platform/FileSystem.h"
#include "platform/NamedObjects.h"
#include "platform/Registry.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QThread>
#include <algorithm>
#include <memory>

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

TInstanceDecision TakeInstanceOrRaiseFirst(TNamedEvent& instance, int waitMs) {
  const QString name = kInstanceEventName;
  const QDeadlineTimer deadline(waitMs);
  for (;;) {
    const TCreateResult created = instance.Create(name, false, false);
    if (created != TCreateResult::AlreadyExists) return TInstanceDecision::First;
    // The owner lives. Its window is raised once it has one; a port that does not
    // answer may belong to an owner that is ending, so the name is tried again.
    const std::optional<int64_t> port = instance.Published(1000);
    if (port && *port != 0) {
      const int left = std::max<int>(1000, int(deadline.remainingTime()));
      if (TMessagePort::SendMessage(*port, kRaiseMessage, 0, 0, left) == int64_t(1))
        return TInstanceDecision::Raised;
    }
    if (deadline.hasExpired()) return TInstanceDecision::Unanswered;
    QThread::msleep(50);
  }
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

QStringList FilesOnCommandLine(const QStringList& arguments) {
  QStringList files;
  for (const QString& argument : arguments.mid(1)) {
    const QFileInfo info(argument);
    if (!argument.isEmpty() && info.exists()) files << info.absoluteFilePath();
  }
  return files;
}

bool HandOverToRunningProgram(const QStringList& paths, int timeoutMs) {
  const QDeadlineTimer deadline(timeoutMs);
  int64_t window = 0;
  // The window's port is written while the first instance makes its window.
  for (;;) {
    TRegistry reg(HKEY_CURRENT_USER);
    bool ok = false;
    if (reg.OpenKeyReadOnly(kRunTimeKey))
      window = reg.ReadString("HandleToMainWindow").toLongLong(&ok);
    if (ok && window) break;
    if (deadline.hasExpired()) return false;
    QThread::msleep(50);
  }
  const QByteArray payload = BuildHandOverPayload(paths);
  TNamedMapping mapping;
  // Another hand-over may hold the name for a moment.
  while (mapping.CreateExclusive(kHandOverMappingName, payload) != TCreateResult::Created) {
    if (deadline.hasExpired()) return false;
    QThread::msleep(50);
  }
  const int left = std::max<int>(1000, int(deadline.remainingTime()));
  const std::optional<int64_t> answer =
      TMessagePort::SendMessage(window, kHandOverMessage, uint64_t(payload.size()), 0, left);
  return answer && *answer == 1;
}

QByteArray BuildHandOverPayload(const QStringList& paths) {
  QByteArray bytes;
  for (const QString& path : paths) bytes.append(path.toUtf8()).append('\0');
  bytes.append('\0');
  return bytes;
}

namespace {
// Paths up to the end mark, counting stops past limit.
int CountHandOverPaths(const QByteArray& bytes, int limit) {
  int count = 0;
  qsizetype start = 0;
  while (start < bytes.size() && count <= limit) {
    const qsizetype end = bytes.indexOf('\0', start);
    if (end < 0 || end == start) break;
    ++count;
    start = end + 1;
  }
  return count;
}
}  // namespace

std::optional<QStringList> ReadHandOverMapping(uint64_t size, int timeoutMs) {
  if (size == 0 || size > uint64_t(kMaxHandOverBytes)) return std::nullopt;
  auto bytes = std::make_shared<std::optional<QByteArray>>();
  std::unique_ptr<QThread> reader(QThread::create([bytes, size, timeoutMs] {
    TNamedMapping mapping;
    if (mapping.Open(kHandOverMappingName, int64_t(size), timeoutMs)) *bytes = mapping.Data();
  }));
  QEventLoop loop;
  QObject::connect(reader.get(), &QThread::finished, &loop, &QEventLoop::quit);
  reader->start();
  if (!reader->isFinished()) loop.exec();
  // The loop also ends when the program quits; the read ends by its own deadline.
  reader->wait();
  if (!bytes->has_value()) return std::nullopt;
  if (CountHandOverPaths(**bytes, kMaxHandOverPaths) > kMaxHandOverPaths) return std::nullopt;
  return ParseHandOverPaths(**bytes);
}

QList<int> SlotsForHotKeyMessage(const THotKeySlots& hotKeys, uint16_t code) {
  QList<int> matching;
  for (int i = 0; i < int(hotKeys.size()); ++i)
    if (hotKeys[i].key == code && hotKeys[i].global && code != 0) matching << i;
  return matching;
}

QString TUnattendedUiServices::GetSaveFileName(const QString&, const QString& fileName,
                                               const QString&) {
  return NameTaken(fileName) ? QString() : fileName;
}

}  // namespace lb
