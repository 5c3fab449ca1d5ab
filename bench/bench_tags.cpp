// The tags editor's batch apply: one field (the ID3v2 title) changed in every song of
// a list, as the dialog does it (progress window, pending messages between songs, the
// ID3v1 record written back), against a bare TagLib save of the same change over a
// copy of the same files, in one run. Also the longest gap between two turns of the
// main thread's event loop during the apply, with what the main thread ran in it.
//
// The apply's figure counts its disk flushes (the flush at the end of the batch, and
// any per file); the bare save flushes nothing. The file system is synced between the
// phases, outside the timed parts, so that no phase pays for the dirty pages of the one
// before. Preloading libbench_nosync.so stubs the flushes out: that run says so, and
// its figure is not the one to report.
//
// On a busy machine one pass of each says little: the passes alternate for some rounds;
// the median of the rounds' ratios and the best of each pass are compared (every round
// is printed too).
//
//   bench_tags [songs=1000] [frames=2400 (about 1 MB a file)] [rounds=5]
#include "MainThreadGaps.h"
#include "lbtools3/model/ID3ComAccess.h"
#include "lbtools3/model/M3uList.h"
#include "lbtools3/tags/TagsApply.h"
#include "lbtools3/ui/QtUiServices.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLibrary>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

namespace {

// Silent MPEG-1 Layer III frames, 417 bytes each.
QByteArray Frames(int count) {
  QByteArray frame(417, '\0');
  frame[0] = char(0xFF);
  frame[1] = char(0xFB);
  frame[2] = char(0x90);
  frame[3] = char(0x64);
  return frame.repeated(count);
}

void MakeTemplate(const QString& path, int frames) {
  QFile out(path);
  out.open(QIODevice::WriteOnly);
  out.write(Frames(frames));
  out.close();
  TagLib::MPEG::File f(QFile::encodeName(path).constData());
  TagLib::ID3v2::Tag* t2 = f.ID3v2Tag(true);
  t2->setTitle(TagLib::String("Старое название", TagLib::String::UTF8));
  t2->setArtist(TagLib::String("Исполнитель", TagLib::String::UTF8));
  t2->setAlbum(TagLib::String("Альбом", TagLib::String::UTF8));
  t2->setYear(1999);
  t2->setTrack(5);
  t2->setGenre("Rock");
  t2->setComment(TagLib::String("Комментарий", TagLib::String::UTF8));
  TagLib::ID3v1::Tag* t1 = f.ID3v1Tag(true);
  t1->setTitle("Old title");
  t1->setArtist("Artist");
  f.save(TagLib::MPEG::File::AllTags, TagLib::File::StripNone, TagLib::ID3v2::v3);
}

// The title of round n: the same length every round, so that each save changes it.
QString TitleOf(int round) {
  return QString("Новое название %1").arg(round);
}

double TagLibFloor(const QStringList& files, int round) {
  const TagLib::String title(TitleOf(round).toStdString(), TagLib::String::UTF8);
  QElapsedTimer timer;
  timer.start();
  for (const QString& path : files) {
    TagLib::MPEG::File f(QFile::encodeName(path).constData());
    f.ID3v2Tag(true)->setTitle(title);
    f.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3);
  }
  return timer.nsecsElapsed() / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QTemporaryDir dir;
  qputenv("LBTOOLS_REGISTRY_DIR", QFile::encodeName(dir.path() + "/registry"));
  qputenv("LBTOOLS_INI", QFile::encodeName(dir.path() + "/lbtools3.ini"));
  QApplication app(argc, argv);
  const int songs = argc > 1 ? atoi(argv[1]) : 1000;
  const int frames = argc > 2 ? atoi(argv[2]) : 2400;
  const int rounds = std::max(1, argc > 3 ? atoi(argv[3]) : 5);

  QLibrary lib(QCoreApplication::applicationDirPath() + "/libid3com.so");
  using Register = HRESULT (*)();
  auto reg = reinterpret_cast<Register>(lib.resolve("DllRegisterServer"));
  if (!reg || FAILED(reg()) || FAILED(lb::AttachCurrentThreadToID3Com())) {
    std::fprintf(stderr, "the tag component cannot be created\n");
    return 1;
  }

