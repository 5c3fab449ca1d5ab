// The progress-window manager: nesting, saved texts, the main window's state, the
// shared Stop flag, and shortening path texts.
#include "lbtools3/model/InfoWindowManager.h"
#include "platform/ScriptedUiServices.h"

#include <QCoreApplication>
#include <QStringList>
#include <gtest/gtest.h>
#include <memory>

namespace {

class InfoWindowManagerTest : public ::testing::Test {
 protected:
  ScriptedUiServices ui;
  TSlInfoWindowManager m;
};

TEST_F(InfoWindowManagerTest, NestedLevelsRestoreOuterTextsAndMainWindow) {
  ASSERT_TRUE(ui.MainWindowEnabled());
  IProgressView* w = m.Open("Сканирование папки", "/music", false);
  m.SetLine("Песен найдено: ", "3");
  EXPECT_FALSE(ui.MainWindowEnabled());
  IProgressView* inner = m.Open("Открытие: Загрузка m3u-файла...", "/music/a.m3u", true);
  EXPECT_EQ(w, inner) << "nested levels share one window";
  m.SetProgress(40);
  EXPECT_TRUE(w->BarVisible());
  m.Close();
  EXPECT_EQ(w->Action(), "Сканирование папки");
  EXPECT_EQ(w->Object(), "/music");
  EXPECT_EQ(w->Line(), "Песен найдено: 3");
  EXPECT_FALSE(w->BarVisible());
  EXPECT_FALSE(ui.MainWindowEnabled()) << "still inside the outer level";
  m.Close();
  EXPECT_EQ(m.Window(), nullptr);
  EXPECT_TRUE(ui.MainWindowEnabled());
}

TEST_F(InfoWindowManagerTest, DisabledMainWindowStaysDisabledAndLeaveAloneIsHonoured) {
  ui.SetMainWindowEnabled(false);
  m.Open("a", "", true);
  m.Open("b", "", true);
  m.Close();
  m.Close();
  EXPECT_FALSE(ui.MainWindowEnabled());

  ui.SetMainWindowEnabled(true);
  m.Open("a", "", true, {}, /*bLeaveMainWindow=*/true);
  EXPECT_TRUE(ui.MainWindowEnabled());
  m.Close();
  EXPECT_TRUE(ui.MainWindowEnabled());
}

TEST_F(InfoWindowManagerTest, ExtraControlIsDisabledForTheWindowsLife) {
  int enables = 0, disables = 0;
  m.Open("a", "", true, [&](bool on) { on ? ++enables : ++disables; });
  m.Open("b", "", true, [&](bool on) { on ? ++enables : ++disables; });
  m.Close();
  EXPECT_EQ(disables, 1);
  EXPECT_EQ(enables, 0);
  m.Close();
  EXPECT_EQ(enables, 1);
}

TEST_F(InfoWindowManagerTest, StopIsSharedByAllLevelsAndClearedByANewWindow) {
  m.Open("outer", "", false);
  m.Open("inner", "", true);
  ASSERT_FALSE(ui.Progress().empty());
  ui.Progress().back().pressStop();
  EXPECT_TRUE(m.ProcessAndCheckStop());
  m.Close();
  EXPECT_TRUE(m.m_bStop) << "a stop during an inner step ends the outer loop too";
  m.Close();
  m.Open("next", "", true);
  EXPECT_FALSE(m.m_bStop);
  m.Close();
}

TEST_F(InfoWindowManagerTest, StopButtonLockRestoresThePreviousState) {
  TSlInfoWindowManager& g = InfoWindowManager();
  g.Open("Запись m3u-файла...", "", true);
  {
    TStopButtonLock lock;
    EXPECT_FALSE(g.StopEnabled());
  }
  EXPECT_TRUE(g.StopEnabled());
  g.SetStopEnabled(false);
  { TStopButtonLock lock; }
  EXPECT_FALSE(g.StopEnabled()) << "a button disabled before stays disabled";
  g.Close();
}

// Each character 7 units wide, like a fixed-pitch font.
int Measure7(const QString& t) {
  return 7 * static_cast<int>(t.size());
}

TEST(ShortenPathText, KeepsTheLongestTailThatFits) {
  const QString path = "/home/user/Музыка/Исполнитель/Альбом/01 - Песня.mp3";
  const int width = 7 * 20;
  const QString s = ShortenPathText(path, width, Measure7);
  EXPECT_TRUE(s.startsWith("..."));
  EXPECT_TRUE(path.endsWith(s.mid(3)));
  EXPECT_LE(Measure7(s), width);
  EXPECT_EQ(s.size(), 20) << "the longest tail that fits";
}

TEST(ShortenPathText, NarrowFontAndEdgeCases) {
  EXPECT_EQ(ShortenPathText("/a/b.mp3", 1000, Measure7), "/a/b.mp3");
  // Proportional measure: wide capitals, narrow others.
  auto prop = [](const QString& t) {
    int w = 0;
    for (QChar c : t) w += c.isUpper() ? 12 : 5;
    return w;
  };
  const QString path = "/MUSIC/ARTIST/album/track.mp3";
  const QString s = ShortenPathText(path, 80, prop);
  EXPECT_LE(prop(s), 80);
  EXPECT_TRUE(path.endsWith(s.mid(3)));
  const QString longer = "..." + path.right(s.size() - 3 + 1);
  EXPECT_GT(prop(longer), 80);
  // Nothing fits: only the dots remain.
  EXPECT_EQ(ShortenPathText(path, 1, Measure7), "...");
  // Measuring fails at once: the text stays as it is.
  EXPECT_EQ(ShortenPathText(path, 10, [](const QString&) { return -1; }), path);
}

// A termination signal installs unattended services while a job runs: the job's inner
// levels and its end still deal with the main window the job disabled.
TEST_F(InfoWindowManagerTest, ServicesInstalledDuringAJobLeaveTheMainWindowToTheJob) {
  m.Open("Отмена переименования", "", true);
  {
    ScriptedUiServices unattended;
    m.Open("Поиск и смена путей...", "", true);
    m.Close();
    m.Close();
    EXPECT_TRUE(unattended.MainWindowEnabled());
  }
  EXPECT_TRUE(ui.MainWindowEnabled()) << "the window the job disabled is enabled again";
}

// Work that waits for no job: it runs at a later turn of the event loop, not inside a
// job that is open then or that a turn runs in, and not after its context went.
TEST_F(InfoWindowManagerTest, WorkWaitingForNoJobRunsOnlyOutsideJobs) {
  QStringList ran;
  QObject context;
  m.Open("Сканирование папки", "", false);
  m.WhenNoJob(&context, [&] { ran << "after the job"; });
  QCoreApplication::processEvents();
  EXPECT_TRUE(ran.isEmpty()) << "ran inside the job";
  m.Close();
  EXPECT_TRUE(ran.isEmpty()) << "ran inside the closing of the job";
  m.Open("Вставка файлов...", "", false);  // a job begun before the loop turned
  QCoreApplication::processEvents();
  EXPECT_TRUE(ran.isEmpty()) << "ran inside the next job";
  m.Close();
  QCoreApplication::processEvents();
  EXPECT_EQ(ran, QStringList{"after the job"});

  auto gone = std::make_unique<QObject>();
  m.WhenNoJob(gone.get(), [&] { ran << "without its context"; });
  gone.reset();
  QCoreApplication::processEvents();
  EXPECT_EQ(ran, QStringList{"after the job"});
}

}  // namespace
