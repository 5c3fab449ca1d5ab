#include "InfoWindow.h"

#include "lbtools3/model/InfoWindowManager.h"
#include "lbtools3/ui/Help.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace {
constexpr int kTextWidth = 360;
}  // namespace

QWidget* ProgressWindowOwner(QWidget* mainWindow) {
  // An open modal dialog blocks every window that is not its own: a progress window
  // started from it belongs to it, so that its Stop takes clicks.
  QWidget* modal = QApplication::activeModalWidget();
  return modal ? modal : mainWindow;
}

QString ShortenToLabel(const QLabel* label, const QString& text, int width) {
  const QFontMetrics metrics(label->font());
  return ShortenPathText(text, width < 0 ? label->width() : width,
                         [&metrics](const QString& t) { return metrics.horizontalAdvance(t); });
}

TInfoWindow::TInfoWindow(QWidget* mainWindow, std::function<void()> onStop)
    : QDialog(ProgressWindowOwner(mainWindow),
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_pMainWindow(mainWindow),
      m_OnStop(std::move(onStop)) {
  if (parentWidget() && parentWidget() != mainWindow) parentWidget()->installEventFilter(this);
  setWindowTitle("Ход выполнения...");
  lb::SetHelpTopic(this, "progress");
  setModal(false);
  RxLabel1 = new QLabel("Действие:", this);
  RxLabel2 = new QLabel("Объект:", this);
  Label2 = new QLabel(this);
  Label5 = new QLabel(this);
  Label3 = new QLabel(this);
  for (QLabel* l : {Label2, Label5, Label3}) {
    l->setFixedWidth(kTextWidth);
    l->setTextFormat(Qt::PlainText);
  }
  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setValue(0);
  ProgressBar1->setFixedWidth(kTextWidth);
  Label3->hide();
  Button1 = new QPushButton("Стоп", this);
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

  auto* grid = new QGridLayout(this);
  grid->addWidget(RxLabel1, 0, 0);
  grid->addWidget(Label2, 0, 1);
  grid->addWidget(RxLabel2, 1, 0);
  grid->addWidget(Label5, 1, 1);
  grid->addWidget(ProgressBar1, 2, 0, 1, 2);
  grid->addWidget(Label3, 2, 0, 1, 2);
  grid->addWidget(Button1, 3, 0, 1, 2, Qt::AlignHCenter);
  setLayout(grid);
  adjustSize();

  const QWidget* owner = parentWidget();
  const QRect area = owner && owner->isVisible()
                         ? owner->frameGeometry()
                         : (screen() ? screen()->availableGeometry() : QRect());
  if (area.isValid()) move(area.center() - rect().center());
  show();
}

void TInfoWindow::SetAction(const QString& text) {
  m_Action = text;
  Label2->setText(text);
}

void TInfoWindow::SetObject(const QString& text) {
  m_Object = text;
  Label5->setText(ShortenToLabel(Label5, text));
}

void TInfoWindow::SetLine(const QString& prefix, const QString& text) {
  m_LinePrefix = prefix;
  m_LineText = text;
  const int prefixWidth = QFontMetrics(Label3->font()).horizontalAdvance(prefix);
  Label3->setText(prefix + ShortenToLabel(Label3, text, Label3->width() - prefixWidth));
}

void TInfoWindow::SetBarVisible(bool bar) {
  m_bProgress = bar;
  ProgressBar1->setVisible(bar);
  Label3->setVisible(!bar);
}

void TInfoWindow::SetPosition(int percent) {
  m_Position = qBound(0, percent, 100);
  if (m_BarShown.Due() || m_Position == 0 || m_Position == 100) {
    ShowPosition();
  } else if (!m_bBarPending) {
    m_bBarPending = true;
    QTimer::singleShot(0, this, [this] {
      if (m_bBarPending) ShowPosition();
    });
  }
}

void TInfoWindow::ShowPosition() {
  m_bBarPending = false;
  m_BarShown.Turned();
  ProgressBar1->setValue(m_Position);
}

int TInfoWindow::Position() const {
  return m_Position;
}
void TInfoWindow::SetStopEnabled(bool enabled) {
  Button1->setEnabled(enabled);
}
bool TInfoWindow::StopEnabled() const {
  return Button1->isEnabled();
}

bool TInfoWindow::eventFilter(QObject* watched, QEvent* event) {
  // The work may go on after the dialog closed: the window then moves to the main
  // window instead of going away with the dialog.
  if (watched == parentWidget() && event->type() == QEvent::Hide) {
    watched->removeEventFilter(this);
    const bool visible = isVisible();
    setParent(m_pMainWindow, windowFlags());
    if (visible) show();
  }
  return QDialog::eventFilter(watched, event);
}

void TInfoWindow::Button1Click() {
  m_bStop = true;
  if (m_OnStop) m_OnStop();
}
