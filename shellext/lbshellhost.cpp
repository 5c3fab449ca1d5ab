// lbshellhost FILES...: plays the file manager for the shell extension. It creates the
// extension's class by its class identifier, hands it the selected paths, builds the
// context menu and chooses the extension's item. The file managers' action files run it.
#include "ShellHostObjects.h"

#include "platform/UiServices.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>
#include <cstdio>

namespace {

// Messages go to the error output and, where there is a screen, into a message box.
class THostUiServices : public CoreUiServices {
 public:
  int MessageBox(const QString& text, const QString& caption, unsigned flags) override {
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
      return CoreUiServices::MessageBox(text, caption, flags);
    QMessageBox box(
        (flags & MB_ICONMASK) == MB_ICONERROR ? QMessageBox::Critical : QMessageBox::Information,
        caption, text, QMessageBox::Ok);
    box.exec();
    return IDOK;
  }
};

constexpr UINT kFirstCommand = 1;

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setApplicationName("Lyrabox Tools");  // the title of a box without a caption
  // The message box speaks Russian like the program.
  QTranslator qt;
  if (qt.load(QLocale(QLocale::Russian, QLocale::Russia), "qtbase", "_",
              QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    app.installTranslator(&qt);
  THostUiServices ui;
  UiServices::Install(&ui);

  QStringList paths;
  for (const QString& arg : app.arguments().mid(1))
    paths << QDir::cleanPath(QFileInfo(arg).absoluteFilePath());
  if (paths.isEmpty()) {
    std::fprintf(stderr, "usage: lbshellhost FILES...\n");
    return 2;
  }

  CoInitialize(nullptr);
  int code = 1;
  {
    ComPtr<IShellExtInit> init;
    HRESULT hr = CoCreateInstance(CLSID_LBShellExtentionClass, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IShellExtInit, init.PutVoid());
    ComPtr<IContextMenu> menu;
    if (SUCCEEDED(hr)) hr = init->QueryInterface(IID_IContextMenu, menu.PutVoid());
    ComPtr<TShellDataObject> data;
    data.Attach(new TShellDataObject(paths));
    if (SUCCEEDED(hr)) hr = init->Initialize(nullptr, data.Get(), nullptr);
    ComPtr<TShellMenu> items;
    items.Attach(new TShellMenu);
    if (SUCCEEDED(hr))
      hr = menu->QueryContextMenu(items.Get(), 0, kFirstCommand, 0x7FFF, CMF_NORMAL);
    if (SUCCEEDED(hr) && !items->Items().isEmpty()) {
      CMINVOKECOMMANDINFO info{};
      info.cbSize = sizeof info;
      // The item chosen by its offset from the first command id.
      info.lpVerb = reinterpret_cast<const char*>(
          uintptr_t(items->Items().first().commandId - kFirstCommand));
      info.nShow = 1;
      hr = menu->InvokeCommand(&info);
      if (SUCCEEDED(hr)) code = 0;
    } else {
      // Started from a file manager, nobody reads the error output: say it in a box.
      UiServices::Instance().MessageBox(
          QStringLiteral("Файлы не переданы в LBTools: расширение оболочки не работает "
                         "(код 0x%1). Переустановите программу.")
              .arg(QString::number(uint32_t(hr), 16).rightJustified(8, QLatin1Char('0')).toUpper()),
          QString(), MB_OK | MB_ICONERROR);
    }
  }
  CoUninitialize();
  UiServices::Install(nullptr);
  return code;
}
