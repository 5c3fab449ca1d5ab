#include "LBExtracterImpl.h"

#include "extracter/contract/DiscFiles.h"
#include "platform/IniFile.h"

const TExtracterClassInfo kExtracterType3Info = {
    CLSID_LBExtracterType3, "LBCOMExtracter.LBExtracterType3", "LBExtracterType3",
    "Extracter of info type 3 for LBTools program",
    u"Для дисков с характерным файлом \"tracker.ini\" в корне"};

namespace {
const QString kCatalog = QStringLiteral("tracker.ini");

// Upper case for ASCII letters only, as the catalog's file names are compared.
QString AsciiUpper(QString text) {
  for (QChar& c : text)
    if (c >= u'a' && c <= u'z') c = QChar(c.unicode() - (u'a' - u'A'));
  return text;
}

// A catalog value without one pair of double quotes around it: the catalogs quote
// paths and titles now and then, and the quotes belong to neither.
QString CatalogValue(const TIniFile& ini, const QString& section, const QString& key) {
  QString value = ini.ReadString(section, key, QString());
  if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
    value = value.mid(1, value.size() - 2);
  return value;
}
}  // namespace

TLBExtracterType3Impl::TLBExtracterType3Impl(IUnknown* outer)
    : TLBExtracterBase(kExtracterType3Info, outer) {}

bool TLBExtracterType3Impl::IsDiscRoot(const QString& root) {
  return !lb::ResolveDiscPath(root, kCatalog, lb::DiscEntryKind::File).isEmpty();
}

HRESULT TLBExtracterType3Impl::AnswerSong(const QString& songPath, LBSongTagID3v1& v1,
                                          LBSongTagID3v2& v2) {
  const QString catalog = lb::ResolveDiscPath(Root(), kCatalog, lb::DiscEntryKind::File);
  if (catalog.isEmpty()) return S_FALSE;
  TIniFile ini(catalog);

  // Section "Main" names each song folder's album; the folder's own section pairs
  // SndFileK (the file) with SoundK (its title).
  const QString folderName = FileNameOf(FolderOf(songPath));
  WriteAlbum(CatalogValue(ini, QStringLiteral("Main"), folderName), v1, v2);

  const QString fileName = AsciiUpper(FileNameOf(songPath));
  QString taken;
  for (const QString& key : ini.ReadSection(folderName)) {
    if (!key.startsWith(QLatin1String("SndFile"), Qt::CaseSensitive)) continue;
    const QString value = AsciiUpper(CatalogValue(ini, folderName, key));
    qsizetype at = value.indexOf(fileName);
    if (at >= 0 && at + fileName.size() == value.size()) {
      taken = key;
      break;
    }
  }
  if (taken.isEmpty()) return S_FALSE;

  // The key's trailing digits give K; leading zeros do not count, no digits give 0.
  qsizetype digits = taken.size();
  while (digits > 0 && taken[digits - 1].isDigit() && taken[digits - 1] < u'\x80') --digits;
  QString number = taken.mid(digits);
  while (number.size() > 1 && number.startsWith(QLatin1Char('0'))) number.remove(0, 1);
  if (number.isEmpty()) number = QStringLiteral("0");

  WriteTitle(CatalogValue(ini, folderName, QStringLiteral("Sound") + number), v1, v2);
  return S_OK;
}
