// Registry entries of an in-process class, written by a server's DllRegisterServer:
//   HKCR\CLSID\{clsid}                        @ = description
//   HKCR\CLSID\{clsid}\InprocServer32         @ = library path, "ThreadingModel"
//   HKCR\CLSID\{clsid}\ProgID                 @ = ProgID
//   HKCR\CLSID\{clsid}\VersionIndependentProgID  @ = version-independent ProgID
//   HKCR\CLSID\{clsid}\TypeLib, \Version      @ = type library and its version
//   HKCR\<ProgID>                             @ = description, \CLSID @ = {clsid}
//   HKCR\<VersionIndependentProgID>           @ = description, \CLSID, \CurVer @ = ProgID
#include "Server.h"

#include "platform/Registry.h"

namespace lb {

namespace {

bool WriteDefault(TRegistry& reg, const QString& key, const QString& value) {
  return reg.OpenKey(key, true) && reg.WriteString(QString(), value);
}

bool RegisterProgId(TRegistry& reg, const QString& progId, const ClassRegistration& r,
                    const QString& curVer) {
  QString root = QLatin1Char('\\') + progId;
  if (!WriteDefault(reg, root, r.description)) return false;
  if (!WriteDefault(reg, root + QStringLiteral("\\CLSID"), GuidToString(r.clsid))) return false;
  if (!curVer.isEmpty() && !WriteDefault(reg, root + QStringLiteral("\\CurVer"), curVer))
    return false;
  return true;
}

// Removes a ProgID key only when it still names this class, so the ProgID of another
// class that took the name over is left alone.
void UnregisterProgId(TRegistry& reg, const QString& progId, REFCLSID clsid) {
  if (progId.isEmpty()) return;
  QString root = QLatin1Char('\\') + progId;
  if (!reg.OpenKeyReadOnly(root + QStringLiteral("\\CLSID"))) return;
  GUID owner;
  bool ours = GuidFromString(reg.ReadString(QString()), &owner) && owner == clsid;
  reg.CloseKey();
  if (ours) reg.DeleteKey(root);
}

}  // namespace

HRESULT RegisterInprocClass(const ClassRegistration& r, const QString& modulePath) {
  if (modulePath.isEmpty()) return E_INVALIDARG;
  TRegistry reg(HKEY_CLASSES_ROOT);
  QString key = QStringLiteral("\\CLSID\\") + GuidToString(r.clsid);
  bool ok = WriteDefault(reg, key, r.description) &&
            WriteDefault(reg, key + QStringLiteral("\\InprocServer32"), modulePath);
  if (ok && !r.threadingModel.isEmpty())
    ok = reg.WriteString(QStringLiteral("ThreadingModel"), r.threadingModel);
  if (ok && !r.progId.isEmpty())
    ok = WriteDefault(reg, key + QStringLiteral("\\ProgID"), r.progId) &&
         RegisterProgId(reg, r.progId, r, QString());
  if (ok && !r.versionIndependentProgId.isEmpty())
    ok = WriteDefault(reg, key + QStringLiteral("\\VersionIndependentProgID"),
                      r.versionIndependentProgId) &&
         RegisterProgId(reg, r.versionIndependentProgId, r, r.progId);
  if (ok && !r.typeLib.isEmpty())
    ok = WriteDefault(reg, key + QStringLiteral("\\TypeLib"), r.typeLib);
  if (ok && !r.typeLibVersion.isEmpty())
    ok = WriteDefault(reg, key + QStringLiteral("\\Version"), r.typeLibVersion);
  return ok ? S_OK : SELFREG_E_CLASS;
}

HRESULT UnregisterInprocClass(const ClassRegistration& r) {
  TRegistry reg(HKEY_CLASSES_ROOT);
  UnregisterProgId(reg, r.progId, r.clsid);
  UnregisterProgId(reg, r.versionIndependentProgId, r.clsid);
  QString key = QStringLiteral("\\CLSID\\") + GuidToString(r.clsid);
  if (reg.KeyExists(key) && !reg.DeleteKey(key)) return SELFREG_E_CLASS;
  return S_OK;
}

}  // namespace lb
