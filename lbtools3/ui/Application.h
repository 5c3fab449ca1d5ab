// What the program is to the desktop and to Qt: its name, its icon (application,
// document windows, tray) and Russian in Qt's own dialogs.
#pragma once

#include <QIcon>

class QApplication;

namespace lb {
// The program's icon in every size it is drawn at.
QIcon ProgramIcon();
// Name, icon, Russian locale and Qt's Russian texts. No display name is set: Qt would
// append it to every window caption.
void SetUpApplication(QApplication& app);
}  // namespace lb
