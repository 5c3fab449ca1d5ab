// The user's guide: an HTML page beside the program, opened in the default browser at
// a topic (an anchor of the page). Dialogs name their topic by a help context number.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace lb {
// What opens the guide at a topic; the default opens the guide's file in the browser.
// Tests put a recorder here. Returns the previous one; an empty function restores the
// default.
using THelpViewer = std::function<bool(const QString& topic)>;
THelpViewer SetHelpViewer(THelpViewer viewer);

// The guide's file.
QString HelpFilePath();
// The anchor of a help context number ("context_3").
QString HelpContextTopic(int context);
// Opens the guide at the topic through the viewer; an empty topic opens its start.
// When the guide is missing or no browser takes it, a message naming the file says
// so; false then.
bool OpenHelp(const QString& topic);
// The same for a guide in the given file.
bool OpenHelpFile(const QString& file, const QString& topic);
// F1 anywhere in the dialog opens the guide at the topic.
void SetHelpTopic(QWidget* dialog, const QString& topic);
}  // namespace lb
