#include "QtUiServices.h"

#include "Help.h"
#include "InfoWindow.h"
#include "platform/MainThreadMail.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QAbstractItemView>
#include <QStyledItemDelegate>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QThread>
#include <QTreeView>
#include <algorithm>

namespace {

bool OnMainThread() {
  return QThread::currentThread() == qApp->thread();
}

QMessageBox::Icon IconOf(unsigned flags) {
  switch (flags & MB_ICONMASK) {
    case MB_ICONERROR:
      return QMessageBox::Critical;
    case MB_ICONQUESTION:
      return QMessageBox::Question;
    case MB_ICONWARNING:
      return QMessageBox::Warning;
    case MB_ICONINFORMATION:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

struct ButtonDef {
  int id;
  const char* text;
  QMessageBox::ButtonRole role;
};

// The buttons of each classic button set, in their order on the box.
QList<ButtonDef> ButtonsOf(unsigned type) {
  switch (type) {
    case MB_OKCANCEL:
      return {{IDOK, "OK", QMessageBox::AcceptRole}, {IDCANCEL, "Отмена", QMessageBox::RejectRole}};
    case MB_ABORTRETRYIGNORE:
      return {{IDABORT, "Прервать", QMessageBox::RejectRole},
              {IDRETRY, "Повторить", QMessageBox::AcceptRole},
              {IDIGNORE, "Пропустить", QMessageBox::AcceptRole}};
    case MB_YESNOCANCEL:
      return {{IDYES, "Да", QMessageBox::YesRole},
              {IDNO, "Нет", QMessageBox::NoRole},
              {IDCANCEL, "Отмена", QMessageBox::RejectRole}};
    case MB_YESNO:
      return {{IDYES, "Да", QMessageBox::YesRole}, {IDNO, "Нет", QMessageBox::NoRole}};
    case MB_RETRYCANCEL:
      return {{IDRETRY, "Повторить", QMessageBox::AcceptRole},
              {IDCANCEL, "Отмена", QMessageBox::RejectRole}};
    default:
      return {{IDOK, "OK", QMessageBox::AcceptRole}};
  }
}

// Runs a box with the given buttons; returns the id of the pressed one. Escape or
// closing the box gives the escape id. With a help context (>= 0) the box has a
// "Справка" button (and F1) that opens the guide there and asks again.
int RunBox(QWidget* parent, const QString& text, const QString& caption, QMessageBox::Icon icon,
           const QList<ButtonDef>& defs, int defaultIndex, int escapeId, int helpContext = -1) {
  QMessageBox box(icon, caption, text, QMessageBox::NoButton, parent);
  // A window of its own: a job that disabled the main window (and with it the windows
  // it owns) still gets its answer.
  box.setEnabled(true);
  QList<QAbstractButton*> buttons;
  for (const ButtonDef& d : defs) buttons << box.addButton(d.text, d.role);
  if (defaultIndex >= 0 && defaultIndex < buttons.size())
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons[defaultIndex]));
  for (int i = 0; i < defs.size(); ++i)
    if (defs[i].id == escapeId) box.setEscapeButton(buttons[i]);
  QAbstractButton* help =
      helpContext >= 0 ? box.addButton("Справка", QMessageBox::HelpRole) : nullptr;
  if (help) lb::SetHelpTopic(&box, lb::HelpContextTopic(helpContext));
  // Every button of a box closes it: after "Справка" the question comes back.
  do {
    box.exec();
    if (help && box.clickedButton() == help) lb::OpenHelp(lb::HelpContextTopic(helpContext));
  } while (help && box.clickedButton() == help);
  const int pressed = buttons.indexOf(box.clickedButton());
  return pressed >= 0 ? defs[pressed].id : escapeId;
}

// File sizes and dates in Russian ("4,9 КБ", "07.12.2026 13:44"): Qt writes "KiB" and
// English month names whatever the language. Drawn over the dialog's own model (a
// proxy model would break its selection of typed names).
class TRussianFilesDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const auto* files = qobject_cast<const QFileSystemModel*>(index.model());
    if (!files) return;
    if (index.column() == 3)
      option->text =
          QLocale(QLocale::Russian).toString(files->lastModified(index), "dd.MM.yyyy HH:mm");
    else if (index.column() == 1)
      option->text =
          files->isDir(index) ? QString() : QtUiServices::FileSizeText(files->size(index));
  }
};

// Classic filters ("Листы (*.m3u)|*.m3u|Все файлы|*") become Qt filters; Qt filters
// pass unchanged.
QString QtFilter(const QString& filter) {
  if (!filter.contains('|')) return filter;
  const QStringList parts = filter.split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    // Qt takes the patterns from the name's parentheses, separated by blanks only.
    QString name = parts[i];
    name.replace("; ", " ").replace(';', ' ');
    out << (name.contains('(') ? name : name + " (" + patterns + ")");
  }
  return out.join(";;");
}

