#include "platform/ScriptedUiServices.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

TEST(CoreUiServices, DefaultAnswerFollowsButtonsAndDefaultButton) {
  using C = CoreUiServices;
  EXPECT_EQ(C::DefaultAnswer(MB_OK | MB_ICONINFORMATION), IDOK);
  EXPECT_EQ(C::DefaultAnswer(MB_OKCANCEL), IDOK);
  EXPECT_EQ(C::DefaultAnswer(MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
  EXPECT_EQ(C::DefaultAnswer(MB_YESNO | MB_ICONQUESTION), IDYES);
  EXPECT_EQ(C::DefaultAnswer(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(C::DefaultAnswer(MB_YESNOCANCEL), IDYES);
  EXPECT_EQ(C::DefaultAnswer(MB_YESNOCANCEL | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(C::DefaultAnswer(MB_YESNOCANCEL | MB_DEFBUTTON3 | MB_ICONWARNING), IDCANCEL);
  EXPECT_EQ(C::DefaultAnswer(MB_RETRYCANCEL), IDRETRY);
  EXPECT_EQ(C::DefaultAnswer(MB_ABORTRETRYIGNORE), IDABORT);
  EXPECT_EQ(C::DefaultAnswer(MB_ABORTRETRYIGNORE | MB_DEFBUTTON3), IDIGNORE);

  CoreUiServices core;
  EXPECT_EQ(core.AskButtons("q", "c", abNo | abYes | abYesToAll, MB_ICONQUESTION), IDYES);
  EXPECT_EQ(core.AskButtons("q", "c", abNoToAll | abCancel, MB_ICONQUESTION), IDCANCEL);
  EXPECT_EQ(core.AskButtons("q", "c", abYesToAll | abNoToAll, MB_ICONQUESTION), IDYESTOALL);
}

TEST(ScriptedUiServices, InstallsItselfAndRestoresThePrevious) {
  UiServices* before = &UiServices::Instance();
  {
    ScriptedUiServices outer;
    EXPECT_EQ(&UiServices::Instance(), &outer);
    {
      ScriptedUiServices inner;
      EXPECT_EQ(&UiServices::Instance(), &inner);
    }
    EXPECT_EQ(&UiServices::Instance(), &outer);
  }
  EXPECT_EQ(&UiServices::Instance(), before);
}

TEST(ScriptedUiServices, AnswersFromTheScriptThenByDefaultAndRecordsEverything) {
  ScriptedUiServices ui;
  ui.Answer(IDNO);
  ui.Answer(IDNOTOALL);
  UiServices& s = UiServices::Instance();
  EXPECT_EQ(s.MessageBox("Сохранить?", "LBTools", MB_YESNO | MB_ICONQUESTION), IDNO);
  EXPECT_EQ(s.AskButtons("Удалить?", "LBTools", abYes | abNo | abNoToAll, MB_ICONWARNING),
            IDNOTOALL);
  EXPECT_EQ(s.MessageBox("Ещё?", "LBTools", MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
  EXPECT_EQ(s.AskButtons("И?", "LBTools", abNo | abCancel, MB_ICONQUESTION), IDNO);

  EXPECT_EQ(ui.Texts(), QStringList({"Сохранить?", "Удалить?", "Ещё?", "И?"}));
  ASSERT_EQ(ui.Messages().size(), 4);
  EXPECT_EQ(ui.Messages()[0].caption, "LBTools");
  EXPECT_EQ(ui.Messages()[0].flags, unsigned(MB_YESNO | MB_ICONQUESTION));
  EXPECT_EQ(ui.Messages()[1].flags, unsigned(abYes | abNo | abNoToAll | (MB_ICONWARNING << 16)));
  ui.ClearMessages();
  EXPECT_TRUE(ui.Texts().isEmpty());
}

TEST(ScriptedUiServices, ProgressRecordOutlivesItsView) {
  ScriptedUiServices ui;
  {
    auto view = UiServices::Instance().CreateProgressView(nullptr);
    view->SetAction("Чтение");
    view->SetAction("Запись");
    view->SetAction("Запись");
    view->SetAction("Чтение");
    view->SetObject("/music/a.mp3");
    view->SetLine("Файл: ", "a.mp3");
    view->SetPosition(30);
    view->SetPosition(80);
    view->SetPosition(50);
    EXPECT_EQ(view->Position(), 50);
    EXPECT_EQ(view->Line(), "Файл: a.mp3");
  }
  auto second = UiServices::Instance().CreateProgressView(nullptr);  // must not move the first
  second->SetAction("Другое");
  ASSERT_EQ(ui.Progress().size(), 2u);
  const auto& r = ui.Progress()[0];
  EXPECT_EQ(r.actions, QStringList({"Чтение", "Запись", "Чтение"}));
  EXPECT_EQ(r.action, "Чтение");
  EXPECT_EQ(r.object, "/music/a.mp3");
  EXPECT_EQ(r.line, "Файл: a.mp3");
  EXPECT_EQ(r.maxPosition, 80);
  r.pressStop();  // the view is gone: nothing happens, nothing crashes
  EXPECT_EQ(ui.Progress()[1].actions, QStringList{"Другое"});
}

TEST(ScriptedUiServices, StopIsPressedAfterTheGivenNumberOfProcessMessages) {
  ScriptedUiServices ui;
  int firstStops = 0, lastStops = 0;
  auto first = UiServices::Instance().CreateProgressView([&] { ++firstStops; });
  auto last = UiServices::Instance().CreateProgressView([&] { ++lastStops; });
  ui.StopAfterProcessMessages(3);
  UiServices::Instance().ProcessMessages();
  UiServices::Instance().ProcessMessages();
  EXPECT_EQ(lastStops, 0);
  UiServices::Instance().ProcessMessages();
  EXPECT_EQ(lastStops, 1);
  UiServices::Instance().ProcessMessages();
  EXPECT_EQ(lastStops, 1);  // pressed once
  EXPECT_EQ(firstStops, 0);
  EXPECT_EQ(ui.ProcessMessagesCount(), 4);
}

TEST(CoreUiServices, ClipboardKeepsEachFormat) {
  CoreUiServices ui;
  const QString songs = "{70C5820E-5747-48ea-8370-42F696752504}";
  ASSERT_TRUE(ui.SetClipboardData(songs, QByteArray("\x00\x01\x02", 3)));
  ASSERT_TRUE(ui.SetClipboardData("text/plain", "hello"));
  QByteArray data;
  ASSERT_TRUE(ui.GetClipboardData(songs, &data));
  EXPECT_EQ(data, QByteArray("\x00\x01\x02", 3));
  EXPECT_FALSE(ui.GetClipboardData("application/x-none", &data));
  // One clipboard for the process, whichever implementation is installed.
  ScriptedUiServices scripted;
  ASSERT_TRUE(UiServices::Instance().GetClipboardData("text/plain", &data));
  EXPECT_EQ(data, "hello");
}

TEST(CoreUiServices, RunOnMainThreadFromAWorker) {
  CoreUiServices ui;
  QThread* mainThread = QCoreApplication::instance()->thread();
  QThread* ranOn = nullptr;
  std::atomic<bool> done{false};
  int value = 0;
  std::thread worker([&] {
    ui.RunOnMainThread([&] {
      ranOn = QThread::currentThread();
      value = 42;
    });
    // The call waited for the function: its result is visible here.
    if (value == 42) value = 43;
    done = true;
  });
  for (int i = 0; i < 5000 && !done; ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  worker.join();
  EXPECT_EQ(ranOn, mainThread);
  EXPECT_EQ(value, 43);

  // On the main thread the function runs at once.
  bool direct = false;
  ui.RunOnMainThread([&] { direct = true; });
  EXPECT_TRUE(direct);
}

}  // namespace
