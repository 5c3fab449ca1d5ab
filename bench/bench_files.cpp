// Renaming the files of a list by their tags against a bare rename() loop over the same
// files, and the time the repository's other lists take to follow the new names.
// Then copying and moving files by criteria (the artist folder) within the file system
// against a bare read/write copy loop (also with one syncfs at its end: a copy that is
// reported done is on the disk) and a bare rename() loop.
// Usage: bench_files [FILES] [LISTS] [COPIES] [moves] (default 10000 files, 3 other lists,
// 1000 files of 256 KiB to copy and move; "moves" leaves the copies out). Works in a temporary
// folder and prints the ratios; the copy's disk flushes are counted (nothing is stubbed).
#include "CopyMoveRun.h"
#include "SyncFileSystem.h"
#include "lbtools3/repository/Repository.h"
#include "lbtools3/files/CopyMove.h"
#include "lbtools3/files/FileOperation.h"
#include "lbtools3/files/ListPaths.h"
#include "lbtools3/files/Rename.h"
#include "lbtools3/model/M3uList.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/UiServices.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QDir>
#include <cstdio>
#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

QByteArray Native(const QString& path) {
  return QFile::encodeName(path);
}

// The floor of a copy: read and write in blocks, nothing else.
bool BareCopy(const QByteArray& from, const QByteArray& to) {
  const int in = ::open(from.constData(), O_RDONLY | O_CLOEXEC);
  const int out = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  static std::vector<char> buffer(1 << 20);
  bool ok = in >= 0 && out >= 0;
  for (ssize_t got; ok && (got = ::read(in, buffer.data(), buffer.size())) > 0;)
    ok = ::write(out, buffer.data(), size_t(got)) == got;
  if (in >= 0) ::close(in);
  if (out >= 0 && ::close(out) != 0) ok = false;
  return ok;
}

