// Sorting songs by one column kind: the kinds the sort dialog offers, the program-wide
// choices it remembers, and the order itself, both as a comparator of two songs and as
// an arranger that computes every song's key once (what large lists need). Equal
// songs keep their order. QtCore only.
#pragma once

#include "lbtools3/model/M3uList.h"

#include <QList>
#include <functional>

// The sort dialog's last choices, kept until the program ends (not in the settings).
extern bool g_bSortAscending;
extern bool g_bSortCaseSensitive;

namespace lb {

// Kinds 1 to 24 in kind order, without 9 (the ID3v1 record has no track).
QList<int> SortKinds();
bool IsSortKind(int kind);

struct TSortOrder {
  int kind = 1;
  bool bAscending = true;
  // Text in the Russian locale's order, capitals apart from small letters; otherwise
  // without regard to case. The order of the scripts is the same either way.
  bool bCaseSensitive = false;
};

// a goes before b. The kind must be a sort kind.
std::function<bool(const TSlSong&, const TSlSong&)> SongLess(const TSortOrder& order);
// The same order for TSlDocument::ArrangeSongs, with every key computed once.
TSlDocument::TSongArranger SongArranger(const TSortOrder& order);

}  // namespace lb
