// The LBShellExtention server: the class object and the module's registration. The
// registration writes the class and its type library only; attaching the class to
// file types is the program's shell registration.
#include "LBShellExtention.h"

#include "extracter/contract/ExtracterServer.h"

namespace {

const char kModuleAnchor = 0;

lb::TypeLibRegistration TypeLibrary() {
  return {LIBID_LBShellExtention,
          QStringLiteral("1.0"),
          QStringLiteral("LBShellExtention Library"),
          {{IID_ILBShellExtentionClass, QStringLiteral("ILBShellExtentionClass")}}};
}

lb::ClassRegistration ClassKeys() {
  lb::ClassRegistration reg;
  reg.clsid = CLSID_LBShellExtentionClass;
  reg.description = QStringLiteral("LBShellExtentionClass");
  reg.progId = QString::fromLatin1(kLBShellExtentionProgId);
  reg.threadingModel = QStringLiteral("Apartment");
  reg.typeLib = lb::GuidToString(LIBID_LBShellExtention);
  reg.typeLibVersion = QStringLiteral("1.0");
  return reg;
}

}  // namespace

LB_SERVER_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (clsid != CLSID_LBShellExtentionClass) return CLASS_E_CLASSNOTAVAILABLE;
  return lb::ServeClassObject<TClassFactory<TLBShellExtentionClassImpl>>(riid, ppv);
}

LB_SERVER_EXPORT HRESULT DllCanUnloadNow() {
  return lb::ModuleCanUnload() ? S_OK : S_FALSE;
}

LB_SERVER_EXPORT HRESULT DllRegisterServer() {
  const QString modulePath = lb::ModulePathOf(&kModuleAnchor);
  HRESULT hr = lb::RegisterInprocClass(ClassKeys(), modulePath);
  if (FAILED(hr)) return hr;
  return lb::RegisterTypeLibKeys(TypeLibrary(), modulePath);
}

LB_SERVER_EXPORT HRESULT DllUnregisterServer() {
  HRESULT result = lb::UnregisterInprocClass(ClassKeys());
  HRESULT hr = lb::UnregisterTypeLibKeys(TypeLibrary());
  return FAILED(result) ? result : hr;
}
