// How responsive the program stays during its long jobs: the main thread's longest gap
// between two turns of its event loop (aim: under 50 ms) while each job runs as its
// window runs it, with the progress window painting on the offscreen platform: renaming
// by tags (the other lists following as it goes), copying and moving by criteria,
// finding across open lists and across lists loaded from their files, checking a list
// for missing files, and a report. The tags editor's batch is measured by bench_tags,
// the synchronisation pass by bench_docwin.
//
// Each job runs `rounds` times; the worst gap of its rounds is printed, with what the
// main thread was running in it.
//
//   bench_responsive [songs=10000] [rounds=3]
#include "CopyMoveRun.h"
#include "MainThreadGaps.h"
#include "lbtools3/files/CopyMove.h"
#include "lbtools3/files/FileOperation.h"
#include "lbtools3/files/ListPaths.h"
#include "lbtools3/files/Rename.h"
#include "lbtools3/find/FindText.h"
#include "lbtools3/maintenance/CheckList.h"
#include "lbtools3/model/M3uList.h"
#include "lbtools3/report/Report.h"
#include "lbtools3/repository/Repository.h"
#include "lbtools3/ui/QtUiServices.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <unistd.h>

namespace {

// Runs job in the event loop, as a command of the window does, under the meter.
void Measure(const char* what, int rounds, TMainThreadGaps& gaps,
             const std::function<void()>& prepare, const std::function<void()>& job) {
  double worst = -1, worstOwn = 0;
  for (int round = 0; round < rounds; ++round) {
    if (prepare) prepare();
    QTimer::singleShot(0, [&] {
      gaps.Start();
      job();
      gaps.Stop();
      QCoreApplication::quit();
    });
    QCoreApplication::exec();
    const double own = gaps.LongestMs() - gaps.LongestQueuedMs();
    std::printf("%s, round %d: longest gap %.1f ms, %.1f ms of it not waiting for a core\n", what,
                round + 1, gaps.LongestMs(), own);
    std::fflush(stdout);
    worstOwn = std::max(worstOwn, own);
    if (gaps.LongestMs() > worst) {
      worst = gaps.LongestMs();
      gaps.Print(stdout, what);
    }
  }
  std::printf(
      "== %s: worst gap of %d rounds %.1f ms; worst not waiting for a core %.1f ms "
      "(aim under 50 ms)\n\n",
      what, rounds, worst, worstOwn);
  std::fflush(stdout);
}

bool WriteFile(const QString& path, const QByteArray& data) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(data) == data.size() && f.flush();
}

// A list of count songs over files of the given size in folder, both records filled
// and synchronised (their file ages recorded).
void MakeSongs(TSlDocument& doc, const QString& folder, int count, int bytes) {
  QDir().mkpath(folder);
  const QByteArray data(bytes, 'x');
  for (int n = 0; n < count; ++n) {
    const QString path = folder + QString("/track%1.mp3").arg(n);
    if (!QFile::exists(path)) WriteFile(path, data);
    doc.InsertSong(TSlSong(nullptr, path, QString()), -1);
    TSlSong& song = doc.m_Songs[n];
    song.m_Tag1.m_bExists = true;
    song.m_Tag1.SetTitle(QString("Песня %1").arg(n), true);
    song.m_Tag1.SetArtist(QString("Исполнитель %1").arg(n / 100), true);
    song.m_Tag2.m_bExists = true;
    song.m_Tag2.SetTitle(QString("Песня номер %1").arg(n));
    song.m_Tag2.SetArtist(QString("Исполнитель %1").arg(n / 100));
    song.m_Tag2.SetAlbum(QString("Альбом %1").arg(n / 12));
    song.m_FileAge = lb::FileAge(path);
  }
}

}  // namespace

