#include "TagsEdit.h"

#include "lbtools3/model/M3uList.h"
#include "platform/CodePage.h"
#include "platform/Genres.h"
#include "platform/IniFile.h"

#include <QRegularExpression>
#include <algorithm>
#include <cstring>
#include <vector>

namespace lbtags {

namespace {

// Position (1-based, after the empty entry) to genre number: the genre names in
// alphabetical order, without regard to case.
const std::vector<int>& PositionTable() {
  static const std::vector<int> table = [] {
    std::vector<int> numbers(lb::kGenreCount);
    for (int n = 0; n < lb::kGenreCount; ++n) numbers[n] = n;
    std::stable_sort(numbers.begin(), numbers.end(), [](int a, int b) {
      return QString::compare(lb::GenreName(a), lb::GenreName(b), Qt::CaseInsensitive) < 0;
    });
    return numbers;
  }();
  return table;
}

bool IsDecimal(const QString& text) {
  static const QRegularExpression number(QStringLiteral("^\\s*[+-]?\\d+\\s*$"));
  return number.match(text).hasMatch();
}

}  // namespace

QStringList GenreListItems() {
  QStringList items{QString()};
  for (int number : PositionTable()) items << lb::GenreName(number);
  return items;
}

int GenreAtPosition(int position) {
  const std::vector<int>& table = PositionTable();
  if (position < 1 || position > int(table.size())) return lb::kNoGenre;
  return table[position - 1];
}

int PositionOfGenre(int genre) {
  if (genre == lb::kNoGenre) return 0;
  const std::vector<int>& table = PositionTable();
  auto it = std::find(table.begin(), table.end(), genre);
  return it == table.end() ? -1 : int(it - table.begin()) + 1;
}

QString EncodeSeparator(const QString& text) {
  return QString::fromLatin1(text.toUtf8().toHex());
}

QString DecodeSeparator(const QString& hex) {
  QByteArray bytes;
  for (qsizetype i = 0; i + 1 < hex.size(); i += 2) {
    bool ok = false;
    const int value = hex.mid(i, 2).toInt(&ok, 16);
    if (!ok) break;
    bytes.append(char(value));
  }
  return lb::DecodeUtf8OrTagCodePage(bytes);
}

QString ReadSeparator() {
  TIniFile ini(lb::SettingsFilePath());
  return DecodeSeparator(ini.ReadString("Edit", "SimbolsToCreateTag", QString()));
}

void WriteSeparator(const QString& text) {
  TIniFile ini(lb::SettingsFilePath());
  ini.WriteString("Edit", "SimbolsToCreateTag", EncodeSeparator(text));
}

TNameParts ExtractFromPath(const QString& path, const QString& sep) {
  const QString name = lb::FileBaseName(path);
  TNameParts parts;
  const qsizetype p = sep.isEmpty() ? -1 : name.indexOf(sep);
  if (p < 0) {
    parts.title = name;
    return parts;
  }
  parts.bFound = true;
  parts.artist = name.left(p);
  parts.title = name.mid(p + sep.size());
  return parts;
}

QString CommentForTag1(const QString& memo) {
  QString text = memo;
  text.replace("\r\n", "\n").replace('\r', '\n');
  if (text.endsWith('\n')) text.chop(1);
  QString comment;
  if (!memo.isEmpty())
    for (const QString& line : text.split('\n')) comment += line + ' ';
  return comment.left(TSlTag1::kTextWidth);
}

QString TrimRight(const QString& text) {
  qsizetype n = text.size();
  while (n > 0 && text.at(n - 1).unicode() <= ' ') --n;
  return text.left(n);
}

bool ValidYear1(const QString& text) {
  const QString year = TrimRight(text);
  return year.size() <= TSlTag1::kYearWidth && (year.isEmpty() || IsDecimal(year));
}

bool ValidTrack(const QString& text) {
  if (text.isEmpty()) return true;
  const QStringList parts = text.split('/');
  if (parts.size() > 2) return false;
  for (const QString& part : parts) {
    bool ok = false;
    if (!IsDecimal(part) || part.trimmed().toInt(&ok) < 0 || !ok) return false;
  }
  return true;
}

bool ValidYear2(const QString& text) {
  // Up to four digits, or a time stamp as ID3v2.4 keeps it ("2001-05", "2001-05-06",
  // "2001-05-06T10:20"); an empty text removes the year.
  static const QRegularExpression year(
      QStringLiteral("^(\\d{0,4}|\\d{4}-\\d{2}(-\\d{2}(T\\d{2}(:\\d{2}(:\\d{2})?)?)?)?)$"));
  return year.match(text.trimmed()).hasMatch();
}

unsigned char GenreFor1(int genre) {
  return static_cast<unsigned char>(genre >= 0 && genre <= 255 ? genre : lb::kNoGenre);
}

QString GenreTextOf1(unsigned char genre) {
  return lb::GenreName(genre);
}

QString GenreText2(int genre, const QString& text) {
  return genre == lb::kGenreOutsideTable ? text : lb::GenreName(genre);
}

bool LossyInTag1(const QString& text) {
  return !lb::FitsTagCodePage(text);
}

TTagValues TTagValues::Of(const TSlSong& song) {
  TTagValues v;
  v.bExists1 = song.m_Tag1.m_bExists;
  v.body1.resize(TSlTag1::kBodySize);
  song.m_Tag1.ToBody(v.body1.data());
  const TSlTag2& t = song.m_Tag2;
  v.bExists2 = t.m_bExists;
  v.title2 = t.Title;
  v.artist2 = t.Artist;
  v.album2 = t.Album;
  v.year2 = t.Year;
  v.comment2 = t.Comment;
  v.composer2 = t.Composer;
  v.origArt2 = t.OrigArt;
  v.copyright2 = t.Copyright;
  v.url2 = t.URL;
  v.encodedBy2 = t.EncodedBy;
  v.genre2 = t.Genre;
  v.track2 = t.Track;
  v.genreText2 = t.GenreText;
  v.trackText2 = t.TrackText;
  return v;
}

void TTagValues::AssignTo(TSlSong& song) const {
  song.m_Tag1.FromBody(body1.constData());
  song.m_Tag1.m_bExists = bExists1;
  TSlTag2& t = song.m_Tag2;
  t.BeginChange();
  t.m_bExists = bExists2;
  t.Title = title2;
  t.Artist = artist2;
  t.Album = album2;
  t.Year = year2;
  t.Comment = comment2;
  t.Composer = composer2;
  t.OrigArt = origArt2;
  t.Copyright = copyright2;
  t.URL = url2;
  t.EncodedBy = encodedBy2;
  t.Genre = genre2;
  t.Track = track2;
  t.GenreText = genreText2;
  t.TrackText = trackText2;
  song.m_Tag1.UpdateDisplayName();
  song.m_Tag2.UpdateDisplayName();
  song.MarkModified();
}

bool TTagValues::SameTag2(const TTagValues& o) const {
  return bExists2 == o.bExists2 && title2 == o.title2 && artist2 == o.artist2 &&
         album2 == o.album2 && year2 == o.year2 && comment2 == o.comment2 &&
         composer2 == o.composer2 && origArt2 == o.origArt2 && copyright2 == o.copyright2 &&
         url2 == o.url2 && encodedBy2 == o.encodedBy2 && genre2 == o.genre2 && track2 == o.track2 &&
         genreText2 == o.genreText2 && trackText2 == o.trackText2;
}

}  // namespace lbtags
