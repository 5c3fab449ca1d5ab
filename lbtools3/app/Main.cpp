#include "Main.h"

#include "About.h"
#include "lbtools3/ui/Help.h"
#include "lbtools3/settings/SettingsDialog.h"
#include "lbtools3/ui/Application.h"
#include "lbtools3/ui/QtUiServices.h"
#include "lbtools3/repository/Repository.h"
#include "lbtools3/repository/RepositoryView.h"
#include "WindowLayout.h"

#include "lbtools3/docwin/DocumentWindow.h"
#include "lbtools3/player/AudaciousBinding.h"
#include "lbtools3/player/PlayerControl.h"
#include "lbtools3/model/InfoWindowManager.h"
#include "lbtools3/model/M3uList.h"
#include "lbtools3/tags/TagsApply.h"

#include "platform/IniFile.h"
#include "platform/UiServices.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QStyle>
#include <QScreen>
#include <QSlider>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

bool ActionEnabled(TActionRule rule, const TActionState& s) {
  switch (rule) {
    case TActionRule::Always:
      return true;
    case TActionRule::Doc:
      return s.doc;
    case TActionRule::Sel:
      return s.doc && s.selected > 0;
    case TActionRule::SelIdle:
      return s.doc && s.selected > 0 && s.idle;
    case TActionRule::OneSel:
      return s.doc && s.selected == 1;
    case TActionRule::Modified:
      return s.doc && s.modified;
    case TActionRule::AnyModified:
      return s.anyModified;
    case TActionRule::Paste:
      return s.doc && s.paste;
    case TActionRule::Winamp:
      return s.winamp;
    case TActionRule::Rep:
      return s.repSelected > 0;
    case TActionRule::RepOne:
      return s.repSelected == 1;
    case TActionRule::TagsUndo:
      return s.doc && s.tagsUndo;
    case TActionRule::Later:
      return false;
  }
  return false;
}

namespace {

using R = TActionRule;

// Tool-bar pictures: the style's own where it has one, else a small drawing (a fresh
// machine may have no icon theme).
QIcon DrawnIcon(const QString& name) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(40, 60, 110), 2));
  p.setBrush(QColor(235, 240, 250));
  if (name == "EditCut") {
    p.drawEllipse(QRectF(5, 20, 8, 8));
    p.drawEllipse(QRectF(19, 20, 8, 8));
    p.drawLine(QPointF(11, 21), QPointF(22, 4));
    p.drawLine(QPointF(21, 21), QPointF(10, 4));
  } else if (name == "EditCopy") {
    p.drawRect(QRectF(5, 4, 14, 18));
    p.drawRect(QRectF(13, 10, 14, 18));
  } else if (name == "EditPaste") {
    p.drawRect(QRectF(6, 6, 20, 23));
    p.setBrush(QColor(40, 60, 110));
    p.drawRect(QRectF(11, 3, 10, 6));
  } else if (name == "WindowTileVertical1") {
    p.drawRect(QRectF(4, 5, 11, 22));
    p.drawRect(QRectF(17, 5, 11, 22));
  } else if (name == "WindowTileHorizontal1") {
    p.drawRect(QRectF(4, 4, 24, 11));
    p.drawRect(QRectF(4, 17, 24, 11));
  } else if (name == "WindowCascade1") {
    p.drawRect(QRectF(3, 3, 16, 13));
    p.drawRect(QRectF(8, 9, 16, 13));
    p.drawRect(QRectF(13, 15, 16, 13));
  } else {
    return QIcon();
  }
  return QIcon(pixmap);
}

QIcon ActionIcon(const QString& name, QStyle* style) {
  static const QHash<QString, QStyle::StandardPixmap> standard = {
      {"FileNew1", QStyle::SP_FileIcon},
      {"FileOpen1", QStyle::SP_DialogOpenButton},
      {"FileSaveDoc", QStyle::SP_DialogSaveButton},
      {"WinampBackward", QStyle::SP_MediaSkipBackward},
      {"WinampPlay", QStyle::SP_MediaPlay},
      {"WinampPause", QStyle::SP_MediaPause},
      {"WinampStop", QStyle::SP_MediaStop},
      {"WinampForward", QStyle::SP_MediaSkipForward},
      {"EditDelete", QStyle::SP_TrashIcon},
  };
  if (standard.contains(name)) return style->standardIcon(standard.value(name));
  return DrawnIcon(name);
}

// One row of the action table.
struct TActionEntry {
  const char* name;
  const char* caption;
  const char* shortcut;
  TActionRule rule;
};

