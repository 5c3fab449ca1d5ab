// The progress windows and the widget user-interface seam: Stop in the worker dialog,
// nesting on the real window, shortened labels, and the Russian "to all" buttons.
#include "lbtools3/ui/InfoWindow.h"
#include "lbtools3/ui/QtUiServices.h"
#include "lbtools3/ui/WorkerDialog.h"
#include "lbtools3/model/InfoWindowManager.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    main.resize(600, 400);
    main.show();
    ui.SetMainWindow(&main);
    previous = UiServices::Install(&ui);
  }
  void TearDown() override { UiServices::Install(previous); }
  QWidget main;
  QtUiServices ui;
  UiServices* previous = nullptr;
};

class SleepyWorker : public TBaseWorkerThread {
 public:
  ~SleepyWorker() override { StopAndWait(); }
  std::atomic<bool> ended{false};
  std::atomic<int> steps{0};

 protected:
  void Execute() override {
    SetInfoText(itObject, "/music/Исполнитель/Альбом/01.mp3");
    while (!Terminated()) {
      SetProgress(++steps % 100);
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // winding down
    ended = true;
  }
};

TEST_F(AppTest, StopReturnsFromTheModalDialogOnlyAfterTheWorkerEnded) {
  SleepyWorker worker;
  TInfoWindow1 dialog(&main, nullptr, "Удаление файлов", true, &worker);
  EXPECT_EQ(dialog.windowTitle(), "Ход выполнения...");
  EXPECT_EQ(dialog.StopBtn->text(), "Стоп");
  EXPECT_EQ(dialog.m_strAction->text(), "Удаление файлов");
  EXPECT_EQ(worker.m_pInfoWindow, &dialog);
  QTimer::singleShot(300, &dialog, [&] { dialog.StopBtn->click(); });
  const int result = dialog.exec();
  EXPECT_EQ(result, QDialog::Accepted);
  EXPECT_TRUE(worker.ended) << "exec returned while the worker was still running";
  EXPECT_TRUE(worker.Finished());
  EXPECT_GT(worker.steps, 0);
  EXPECT_TRUE(dialog.m_strObject->text().endsWith("01.mp3"));
}

class QuickWorker : public TBaseWorkerThread {
 protected:
  void Execute() override {
    SetInfoText(itAction, "Копирование группы файлов");
    SetProgress(100);
  }
};

TEST_F(AppTest, WorkerFinishedClosesTheDialog) {
  QuickWorker worker;
  TInfoWindow1 dialog(&main, nullptr, "x", false, &worker);
  EXPECT_TRUE(dialog.m_ProgressBar->isHidden());
  EXPECT_FALSE(dialog.m_strProgress->isHidden());
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, &dialog, [&] { dialog.StopBtn->click(); });
  guard.start(5000);  // a dialog that never closes would stop here instead of hanging
  EXPECT_EQ(dialog.exec(), QDialog::Accepted);
  EXPECT_TRUE(guard.isActive()) << "closed by the worker, not by the guard";
  EXPECT_EQ(dialog.m_strAction->text(), "Копирование группы файлов");
  EXPECT_EQ(dialog.m_ProgressBar->value(), 100);
}

TEST_F(AppTest, NestedLevelsOnTheRealWindow) {
  TSlInfoWindowManager m;
  ASSERT_TRUE(main.isEnabled());
  auto* w = static_cast<TInfoWindow*>(m.Open("Сканирование папки", "/a", false));
  EXPECT_FALSE(main.isEnabled());
  EXPECT_TRUE(w->isVisible());
  EXPECT_FALSE(w->Label3->isHidden());
  EXPECT_TRUE(w->ProgressBar1->isHidden());
  m.Open("Запись m3u-файла...", "/a/list.m3u", true);
  EXPECT_EQ(w->Label2->text(), "Запись m3u-файла...");
  EXPECT_FALSE(w->ProgressBar1->isHidden());
  m.Close();
  EXPECT_EQ(w->Label2->text(), "Сканирование папки");
  EXPECT_EQ(w->Label5->text(), "/a");
  EXPECT_TRUE(w->ProgressBar1->isHidden());
  w->Button1->click();
  EXPECT_TRUE(m.m_bStop);
  m.Close();
  EXPECT_TRUE(main.isEnabled());
}

