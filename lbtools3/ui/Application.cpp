#include "Application.h"

#include <QApplication>
#include <QHash>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace lb {

namespace {

// Texts of Qt's file dialogs that its Russian translation lacks.
class TQtGapsTranslator : public QTranslator {
 public:
  using QTranslator::QTranslator;
  bool isEmpty() const override { return false; }
  QString translate(const char* context, const char* sourceText, const char* disambiguation,
                    int n) const override {
    Q_UNUSED(disambiguation);
    Q_UNUSED(n);
    static const QHash<QByteArray, QString> fileTypes = {
        {"Folder", "Папка"}, {"File", "Файл"},   {"%1 File", "Файл %1"},
        {"Drive", "Диск"},   {"Alias", "Ярлык"}, {"Shortcut", "Ярлык"}};
    if (qstrcmp(context, "QAbstractFileIconProvider") != 0) return QString();
    return fileTypes.value(QByteArray(sourceText));
  }
};

}  // namespace

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 22, 32, 48, 64, 128, 256})
    icon.addFile(QString(":/icons/lbtools-%1.png").arg(size), QSize(size, size));
  return icon;
}

void SetUpApplication(QApplication& app) {
  app.setApplicationName("Lyrabox Tools");
  app.setWindowIcon(ProgramIcon());
  QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
  // Installed translators are asked last-installed first: the gaps come after qtbase.
  auto* gaps = new TQtGapsTranslator(&app);
  app.installTranslator(gaps);
  auto* qt = new QTranslator(&app);
  if (qt->load(QLocale(QLocale::Russian, QLocale::Russia), "qtbase", "_",
               QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    app.installTranslator(qt);
}

}  // namespace lb