// The extension of a Qt filter with one plain pattern ("HTML - файлы (*.htm)" gives
// "htm"); "" for "*.*" or several patterns.
QString FilterSuffix(const QString& nameFilter) {
  const qsizetype open = nameFilter.lastIndexOf('(');
  const qsizetype close = nameFilter.lastIndexOf(')');
  if (open < 0 || close < open) return QString();
  const QString pattern = nameFilter.mid(open + 1, close - open - 1).trimmed();
  if (!pattern.startsWith("*.")) return QString();
  const QString suffix = pattern.mid(2);
  for (QChar c : suffix)
    if (c == '*' || c == '?' || c == '.' || c.isSpace()) return QString();
  return suffix;
}

}  // namespace

QString QtUiServices::MimeType(const QString& format) {
  QString name = format;
  name.remove('{').remove('}');
  return "application/x-lbtools-" + name.toLower();
}

QWidget* QtUiServices::DialogParent() const {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (QWidget* active = QApplication::activeWindow()) return active;
  return m_MainWindow;
}

int QtUiServices::MessageBox(const QString& text, const QString& caption, unsigned flags) {
  if (!OnMainThread()) {
    int result = IDCANCEL;
    RunOnMainThread([&] { result = MessageBox(text, caption, flags); });
    return result;
  }
  return RunMessageBox(text, caption, flags, -1);
}

int QtUiServices::MessageBoxWithHelp(const QString& text, const QString& caption, unsigned flags,
                                     int helpContext) {
  if (!OnMainThread()) {
    int result = IDCANCEL;
    RunOnMainThread([&] { result = MessageBoxWithHelp(text, caption, flags, helpContext); });
    return result;
  }
  return RunMessageBox(text, caption, flags, helpContext);
}

int QtUiServices::RunMessageBox(const QString& text, const QString& caption, unsigned flags,
                                int helpContext) {
  const QList<ButtonDef> defs = ButtonsOf(flags & MB_TYPEMASK);
  const int def = (flags & MB_DEFMASK) == MB_DEFBUTTON2   ? 1
                  : (flags & MB_DEFMASK) == MB_DEFBUTTON3 ? 2
                                                          : 0;
  int escape = defs.size() == 1 ? defs[0].id : IDCANCEL;
  if ((flags & MB_TYPEMASK) == MB_YESNO) escape = IDNO;
  if ((flags & MB_TYPEMASK) == MB_ABORTRETRYIGNORE) escape = IDABORT;
  return RunBox(DialogParent(), text, caption, IconOf(flags), defs, def, escape, helpContext);
}

int QtUiServices::AskButtons(const QString& text, const QString& caption, unsigned buttons,
                             unsigned icon) {
  if (!OnMainThread()) {
    int result = IDCANCEL;
    RunOnMainThread([&] { result = AskButtons(text, caption, buttons, icon); });
    return result;
  }
  QList<ButtonDef> defs;
  if (buttons & abYes) defs << ButtonDef{IDYES, "Да", QMessageBox::YesRole};
  if (buttons & abNo) defs << ButtonDef{IDNO, "Нет", QMessageBox::NoRole};
  if (buttons & abCancel) defs << ButtonDef{IDCANCEL, "Отмена", QMessageBox::RejectRole};
  if (buttons & abYesToAll) defs << ButtonDef{IDYESTOALL, "Да для всех", QMessageBox::YesRole};
  if (buttons & abNoToAll) defs << ButtonDef{IDNOTOALL, "Нет для всех", QMessageBox::NoRole};
  const int escape = (buttons & abCancel) ? IDCANCEL : (buttons & abNo) ? IDNO : IDCANCEL;
  return RunBox(DialogParent(), text, caption, IconOf(icon), defs, 0, escape);
}

void QtUiServices::ProcessMessages() {
  QCoreApplication::processEvents();
}

void QtUiServices::RunOnMainThread(const std::function<void()>& fn) {
  if (OnMainThread()) {
    fn();
    return;
  }
  RunQueuedOnMainThread(qApp, fn);
}

void QtUiServices::SetBusyCursor(bool busy) {
  if (busy) {
    if (m_nBusy++ == 0) QApplication::setOverrideCursor(Qt::WaitCursor);
  } else if (m_nBusy > 0 && --m_nBusy == 0) {
    QApplication::restoreOverrideCursor();
  }
}

bool QtUiServices::SetClipboardData(const QString& format, const QByteArray& data) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (!clipboard) return false;
  auto* mime = new QMimeData;
  mime->setData(MimeType(format), data);
  clipboard->setMimeData(mime);
  return true;
}

bool QtUiServices::GetClipboardData(const QString& format, QByteArray* data) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  const QMimeData* mime = clipboard ? clipboard->mimeData() : nullptr;
  if (!mime || !mime->hasFormat(MimeType(format))) return false;
  if (data) *data = mime->data(MimeType(format));
  return true;
}