// The action table: every command of the menus, tool bars and short-cuts. Commands
// whose operation has not landed yet stand as Later and stay disabled.
const TActionEntry kActions[] = {
    {"FileNew1", "&Новый", "Ctrl+N", R::Later},
    {"FileOpen1", "&Открыть", "Ctrl+O", R::Later},
    {"FileClose1", "&Закрыть", "Ctrl+F4", R::Later},
    {"FileSaveDoc", "Сохранить", "Ctrl+S", R::Later},
    {"FileSaveDocAs", "Сохранить как...", "", R::Later},
    {"FileSaveAll", "Сохранить всё", "", R::Later},
    {"FileWrite", "Записать как &текст", "Ctrl+T", R::Later},
    {"FileExit1", "&Выход...", "", R::Always},
    {"EditCut", "Вырезать", "Ctrl+X", R::Later},
    {"EditCopy", "Копировать", "Ctrl+C", R::Later},
    {"EditPaste", "Вставить", "Ctrl+V", R::Later},
    {"EditDelete", "Удалить", "Del", R::Later},
    {"EditSelectAll", "Отметить всё", "Ctrl+A", R::Later},
    {"EditInvertSelected", "Инверт. отмеченное", "", R::Later},
    {"EditUndoTags", lbtags::kUndoText, "Ctrl+Z", R::TagsUndo},
    {"OptionsDocColumns", "Колонки документа...", "Ctrl+Alt+C", R::Later},
    {"OptionsTagsEdit", "Редактор тэгов...", "Ctrl+E", R::Later},
    {"OptionsFindText", "Поиск текста...", "Ctrl+F", R::Later},
    {"OptionsSortItems", "Сортировка...", "", R::Later},
    {"OptionsRenameFiles", "Переименование...", "Ctrl+R", R::Later},
    {"OptionsDeleteFiles", "Удаление файлов", "Ctrl+D", R::Later},
    {"OptionsDeleteFiles2", "Удаление файлов", "Ctrl+Shift+D", R::Later},
    {"OptionsCopyFiles", "Копировать...", "", R::Later},
    {"OptionsMoveFiles", "Переместить...", "", R::Later},
    {"OptionsAddSong", "Добавить песни...", "Ins", R::Later},
    {"OptionsAddSync1", "Установить для ID3v1", "", R::Later},
    {"OptionsDelSync1", "Сбросить для ID3v1", "", R::Later},
    {"OptionsAddSync2", "Установить для ID3v2", "", R::Later},
    {"OptionsDelSync2", "Сбросить для ID3v2", "", R::Later},
    {"OptionsOpenFolder", "Открыть папку", "", R::Later},
    {"OptionsGetFilesInfo", "Информация о файлах", "Ctrl+I", R::Later},
    {"OptionsMainToolBar", "П&анель управления", "", R::Always},
    {"OptionsPlayToolBar", "Па&нель проигрывания", "", R::Always},
    {"OptionsSettings", "&Настройка...", "", R::Always},
    {"ServiceCorrectPathsFull", "В полный формат", "", R::Later},
    {"ServiceCorrectPathsBrief", "В краткий формат", "", R::Later},
    {"ServiceChangePaths", "Изменение путей...", "", R::Later},
    {"ServiceCheckList", "Проверка листа", "", R::Later},
    {"ServiceRelink", "Найти перемещённые файлы...", "", R::Later},
    {"ServiceRescan", "Пересканировать", "", R::Later},
    {"ServiceLoosedFiles", "Забытые файлы...", "", R::Later},
    {"ServiceRecognize", "Извлечение информации...", "", R::Later},
    {"ServiceSoundVolume", "Регулятор громкости", "", R::Later},
    {"RepListAddList", "&Добавить ссылку", "", R::Later},
    {"RepListRemoveList", "&Удалить ссылку", "", R::Later},
    {"RepListActDeleteList", "&Удалить лист", "", R::Later},
    {"RepListScanComp", "&Сканировать папку", "", R::Later},
    {"RepListAddListToWinamp", "Проиграть лист", "", R::RepOne},
    {"RepListCloseSelectedLists", "Закрыть отмеченные листы", "", R::Later},
    {"RepListOpenSelectedLists", "Открыть отмеченные листы", "", R::Later},
    {"RepListOpenExternalEditor", "Внешний просмотрщик", "", R::Later},
    {"WinampBackward", "backward", "", R::Winamp},
    {"WinampPlay", "Play", "", R::Sel},
    {"WinampPlayWithReload", "Проиграть с перезагрузкой листа", "", R::Sel},
    {"WinampPlaySelected", "Проиграть выделенное", "", R::Sel},
    {"WinampPause", "Pause", "", R::Winamp},
    {"WinampStop", "Stop", "", R::Winamp},
    {"WinampForward", "forward", "", R::Winamp},
    {"WinampShow", "WinampShow", "", R::Always},
    {"WindowCascade1", "&Каскад", "", R::Always},
    {"WindowTileHorizontal1", "&Горизонтально", "", R::Always},
    {"WindowTileVertical1", "&Вертикально", "", R::Always},
    {"WindowMinimizeAll1", "&Свернуть всё", "", R::Always},
    {"WindowArrangeAll1", "&Arrange All", "", R::Always},
    {"HelpContents", "Помощь...", "F1", R::Always},
    {"HelpMainDescription", "Идеология программы...", "Ctrl+F1", R::Always},
    {"HelpAbout1", "&О программе...", "", R::Always},
    {"GlobalTab", "GlobalTab", "Tab", R::Always},
};

