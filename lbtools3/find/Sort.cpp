#include "Sort.h"

#include "lbtools3/model/SongFields.h"
#include "platform/Assert.h"

#include <QCollator>
#include <QLocale>
#include <algorithm>
#include <memory>

bool g_bSortAscending = true;
bool g_bSortCaseSensitive = false;

namespace lb {

namespace {

constexpr int kTrack2 = 22;

enum class TKeyType { Text, Number };

TKeyType KeyType(int kind) {
  return kind == kTrack2 || kind == ckSync1 || kind == ckSync2 ? TKeyType::Number : TKeyType::Text;
}

// The text kinds sort by what the list view shows, the path in full form; genres by
// name (empty when the record does not exist or the number is outside the table).
QString KeyText(const TSlSong& song, int kind) {
  return kind == ckPath ? song.GetPath(true) : ColumnText(song, kind, 0);
}

// The track as a signed number whether the record exists or not; a set
// synchronisation flag goes first.
int KeyNumber(const TSlSong& song, int kind) {
  switch (kind) {
    case kTrack2:
      return song.m_Tag2.Track;
    case ckSync1:
      return song.m_Tag1.bTagSync ? 0 : 1;
    default:
      return song.m_Tag2.bTagSync ? 0 : 1;
  }
}

// Text in the Russian locale's order (Cyrillic before Latin); with case, capitals and
// small letters differ but the order of letters and scripts stays the same.
std::shared_ptr<QCollator> RussianCollator(bool bCaseSensitive) {
  auto collator = std::make_shared<QCollator>(QLocale(QLocale::Russian, QLocale::Russia));
  collator->setCaseSensitivity(bCaseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive);
  return collator;
}

// Sorts order by keys; key(a) < key(b) is less(a, b).
template <typename Less>
void SortIndices(std::vector<int>& order, bool bAscending, Less less) {
  if (bAscending)
    std::stable_sort(order.begin(), order.end(), less);
  else
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return less(b, a); });
}

}  // namespace

QList<int> SortKinds() {
  QList<int> kinds;
  for (int kind = 1; kind < kColumnKindCount; ++kind)
    if (kind != ckTrack1) kinds << kind;
  return kinds;
}

bool IsSortKind(int kind) {
  return kind >= 1 && kind < kColumnKindCount && kind != ckTrack1;
}

std::function<bool(const TSlSong&, const TSlSong&)> SongLess(const TSortOrder& order) {
  LB_ASSERT(IsSortKind(order.kind));
  const int kind = order.kind;
  const bool bAscending = order.bAscending;
  if (KeyType(kind) == TKeyType::Number) {
    return [=](const TSlSong& a, const TSlSong& b) {
      const int ka = KeyNumber(a, kind), kb = KeyNumber(b, kind);
      return bAscending ? ka < kb : kb < ka;
    };
  }
  std::shared_ptr<QCollator> collator = RussianCollator(order.bCaseSensitive);
  return [=](const TSlSong& a, const TSlSong& b) {
    const int c = collator->compare(KeyText(a, kind), KeyText(b, kind));
    return bAscending ? c < 0 : c > 0;
  };
}

TSlDocument::TSongArranger SongArranger(const TSortOrder& sortOrder) {
  LB_ASSERT(IsSortKind(sortOrder.kind));
  return [sortOrder](const std::vector<const TSlSong*>& songs, std::vector<int>& order) {
    const int kind = sortOrder.kind;
    const size_t count = songs.size();
    // A song's fields are read under its lock: a synchronisation pass may be writing them.
    auto locked = [&](size_t n, auto key) {
      std::lock_guard<std::recursive_mutex> lock(songs[n]->cs);
      return key(*songs[n], kind);
    };
    if (KeyType(kind) == TKeyType::Number) {
      std::vector<int> keys(count);
      for (size_t n = 0; n < count; ++n) keys[n] = locked(n, KeyNumber);
      SortIndices(order, sortOrder.bAscending, [&](int a, int b) { return keys[a] < keys[b]; });
    } else {
      const std::shared_ptr<QCollator> collator = RussianCollator(sortOrder.bCaseSensitive);
      std::vector<QCollatorSortKey> keys;
      keys.reserve(count);
      for (size_t n = 0; n < count; ++n) keys.push_back(collator->sortKey(locked(n, KeyText)));
      SortIndices(order, sortOrder.bAscending,
                  [&](int a, int b) { return keys[a].compare(keys[b]) < 0; });
    }
  };
}

}  // namespace lb
