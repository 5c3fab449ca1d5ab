#include "WorkerDialog.h"

#include "InfoWindow.h"
#include "lbtools3/ui/Help.h"
#include "platform/Assert.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

namespace {
constexpr int kTextWidth = 360;
}

TInfoWindow1::TInfoWindow1(QWidget* owner, IWorkerDocumentWindow* child, const QString& action,
                           bool bProgressBar, TBaseWorkerThread* worker)
    : QDialog(ProgressWindowOwner(owner),
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_pWorker(worker) {
  LB_ASSERT(worker != nullptr);
  setWindowTitle("Ход выполнения...");
  lb::SetHelpTopic(this, "progress");
  setModal(true);
  Label1 = new QLabel("Действие:", this);
  Label2 = new QLabel("Объект:", this);
  m_strAction = new QLabel(this);
  m_strObject = new QLabel(this);
  m_strProgress = new QLabel(this);
  for (QLabel* l : {m_strAction, m_strObject, m_strProgress}) {
    l->setFixedWidth(kTextWidth);
    l->setTextFormat(Qt::PlainText);
  }
  m_ProgressBar = new QProgressBar(this);
  m_ProgressBar->setRange(0, 100);
  m_ProgressBar->setValue(0);
  m_ProgressBar->setTextVisible(false);
  m_ProgressBar->setFixedWidth(kTextWidth);
  Bevel1 = new QFrame(this);
  Bevel1->setFrameShape(QFrame::HLine);
  Bevel1->setFrameShadow(QFrame::Sunken);
  StopBtn = new QPushButton("Стоп", this);
  StopBtn->setDefault(true);
  connect(StopBtn, &QPushButton::clicked, this, [this] { StopBtnClick(); });

  auto* grid = new QGridLayout(this);
  grid->addWidget(Label1, 0, 0);
  grid->addWidget(m_strAction, 0, 1);
  grid->addWidget(Label2, 1, 0);
  grid->addWidget(m_strObject, 1, 1);
  grid->addWidget(m_ProgressBar, 2, 0, 1, 2);
  grid->addWidget(m_strProgress, 2, 0, 1, 2);
  grid->addWidget(Bevel1, 3, 0, 1, 2);
  grid->addWidget(StopBtn, 4, 0, 1, 2, Qt::AlignHCenter);
  setLayout(grid);

  m_strAction->setText(action);
  m_ProgressBar->setVisible(bProgressBar);
  m_strProgress->setVisible(!bProgressBar);
  adjustSize();
  if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());

  worker->m_pInfoWindow = this;
  worker->m_pOwner = owner;
  worker->m_pChild = child;
  worker->Prepare();
}

TInfoWindow1::~TInfoWindow1() {
  // The dialog never outlives a running worker that reports to it.
  if (m_pWorker->Started() && !m_pWorker->Finished()) m_pWorker->StopAndWait();
  m_pWorker->m_pInfoWindow = nullptr;
}

void TInfoWindow1::SetInfoText(int code, const QString& text) {
  switch (code) {
    case itLine:
      m_strProgress->setText(ShortenToLabel(m_strProgress, text));
      break;
    case itObject:
      m_strObject->setText(ShortenToLabel(m_strObject, text));
      break;
    case itAction:
      m_strAction->setText(text);
      break;
    default:
      break;
  }
}

void TInfoWindow1::SetProgress(int position) {
  m_ProgressBar->setValue(qBound(0, position, 100));
}

void TInfoWindow1::PostWorkerFinished() {
  // Called on the worker's thread: only post; the dialog handles it on its own thread.
  QMetaObject::invokeMethod(
      this, [this] { WorkerFinished(); }, Qt::QueuedConnection);
}

void TInfoWindow1::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!m_pWorker->Started()) m_pWorker->Resume();
}

void TInfoWindow1::closeEvent(QCloseEvent* event) {
  if (!m_bClosing) event->ignore();  // no system buttons: the worker decides
}

void TInfoWindow1::WorkerFinished() {
  if (m_bClosing) return;
  m_bClosing = true;
  m_pWorker->WaitFor();
  accept();
}

void TInfoWindow1::StopBtnClick() {
  if (m_bClosing) return;
  m_bClosing = true;
  StopBtn->setEnabled(false);
  m_pWorker->StopAndWait();
  accept();
}