QString QtUiServices::FileSizeText(qint64 bytes) {
  static const char* const units[] = {"КБ", "МБ", "ГБ", "ТБ"};
  if (bytes < 1024) return QString::number(bytes) + " байт";
  double value = bytes / 1024.0;
  int unit = 0;
  while (value >= 1024 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  return QLocale(QLocale::Russian).toString(value, 'f', value < 10 ? 1 : 0) + " " + units[unit];
}

QString QtUiServices::StartFolder(const QString& folder) const {
  if (!folder.isEmpty()) return folder;
  if (!m_LastFolder.isEmpty() && QDir(m_LastFolder).exists()) return m_LastFolder;
  const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
  return QDir(music).exists() ? music : QDir::homePath();
}

void QtUiServices::RememberFolder(const QString& path, bool isFolder) {
  if (!path.isEmpty()) m_LastFolder = isFolder ? path : QFileInfo(path).absolutePath();
}

QStringList QtUiServices::RunFileDialog(QFileDialog& dialog) {
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  for (QAbstractItemView* view : dialog.findChildren<QAbstractItemView*>())
    if (qobject_cast<const QFileSystemModel*>(view->model()))
      view->setItemDelegate(new TRussianFilesDelegate(view));
  // The detail view's date column holds a whole date and time; the dialog has the room
  // for it beside the names.
  for (QTreeView* tree : dialog.findChildren<QTreeView*>()) {
    if (!qobject_cast<const QFileSystemModel*>(tree->model())) continue;
    QHeaderView* header = tree->header();
    const int dateWidth =
        tree->fontMetrics().horizontalAdvance(QStringLiteral("00.00.0000 00:00")) +
        4 * tree->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 16;
    if (header->count() > 3 && header->sectionSize(3) < dateWidth)
      header->resizeSection(3, dateWidth);
  }
  dialog.resize(std::max(dialog.width(), 760), std::max(dialog.height(), 460));
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList chosen = dialog.selectedFiles();
  if (!chosen.isEmpty())
    RememberFolder(chosen.first(), dialog.fileMode() == QFileDialog::Directory);
  return chosen;
}

QStringList QtUiServices::GetOpenFileNames(const QString& title, const QString& folder,
                                           const QString& filter) {
  QFileDialog dialog(DialogParent(), title, StartFolder(folder), QtFilter(filter));
  dialog.setFileMode(QFileDialog::ExistingFiles);
  return RunFileDialog(dialog);
}

QString QtUiServices::GetSaveFileName(const QString& title, const QString& fileName,
                                      const QString& filter) {
  // A proposed name in a folder that does not exist keeps the name, in the last folder.
  QString start = fileName;
  if (!fileName.isEmpty() && !QFileInfo(fileName).absoluteDir().exists())
    start = StartFolder(QString()) + "/" + QFileInfo(fileName).fileName();
  QFileDialog dialog(DialogParent(), title, StartFolder(start), QtFilter(filter));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  // The filter of the proposed name's extension is chosen first, and a name typed
  // without an extension gets the chosen filter's one before the dialog asks about
  // overwriting (so it asks about the file that will be written).
  const QString proposed = QFileInfo(fileName).suffix();
  for (const QString& nameFilter : dialog.nameFilters()) {
    if (!proposed.isEmpty() &&
        FilterSuffix(nameFilter).compare(proposed, Qt::CaseInsensitive) == 0) {
      dialog.selectNameFilter(nameFilter);
      break;
    }
  }
  dialog.setDefaultSuffix(FilterSuffix(dialog.selectedNameFilter()));
  QObject::connect(
      &dialog, &QFileDialog::filterSelected, &dialog,
      [&dialog](const QString& nameFilter) { dialog.setDefaultSuffix(FilterSuffix(nameFilter)); });
  const QStringList chosen = RunFileDialog(dialog);
  return chosen.isEmpty() ? QString() : chosen.first();
}

QString QtUiServices::GetExistingFolder(const QString& title, const QString& folder) {
  QFileDialog dialog(DialogParent(), title, StartFolder(folder));
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  const QStringList chosen = RunFileDialog(dialog);
  return chosen.isEmpty() ? QString() : chosen.first();
}

std::unique_ptr<IProgressView> QtUiServices::CreateProgressView(std::function<void()> onStop) {
  return std::make_unique<TInfoWindow>(m_MainWindow, std::move(onStop));
}

bool QtUiServices::MainWindowEnabled() const {
  return m_MainWindow ? m_MainWindow->isEnabled() : m_bMainEnabled;
}

void QtUiServices::SetMainWindowEnabled(bool enabled) {
  if (m_MainWindow)
    m_MainWindow->setEnabled(enabled);
  else
    m_bMainEnabled = enabled;
}
