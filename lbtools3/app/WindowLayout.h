// The main window's placement and tool-bar placement as stored in the settings file
// (section "Position"), and the rules that keep a restored window on the screen.
#pragma once

#include <QRect>
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
// Keeps a normal window on the work area: a width or height larger than the work
// area's is reduced to it; a window whose left edge lies right of the work area's
// right edge is moved to 50 pixels inside it, likewise one below its bottom edge.
QRect ClampToWorkArea(const QRect& window, const QRect& workArea);

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