// The actions of the hot-key slots, in slot order.
const char* const kHotKeyActions[7] = {"WinampBackward",    "WinampPlay",    "WinampPause",
                                       "WinampStop",        "WinampForward", "WinampShow",
                                       "ServiceSoundVolume"};

}  // namespace

TMainForm::TMainForm(TIniFile& ini, bool bShellStart, lb::TNamedEvent* instance, QWidget* parent)
    : QMainWindow(parent),
      m_Ini(ini),
      m_bShellStart(bShellStart),
      m_Instance(instance),
      m_bIniExistedAtStart(QFileInfo::exists(ini.FileName())) {
  setWindowTitle("Lyrabox Tools, 3.0");
  setWindowIcon(lb::ProgramIcon());
  setAcceptDrops(true);
  // The first run looks for the player and turns the work with it on when found.
  if (!m_bIniExistedAtStart) {
    QString player;
    if (LocateWinamp(&player)) {
      m_Ini.WriteBool("Edit", "Winamp", true);
      m_Ini.WriteString("Edit", "Winamp_path", player);
    }
  }
  CreateActions();
  CreateMenus();
  CreateToolBars();
  CreateCentralArea();
  CreateStatusBar();
  CreateTray();
  ConnectDocumentActions();
  ConnectRepositoryActions();
  ConnectMaintenanceActions();
  ConnectPlayer();
  ConnectFileActions();
  ConnectRecognizer();
  resize(900, 600);
  RegisterPorts();

  auto clipboardChanged = [this] {
    const QMimeData* data = QApplication::clipboard()->mimeData();
    m_bClipboardHasList =
        data && data->hasFormat(QtUiServices::MimeType(TSlDocument::kClipboardFormat));
  };
  connect(QApplication::clipboard(), &QClipboard::dataChanged, this, clipboardChanged);
  clipboardChanged();

  // Enabling rules are checked when the program is idle, as the state they look at
  // changes in many places (selection, clipboard, synchronisation passes).
  auto* updater = new QTimer(this);
  connect(updater, &QTimer::timeout, this, &TMainForm::UpdateActions);
  updater->start(250);
  UpdateActions();
}

TMainForm::~TMainForm() {
  // Document windows report to the repository as they go: they go while it lives.
  m_bExiting = true;
  for (QMdiSubWindow* sub : m_Mdi->subWindowList()) delete sub;
  m_Repository->SetFactory(nullptr);
  m_MainPort.Unregister();
  m_ApplicationPort.Unregister();
  lb::DeleteRunTimeKey();
}

void TMainForm::RegisterPorts() {
  const int64_t main = m_MainPort.Register([this](uint32_t msg, uint64_t wParam, int64_t lParam) {
    return OnMainMessage(msg, wParam, lParam);
  });
  const int64_t application = m_ApplicationPort.Register([this](uint32_t msg, uint64_t, int64_t) {
    if (msg != lb::kRaiseMessage) return int64_t(0);
    showNormal();
    raise();
    activateWindow();
    return int64_t(1);
  });
  lb::WriteRunTimeHandles(main, application);
  // A later start learns from the instance event itself which window to raise.
  if (m_Instance) m_Instance->Publish(application);
}

int64_t TMainForm::OnMainMessage(uint32_t msg, uint64_t wParam, int64_t) {
  if (msg == lb::kHotKeyMessage) {
    HotKey(static_cast<uint16_t>(wParam & 0xFFFF));
    return 1;
  }
  if (msg == lb::kHandOverMessage) {
    // The sender holds the mapping while it waits for this answer. The window goes on
    // while it is read; the program may have begun to close meanwhile.
    const std::optional<QStringList> paths = lb::ReadHandOverMapping(wParam);
    if (!paths || m_bExiting) return 0;
    // Taken: the sender is answered now, and the files go in once no job is under way.
    // Their scan may ask the user things, and the sender must not wait for the user.
    m_HeldHandOvers << lb::BuildHandOverPayload(*paths);
    if (!m_bHandOversHeld) InfoWindowManager().WhenNoJob(this, [this] { TakeHeldHandOvers(); });
    return 1;
  }
  return 0;
}

QAction* TMainForm::FindAction(const QString& name) const {
  return m_Actions.value(name);
}

void TMainForm::CreateActions() {
  for (const auto& entry : kActions) {
    auto* action = new QAction(QString::fromUtf8(entry.caption), this);
    action->setObjectName(entry.name);
    if (*entry.shortcut) action->setShortcut(QKeySequence(QString::fromLatin1(entry.shortcut)));
    action->setIcon(ActionIcon(entry.name, style()));
    action->setStatusTip(action->text().remove('&'));
    m_Actions.insert(entry.name, action);
    m_Rules.insert(entry.name, entry.rule);
    addAction(action);  // short-cuts work even for actions that are in no menu
  }
  connect(Act("FileExit1"), &QAction::triggered, this, &TMainForm::FileExit1Execute);
  connect(Act("HelpAbout1"), &QAction::triggered, this, &TMainForm::HelpAbout1Execute);
  connect(Act("HelpContents"), &QAction::triggered, this, &TMainForm::HelpContentsExecute);
  connect(Act("HelpMainDescription"), &QAction::triggered, this,
          &TMainForm::HelpMainDescriptionExecute);
  connect(Act("GlobalTab"), &QAction::triggered, this, &TMainForm::GlobalTabExecute);
  connect(Act("OptionsSettings"), &QAction::triggered, this, &TMainForm::OpenSettings);
  for (const char* name : {"OptionsMainToolBar", "OptionsPlayToolBar"})
    Act(name)->setCheckable(true);
  Act("FileClose1")->setShortcuts({QKeySequence("Ctrl+F4"), QKeySequence("Ctrl+W")});
}

