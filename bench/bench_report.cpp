// A report of a large list against a floor measured in the same run: the floor is a
// plain loop that joins the same field texts (taken out of the songs beforehand) into
// lines and writes them to a file in UTF-8.
//
//   bench_report [songs=100000]
#include "lbtools3/model/SongFields.h"
#include "lbtools3/model/M3uList.h"
#include "lbtools3/report/Report.h"
#include "platform/UiServices.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

namespace {

// N, path, the ID3v2 title, artist, album, year, genre and track, and the ID3v1 title.
const int kKinds[] = {0, 2, 11, 12, 13, 14, 15, 22, 3};

double Floor(const std::vector<QStringList>& rows, const QString& file) {
  QElapsedTimer timer;
  timer.start();
  QFile out(file);
  if (!out.open(QIODevice::WriteOnly)) return -1;
  QString buffer;
  for (const QStringList& row : rows) {
    for (const QString& value : row) {
      buffer += value;
      buffer += u'|';
    }
    buffer += u"\r\n";
    if (buffer.size() > (1 << 16)) {
      out.write(buffer.toUtf8());
      buffer.clear();
    }
  }
  out.write(buffer.toUtf8());
  out.close();
  return timer.nsecsElapsed() / 1e6;
}

double Report(TSlDocument& doc, const QString& file, bool bHtml, uint32_t mask) {
  QElapsedTimer timer;
  timer.start();
  lb::TReportCurrent current{&doc, {}};
  if (lb::WriteReport({file, mask, true, lb::rsCurrent, bHtml}, current, nullptr, {}) !=
      lb::rrWritten)
    return -1;
  return timer.nsecsElapsed() / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int count = argc > 1 ? atoi(argv[1]) : 100000;
  QTemporaryDir dir;
  TSlDocument doc;
  doc.SetFileName(dir.path() + "/big.m3u");
  doc.m_Songs.reserve(count);
  for (int i = 0; i < count; ++i) {
    const QString n = QString::number(i);
    doc.InsertSong(
        TSlSong(nullptr, "/музыка/Исполнитель " + n + "/Альбом/" + n + ".mp3", QString()), -1);
    TSlSong& s = doc.m_Songs[i];
    s.m_Tag2.m_bExists = true;
    s.m_Tag2.SetTitle("Песня номер " + n);
    s.m_Tag2.SetArtist("Исполнитель " + n);
    s.m_Tag2.SetAlbum("Альбом <" + n + "> & друзья");
    s.m_Tag2.SetYear("1999");
    s.m_Tag2.SetGenre(17);
    s.m_Tag2.SetTrack(i % 20);
    s.m_Tag1.SetTitle("Song " + n, true);
  }
  uint32_t mask = 0;
  for (int kind : kKinds) mask |= 1u << kind;
  std::vector<QStringList> rows;
  rows.reserve(count);
  for (int i = 0; i < count; ++i) {
    QStringList row;
    for (int kind : kKinds) row << lb::ReportFieldText(doc.m_Songs[i], kind, i);
    rows.push_back(row);
  }
  // The tag-reset of the chosen fields marks songs for a new pass; it is part of the work.
  const double floor = Floor(rows, dir.path() + "/floor.txt");
  const double text = Report(doc, dir.path() + "/r.txt", false, mask);
  const double html = Report(doc, dir.path() + "/r.htm", true, mask);
  std::printf("songs: %d, fields: %zu\n", count, std::size(kKinds));
  std::printf("floor (join and write the same texts): %8.1f ms\n", floor);
  std::printf("text report:                           %8.1f ms  (%.1fx floor)\n", text,
              text / floor);
  std::printf("HTML report:                           %8.1f ms  (%.1fx floor)\n", html,
              html / floor);
  std::printf("limit: 3000 ms each: %s\n", text < 3000 && html < 3000 ? "met" : "NOT met");
  return text < 3000 && html < 3000 ? 0 : 1;
}