  const QString tmpl = dir.path() + "/template.mp3";
  MakeTemplate(tmpl, frames);
  QDir().mkpath(dir.path() + "/ours");
  QDir().mkpath(dir.path() + "/floor");
  QStringList ours, floor;
  for (int n = 0; n < songs; ++n) {
    ours << dir.path() + QString("/ours/%1.mp3").arg(n);
    floor << dir.path() + QString("/floor/%1.mp3").arg(n);
    QFile::copy(tmpl, ours.last());
    QFile::copy(tmpl, floor.last());
  }

  QtUiServices ui;
  UiServices::Install(&ui);
  TPaintedMainWindow mainWindow(ui, "Редактирование тэгов в листе", 600, 400);

  TSlDocument doc;
  doc.SetFileName(dir.path() + "/ours/list.m3u");
  for (const QString& path : ours) doc.InsertSong(TSlSong(nullptr, path, QString()), -1);
  for (int n = 0; n < doc.m_Songs.size(); ++n) doc.m_Songs[n].Sync();  // the window's pass
  for (const QString& path : floor) {  // the same warm cache for the floor
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    f.readAll();
  }

  std::vector<int> rows(songs);
  for (int n = 0; n < songs; ++n) rows[n] = n;
  const char* preload = std::getenv("LD_PRELOAD");
  const bool stubbed = preload && std::strstr(preload, "nosync");
  std::printf("songs %d, file size %lld bytes%s\n", songs,
              static_cast<long long>(QFile(tmpl).size()),
              stubbed ? "; disk flushes stubbed out: not the figures to report"
                      : "; the apply's disk flushes counted");

  double bestFloor = 0, bestOurs = 0;
  std::vector<double> ratios;
  double worstGap = 0, worstOwn = 0;
  TMainThreadGaps gaps;
  int written = 0;
  for (int round = 1; round <= rounds; ++round) {
    ::sync();
    const double floorMs = TagLibFloor(floor, round);
    ::sync();

    lbtags::TTagsEditRequest request;
    request.change2[lbtags::f2Title] = true;
    request.value2[lbtags::f2Title] = TitleOf(round);
    lbtags::TTagsBatchApply batch(doc, rows, request);
    double oursMs = 0;
    QTimer::singleShot(0, [&] {
      gaps.Start();
      QElapsedTimer clock;
      clock.start();
      batch.Run();
      oursMs = clock.nsecsElapsed() / 1e6;
      gaps.Stop();
      app.quit();
    });
    app.exec();

    const TagLib::String title(TitleOf(round).toStdString(), TagLib::String::UTF8);
    written = 0;
    for (const QString& path : ours) {
      TagLib::MPEG::File f(QFile::encodeName(path).constData(), false);
      if (f.ID3v2Tag() && f.ID3v2Tag()->title() == title) ++written;
    }
    std::printf(
        "round %d: bare TagLib save %.0f ms, tags editor batch apply %.0f ms (ratio %.2f), "
        "longest main-thread gap %.1f ms (%.1f ms of it not waiting for a core), written %d\n",
        round, floorMs, oursMs, oursMs / floorMs, gaps.LongestMs(),
        gaps.LongestMs() - gaps.LongestQueuedMs(), written);
    worstOwn = std::max(worstOwn, gaps.LongestMs() - gaps.LongestQueuedMs());
    if (gaps.LongestMs() > worstGap) {
      worstGap = gaps.LongestMs();
      gaps.Print(stdout, "the longest gap so far");
    }
    ratios.push_back(oursMs / floorMs);
    bestFloor = round == 1 ? floorMs : std::min(bestFloor, floorMs);
    bestOurs = round == 1 ? oursMs : std::min(bestOurs, oursMs);
    if (written != songs) break;
  }
  std::sort(ratios.begin(), ratios.end());
  std::printf("median of the rounds' ratios: %.2f\n", ratios[ratios.size() / 2]);
  std::printf("best of %d: bare TagLib save %.0f ms, tags editor batch apply %.0f ms, ratio %.2f\n",
              rounds, bestFloor, bestOurs, bestOurs / bestFloor);
  std::printf(
      "longest main-thread gap of all rounds: %.1f ms; longest not waiting for a core: "
      "%.1f ms\n",
      worstGap, worstOwn);
  UiServices::Install(nullptr);
  return written == songs ? 0 : 1;
}