void TMainForm::CreateMenus() {
  QMenuBar* bar = menuBar();
  auto add = [this](QMenu* menu, std::initializer_list<const char*> names) {
    for (const char* name : names) {
      if (*name == '-')
        menu->addSeparator();
      else
        menu->addAction(Act(name));
    }
  };
  QMenu* file = bar->addMenu("&Файл");
  add(file, {"FileNew1", "FileOpen1", "FileClose1", "-", "FileSaveDoc", "FileSaveDocAs",
             "FileSaveAll", "-", "FileWrite", "-", "FileExit1"});
  QMenu* edit = bar->addMenu("&Правка");
  add(edit, {"EditCut", "EditCopy", "EditPaste", "EditDelete", "-", "EditSelectAll",
             "EditInvertSelected"});
  add(edit, {"-", "EditUndoTags"});
  QMenu* options = bar->addMenu("&Опции");
  add(options, {"OptionsDocColumns", "OptionsTagsEdit", "OptionsFindText", "OptionsSortItems", "-",
                "OptionsRenameFiles", "OptionsDeleteFiles", "OptionsCopyFiles", "OptionsMoveFiles",
                "OptionsAddSong", "-"});
  QMenu* sync = options->addMenu("Синхронизация");
  add(sync, {"OptionsAddSync1", "OptionsDelSync1", "-", "OptionsAddSync2", "OptionsDelSync2"});
  add(options, {"-", "OptionsOpenFolder", "OptionsGetFilesInfo", "-", "OptionsMainToolBar",
                "OptionsPlayToolBar", "-", "OptionsSettings"});
  QMenu* service = bar->addMenu("&Сервис");
  QMenu* paths = service->addMenu("Конвертация путей");
  add(paths, {"ServiceCorrectPathsFull", "ServiceCorrectPathsBrief"});
  add(service, {"ServiceChangePaths", "-", "ServiceCheckList", "ServiceRelink", "ServiceRescan",
                "ServiceLoosedFiles", "-", "ServiceRecognize", "-", "ServiceSoundVolume"});
  QMenu* repository = bar->addMenu("&Хранилище листов");
  add(repository,
      {"RepListAddList", "RepListRemoveList", "RepListScanComp", "-", "RepListActDeleteList", "-",
       "RepListAddListToWinamp", "-", "RepListOpenSelectedLists", "RepListCloseSelectedLists", "-",
       "RepListOpenExternalEditor"});
  QMenu* window = bar->addMenu("&Окно");
  add(window, {"WindowCascade1", "WindowTileHorizontal1", "WindowTileVertical1",
               "WindowMinimizeAll1", "WindowArrangeAll1"});
  connect(window, &QMenu::aboutToShow, this, [this, window] { FillWindowMenu(window); });
  QMenu* help = bar->addMenu("&Помощь");
  add(help, {"HelpContents", "HelpMainDescription", "-", "HelpAbout1"});
}

void TMainForm::FillWindowMenu(QMenu* menu) {
  // The open windows follow the fixed commands, the active one ticked.
  for (QAction* action : menu->actions())
    if (action->property("lbWindowEntry").toBool()) delete action;
  const QList<QMdiSubWindow*> windows = m_Mdi->subWindowList();
  if (windows.isEmpty()) return;
  menu->addSeparator()->setProperty("lbWindowEntry", true);
  for (int i = 0; i < windows.size(); ++i) {
    QMdiSubWindow* sub = windows[i];
    const QString title = sub->widget() ? sub->widget()->windowTitle() : sub->windowTitle();
    QAction* entry = menu->addAction((i < 9 ? QString("&%1 ").arg(i + 1) : QString()) + title);
    entry->setProperty("lbWindowEntry", true);
    entry->setCheckable(true);
    entry->setChecked(sub == m_Mdi->activeSubWindow());
    connect(entry, &QAction::triggered, this, [this, sub = QPointer<QMdiSubWindow>(sub)] {
      if (!sub) return;
      if (sub->isMinimized()) sub->showNormal();
      m_Mdi->setActiveSubWindow(sub);
    });
  }
}

QMenu* TMainForm::createPopupMenu() {
  // The menu bar stays: hidden, nothing would bring it back.
  QMenu* menu = QMainWindow::createPopupMenu();
  if (menu) menu->removeAction(m_MenuToolBar->toggleViewAction());
  return menu;
}

