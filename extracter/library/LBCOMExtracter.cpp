// The LBCOMExtracter server: class objects of the three extracters and the module's
// registration (the extracter category, the classes, the type library).
#include "LBExtracterImpl.h"

#include "com/Categories.h"
#include "com/Server.h"
#include "extracter/contract/ExtracterServer.h"

#include <algorithm>
#include <new>

namespace {

// An object of this module, whose address names the module's file.
const char kModuleAnchor = 0;

// A class object that makes extracters of class T, also as part of an aggregate: the
// outer object must then ask for IUnknown and gets the inner, non-delegating one.
template <class T>
class TExtracterFactory : public TClassFactoryBase {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    T* object = new (std::nothrow) T(outer);
    if (!object) return E_OUTOFMEMORY;
    IUnknown* inner = object->Inner();
    HRESULT hr = inner->QueryInterface(riid, ppv);
    inner->Release();
    return hr;
  }
};

const TExtracterClassInfo* const kClasses[] = {&kExtracterType1Info, &kExtracterType2Info,
                                               &kExtracterType3Info};

lb::TypeLibRegistration TypeLibrary() {
  return {LIBID_LBCOMExtracter,
          QString::fromLatin1(kLBCOMExtracterLibVersion),
          QString::fromLatin1(kLBCOMExtracterLibHelp),
          {{IID_ISLLBExtracter, QString::fromLatin1(kISLLBExtracterName)}}};
}

lb::ClassRegistration ClassKeys(const TExtracterClassInfo& info) {
  lb::ClassRegistration reg;
  reg.clsid = info.clsid;
  reg.description = QString::fromLatin1(info.helpString);
  reg.progId = QString::fromLatin1(info.progId);
  reg.threadingModel = QStringLiteral("Single");
  reg.typeLib = lb::GuidToString(LIBID_LBCOMExtracter);
  reg.typeLibVersion = QString::fromLatin1(kLBCOMExtracterLibVersion);
  return reg;
}

ComPtr<ICatRegister> CategoryManager(HRESULT* hr) {
  ComPtr<ICatRegister> manager;
  *hr = lb::CreateCategoriesManager(IID_ICatRegister, manager.PutVoid());
  return manager;
}

}  // namespace

LB_SERVER_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (clsid == CLSID_LBExtracterType1)
    return lb::ServeClassObject<TExtracterFactory<TLBExtracterType1Impl>>(riid, ppv);
  if (clsid == CLSID_LBExtracterType2)
    return lb::ServeClassObject<TExtracterFactory<TLBExtracterType2Impl>>(riid, ppv);
  if (clsid == CLSID_LBExtracterType3)
    return lb::ServeClassObject<TExtracterFactory<TLBExtracterType3Impl>>(riid, ppv);
  return CLASS_E_CLASSNOTAVAILABLE;
}

LB_SERVER_EXPORT HRESULT DllCanUnloadNow() {
  return lb::ModuleCanUnload() ? S_OK : S_FALSE;
}

LB_SERVER_EXPORT HRESULT DllRegisterServer() {
  HRESULT hr = S_OK;
  ComPtr<ICatRegister> categories = CategoryManager(&hr);
  if (FAILED(hr)) return hr;

  // The extracter category first, with its description.
  CATEGORYINFO info{};
  info.catid = CATID_LBExtracter;
  info.lcid = kExtracterCategoryLcid;
  const QString description = QString::fromLatin1(kExtracterCategoryDescription);
  std::copy_n(description.utf16(), std::min<qsizetype>(description.size(), 127),
              info.szDescription);
  hr = categories->RegisterCategories(1, &info);
  if (FAILED(hr)) return hr;

  const QString modulePath = lb::ModulePathOf(&kModuleAnchor);
  for (const TExtracterClassInfo* cls : kClasses) {
    hr = lb::RegisterInprocClass(ClassKeys(*cls), modulePath);
    if (FAILED(hr)) return hr;
    CATID catid = CATID_LBExtracter;
    hr = categories->RegisterClassImplCategories(cls->clsid, 1, &catid);
    if (FAILED(hr)) return hr;
  }
  return lb::RegisterTypeLibKeys(TypeLibrary(), modulePath);
}

LB_SERVER_EXPORT HRESULT DllUnregisterServer() {
  HRESULT hr = S_OK;
  ComPtr<ICatRegister> categories = CategoryManager(&hr);
  if (FAILED(hr)) return hr;
  HRESULT result = S_OK;
  for (const TExtracterClassInfo* cls : kClasses) {
    CATID catid = CATID_LBExtracter;
    categories->UnRegisterClassImplCategories(cls->clsid, 1, &catid);
    hr = lb::UnregisterInprocClass(ClassKeys(*cls));
    if (FAILED(hr)) result = hr;
  }
  hr = lb::UnregisterTypeLibKeys(TypeLibrary());
  if (FAILED(hr)) result = hr;
  CATID catid = CATID_LBExtracter;
  hr = categories->UnRegisterCategories(1, &catid);
  if (FAILED(hr)) result = hr;
  return result;
}
