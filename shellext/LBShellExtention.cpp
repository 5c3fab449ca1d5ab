#include "LBShellExtention.h"

#include "platform/Registry.h"
#include "platform/UiServices.h"

#include <QFileInfo>
#include <QProcess>
#include <QThread>

namespace {

// Shared with the program: its instance event, the hand-over mapping, the run-time key
// with its main window and the hand-over message.
const QString kInstanceEventName = QStringLiteral("{B14B566D-EDD6-4f5c-8E7D-7A0E22BC0FE4}");
const QString kHandOverMappingName = QStringLiteral("{311A82FE-1F4B-4102-9E74-4086CE1CB596}");
const QString kRunTimeKey = QStringLiteral("\\Software\\Corvane\\Lyrabox Tools");
constexpr uint32_t kHandOverMessage = 0x8002;

const char kModuleAnchor = 0;

// Waits for a started program: until its instance event exists, then until the event
// is signalled. False when it never comes up or never gets ready.
bool WaitForStartedProgram() {
  for (int n = 0; n < kStartPolls; ++n) {
    lb::TNamedEvent event;
    if (event.Open(kInstanceEventName)) return event.Wait(kReadyWaitMs) == wrSignaled;
    QThread::msleep(kStartPollMs);
  }
  return false;
}

// Finds the running program or starts it; its main window's port, 0 when there is none.
lb::TPortHandle FindOrStartProgram() {
  if (!lb::TNamedEvent::Exists(kInstanceEventName)) {
    const QString moduleDir = QFileInfo(lb::ModulePathOf(&kModuleAnchor)).absolutePath();
    // The program's path is one argument of its own: blanks in it need no quoting.
    if (!QProcess::startDetached(TLBShellExtentionClassImpl::ProgramPath(moduleDir),
                                 {QStringLiteral("/shell_invoke")}))
      return 0;
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

TLBShellExtentionClassImpl::~TLBShellExtentionClassImpl() {
  DropMapping();
}

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

void TLBShellExtentionClassImpl::DropMapping() {
  m_Mapping.reset();
  m_Size = 0;
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

  // 2. The list of an earlier selection goes.
  DropMapping();

  // 3. A path that reads empty spoils the selection.
  if (emptyPath) return E_INVALIDARG;
  QByteArray bytes;
  for (const QString& path : paths) bytes.append(path.toUtf8()).append('\0');
  bytes.append('\0');

  // 4, 5. The mapping is ours alone: while another object holds its list, this
  // selection gets no item.
  auto mapping = std::make_unique<lb::TNamedMapping>();
  if (mapping->CreateExclusive(kHandOverMappingName, bytes) != lb::TCreateResult::Created)
    return E_FAIL;
  m_Mapping = std::move(mapping);
  m_Size = bytes.size();
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

HRESULT TLBShellExtentionClassImpl::InvokeCommand(CMINVOKECOMMANDINFO*) {
  const lb::TPortHandle window = FindOrStartProgram();
  // The program reads the list while it answers; a window that does not answer at all
  // (a run-time key left by a program that died) got nothing either.
  const bool handedOver =
      window != 0 && m_Mapping &&
      lb::TMessagePort::SendMessage(window, kHandOverMessage, uint64_t(m_Size), 0).has_value();
  if (!handedOver)
    UiServices::Instance().MessageBox(QStringLiteral("Ошибка запуска программы LBTools"), QString(),
                                      MB_OK | MB_ICONERROR);
  DropMapping();
  return S_OK;
}
