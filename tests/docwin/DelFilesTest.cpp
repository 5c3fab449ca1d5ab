// Deleting the selected songs' files: missing files, files that cannot go, the paths
// handed on to the other lists, and the player's row updates.
#include "lbtools3/docwin/DeleteFilesWorker.h"

#include "DocWinTestUtil.h"
#include "lbtools3/model/M3uList.h"
#include "platform/FileSystem.h"
#include "platform/ScriptedUiServices.h"

#include <QFile>
#include <gtest/gtest.h>
#include <set>

namespace {

// The window as the worker sees it: a selection over the document's rows.
class FakeWindow : public IWorkerDocumentWindow {
 public:
  explicit FakeWindow(TSlDocument& doc) : m_Doc(doc) {}
  int SelectedIndex() override { return selected.empty() ? -1 : *selected.begin(); }
  int SelectedCount() override { return static_cast<int>(selected.size()); }
  int SongCount() override { return m_Doc.m_Songs.size(); }
  bool IsSelected(int n) override { return selected.count(n) > 0; }
  void RedrawSongs(int nFirst, int nLast) override { redraws.push_back({nFirst, nLast}); }
  void PlayerRowRemoving(int n) override { events << QString("removing %1").arg(n); }
  void PlayerRowRemoved(int n) override { events << QString("removed %1").arg(n); }
  void PlayerForgetRow() override { events << "forget"; }
  // What the document window does for the worker: the row and its song go.
  void RemoveRow(int n) {
    std::set<int> shifted;
    for (int s : selected)
      if (s != n) shifted.insert(s > n ? s - 1 : s);
    selected = shifted;
    m_Doc.RemoveRange(n, 1);
  }

  std::set<int> selected;
  std::vector<std::pair<int, int>> redraws;
  QStringList events;

 private:
  TSlDocument& m_Doc;
};

class DelFilesTest : public ::testing::Test {
 protected:
  void Run(TSlDelFilesWorkerThread& worker) {
    worker.m_pChild = &window;
    worker.Resume();
    worker.WaitFor();
  }
  std::unique_ptr<TSlDelFilesWorkerThread> MakeWorker(
      TSlDelFilesWorkerThread::TTrashFunction trash = {}) {
    return std::make_unique<TSlDelFilesWorkerThread>(
        &doc, [this](int n) { window.RemoveRow(n); }, trash);
  }

  ScriptedUiServices ui;
  QString dir = lbtest::NewTempDir();
  TSlDocument doc;
  FakeWindow window{doc};
};

TEST_F(DelFilesTest, MissingFilesLeaveWithoutAnyMessage) {
  const QStringList paths = docwintest::MissingFiles(dir, 5, "gone");
  docwintest::FillDocument(doc, dir, paths);
  window.selected = {1, 2, 4};
  int trashCalls = 0;
  auto worker = MakeWorker([&](const QString&, QString*) { return ++trashCalls, true; });
  Run(*worker);
  EXPECT_TRUE(ui.Messages().isEmpty());
  EXPECT_EQ(trashCalls, 0);
  EXPECT_EQ(modeltest::Paths(doc), QStringList({paths[0], paths[3]}));
  EXPECT_EQ(worker->m_DeletedPaths, QStringList({paths[1], "", paths[2], "", paths[4], ""}));
  EXPECT_EQ(worker->m_nProcessed, 3);
  // Rows 1 and 2 are both row 1 when they go: the next row moves up each time.
  EXPECT_EQ(window.events, QStringList({"removing 1", "removed 1", "removing 1", "removed 1",
                                        "removing 2", "removed 2", "forget"}));
  ASSERT_FALSE(window.redraws.empty());
  EXPECT_EQ(window.redraws.back(), std::make_pair(0, 1));
}

TEST_F(DelFilesTest, ExistingFilesGoToTheTrash) {
  const QString a = modeltest::MakeMp3(dir + "/a.mp3");
  const QString b = modeltest::MakeMp3(dir + "/b.mp3");
  docwintest::FillDocument(doc, dir, {a, b});
  window.selected = {0, 1};
  auto worker = MakeWorker();
  Run(*worker);
  EXPECT_TRUE(ui.Messages().isEmpty());
  EXPECT_FALSE(QFile::exists(a));
  EXPECT_FALSE(QFile::exists(b));
  EXPECT_EQ(doc.m_Songs.size(), 0);
}

TEST_F(DelFilesTest, FileThatCannotGoIsReportedAndKept) {
  const QString kept = modeltest::MakeMp3(dir + "/kept.mp3");
  const QString other = dir + "/missing.mp3";
  docwintest::FillDocument(doc, dir, {kept, other});
  window.selected = {0, 1};
  auto worker = MakeWorker([](const QString&, QString* error) {
    if (error) *error = "denied";
    return false;
  });
  Run(*worker);
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(ui.Messages()[0].text, "Ошибка удаления файла\n" + kept);
  EXPECT_EQ(ui.Messages()[0].caption, "LBTools");
  EXPECT_EQ(ui.Messages()[0].flags, unsigned(MB_ICONERROR));
  // The run went on with the next song.
  EXPECT_EQ(modeltest::Paths(doc), QStringList({kept}));
  EXPECT_EQ(worker->m_DeletedPaths, QStringList({other, ""}));
  EXPECT_TRUE(QFile::exists(kept));
}

TEST_F(DelFilesTest, RealTrashFailureInAFolderThatRefusesChanges) {
  const QString sub = dir + "/locked";
  const QString kept = modeltest::MakeMp3(sub + "/kept.mp3");
  docwintest::FillDocument(doc, dir, {kept});
  window.selected = {0};
  lbtest::ReadOnlyFolder locked(sub);
  if (!locked.Ok()) GTEST_SKIP() << "cannot make a folder refuse changes here";
  auto worker = MakeWorker();
  Run(*worker);
  EXPECT_EQ(ui.Texts(), QStringList({"Ошибка удаления файла\n" + kept}));
  EXPECT_EQ(doc.m_Songs.size(), 1);
}

TEST_F(DelFilesTest, StopEndsTheRunAfterTheCurrentSong) {
  const QStringList paths = docwintest::MissingFiles(dir, 4, "gone");
  docwintest::FillDocument(doc, dir, paths);
  window.selected = {0, 1, 2, 3};
  auto worker = MakeWorker();
  worker->Terminate();  // asked to stop before it starts: one song, then the end
  Run(*worker);
  EXPECT_EQ(doc.m_Songs.size(), 3);
  ASSERT_FALSE(window.events.empty());
  EXPECT_EQ(window.events.back(), "forget");
}

}  // namespace
