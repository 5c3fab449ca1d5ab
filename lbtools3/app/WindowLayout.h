// The main window's placement and tool-bar placement as stored in the settings file
// (section "Position"), and the rules that keep a restored window on the screen.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>

class TIniFile;

namespace lb {

// Window state as stored: 0 normal, 1 minimised, 2 maximised.
struct TWindowPlacement {
  int state = 0;
  QRect normal;  // left, top, width, height of the normal (not maximised) window
};

// Reads "State", "Left", "Top", "Width", "Height"; current values are the defaults.
TWindowPlacement ReadWindowPlacement(TIniFile& ini, const TWindowPlacement& current);
// Writes "State" always, the rectangle only when the window is not maximised (so a
// maximised window never overwrites the normal placement).
void WriteWindowPlacement(TIniFile& ini, const TWindowPlacement& placement);
// Fits a window to the work area (another screen, resolution or DPI since it was
// stored): a width or height larger than the work area's is reduced to it, then the
// window is moved as little as needed to lie wholly on the work area.
QRect ClampToWorkArea(const QRect& window, const QRect& workArea);

// Where the document window numbered index (0 for the first one open) opens in a
// document area of that size: wholly inside it, at a size the songs can be read in.
QRect NewDocumentWindowRect(const QSize& area, int index);

// One tool bar's placement: keys are the bar's prefix followed by the suffix.
struct TToolBarPlacement {
  bool floating = false;
  int x = 0, y = 0;  // floating position
  int dock = 0;      // 0 top, 1 right, 2 bottom, 3 left
  int dockPos = 0;   // position within the dock row
  int dockRow = 0;
  bool visible = true;
};
// hasVisibility is false for the menu bar, whose visibility is neither stored nor read.
TToolBarPlacement ReadToolBarPlacement(TIniFile& ini, const QString& prefix, bool hasVisibility);
void WriteToolBarPlacement(TIniFile& ini, const QString& prefix, const TToolBarPlacement& p,
                           bool hasVisibility);

}  // namespace lb
