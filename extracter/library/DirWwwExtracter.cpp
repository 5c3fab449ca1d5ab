#include "LBExtracterImpl.h"

#include "extracter/contract/DiscFiles.h"
#include "platform/CodePage.h"

#include <algorithm>
#include <climits>
#include <optional>

const TExtracterClassInfo kExtracterType2Info = {
    CLSID_LBExtracterType2, "LBCOMExtracter.LBExtracterType2", "LBExtracterType2",
    "Extracter of info type 2 for LBTools program",
    u"Для дисков, где есть папки \"setup\" и \"mus&song\""};

namespace {

// The number at the start of a text as a C "%d" conversion reads it: optional white
// space, an optional sign, decimal digits; the rest is ignored. Empty without digits.
// Values beyond the int range are held at its ends.
std::optional<int> LeadingNumber(const QString& text) {
  qsizetype i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  qsizetype first = i;
  long long value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
    value = std::min<long long>(value * 10 + (text[i].unicode() - u'0'), 1LL + INT_MAX);
  if (i == first) return std::nullopt;
  if (negative) value = -value;
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

// The lines of a catalog text converted from the OEM code page. Any run of CR and LF is
// one line break, so empty lines do not count.
QStringList CatalogLines(const QString& text) {
  QStringList lines;
  qsizetype i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == u'\r' || text[i] == u'\n')) ++i;
    if (i == text.size()) break;
    qsizetype start = i;
    while (i < text.size() && text[i] != u'\r' && text[i] != u'\n') ++i;
    lines << text.mid(start, i - start);
  }
  return lines;
}

}  // namespace

TLBExtracterType2Impl::TLBExtracterType2Impl(IUnknown* outer)
    : TLBExtracterBase(kExtracterType2Info, outer) {}

std::optional<QString> TLBExtracterType2Impl::CatalogLine(const QString& path, int n) {
  auto it = m_Catalogs.constFind(path);
  if (it == m_Catalogs.constEnd()) {
    // A file that cannot be read is tried again for the next song.
    QByteArray bytes;
    if (path.isEmpty() || !lb::ReadRegularFile(path, kMaxCatalogBytes, &bytes)) return std::nullopt;
    it = m_Catalogs.insert(path, CatalogLines(lb::FromOemCodePage(bytes)));
  }
  if (n < 1 || n > it->size()) return QString();
  QString found = it->at(n - 1);
  if (found.isNull()) found = QLatin1String("");
  return found;
}

bool TLBExtracterType2Impl::IsDiscRoot(const QString& root) {
  return !lb::ResolveDiscPath(root, QStringLiteral("setup\\dir.www"), lb::DiscEntryKind::File)
              .isEmpty() &&
         !lb::ResolveDiscPath(root, QStringLiteral("mus&song"), lb::DiscEntryKind::Folder)
              .isEmpty();
}

HRESULT TLBExtracterType2Impl::AnswerSong(const QString& songPath, LBSongTagID3v1& v1,
                                          LBSongTagID3v2& v2) {
  const QString folder = FolderOf(songPath);
  QString baseName = FileNameOf(songPath);
  qsizetype dot = baseName.lastIndexOf(QLatin1Char('.'));
  if (dot >= 0) baseName.truncate(dot);
  std::optional<int> track = LeadingNumber(baseName);
  std::optional<int> folderNumber = LeadingNumber(FileNameOf(folder));
  if (!track || !folderNumber) return S_FALSE;

  // The titles of folder N are in ZzN.www inside it, one song a line.
  const QString titles = lb::FindDiscEntry(folder, QStringLiteral("Zz%1.www").arg(*folderNumber),
                                           lb::DiscEntryKind::File);
  std::optional<QString> title = CatalogLine(titles, *track);
  if (!title) return S_FALSE;
  if (!title->isNull()) WriteTitle(*title, v1, v2);

  // Line N of the album list names the album of folder N.
  std::optional<QString> album = CatalogLine(
      lb::ResolveDiscPath(Root(), QStringLiteral("Setup\\dir.www"), lb::DiscEntryKind::File),
      *folderNumber);
  if (!album) return S_FALSE;
  if (!album->isNull()) WriteAlbum(*album, v1, v2);
  return S_OK;
}