void TMainForm::CreateToolBars() {
  // The menu bar sits in a tool bar of its own, so that it can be docked like the others.
  m_MenuToolBar = new QToolBar("Главное меню программы LBTools", this);
  m_MenuToolBar->setObjectName("MenuToolBar");
  m_MenuToolBar->addWidget(menuBar());
  addToolBar(Qt::TopToolBarArea, m_MenuToolBar);

  m_MainToolBar = new QToolBar("Панель инструментов", this);
  m_MainToolBar->setObjectName("MainToolBar");
  for (const char* name :
       {"FileNew1", "FileOpen1", "FileSaveDoc", "-", "EditCut", "EditCopy", "EditPaste",
        "EditDelete", "-", "WindowTileVertical1", "WindowTileHorizontal1", "WindowCascade1"}) {
    if (*name == '-')
      m_MainToolBar->addSeparator();
    else
      m_MainToolBar->addAction(Act(name));
  }
  addToolBarBreak(Qt::TopToolBarArea);
  addToolBar(Qt::TopToolBarArea, m_MainToolBar);

  m_WinampToolBar = new QToolBar("Панель управления Audacious", this);
  m_WinampToolBar->setObjectName("WinampToolBar");
  m_WinampToolBar->addAction(Act("WinampBackward"));
  auto* play = new QToolButton(m_WinampToolBar);
  play->setDefaultAction(Act("WinampPlay"));
  auto* playMenu = new QMenu(play);
  playMenu->addAction(Act("WinampPlayWithReload"));
  playMenu->addAction(Act("WinampPlaySelected"));
  play->setMenu(playMenu);
  play->setPopupMode(QToolButton::MenuButtonPopup);
  m_WinampToolBar->addWidget(play);
  for (const char* name : {"WinampPause", "WinampStop", "WinampForward"})
    m_WinampToolBar->addAction(Act(name));
  m_PositionBar = new QSlider(Qt::Horizontal, m_WinampToolBar);
  m_PositionBar->setToolTip("Регулятор позиции востроизведения");
  m_PositionBar->setMinimumWidth(160);
  m_WinampToolBar->addWidget(m_PositionBar);
  m_VolumeBar = new QSlider(Qt::Horizontal, m_WinampToolBar);
  m_VolumeBar->setToolTip("Регулятор громкости");
  m_VolumeBar->setRange(0, 255);
  m_VolumeBar->setMaximumWidth(80);
  m_WinampToolBar->addWidget(m_VolumeBar);
  addToolBar(Qt::TopToolBarArea, m_WinampToolBar);

  // A vertical dock turns both bars vertical; a vertical volume bar counts from the
  // top, so its value is mirrored to keep the audible volume.
  connect(m_WinampToolBar, &QToolBar::orientationChanged, this, [this](Qt::Orientation o) {
    m_PositionBar->setOrientation(o);
    const int volume = m_VolumeBar->value();
    m_VolumeBar->setOrientation(o);
    m_VolumeBar->setInvertedAppearance(o == Qt::Vertical);
    m_VolumeBar->setValue(volume);
  });

  for (auto [bar, name] : {std::pair{m_MainToolBar, "OptionsMainToolBar"},
                           std::pair{m_WinampToolBar, "OptionsPlayToolBar"}}) {
    QAction* action = Act(name);
    QToolBar* toolBar = bar;
    action->setChecked(true);
    connect(action, &QAction::triggered, this,
            [this, toolBar, action](bool checked) { ShowToolBar(toolBar, action, checked); });
    // The tool bars' pop-up menu hides and shows them too: the tick follows.
    connect(toolBar->toggleViewAction(), &QAction::toggled, action, &QAction::setChecked);
  }
  m_MenuToolBar->toggleViewAction()->setVisible(false);
}

void TMainForm::ShowToolBar(QToolBar* bar, QAction* action, bool visible) {
  action->setChecked(visible);
  bar->setVisible(visible);
}

