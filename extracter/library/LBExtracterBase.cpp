#include "LBExtracterImpl.h"

#include "com/Server.h"
#include "extracter/contract/DiscFiles.h"
#include "extracter/contract/ExtracterRecords.h"
#include "extracter/contract/ExtracterServer.h"

namespace {
// The same author for every extracter of this server.
constexpr char16_t kAuthor[] = u"Corvane";
constexpr UINT kVersion = 0x100;
}  // namespace

TLBExtracterBase::TLBExtracterBase(const TExtracterClassInfo& info, IUnknown* outer)
    : m_Info(info), m_Inner(this), m_Outer(outer ? outer : &m_Inner) {
  lb::ModuleAddRef();
}

TLBExtracterBase::~TLBExtracterBase() {
  lb::ModuleRelease();
}

HRESULT TLBExtracterBase::TInner::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown) {
    *ppv = static_cast<IUnknown*>(this);
  } else if (riid == IID_IDispatch || riid == IID_ISLLBExtracter) {
    *ppv = static_cast<ISLLBExtracter*>(m_Owner);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  static_cast<IUnknown*>(*ppv)->AddRef();
  return S_OK;
}

ULONG TLBExtracterBase::TInner::Release() {
  ULONG n = --m_RefCount;
  if (n == 0) delete m_Owner;
  return n;
}

HRESULT TLBExtracterBase::QueryInterface(REFIID riid, void** ppv) {
  return m_Outer->QueryInterface(riid, ppv);
}
ULONG TLBExtracterBase::AddRef() {
  return m_Outer->AddRef();
}
ULONG TLBExtracterBase::Release() {
  return m_Outer->Release();
}

HRESULT TLBExtracterBase::GetTypeInfoCount(UINT* pctinfo) {
  if (!pctinfo) return E_POINTER;
  *pctinfo = 0;  // no type information objects on this platform
  return S_OK;
}

HRESULT TLBExtracterBase::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
  if (ppTInfo) *ppTInfo = nullptr;
  return E_NOTIMPL;
}

HRESULT TLBExtracterBase::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                        DISPID* dispIds) {
  return lb::ExtracterIDsOfNames(names, count, dispIds);
}

HRESULT TLBExtracterBase::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                 UINT*) {
  return E_NOTIMPL;  // callers use the vtable side of the dual interface
}

HRESULT TLBExtracterBase::get_Author(LPOLESTR* Value) {
  if (!Value) return E_POINTER;
  *Value = const_cast<LPOLESTR>(kAuthor);
  return S_OK;
}

HRESULT TLBExtracterBase::get_Description(LPOLESTR* Value) {
  if (!Value) return E_POINTER;
  *Value = const_cast<LPOLESTR>(m_Info.description);
  return S_OK;
}

HRESULT TLBExtracterBase::get_Version(UINT* Value) {
  if (!Value) return E_POINTER;
  *Value = kVersion;
  return S_OK;
}

HRESULT TLBExtracterBase::GetSongText(LPOLESTR, BSTR*) {
  return S_OK;
}

HRESULT TLBExtracterBase::Recognize(LPOLESTR pwszPath, LONG* pulFieldsMask) {
  if (!pwszPath || !pulFieldsMask) return E_POINTER;
  return lb::GuardedExtracterCall(m_Info.progId, [&]() -> HRESULT {
    QString root = QString::fromUtf16(pwszPath);
    // File and folder names are joined straight to the root, so it ends with a separator.
    if (!root.endsWith(QLatin1Char('/'))) root += QLatin1Char('/');
    if (!IsDiscRoot(root)) return S_FALSE;
    *pulFieldsMask = static_cast<LONG>(kAllFieldsMask);
    m_Root = root;
    OnRecognized();
    return S_OK;
  });
}

HRESULT TLBExtracterBase::GetSongInfo(LPOLESTR pwszSongPath, LBSongTagID3v1* TagID3v1,
                                      LBSongTagID3v2* TagID3v2, LONG*) {
  if (!pwszSongPath || !TagID3v1 || !TagID3v2) return E_POINTER;
  return lb::GuardedExtracterCall(m_Info.progId, [&]() -> HRESULT {
    const QString song = lb::PathFromDiscRoot(m_Root, QString::fromUtf16(pwszSongPath));
    if (song.isEmpty()) return S_FALSE;
    return AnswerSong(song, *TagID3v1, *TagID3v2);
  });
}

void TLBExtracterBase::WriteTitle(const QString& title, LBSongTagID3v1& v1, LBSongTagID3v2& v2) {
  lb::SetFixedText(v1.szTitle, kID3v1TextWidth, title);
  lb::ReplaceBstr(v2.bstrTitle, title);
}

void TLBExtracterBase::WriteAlbum(const QString& album, LBSongTagID3v1& v1, LBSongTagID3v2& v2) {
  lb::SetFixedText(v1.szAlbum, kID3v1TextWidth, album);
  lb::ReplaceBstr(v2.bstrAlbum, album);
}

QString TLBExtracterBase::FolderOf(const QString& songPath) {
  qsizetype slash = songPath.lastIndexOf(QLatin1Char('/'));
  if (slash < 0) return QString();
  return slash == 0 ? QStringLiteral("/") : songPath.left(slash);
}

QString TLBExtracterBase::FileNameOf(const QString& songPath) {
  return songPath.mid(songPath.lastIndexOf(QLatin1Char('/')) + 1);
}
