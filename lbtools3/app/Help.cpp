#include "Help.h"

#include "platform/FileSystem.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace lb {

QString HelpFilePath() {
  // Beside the program in a build or portable folder; installed, under the prefix's
  // share/doc.
  const QString beside = ExecutableFolder() + "/lbhelp.html";
  const QString installed = ExecutableFolder() + "/../share/doc/lbtools/lbhelp.html";
  return QFileInfo::exists(beside) || !QFileInfo::exists(installed)
             ? beside
             : QFileInfo(installed).absoluteFilePath();
}

bool OpenHelp(const QString& topic) {
  QUrl url = QUrl::fromLocalFile(HelpFilePath());
  if (!topic.isEmpty()) url.setFragment(topic);
  return QDesktopServices::openUrl(url);
}

}  // namespace lb
