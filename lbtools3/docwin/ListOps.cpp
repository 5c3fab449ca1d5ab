#include "ListOps.h"

#include "lbtools3/model/M3uList.h"

#include <algorithm>

namespace lb {

int DropIndex(int row, int rowTop, int rowBottom, int y, int count) {
  if (row < 0) return count;
  const int middle = rowTop + (rowBottom - rowTop) / 2;
  return middle < y ? row + 1 : row;
}

int AdjustDropIndexForMove(int index, const std::vector<int>& moved) {
  const auto below = std::lower_bound(moved.begin(), moved.end(), index) - moved.begin();
  return index - static_cast<int>(below);
}

bool CanRemoveSongs(const TSlDocument& document) {
  return document.m_DocNotSync->WaitFor(0) == wrSignaled;
}

int CarrySongs(TSlDocument& source, const std::vector<int>& indices, TSlDocument& target, int index,
               bool bMove) {
  if (indices.empty()) return -1;
  if (bMove && !CanRemoveSongs(source)) return -1;
  TSlSongVector songs;
  if (&source == &target) {
    index = AdjustDropIndexForMove(index, indices);
    source.MoveSongs(indices, songs, 0);
  } else if (bMove) {
    source.MoveSongs(indices, songs, 0);
  } else {
    source.CopySongsTo(indices, songs, 0);
  }
  index = std::clamp(index, 0, target.m_Songs.size());
  target.InsertSongs(songs, 0, static_cast<int>(songs.size()), index);
  return index;
}

int ColumnAtX(const std::vector<int>& widths, int x) {
  if (x < 0) return -1;
  int sum = 0;
  for (size_t n = 0; n < widths.size(); ++n) {
    sum += widths[n];
    if (sum > x) return static_cast<int>(n);
  }
  return -1;
}

}  // namespace lb
