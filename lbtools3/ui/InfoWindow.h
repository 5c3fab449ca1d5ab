// The modeless progress window of the progress-window manager: action and object
// texts, a bar or a text line in its place, and a Stop button. Path texts are
// shortened to the labels' width so their tails stay visible.
#pragma once

#include "platform/Pace.h"
#include "platform/UiServices.h"

#include <QDialog>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

// The window a progress window belongs to: the modal dialog open now, else mainWindow.
QWidget* ProgressWindowOwner(QWidget* mainWindow);

// Shortens text to the label's width in the label's font (see ShortenPathText).
QString ShortenToLabel(const QLabel* label, const QString& text, int width = -1);

class TInfoWindow : public QDialog, public IProgressView {
  Q_OBJECT
 public:
  // Belongs to the modal dialog open now, else to mainWindow, and is centred on it;
  // onStop runs when Stop is pressed.
  TInfoWindow(QWidget* mainWindow, std::function<void()> onStop);

  void SetAction(const QString& text) override;
  void SetObject(const QString& text) override;
  void SetLine(const QString& prefix, const QString& text) override;
  void SetBarVisible(bool bar) override;
  bool BarVisible() const override { return m_bProgress; }
  void SetPosition(int percent) override;
  int Position() const override;
  QString Action() const override { return m_Action; }
  QString Object() const override { return m_Object; }
  QString Line() const override { return m_LinePrefix + m_LineText; }
  void SetStopEnabled(bool enabled) override;
  bool StopEnabled() const override;

  QLabel* RxLabel1;  // "Действие:"
  QLabel* RxLabel2;  // "Объект:"
  QLabel* Label2;    // the action
  QLabel* Label5;    // the object
  QProgressBar* ProgressBar1;
  QLabel* Label3;  // the text line in the place of the bar
  QPushButton* Button1;
  bool m_bProgress = true;
  bool m_bStop = false;

 protected:
  void reject() override {}  // no system buttons: only Stop ends the work
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Button1Click();
  // Gives the bar the latest position (QProgressBar repaints at once on a visible change,
  // even inside a loop that never turns).
  void ShowPosition();

  QWidget* m_pMainWindow;
  std::function<void()> m_OnStop;
  QString m_Action, m_Object, m_LinePrefix, m_LineText;
  // The bar takes a new position at most every kBarEveryMs (0 and 100 at once); one held
  // back is shown at the next turn of the event loop.
  static constexpr qint64 kBarEveryMs = 50;
  int m_Position = 0;
  lb::TPace m_BarShown{kBarEveryMs};
  bool m_bBarPending = false;
};
