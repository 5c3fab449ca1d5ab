#include "Extracters.h"

#include "com/Categories.h"

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

}  // namespace

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
      if (failures)
        failures->append(
            QStringLiteral("%1: cannot be created (%2)").arg(GuidToString(clsid), HResultText(hr)));
      continue;
    }
    extracters.push_back(std::move(h));
  }
  return extracters;
}

}  // namespace lb
