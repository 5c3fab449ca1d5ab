// Scanning a folder tree for music files (the insertion manager, mode 0) against a
// bare recursive directory walk (opendir/readdir) over the same tree, in one run.
// Usage: bench_scan [FILES] (default 50000). Works in a temporary folder; the tree
// has 50 artists with albums of 14 entries: 11 MP3, 1 WAV, a cover and a text file.
#include "BareWalk.h"
#include "lbtools3/model/SlInsertFilesManager.h"
#include "platform/UiServices.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int MakeTree(const QString& root, int files) {
  static const char* kNames[] = {
      "01 - Intro.mp3", "02 - Песня.mp3",  "03 - Track.mp3", "04 - Ballad.mp3", "05 - Rock.mp3",
      "06 - Вальс.mp3", "07 - Outro.mp3",  "08 - Bonus.mp3", "09 - Live.mp3",   "10 - Remix.mp3",
      "11 - Demo.mp3",  "12 - Hidden.wav", "cover.jpg",      "info.txt"};
  constexpr int kPerAlbum = 14;
  int made = 0, music = 0;
  for (int album = 0; made < files; ++album) {
    const QString folder =
        QString("%1/Исполнитель %2/Альбом %3").arg(root).arg(album % 50).arg(album);
    QDir().mkpath(folder);
    const QByteArray native = QFile::encodeName(folder);
    for (int i = 0; i < kPerAlbum && made < files; ++i, ++made) {
      const QByteArray path = native + "/" + kNames[i];
      const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
      if (fd >= 0) ::close(fd);
      music += i < 12 ? 1 : 0;
    }
  }
  return music;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int files = argc > 1 ? std::max(1, atoi(argv[1])) : 50000;
  QTemporaryDir tmp;
  const QString root = tmp.path() + "/tree";
  const int music = MakeTree(root, files);
  const QByteArray nativeRoot = QFile::encodeName(root);
  BareWalk(nativeRoot);  // warm the cache

  // Rounds of both, the order alternating from round to round so neither side always
  // runs on the cache the other left; the best of each counts, which on a busy machine
  // is the round the others disturbed least.
  constexpr int kRounds = 15;
  double bestWalk = 1e9, bestScan = 1e9;
  long walked = 0;
  size_t found = 0;
  QElapsedTimer t;
  auto walk = [&] {
    t.start();
    walked = BareWalk(nativeRoot);
    bestWalk = std::min(bestWalk, t.nsecsElapsed() / 1e6);
  };
  auto scan = [&] {
    TSlInsertFilesManager manager{QString(TSlInsertFilesManager::kDefaultExtensions)};
    t.start();
    manager.ScanFolder(root);
    bestScan = std::min(bestScan, t.nsecsElapsed() / 1e6);
    found = manager.m_FoundSongs.size();
  };
  for (int round = 0; round < kRounds; ++round) {
    if (round % 2) {
      scan();
      walk();
    } else {
      walk();
      scan();
    }
  }
  std::printf("tree: %ld files, %d music files; scan found %zu\n", walked, music, found);
  std::printf("bare walk (readdir), best of %d: %8.1f ms\n", kRounds, bestWalk);
  std::printf("scan (mode 0), best of %d:       %8.1f ms\n", kRounds, bestScan);
  std::printf(
      "ratio scan / walk: %.2f (target <= 1.50: the entries of every folder are put in "
      "name order)\n",
      bestScan / bestWalk);
  return found == size_t(music) ? 0 : 1;
}
