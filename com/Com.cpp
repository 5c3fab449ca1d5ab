// The COM layer shared by the program and every server: GUIDs, BSTR strings, the
// per-thread error object and object creation through the registry.
#include "Com.h"

#include "Categories.h"
#include "platform/Registry.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QLibrary>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IErrorInfo = {
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

bool operator==(const GUID& a, const GUID& b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

namespace lb {

QString GuidToString(const GUID& g) {
  return QString::asprintf("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                           g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                           g.Data4[5], g.Data4[6], g.Data4[7]);
}

bool GuidFromString(const QString& input, GUID* guid) {
  QString text = input.trimmed();
  if (text.startsWith(QLatin1Char('{'))) {
    if (!text.endsWith(QLatin1Char('}'))) return false;
    text = text.mid(1, text.size() - 2);
  }
  // 8-4-4-4-12 hexadecimal digits.
  static const int groups[] = {8, 4, 4, 4, 12};
  const QStringList parts = text.split(QLatin1Char('-'));
  if (parts.size() != 5) return false;
  for (int i = 0; i < 5; ++i) {
    if (parts[i].size() != groups[i]) return false;
    for (QChar c : parts[i])
      if (c.unicode() > 127 || !isxdigit(c.unicode())) return false;
  }
  GUID g{};
  g.Data1 = parts[0].toUInt(nullptr, 16);
  g.Data2 = static_cast<uint16_t>(parts[1].toUInt(nullptr, 16));
  g.Data3 = static_cast<uint16_t>(parts[2].toUInt(nullptr, 16));
  QString tail = parts[3] + parts[4];
  for (int i = 0; i < 8; ++i)
    g.Data4[i] = static_cast<uint8_t>(tail.mid(i * 2, 2).toUInt(nullptr, 16));
  if (guid) *guid = g;
  return true;
}

}  // namespace lb

// ---- BSTR ----

extern "C" {

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  // Byte counts must fit the 32-bit prefix.
  if (length > (0x7FFFFFFFu - sizeof(uint32_t) - sizeof(OLECHAR)) / sizeof(OLECHAR)) return nullptr;
  size_t bytes = size_t(length) * sizeof(OLECHAR);
  auto* block = static_cast<char*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  uint32_t prefix = static_cast<uint32_t>(bytes);
  std::memcpy(block, &prefix, sizeof prefix);
  auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof(uint32_t));
  if (text)
    std::memcpy(chars, text, bytes);
  else
    std::memset(chars, 0, bytes);
  chars[length] = 0;
  return chars;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  UINT length = 0;
  while (text[length]) ++length;
  return SysAllocStringLen(text, length);
}

void SysFreeString(BSTR bstr) {
  if (bstr) std::free(reinterpret_cast<char*>(bstr) - sizeof(uint32_t));
}

UINT SysStringLen(BSTR bstr) {
  if (!bstr) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<const char*>(bstr) - sizeof(uint32_t), sizeof bytes);
  return bytes / sizeof(OLECHAR);
}

}  // extern "C"

namespace lb {

BSTR BstrFromQString(const QString& text) {
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.utf16()),
                           static_cast<UINT>(text.size()));
}

QString QStringFromBstr(BSTR bstr) {
  if (!bstr) return QString();
  const UINT length = SysStringLen(bstr);
  // fromUtf16 reads a leading byte-order mark (dropping it, or swapping the text after a
  // reversed one); any other text it copies as it is, which a plain copy does faster.
  if (length > 0 && bstr[0] != 0xFEFF && bstr[0] != 0xFFFE)
    return QString(reinterpret_cast<const QChar*>(bstr), static_cast<qsizetype>(length));
  return QString::fromUtf16(bstr, length);
}

}  // namespace lb

// ---- error information ----

namespace {

// A getter's answer: E_POINTER without a place for it; the value (a string the caller
// frees) is made only when there is one.
template <class T, class Make>
HRESULT Answer(T* out, Make make) {
  if (!out) return E_POINTER;
  *out = make();
  return S_OK;
}

class TErrorInfo final : public TRefCounted<IErrorInfo> {
 public:
  TErrorInfo(const QString& description, const QString& source, const GUID& iid)
      : m_Description(description), m_Source(source), m_Iid(iid) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return QueryOneInterface<IErrorInfo>(this, IID_IErrorInfo, riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override {
    return Answer(guid, [this] { return m_Iid; });
  }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR* source) override {
    return Answer(source, [this] { return lb::BstrFromQString(m_Source); });
  }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* description) override {
    return Answer(description, [this] { return lb::BstrFromQString(m_Description); });
  }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* helpFile) override {
    return Answer(helpFile, [] { return BSTR(nullptr); });
  }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* helpContext) override {
    return Answer(helpContext, [] { return DWORD(0); });
  }

 private:
  QString m_Description;
  QString m_Source;
  GUID m_Iid;
};

// The thread's error object; released when the thread ends.
struct ThreadError {
  IErrorInfo* info = nullptr;
  ~ThreadError() {
    if (info) info->Release();
  }
  void Set(IErrorInfo* p) {
    if (p) p->AddRef();
    if (info) info->Release();
    info = p;
  }
};
thread_local ThreadError t_Error;
thread_local int t_InitCount = 0;

}  // namespace

