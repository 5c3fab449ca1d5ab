// The synchronisation pass: its reports, its effect on the songs, restarting it, and
// songs inserted while it runs.
#include "lbtools3/docwin/SyncThread.h"

#include "DocWinTestUtil.h"
#include "lbtools3/model/ID3ComAccess.h"
#include "lbtools3/model/M3uList.h"
#include "platform/FileSystem.h"
#include "platform/ScriptedUiServices.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <gtest/gtest.h>

namespace {

class RecordingWindow : public ISyncWindow {
 public:
  void SyncStatus(const QString& text) override { statuses << text; }
  void SyncRepaint(int nFirst, int nLast) override { repaints.push_back({nFirst, nLast}); }
  QStringList statuses;
  std::vector<std::pair<int, int>> repaints;
};

class SyncThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(modeltest::AttachID3Com()); }
  QStringList MakeFiles(int count, const QString& prefix = "s") {
    QStringList paths;
    for (int n = 0; n < count; ++n)
      paths << docwintest::MakeTaggedMp3(dir + QString("/%1%2.mp3").arg(prefix).arg(n),
                                         QString("Title %1").arg(n));
    return paths;
  }
  void RunPass() {
    TSyncThread pass(&doc, &window);
    pass.Resume();
    docwintest::WaitForPass(pass);
  }

  ScriptedUiServices ui;
  QString dir = lbtest::NewTempDir();
  TSlDocument doc;
  RecordingWindow window;
};

TEST_F(SyncThreadTest, OneSongShowsHundredPercentThenTheEnd) {
  docwintest::FillDocument(doc, dir, MakeFiles(1));
  RunPass();
  EXPECT_EQ(window.statuses,
            QStringList({"Тэги: 100% синхронизировано", "Синхронизация тэгов завершена"}));
  EXPECT_EQ(doc.m_Songs[0].m_Tag1.GetTitle(), "Title 0");
  EXPECT_EQ(doc.m_Songs[0].m_FileAge, lb::FileAge(doc.m_Songs[0].m_Path));
  EXPECT_TRUE(doc.m_bModified);
  EXPECT_EQ(doc.m_DocNotSync->WaitFor(0), wrSignaled);
}

TEST_F(SyncThreadTest, ReportsPercentagesInOrderAndRepaintsEveryRow) {
  docwintest::FillDocument(doc, dir, MakeFiles(40));
  RunPass();
  ASSERT_GE(window.statuses.size(), 2);
  EXPECT_EQ(window.statuses.front(), "Тэги: 2% синхронизировано");  // 1 * 100 / 40
  EXPECT_EQ(window.statuses[window.statuses.size() - 2], "Тэги: 100% синхронизировано");
  EXPECT_EQ(window.statuses.back(), "Синхронизация тэгов завершена");
  EXPECT_EQ(window.statuses.removeDuplicates(), 0);
  std::vector<bool> painted(41, false);
  for (const auto& [first, last] : window.repaints)
    for (int n = first; n <= last && n <= 40; ++n) painted[n] = true;
  for (int n = 0; n < 40; ++n) EXPECT_TRUE(painted[n]) << n;
}

TEST_F(SyncThreadTest, EmptyListOnlyFinishes) {
  doc.SetFileName(dir + "/list.m3u");
  RunPass();
  EXPECT_EQ(window.statuses, QStringList({"Синхронизация тэгов завершена"}));
  EXPECT_FALSE(doc.m_bModified);
}

TEST_F(SyncThreadTest, RescanPicksUpTagsChangedByAnotherProgram) {
  const QStringList files = MakeFiles(3);
  docwintest::FillDocument(doc, dir, files);
  RunPass();
  ASSERT_EQ(doc.m_Songs[1].m_Tag1.GetTitle(), "Title 1");
  docwintest::RetitleOutside(files[1], "Changed");
  RunPass();
  EXPECT_EQ(doc.m_Songs[1].m_Tag1.GetTitle(), "Changed");
  EXPECT_EQ(doc.m_Songs[1].m_FileAge, lb::FileAge(files[1]));
  EXPECT_EQ(doc.m_Songs[0].m_Tag1.GetTitle(), "Title 0");
}

TEST_F(SyncThreadTest, UnchangedSongsAreLeftAlone) {
  const QStringList files = MakeFiles(2);
  docwintest::FillDocument(doc, dir, files);
  RunPass();
  doc.m_bModified = false;
  RunPass();
  EXPECT_FALSE(doc.m_bModified);
  // A pending age from a tag write is committed even though the file looks unchanged.
  TSlSong& song = doc.m_Songs[0];
  song.m_bNewFileAge = true;
  song.m_NewFileAge = song.m_FileAge;
  RunPass();
  EXPECT_FALSE(song.m_bNewFileAge);
  EXPECT_TRUE(doc.m_bModified);
}

