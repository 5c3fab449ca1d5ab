#include "TagBytes.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace id3 {

namespace {

uint32_t BigEndian(const char* p, int bytes) {
  uint32_t n = 0;
  for (int i = 0; i < bytes; ++i) n = (n << 8) | static_cast<unsigned char>(p[i]);
  return n;
}

std::optional<uint32_t> FromSyncSafe(const char* p) {
  uint32_t n = 0;
  for (int i = 0; i < 4; ++i) {
    const auto b = static_cast<unsigned char>(p[i]);
    if (b & 0x80) return std::nullopt;
    n = (n << 7) | b;
  }
  return n;
}

QByteArray ToBigEndian(uint32_t n, int bytes) {
  QByteArray b(bytes, '\0');
  for (int i = bytes - 1; i >= 0; --i, n >>= 8) b[i] = static_cast<char>(n & 0xFF);
  return b;
}

// Undoes the unsynchronisation of a whole v2.2/v2.3 tag: FF 00 stands for FF.
QByteArray Resynchronise(const QByteArray& data) {
  QByteArray out;
  out.reserve(data.size());
  for (qsizetype i = 0; i < data.size(); ++i) {
    out.append(data[i]);
    if (static_cast<unsigned char>(data[i]) == 0xFF && i + 1 < data.size() && data[i + 1] == 0) ++i;
  }
  return out;
}

// Walks the frames of a tag body. Reading a v2.4 size as a plain integer is only
// trusted when no readable frame starts inside the frame it gives, and after a broken
// frame the walk goes on at the next readable frame; both questions ask where the next
// readable frame after a place starts. Whether a place starts a readable frame depends
// only on the places behind it, so one pass from the end of the body answers them for
// every place at once: the walk's work is linear in the tag's size, whatever its
// frames chain into. The places found are kept up to a budget; a tag that holds more
// than that counts as damaged.
class TWalker {
 public:
  TWalker(QByteArrayView body, int major, bool rebuild)
      : m_Body(body),
        m_bRebuild(rebuild),
        m_Major(major),
        m_IdLen(major == 2 ? 3 : 4),
        m_HeaderLen(major == 2 ? 6 : 10),
        m_PaddingStart(body.size()) {
    // Eight bytes at a time first: padding runs to kilobytes, and every read of a tag
    // passes over it.
    for (uint64_t word = 0; m_PaddingStart >= 8; m_PaddingStart -= 8) {
      std::memcpy(&word, m_Body.data() + m_PaddingStart - 8, sizeof word);
      if (word != 0) break;
    }
    while (m_PaddingStart > 0 && m_Body[m_PaddingStart - 1] == 0) --m_PaddingStart;
    for (qsizetype p = m_PaddingStart - m_IdLen; p >= 0; --p) {
      if (ValidId(p)) {
        m_NoIdFrom = p + m_IdLen;
        break;
      }
    }
  }

  TFrameWalk Walk() {
    TFrameWalk walk;
    walk.regular = true;
    walk.spans.reserve(16);
    QByteArray frames;
    qsizetype pos = 0;
    const qsizetype n = m_Body.size();
    while (pos + m_HeaderLen <= n) {
      if (IsPadding(pos)) break;
      const bool id = ValidId(pos);
      bool plain = false;
      std::optional<uint32_t> size = id ? SizeAt(pos, -1, &plain) : std::nullopt;
      if (m_bOverBudget) {
        walk.broken = true;
        break;
      }
      if (!size) {
        // A frame whose size fits nowhere is lost; bytes that are no frame at all are
        // lost only when frames follow them (junk in the padding is no loss).
        const qsizetype next = NextFrame(pos + 1);
        walk.broken = walk.broken || id || next < n || m_bOverBudget;
        walk.regular = false;
        pos = next;
        continue;
      }
      if (*size > 0) {
        if (m_bRebuild) {
          frames.append(m_Body.sliced(pos, m_IdLen)).append(SizeField(*size));
          if (m_Major > 2) frames.append(m_Body.sliced(pos + 8, 2));
          frames.append(m_Body.sliced(pos + m_HeaderLen, *size));
        }
        ++walk.frames;
        walk.spans.append({pos, *size});
        if (m_Major == 2) walk.ids.append(m_Body.sliced(pos, m_IdLen).toByteArray());
      }
      walk.regular = walk.regular && *size > 0 && !plain;
      pos += m_HeaderLen + *size;
    }
    if (pos > n) walk.broken = true;
    walk.regular = walk.regular && !walk.broken && pos >= m_PaddingStart;
    if (m_bRebuild)
      walk.rebuilt = QByteArray("ID3") + static_cast<char>(m_Major) + '\0' + '\0' +
                     SyncSafe(static_cast<uint32_t>(frames.size())) + frames;
    return walk;
  }

