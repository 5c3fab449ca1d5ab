// Finding a text across many loaded lists and sorting a large list by title, each
// beside a floor measured in the same run over the same strings: for the search a
// plain loop that looks for the text in every field text without case, for the sort a
// sort of the bare title strings in code order.
//
//   bench_find [lists=20] [songs per list=10000] [songs to sort=100000]
#include "lbtools3/model/SongFields.h"
#include "lbtools3/find/FindText.h"
#include "lbtools3/find/Sort.h"
#include "lbtools3/model/M3uList.h"
#include "platform/UiServices.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <numeric>
#include <vector>

namespace {

double Ms(const QElapsedTimer& t) {
  return t.nsecsElapsed() / 1e6;
}

// The process's processor time in ms: on a machine shared with other work the wall
// time also counts the waits for a processor.
double CpuMs() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

const char* const kWords[] = {"Кино",    "Аквариум",  "ABBA",    "Queen", "Ёлка",  "Nautilus",
                              "Зоопарк", "Metallica", "Браво",   "Pink",  "Алиса", "Depeche",
                              "Сплин",   "Мумий",     "Beatles", "Ария",  "Muse",  "Чайф"};
constexpr int kWordCount = sizeof(kWords) / sizeof(kWords[0]);

QString Word(int n) {
  return QString::fromUtf8(kWords[n % kWordCount]);
}

// A song with every text field of both records filled.
void FillSong(TSlSong& song, int n) {
  const QString title = Word(n * 7 + 3) + " " + QString::number(n);
  song.m_Tag1.SetTitle(title, true);
  song.m_Tag1.SetArtist(Word(n), true);
  song.m_Tag1.SetAlbum(Word(n / 12) + " live", true);
  song.m_Tag1.SetComment("комментарий", true);
  song.m_Tag1.SetYear(QString::number(1970 + n % 50));
  song.m_Tag1.SetGenre(static_cast<unsigned char>(n % 148));
  song.m_Tag2.SetTitle(title);
  song.m_Tag2.SetArtist(Word(n));
  song.m_Tag2.SetAlbum(Word(n / 12) + " live");
  song.m_Tag2.SetYear(QString::number(1970 + n % 50));
  song.m_Tag2.SetComment("Длинный комментарий к песне");
  song.m_Tag2.SetComposer(Word(n + 5));
  song.m_Tag2.SetOrigArt(Word(n + 9));
  song.m_Tag2.SetCopyright("(c) " + Word(n + 2));
  song.m_Tag2.SetURL("http://example.org/" + QString::number(n));
  song.m_Tag2.SetEncodedBy("LAME");
  song.m_Tag2.SetGenre(n % 148);
  song.m_Tag2.SetTrack(n % 20 + 1);
}

void FillDocument(TSlDocument& doc, const QString& path, int count, int offset) {
  doc.SetFileName(path);
  doc.m_Songs.reserve(count);
  for (int n = 0; n < count; ++n) {
    auto song = std::make_unique<TSlSong>(
        &doc, QString("/music/%1/Песня %2.mp3").arg(n / 100).arg(offset + n), QString());
    FillSong(*song, offset + n);
    doc.m_Songs.push_back(std::move(song));
  }
}

struct TTime {
  double wall = 1e18, cpu = 1e18;
  void Keep(double w, double c) {
    wall = std::min(wall, w);
    cpu = std::min(cpu, c);
  }
};

// The fastest of three runs.
template <typename Fn>
TTime Best(Fn fn) {
  TTime best;
  for (int run = 0; run < 3; ++run) {
    QElapsedTimer t;
    const double cpu = CpuMs();
    t.start();
    fn();
    best.Keep(Ms(t), CpuMs() - cpu);
  }
  return best;
}

void Report(const char* what, const TTime& time, const TTime& floor, double limit, bool* ok) {
  // Judged by processor time when the machine is busy with other work.
  const double ms = std::min(time.wall, time.cpu);
  std::printf(
      "%s: %.0f ms (processor %.0f ms); floor %.0f ms (processor %.0f ms); "
      "ratio %.1f; limit %.0f ms: %s\n",
      what, time.wall, time.cpu, floor.wall, floor.cpu, time.cpu / floor.cpu, limit,
      ms <= limit ? "ok" : "TOO SLOW");
  *ok = *ok && ms <= limit;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int lists = argc > 1 ? std::atoi(argv[1]) : 20;
  const int perList = argc > 2 ? std::atoi(argv[2]) : 10000;
  const int toSort = argc > 3 ? std::atoi(argv[3]) : 100000;
  bool ok = true;

  // ---- Finding across open lists, every searchable field, a text that never matches
  // (every field of every song is looked at).
  std::vector<std::unique_ptr<TSlDocument>> docs;
  std::vector<TFindTarget> targets;
  for (int l = 0; l < lists; ++l) {
    docs.push_back(std::make_unique<TSlDocument>());
    FillDocument(*docs.back(), QString("/lists/%1.m3u").arg(l), perList, l * perList);
    targets.push_back({docs.back()->m_FileName, docs.back().get()});
  }
  const uint32_t allRows = (1u << lb::kFindRowCount) - 1;
  const TSongMatcher matcher("нет такого", false, allRows, 200);
  size_t found = 0;
  const TTime findTime = Best([&] {
    TFoundLists rows;
    FindInLists(matcher, targets, rows);
    found = rows.size();
  });
  // Floor: the same field texts, already in hand, searched without case.
  std::vector<QString> texts;
  for (const auto& doc : docs)
    for (int n = 0; n < doc->m_Songs.size(); ++n)
      for (int row = 0; row < lb::kFindRowCount; ++row) {
        const int kind = lb::FindRowKind(row);
        if (!lb::IsGenreKind(kind)) texts.push_back(lb::ColumnText(doc->m_Songs[n], kind, n));
      }
  const QString needle = "нет такого";
  size_t floorHits = 0;
  const TTime findFloor = Best([&] {
    floorHits = 0;
    for (const QString& text : texts) floorHits += text.contains(needle, Qt::CaseInsensitive);
  });
  std::printf("find: %d lists x %d songs, %d fields, lists with matches %zu (floor %zu)\n", lists,
              perList, lb::kFindRowCount, found, floorHits);
  Report("find", findTime, findFloor, 2000, &ok);
  docs.clear();

  // ---- Sorting a large list by the ID3v2 title, without case in the Russian locale.
  TSlDocument big;
  FillDocument(big, "/lists/big.m3u", toSort, 0);
  std::vector<int> all(toSort);
  std::iota(all.begin(), all.end(), 0);
  std::vector<QString> titles;
  for (int n = 0; n < toSort; ++n) titles.push_back(big.m_Songs[n].m_Tag2.Title);
  const lb::TSortOrder byTitle{11, true, false};
  // Each run starts from the same shuffled order.
  auto shuffle = [&] {
    std::vector<int> order(toSort);
    std::iota(order.begin(), order.end(), 0);
    for (int n = 0; n < toSort; ++n) std::swap(order[n], order[(n * 7919L + 13) % toSort]);
    big.ArrangeSongs(all,
                     [&](const std::vector<const TSlSong*>&, std::vector<int>& o) { o = order; });
  };
  TTime sortTime;
  for (int run = 0; run < 3; ++run) {
    shuffle();
    QElapsedTimer t;
    const double cpu = CpuMs();
    t.start();
    big.ArrangeSongs(all, lb::SongArranger(byTitle));
    sortTime.Keep(Ms(t), CpuMs() - cpu);
  }
  const TTime sortFloor = Best([&] {
    std::vector<QString> copy = titles;
    std::stable_sort(copy.begin(), copy.end());
  });
  std::printf("sort: %d songs by the ID3v2 title without case\n", toSort);
  Report("sort", sortTime, sortFloor, 500, &ok);
  return ok ? 0 : 1;
}
