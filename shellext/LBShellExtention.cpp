#include "LBShellExtention.h"

#include "platform/Registry.h"
#include "platform/UiServices.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <optional>
#include <utility>

namespace {

// Shared with the program: its instance event, the hand-over mapping, the run-time key
// with its main window and the hand-over message.
const QString kInstanceEventName = QStringLiteral("{B14B566D-EDD6-4f5c-8E7D-7A0E22BC0FE4}");
const QString kHandOverMappingName = QStringLiteral("{311A82FE-1F4B-4102-9E74-4086CE1CB596}");
const QString kRunTimeKey = QStringLiteral("\\Software\\Corvane\\Lyrabox Tools");
constexpr uint32_t kHandOverMessage = 0x8002;

const char kModuleAnchor = 0;

// The main window named by the run-time key when it is there; 0 otherwise.
lb::TPortHandle LiveMainWindow() {
  TRegistry reg(HKEY_CURRENT_USER);
  if (!reg.OpenKeyReadOnly(kRunTimeKey)) return 0;
  bool ok = false;
  const lb::TPortHandle handle =
      reg.ReadString(QStringLiteral("HandleToMainWindow")).toLongLong(&ok);
  return ok && lb::TMessagePort::IsWindow(handle) ? handle : 0;
}

// Waits for a started program: until its instance event exists, then until the event
// is signalled or its window is there (the program keeps files handed over before it
// is ready; and another selection started at the same moment may take the signal).
// False when it never comes up or ends.
bool WaitForStartedProgram() {
  for (int n = 0; n < kStartPolls; ++n) {
    lb::TNamedEvent event;
    if (event.Open(kInstanceEventName)) {
      const QDeadlineTimer deadline(kReadyWaitMs);
      while (!deadline.hasExpired()) {
        const TWaitResult result = event.Wait(250);
        if (result == wrSignaled || LiveMainWindow() != 0) return true;
        if (result != wrTimeout && !lb::TNamedEvent::Exists(kInstanceEventName)) return false;
      }
      return false;
    }
    QThread::msleep(kStartPollMs);
  }
  return false;
}

// Finds the running program or starts it; its main window's port, 0 when there is none.
lb::TPortHandle FindOrStartProgram() {
  if (!lb::TNamedEvent::Exists(kInstanceEventName)) {
    const QString moduleDir = QFileInfo(lb::ModulePathOf(&kModuleAnchor)).absolutePath();
    // The program's path is one argument of its own: blanks in it need no quoting. It
    // outlives this process, so it keeps none of its standard channels (a pipe the
    // file manager reads would stay open until the program ends).
    QProcess program;
    program.setProgram(TLBShellExtentionClassImpl::ProgramPath(moduleDir));
    program.setArguments({QStringLiteral("/shell_invoke")});
    program.setStandardInputFile(QProcess::nullDevice());
    program.setStandardOutputFile(QProcess::nullDevice());
    program.setStandardErrorFile(QProcess::nullDevice());
    if (!program.startDetached()) return 0;
    if (!WaitForStartedProgram()) return 0;
  }
  TRegistry reg(HKEY_CURRENT_USER);
  if (!reg.OpenKeyReadOnly(kRunTimeKey)) return 0;
  bool ok = false;
  const lb::TPortHandle handle =
      reg.ReadString(QStringLiteral("HandleToMainWindow")).toLongLong(&ok);
  return ok ? handle : 0;
}

// The paths of a dropped-files block: NUL-ended texts up to the empty one.
QStringList DroppedPaths(const OLECHAR* data, UINT length, bool* emptyPath) {
  QStringList paths;
  *emptyPath = false;
  UINT start = 0;
  while (start < length) {
    UINT end = start;
    while (end < length && data[end] != u'\0') ++end;
    if (end == start) break;  // the closing empty text
    paths << QString::fromUtf16(data + start, end - start);
    start = end + 1;
  }
  for (const QString& p : paths)
    if (p.trimmed().isEmpty()) *emptyPath = true;
  return paths;
}

}  // namespace

TLBShellExtentionClassImpl::TLBShellExtentionClassImpl() = default;

TLBShellExtentionClassImpl::~TLBShellExtentionClassImpl() = default;

QString TLBShellExtentionClassImpl::ProgramPath(const QString& moduleDir) {
  const QString beside = moduleDir + QStringLiteral("/lbtools3");
  if (QFileInfo(beside).isExecutable()) return beside;
  const QString installed =
      QFileInfo(moduleDir + QStringLiteral("/../../bin/lbtools3")).absoluteFilePath();
  return QFileInfo(installed).isExecutable() ? installed : beside;
}

HRESULT TLBShellExtentionClassImpl::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_ILBShellExtentionClass)
    *ppv = static_cast<ILBShellExtentionClass*>(this);
  else if (riid == IID_IShellExtInit)
    *ppv = static_cast<IShellExtInit*>(this);
  else if (riid == IID_IContextMenu)
    *ppv = static_cast<IContextMenu*>(this);
  else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

QList<QByteArray> TLBShellExtentionClassImpl::HandOverParts(const QStringList& paths) {
  QList<QByteArray> parts;
  QByteArray part;
  int count = 0;
  for (const QString& path : paths) {
    const QByteArray bytes = path.toUtf8() + '\0';
    if (count > 0 && (count == kPartPaths || part.size() + bytes.size() + 1 > kPartBytes)) {
      parts << part + '\0';
      part.clear();
      count = 0;
    }
    part += bytes;
    ++count;
  }
  if (count > 0) parts << part + '\0';
  return parts;
}

