// The modal progress dialog that hosts one worker thread: it starts the worker when
// shown, shows what the worker reports, and closes when the worker has ended, either
// by itself (the worker-finished notice) or after Stop asked it to end.
#pragma once

#include "lbtools3/model/WorkerThread.h"

#include <QDialog>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;

class TInfoWindow1 : public QDialog, public IWorkerView {
  Q_OBJECT
 public:
  // Links dialog and worker both ways and calls the worker's preparation hook. The
  // caller then runs exec().
  TInfoWindow1(QWidget* owner, IWorkerDocumentWindow* child, const QString& action,
               bool bProgressBar, TBaseWorkerThread* worker);
  ~TInfoWindow1() override;

  void SetInfoText(int code, const QString& text) override;
  void SetProgress(int position) override;
  void PostWorkerFinished() override;

  TBaseWorkerThread* Worker() const { return m_pWorker; }

  QLabel* Label1;  // "Действие:"
  QLabel* Label2;  // "Объект:"
  QLabel* m_strAction;
  QLabel* m_strObject;
  QLabel* m_strProgress;
  QProgressBar* m_ProgressBar;
  QPushButton* StopBtn;
  QFrame* Bevel1;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  // Escape stops the worker rather than leaving it running without its dialog.
  void reject() override { StopBtnClick(); }

 private:
  void StopBtnClick();
  void WorkerFinished();

  TBaseWorkerThread* m_pWorker;
  bool m_bClosing = false;
};
