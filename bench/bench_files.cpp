// Renaming the files of a list by their tags against a bare rename() loop over the same
// files, and the time the repository's other lists take to follow the new names.
// Usage: bench_files [FILES] [LISTS] (default 10000 files, 3 other lists). Works in a
// temporary folder and prints the ratio of the two renaming times.
#include "lbtools3/repository/Repository.h"
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
#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int count = argc > 1 ? atoi(argv[1]) : 10000;
  const int lists = argc > 2 ? atoi(argv[2]) : 3;
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
  // Rounds of: the floor (rename() to the new names and back), then the renaming by
  // tags (undone afterwards unless it is the last round). The best of each counts.
  constexpr int kRounds = 3;
  qint64 floorNs = -1, renameNs = -1;
  QStringList pairs;
  QElapsedTimer timer;
  for (int round = 0; round < kRounds; ++round) {
    timer.start();
    for (int n = 0; n < count; ++n)
      if (::rename(QFile::encodeName(names[n]).constData(),
                   QFile::encodeName(others[n]).constData()))
        return 1;
    const qint64 f = timer.nsecsElapsed();
    floorNs = floorNs < 0 ? f : qMin(floorNs, f);
    for (int n = 0; n < count; ++n)
      ::rename(QFile::encodeName(others[n]).constData(), QFile::encodeName(names[n]).constData());

    lb::TSlRenameFiles rename(pieces, 1, true);
    lb::TFileOperation operation(nullptr);
    timer.restart();
    rename.Run(doc, rows, operation);
    const qint64 r = timer.nsecsElapsed();
    renameNs = renameNs < 0 ? r : qMin(renameNs, r);
    if (rename.m_nRenamed != count) {
      std::fprintf(stderr, "renamed %d of %d\n", rename.m_nRenamed, count);
      return 1;
    }
    pairs = rename.m_Pairs;
    if (round + 1 == kRounds) break;
    for (int n = 0; n < count; ++n) {
      ::rename(QFile::encodeName(others[n]).constData(), QFile::encodeName(names[n]).constData());
      doc.m_Songs[n].m_Path = names[n];
    }
  }
  timer.restart();
  const QStringList rewritten =
      lb::ReplacePathsInRepositoryLists(repository, pairs, doc.m_FileName);
  const qint64 listsNs = timer.nsecsElapsed();

  std::printf("files: %d\n", count);
  std::printf("rename() loop (best of %d): %.1f ms\n", kRounds, floorNs / 1e6);
  std::printf("rename by tags (best of %d): %.1f ms\n", kRounds, renameNs / 1e6);
  std::printf("ratio: %.2f\n", double(renameNs) / double(floorNs));
  std::printf("updating %lld lists of %d songs: %.1f ms\n", (long long)rewritten.size(), count,
              listsNs / 1e6);
  return 0;
}
