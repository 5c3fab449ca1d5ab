// The component categories manager over "HKCR\Component Categories" and each class's
// "Implemented Categories" key, with the standard registration and query interfaces.
#pragma once

#include "Com.h"

#include <QList>

struct CATEGORYINFO {
  CATID catid;
  LCID lcid;
  OLECHAR szDescription[128];
};

class IEnumGUID : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, GUID* items, ULONG* fetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumGUID** clone) = 0;
};

class ICatRegister : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE RegisterCategories(ULONG count, CATEGORYINFO* infos) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnRegisterCategories(ULONG count, CATID* ids) = 0;
  virtual HRESULT STDMETHODCALLTYPE RegisterClassImplCategories(REFCLSID clsid, ULONG count,
                                                                CATID* ids) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnRegisterClassImplCategories(REFCLSID clsid, ULONG count,
                                                                  CATID* ids) = 0;
  virtual HRESULT STDMETHODCALLTYPE RegisterClassReqCategories(REFCLSID clsid, ULONG count,
                                                               CATID* ids) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnRegisterClassReqCategories(REFCLSID clsid, ULONG count,
                                                                 CATID* ids) = 0;
};

class ICatInformation : public IUnknown {
 public:
  // Enumerating categories themselves is not needed by the program; it answers E_NOTIMPL.
  virtual HRESULT STDMETHODCALLTYPE EnumCategories(LCID lcid, IUnknown** enumCategories) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCategoryDesc(REFGUID catid, LCID lcid, LPOLESTR* desc) = 0;
  // Classes that implement all of the implemented categories given (the required ones
  // are not checked: pass 0 / null).
  virtual HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG implCount, CATID* impl,
                                                            ULONG reqCount, CATID* req,
                                                            IEnumGUID** classes) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsClassOfCategories(REFCLSID clsid, ULONG implCount,
                                                        CATID* impl, ULONG reqCount,
                                                        CATID* req) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumImplCategoriesOfClass(REFCLSID clsid, IEnumGUID** ids) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumReqCategoriesOfClass(REFCLSID clsid, IEnumGUID** ids) = 0;
};

extern const CLSID CLSID_StdComponentCategoriesMgr;  // {0002E005-0000-0000-C000-000000000046}
extern const IID IID_ICatRegister;                   // {0002E012-0000-0000-C000-000000000046}
extern const IID IID_ICatInformation;                // {0002E013-0000-0000-C000-000000000046}
extern const IID IID_IEnumGUID;                      // {0002E000-0000-0000-C000-000000000046}

// The manager lives in this library: CoCreateInstance answers its class without the
// registry. These shortcuts serve C++ callers.
namespace lb {
HRESULT CreateCategoriesManager(REFIID riid, void** ppv);
// The classes registered as implementing the category, from the registry only.
QList<CLSID> ClassesOfCategory(REFGUID catid);
}  // namespace lb
