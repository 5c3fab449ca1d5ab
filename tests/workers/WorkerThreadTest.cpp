// The worker framework: synchronised services run on the main thread, Stop waits for
// the worker's end, and the worker-finished notice always comes.
#include "lbtools3/model/WorkerThread.h"
#include "platform/ScriptedUiServices.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace {

class ThreadRecordingUi : public ScriptedUiServices {
 public:
  int MessageBox(const QString& text, const QString& caption, unsigned flags) override {
    boxThread = QThread::currentThread();
    return ScriptedUiServices::MessageBox(text, caption, flags);
  }
  QThread* boxThread = nullptr;
};

class FakeView : public IWorkerView {
 public:
  void SetInfoText(int code, const QString& text) override {
    threads << QThread::currentThread();
    texts[code] = text;
  }
  void SetProgress(int position) override {
    threads << QThread::currentThread();
    progress = position;
  }
  void PostWorkerFinished() override { ++finished; }
  QList<QThread*> threads;
  QString texts[3];
  int progress = -1;
  std::atomic<int> finished{0};
};

class FunctionWorker : public TBaseWorkerThread {
 public:
  explicit FunctionWorker(std::function<void(FunctionWorker&)> body) : m_Body(std::move(body)) {}
  ~FunctionWorker() override { StopAndWait(); }

 protected:
  void Execute() override { m_Body(*this); }

 private:
  std::function<void(FunctionWorker&)> m_Body;
};

TEST(WorkerThread, ServicesRunOnTheMainThread) {
  ThreadRecordingUi ui;
  ui.Answer(IDNO);
  FakeView view;
  int answer = 0;
  FunctionWorker worker([&](FunctionWorker& w) {
    w.SetInfoText(itAction, "Удаление файлов");
    w.SetInfoText(itObject, "/music/a.mp3");
    w.SetProgress(50);
    answer =
        w.ThreadMessageBox("Ошибка удаления файла\n/music/a.mp3", "LBTools", MB_OK | MB_ICONERROR);
  });
  worker.m_pInfoWindow = &view;
  worker.Resume();
  worker.WaitFor();
  ASSERT_TRUE(worker.Finished());
  QThread* main = QCoreApplication::instance()->thread();
  EXPECT_EQ(ui.boxThread, main);
  EXPECT_EQ(answer, IDNO);
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(ui.Messages()[0].text, "Ошибка удаления файла\n/music/a.mp3");
  ASSERT_EQ(view.threads.size(), 3);
  for (QThread* t : view.threads) EXPECT_EQ(t, main);
  EXPECT_EQ(view.texts[itAction], "Удаление файлов");
  EXPECT_EQ(view.texts[itObject], "/music/a.mp3");
  EXPECT_EQ(view.progress, 50);
  EXPECT_EQ(view.finished, 1);
}

class FakeChild : public IWorkerDocumentWindow {
 public:
  int SelectedIndex() override { return 2; }
  int SelectedCount() override { return 3; }
  int SongCount() override { return 10; }
  bool IsSelected(int n) override { return n >= 2 && n < 5; }
  void RedrawSongs(int a, int b) override { redrawn = {a, b}; }
  std::pair<int, int> redrawn{-1, -1};
};

TEST(WorkerThread, DocumentWindowQueries) {
  ScriptedUiServices ui;
  FakeChild child;
  int selected = 0, index = -1, count = 0, total = 0;
  FunctionWorker worker([&](FunctionWorker& w) {
    index = w.GetSelectedIndex();
    count = w.GetSelectedCount();
    total = w.GetSongCount();
    for (int n = 0; n < total; ++n) selected += w.IsSongSelected(n) ? 1 : 0;
    w.RedrawSongs(0, total - 1);
  });
  worker.m_pChild = &child;
  worker.Resume();
  worker.WaitFor();
  EXPECT_EQ(index, 2);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(total, 10);
  EXPECT_EQ(selected, 3);
  EXPECT_EQ(child.redrawn, std::make_pair(0, 9));
}

TEST(WorkerThread, StopReturnsOnlyAfterTheWorkerEnded) {
  ScriptedUiServices ui;
  FakeView view;
  std::atomic<bool> started{false}, ended{false};
  FunctionWorker worker([&](FunctionWorker& w) {
    started = true;
    for (int i = 0; !w.Terminated(); ++i) {
      w.SetProgress(i % 100);  // waits for the main thread, which is waiting for us
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ended = true;
  });
  worker.m_pInfoWindow = &view;
  worker.Resume();
  QDeadlineTimer deadline(30000);
  while (!started && !deadline.hasExpired()) QCoreApplication::processEvents();
  ASSERT_TRUE(started) << "the worker never started";
  worker.StopAndWait();
  EXPECT_TRUE(ended);
  EXPECT_TRUE(worker.Finished());
  EXPECT_EQ(view.finished, 1);
}

TEST(WorkerThread, AFailingWorkerStillEnds) {
  ScriptedUiServices ui;
  FakeView view;
  FunctionWorker worker([](FunctionWorker&) { throw std::runtime_error("disk gone"); });
  worker.m_pInfoWindow = &view;
  worker.Resume();
  worker.WaitFor();
  EXPECT_TRUE(worker.Finished());
  EXPECT_EQ(view.finished, 1);
}

// A blocking call runs on a thread of its own while the main thread keeps turning: the
// call sees an event the main thread handles meanwhile, and its answer comes back.
TEST(WorkerThread, RunOffMainThreadKeepsTheMainThreadTurning) {
  ScriptedUiServices ui;
  std::mutex mutex;
  std::condition_variable cond;
  bool turned = false;
  QTimer::singleShot(0, [&] {
    std::lock_guard<std::mutex> lock(mutex);
    turned = true;
    cond.notify_all();
  });
  const std::thread::id main = std::this_thread::get_id();
  EXPECT_TRUE(RunOffMainThread([&] {
    std::unique_lock<std::mutex> lock(mutex);
    return cond.wait_for(lock, std::chrono::seconds(30), [&] { return turned; }) &&
           std::this_thread::get_id() != main;
  }));
  EXPECT_FALSE(RunOffMainThread([] { return false; }));
}

}  // namespace