int main(int argc, char** argv) {
  QTemporaryDir scratch;
  const QString dir = scratch.path();
  qputenv("LBTOOLS_INI", QFile::encodeName(dir + "/lbtools3.ini"));
  qputenv("LBTOOLS_REGISTRY_DIR", QFile::encodeName(dir + "/registry"));
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;

  QtUiServices ui;
  UiServices::Install(&ui);
  TPaintedMainWindow mainWindow(ui, "Лист", 800, 600);
  TMainThreadGaps gaps;
  std::printf("songs %d, rounds %d\n", count, rounds);

  // ---- Renaming by tags: the list and three other lists of the repository follow the
  // files as they go (the dialog's checkpoint), then the names go back for the next round.
  {
    TSlDocument doc;
    doc.SetFileName(dir + "/rename/list.m3u");
    MakeSongs(doc, dir + "/rename", count, 64);
    doc.Save(true);
    TIniFile ini(lb::SettingsFilePath());
    TListsRepository repository(ini, nullptr, true);
    for (int l = 0; l < 3; ++l) {
      TSlDocument other(doc);
      other.SetFileName(dir + QString("/rename/other%1.m3u").arg(l));
      other.Save(true);
      repository.Add(other.m_FileName, false, nullptr);
    }
    QList<lb::TMaskPiece> pieces;
    lb::ParseRenameMask("%2 - %1.%e", &pieces);
    std::vector<int> rows(count);
    for (int n = 0; n < count; ++n) rows[n] = n;
    QStringList original;
    for (int n = 0; n < count; ++n) original << doc.m_Songs[n].m_Path;
    QStringList back;  // new, old, ... : the pairs that take the other lists back
    Measure(
        "rename by tags", rounds, gaps,
        [&] {
          if (!back.isEmpty()) {
            for (int n = 0; n < count; ++n) {
              ::rename(QFile::encodeName(doc.m_Songs[n].GetPath(true)).constData(),
                       QFile::encodeName(original[n]).constData());
              doc.m_Songs[n].m_Path = original[n];
            }
            lb::ReplacePathsInRepositoryLists(repository, back, doc.m_FileName);
            back.clear();
          }
        },
        [&] {
          lb::TSlRenameFiles rename(pieces, 1, true);
          lb::TPathCheckpoint checkpoint([&](const QStringList& pairs) {
            lb::ReplacePathsInRepositoryLists(repository, pairs, doc.m_FileName);
            lb::SaveListInStep(doc);
          });
          lb::TFileOperation operation(nullptr);
          rename.Run(doc, rows, operation, &checkpoint);
          checkpoint.Flush();
          for (int i = 0; i + 1 < rename.m_Pairs.size(); i += 2)
            back << rename.m_Pairs[i + 1] << rename.m_Pairs[i];
        });
  }

  // ---- Copying and moving by criteria (the artist folder), files of 256 KiB.
  {
    const int copies = std::min(count, 1000);
    TSlDocument doc;
    MakeSongs(doc, dir + "/copy", copies, 256 * 1024);
    QStringList original;
    for (int n = 0; n < copies; ++n) original << doc.m_Songs[n].m_Path;
    const QString root = dir + "/copy-root";
    for (const bool bCopy : {true, false}) {
      Measure(
          bCopy ? "copy by criteria" : "move by criteria", rounds, gaps,
          [&] {
            for (int n = 0; n < copies; ++n) {
              if (doc.m_Songs[n].m_Path != original[n])
                ::rename(QFile::encodeName(doc.m_Songs[n].m_Path).constData(),
                         QFile::encodeName(original[n]).constData());
              doc.m_Songs[n].m_Path = original[n];
            }
            QDir(root).removeRecursively();
            QDir().mkpath(root);
            ::sync();
          },
          [&] { CopyOrMove(doc, root, bCopy, false, copies); });
    }
  }

  // ---- Finding a text that is nowhere across 20 lists: open ones, then the same lists
  // loaded from their files (their songs synchronised).
  {
    std::vector<std::unique_ptr<TSlDocument>> docs;
    std::vector<TFindTarget> open, closed;
    TSlDocument songs;
    MakeSongs(songs, dir + "/find", count, 0);
    for (int l = 0; l < 20; ++l) {
      docs.push_back(std::make_unique<TSlDocument>(songs));
      docs.back()->SetFileName(dir + QString("/find/list%1.m3u").arg(l));
      docs.back()->Save(true);
      open.push_back({docs.back()->m_FileName, docs.back().get()});
      closed.push_back({docs.back()->m_FileName, nullptr});
    }
    const TSongMatcher matcher("нет такого", false, (1u << lb::kFindRowCount) - 1, 200);
    Measure("find across open lists", rounds, gaps, {}, [&] {
      TFoundLists rows;
      FindInLists(matcher, open, rows);
    });
    Measure("find across lists loaded from their files", rounds, gaps, {}, [&] {
      TFoundLists rows;
      FindInLists(matcher, closed, rows);
      ReleaseFoundDocuments(rows);
    });
  }

  // ---- Checking a list of 10 x songs for missing files, and a report of it.
  {
    TSlDocument doc;
    doc.SetFileName(dir + "/big.m3u");
    TSlDocument part;
    MakeSongs(part, dir + "/find", count, 0);
    for (int copy = 0; copy < 10; ++copy)
      for (int n = 0; n < count; ++n) doc.InsertSong(part.m_Songs[n], -1);
    Measure("check a list of 10 x songs", rounds, gaps, {}, [&] {
      TBusyCursor busy;
      bool stopped;
      lb::CheckMissingFiles(doc, &stopped);
    });
    uint32_t mask = 0;
    for (int kind : {0, 1, 11, 12, 13}) mask |= 1u << kind;
    Measure("report of 10 x songs", rounds, gaps, {}, [&] {
      lb::TReportCurrent current{&doc, {}};
      lb::WriteReport({dir + "/report.txt", mask, true, lb::rsCurrent, false}, current, nullptr,
                      {});
    });
  }
  UiServices::Install(nullptr);
  return 0;
}
