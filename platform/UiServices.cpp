// The installed user-interface implementation and the QtCore-only default. The library
// is shared, so the program and the servers it loads see one installed implementation.
#include "UiServices.h"

#include "Event.h"
#include "MainThreadMail.h"

#include <QCoreApplication>
#include <QHash>
#include <QMetaObject>
#include <QSemaphore>
#include <QThread>
#include <atomic>
#include <mutex>

namespace {

CoreUiServices& DefaultServices() {
  static CoreUiServices services;
  return services;
}

std::atomic<UiServices*>& Installed() {
  static std::atomic<UiServices*> installed{nullptr};
  return installed;
}

// The in-process clipboard: one for the process, like the desktop's.
struct Clipboard {
  std::mutex mutex;
  QHash<QString, QByteArray> formats;
};
Clipboard& TheClipboard() {
  static Clipboard clipboard;
  return clipboard;
}

class CoreProgressView : public IProgressView {
 public:
  explicit CoreProgressView(std::function<void()> onStop) : m_OnStop(std::move(onStop)) {}
  void SetAction(const QString& text) override { m_Action = text; }
  void SetObject(const QString& text) override { m_Object = text; }
  void SetLine(const QString& prefix, const QString& text) override { m_Line = prefix + text; }
  void SetBarVisible(bool bar) override { m_bBar = bar; }
  bool BarVisible() const override { return m_bBar; }
  void SetPosition(int percent) override { m_Position = qBound(0, percent, 100); }
  int Position() const override { return m_Position; }
  QString Action() const override { return m_Action; }
  QString Object() const override { return m_Object; }
  QString Line() const override { return m_Line; }
  void SetStopEnabled(bool enabled) override { m_bStopEnabled = enabled; }
  bool StopEnabled() const override { return m_bStopEnabled; }

 private:
  std::function<void()> m_OnStop;
  QString m_Action, m_Object, m_Line;
  bool m_bBar = true;
  bool m_bStopEnabled = true;
  int m_Position = 0;
};

}  // namespace

UiServices& UiServices::Instance() {
  UiServices* impl = Installed().load(std::memory_order_acquire);
  return impl ? *impl : DefaultServices();
}

UiServices* UiServices::Install(UiServices* impl) {
  UiServices* previous = Installed().exchange(impl, std::memory_order_acq_rel);
  return previous ? previous : &DefaultServices();
}

int CoreUiServices::DefaultAnswer(unsigned flags) {
  const unsigned def = flags & MB_DEFMASK;
  auto pick = [def](int first, int second, int third) {
    if (def == MB_DEFBUTTON2) return second;
    if (def == MB_DEFBUTTON3) return third;
    return first;
  };
  switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return pick(IDOK, IDCANCEL, IDOK);
    case MB_ABORTRETRYIGNORE:
      return pick(IDABORT, IDRETRY, IDIGNORE);
    case MB_YESNOCANCEL:
      return pick(IDYES, IDNO, IDCANCEL);
    case MB_YESNO:
      return pick(IDYES, IDNO, IDYES);
    case MB_RETRYCANCEL:
      return pick(IDRETRY, IDCANCEL, IDRETRY);
    default:
      return IDOK;
  }
}

int CoreUiServices::MessageBox(const QString&, const QString&, unsigned flags) {
  return DefaultAnswer(flags);
}

int CoreUiServices::AskButtons(const QString&, const QString&, unsigned buttons, unsigned) {
  if (buttons & abYes) return IDYES;
  if (buttons & abNo) return IDNO;
  if (buttons & abCancel) return IDCANCEL;
  if (buttons & abYesToAll) return IDYESTOALL;
  if (buttons & abNoToAll) return IDNOTOALL;
  return IDCANCEL;
}

void CoreUiServices::ProcessMessages() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

void CoreUiServices::RunOnMainThread(const std::function<void()>& fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() == app->thread()) {
    fn();
    return;
  }
  RunQueuedOnMainThread(app, fn);
}

bool CoreUiServices::SetClipboardData(const QString& format, const QByteArray& data) {
  Clipboard& c = TheClipboard();
  std::lock_guard<std::mutex> lock(c.mutex);
  c.formats.insert(format, data);
  return true;
}

bool CoreUiServices::GetClipboardData(const QString& format, QByteArray* data) {
  Clipboard& c = TheClipboard();
  std::lock_guard<std::mutex> lock(c.mutex);
  auto it = c.formats.constFind(format);
  if (it == c.formats.constEnd()) return false;
  if (data) *data = *it;
  return true;
}

std::unique_ptr<IProgressView> CoreUiServices::CreateProgressView(std::function<void()> onStop) {
  return std::make_unique<CoreProgressView>(std::move(onStop));
}

TEvent& MainThreadMail() {
  static TEvent mail(false, false);
  return mail;
}

void RunQueuedOnMainThread(QCoreApplication* app, const std::function<void()>& fn) {
  QSemaphore done;
  // Released when the call has run, or when its event is dropped unrun (the
  // application going away), so the caller never waits for ever.
  class TRelease {
   public:
    explicit TRelease(QSemaphore* semaphore) : m_pSemaphore(semaphore) {}
    ~TRelease() { m_pSemaphore->release(); }
    TRelease(const TRelease&) = delete;
    TRelease& operator=(const TRelease&) = delete;

   private:
    QSemaphore* m_pSemaphore;
  };
  QMetaObject::invokeMethod(
      app, [&fn, release = std::make_shared<TRelease>(&done)] { fn(); }, Qt::QueuedConnection);
  MainThreadMail().SetEvent();
  done.acquire();
}
