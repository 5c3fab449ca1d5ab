// Helpers for in-process servers: a reference-counted base for objects, a generic
// class factory, the module's lock count, and the registry entries of a class.
#pragma once

#include "Com.h"

#include <QString>
#include <atomic>
#include <new>

namespace lb {

// Objects and locks alive in this module; DllCanUnloadNow answers S_OK at zero.
void ModuleAddRef();
void ModuleRelease();
bool ModuleCanUnload();

// The full path of the shared library (or executable) that holds the address.
QString ModulePathOf(const void* addressInModule);

struct ClassRegistration {
  CLSID clsid;
  QString description;               // default value of HKCR\CLSID\{clsid}
  QString progId;                    // e.g. "LBCOMExtracter.LBExtracterType1" (may be empty)
  QString versionIndependentProgId;  // may be empty
  QString threadingModel;            // "Apartment", "Single", "Both"...
  QString typeLib;                   // "{LIBID}" or empty
  QString typeLibVersion;            // e.g. "1.0" or empty
};
// Writes HKCR\CLSID\{clsid} (description, InprocServer32 = modulePath with its
// ThreadingModel, ProgID, VersionIndependentProgID, TypeLib, Version) and the ProgID
// keys pointing back to it.
HRESULT RegisterInprocClass(const ClassRegistration& reg, const QString& modulePath);
// Removes what RegisterInprocClass wrote.
HRESULT UnregisterInprocClass(const ClassRegistration& reg);

}  // namespace lb

// Reference counting for a concrete class that implements the interfaces of Base.
// The object deletes itself when the count reaches zero and holds a module lock while
// it lives.
template <class Base>
class TComObject : public TRefCounted<Base> {
 public:
  TComObject() { lb::ModuleAddRef(); }
  ~TComObject() override { lb::ModuleRelease(); }
};

// What every class factory of a server shares: its interface and the server lock.
// A factory adds how it creates its objects.
class TClassFactoryBase : public TComObject<IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return QueryOneInterface<IClassFactory>(this, IID_IClassFactory, riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      lb::ModuleAddRef();
    else
      lb::ModuleRelease();
    return S_OK;
  }
};

// A class factory that makes objects of T (default-constructible, starting with one
// reference) and answers QueryInterface through T.
template <class T>
class TClassFactory : public TClassFactoryBase {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    T* obj = new T();
    HRESULT hr = obj->QueryInterface(riid, ppv);
    obj->Release();
    return hr;
  }
};

namespace lb {
// Makes a class factory of type Factory and hands it out through riid: what every
// server's DllGetClassObject does once it has chosen the class.
template <class Factory>
HRESULT ServeClassObject(REFIID riid, void** ppv) {
  auto* factory = new (std::nothrow) Factory();
  if (!factory) return E_OUTOFMEMORY;
  HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}
}  // namespace lb

// Exports of a server library: hidden visibility everywhere else.
#define LB_SERVER_EXPORT extern "C" __attribute__((visibility("default")))
