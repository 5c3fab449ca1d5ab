#include "FileNames.h"

#include "lbtools3/model/SongFields.h"
#include "lbtools3/model/M3uList.h"
#include "platform/Genres.h"

#include <array>
#include <cstdint>

namespace lb {

namespace {

constexpr char16_t kRefused[] = u"\\/:*?\"<>|";

bool IsModifier(QChar c, int* modifier) {
  switch (c.unicode()) {
    case '&':
      *modifier = mcUpper;
      return true;
    case '_':
      *modifier = mcLower;
      return true;
    case '$':
      *modifier = mcFirstUpper;
      return true;
    case '^':
      *modifier = mcWordsUpper;
      return true;
    default:
      return false;
  }
}

QString TrimRight(const QString& text) {
  qsizetype end = text.size();
  while (end > 0 && text[end - 1] == u' ') --end;
  return text.left(end);
}

// A file of a format without ID3v1 (FLAC, Opus, M4A, ...) has only its main tag: the
// ID3v1 pieces of a mask (title, artist, album, year, comment, genre) take that tag's
// same fields, so that one mask names every file of a mixed list.
// bCarries1: the song's file carries ID3v1 (CarriesTag1 of its path, asked once a song).
int PieceKindFor(bool bCarries1, int kind) {
  const bool tag1 = kind >= mkFirstTag1 && kind <= mkLastTag1;
  return tag1 && !bCarries1 ? kind - mkFirstTag1 + mkFirstTag2 : kind;
}

QString FieldValue(const TSlSong& song, int kind) {
  const TSlTag1& t1 = song.m_Tag1;
  const TSlTag2& t2 = song.m_Tag2;
  switch (kind) {
    case 1:
      return t1.GetTitle();
    case 2:
      return t1.GetArtist();
    case 3:
      return t1.GetAlbum();
    case 4:
      return t1.GetYear();
    case 5:
      return t1.GetComment();
    case 6:
      return t1.m_bExists ? GenreName(t1.Genre) : QString();
    case 7:
      return t2.Title;
    case 8:
      return t2.Artist;
    case 9:
      return t2.Album;
    case 10:
      return t2.Year;
    case 11:
      return OneLineComment(t2.Comment);
    case 12:
      return t2.m_bExists ? GenreName(t2.Genre) : QString();
    case 13:
      return t2.Composer;
    case 14:
      return t2.OrigArt;
    case 15:
      return t2.Copyright;
    case 16:
      return t2.EncodedBy;
    default:
      return QString();
  }
}

}  // namespace

TMaskError ParseRenameMask(const QString& mask, QList<TMaskPiece>* pieces) {
  pieces->clear();
  if (HasRefusedCharacter(mask)) return TMaskError::RefusedCharacters;
  QString literal;
  auto flushLiteral = [&] {
    if (!literal.isEmpty()) pieces->append({mkLiteral, mcNone, literal});
    literal.clear();
  };
  const qsizetype size = mask.size();
  qsizetype i = 0;
  while (i < size) {
    if (mask[i] != u'%') {
      literal += mask[i++];
      continue;
    }
    ++i;
    int modifier = mcNone;
    while (i < size && IsModifier(mask[i], &modifier)) ++i;
    if (i == size) break;  // a "%" at the end yields nothing
    const QChar c = mask[i];
    if (c == u'%') {
      literal += u'%';
      ++i;
      continue;
    }
    flushLiteral();
    if (c == u'n' || c == u'e') {
      pieces->append({c == u'n' ? int(mkName) : int(mkExtension), modifier, QString()});
      ++i;
      continue;
    }
    if (c.unicode() < '0' || c.unicode() > '9') return TMaskError::BadExpression;
    qsizetype end = i;
    while (end < size && mask[end].unicode() >= '0' && mask[end].unicode() <= '9') ++end;
    if (end - i > 2) return TMaskError::BadExpression;
    const int number = mask.mid(i, end - i).toInt();
    if (number < 1 || number > 17) return TMaskError::BadExpression;
    pieces->append({number, modifier, QString()});
    i = end;
  }
  flushLiteral();
  return pieces->isEmpty() ? TMaskError::NoPieces : TMaskError::None;
}

QString MaskErrorText(TMaskError error) {
  switch (error) {
    case TMaskError::RefusedCharacters:
      return "В строке присутствуют недопустимые символы";
    case TMaskError::BadExpression:
      return "В строке присутствуют недопустимые выражения";
    case TMaskError::NoPieces:
      return "В строке не найдено идентификаторов переименования";
    case TMaskError::None:
      break;
  }
  return QString();
}

namespace {
// Whether c is one of kRefused: one look at a bit of the ASCII range (every refused
// character is ASCII), as each name of a rename run is checked character by character.
bool IsRefused(char16_t c) {
  static constexpr auto kBits = [] {
    std::array<uint64_t, 2> bits{};
    for (const char16_t* r = kRefused; *r; ++r) bits[*r / 64] |= uint64_t(1) << (*r % 64);
    return bits;
  }();
  return c < 128 && (kBits[c / 64] >> (c % 64)) & 1;
}
}  // namespace

bool HasRefusedCharacter(const QString& name) {
  for (const QChar c : name)
    if (IsRefused(c.unicode())) return true;
  return false;
}

QString ReplaceRefusedCharacters(const QString& name) {
  if (!HasRefusedCharacter(name)) return name;  // shared, not copied
  QString out = name;
  for (QChar& c : out)
    if (IsRefused(c.unicode())) c = u'_';
  return out;
}

QString CorrectName(const QString& name) {
  // Most names need nothing: they are shared rather than rebuilt.
  bool bDots = name.startsWith(u'.') || name.endsWith(u'.');
  for (qsizetype i = 1; !bDots && i < name.size(); ++i)
    bDots = name[i] == u'.' && name[i - 1] == u'.';
  // A control character from a tag (a line break above all) would make a name no list
  // line can hold.
  bool bControl = false;
  for (qsizetype i = 0; !bControl && i < name.size(); ++i) bControl = name[i].unicode() < 0x20;
  if (!bDots && !bControl) return name;
  QString out = name;
  for (QChar& c : out)
    if (c.unicode() < 0x20) c = u'_';
  if (!bDots) return out;
  if (out.startsWith(u'.')) out.prepend(u'_');
  while (out.endsWith(u'.')) out.chop(1);
  QString collapsed;
  collapsed.reserve(out.size());
  for (QChar c : out)
    if (c != u'.' || !collapsed.endsWith(u'.')) collapsed += c;
  return collapsed;
}

QString ApplyCaseModifier(const QString& value, int modifier) {
  switch (modifier) {
    case mcUpper:
      return value.toUpper();
    case mcLower:
      return value.toLower();
    case mcFirstUpper:
      return value.left(1).toUpper() + value.mid(1).toLower();
    case mcWordsUpper: {
      QString out = value.toLower();
      for (qsizetype i = 0; i < out.size(); ++i)
        if (i == 0 || out[i - 1] == u' ') out[i] = out[i].toUpper();
      return out;
    }
    default:
      return value;
  }
}

bool BuildFileName(const TSlSong& song, int row, const QList<TMaskPiece>& pieces, int digits,
                   bool bCorrectChars, QString* name) {
  const QString path = song.GetPath(true);
  const bool bCarries1 = CarriesTag1(path);
  bool uses1 = false, uses2 = false;
  for (const TMaskPiece& p : pieces) {
    const int kind = PieceKindFor(bCarries1, p.kind);
    uses1 = uses1 || (kind >= mkFirstTag1 && kind <= mkLastTag1);
    uses2 = uses2 || (kind >= mkFirstTag2 && kind <= mkLastTag2);
  }
  const bool has1 = song.m_Tag1.m_bExists, has2 = song.m_Tag2.m_bExists;
  if (uses1 && uses2 ? !(has1 || has2) : (uses1 && !has1) || (uses2 && !has2)) return false;

  QString out;
  out.reserve(path.size() + 64);  // most names are built without growing it again
  for (const TMaskPiece& p : pieces) {
    QString value;
    if (p.kind == mkLiteral) {
      out += p.text;
      continue;
    }
    if (p.kind == mkNumber) {
      out += QString::number(row + 1).rightJustified(qMax(digits, 0), u'0');
      continue;
    }
    if (p.kind == mkName) {
      const QString file = FileNamePart(path);
      const qsizetype dot = file.lastIndexOf(u'.');
      value = dot < 0 ? file : file.left(dot);
    } else if (p.kind == mkExtension) {
      value = ExtensionNoDot(path);
    } else {
      value = FieldValue(song, PieceKindFor(bCarries1, p.kind));
    }
    out += ApplyCaseModifier(TrimRight(value), p.modifier);
  }
  if (bCorrectChars) out = ReplaceRefusedCharacters(out);
  out.replace(u'/', u'_');
  out = CorrectName(out);
  if (out.isEmpty()) return false;
  *name = out;
  return true;
}

QString FileNamePart(const QString& path) {
  return path.mid(FileNameStart(path));
}

QString FileFolderPart(const QString& path) {
  return path.left(FileNameStart(path));
}

QString ExtensionNoDot(const QString& path) {
  const qsizetype dot = path.lastIndexOf(u'.');
  return dot < FileNameStart(path) ? QString() : path.mid(dot + 1);
}

}  // namespace lb
