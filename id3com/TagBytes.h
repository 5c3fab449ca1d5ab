// The raw bytes of an ID3v2 tag: its header, and a walk over its frames that does not
// give up at the first broken frame. Some writers put frame sizes as plain 32-bit
// integers into v2.4 tags, or one frame with a wrong size; the walk takes every frame
// it can still find so that what the tag holds can be shown, and tells whether
// anything was lost on the way.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <cstdint>
#include <optional>

namespace id3 {

inline constexpr int kHeaderSize = 10;

struct TTagHeader {
  int major = 0;             // 2, 3 or 4
  int flags = 0;             // header flags byte
  int64_t completeSize = 0;  // header, frames, padding and footer
};

// Reads a tag header from the first 10 bytes; false when they hold none.
bool ParseHeader(QByteArrayView head, TTagHeader* header);

// Where a frame found whole lies in the tag's body (the bytes after the tag header and
// any extended header, unsynchronisation undone), and the size of its contents.
struct TFrameSpan {
  qsizetype pos = 0;
  uint32_t size = 0;
};

struct TFrameWalk {
  int frames = 0;       // frames found whole (empty frames are not counted)
  bool broken = false;  // some bytes could not be read as frames: a frame is lost
  // Every frame lies where the one before it ends, with the size its version writes,
  // none is empty, and nothing but zeros follows the last one.
  bool regular = false;
  QList<TFrameSpan> spans;  // the frames found whole, in order
  // A clean tag of the same version that holds the frames found whole, with sizes in
  // the form the version asks for and no unsynchronisation or extended header.
  QByteArray rebuilt;
  QList<QByteArray> ids;  // v2.2: the identifiers of the frames found whole, in order
};

// Walks the frames of a complete tag (header included); `rebuilt` is made only when
// asked for.
TFrameWalk WalkFrames(const QByteArray& tag, bool rebuild);

// A v2.3 tag with an extended header as a tag without one (unsynchronisation undone
// too, as it covers the extended header); other tags as they are. TagLib 1.13 skips a
// v2.3 extended header by the wrong length and loses the frames behind it.
QByteArray WithoutExtendedHeader(const QByteArray& tag);

QByteArray SyncSafe(uint32_t n);

// The frames of a v2.3 tag without an extended header, each whole with its header and
// flags, unsynchronisation undone (empty frames and junk in the padding left out);
// none when the tag is of another kind or a frame could not be read whole.
std::optional<QList<QByteArray>> WholeV23Frames(const QByteArray& tag);

// Whether a whole v2.3 comment frame has a description; none when its contents cannot
// be read without decoding them (compressed or encrypted).
std::optional<bool> CommentHasDescription(QByteArrayView frame);

// A tag of these frames of its version (3 or 4), without padding.
QByteArray TagOfFrames(const QList<QByteArray>& frames, int version);

}  // namespace id3
