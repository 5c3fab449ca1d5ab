// Replacing song paths: a part of the path (first occurrence only) and the drive
// letters of lists made on systems with drives. A drive is replaced by another letter
// (that the settings section "Drives" maps to a folder here) or by a folder of this
// machine, such as a mounted volume.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

class TIniFile;
class TSlDocument;

namespace lb {

// One row of the drive grid: a drive letter met in the paths and what replaces it
// (a letter such as "D" or a folder such as "/media/disc").
struct TDrivePair {
  QChar drive;
  QString replacement;
  bool Changed() const { return replacement != QString(drive); }
};
using TDrivePairs = std::vector<TDrivePair>;

// The distinct upper-case drive letters that begin the songs' stored paths, in order
// of first appearance, each replaced by itself.
TDrivePairs CollectDrives(const TSlDocument& document, const std::vector<int>& rows);
bool DrivesChanged(const TDrivePairs& pairs);

// The settings section of the drive letters that lists name: key = letter, value = the
// folder that stands for that drive here.
inline constexpr const char* kDrivesSection = "Drives";
// The pick list of the grid: "X:" for every letter of the "Drives" section whose
// folder exists, then the roots of this machine's mounted volumes that hold files.
QStringList DrivePickList(const TIniFile& ini);
// A typed replacement for a drive: a letter ("D", "d:", "D:\...") whose "Drives"
// folder exists gives that letter in upper case; an existing absolute folder gives the
// folder. Empty when the value is not accepted.
QString AcceptDriveReplacement(const QString& typed, const TIniFile& ini);

struct TReplaceRequest {
  TDrivePairs drives;  // in grid order
  QString find;        // the part to replace ("" for none)
  QString replace;
  bool bCase = false;  // "Поиск с учётом регистра"
};
// The path with its drive and its part replaced. Drive pairs apply in grid order, so
// a later pair sees the letter an earlier one put in. The part replaced is its first
// occurrence in exactly that case; without bCase a match in other case is taken only
// when there is none in the same case.
QString ReplacePath(const QString& path, const TReplaceRequest& request);
struct TReplaceResult {
  int changed = 0;   // paths changed
  QStringList lost;  // full paths of songs whose file existed and no longer does
};
// Replaces the paths of the listed songs (the document is marked modified when any
// changed).
TReplaceResult ReplacePaths(TSlDocument& document, const std::vector<int>& rows,
                            const TReplaceRequest& request);
// What the user is told when the replacement is done: how many paths changed, and the
// songs that went missing by it.
QString ReplaceResultMessage(const TReplaceResult& result);

}  // namespace lb