 private:
  // Readable frames kept at most (8 bytes each); a tag with more counts as damaged.
  static constexpr size_t kMaxFrames = 4'000'000;

  bool ValidId(qsizetype pos) const {
    if (pos + m_IdLen > m_Body.size()) return false;
    for (int i = 0; i < m_IdLen; ++i) {
      const char c = m_Body[pos + i];
      if (!((c >= 'A' && c <= 'Z') || (i > 0 && c >= '0' && c <= '9'))) return false;
    }
    return true;
  }

  // Whether a frame ending here leaves the walk on solid ground: the end of the tag,
  // padding (nothing but zeros up to the end) or the next frame.
  bool LandsWell(qsizetype pos) const {
    return IsPadding(pos) || (pos + m_HeaderLen <= m_Body.size() && ValidId(pos));
  }

  // Zeros up to the end, or a zero after which nothing looks like a frame any more
  // (some taggers leave junk at the end of the padding).
  bool IsPadding(qsizetype pos) const {
    return pos >= m_PaddingStart || (pos >= m_NoIdFrom && m_Body[pos] == 0);
  }

  // The frame's size: as the version writes it and, in a v2.4 tag, as a plain integer
  // when only that lands on the next frame and no readable frame starts inside it.
  // `following` is the first readable frame after pos when the caller knows it (-1:
  // looked up); `plain` tells that the plain reading was taken. None when no reading
  // fits.
  std::optional<uint32_t> SizeAt(qsizetype pos, qsizetype following = -1, bool* plain = nullptr) {
    const char* p = m_Body.constData() + pos + m_IdLen;
    std::optional<uint32_t> candidates[2];
    if (m_Major == 2)
      candidates[0] = BigEndian(p, 3);
    else if (m_Major == 3)
      candidates[0] = BigEndian(p, 4);
    else
      candidates[0] = FromSyncSafe(p), candidates[1] = BigEndian(p, 4);
    for (int i = 0; i < 2; ++i) {
      const std::optional<uint32_t>& size = candidates[i];
      if (!size) continue;
      const qsizetype end = pos + m_HeaderLen + static_cast<qsizetype>(*size);
      if (end > m_Body.size() || !LandsWell(end)) continue;
      // A plain size that swallows the next frame is a broken size (only chapter
      // frames hold frames of their own).
      if (i == 1 && !IsContainer(pos)) {
        if (following < 0) following = NextFrame(pos + 1);
        if (following < end) continue;
      }
      if (plain) *plain = i == 1;
      return size;
    }
    return std::nullopt;
  }

  bool IsContainer(qsizetype pos) const {
    const QByteArrayView id(m_Body.constData() + pos, m_IdLen);
    return id == "CHAP" || id == "CTOC";
  }

  // The first place from `from` on where a readable frame starts; the body's size when
  // there is none.
  qsizetype NextFrame(qsizetype from) {
    FindFrames();
    const auto it = std::lower_bound(m_Frames.begin(), m_Frames.end(), from);
    return it != m_Frames.end() ? *it : m_Body.size();
  }

  // Every place where a readable frame starts, found from the end of the body back, so
  // that the first readable frame after a place is always known when it is looked at.
  void FindFrames() {
    if (m_bFound) return;
    m_bFound = true;
    qsizetype following = m_Body.size();
    for (qsizetype p = m_Body.size() - m_HeaderLen; p >= 0; --p) {
      if (!ValidId(p) || !SizeAt(p, following)) continue;
      if (m_Frames.size() == kMaxFrames) {
        m_bOverBudget = true;
        m_Frames.clear();
        return;
      }
      m_Frames.push_back(p);
      following = p;
    }
    std::reverse(m_Frames.begin(), m_Frames.end());
  }

  QByteArray SizeField(uint32_t size) const {
    if (m_Major == 2) return ToBigEndian(size, 3);
    if (m_Major == 3) return ToBigEndian(size, 4);
    return SyncSafe(size);
  }

  const QByteArrayView m_Body;
  const bool m_bRebuild;
  const int m_Major;
  const int m_IdLen;
  const int m_HeaderLen;
  qsizetype m_PaddingStart;  // where the zeros at the end of the tag begin
  qsizetype m_NoIdFrom = 0;  // past the last bytes that could name a frame
  bool m_bFound = false;     // m_Frames holds every readable frame's place
  bool m_bOverBudget = false;
  std::vector<qsizetype> m_Frames;  // ascending
};

}  // namespace

QByteArray SyncSafe(uint32_t n) {
  QByteArray b(4, '\0');
  for (int i = 3; i >= 0; --i, n >>= 7) b[i] = static_cast<char>(n & 0x7F);
  return b;
}

