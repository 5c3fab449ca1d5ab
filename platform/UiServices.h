// The one seam through which the model and the operations reach the user: message
// boxes, pending-message processing, main-thread calls, busy cursor, clipboard,
// file dialogs and progress views. The GUI installs a widget implementation at
// start-up; tests and the command-line tool install their own. No widgets here.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// Message box flags and results, with the values of the classic message-box call so
// that every call site reads the same on every platform.
enum : unsigned {
  MB_OK = 0x0,
  MB_OKCANCEL = 0x1,
  MB_ABORTRETRYIGNORE = 0x2,
  MB_YESNOCANCEL = 0x3,
  MB_YESNO = 0x4,
  MB_RETRYCANCEL = 0x5,
  MB_TYPEMASK = 0xF,
  MB_ICONERROR = 0x10,
  MB_ICONHAND = 0x10,
  MB_ICONSTOP = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONWARNING = 0x30,
  MB_ICONEXCLAMATION = 0x30,
  MB_ICONINFORMATION = 0x40,
  MB_ICONASTERISK = 0x40,
  MB_ICONMASK = 0xF0,
  MB_DEFBUTTON1 = 0x0,
  MB_DEFBUTTON2 = 0x100,
  MB_DEFBUTTON3 = 0x200,
  MB_DEFMASK = 0xF00,
  MB_HELP = 0x4000,  // a help button that opens the box's help context
};
enum : int {
  IDOK = 1,
  IDCANCEL = 2,
  IDABORT = 3,
  IDRETRY = 4,
  IDIGNORE = 5,
  IDYES = 6,
  IDNO = 7,
  IDNOTOALL = 9,
  IDYESTOALL = 10,
};

// Buttons of a question with "to all" answers (AskButtons).
enum TAskButton : unsigned {
  abYes = 1u << 0,
  abNo = 1u << 1,
  abCancel = 1u << 2,
  abYesToAll = 1u << 3,
  abNoToAll = 1u << 4,
};

// What a progress window shows. The owner (the progress-window manager or a worker
// host) drives it; the view reports a press of its Stop button through the callback
// given at creation.
class IProgressView {
 public:
  virtual ~IProgressView() = default;
  virtual void SetAction(const QString& text) = 0;
  // Path-like texts: the view shortens them to its width, keeping the tail visible.
  virtual void SetObject(const QString& text) = 0;
  virtual void SetLine(const QString& prefix, const QString& text) = 0;
  // true shows the progress bar, false the text line in its place.
  virtual void SetBarVisible(bool bar) = 0;
  virtual bool BarVisible() const = 0;
  virtual void SetPosition(int percent) = 0;
  virtual int Position() const = 0;
  virtual QString Action() const = 0;
  virtual QString Object() const = 0;
  virtual QString Line() const = 0;
  virtual void SetStopEnabled(bool enabled) = 0;
  virtual bool StopEnabled() const = 0;
};

class UiServices {
 public:
  virtual ~UiServices() = default;

  // The installed implementation; a QtCore-only default (answers every question with
  // its default button, shows nothing) until another is installed.
  static UiServices& Instance();
  // Installs impl (not owned) and returns the previous one; nullptr restores the
  // default.
  static UiServices* Install(UiServices* impl);

  static constexpr const char* kCaption = "LBTools";

  // Shows a modal message box; returns IDOK, IDYES, IDNO, IDCANCEL...
  virtual int MessageBox(const QString& text, const QString& caption, unsigned flags) = 0;
  // A question with any set of TAskButton; returns IDYES, IDNO, IDCANCEL, IDYESTOALL
  // or IDNOTOALL. icon is one of the MB_ICON* values.
  virtual int AskButtons(const QString& text, const QString& caption, unsigned buttons,
                         unsigned icon) = 0;
  // A message box with a help button for the help context; the help button opens the
  // guide and leaves the question open. Without a help system it is a plain box that
  // carries MB_HELP in its flags.
  virtual int MessageBoxWithHelp(const QString& text, const QString& caption, unsigned flags,
                                 int helpContext) {
    (void)helpContext;
    return MessageBox(text, caption, flags | MB_HELP);
  }

  // Lets the user interface repaint and react (the Stop button) during a long loop.
  virtual void ProcessMessages() = 0;
  // Runs fn on the main thread and waits for it to finish; runs it directly when
  // called on the main thread.
  virtual void RunOnMainThread(const std::function<void()>& fn) = 0;
  virtual void SetBusyCursor(bool busy) = 0;

  // Clipboard data stored under a format name.
  virtual bool SetClipboardData(const QString& format, const QByteArray& data) = 0;
  virtual bool GetClipboardData(const QString& format, QByteArray* data) = 0;

  // File dialogs; an empty result means the user cancelled.
  virtual QStringList GetOpenFileNames(const QString& title, const QString& folder,
                                       const QString& filter) = 0;
  virtual QString GetSaveFileName(const QString& title, const QString& fileName,
                                  const QString& filter) = 0;
  virtual QString GetExistingFolder(const QString& title, const QString& folder) = 0;

  // A new progress window; onStop runs when its Stop button is pressed.
  virtual std::unique_ptr<IProgressView> CreateProgressView(std::function<void()> onStop) = 0;
  // The main window's enabled state (progress windows disable it while they exist).
  virtual bool MainWindowEnabled() const = 0;
  virtual void SetMainWindowEnabled(bool enabled) = 0;
};

// Sets the busy cursor for the life of the object.
class TBusyCursor {
 public:
  TBusyCursor() { UiServices::Instance().SetBusyCursor(true); }
  ~TBusyCursor() { UiServices::Instance().SetBusyCursor(false); }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};

// A QtCore-only implementation: main-thread calls through the application's event
// loop, an in-process clipboard, progress views that only hold their texts. Questions
// get their default button. Base of the scripted implementation for tests and of the
// command-line tool's.
class CoreUiServices : public UiServices {
 public:
  int MessageBox(const QString& text, const QString& caption, unsigned flags) override;
  int AskButtons(const QString& text, const QString& caption, unsigned buttons,
                 unsigned icon) override;
  void ProcessMessages() override;
  void RunOnMainThread(const std::function<void()>& fn) override;
  void SetBusyCursor(bool) override {}
  bool SetClipboardData(const QString& format, const QByteArray& data) override;
  bool GetClipboardData(const QString& format, QByteArray* data) override;
  QStringList GetOpenFileNames(const QString&, const QString&, const QString&) override {
    return {};
  }
  QString GetSaveFileName(const QString&, const QString&, const QString&) override { return {}; }
  QString GetExistingFolder(const QString&, const QString&) override { return {}; }
  std::unique_ptr<IProgressView> CreateProgressView(std::function<void()> onStop) override;
  bool MainWindowEnabled() const override { return m_bMainEnabled; }
  void SetMainWindowEnabled(bool enabled) override { m_bMainEnabled = enabled; }

  // The answer a message box gets without a user: IDOK, IDYES or IDCANCEL by its
  // button set and default button.
  static int DefaultAnswer(unsigned flags);

 private:
  bool m_bMainEnabled = true;
};
