#include "Help.h"

#include "platform/FileSystem.h"
#include "platform/UiServices.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QShortcut>
#include <QUrl>
#include <QWidget>
#include <utility>

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

QString HelpContextTopic(int context) {
  return "context_" + QString::number(context);
}

namespace {
THelpViewer& Viewer() {
  static THelpViewer viewer;
  return viewer;
}
}  // namespace

THelpViewer SetHelpViewer(THelpViewer viewer) {
  return std::exchange(Viewer(), std::move(viewer));
}

bool OpenHelp(const QString& topic) {
  if (Viewer()) return Viewer()(topic);
  return OpenHelpFile(HelpFilePath(), topic);
}

bool OpenHelpFile(const QString& file, const QString& topic) {
  QUrl url = QUrl::fromLocalFile(file);
  if (!topic.isEmpty()) url.setFragment(topic);
  if (QFileInfo(file).isFile() && QDesktopServices::openUrl(url)) return true;
  UiServices::Instance().MessageBox("Не удаётся открыть справку:\n" + file, UiServices::kCaption,
                                    MB_OK | MB_ICONERROR);
  return false;
}

void SetHelpTopic(QWidget* dialog, const QString& topic) {
  auto* key = new QShortcut(QKeySequence(Qt::Key_F1), dialog);
  key->setContext(Qt::WidgetWithChildrenShortcut);
  QObject::connect(key, &QShortcut::activated, dialog, [topic] { OpenHelp(topic); });
}

}  // namespace lb
