// The fields of a song by kind number: the fixed table of the song's fields with their
// captions and widths, and the text each field shows. The document window's columns,
// the columns dialog, finding, sorting, renaming and copying by fields, the
// repository's stored layouts and the reports all index it by kind number (a column's
// tag).
#pragma once

#include <QString>

class TSlSong;

namespace lb {

struct TColumnKind {
  const char* caption;  // UTF-8
  int width;            // default width in pixels
  int textWidth;        // the column's width in text reports
};

inline constexpr int kColumnKindCount = 25;

// Kinds with a special role.
enum TColumnKindNumber {
  ckNumber = 0,
  ckName1 = 1,
  ckPath = 2,
  ckGenre1 = 8,
  ckTrack1 = 9,  // the ID3v1 record has no track: never offered, shows nothing
  ckName2 = 10,  // the second record's fields run from here to its track
  ckComment2 = 16,
  ckTrack2 = 22,
  ckSync1 = 23,
  ckSync2 = 24,
};

bool IsColumnKind(int kind);
// The kind's row of the table; kind must be valid.
const TColumnKind& ColumnKind(int kind);
QString ColumnCaption(int kind);
int ColumnDefaultWidth(int kind);
int ColumnTextWidth(int kind);
// Whether the columns dialog offers the kind.
bool IsColumnOffered(int kind);

// The text a cell shows for the song in row (index); empty where the field is empty.
QString ColumnText(const TSlSong& song, int kind, int row);
// An ID3v2 comment on one line: cut at every CR and LF, the non-empty pieces joined
// by one blank.
QString OneLineComment(const QString& comment);

}  // namespace lb
