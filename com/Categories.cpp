// The standard component categories manager over the registry stand-in:
//   HKCR\Component Categories\{catid}        value "<lcid in hex>" = description
//   HKCR\CLSID\{clsid}\Implemented Categories\{catid}   (empty key)
//   HKCR\CLSID\{clsid}\Required Categories\{catid}      (empty key)
// Queries read the registry only; no server is ever loaded to answer them.
#include "Categories.h"

#include "platform/Registry.h"

#include <atomic>

const CLSID CLSID_StdComponentCategoriesMgr = {
    0x0002E005, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ICatRegister = {0x0002E012, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ICatInformation = {0x0002E013, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IEnumGUID = {0x0002E000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace {

const QString kCategoriesKey = QStringLiteral("\\Component Categories");
const QString kImplemented = QStringLiteral("Implemented Categories");
const QString kRequired = QStringLiteral("Required Categories");

QString ClassKey(REFCLSID clsid) {
  return QStringLiteral("\\CLSID\\") + lb::GuidToString(clsid);
}

class TEnumGUID final : public TRefCounted<IEnumGUID> {
 public:
  explicit TEnumGUID(QList<GUID> items, qsizetype pos = 0)
      : m_Items(std::move(items)), m_Pos(pos) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return QueryOneInterface<IEnumGUID>(this, IID_IEnumGUID, riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, GUID* items, ULONG* fetched) override {
    if (!items) return E_POINTER;
    if (count > 1 && !fetched) return E_INVALIDARG;
    ULONG n = 0;
    while (n < count && m_Pos < m_Items.size()) items[n++] = m_Items[m_Pos++];
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    qsizetype left = m_Items.size() - m_Pos;
    if (qsizetype(count) > left) {
      m_Pos = m_Items.size();
      return S_FALSE;
    }
    m_Pos += count;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    m_Pos = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumGUID** clone) override {
    if (!clone) return E_POINTER;
    *clone = new TEnumGUID(m_Items, m_Pos);
    return S_OK;
  }

 private:
  QList<GUID> m_Items;
  qsizetype m_Pos;
};

QList<GUID> CategoriesOfClass(REFCLSID clsid, const QString& kind) {
  QList<GUID> result;
  TRegistry reg(HKEY_CLASSES_ROOT);
  if (!reg.OpenKeyReadOnly(ClassKey(clsid) + QLatin1Char('\\') + kind)) return result;
  for (const QString& name : reg.GetKeyNames()) {
    GUID g;
    if (lb::GuidFromString(name, &g)) result.append(g);
  }
  return result;
}

bool ClassHasAll(REFCLSID clsid, ULONG count, const CATID* ids) {
  QList<GUID> has = CategoriesOfClass(clsid, kImplemented);
  for (ULONG i = 0; i < count; ++i)
    if (!has.contains(ids[i])) return false;
  return true;
}

HRESULT RegisterClassCategories(REFCLSID clsid, const QString& kind, ULONG count, CATID* ids) {
  if (count && !ids) return E_POINTER;
  TRegistry reg(HKEY_CLASSES_ROOT);
  for (ULONG i = 0; i < count; ++i) {
    QString key =
        ClassKey(clsid) + QLatin1Char('\\') + kind + QLatin1Char('\\') + lb::GuidToString(ids[i]);
    if (!reg.OpenKey(key, true)) return E_ACCESSDENIED;
  }
  return S_OK;
}

HRESULT UnregisterClassCategories(REFCLSID clsid, const QString& kind, ULONG count, CATID* ids) {
  if (count && !ids) return E_POINTER;
  TRegistry reg(HKEY_CLASSES_ROOT);
  QString parent = ClassKey(clsid) + QLatin1Char('\\') + kind;
  for (ULONG i = 0; i < count; ++i)
    reg.DeleteKey(parent + QLatin1Char('\\') + lb::GuidToString(ids[i]));
  // An emptied list of categories goes as well.
  if (reg.OpenKeyReadOnly(parent) && !reg.HasSubKeys() && reg.GetValueNames().isEmpty()) {
    reg.CloseKey();
    reg.DeleteKey(parent);
  }
  return S_OK;
}

class TCategoriesManager final : public ICatRegister, public ICatInformation {
 public:
  // ---- IUnknown (shared by both interfaces) ----
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ICatRegister) {
      *ppv = static_cast<ICatRegister*>(this);
    } else if (riid == IID_ICatInformation) {
      *ppv = static_cast<ICatInformation*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  // One count for both interfaces.
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_RefCount; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG n = --m_RefCount;
    if (n == 0) delete this;
    return n;
  }

  // ---- ICatRegister ----
  HRESULT STDMETHODCALLTYPE RegisterCategories(ULONG count, CATEGORYINFO* infos) override {
    if (count && !infos) return E_POINTER;
    TRegistry reg(HKEY_CLASSES_ROOT);
    for (ULONG i = 0; i < count; ++i) {
      const CATEGORYINFO& info = infos[i];
      qsizetype len = 0;
      while (len < 128 && info.szDescription[len]) ++len;
      if (!reg.OpenKey(kCategoriesKey + QLatin1Char('\\') + lb::GuidToString(info.catid), true))
        return E_ACCESSDENIED;
      if (!reg.WriteString(QString::number(info.lcid, 16),
                           QString::fromUtf16(info.szDescription, len)))
        return E_ACCESSDENIED;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE UnRegisterCategories(ULONG count, CATID* ids) override {
    if (count && !ids) return E_POINTER;
    TRegistry reg(HKEY_CLASSES_ROOT);
    for (ULONG i = 0; i < count; ++i)
      reg.DeleteKey(kCategoriesKey + QLatin1Char('\\') + lb::GuidToString(ids[i]));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RegisterClassImplCategories(REFCLSID clsid, ULONG count,
                                                        CATID* ids) override {
    return RegisterClassCategories(clsid, kImplemented, count, ids);
  }
  HRESULT STDMETHODCALLTYPE UnRegisterClassImplCategories(REFCLSID clsid, ULONG count,
                                                          CATID* ids) override {
    return UnregisterClassCategories(clsid, kImplemented, count, ids);
  }
  HRESULT STDMETHODCALLTYPE RegisterClassReqCategories(REFCLSID clsid, ULONG count,
                                                       CATID* ids) override {
    return RegisterClassCategories(clsid, kRequired, count, ids);
  }
  HRESULT STDMETHODCALLTYPE UnRegisterClassReqCategories(REFCLSID clsid, ULONG count,
                                                         CATID* ids) override {
    return UnregisterClassCategories(clsid, kRequired, count, ids);
  }

  // ---- ICatInformation ----
  HRESULT STDMETHODCALLTYPE EnumCategories(LCID, IUnknown** enumCategories) override {
    if (enumCategories) *enumCategories = nullptr;
    return E_NOTIMPL;
  }
  // The description in the locale asked for, else in English (409), else any.
  // The caller frees it with SysFreeString.
  HRESULT STDMETHODCALLTYPE GetCategoryDesc(REFGUID catid, LCID lcid, LPOLESTR* desc) override {
    if (!desc) return E_POINTER;
    *desc = nullptr;
    TRegistry reg(HKEY_CLASSES_ROOT);
    if (!reg.OpenKeyReadOnly(kCategoriesKey + QLatin1Char('\\') + lb::GuidToString(catid)))
      return E_INVALIDARG;
    QStringList names = reg.GetValueNames();
    QString pick;
    for (const QString& wanted : {QString::number(lcid, 16), QStringLiteral("409")})
      if (pick.isEmpty() && names.contains(wanted, Qt::CaseInsensitive)) pick = wanted;
    if (pick.isEmpty()) {
      if (names.isEmpty()) return E_INVALIDARG;
      pick = names.first();
    }
    *desc = lb::BstrFromQString(reg.ReadString(pick));
    return S_OK;
  }
  // A count of (ULONG)-1 means "any category": callers pass it to list every class
  // that implements the given categories, whatever else they require.
  HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG implCount, CATID* impl, ULONG, CATID*,
                                                    IEnumGUID** classes) override {
    if (!classes) return E_POINTER;
    *classes = nullptr;
    if (implCount != ULONG(-1) && implCount && !impl) return E_POINTER;
    QList<GUID> found;
    TRegistry reg(HKEY_CLASSES_ROOT);
    if (reg.OpenKeyReadOnly(QStringLiteral("\\CLSID"))) {
      for (const QString& name : reg.GetKeyNames()) {
        GUID clsid;
        if (!lb::GuidFromString(name, &clsid)) continue;
        if (implCount == ULONG(-1) || ClassHasAll(clsid, implCount, impl)) found.append(clsid);
      }
    }
    *classes = new TEnumGUID(found);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsClassOfCategories(REFCLSID clsid, ULONG implCount, CATID* impl, ULONG,
                                                CATID*) override {
    if (implCount == ULONG(-1)) return S_OK;
    if (implCount && !impl) return E_POINTER;
    return ClassHasAll(clsid, implCount, impl) ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE EnumImplCategoriesOfClass(REFCLSID clsid, IEnumGUID** ids) override {
    if (!ids) return E_POINTER;
    *ids = new TEnumGUID(CategoriesOfClass(clsid, kImplemented));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumReqCategoriesOfClass(REFCLSID clsid, IEnumGUID** ids) override {
    if (!ids) return E_POINTER;
    *ids = new TEnumGUID(CategoriesOfClass(clsid, kRequired));
    return S_OK;
  }

 private:
  std::atomic<ULONG> m_RefCount{1};
};

// One class object for the life of the process; it never deletes itself.
class TCategoriesFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return lb::CreateCategoriesManager(riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

__attribute__((visibility("hidden"))) HRESULT LbCategoriesClassObject(REFIID riid, void** ppv) {
  static TCategoriesFactory factory;
  return factory.QueryInterface(riid, ppv);
}

namespace lb {

HRESULT CreateCategoriesManager(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  auto* manager = new TCategoriesManager();
  HRESULT hr = manager->QueryInterface(riid, ppv);
  manager->Release();
  return hr;
}

QList<CLSID> ClassesOfCategory(REFGUID catid) {
  QList<CLSID> found;
  TRegistry reg(HKEY_CLASSES_ROOT);
  if (!reg.OpenKeyReadOnly(QStringLiteral("\\CLSID"))) return found;
  for (const QString& name : reg.GetKeyNames()) {
    GUID clsid;
    if (lb::GuidFromString(name, &clsid) && ClassHasAll(clsid, 1, &catid)) found.append(clsid);
  }
  return found;
}

}  // namespace lb
