// The main window's side of the player control: the player commands, the position and
// volume bars, the status-bar time and the 200 ms poll, and the document windows'
// questions about the song being played.
#include "Main.h"

#include "lbtools3/repository/Repository.h"

#include "lbtools3/docwin/DocumentWindow.h"
#include "lbtools3/player/AudaciousBinding.h"
#include "lbtools3/player/PlayerControl.h"
#include "platform/IniFile.h"

#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QWheelEvent>

namespace {

// The position bar's own rules: while the user holds it (mouse, Page Up/Down) the polls
// leave it alone and the new position is sent on release; a wheel turn moves it at once.
class TPositionBarFilter : public QObject {
 public:
  TPositionBarFilter(QSlider* bar, bool& dragging, std::function<int()> step,
                     std::function<void(int)> setPosition)
      : QObject(bar),
        m_Bar(bar),
        m_Dragging(dragging),
        m_Step(std::move(step)),
        m_SetPosition(std::move(setPosition)) {}

  bool eventFilter(QObject*, QEvent* event) override {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
        m_Dragging = true;
        break;
      case QEvent::MouseButtonRelease:
        QTimer::singleShot(0, m_Bar, [this] { Release(); });
        break;
      case QEvent::KeyPress:
        if (IsPageKey(event)) m_Dragging = true;
        break;
      case QEvent::KeyRelease:
        if (IsPageKey(event) && !static_cast<QKeyEvent*>(event)->isAutoRepeat())
          QTimer::singleShot(0, m_Bar, [this] { Release(); });
        break;
      case QEvent::Wheel: {
        // A negative velocity turns the direction round; 0 (never accepted) moves as 1.
        const int step = m_Step() == 0 ? 1 : m_Step();
        const int delta = static_cast<QWheelEvent*>(event)->angleDelta().y();
        m_Bar->setValue(m_Bar->value() - delta / step);
        m_SetPosition(m_Bar->value());
        return true;
      }
      default:
        break;
    }
    return false;
  }

 private:
  static bool IsPageKey(QEvent* event) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    return key == Qt::Key_PageUp || key == Qt::Key_PageDown;
  }
  void Release() {
    m_Dragging = false;
    m_SetPosition(m_Bar->value());
  }

  QSlider* m_Bar;
  bool& m_Dragging;
  std::function<int()> m_Step;
  std::function<void(int)> m_SetPosition;
};

}  // namespace

void TMainForm::ConnectPlayer() {
  m_PlayerBinding = std::make_unique<TAudaciousBinding>();
  m_Winamp = std::make_unique<TPlayerControl>(m_Ini, *m_PlayerBinding);

  auto play = [this](bool bSelected) {
    return [this, bSelected] {
      if (TMDIChild* child = ActiveChild()) m_Winamp->Play(child, bSelected);
    };
  };
  connect(Act("WinampPlay"), &QAction::triggered, this, play(false));
  connect(Act("WinampPlaySelected"), &QAction::triggered, this, play(true));
  connect(Act("WinampPlayWithReload"), &QAction::triggered, this, [this] {
    if (TMDIChild* child = ActiveChild()) {
      child->SetChangedSinceSent(true);
      m_Winamp->Play(child, false);
    }
  });
  connect(Act("WinampPause"), &QAction::triggered, this, [this] { m_Winamp->Pause(); });
  connect(Act("WinampStop"), &QAction::triggered, this, [this] { m_Winamp->Stop(); });
  connect(Act("WinampBackward"), &QAction::triggered, this, [this] { m_Winamp->Previous(); });
  connect(Act("WinampForward"), &QAction::triggered, this, [this] { m_Winamp->Next(); });
  connect(Act("WinampShow"), &QAction::triggered, this, [this] { m_Winamp->Show(); });
  connect(Act("RepListAddListToWinamp"), &QAction::triggered, this, [this] {
    const int row = m_Repository->FirstSelected();
    if (row >= 0) m_Winamp->PlayListFile(m_Repository->Path(row));
  });

  m_PositionBar->setRange(0, 100);
  m_PositionBar->setPageStep(10);
  m_PositionBar->installEventFilter(new TPositionBarFilter(
      m_PositionBar, m_bPositionDragging, [this] { return m_PositionStep; },
      [this](int percent) { m_Winamp->SetPosition(percent); }));
  m_VolumeBar->setSingleStep(10);
  m_VolumeBar->setPageStep(40);
  m_VolumeBar->setValue(m_VolumeBar->maximum());
  // The bar's value is the volume in either orientation: a vertical bar is drawn
  // inverted instead.
  connect(m_VolumeBar, &QSlider::valueChanged, this,
          [this](int volume) { m_Winamp->SetVolume(volume); });

  auto* timer2 = new QTimer(this);
  connect(timer2, &QTimer::timeout, this, &TMainForm::PlayerTimer);
  timer2->start(200);
}

void TMainForm::PlayerTimer() {
  if (!m_Winamp->IsEnabled()) return;
  m_Winamp->Poll();
  // The bar shows the player's own volume once the player is reached (it is not sent
  // back).
  if (const int volume = m_Winamp->TakePlayerVolume(); volume >= 0) {
    const QSignalBlocker quiet(m_VolumeBar);
    m_VolumeBar->setValue(volume);
  }
  // While the user moves the bar the text follows the bar; else the player's time.
  if (m_bPositionDragging) {
    m_StatusTime->setText(m_Winamp->FormatTime(m_PositionBar->value()));
  } else {
    m_PositionBar->setValue(m_Winamp->PositionPercent());
    m_StatusTime->setText(m_Winamp->FormatPlayTime());
  }
}

void TMainForm::FollowChildForPlayer(TMDIChild* child) {
  IDocumentWindow* window = child;
  connect(child, &QObject::destroyed, this, [this, window] {
    if (m_Winamp) m_Winamp->WindowClosing(window);
  });
}

bool TMainForm::PlayerFollows(IDocumentWindow* window) {
  return m_Winamp && window == m_Winamp->PlayingWindow();
}

void TMainForm::PlayerStopFollowing(IDocumentWindow* window) {
  if (m_Winamp) m_Winamp->ListChanged(window);
}

int TMainForm::PlayerPlayingRow(IDocumentWindow* window) {
  return m_Winamp ? m_Winamp->PlayingRow(window) : -1;
}

void TMainForm::PlayerPlayFrom(IDocumentWindow*, int) {
  // The double-clicked row is selected and the active window's: the command plays it.
  ExecuteCommand("WinampPlay");
}

void TMainForm::PlayerRowRemoving(IDocumentWindow* window, int n) {
  if (m_Winamp) m_Winamp->CheckDeletion(window, n);
}

void TMainForm::PlayerRowRemoved(IDocumentWindow*, int n) {
  if (m_Winamp) m_Winamp->RowRemoved(n);
}

void TMainForm::PlayerForgetRow(IDocumentWindow*) {
  if (m_Winamp) m_Winamp->ForgetSavedRow();
}
