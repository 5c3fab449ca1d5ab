// The genre table of ID3v1 tags: 148 names, numbers 0 to 147 (with the common
// extensions); 255 means no genre. One table for the tag component, the list view,
// the editors and the file-name masks.
#pragma once

#include <QString>

namespace lb {
inline constexpr int kGenreCount = 148;
inline constexpr int kNoGenre = 255;
// An ID3v2 genre the table has no entry for ("Post-rock"): kept as text beside it.
inline constexpr int kGenreOutsideTable = -1;
// The name of the genre number; empty for 255 and any number outside the table.
QString GenreName(int number);
// The number of the name (compared without regard to case); -1 when unknown.
int GenreNumber(const QString& name);
}  // namespace lb
