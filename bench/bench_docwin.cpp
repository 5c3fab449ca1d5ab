// The document window on a large list: opening (load and first paint) against the
// model's own load, the data callback's cost on small and large lists, the
// synchronisation pass over unchanged files against a bare stat() of the same files,
// and the main thread's longest stall while the pass runs.
//
//   bench_docwin [songs=100000] [folder]
#include "MainThreadGaps.h"
#include "lbtools3/docwin/DocumentWindow.h"
#include "lbtools3/ui/IDocumentHost.h"
#include "lbtools3/docwin/SyncThread.h"
#include "lbtools3/model/M3uList.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

class BenchHost : public IDocumentHost {
 public:
  BenchHost() : ini(lb::SettingsFilePath()) {}
  bool ExecuteCommand(const QString&) override { return true; }
  bool SaveDocument(IDocumentWindow*) override { return true; }
  void ChangePathsInAllLists(const QStringList&, IDocumentWindow*) override {}
  TIniFile& Settings() override { return ini; }
  QIcon Image(int) override { return QIcon(); }
  bool Exiting() const override { return true; }
  IInsertListRepository* ListRepository() override { return nullptr; }
  void ForgetList(const QString&) override {}
  void WindowClosed(IDocumentWindow*) override {}
  TColumnLayout DefaultColumns() override { return {}; }
  void StoreDefaultColumns(const TColumnLayout&) override {}
  bool PlayerFollows(IDocumentWindow*) override { return false; }
  void PlayerStopFollowing(IDocumentWindow*) override {}
  int PlayerPlayingRow(IDocumentWindow*) override { return -1; }
  void PlayerPlayFrom(IDocumentWindow*, int) override {}
  void PlayerRowRemoving(IDocumentWindow*, int) override {}
  void PlayerRowRemoved(IDocumentWindow*, int) override {}
  void PlayerForgetRow(IDocumentWindow*) override {}
  TIniFile ini;
};

class NullSyncWindow : public ISyncWindow {
 public:
  void SyncStatus(const QString&) override {}
  void SyncRepaint(int, int) override {}
};

double Ms(const QElapsedTimer& t) {
  return t.nsecsElapsed() / 1e6;
}

// A list of count songs over files that exist, every song synchronised already
// (unchanged since), saved with its data file.
QString MakeList(const QString& folder, int count, const QString& name) {
  QDir().mkpath(folder + "/music");
  TSlDocument doc;
  doc.SetFileName(folder + "/" + name + ".m3u");
  for (int n = 0; n < count; ++n) {
    const QString path =
        folder + QString("/music/%1 - Исполнитель - Песня.mp3").arg(n, 6, 10, QChar('0'));
    if (!QFile::exists(path)) {
      const QByteArray native = QFile::encodeName(path);
      const int fd = ::open(native.constData(), O_CREAT | O_WRONLY, 0644);
      if (fd >= 0) ::close(fd);
    }
    TSlSong song(nullptr, path, QString());
    song.m_Tag1.SetTitle(QString("Песня %1").arg(n), true);
    song.m_Tag1.SetArtist("Исполнитель", true);
    song.m_FileAge = lb::FileAge(path);
    doc.InsertSong(song, -1);
  }
  doc.Save(true);
  return doc.m_FileName;
}

double LoadModel(const QString& list) {
  double best = 1e18;
  for (int i = 0; i < 3; ++i) {
    TSlDocument doc;
    doc.SetFileName(list);
    QElapsedTimer t;
    t.start();
    doc.Load(true);
    best = std::min(best, Ms(t));
  }
  return best;
}

double OpenWindow(QMdiArea& area, BenchHost& host, const QString& list) {
  double best = 1e18;
  for (int i = 0; i < 3; ++i) {
    QElapsedTimer t;
    t.start();
    auto* child = new TMDIChild(&area, &host, list, false, nullptr);
    child->ShowWindow();
    child->SubWindow()->resize(900, 700);
    child->ListView2->viewport()->repaint();  // the first paint, synchronously
    best = std::min(best, Ms(t));
    child->m_pSyncThread.reset();
    delete child->SubWindow();
    QApplication::processEvents();
  }
  return best;
}

// Nanoseconds per data request as a scrolling view makes them: a screenful of rows
// (every column, text and image) at a random position of the list.
double DataCost(TMDIChild* child, int screens) {
  const int count = child->ListView2->GetCount();
  const int columns = child->ListView2->GetColumnCount();
  constexpr int kRows = 40;
  QString text;
  int image = 0;
  uint32_t seed = 12345;
  long long requests = 0;
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < screens; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const int top = static_cast<int>(seed % (count - kRows));
    for (int row = top; row < top + kRows; ++row)
      for (int column = 0; column < columns; ++column) {
        child->OnData(row, column, true, text, image);
        child->OnData(row, column, false, text, image);
        requests += 2;
      }
  }
  return static_cast<double>(t.nsecsElapsed()) / requests;
}

double BareStat(const std::vector<QByteArray>& paths) {
  double best = 1e18;
  for (int i = 0; i < 3; ++i) {
    QElapsedTimer t;
    t.start();
    struct stat st;
    long long sum = 0;
    for (const QByteArray& p : paths)
      if (::stat(p.constData(), &st) == 0) sum += st.st_mtim.tv_nsec;
    best = std::min(best, Ms(t));
    if (sum == 42) std::puts("");
  }
  return best;
}

