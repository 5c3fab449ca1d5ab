#include "TagExtracter.h"

#include "extracter/contract/DiscFiles.h"
#include "extracter/contract/ExtracterRecords.h"
#include "extracter/contract/ExtracterServer.h"

#include <algorithm>
#include <climits>

namespace {

constexpr char16_t kAuthor[] = u"Corvane";
constexpr char16_t kDescription[] =
    u"Для дисков, имеющих характерные папки Winamp, Sounds и Texts в корне";
constexpr UINT kVersion = 0x100;

QString WithoutLeadingBlanks(const QString& text) {
  qsizetype i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  return text.mid(i);
}

// The number at the start of a text as C's atoi reads it: optional white space and
// sign, then digits; no digits give 0. Values beyond the int range are held at its ends.
int AtoI(const QString& text) {
  qsizetype i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  long long value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
    value = std::min<long long>(value * 10 + (text[i].unicode() - u'0'), 1LL + INT_MAX);
  return static_cast<int>(std::clamp<long long>(negative ? -value : value, INT_MIN, INT_MAX));
}

// Splits the last "/"-separated component off path; false when there is no separator.
bool SplitLast(QString& path, QString& last) {
  qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  if (slash < 0) return false;
  last = path.mid(slash + 1);
  path.truncate(slash);
  return true;
}

}  // namespace

HRESULT TTagExtracter::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_ITagExtracter) {
    *ppv = static_cast<ITagExtracter*>(this);
  } else if (riid == IID_ISLLBExtracter) {
    *ppv = static_cast<ISLLBExtracter*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT TTagExtracter::GetTypeInfoCount(UINT* pctinfo) {
  if (!pctinfo) return E_POINTER;
  *pctinfo = 0;
  return S_OK;
}

HRESULT TTagExtracter::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
  if (ppTInfo) *ppTInfo = nullptr;
  return E_NOTIMPL;
}

HRESULT TTagExtracter::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* dispIds) {
  return lb::ExtracterIDsOfNames(names, count, dispIds);
}

HRESULT TTagExtracter::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                              UINT*) {
  return E_NOTIMPL;
}

HRESULT TTagExtracter::get_Author(LPOLESTR* Value) {
  if (!Value) return E_POINTER;
  *Value = const_cast<LPOLESTR>(kAuthor);
  return S_OK;
}

HRESULT TTagExtracter::get_Description(LPOLESTR* Value) {
  if (!Value) return E_POINTER;
  *Value = const_cast<LPOLESTR>(kDescription);
  return S_OK;
}

HRESULT TTagExtracter::get_Version(UINT* Value) {
  if (!Value) return E_POINTER;
  *Value = kVersion;
  return S_OK;
}

HRESULT TTagExtracter::GetSongText(LPOLESTR, BSTR* bstrText) {
  return bstrText ? S_FALSE : E_POINTER;
}

HRESULT TTagExtracter::Recognize(LPOLESTR pwszPath, LONG* pulFieldsMask) {
  if (!pulFieldsMask || !pwszPath) return E_POINTER;
  return lb::GuardedExtracterCall(kZuProgId, [&]() -> HRESULT {
    // The mask and the root change whatever the answer.
    *pulFieldsMask = static_cast<LONG>(kAllFieldsMask);
    QString path = QString::fromUtf16(pwszPath);
    m_Root = path;
    m_bHasRoot = true;
    if (!path.isEmpty() && !path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
    // Each characteristic entry must be a folder; a file of that name does not count.
    for (const char* name : {"Sounds", "Texts", "Winamp"}) {
      if (lb::FindDiscEntry(path, QString::fromLatin1(name), lb::DiscEntryKind::Folder).isEmpty())
        return S_FALSE;
    }
    return S_OK;
  });
}

HRESULT TTagExtracter::GetSongInfo(LPOLESTR pwszSongPath, LBSongTagID3v1* TagID3v1,
                                   LBSongTagID3v2* TagID3v2, LONG*) {
  if (!TagID3v1 || !TagID3v2 || !pwszSongPath) return E_POINTER;
  return lb::GuardedExtracterCall(kZuProgId, [&]() -> HRESULT {
    if (!m_bHasRoot) return S_FALSE;
    return AnswerSong(QString::fromUtf16(pwszSongPath), *TagID3v1, *TagID3v2);
  });
}

HRESULT TTagExtracter::AnswerSong(const QString& songPath, LBSongTagID3v1& v1, LBSongTagID3v2& v2) {
  // ...\Artist\Album folder\Song file, as seen from the disc root.
  QString rest = lb::PathFromDiscRoot(m_Root, songPath), fileName, albumFolder, artist;
  if (!SplitLast(rest, fileName) || !SplitLast(rest, albumFolder) || !SplitLast(rest, artist))
    return S_FALSE;

  lb::SetFixedText(v1.szArtist, kID3v1TextWidth, artist);
  lb::ReplaceBstr(v2.bstrArtist, artist);

  // "1999 - Album": the leading digits before the minus (at most four) overwrite the
  // start of the year; the rest of the year keeps what it held.
  QString album;
  qsizetype minus = albumFolder.indexOf(QLatin1Char('-'));
  if (minus >= 0) {
    for (qsizetype i = 0; i < std::min<qsizetype>(minus, kYearWidth) && albumFolder[i].isDigit() &&
                          albumFolder[i] < u'\x80';
         ++i)
      v1.szYear[i] = static_cast<char>(albumFolder[i].toLatin1());
    album = WithoutLeadingBlanks(albumFolder.mid(minus + 1));
  } else {
    album = WithoutLeadingBlanks(albumFolder);
  }
  lb::SetFixedText(v1.szAlbum, kID3v1TextWidth, album);
  lb::ReplaceBstr(v2.bstrAlbum, album);
  std::copy_n(v1.szYear, kYearWidth, v2.szYear);

  // "03 - Title.mp3": track 3, title "Title"; without a minus the whole name is the
  // title, extension included, and the track stays.
  QString title;
  minus = fileName.indexOf(QLatin1Char('-'));
  if (minus >= 0) {
    v2.ulTrack = static_cast<uint32_t>(AtoI(fileName.left(minus)));
    title = WithoutLeadingBlanks(fileName.mid(minus + 1));
    qsizetype dot = title.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0) title.truncate(dot);
  } else {
    title = WithoutLeadingBlanks(fileName);
  }
  lb::SetFixedText(v1.szTitle, kID3v1TextWidth, title);
  lb::ReplaceBstr(v2.bstrTitle, title);
  return S_OK;
}