void TMainForm::CreateCentralArea() {
  m_Splitter = new QSplitter(Qt::Horizontal, this);
  m_Repository = std::make_unique<TListsRepository>(m_Ini, this, m_bShellStart);
  m_RepositoryView = new TRepositoryView(*m_Repository, m_Splitter);
  m_RepositoryView->setToolTip("Хранилище листов");
  m_RepositoryView->setContextMenuPolicy(Qt::ActionsContextMenu);
  for (const char* name :
       {"RepListAddList", "RepListRemoveList", "RepListScanComp", "RepListActDeleteList",
        "RepListAddListToWinamp", "RepListOpenSelectedLists", "RepListCloseSelectedLists",
        "RepListOpenExternalEditor"})
    m_RepositoryView->addAction(Act(name));
  m_Mdi = new QMdiArea(m_Splitter);
  m_Mdi->setActivationOrder(QMdiArea::CreationOrder);
  m_Splitter->addWidget(m_RepositoryView);
  m_Splitter->addWidget(m_Mdi);
  m_Splitter->setStretchFactor(1, 1);
  m_Splitter->setSizes({176, 700});
  setCentralWidget(m_Splitter);

  connect(Act("WindowCascade1"), &QAction::triggered, m_Mdi, &QMdiArea::cascadeSubWindows);
  connect(Act("WindowArrangeAll1"), &QAction::triggered, m_Mdi, &QMdiArea::tileSubWindows);
  connect(Act("WindowTileVertical1"), &QAction::triggered, this, [this] {
    // Side by side: each window takes the full height and an equal share of the width.
    const QList<QMdiSubWindow*> windows = m_Mdi->subWindowList();
    if (windows.isEmpty()) return;
    const QRect area = m_Mdi->viewport()->rect();
    const int width = area.width() / int(windows.size());
    for (int i = 0; i < windows.size(); ++i) {
      windows[i]->showNormal();
      windows[i]->setGeometry(i * width, 0, width, area.height());
    }
  });
  connect(Act("WindowTileHorizontal1"), &QAction::triggered, this, [this] {
    // One above the other: each window takes the full width and an equal share of the
    // height.
    const QList<QMdiSubWindow*> windows = m_Mdi->subWindowList();
    if (windows.isEmpty()) return;
    const QRect area = m_Mdi->viewport()->rect();
    const int height = area.height() / int(windows.size());
    for (int i = 0; i < windows.size(); ++i) {
      windows[i]->showNormal();
      windows[i]->setGeometry(0, i * height, area.width(), height);
    }
  });
  connect(Act("WindowMinimizeAll1"), &QAction::triggered, this, [this] {
    for (QMdiSubWindow* w : m_Mdi->subWindowList()) w->showMinimized();
  });
}

void TMainForm::CreateStatusBar() {
  m_StatusHint = new QLabel(this);
  m_StatusHint->setMinimumWidth(450);
  m_StatusTime = new QLabel(this);
  m_StatusTime->setMinimumWidth(50);
  statusBar()->addWidget(m_StatusHint, 1);
  statusBar()->addPermanentWidget(m_StatusTime);
  // Hints of menu items and buttons go to the first panel.
  connect(statusBar(), &QStatusBar::messageChanged, m_StatusHint, &QLabel::setText);
}

void TMainForm::CreateTray() {
  // Made whether or not a tray exists now: a panel may start after the program.
  m_Tray = new QSystemTrayIcon(windowIcon(), this);
  m_Tray->setToolTip("Lyrabox Tools");
  connect(m_Tray, &QSystemTrayIcon::activated, this, [this] {
    showNormal();
    activateWindow();
  });
}

void TMainForm::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !m_Tray) return;
  if (!m_Ini.ReadBool("Settings", "HideMainWindow", false)) return;
  // Without a tray the hidden window could only be reached by starting the program again.
  if (isMinimized() && QSystemTrayIcon::isSystemTrayAvailable()) {
    m_Tray->show();
    QTimer::singleShot(0, this, &QWidget::hide);
  } else if (m_Tray->isVisible()) {
    m_Tray->hide();
    show();
  }
}

void TMainForm::UpdateActions() {
  const TActionState state = CurrentActionState();
  for (auto it = m_Rules.cbegin(); it != m_Rules.cend(); ++it)
    m_Actions.value(it.key())->setEnabled(ActionEnabled(it.value(), state));
  Act("RepListOpenExternalEditor")->setVisible(m_bEditorPathUsed);
  // The undo names the change it undoes.
  Act("EditUndoTags")
      ->setText(state.undoText.isEmpty() ? QString::fromUtf8(lbtags::kUndoText) : state.undoText);
  MarkModifiedDocuments();
  Act("WinampPlayWithReload")->setVisible(m_Ini.ReadBool("Edit", "FastPlay", false));
}

// ---------------------------------------------------------------------------------
// Showing, activation, layout

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (m_bShownOnce) return;
  m_bShownOnce = true;
  FirstShowing();
  // A window restored minimised is not activated until the user restores it; the
  // program must be ready (and the instance event signalled) all the same.
  if (!m_bActivatedOnce) {
    m_bActivatedOnce = true;
    QTimer::singleShot(0, this, &TMainForm::FirstActivation);
  }
}

bool TMainForm::event(QEvent* event) {
  const bool result = QMainWindow::event(event);
  if (event->type() == QEvent::WindowActivate && !m_bActivatedOnce) {
    // Deferred so that the window is painted before the first-activation work runs.
    m_bActivatedOnce = true;
    QTimer::singleShot(0, this, &TMainForm::FirstActivation);
  }
  return result;
}

void TMainForm::FirstShowing() {
  if (!m_bIniExistedAtStart && m_ScreenshotFile.isEmpty()) {
    TRepresentationDlg greeting(this);
    greeting.exec();
  }
  if (m_bIniExistedAtStart) RestoreLayout();
  const int width = m_RepositoryView->LoadView();
  m_Splitter->setSizes({width, qMax(100, m_Splitter->width() - width)});
}

