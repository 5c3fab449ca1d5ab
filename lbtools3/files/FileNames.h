// Names of files and folders made from tags: the rename mask with its variables and
// case modifiers, the name built for one song, and the corrections that keep a built
// name usable on the file systems users keep music on.
#pragma once

#include <QList>
#include <QString>

class TSlSong;

namespace lb {

// Kinds of mask pieces: 1..16 tag fields, 17 the song number, and these.
enum TMaskKind : int {
  mkLiteral = -1,
  mkFirstTag1 = 1,
  mkLastTag1 = 6,
  mkFirstTag2 = 7,
  mkLastTag2 = 16,
  mkNumber = 17,
  mkExtension = 254,
  mkName = 255,
};
// Case modifiers.
enum TMaskCase : int { mcNone = 0, mcUpper = 1, mcLower = 2, mcFirstUpper = 3, mcWordsUpper = 4 };

struct TMaskPiece {
  int kind = mkLiteral;
  int modifier = mcNone;
  QString text;  // literal pieces
  bool operator==(const TMaskPiece&) const = default;
};

enum class TMaskError { None, RefusedCharacters, BadExpression, NoPieces };

inline constexpr const char* kDefaultRenameMask = "%2 - %1.%e";

// Parses a mask into pieces; the error's message is MaskErrorText.
TMaskError ParseRenameMask(const QString& mask, QList<TMaskPiece>* pieces);
QString MaskErrorText(TMaskError error);

// The characters no file or folder name may hold on the volumes music is kept on:
// \ / : * ? " < > |.
bool HasRefusedCharacter(const QString& name);
// Every refused character becomes "_".
QString ReplaceRefusedCharacters(const QString& name);
// The correction every built name gets: a control character (a line break) becomes
// "_", a leading dot is prefixed with "_", dots at the end are removed, and every run
// of dots becomes one dot.
QString CorrectName(const QString& name);
// The case modifier applied to a value (Unicode casing, Cyrillic included).
QString ApplyCaseModifier(const QString& value, int modifier);

// The new file name of the song in row (index) by the mask; false when the name
// cannot be built (the tag versions the mask needs are missing, or nothing is left
// of the name). bCorrectChars replaces the refused characters by "_"; the path
// separator is replaced always, since it would put the file into another folder.
bool BuildFileName(const TSlSong& song, int row, const QList<TMaskPiece>& pieces, int digits,
                   bool bCorrectChars, QString* name);

// The file name of a path and its extension without the dot, case kept ("" when the
// name has no dot). Give them the song's resolved full path (GetPath(true)), never the
// stored text; a backslash separates only in a path not of this system (FileNameStart).
QString FileNamePart(const QString& path);
QString FileFolderPart(const QString& path);  // with its trailing "/"
QString ExtensionNoDot(const QString& path);

}  // namespace lb