bool ParseHeader(QByteArrayView head, TTagHeader* header) {
  if (head.size() < kHeaderSize || !head.startsWith("ID3")) return false;
  const int major = static_cast<unsigned char>(head[3]);
  if (major < 2 || major > 4 || static_cast<unsigned char>(head[4]) == 0xFF) return false;
  std::optional<uint32_t> size = FromSyncSafe(head.data() + 6);
  if (!size) return false;
  header->major = major;
  header->flags = static_cast<unsigned char>(head[5]);
  header->completeSize =
      kHeaderSize + int64_t(*size) + (major == 4 && (header->flags & 0x10) ? 10 : 0);
  return true;
}

QByteArray WithoutExtendedHeader(const QByteArray& tag) {
  TTagHeader header;
  if (!ParseHeader(tag, &header) || header.major != 3 || !(header.flags & 0x40)) return tag;
  QByteArray body = tag.mid(kHeaderSize, header.completeSize - kHeaderSize);
  if (header.flags & 0x80) body = Resynchronise(body);
  // The extended header's size counts the bytes after its size field.
  const qsizetype skip = body.size() >= 4 ? 4 + qsizetype(BigEndian(body.constData(), 4)) : 0;
  if (skip == 0 || skip > body.size()) return tag;
  body.remove(0, skip);
  return QByteArray("ID3\x03\x00", 5) + static_cast<char>(header.flags & ~0xC0) +
         SyncSafe(static_cast<uint32_t>(body.size())) + body;
}

TFrameWalk WalkFrames(const QByteArray& tag, bool rebuild) {
  TTagHeader header;
  TFrameWalk walk;
  if (!ParseHeader(tag, &header)) {
    walk.broken = true;
    return walk;
  }
  const qsizetype footer = header.major == 4 && (header.flags & 0x10) ? 10 : 0;
  const qsizetype bodySize = header.completeSize - kHeaderSize - footer;
  QByteArrayView body = QByteArrayView(tag).sliced(kHeaderSize);
  body = body.first(std::min(bodySize, body.size()));
  if (body.size() < bodySize) walk.broken = true;  // cut short
  QByteArray resynchronised;
  if (header.major < 4 && (header.flags & 0x80))
    body = resynchronised = Resynchronise(body.toByteArray());
  if (header.flags & 0x40) {
    if (header.major == 2) {  // a compressed v2.2 tag: nothing can be read
      walk.broken = true;
      return walk;
    }
    qsizetype skip = 0;
    if (body.size() >= 4) {
      if (header.major == 3) {
        skip = 4 + static_cast<qsizetype>(BigEndian(body.constData(), 4));
      } else {
        std::optional<uint32_t> size = FromSyncSafe(body.constData());
        skip = size ? static_cast<qsizetype>(*size) : body.size();
      }
    }
    body = body.sliced(std::min(skip, body.size()));
  }
  const bool cut = walk.broken;
  walk = TWalker(body, header.major, rebuild).Walk();
  walk.broken = walk.broken || cut;
  return walk;
}

std::optional<QList<QByteArray>> WholeV23Frames(const QByteArray& tag) {
  TTagHeader header;
  if (!ParseHeader(tag, &header) || header.major != 3 || (header.flags & 0x40)) return std::nullopt;
  const TFrameWalk walk = WalkFrames(tag, false);
  if (walk.broken) return std::nullopt;
  QByteArray body = tag.mid(kHeaderSize, header.completeSize - kHeaderSize);
  if (header.flags & 0x80) body = Resynchronise(body);
  QList<QByteArray> frames;
  for (const TFrameSpan& span : walk.spans) frames.append(body.mid(span.pos, 10 + span.size));
  return frames;
}

std::optional<bool> CommentHasDescription(QByteArrayView frame) {
  if (frame.size() < 10) return true;
  const auto format = static_cast<unsigned char>(frame[9]);
  if (format & 0xC0) return std::nullopt;  // compressed or encrypted
  // Encoding, language, then the description up to its terminator (after the group's
  // byte when the frame has one).
  const qsizetype start = 10 + ((format & 0x20) ? 1 : 0);
  if (frame.size() < start + 4) return true;
  const QByteArrayView c = frame.sliced(start);
  const char encoding = c[0];
  QByteArrayView text = c.sliced(4);
  if (encoding == 0 || encoding == 3) return !text.empty() && text[0] != 0;
  if (encoding == 1 && text.size() >= 2 &&
      (text.startsWith("\xFF\xFE") || text.startsWith("\xFE\xFF")))
    text = text.sliced(2);
  return !(text.empty() || (text.size() >= 2 && text[0] == 0 && text[1] == 0));
}

QByteArray TagOfFrames(const QList<QByteArray>& frames, int version) {
  QByteArray body;
  for (const QByteArray& f : frames) body += f;
  return QByteArray("ID3", 3) + char(version) + QByteArray(2, '\0') +
         SyncSafe(static_cast<uint32_t>(body.size())) + body;
}

}  // namespace id3
