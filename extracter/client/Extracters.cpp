#include "Extracters.h"

#include "com/Categories.h"
#include "platform/Registry.h"

namespace lb {

namespace {

QString ProgIdOf(REFCLSID clsid) {
  LPOLESTR text = nullptr;
  if (FAILED(ProgIDFromCLSID(clsid, &text)) || !text) return {};
  QString progId = QString::fromUtf16(text);
  SysFreeString(text);
  return progId;
}

// Copies a string the extracter owns (Author and Description are never freed).
QString OwnedText(LPOLESTR text) {
  return text ? QString::fromUtf16(text) : QString();
}

// The registered description of a class, "" when it has none.
QString RegisteredDescription(REFCLSID clsid) {
  TRegistry reg(HKEY_CLASSES_ROOT);
  if (!reg.OpenKeyReadOnly(QStringLiteral("\\CLSID\\") + GuidToString(clsid))) return {};
  return reg.ReadString(QString()).trimmed();
}

// Why a class could not be created, as the user reads it.
QString CreationFailureReason(HRESULT hr) {
  switch (hr) {
    case REGDB_E_CLASSNOTREG:
      return QStringLiteral("модуль не зарегистрирован");
    case CO_E_DLLNOTFOUND:
      return QStringLiteral("файл модуля не найден или не загружается");
    case CO_E_ERRORINDLL:
      return QStringLiteral("файл модуля не является модулем распознавания");
    default:
      return QStringLiteral("ошибка %1").arg(HResultText(hr));
  }
}

}  // namespace

QString CreationFailureText(REFCLSID clsid, HRESULT hr) {
  QString name = RegisteredDescription(clsid);
  if (name.isEmpty()) name = ProgIdOf(clsid);
  if (name.isEmpty()) name = GuidToString(clsid);
  return QStringLiteral("Источник распознавания «%1» не загружается (%2) и пропущен")
      .arg(name, CreationFailureReason(hr));
}

QString HResultText(HRESULT hr) {
  return QStringLiteral("0x%1").arg(static_cast<uint32_t>(hr), 8, 16, QLatin1Char('0'));
}

HRESULT CreateExtracter(REFCLSID clsid, TExtracterHandle* handle) {
  TExtracterHandle h;
  h.clsid = clsid;
  HRESULT hr =
      CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_ISLLBExtracter, h.extracter.PutVoid());
  if (FAILED(hr)) return hr;
  LPOLESTR text = nullptr;
  if (SUCCEEDED(h.extracter->get_Author(&text))) h.author = OwnedText(text);
  text = nullptr;
  if (SUCCEEDED(h.extracter->get_Description(&text))) h.description = OwnedText(text);
  h.extracter->get_Version(&h.version);
  h.progId = ProgIdOf(clsid);
  *handle = std::move(h);
  return S_OK;
}

QString ExtracterName(const TExtracterHandle& h) {
  return h.progId.isEmpty() ? GuidToString(h.clsid) : h.progId;
}

bool ClassFromName(const QString& name, CLSID* clsid) {
  std::u16string text = name.toStdU16String();
  return SUCCEEDED(CLSIDFromString(text.c_str(), clsid)) ||
         SUCCEEDED(CLSIDFromProgID(text.c_str(), clsid));
}

std::vector<TExtracterHandle> CreateCategoryExtracters(QStringList* failures) {
  return CreateExtracters(ClassesOfCategory(CATID_LBExtracter), failures);
}

std::vector<TExtracterHandle> CreateExtracters(const QList<CLSID>& classes, QStringList* failures) {
  std::vector<TExtracterHandle> extracters;
  for (const CLSID& clsid : classes) {
    TExtracterHandle h;
    HRESULT hr = CreateExtracter(clsid, &h);
    if (FAILED(hr)) {
      if (failures) failures->append(CreationFailureText(clsid, hr));
      continue;
    }
    extracters.push_back(std::move(h));
  }
  return extracters;
}

}  // namespace lb
