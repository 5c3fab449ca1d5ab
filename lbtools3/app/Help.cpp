#include "Help.h"

#include "platform/FileSystem.h"

#include <QDesktopServices>
#include <QUrl>

namespace lb {

QString HelpFilePath() {
  return ExecutableFolder() + "/lbhelp.html";
}

bool OpenHelp(const QString& topic) {
  QUrl url = QUrl::fromLocalFile(HelpFilePath());
  if (!topic.isEmpty()) url.setFragment(topic);
  return QDesktopServices::openUrl(url);
}

}  // namespace lb
