// What the tags editor writes: the genre lists in alphabetical order, the separator
// kept in the settings file, the title and artist taken from a file name, the values
// of a song's two records as one comparable snapshot, and the request an apply
// carries out (which version to write, keep or remove, which fields, where from).
#pragma once

#include "Covers.h"

#include <QString>
#include <QStringList>
#include <array>

class TSlSong;

namespace lbtags {

// ---- genres ----
// The genre list of the editor: an empty entry, then the 148 names alphabetically.
QStringList GenreListItems();
// Position in that list (0 = the empty entry) to genre number (255 for 0).
int GenreAtPosition(int position);
// Genre number to position; 255 and numbers outside the table give -1 (no position).
int PositionOfGenre(int genre);

// ---- the separator in the settings file (section "Edit", key "SimbolsToCreateTag") ----
// Two lower-case hexadecimal digits per byte of the text.
QString EncodeSeparator(const QString& text);
// The reverse; a broken pair ends the text.
QString DecodeSeparator(const QString& hex);
QString ReadSeparator();
void WriteSeparator(const QString& text);

// ---- title and artist from a path ----
struct TNameParts {
  bool bFound = false;
  QString title, artist;
};
// The file name (without folder and extension) split at the first occurrence of sep:
// artist before it, title after it. Not found (or sep empty): the whole name is the
// title and the artist is empty.
TNameParts ExtractFromPath(const QString& path, const QString& sep);

// ---- conversions between the versions ----
// A multi-line comment as one ID3v1 line: every line followed by one blank, cut to 30.
QString CommentForTag1(const QString& memo);
// A year text of ID3v1: at most 4 characters (trailing blanks removed) and, when not
// empty, a decimal integer.
bool ValidYear1(const QString& text);
// A track text of ID3v2: empty, "N" or "N/M" with non-negative decimal integers that
// fit the record.
bool ValidTrack(const QString& text);
// A year text of ID3v2: at most 4 characters, or a date "2001-05-06" (with a time
// "T10:20" or "T10:20:30" after it).
bool ValidYear2(const QString& text);
// The ID3v1 genre byte for a genre number: any byte the user or another player put
// there stays; anything else is no genre (255).
unsigned char GenreFor1(int genre);
// The ID3v2 genre text for an ID3v1 genre byte: its name, empty for none or a byte
// outside the table.
QString GenreTextOf1(unsigned char genre);
// The genre an ID3v2 record shows: the name of its number, or its own text.
QString GenreText2(int genre, const QString& text);
// Whether the text would lose characters in the ID3v1 code page.
bool LossyInTag1(const QString& text);
QString TrimRight(const QString& text);

// ---- a song's two records as values ----
struct TTagValues {
  bool bExists1 = false;
  QByteArray body1;  // the 125-byte ID3v1 body
  bool bExists2 = false;
  QString title2, artist2, album2, year2, comment2, composer2, origArt2, copyright2, url2,
      encodedBy2;
  int genre2 = 255, track2 = 0;
  QString genreText2, trackText2;

  bool operator==(const TTagValues&) const = default;
  static TTagValues Of(const TSlSong& song);
  // Puts the values into the song's records (the display names follow).
  void AssignTo(TSlSong& song) const;
  bool SameTag1(const TTagValues& o) const { return bExists1 == o.bExists1 && body1 == o.body1; }
  bool SameTag2(const TTagValues& o) const;
};

// ---- the request ----
// A version's master box: remove the tag, write it, or leave it as it is (write back an
// existing record, create none). Untouched (the command line's unnamed version) does
// nothing at all with that version.
enum class TMaster { Unticked, Ticked, Grey, Untouched };

enum TField1 { f1Title, f1Artist, f1Album, f1Year, f1Comment, f1Genre, f1Count };
enum TField2 {
  f2Title,
  f2Artist,
  f2Album,
  f2Year,
  f2Genre,
  f2Comment,
  f2Composer,
  f2OrigArt,
  f2Copyright,
  f2URL,
  f2EncodedBy,
  f2Track,
  f2Count
};

struct TTagsEditRequest {
  TMaster master1 = TMaster::Grey, master2 = TMaster::Grey;
  // The ticked fields and their texts (the ID3v1 genre: its number in decimal; the
  // ID3v2 genre: its name or text, empty for none).
  std::array<bool, f1Count> change1{};
  std::array<QString, f1Count> value1;
  std::array<bool, f2Count> change2{};
  std::array<QString, f2Count> value2;
  // Copy the fields from the song's other record instead of the texts.
  bool bV2ToV1 = false, bV1ToV2 = false;
  // Title and artist from the song's file name into ID3v1 / ID3v2.
  bool bExtract1 = false, bExtract2 = false;
  QString separator;
  // Without the separator in the name, the whole name becomes the title.
  bool bWholeName = false;
  // What happens to each song's front cover (written after the fields).
  TCoverRequest cover;
  // Ticks every field of a version (single mode, and the copies in batch mode).
  void ChangeAll1() { change1.fill(true); }
  void ChangeAll2() { change2.fill(true); }
};

}  // namespace lbtags