TEST_F(SyncThreadTest, DocumentIsMarkedSynchronisingFromResumeToTheEnd) {
  docwintest::FillDocument(doc, dir, MakeFiles(5));
  {
    TSyncThread pass(&doc, &window);
    EXPECT_EQ(doc.m_DocNotSync->WaitFor(0), wrSignaled);
    {
      // The first song's lock holds the pass at its first song.
      std::lock_guard<std::recursive_mutex> hold(doc.m_Songs[0].cs);
      pass.Resume();
      EXPECT_EQ(doc.m_DocNotSync->WaitFor(0), wrTimeout);
    }
    docwintest::WaitForPass(pass);
    EXPECT_EQ(doc.m_DocNotSync->WaitFor(0), wrSignaled);
  }
}

TEST_F(SyncThreadTest, DeletingThePassStopsItAndDropsItsReports) {
  docwintest::FillDocument(doc, dir, MakeFiles(300));
  {
    TSyncThread pass(&doc, &window);
    pass.Resume();
    QThread::msleep(2);
  }  // terminated and waited for
  EXPECT_EQ(doc.m_DocNotSync->WaitFor(0), wrSignaled);
  // Reports queued before the end are not delivered to a window that may be gone.
  QCoreApplication::processEvents();
  EXPECT_TRUE(window.statuses.isEmpty());
  EXPECT_TRUE(window.repaints.empty());
}

TEST_F(SyncThreadTest, SongsPastedDuringThePassAreAllSynchronised) {
  const QStringList files = MakeFiles(600);
  docwintest::FillDocument(doc, dir, files);
  // Songs on the clipboard were never synchronised either.
  doc.CopyToClipboard({0, 1, 2, 3, 4});
  doc.m_bModified = false;

  // The pass waits at its next file while the test holds the tag lock, and is let on
  // a few songs at a time: the pastes meet a running pass however busy the machine is.
  std::unique_lock<std::recursive_mutex> tags(lb::ID3ComLock());
  TSyncThread pass(&doc, &window);
  pass.Resume();
  auto running = [&] { return doc.m_DocNotSync->WaitFor(0) == wrTimeout; };
  int pastes = 0, pastesWhileRunning = 0;
  QRandomGenerator random(42);
  while (running() && pastes < 400) {
    // Before the pass's position as well as after it.
    doc.PasteFromClipboard(random.bounded(doc.m_Songs.size() + 1));
    ++pastes;
    // Still running after the insertion: the pass must meet these songs.
    if (running()) ++pastesWhileRunning;
    if (pastes % 20 == 0) {
      const int at = pass.m_nIndex;
      tags.unlock();
      while (pass.m_nIndex == at && running()) std::this_thread::yield();
      tags.lock();
    }
    QCoreApplication::processEvents();
  }
  tags.unlock();
  docwintest::WaitForPass(pass);
  EXPECT_GT(pastesWhileRunning, 10);
  ASSERT_EQ(doc.m_Songs.size(), 600 + 5 * pastes);
  int unsynced = 0;
  for (int n = 0; n < doc.m_Songs.size(); ++n)
    if (doc.m_Songs[n].m_FileAge == kAgeNeverSynced) ++unsynced;
  // Only a paste that came after the end (at most the last one) may be left.
  EXPECT_LE(unsynced, 5 * (pastes - pastesWhileRunning));
  EXPECT_EQ(pass.m_nSynced, doc.m_Songs.size() - unsynced);
  ASSERT_FALSE(window.statuses.empty());
  EXPECT_EQ(window.statuses.back(), "Синхронизация тэгов завершена");
}

// A song that never answers (a FIFO named like one: opening it for reading waits for
// a writer) holds up neither the pass nor the closing of its window.
TEST_F(SyncThreadTest, ClosingTheWindowOverASongThatNeverAnswersEndsAtOnce) {
  const QString fifo = dir + "/slow.mp3";
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
  docwintest::FillDocument(doc, dir, QStringList{fifo} + MakeFiles(3));
  // Should the pass wait on the FIFO after all, after 20 seconds a writer lets every
  // open of it go, so that the test fails instead of hanging.
  std::promise<void> done;
  std::thread release([&, finished = done.get_future()] {
    std::chrono::milliseconds wait = std::chrono::seconds(20);
    while (finished.wait_for(wait) != std::future_status::ready) {
      const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
      wait = std::chrono::milliseconds(50);
    }
  });
  QElapsedTimer timer;
  timer.start();
  {
    TSyncThread pass(&doc, &window);
    pass.Resume();
  }  // the window closes: the pass is terminated and waited for
  EXPECT_LT(timer.elapsed(), 5000);
  done.set_value();
  release.join();
}

TEST(SyncStatusTextTest, IntegerPercentOfTheNextRow) {
  EXPECT_EQ(TSyncThread::StatusText(0, 3), "Тэги: 33% синхронизировано");
  EXPECT_EQ(TSyncThread::StatusText(2, 3), "Тэги: 100% синхронизировано");
  EXPECT_EQ(TSyncThread::StatusText(99999, 100000), "Тэги: 100% синхронизировано");
}

}  // namespace
