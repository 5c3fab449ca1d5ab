// Load and save of a long list with its data file: time and resident memory.
// Usage: bench_list_io [SONGS] (default 100000). Works in a temporary folder.
#include "lbtools3/model/M3uList.h"
#include "platform/UiServices.h"

#include <QCoreApplication>
#include <QProcess>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <malloc.h>

namespace {

long StatusKb(const char* key) {
  QFile f("/proc/self/status");
  if (!f.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : f.readAll().split('\n'))
    if (line.startsWith(key)) return line.mid(qstrlen(key)).trimmed().split(' ').first().toLong();
  return -1;
}

// A list of the given size with realistic paths and both tags filled.
void MakeList(const QString& path, int count) {
  TSlDocument doc;
  doc.SetFileName(path);
  TSlSongVector songs;
  songs.reserve(count);
  for (int n = 0; n < count; ++n) {
    TSlSong song(nullptr,
                 QString("/home/user/Музыка/Исполнитель %1/Альбом %2/%3 - Песня номер %3.mp3")
                     .arg(n / 200)
                     .arg(n / 12)
                     .arg(n % 12 + 1),
                 QString("#EXTINF:%1,Исполнитель %2 - Песня номер %1").arg(n % 400).arg(n / 200));
    song.m_Tag1.SetTitle(QString("Песня номер %1").arg(n), true);
    song.m_Tag1.SetArtist(QString("Исполнитель %1").arg(n / 200), true);
    song.m_Tag1.SetAlbum(QString("Альбом %1").arg(n / 12), true);
    song.m_Tag1.SetYear("1999");
    song.m_Tag2.SetTitle(QString("Песня номер %1").arg(n));
    song.m_Tag2.SetArtist(QString("Исполнитель %1").arg(n / 200));
    song.m_Tag2.SetAlbum(QString("Альбом %1").arg(n / 12));
    song.m_Tag2.SetYear("1999");
    song.m_Tag2.SetTrack(n % 12 + 1);
    song.m_FileAge = 123456 + n;
    songs.push_back(song);
  }
  doc.InsertSongs(songs, 0, count, 0);
  doc.Save(true);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  // "--make N PATH": only writes the list (in a process of its own, so that the
  // measuring process starts with nothing of it in memory).
  if (argc == 4 && QByteArray(argv[1]) == "--make") {
    MakeList(QString::fromLocal8Bit(argv[3]), atoi(argv[2]));
    return 0;
  }
  const int count = argc > 1 ? atoi(argv[1]) : 100000;
  QTemporaryDir dir;
  qputenv("LBTOOLS_INI", (dir.path() + "/lbtools3.ini").toLocal8Bit());
  const QString list = dir.path() + "/big.m3u";
  if (QProcess::execute(app.applicationFilePath(), {"--make", QString::number(count), list}) != 0) {
    std::fprintf(stderr, "could not make the list\n");
    return 1;
  }
  const long rssBefore = StatusKb("VmRSS:");

  QElapsedTimer timer;
  double bestLoad = 1e9, bestSave = 1e9;
  long rssLoaded = 0;
  for (int round = 0; round < 3; ++round) {
    TSlDocument doc;
    doc.SetFileName(list);
    timer.start();
    if (!doc.Load(true) || doc.m_Songs.size() != count) {
      std::fprintf(stderr, "load failed\n");
      return 1;
    }
    bestLoad = std::min(bestLoad, timer.nsecsElapsed() / 1e9);
    rssLoaded = std::max(rssLoaded, StatusKb("VmRSS:"));
    if (round == 0)
      std::printf("heap in use with the list loaded: %.1f MB\n", mallinfo2().uordblks / 1048576.0);
    doc.m_bModified = true;
    timer.start();
    if (!doc.Save(true)) {
      std::fprintf(stderr, "save failed\n");
      return 1;
    }
    bestSave = std::min(bestSave, timer.nsecsElapsed() / 1e9);
  }
  std::printf("songs: %d\nlist: %lld bytes, data file: %lld bytes\n", count, QFile(list).size(),
              QFile(TSlDocument::DataFilePath(list)).size());
  std::printf("load: %.3f s (best of 3)\nsave: %.3f s (best of 3)\n", bestLoad, bestSave);
  std::printf(
      "resident memory: %.1f MB before loading, %.1f MB with the list loaded, peak %.1f MB\n",
      rssBefore / 1024.0, rssLoaded / 1024.0, StatusKb("VmHWM:") / 1024.0);
  return 0;
}
