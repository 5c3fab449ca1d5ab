// Finding moved songs: matching missing songs against the index of one folder walk,
// beside the bare recursive walk (opendir/readdir) of the same tree, in one run.
// Usage: bench_relink [FILES [MISSING]] (default 100000 and 1000). The tree holds
// music files with ID3v1 tags; of the missing songs 80% kept their file name, 15%
// were renamed (found by their cached tags alone: every indexed file's tags are read,
// ID3v2 through the tag component) and 5% are gone (their names are compared by
// similarity).
#include "BareWalk.h"
#include "lbtools3/maintenance/Relink.h"
#include "lbtools3/model/ID3ComAccess.h"
#include "lbtools3/model/SlInsertFilesManager.h"
#include "platform/UiServices.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray Tagged(const QByteArray& title, const QByteArray& artist) {
  QByteArray tag = "TAG" + title.leftJustified(30, '\0') + artist.leftJustified(30, '\0');
  return QByteArray(256, '\xAA') + tag.leftJustified(127, '\0') + char(255);
}

QString FileName(int i) {
  return QString("%1 - Песня номер %2.mp3").arg(i % 12 + 1, 2, 10, QChar('0')).arg(i);
}

QString FilePath(const QString& root, int i) {
  return QString("%1/Исполнитель %2/Альбом %3/").arg(root).arg(i / 1200).arg(i / 12) + FileName(i);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int files = argc > 1 ? std::max(100, atoi(argv[1])) : 100000;
  const int missing = argc > 2 ? std::clamp(atoi(argv[2]), 1, files) : 1000;
  QTemporaryDir tmp;
  const QString root = tmp.path() + "/tree";
  // The tag component reads the ID3v2 tags, as in the program.
  qputenv("LBTOOLS_REGISTRY_DIR", QFile::encodeName(tmp.path() + "/registry"));
  qputenv("LBTOOLS_INI", QFile::encodeName(tmp.path() + "/lbtools3.ini"));
  const QString bin = QCoreApplication::applicationDirPath();
  QProcess::execute(bin + "/lbregsvr", {bin + "/libid3com.so"});
  if (FAILED(lb::AttachCurrentThreadToID3Com())) {
    std::fprintf(stderr, "no tag component\n");
    return 1;
  }
  for (int i = 0; i < files; ++i) {
    const QString path = FilePath(root, i);
    if (i % 12 == 0) QDir().mkpath(path.left(path.lastIndexOf('/')));
    const QByteArray bytes = Tagged("Song " + QByteArray::number(i), "Artist");
    const int fd = ::open(QFile::encodeName(path).constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, bytes.constData(), bytes.size()) != bytes.size()) return 2;
    ::close(fd);
  }
  // The missing songs as their list remembers them, spread over the tree.
  TSlSongVector songs;
  int kept = 0, renamed = 0, gone = 0;
  for (int k = 0; k < missing; ++k) {
    const int i = int((long long)k * files / missing);
    TSlSong song(nullptr, QString(), QString());
    if (k % 20 == 19) {
      song.m_Path = "/old/" + QString("Пропавшая запись %1.mp3").arg(k);
      ++gone;
    } else {
      song.m_Path = "/old/" + (k % 20 >= 16 ? QString("renamed %1.mp3").arg(i) : FileName(i));
      song.m_Tag1.SetTitle("Song " + QString::number(i), true);
      song.m_Tag1.SetArtist("Artist", true);
      song.m_Tag1.m_bExists = true;
      (k % 20 >= 16 ? renamed : kept)++;
    }
    songs.push_back(song);
  }
  std::vector<const TSlSong*> pointers;
  for (const TSlSong& song : songs) pointers.push_back(&song);

  const QByteArray nativeRoot = QFile::encodeName(root);
  BareWalk(nativeRoot);  // warm the cache
  double bestWalk = 1e9, bestIndex = 1e9, bestMatch = 1e9;
  long walked = 0;
  int indexed = 0, sure = 0, found = 0;
  for (int round = 0; round < 3; ++round) {
    QElapsedTimer t;
    t.start();
    walked = BareWalk(nativeRoot);
    bestWalk = std::min(bestWalk, t.nsecsElapsed() / 1e6);

    lb::TRelinkSearch search;
    t.start();
    search.Scan({root});
    bestIndex = std::min(bestIndex, t.nsecsElapsed() / 1e6);
    indexed = search.FileCount();

    t.start();
    search.MatchSongs(pointers);
    bestMatch = std::min(bestMatch, t.nsecsElapsed() / 1e6);
    sure = found = 0;
    for (const lb::TRelinkSong& song : search.m_Songs) {
      sure += song.bSure;
      found += !song.candidates.empty();
    }
  }
  std::printf("tree: %ld files, %d indexed; %d missing (%d same name, %d renamed, %d gone)\n",
              walked, indexed, missing, kept, renamed, gone);
  std::printf("bare walk (readdir):      %8.1f ms\n", bestWalk);
  std::printf("walk building the index:  %8.1f ms\n", bestIndex);
  std::printf("matching after the walk:  %8.1f ms (target < 2000 ms)\n", bestMatch);
  std::printf("ratio index walk / walk:  %8.2f\n", bestIndex / bestWalk);
  std::printf("sure matches: %d, with candidates: %d\n", sure, found);
  return sure == kept + renamed && bestMatch < 2000 ? 0 : 1;
}
