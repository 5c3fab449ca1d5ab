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
QString Unquoted(QString value) {
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

const TLBExtracterType3Impl::TSection& TLBExtracterType3Impl::Section(const QString& catalog,
                                                                      const QString& name) {
  const QString folded = name.toCaseFolded();
  auto it = m_Sections.find(folded);
  if (it != m_Sections.end()) return it->second;
  TSection section;
  // "key=value" lines of distinct keys in file order; a key holds no "=".
  for (const QString& line : TIniFile(catalog).ReadSectionValues(name)) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    const QString key = line.left(eq);
    const QString value = Unquoted(line.mid(eq + 1));
    if (key.startsWith(QLatin1String("SndFile"), Qt::CaseSensitive))
      section.emplace_back(key, AsciiUpper(value));
  }
  return m_Sections.emplace(folded, std::move(section)).first->second;
}

HRESULT TLBExtracterType3Impl::AnswerSong(const QString& songPath, LBSongTagID3v1& v1,
                                          LBSongTagID3v2& v2) {
  const QString catalog = lb::ResolveDiscPath(Root(), kCatalog, lb::DiscEntryKind::File);
  if (catalog.isEmpty()) return S_FALSE;

  // Section "Main" names each song folder's album; the folder's own section pairs
  // SndFileK (the file) with SoundK (its title).
  const QString folderName = FileNameOf(FolderOf(songPath));
  const TIniFile ini(catalog);
  WriteAlbum(Unquoted(ini.ReadString(QStringLiteral("Main"), folderName, QString())), v1, v2);

  const TSection& folder = Section(catalog, folderName);
  const QString fileName = AsciiUpper(FileNameOf(songPath));
  QString taken;
  for (const auto& [key, value] : folder) {
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

  WriteTitle(Unquoted(ini.ReadString(folderName, QStringLiteral("Sound") + number, QString())), v1,
             v2);
  return S_OK;
}
