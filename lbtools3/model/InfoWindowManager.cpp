#include "InfoWindowManager.h"

#include "platform/Assert.h"

#include <QTimer>
#include <utility>

QString ShortenPathText(const QString& text, int width,
                        const std::function<int(const QString&)>& measure) {
  const int full = measure(text);
  if (full < 0 || full <= width || text.size() <= 3) return text;
  // The candidates are "..." followed by ever shorter tails of text.mid(3); widths
  // shrink with the tail, so the longest tail that fits is found by bisection.
  const QStringView rest = QStringView(text).mid(3);
  auto candidate = [&](qsizetype tail) { return "..." + rest.right(tail).toString(); };
  qsizetype lo = 0, hi = rest.size();  // tail lengths: lo fits (or is the last resort)
  while (lo < hi) {
    const qsizetype mid = (lo + hi + 1) / 2;
    const int w = measure(candidate(mid));
    if (w < 0) return candidate(mid);  // measuring failed: stop where we are
    if (w <= width)
      lo = mid;
    else
      hi = mid - 1;
  }
  return candidate(lo);
}

TSlInfoWindowManager& InfoWindowManager() {
  static TSlInfoWindowManager manager;
  return manager;
}

IProgressView* TSlInfoWindowManager::Open(const QString& action, const QString& object,
                                          bool bProgress, ExtraControl extraControl,
                                          bool bLeaveMainWindow) {
  if (m_Depth == 0) {
    m_pUi = &UiServices::Instance();
    UiServices& ui = *m_pUi;
    m_bStop = false;
    m_bMainTouched = !bLeaveMainWindow;
    if (m_bMainTouched) {
      m_bMainWasEnabled = ui.MainWindowEnabled();
      ui.SetMainWindowEnabled(false);
    }
    m_Window = ui.CreateProgressView([this] { m_bStop = true; });
    m_Window->SetAction(action);
    m_Window->SetObject(object);
    m_Window->SetBarVisible(bProgress);
    m_Window->SetPosition(0);
    m_ExtraControl = std::move(extraControl);
    if (m_ExtraControl) m_ExtraControl(false);
  } else {
    LB_ASSERT(!m_bMainTouched || m_pUi->MainWindowEnabled() == false);
    m_Saved.push_back({m_Window->Action(), m_Window->Object(), m_Window->Line(),
                       m_Window->BarVisible(), m_Window->Position()});
    m_Window->SetAction(action);
    m_Window->SetObject(object);
    m_Window->SetBarVisible(bProgress);
  }
  ++m_Depth;
  return m_Window.get();
}

void TSlInfoWindowManager::SetAction(const QString& text) {
  if (m_Window) m_Window->SetAction(text);
}

void TSlInfoWindowManager::SetObject(const QString& text) {
  if (m_Window) m_Window->SetObject(text);
}

void TSlInfoWindowManager::SetLine(const QString& prefix, const QString& text) {
  if (m_Window) m_Window->SetLine(prefix, text);
}

void TSlInfoWindowManager::SetProgress(int percent) {
  if (m_Window) m_Window->SetPosition(percent);
}

void TSlInfoWindowManager::Close() {
  LB_ASSERT(m_Depth > 0);
  --m_Depth;
  if (m_Depth == 0) {
    if (m_ExtraControl) m_ExtraControl(true);
    m_ExtraControl = {};
    m_Window.reset();
    m_Saved.clear();
    if (m_bMainTouched) m_pUi->SetMainWindowEnabled(m_bMainWasEnabled);
    m_pUi = nullptr;
    for (TAfterJob& waiting : std::exchange(m_AfterJob, {}))
      if (waiting.context) WhenNoJob(waiting.context, std::move(waiting.fn));
    return;
  }
  const SavedState s = m_Saved.back();
  m_Saved.pop_back();
  m_Window->SetAction(s.action);
  m_Window->SetObject(s.object);
  m_Window->SetLine(QString(), s.line);
  m_Window->SetBarVisible(s.bar);
  m_Window->SetPosition(s.position);
}

bool TSlInfoWindowManager::ProcessAndCheckStop() {
  UiServices::Instance().ProcessMessages();
  return m_bStop;
}

void TSlInfoWindowManager::SetStopEnabled(bool enabled) {
  if (m_Window) m_Window->SetStopEnabled(enabled);
}

bool TSlInfoWindowManager::StopEnabled() const {
  return m_Window ? m_Window->StopEnabled() : true;
}

void TSlInfoWindowManager::WhenNoJob(QObject* context, std::function<void()> fn) {
  if (m_Depth > 0) {
    m_AfterJob.push_back({context, std::move(fn)});
    return;
  }
  // A job may have begun by the time the loop turns (the turn ran inside one).
  QTimer::singleShot(0, context, [this, context, fn = std::move(fn)] {
    if (m_Depth > 0)
      WhenNoJob(context, fn);
    else
      fn();
  });
}