void TMainForm::RestoreLayout() {
  const QRect workArea = screen() ? screen()->availableGeometry() : QRect(0, 0, 1024, 768);
  struct Bar {
    QToolBar* bar;
    const char* prefix;
    bool hasVisibility;
  };
  const Bar bars[] = {{m_MenuToolBar, "MenuToolBar", false},
                      {m_MainToolBar, "MainToolBar", true},
                      {m_WinampToolBar, "WinampToolBar", true}};
  // Bars are placed area by area, row by row, in order of their position in the row.
  struct Placed {
    QToolBar* bar;
    lb::TToolBarPlacement p;
  };
  QList<Placed> placed;
  for (const Bar& b : bars) {
    // A bar the file knows nothing of keeps its place.
    if (!m_Ini.ValueExists("Position", QString(b.prefix) + "Floating")) continue;
    placed.append({b.bar, lb::ReadToolBarPlacement(m_Ini, b.prefix, b.hasVisibility)});
  }
  std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
    return std::tie(a.p.dock, a.p.dockRow, a.p.dockPos) <
           std::tie(b.p.dock, b.p.dockRow, b.p.dockPos);
  });
  const Qt::ToolBarArea areas[4] = {Qt::TopToolBarArea, Qt::RightToolBarArea, Qt::BottomToolBarArea,
                                    Qt::LeftToolBarArea};
  for (const Placed& item : placed) removeToolBar(item.bar);
  int lastDock = -1, lastRow = -1;
  for (const Placed& item : placed) {
    const Qt::ToolBarArea area = areas[item.p.dock];
    if (item.p.dock == lastDock && item.p.dockRow != lastRow) addToolBarBreak(area);
    addToolBar(area, item.bar);
    lastDock = item.p.dock;
    lastRow = item.p.dockRow;
    if (item.p.floating) {
      item.bar->setFloatable(true);
      item.bar->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
      item.bar->move(item.p.x, item.p.y);
      item.bar->adjustSize();
    }
    item.bar->setVisible(item.bar == m_MenuToolBar || item.p.visible);
  }
  Act("OptionsMainToolBar")->setChecked(m_MainToolBar->isVisible());
  Act("OptionsPlayToolBar")->setChecked(m_WinampToolBar->isVisible());

  lb::TWindowPlacement current{0, geometry()};
  lb::TWindowPlacement p = lb::ReadWindowPlacement(m_Ini, current);
  p.normal = lb::ClampToWorkArea(p.normal, workArea);
  setGeometry(p.normal);
  if (p.state == 2)
    setWindowState(Qt::WindowMaximized);
  else if (p.state == 1)
    setWindowState(Qt::WindowMinimized);
}

void TMainForm::SaveLayout() {
  lb::TWindowPlacement p;
  p.state = isMaximized() ? 2 : isMinimized() ? 1 : 0;
  p.normal = normalGeometry().isValid() ? normalGeometry() : geometry();
  lb::WriteWindowPlacement(m_Ini, p);
  auto placement = [this](QToolBar* bar) {
    lb::TToolBarPlacement t;
    t.floating = bar->isFloating();
    t.visible = !bar->isHidden();
    if (t.floating) {
      t.x = bar->x();
      t.y = bar->y();
      return t;
    }
    switch (toolBarArea(bar)) {
      case Qt::RightToolBarArea:
        t.dock = 1;
        break;
      case Qt::BottomToolBarArea:
        t.dock = 2;
        break;
      case Qt::LeftToolBarArea:
        t.dock = 3;
        break;
      default:
        t.dock = 0;
    }
    // Rows are numbered by the distinct offsets of the bars of the same dock.
    const bool vertical = t.dock == 1 || t.dock == 3;
    auto across = [vertical](QToolBar* b) { return vertical ? b->x() : b->y(); };
    t.dockPos = vertical ? bar->y() : bar->x();
    QList<int> rows;
    for (QToolBar* other : {m_MenuToolBar, m_MainToolBar, m_WinampToolBar})
      if (!other->isFloating() && toolBarArea(other) == toolBarArea(bar) &&
          !rows.contains(across(other)))
        rows << across(other);
    std::sort(rows.begin(), rows.end());
    t.dockRow = int(rows.indexOf(across(bar)));
    return t;
  };
  lb::WriteToolBarPlacement(m_Ini, "MenuToolBar", placement(m_MenuToolBar), false);
  lb::WriteToolBarPlacement(m_Ini, "MainToolBar", placement(m_MainToolBar), true);
  lb::WriteToolBarPlacement(m_Ini, "WinampToolBar", placement(m_WinampToolBar), true);
}

