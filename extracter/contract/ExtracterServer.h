// Pieces every extracter server needs: guarding a member against internal errors, the
// names of the dispatch side, and the registry keys of a type library.
#pragma once

#include "ISLLBExtracter.h"
#include "platform/Registry.h"

#include <QFileInfo>
#include <QList>
#include <QString>
#include <exception>

namespace lb {

// Runs a member's body; an exception becomes the thread's error information (its
// message, the interface, the class's ProgID as source) and DISP_E_EXCEPTION.
template <class F>
HRESULT GuardedExtracterCall(const char* progId, F&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    SetErrorInfoText(QString::fromLocal8Bit(e.what()), QString::fromLatin1(progId),
                     IID_ISLLBExtracter);
  } catch (...) {
    SetErrorInfoText(QStringLiteral("Unknown internal error"), QString::fromLatin1(progId),
                     IID_ISLLBExtracter);
  }
  return DISP_E_EXCEPTION;
}

inline constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);
inline constexpr DISPID DISPID_UNKNOWN = -1;

// GetIDsOfNames of ISLLBExtracter: the member names map to their DISPIDs without
// regard to case; an unknown name gives DISPID_UNKNOWN and DISP_E_UNKNOWNNAME.
inline HRESULT ExtracterIDsOfNames(LPOLESTR* names, UINT count, DISPID* dispIds) {
  if (count > 0 && (!names || !dispIds)) return E_POINTER;
  static const struct {
    const char* name;
    DISPID id;
  } kMembers[] = {{"Author", DISPID_LBExtracter_Author},
                  {"Description", DISPID_LBExtracter_Description},
                  {"Recognize", DISPID_LBExtracter_Recognize},
                  {"GetSongInfo", DISPID_LBExtracter_GetSongInfo},
                  {"GetSongText", DISPID_LBExtracter_GetSongText},
                  {"Version", DISPID_LBExtracter_Version}};
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) {
    dispIds[i] = DISPID_UNKNOWN;
    QString name = names[i] ? QString::fromUtf16(names[i]) : QString();
    // Only the first name is a member; the others name parameters, which have no IDs.
    if (i == 0) {
      for (const auto& member : kMembers)
        if (name.compare(QLatin1String(member.name), Qt::CaseInsensitive) == 0)
          dispIds[i] = member.id;
    }
    if (dispIds[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

// A type library as registry keys (there are no type library files on this platform):
// HKCR\TypeLib\{LIBID}\<version> with its help string, the module that holds it, FLAGS
// and HELPDIR; and HKCR\Interface\{IID} for each of its interfaces, naming the library.
struct TypeLibInterface {
  IID iid;
  QString name;
};
struct TypeLibRegistration {
  GUID libid;
  QString version;  // "1.0"
  QString helpString;
  QList<TypeLibInterface> interfaces;
};

// The standard automation marshaller that dual interfaces name.
inline constexpr CLSID kAutomationProxyStub = {
    0x00020424, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

inline HRESULT RegisterTypeLibKeys(const TypeLibRegistration& lib, const QString& modulePath) {
  const QString libid = GuidToString(lib.libid);
  const QString base = QStringLiteral("\\TypeLib\\") + libid + QLatin1Char('\\') + lib.version;
  TRegistry reg(HKEY_CLASSES_ROOT);
  bool ok = reg.OpenKey(base, true) && reg.WriteString(QString(), lib.helpString);
  ok = ok && reg.OpenKey(base + QStringLiteral("\\0\\linux64"), true) &&
       reg.WriteString(QString(), modulePath);
  ok = ok && reg.OpenKey(base + QStringLiteral("\\FLAGS"), true) &&
       reg.WriteString(QString(), QStringLiteral("0"));
  ok = ok && reg.OpenKey(base + QStringLiteral("\\HELPDIR"), true) &&
       reg.WriteString(QString(), QFileInfo(modulePath).absolutePath());
  for (const TypeLibInterface& itf : lib.interfaces) {
    const QString key = QStringLiteral("\\Interface\\") + GuidToString(itf.iid);
    ok = ok && reg.OpenKey(key, true) && reg.WriteString(QString(), itf.name);
    ok = ok && reg.OpenKey(key + QStringLiteral("\\ProxyStubClsid32"), true) &&
         reg.WriteString(QString(), GuidToString(kAutomationProxyStub));
    ok = ok && reg.OpenKey(key + QStringLiteral("\\TypeLib"), true) &&
         reg.WriteString(QString(), libid) &&
         reg.WriteString(QStringLiteral("Version"), lib.version);
  }
  reg.CloseKey();
  return ok ? S_OK : SELFREG_E_CLASS;
}

// Removes what RegisterTypeLibKeys wrote; the library's key goes when no other version
// is left under it.
inline HRESULT UnregisterTypeLibKeys(const TypeLibRegistration& lib) {
  const QString libKey = QStringLiteral("\\TypeLib\\") + GuidToString(lib.libid);
  TRegistry reg(HKEY_CLASSES_ROOT);
  if (reg.KeyExists(libKey + QLatin1Char('\\') + lib.version))
    reg.DeleteKey(libKey + QLatin1Char('\\') + lib.version);
  if (reg.OpenKeyReadOnly(libKey)) {
    bool empty = !reg.HasSubKeys();
    reg.CloseKey();
    if (empty) reg.DeleteKey(libKey);
  }
  for (const TypeLibInterface& itf : lib.interfaces) {
    const QString key = QStringLiteral("\\Interface\\") + GuidToString(itf.iid);
    if (reg.KeyExists(key)) reg.DeleteKey(key);
  }
  return S_OK;
}

}  // namespace lb