TEST_F(AppTest, ProgressOverAModalDialogTakesTheStopClick) {
  QDialog dialog(&main);
  dialog.setModal(true);
  dialog.show();
  ASSERT_EQ(QApplication::activeModalWidget(), &dialog);
  TSlInfoWindowManager m;
  auto* w = static_cast<TInfoWindow*>(m.Open("Переименование файлов", "/a", true));
  EXPECT_EQ(w->parentWidget(), &dialog);
  QTest::mouseClick(w->Button1, Qt::LeftButton);
  EXPECT_TRUE(m.m_bStop);
  // The dialog closes while the work goes on: the window stays, now on the main window.
  dialog.hide();
  EXPECT_EQ(w->parentWidget(), &main);
  EXPECT_TRUE(w->isVisible());
  m.Close();
}

TEST_F(AppTest, LongPathKeepsItsTailVisible) {
  TSlInfoWindowManager m;
  auto* w = static_cast<TInfoWindow*>(m.Open("a", "", true));
  QString path = "/home/user";
  for (int i = 0; i < 30; ++i) path += "/Очень длинная папка " + QString::number(i);
  path += "/Последняя песня.mp3";
  m.SetObject(path);
  const QString shown = w->Label5->text();
  const QFontMetrics metrics(w->Label5->font());
  EXPECT_TRUE(shown.startsWith("..."));
  EXPECT_TRUE(path.endsWith(shown.mid(3)));
  EXPECT_TRUE(shown.endsWith("/Последняя песня.mp3"));
  EXPECT_LE(metrics.horizontalAdvance(shown), w->Label5->width());
  EXPECT_GT(metrics.horizontalAdvance("..." + path.right(shown.size() - 2)), w->Label5->width());
  EXPECT_EQ(w->Object(), path) << "the window keeps the whole text";
  m.SetLine("Песен найдено: ", path);
  EXPECT_TRUE(w->Label3->text().startsWith("Песен найдено: ..."));
  m.Close();
}

// Presses the button with the given text on the box that is about to show.
void PressLater(const QString& text, QStringList* seen) {
  QTimer::singleShot(0, [=] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    for (QAbstractButton* b : box->buttons()) {
      *seen << b->text();
    }
    for (QAbstractButton* b : box->buttons())
      if (b->text() == text) b->click();
  });
}

TEST_F(AppTest, ToAllButtonsSpeakRussianAndAnswer) {
  QStringList seen;
  PressLater("Да для всех", &seen);
  EXPECT_EQ(ui.AskButtons("Найден лист", "LBTools",
                          abYes | abNo | abCancel | abNoToAll | abYesToAll, MB_ICONQUESTION),
            IDYESTOALL);
  seen.sort();  // the box orders its buttons by role
  EXPECT_EQ(seen, (QStringList{"Да", "Да для всех", "Нет", "Нет для всех", "Отмена"}));
  seen.clear();
  PressLater("Нет для всех", &seen);
  EXPECT_EQ(ui.AskButtons("?", "LBTools", abYes | abNo | abNoToAll, MB_ICONQUESTION), IDNOTOALL);
  seen.clear();
  PressLater("Нет", &seen);
  EXPECT_EQ(ui.MessageBox("?", "LBTools", MB_YESNO | MB_ICONQUESTION), IDNO);
  seen.sort();
  EXPECT_EQ(seen, (QStringList{"Да", "Нет"}));
}

TEST_F(AppTest, MessageBoxFromAWorkerThreadIsShownOnTheMainThread) {
  QThread* shownOn = nullptr;
  QTimer::singleShot(50, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shownOn = box->thread();
      ASSERT_FALSE(box->buttons().empty());
      box->buttons().first()->click();
    }
  });
  int answer = 0;
  std::atomic<bool> done{false};
  std::thread t([&] {
    answer = UiServices::Instance().MessageBox("Ошибка", "LBTools", MB_OK | MB_ICONERROR);
    done = true;
  });
  QDeadlineTimer deadline(30000);
  while (!done && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  ASSERT_TRUE(done) << "the message box was never shown";
  t.join();
  EXPECT_EQ(answer, IDOK);
  EXPECT_EQ(shownOn, qApp->thread());
}

// The bar repaints at once on a change, even inside work that never lets the loop turn,
// so quick changes may be held back: the window always tells the latest position, the
// bar has it by the next turn of the loop, and 100 at once.
TEST_F(AppTest, ProgressBarHasTheLatestPositionByTheNextTurn) {
  TSlInfoWindowManager m;
  auto* w = static_cast<TInfoWindow*>(m.Open("Запись m3u-файла...", "/a/list.m3u", true));
  for (int position : {10, 20, 30}) {
    m.SetProgress(position);
    EXPECT_EQ(w->Position(), position);
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(w->ProgressBar1->value(), 30);
  m.SetProgress(40);
  m.SetProgress(100);
  EXPECT_EQ(w->ProgressBar1->value(), 100);
  m.Close();
}

}  // namespace
