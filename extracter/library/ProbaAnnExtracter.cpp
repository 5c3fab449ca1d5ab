#include "LBExtracterImpl.h"

#include "extracter/contract/DiscFiles.h"
#include "platform/CodePage.h"

#include <QDir>
#include <algorithm>

const TExtracterClassInfo kExtracterType1Info = {
    CLSID_LBExtracterType1, "LBCOMExtracter.LBExtracterType1", "LBExtracterType1",
    "Extracter of info type 1 for LBTools program",
    u"Для дисков, где есть папки \"musi\" и \"set\""};

namespace {
const QString kCatalog = QStringLiteral("SET\\proba.ann");
}

TLBExtracterType1Impl::TLBExtracterType1Impl(IUnknown* outer)
    : TLBExtracterBase(kExtracterType1Info, outer) {}

bool TLBExtracterType1Impl::IsDiscRoot(const QString& root) {
  return !lb::ResolveDiscPath(root, QStringLiteral("musi"), lb::DiscEntryKind::Folder).isEmpty() &&
         !lb::ResolveDiscPath(root, kCatalog, lb::DiscEntryKind::File).isEmpty();
}

// Entries are two quoted texts joined by a dash: "title" - "album". A title followed
// by a line break before its dash is dropped; a title followed directly by another
// quote takes the album of the previous entry. Line breaks inside quotes stay in the
// text.
std::vector<TLBExtracterType1Impl::Item> TLBExtracterType1Impl::ParseCatalog(const QString& text) {
  std::vector<Item> items;
  QString a, b;
  int state = 0;
  for (QChar c : text) {
    switch (state) {
      case 0:  // before the title
        if (c == u'"') {
          a.clear();
          state = 1;
        }
        break;
      case 1:  // in the title
        if (c == u'"')
          state = 2;
        else
          a += c;
        break;
      case 2:  // after the title
        if (c == u'-') {
          state = 3;
        } else if (c == u'\r' || c == u'\n') {
          state = 0;
        } else if (c == u'"') {
          items.push_back({a, b});
          state = 0;
        }
        break;
      case 3:  // before the album
        if (c == u'"') {
          b.clear();
          state = 4;
        }
        break;
      case 4:  // in the album
        if (c == u'"') {
          items.push_back({a, b});
          state = 0;
        } else {
          b += c;
        }
        break;
    }
  }
  return items;
}

HRESULT TLBExtracterType1Impl::AnswerSong(const QString& songPath, LBSongTagID3v1& v1,
                                          LBSongTagID3v2& v2) {
  // The catalog is read once per disc; an empty one is read again at the next call.
  if (m_Items.empty()) {
    QByteArray bytes;
    if (!lb::ReadRegularFile(lb::ResolveDiscPath(Root(), kCatalog, lb::DiscEntryKind::File),
                             kMaxCatalogBytes, &bytes))
      return S_FALSE;
    m_Items = ParseCatalog(lb::FromOemCodePage(bytes));
  }

  // The k-th entry describes the k-th file of the song's folder. The files are taken in
  // the order the disc's own file systems list them (ISO 9660 and NTFS keep directory
  // entries sorted by upper-cased name), since a Linux listing comes in no fixed order.
  QDir folder(FolderOf(songPath));
  if (!folder.exists()) return S_FALSE;
  QStringList names = folder.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
  std::sort(names.begin(), names.end(), [](const QString& x, const QString& y) {
    int byUpper = QString::compare(x.toUpper(), y.toUpper());
    return byUpper != 0 ? byUpper < 0 : x < y;
  });
  const QString fileName = FileNameOf(songPath);
  qsizetype position = -1;
  for (qsizetype i = 0; i < names.size(); ++i) {
    if (names[i].compare(fileName, Qt::CaseInsensitive) == 0) {
      position = i;
      break;
    }
  }
  if (position < 0 || static_cast<size_t>(position) >= m_Items.size()) return S_FALSE;
  const Item& item = m_Items[static_cast<size_t>(position)];
  WriteTitle(item.Title, v1, v2);
  WriteAlbum(item.Album, v1, v2);
  return S_OK;
}
