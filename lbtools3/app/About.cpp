#include "About.h"

#include "lbtools3/ui/Application.h"
#include "lbtools3/ui/Help.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QRegion>
#include <QTimer>
#include <QVBoxLayout>

#ifndef LB_VERSION
#define LB_VERSION "3.0.0.0"
#endif

QPixmap ProgramPicture() {
  QPixmap pixmap(380, 120);
  QPainter painter(&pixmap);
  QLinearGradient gradient(0, 0, 380, 120);
  gradient.setColorAt(0, QColor(30, 50, 100));
  gradient.setColorAt(1, QColor(90, 140, 200));
  painter.fillRect(pixmap.rect(), gradient);
  painter.drawPixmap(14, 28, lb::ProgramIcon().pixmap(64, 64));
  // The texts take the room right of the icon, so the icon never covers them.
  const QRect texts = pixmap.rect().adjusted(14 + 64 + 10, 0, -10, 0);
  painter.setPen(Qt::white);
  QFont font = painter.font();
  font.setPixelSize(30);
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(texts.adjusted(0, 0, 0, -30), Qt::AlignCenter, "Lyrabox Tools");
  font.setPixelSize(14);
  font.setBold(false);
  painter.setFont(font);
  painter.drawText(texts.adjusted(0, 50, 0, 0), Qt::AlignCenter, "Редактор play-листов и тэгов");
  return pixmap;
}

// ---------------------------------------------------------------------------------

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
  setWindowTitle("О программе...");
  lb::SetHelpTopic(this, QString());
  m_Picture = new QLabel(this);
  m_Picture->setPixmap(ProgramPicture());
  m_Picture->setCursor(Qt::PointingHandCursor);
  m_Picture->installEventFilter(this);
  m_FileVersion = new QLabel(this);
  m_ProductVersion = new QLabel(this);
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel("Версия файла:", this), 0, 0);
  grid->addWidget(m_FileVersion, 0, 1);
  grid->addWidget(new QLabel("Версия продукта:", this), 1, 0);
  grid->addWidget(m_ProductVersion, 1, 1);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton("Да", QDialogButtonBox::AcceptRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_Picture);
  layout->addLayout(grid);
  layout->addWidget(buttons);
  m_Fade = new QTimer(this);
  m_Fade->setInterval(20);
  connect(m_Fade, &QTimer::timeout, this, [this] {
    const double next = windowOpacity() + 20.0 / 255.0;
    if (next >= 236.0 / 255.0) {
      setWindowOpacity(1.0);
      m_Fade->stop();
    } else {
      setWindowOpacity(next);
    }
  });
}

QString TAboutBox::VersionText() {
  return QStringLiteral(LB_VERSION);
}

void TAboutBox::showEvent(QShowEvent* event) {
  m_FileVersion->setText(VersionText());
  m_ProductVersion->setText(VersionText());
  setWindowOpacity(0.0);
  m_Fade->start();
  QDialog::showEvent(event);
}

bool TAboutBox::eventFilter(QObject* object, QEvent* event) {
  if (object == m_Picture && event->type() == QEvent::MouseButtonRelease) {
    lb::OpenHelp(QString());
    return true;
  }
  return QDialog::eventFilter(object, event);
}

// ---------------------------------------------------------------------------------

TRepresentationDlg::TRepresentationDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Приветствие...");
  auto* picture = new QLabel(this);
  picture->setPixmap(ProgramPicture());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(picture);
  m_Timer = new QTimer(this);
  connect(m_Timer, &QTimer::timeout, this, &TRepresentationDlg::Step);
}

void TRepresentationDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  m_Opacity = 0;
  m_Phase = FadingIn;
  setWindowOpacity(0.0);
  m_Timer->start(15);
}

void TRepresentationDlg::Step() {
  switch (m_Phase) {
    case FadingIn:
      m_Opacity += 10;
      if (m_Opacity >= 246) {
        m_Opacity = 255;
        m_Phase = Holding;
        m_Timer->start(1500);
      }
      break;
    case Holding:
      m_Phase = FadingOut;
      m_Timer->start(15);
      break;
    case FadingOut:
      m_Opacity -= 10;
      if (m_Opacity < 11) {
        m_Timer->stop();
        accept();
        return;
      }
      break;
  }
  setWindowOpacity(m_Opacity / 255.0);
}

// ---------------------------------------------------------------------------------

TNewWelcomeDlg::TNewWelcomeDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Рекомендация");
  lb::SetHelpTopic(this, "main_description");
  auto* text = new QLabel(
      "Настоятельно рекомендуется прочитать раздел «Идеология программы» руководства "
      "пользователя: он объясняет, как программа хранит листы и тэги.\nОткрыть его сейчас ?",
      this);
  text->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton("Да", QDialogButtonBox::AcceptRole);
  buttons->addButton("Нет", QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    lb::OpenHelp("main_description");
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text);
  layout->addWidget(buttons);
  m_Timer = new QTimer(this);
  connect(m_Timer, &QTimer::timeout, this, &TNewWelcomeDlg::Step);
}

void TNewWelcomeDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  m_StripHeight = 0;
  Step();
  m_Timer->start(50);
}

void TNewWelcomeDlg::Step() {
  if (m_StripHeight >= 10) {
    m_Timer->stop();
    clearMask();
    return;
  }
  // Horizontal strips every 10 pixels, each m_StripHeight pixels high.
  QRegion region;
  for (int y = 0; y < height(); y += 10) region += QRect(0, y, width(), m_StripHeight);
  setMask(region.isEmpty() ? QRegion(0, 0, 1, 1) : region);
  ++m_StripHeight;
}
