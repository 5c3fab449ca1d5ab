// The zu server: the class object of TagExtracter and the module's registration.
#include "TagExtracter.h"

#include "com/Categories.h"
#include "extracter/contract/ExtracterServer.h"
#include "platform/Registry.h"

#include <new>

namespace {

// An object of this module, whose address names the module's file.
const char kModuleAnchor = 0;

const QString kClassDescription = QStringLiteral("TagExtracter Class");

lb::TypeLibRegistration TypeLibrary() {
  return {LIBID_ZULib,
          QStringLiteral("1.0"),
          QStringLiteral("zu 1.0 Type Library"),
          {{IID_ITagExtracter, QStringLiteral("ITagExtracter")}}};
}

lb::ClassRegistration ClassKeys() {
  lb::ClassRegistration reg;
  reg.clsid = CLSID_TagExtracter;
  reg.description = kClassDescription;
  reg.progId = QString::fromLatin1(kZuProgId);
  reg.versionIndependentProgId = QString::fromLatin1(kZuVersionIndependentProgId);
  // No threading model: the class lives on the main single-threaded apartment.
  reg.typeLib = lb::GuidToString(LIBID_ZULib);
  return reg;
}

// The class key with both ProgIDs, then its "Programmable" mark.
HRESULT WriteClassKeys(const QString& modulePath) {
  HRESULT hr = lb::RegisterInprocClass(ClassKeys(), modulePath);
  if (FAILED(hr)) return hr;
  TRegistry reg(HKEY_CLASSES_ROOT);
  bool ok = reg.OpenKey(QStringLiteral("\\CLSID\\") + lb::GuidToString(CLSID_TagExtracter) +
                            QStringLiteral("\\Programmable"),
                        true);
  reg.CloseKey();
  return ok ? S_OK : SELFREG_E_CLASS;
}

}  // namespace

LB_SERVER_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (clsid != CLSID_TagExtracter) return CLASS_E_CLASSNOTAVAILABLE;
  return lb::ServeClassObject<TClassFactory<TTagExtracter>>(riid, ppv);
}

LB_SERVER_EXPORT HRESULT DllCanUnloadNow() {
  return lb::ModuleCanUnload() ? S_OK : S_FALSE;
}

LB_SERVER_EXPORT HRESULT DllRegisterServer() {
  const QString modulePath = lb::ModulePathOf(&kModuleAnchor);
  HRESULT hr = WriteClassKeys(modulePath);
  if (FAILED(hr)) return hr;
  hr = lb::RegisterTypeLibKeys(TypeLibrary(), modulePath);
  if (FAILED(hr)) return hr;
  // The category itself belongs to the extracter library, which registers it.
  ComPtr<ICatRegister> categories;
  hr = lb::CreateCategoriesManager(IID_ICatRegister, categories.PutVoid());
  if (FAILED(hr)) return hr;
  CATID catid = CATID_LBExtracter;
  return categories->RegisterClassImplCategories(CLSID_TagExtracter, 1, &catid);
}

LB_SERVER_EXPORT HRESULT DllUnregisterServer() {
  HRESULT result = S_OK;
  ComPtr<ICatRegister> categories;
  HRESULT hr = lb::CreateCategoriesManager(IID_ICatRegister, categories.PutVoid());
  if (SUCCEEDED(hr)) {
    CATID catid = CATID_LBExtracter;
    categories->UnRegisterClassImplCategories(CLSID_TagExtracter, 1, &catid);
  } else {
    result = hr;
  }
  // The class keys go; the "CLSID" key itself stays.
  hr = lb::UnregisterInprocClass(ClassKeys());
  if (FAILED(hr)) result = hr;
  hr = lb::UnregisterTypeLibKeys(TypeLibrary());
  if (FAILED(hr)) result = hr;
  return result;
}