double Pass(TSlDocument& doc) {
  double best = 1e18;
  NullSyncWindow window;
  for (int i = 0; i < 3; ++i) {
    TSyncThread pass(&doc, &window);
    QElapsedTimer t;
    t.start();
    pass.Resume();
    pass.WaitFor();
    best = std::min(best, Ms(t));
    QApplication::processEvents();
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  QTemporaryDir scratch(QDir::tempPath() + "/lbbench-XXXXXX");
  qputenv("LBTOOLS_INI", (scratch.path() + "/lbtools3.ini").toLocal8Bit());
  qputenv("LBTOOLS_REGISTRY_DIR", (scratch.path() + "/registry").toLocal8Bit());
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
  const QString folder = argc > 2 ? QString::fromLocal8Bit(argv[2]) : scratch.path();

  std::printf("songs: %d\n", count);
  QElapsedTimer t;
  t.start();
  const QString big = MakeList(folder, count, "big");
  const QString small = MakeList(folder, 1000, "small");
  std::printf("lists made in %.0f ms\n", Ms(t));

  BenchHost host;
  QMdiArea area;
  area.resize(1000, 800);
  area.show();
  QApplication::processEvents();

  {
    // What the widgets alone cost for the count.
    TSLLBListView view;
    view.resize(900, 700);
    view.AddColumn(0, "N", 40);
    view.OnData = [](int, int, bool, QString& text, int&) { text = "x"; };
    QElapsedTimer w;
    w.start();
    view.SetCount(count);
    const double setCount = Ms(w);
    view.show();
    view.viewport()->repaint();
    std::printf("view: item count %.1f ms, show + paint %.1f ms\n", setCount, Ms(w) - setCount);
  }
  for (int i = 0; i < 2; ++i) {
    QElapsedTimer w;
    w.start();
    auto* empty = new TMDIChild(&area, &host, folder + "/empty.m3u", true, nullptr);
    const double made = Ms(w);
    empty->ShowWindow();
    empty->SubWindow()->resize(900, 700);
    empty->ListView2->viewport()->repaint();
    std::printf("empty window: made %.1f ms, shown and painted %.1f ms\n", made, Ms(w) - made);
    delete empty->SubWindow();
    QApplication::processEvents();
  }
  const double load = LoadModel(big);
  const double open = OpenWindow(area, host, big);
  std::printf("model load            %8.1f ms\n", load);
  std::printf("window open + paint   %8.1f ms   ratio %.2f (limit 1.20)\n", open, open / load);

  auto* bigChild = new TMDIChild(&area, &host, big, false, nullptr);
  auto* smallChild = new TMDIChild(&area, &host, small, false, nullptr);
  bigChild->m_pSyncThread->WaitFor();
  smallChild->m_pSyncThread->WaitFor();
  QApplication::processEvents();
  DataCost(bigChild, 1000);  // warm up
  const double costSmall = DataCost(smallChild, 5000);
  const double costBig = DataCost(bigChild, 5000);
  std::printf("data callback         %8.0f ns (1,000 songs)  %8.0f ns (%d songs)  ratio %.2f\n",
              costSmall, costBig, count, costBig / costSmall);

  std::vector<QByteArray> paths;
  paths.reserve(count);
  for (int n = 0; n < bigChild->m_Document.m_Songs.size(); ++n)
    paths.push_back(QFile::encodeName(bigChild->m_Document.m_Songs[n].GetPath(true)));
  BareStat(paths);  // warm cache
  const double stat = BareStat(paths);
  const double pass = Pass(bigChild->m_Document);
  std::printf("bare stat()           %8.1f ms\n", stat);
  std::printf("pass (unchanged)      %8.1f ms   ratio %.2f (limit 1.50)\n", pass, pass / stat);

  // The window stays responsive while its pass runs: the main thread's longest gap while
  // the view repaints on every turn of its loop.
  TMainThreadGaps gaps;
  double worst = 0, worstOwn = 0;
  QTimer repaint;
  repaint.setInterval(5);
  QObject::connect(&repaint, &QTimer::timeout, [&] { bigChild->ListView2->viewport()->update(); });
  for (int round = 0; round < 3; ++round) {
    for (int n = 0; n < bigChild->m_Document.m_Songs.size(); n += 7)
      bigChild->m_Document.m_Songs[n].m_FileAge = 1;  // a seventh of the files "changed"
    bigChild->RestartSync();
    gaps.Start();
    repaint.start();
    while (bigChild->IsSynchronising()) QApplication::processEvents(QEventLoop::AllEvents, 5);
    repaint.stop();
    gaps.Stop();
    worstOwn = std::max(worstOwn, gaps.LongestMs() - gaps.LongestQueuedMs());
    if (gaps.LongestMs() > worst) {
      worst = gaps.LongestMs();
      gaps.Print(stdout, "synchronisation pass");
    }
  }
  std::printf(
      "longest main-thread gap during passes %.1f ms, %.1f ms not waiting for a core "
      "(aim under 50 ms)\n",
      worst, worstOwn);

  delete bigChild->SubWindow();
  delete smallChild->SubWindow();
  return 0;
}