HRESULT TLBShellExtentionClassImpl::Initialize(const void*, IShellDataObject* dataObject,
                                               const void*) {
  // 1. The selection in the dropped-files format.
  BSTR data = nullptr;
  if (!dataObject || FAILED(dataObject->GetData(CF_HDROP, &data)) || !data) {
    SysFreeString(data);
    return E_INVALIDARG;
  }
  bool emptyPath = false;
  const QStringList paths = DroppedPaths(data, SysStringLen(data), &emptyPath);
  SysFreeString(data);
  if (paths.isEmpty()) return E_INVALIDARG;

  // 2. The list of an earlier selection goes; 3. a path that reads empty spoils the
  // selection.
  m_Paths.clear();
  if (emptyPath) return E_INVALIDARG;
  // 4, 5. The list waits here: the hand-over mapping is made when the command runs, so
  // that a selection made while another one is being handed over is not refused.
  m_Paths = paths;
  return S_OK;
}

HRESULT TLBShellExtentionClassImpl::QueryContextMenu(IShellMenu* menu, UINT indexMenu,
                                                     UINT idCmdFirst, UINT, UINT flags) {
  if (flags & CMF_DEFAULTONLY) return S_OK;
  if (!menu) return E_INVALIDARG;
  HRESULT hr = menu->InsertMenuItem(indexMenu, idCmdFirst, kShellMenuText);
  if (FAILED(hr)) return hr;
  return 1;  // success with one command id used
}

HRESULT TLBShellExtentionClassImpl::GetCommandString(UINT_PTR idCmd, UINT flags, UINT*,
                                                     char* buffer, UINT bufferSize) {
  if (idCmd != 0 || (flags & ~GCS_UNICODE) != GCS_HELPTEXTA) return E_INVALIDARG;
  if (!buffer || bufferSize == 0) return E_INVALIDARG;
  const QString help = QString::fromUtf16(kShellMenuHelp);
  if (flags & GCS_UNICODE) {
    auto* out = reinterpret_cast<char16_t*>(buffer);
    const UINT n = std::min<UINT>(UINT(help.size()), bufferSize - 1);
    std::copy_n(reinterpret_cast<const char16_t*>(help.utf16()), n, out);
    out[n] = u'\0';
  } else {
    // Cut to the buffer on a character boundary.
    QByteArray text = help.toUtf8();
    UINT n = std::min<UINT>(UINT(text.size()), bufferSize - 1);
    while (n > 0 && n < UINT(text.size()) && (uint8_t(text[n]) & 0xC0) == 0x80) --n;
    std::copy_n(text.constData(), n, buffer);
    buffer[n] = '\0';
  }
  return S_OK;
}

namespace {
void Tell(const QString& text) {
  UiServices::Instance().MessageBox(text, QString(), MB_OK | MB_ICONERROR);
}

// Hands one part over: the mapping is held while the program reads it during the
// message. Another hand-over may hold the mapping's name meanwhile: this one waits
// its turn. Busy when the name stayed taken, Refused when the program did not take
// the part.
enum class TPartResult { Taken, Busy, Refused };
TPartResult HandOverPart(lb::TPortHandle window, const QByteArray& payload) {
  lb::TNamedMapping mapping;
  const QDeadlineTimer deadline(kBusyWaitMs);
  for (;;) {
    const lb::TCreateResult created = mapping.CreateExclusive(kHandOverMappingName, payload);
    if (created == lb::TCreateResult::Created) break;
    if (created == lb::TCreateResult::Failed) return TPartResult::Refused;
    if (deadline.hasExpired()) return TPartResult::Busy;
    QThread::msleep(50);
  }
  // The program answers 1 when it took the files.
  const std::optional<int64_t> answer =
      lb::TMessagePort::SendMessage(window, kHandOverMessage, uint64_t(payload.size()), 0);
  return answer == int64_t(1) ? TPartResult::Taken : TPartResult::Refused;
}
}  // namespace

HRESULT TLBShellExtentionClassImpl::InvokeCommand(CMINVOKECOMMANDINFO*) {
  const QStringList paths = std::exchange(m_Paths, {});
  if (paths.isEmpty()) return S_OK;
  const lb::TPortHandle window = FindOrStartProgram();
  // A window that does not answer at all (a run-time key left by a program that died)
  // gets nothing either.
  if (window == 0 || !lb::TMessagePort::IsWindow(window)) {
    Tell(QString::fromUtf16(kStartFailedText));
    return S_OK;
  }
  int handed = 0;
  const QList<QByteArray> parts = HandOverParts(paths);
  for (const QByteArray& part : parts) {
    const TPartResult result = HandOverPart(window, part);
    if (result == TPartResult::Taken) {
      handed += int(part.count('\0')) - 1;
      continue;
    }
    if (result == TPartResult::Busy && handed == 0)
      Tell(QString::fromUtf16(kBusyText));
    else if (handed == 0)
      Tell(QString::fromUtf16(kRefusedText));
    else
      Tell(QString::fromUtf16(kPartlyText).arg(handed).arg(paths.size()));
    break;
  }
  return S_OK;
}