// Copies and moves `count` files of 256 KiB by their artist (100 files an artist).
// Each timed part starts with nothing left to write back, so that no part pays for the
// data another one left in the page cache; the parts change places from round to round.
int CopyMoveBench(const QString& dir, int count, bool bMovesOnly) {
  const QString src = dir + "/copy-src", floorDir = dir + "/copy-floor", root = dir + "/copy-root";
  QDir().mkpath(src);
  const QByteArray data(256 * 1024, 'm');
  TSlDocument doc;
  QStringList sources, floors, moved;
  for (int n = 0; n < count; ++n) {
    const QString artist = QString("Artist %1").arg(n / 100);
    const QString path = src + QString("/track%1.mp3").arg(n);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size()) return 1;
    f.close();
    doc.InsertSong(TSlSong(nullptr, path, QString()), -1);
    TSlSong& song = doc.m_Songs[n];
    song.m_Tag1.m_bExists = true;
    song.m_Tag1.SetArtist(artist, true);
    song.m_FileAge = lb::FileAge(path);
    sources << path;
    floors << floorDir + "/" + artist + QString("/track%1.mp3").arg(n);
    moved << root + "/" + artist + QString("/track%1.mp3").arg(n);
  }
  ::sync();
  constexpr int kRounds = 5, kMoveRepeats = 4;
  double floorCopy = 1e18, floorSynced = 1e18, copy = 1e18, copyRepointed = 1e18;
  double floorMove = 1e18, move = 1e18;
  QElapsedTimer timer;
  // The floors make the artists' folders as the copy by criteria does: the songs of one
  // artist follow each other, a hundred at a time.
  auto MakeFolderOf = [](const QString& path, int n) {
    return n % 100 != 0 || ::mkdir(Native(lb::FileFolderPart(path)).constData(), 0755) == 0 ||
           errno == EEXIST;
  };
  // The floor: read and write in blocks, making the folders as the copy by criteria
  // does; then, as a second floor, the same plus one flush of the file system.
  auto floorRun = [&] {
    QDir().mkpath(floorDir);
    ::sync();
    timer.start();
    for (int n = 0; n < count; ++n) {
      if (!MakeFolderOf(floors[n], n)) return false;
      if (!BareCopy(Native(sources[n]), Native(floors[n]))) return false;
    }
    const double loop = double(timer.nsecsElapsed());
    if (!SyncFileSystemOf(floorDir)) return false;
    floorCopy = qMin(floorCopy, loop);
    floorSynced = qMin(floorSynced, double(timer.nsecsElapsed()));
    QDir(floorDir).removeRecursively();
    return true;
  };
  auto copyRun = [&](bool bChangePaths) {
    QDir().mkpath(root);
    ::sync();
    timer.start();
    if (!CopyOrMove(doc, root, true, bChangePaths, count)) return false;
    double& best = bChangePaths ? copyRepointed : copy;
    best = qMin(best, double(timer.nsecsElapsed()));
    for (int n = 0; n < count; ++n) doc.m_Songs[n].m_Path = sources[n];
    QDir(root).removeRecursively();
    return true;
  };
  auto floorMoveRun = [&] {
    QDir().mkpath(root);
    ::sync();
    timer.start();
    for (int n = 0; n < count; ++n) {
      if (!MakeFolderOf(moved[n], n)) return false;
      if (::rename(Native(sources[n]).constData(), Native(moved[n]).constData())) return false;
    }
    floorMove = qMin(floorMove, double(timer.nsecsElapsed()));
    for (int n = 0; n < count; ++n)
      ::rename(Native(moved[n]).constData(), Native(sources[n]).constData());
    QDir(root).removeRecursively();
    return true;
  };
  auto moveRun = [&] {
    QDir().mkpath(root);
    ::sync();
    timer.start();
    if (!CopyOrMove(doc, root, false, false, count)) return false;
    move = qMin(move, double(timer.nsecsElapsed()));
    for (int n = 0; n < count; ++n) {
      ::rename(Native(moved[n]).constData(), Native(sources[n]).constData());
      doc.m_Songs[n].m_Path = sources[n];
    }
    QDir(root).removeRecursively();
    return true;
  };
  for (int round = 0; round < kRounds; ++round) {
    const bool ok = bMovesOnly || (round % 2 ? copyRun(false) && copyRun(true) && floorRun()
                                             : floorRun() && copyRun(true) && copyRun(false));
    if (!ok) return 1;
    // A move takes milliseconds: each round has a few of them and of their floor.
    for (int repeat = 0; repeat < kMoveRepeats; ++repeat) {
      const bool bFloorFirst = (round + repeat) % 2 == 0;
      if (!(bFloorFirst ? floorMoveRun() && moveRun() : moveRun() && floorMoveRun())) return 1;
    }
  }
  if (!bMovesOnly) {
    std::printf("copy: %d files of 256 KiB by artist (best of %d each)\n", count, kRounds);
    std::printf("read/write loop: %.1f ms\n", floorCopy / 1e6);
    std::printf("read/write loop and one syncfs at its end: %.1f ms\n", floorSynced / 1e6);
    std::printf("copy by criteria: %.1f ms\n", copy / 1e6);
    std::printf("copy by criteria, songs pointed at the copies: %.1f ms\n", copyRepointed / 1e6);
    std::printf("copy ratio: %.2f (%.2f against the loop with its syncfs)\n", copy / floorCopy,
                copy / floorSynced);
    std::printf("copy with paths changed ratio: %.2f (%.2f against the loop with its syncfs)\n",
                copyRepointed / floorCopy, copyRepointed / floorSynced);
  }
  std::printf("moves (best of %d each)\n", kRounds * kMoveRepeats);
  std::printf("rename() loop into artist folders: %.1f ms\n", floorMove / 1e6);
  std::printf("move by criteria: %.1f ms\n", move / 1e6);
  std::printf("move ratio: %.2f\n", move / floorMove);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int count = argc > 1 ? atoi(argv[1]) : 10000;
  const int lists = argc > 2 ? atoi(argv[2]) : 3;
  const int copies = argc > 3 ? atoi(argv[3]) : 1000;
  QTemporaryDir tmp;
  const QString dir = tmp.path();
  qputenv("LBTOOLS_INI", QFile::encodeName(dir + "/lbtools3.ini"));

  // The files, and a synchronised list of them (tags cached, ages recorded).
  TSlDocument doc;
  doc.SetFileName(dir + "/list.m3u");
  QStringList names, others;
  for (int n = 0; n < count; ++n) {
    const QString path = dir + QString("/track%1.mp3").arg(n);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(QByteArray(64, 'x')) != 64) return 1;
    f.close();
    names << path;
    others << dir + QString("/Artist %1 - Title %2.mp3").arg(n / 100).arg(n);
  }
  for (const QString& path : names) doc.InsertSong(TSlSong(nullptr, path, QString()), -1);
  for (int n = 0; n < count; ++n) {
    TSlSong& song = doc.m_Songs[n];
    song.m_Tag1.m_bExists = true;
    song.m_Tag1.SetTitle(QString("Title %1").arg(n), true);
    song.m_Tag1.SetArtist(QString("Artist %1").arg(n / 100), true);
    song.m_FileAge = lb::FileAge(names[n]);
  }

  // Other lists of the repository naming the same files.
  TIniFile ini(lb::SettingsFilePath());
  TListsRepository repository(ini, nullptr, true);
  for (int l = 0; l < lists; ++l) {
    TSlDocument other(doc);
    other.SetFileName(dir + QString("/other%1.m3u").arg(l));
    if (!other.Save(true)) return 1;
    repository.Add(other.m_FileName, false, nullptr);
  }

  QList<lb::TMaskPiece> pieces;
  lb::ParseRenameMask("%2 - %1.%e", &pieces);
  std::vector<int> rows;
  for (int n = 0; n < count; ++n) rows.push_back(n);
  // Rounds of both sides, each undone before the next: the floor (rename() to the new
  // names) and the renaming by tags, the order alternating from round to round so
  // neither always runs first. The best of each counts: on a busy machine that is the
  // round the others disturbed least, and a round takes well under a second.
  constexpr int kRounds = 15;
  qint64 floorNs = -1, renameNs = -1;
  // Also the processor time of each side (kernel and user): on a loaded machine the
  // clock counts the waits for a core too, which this ratio leaves out.
  qint64 floorCpuNs = -1, renameCpuNs = -1, cpuStart = 0;
  auto cpuNs = [] {
    struct timespec ts;
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
  };
  QElapsedTimer timer;
  auto keepBest = [](qint64& best, qint64 ns) { best = best < 0 ? ns : qMin(best, ns); };
  auto restore = [&] {
    for (int n = 0; n < count; ++n) {
      ::rename(QFile::encodeName(others[n]).constData(), QFile::encodeName(names[n]).constData());
      doc.m_Songs[n].m_Path = names[n];
    }
  };
  auto bareLoop = [&] {
    timer.start();
    cpuStart = cpuNs();
    for (int n = 0; n < count; ++n)
      if (::rename(QFile::encodeName(names[n]).constData(),
                   QFile::encodeName(others[n]).constData()))
        return false;
    keepBest(floorNs, timer.nsecsElapsed());
    keepBest(floorCpuNs, cpuNs() - cpuStart);
    restore();
    return true;
  };
  auto byTags = [&] {
    lb::TSlRenameFiles rename(pieces, 1, true);
    lb::TFileOperation operation(nullptr);
    timer.restart();
    cpuStart = cpuNs();
    rename.Run(doc, rows, operation);
    keepBest(renameNs, timer.nsecsElapsed());
    keepBest(renameCpuNs, cpuNs() - cpuStart);
    if (rename.m_nRenamed != count) {
      std::fprintf(stderr, "renamed %d of %d\n", rename.m_nRenamed, count);
      return false;
    }
    restore();
    return true;
  };
  for (int round = 0; round < kRounds; ++round) {
    const bool ok = round % 2 ? byTags() && bareLoop() : bareLoop() && byTags();
    if (!ok) return 1;
  }
  // Once more, untimed: the other lists follow the files to their new names.
  lb::TSlRenameFiles last(pieces, 1, true);
  lb::TFileOperation lastOperation(nullptr);
  last.Run(doc, rows, lastOperation);
  if (last.m_nRenamed != count) return 1;
  const QStringList pairs = last.m_Pairs;
  timer.restart();
  const QStringList rewritten =
      lb::ReplacePathsInRepositoryLists(repository, pairs, doc.m_FileName);
  const qint64 listsNs = timer.nsecsElapsed();

  std::printf("files: %d\n", count);
  std::printf("rename() loop (best of %d): %.1f ms\n", kRounds, floorNs / 1e6);
  std::printf("rename by tags (best of %d): %.1f ms\n", kRounds, renameNs / 1e6);
  std::printf("ratio: %.2f\n", double(renameNs) / double(floorNs));
  std::printf("processor time: rename() loop %.1f ms, rename by tags %.1f ms, ratio %.2f\n",
              floorCpuNs / 1e6, renameCpuNs / 1e6, double(renameCpuNs) / double(floorCpuNs));
  std::printf("updating %lld lists of %d songs: %.1f ms\n", (long long)rewritten.size(), count,
              listsNs / 1e6);
  const bool bMovesOnly = argc > 4 && qstrcmp(argv[4], "moves") == 0;
  return copies > 0 ? CopyMoveBench(dir, copies, bMovesOnly) : 0;
}