HRESULT SetErrorInfo(DWORD, IErrorInfo* info) {
  t_Error.Set(info);
  return S_OK;
}

HRESULT GetErrorInfo(DWORD, IErrorInfo** info) {
  if (!info) return E_POINTER;
  *info = t_Error.info;  // ownership passes to the caller, the thread's slot empties
  t_Error.info = nullptr;
  return *info ? S_OK : S_FALSE;
}

namespace lb {

void SetErrorInfoText(const QString& description, const QString& source, REFGUID iid) {
  auto* info = new TErrorInfo(description, source, iid);
  SetErrorInfo(0, info);
  info->Release();
}

QString TakeErrorDescription() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return QString();
  BSTR text = nullptr;
  QString result;
  if (SUCCEEDED(info->GetDescription(&text))) result = QStringFromBstr(text);
  SysFreeString(text);
  info->Release();
  return result;
}

}  // namespace lb

// ---- object creation ----

// The class object of the categories manager, which lives in this library (Categories.cpp).
__attribute__((visibility("hidden"))) HRESULT LbCategoriesClassObject(REFIID riid, void** ppv);

// Creation does not demand CoInitialize: threads of the program and of the tests may
// create objects before or without it, and nothing here depends on an apartment.
HRESULT CoInitialize(void*) {
  return t_InitCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  if (t_InitCount > 0) --t_InitCount;
}

namespace {

// Server libraries stay loaded for the life of the process once loaded: objects and
// BSTRs they handed out may live anywhere.
std::mutex g_LibMutex;
QHash<QString, QLibrary*>& LoadedLibraries() {
  static QHash<QString, QLibrary*> libs;
  return libs;
}

HRESULT LoadServer(const QString& path, PFN_DllGetClassObject* entry) {
  std::lock_guard guard(g_LibMutex);
  QLibrary*& lib = LoadedLibraries()[path];
  if (!lib) {
    if (!QFileInfo(path).isFile()) {
      LoadedLibraries().remove(path);
      return CO_E_DLLNOTFOUND;
    }
    auto* candidate = new QLibrary(path);
    if (!candidate->load()) {
      delete candidate;
      LoadedLibraries().remove(path);
      return CO_E_DLLNOTFOUND;
    }
    lib = candidate;
  }
  *entry = reinterpret_cast<PFN_DllGetClassObject>(lib->resolve("DllGetClassObject"));
  return *entry ? S_OK : CO_E_ERRORINDLL;
}

QString ServerPathOf(REFCLSID clsid) {
  TRegistry reg(HKEY_CLASSES_ROOT);
  if (!reg.OpenKeyReadOnly(QStringLiteral("\\CLSID\\") + lb::GuidToString(clsid) +
                           QStringLiteral("\\InprocServer32")))
    return QString();
  QString path = reg.ReadString(QString()).trimmed();
  // A bare or relative name is taken from the program's folder, where the servers live.
  if (!path.isEmpty() && QFileInfo(path).isRelative() && QCoreApplication::instance())
    path = QCoreApplication::applicationDirPath() + QLatin1Char('/') + path;
  return path;
}

}  // namespace

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // Only in-process servers exist here.
  if ((context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)) == 0) return REGDB_E_CLASSNOTREG;
  if (clsid == CLSID_StdComponentCategoriesMgr) return LbCategoriesClassObject(riid, ppv);
  QString path = ServerPathOf(clsid);
  if (path.isEmpty()) return REGDB_E_CLASSNOTREG;
  PFN_DllGetClassObject entry = nullptr;
  HRESULT hr = LoadServer(path, &entry);
  if (FAILED(hr)) return hr;
  return entry(clsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  if (!factory) return E_UNEXPECTED;
  hr = factory->CreateInstance(outer, riid, ppv);
  factory->Release();
  return hr;
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
  if (!progId || !clsid) return E_INVALIDARG;
  QString name = QString::fromUtf16(progId);
  if (name.isEmpty() || name.contains(QLatin1Char('\\'))) return CO_E_CLASSSTRING;
  TRegistry reg(HKEY_CLASSES_ROOT);
  if (!reg.OpenKeyReadOnly(QLatin1Char('\\') + name + QStringLiteral("\\CLSID")))
    return CO_E_CLASSSTRING;
  return lb::GuidFromString(reg.ReadString(QString()), clsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) {
  if (!progId) return E_INVALIDARG;
  *progId = nullptr;
  TRegistry reg(HKEY_CLASSES_ROOT);
  if (!reg.OpenKeyReadOnly(QStringLiteral("\\CLSID\\") + lb::GuidToString(clsid) +
                           QStringLiteral("\\ProgID")))
    return REGDB_E_CLASSNOTREG;
  QString name = reg.ReadString(QString());
  if (name.isEmpty()) return REGDB_E_CLASSNOTREG;
  *progId = lb::BstrFromQString(name);
  return S_OK;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
  if (!text || !clsid) return E_INVALIDARG;
  QString s = QString::fromUtf16(text);
  if (s.startsWith(QLatin1Char('{'))) return lb::GuidFromString(s, clsid) ? S_OK : CO_E_CLASSSTRING;
  return CLSIDFromProgID(text, clsid);
}