void TMainForm::FirstActivation() {
  ApplyHotKeySlots();
  ReinitPlayer();
  m_Repository->Load();
  m_PositionStep = m_Ini.ReadInteger("Settings", "ChangePositionVelocity", 30);
  m_bEditorPathUsed = m_Ini.ReadBool("Settings", "EditorPathUsed", false);
  UpdateActions();
  // The window, the repository and the player are ready: the shell extension may hand
  // files over now. A first-run dialog does not keep it waiting (it would give up);
  // the files it hands over meanwhile wait for the dialog. An event this program does
  // not own is not ours to signal.
  if (m_Instance && m_Instance->IsOwner()) m_Instance->Signal();
  if (!m_bIniExistedAtStart && m_ScreenshotFile.isEmpty()) {
    TNewWelcomeDlg welcome(this);
    welcome.exec();
  }
  m_bIniExistedAtStart = true;
  emit FirstActivationDone();
  if (!m_StartFiles.isEmpty())
    m_HeldHandOvers.prepend(lb::BuildHandOverPayload(std::exchange(m_StartFiles, {})));
  TakeHeldHandOvers();
  if (!m_ScreenshotFile.isEmpty()) {
    // Let the layout settle and paint once before taking the picture.
    QTimer::singleShot(300, this, [this] {
      grab().save(m_ScreenshotFile, "PNG");
      QApplication::exit(0);  // no close events: nothing is asked or saved
    });
  }
}

void TMainForm::ScreenshotAfterActivation(const QString& file) {
  m_ScreenshotFile = file;
}

void TMainForm::ApplyHotKeySlots() {
  ApplyHotKeys(ReadHotKeys(m_Ini));
}

void TMainForm::ApplyHotKeys(const THotKeySlots& hotKeys) {
  m_HotKeys = hotKeys;
  for (int i = 0; i < int(m_HotKeys.size()); ++i) {
    QAction* action = Act(kHotKeyActions[i]);
    const THotKeySlot& slot = m_HotKeys[i];
    // A global slot is handled through the hot-key message, not as the short-cut.
    if (slot.key && !slot.global)
      action->setShortcut(QKeySequence(KeyFromShortCut(slot.key)));
    else
      action->setShortcut(QKeySequence());
  }
}

void TMainForm::HotKey(uint16_t code) {
  for (int slot : lb::SlotsForHotKeyMessage(m_HotKeys, code)) RunHotKeySlot(slot);
}

void TMainForm::RunHotKeySlot(int slot) {
  QAction* action = Act(kHotKeyActions[slot]);
  if (action->isEnabled()) action->trigger();
}

// ---------------------------------------------------------------------------------
// Drops on the frame

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  DropFiles(paths);
  event->acceptProposedAction();
}

// ---------------------------------------------------------------------------------
// Commands the main window performs itself

void TMainForm::FileExit1Execute() {
  close();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // A long job that lets the windows turn (a list check, a search) still holds its
  // documents: the program closes once it has ended or been stopped.
  if (InfoWindowManager().Depth() > 0) {
    event->ignore();
    return;
  }
  // Files handed over while a first-run dialog was open join the lists first, so the
  // closing of the lists keeps them.
  TakeHeldHandOvers();
  // One document window that refuses keeps the program running with every list open.
  m_bExiting = true;
  if (!CloseAllDocumentWindows()) {
    m_bExiting = false;
    event->ignore();
    return;
  }
  SaveLayout();
  m_RepositoryView->SaveView();
  if (m_Ini.ReadBool("Settings", "ClearClipboard", false)) QApplication::clipboard()->clear();
  event->accept();
}

void TMainForm::TakeHeldHandOvers() {
  m_bHandOversHeld = false;
  // One at a time, in the order they came: one that comes while another goes in (its
  // scan lets the windows turn) waits for it.
  if (m_bTakingHandOvers) return;
  m_bTakingHandOvers = true;
  while (!m_HeldHandOvers.isEmpty()) HandOver(m_HeldHandOvers.takeFirst());
  m_bTakingHandOvers = false;
}

void TMainForm::HelpAbout1Execute() {
  TAboutBox about(this);
  about.exec();
}

void TMainForm::HelpContentsExecute() {
  lb::OpenHelp(QString());
}

void TMainForm::HelpMainDescriptionExecute() {
  lb::OpenHelp("main_description");
}

void TMainForm::GlobalTabExecute() {
  // The ring: repository, the player's position and volume bars (while their tool bar
  // is shown), the active list's view.
  QList<QWidget*> ring{m_RepositoryView};
  if (!m_WinampToolBar->isHidden() && m_WinampToolBar->isVisibleTo(this))
    ring << m_PositionBar << m_VolumeBar;
  if (TMDIChild* child = ActiveChild()) ring << child->ListView2;
  QWidget* focus = QApplication::focusWidget();
  qsizetype at = ring.indexOf(focus);
  if (at == -1 && focus && ActiveChild() && ActiveChild()->isAncestorOf(focus))
    at = ring.size() - 1;
  ring[(at + 1) % ring.size()]->setFocus(Qt::TabFocusReason);
}

void TMainForm::OpenSettings() {
  TPropertiesForm form(this, m_Ini, this);
  form.exec();
}

void TMainForm::ReinitPlayer() {
  // The player tool bar and its commands follow the "work with the player" setting.
  m_Winamp->Init();
  const bool enabled = m_Winamp->IsEnabled();
  ShowToolBar(m_WinampToolBar, Act("OptionsPlayToolBar"),
              enabled && m_Ini.ReadBool("Edit", "WinampToolBarVisible", true));
  Act("OptionsPlayToolBar")->setVisible(enabled);
  Act("RepListAddListToWinamp")->setVisible(enabled);
}
