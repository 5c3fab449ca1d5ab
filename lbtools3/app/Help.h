// The user's guide: an HTML page beside the program, opened in the default browser.
#pragma once

#include <QString>

namespace lb {
// The guide's file.
QString HelpFilePath();
// Opens the guide at the topic (an anchor of the page); an empty topic opens its start.
bool OpenHelp(const QString& topic);
}  // namespace lb
