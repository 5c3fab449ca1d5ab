#include "WindowLayout.h"

#include "platform/IniFile.h"

namespace lb {

namespace {
constexpr char kSection[] = "Position";
}

TWindowPlacement ReadWindowPlacement(TIniFile& ini, const TWindowPlacement& current) {
  TWindowPlacement p;
  p.normal.setLeft(ini.ReadInteger(kSection, "Left", current.normal.left()));
  p.normal.setTop(ini.ReadInteger(kSection, "Top", current.normal.top()));
  p.normal.setWidth(ini.ReadInteger(kSection, "Width", current.normal.width()));
  p.normal.setHeight(ini.ReadInteger(kSection, "Height", current.normal.height()));
  p.state = ini.ReadInteger(kSection, "State", 0);
  if (p.state < 0 || p.state > 2) p.state = 0;
  return p;
}

void WriteWindowPlacement(TIniFile& ini, const TWindowPlacement& p) {
  ini.WriteInteger(kSection, "State", p.state);
  if (p.state == 2) return;
  ini.WriteInteger(kSection, "Left", p.normal.left());
  ini.WriteInteger(kSection, "Top", p.normal.top());
  ini.WriteInteger(kSection, "Width", p.normal.width());
  ini.WriteInteger(kSection, "Height", p.normal.height());
}

QRect ClampToWorkArea(const QRect& window, const QRect& workArea) {
  QRect r = window;
  if (r.width() > workArea.width()) r.setWidth(workArea.width());
  if (r.height() > workArea.height()) r.setHeight(workArea.height());
  // Then moved, keeping its size, until every edge lies on the work area.
  r.moveLeft(qBound(workArea.left(), r.left(), workArea.left() + workArea.width() - r.width()));
  r.moveTop(qBound(workArea.top(), r.top(), workArea.top() + workArea.height() - r.height()));
  return r;
}

QRect NewDocumentWindowRect(const QSize& area, int index) {
  const int width = qMax(area.width() * 3 / 4, qMin(area.width(), 640));
  const int height = qMax(area.height() * 3 / 4, qMin(area.height(), 400));
  // Steps go down and right while the window still fits, then start again at the corner.
  constexpr int kStep = 24;
  const int room = qMin(area.width() - width, area.height() - height) / kStep + 1;
  const int step = index <= 0 ? 0 : index % qMax(1, room);
  return QRect(step * kStep, step * kStep, width, height);
}

TToolBarPlacement ReadToolBarPlacement(TIniFile& ini, const QString& prefix, bool hasVisibility) {
  TToolBarPlacement p;
  p.floating = ini.ReadBool(kSection, prefix + "Floating", false);
  if (p.floating) {
    p.x = ini.ReadInteger(kSection, prefix + "X", 0);
    p.y = ini.ReadInteger(kSection, prefix + "Y", 0);
  } else {
    p.dock = ini.ReadInteger(kSection, prefix + "Dock", 0);
    if (p.dock < 0 || p.dock > 3) p.dock = 0;
    p.dockPos = ini.ReadInteger(kSection, prefix + "DockPos", 0);
    p.dockRow = ini.ReadInteger(kSection, prefix + "DockRow", 0);
  }
  if (hasVisibility) p.visible = ini.ReadBool(kSection, prefix + "Visible", true);
  return p;
}

void WriteToolBarPlacement(TIniFile& ini, const QString& prefix, const TToolBarPlacement& p,
                           bool hasVisibility) {
  ini.WriteBool(kSection, prefix + "Floating", p.floating);
  ini.WriteInteger(kSection, prefix + "X", p.x);
  ini.WriteInteger(kSection, prefix + "Y", p.y);
  ini.WriteInteger(kSection, prefix + "Dock", p.dock);
  ini.WriteInteger(kSection, prefix + "DockPos", p.dockPos);
  ini.WriteInteger(kSection, prefix + "DockRow", p.dockRow);
  if (hasVisibility) ini.WriteBool(kSection, prefix + "Visible", p.visible);
}

}  // namespace lb
