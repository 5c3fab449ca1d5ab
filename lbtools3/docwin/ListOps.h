// The rules of the document window's list operations that do not need a window:
// where a drop lands, whether it moves or copies, and carrying songs between lists.
#pragma once

#include <QString>
#include <vector>

class TSlDocument;

namespace lb {

// The message of a move refused while the source list synchronises.
inline constexpr const char* kSyncRunningMessage =
    "Эта операция не может быть выполнена, пока синхронизируется документ.";

// A drop moves songs when it stays within one list or Ctrl is held; otherwise it
// copies them (Ctrl between two windows moves songs out of the source).
inline bool DropMoves(bool bSame, bool bCtrl) {
  return bSame || bCtrl;
}

// The index a drop inserts at. row is the drop-target row (-1 when the drop is not on
// a row), rowTop and rowBottom its bounding rectangle's edges, y the drop point and
// count the target's song count. A drop below the row's middle inserts after it.
int DropIndex(int row, int rowTop, int rowBottom, int y, int count);

// Within one list the drop index counts the list without the moved songs: it falls by
// the number of moved indices below it.
int AdjustDropIndexForMove(int index, const std::vector<int>& moved);

// Whether songs may leave the document now (no synchronisation pass runs over it).
bool CanRemoveSongs(const TSlDocument& document);

// Carries the listed songs (ascending indices of source) into target at index: moved
// when bMove, else copied. Returns the index where the first song landed, or -1 when
// nothing was carried (no songs listed, or a move out of a synchronising document).
int CarrySongs(TSlDocument& source, const std::vector<int>& indices, TSlDocument& target, int index,
               bool bMove);

// The column under client x (already shifted by the horizontal scroll position):
// column widths are added from the left until the sum passes x; -1 past the last.
int ColumnAtX(const std::vector<int>& widths, int x);

// The rows a repaint block covers: from n cut down to a multiple of 16, to n.
inline int RepaintBlockStart(int n) {
  return n - n % 16;
}

}  // namespace lb
