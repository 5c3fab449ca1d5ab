#include "FrameTexts.h"

#include "platform/CodePage.h"

#include <QSysInfo>

#include <taglib/id3v1genres.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace id3 {

namespace {

// The text encodings a frame names in its first byte.
enum TEncoding { eLatin1 = 0, eUtf16 = 1, eUtf16BE = 2, eUtf8 = 3 };

// A string as TagLib holds it: one 16-bit unit per byte of Latin-1 text and per unit
// of UTF-16 text (a character beyond the first plane as two surrogates). Shown turns
// it into the text the component shows.
using TChars = QString;

unsigned char Byte(QByteArrayView bytes, qsizetype i) {
  return static_cast<unsigned char>(bytes[i]);
}

// UTF-8 as 16-bit units, as TagLib keeps it (a character beyond the first plane as two
// surrogates); false for bytes that are no UTF-8 (TagLib drops the whole string then).
bool FromUtf8(QByteArrayView bytes, TChars* out) {
  if (!lb::IsValidUtf8(bytes.data(), bytes.size())) return false;
  *out = QString::fromUtf8(bytes);
  return true;
}

// The bytes before the first zero byte.
QByteArrayView UpToZero(QByteArrayView bytes) {
  const void* zero = std::memchr(bytes.data(), 0, static_cast<size_t>(bytes.size()));
  return zero ? bytes.first(static_cast<const char*>(zero) - bytes.data()) : bytes;
}

// The string TagLib makes of bytes in an encoding: UTF-16 needs its byte-order mark
// (without one the string is empty), an odd last byte is dropped, and the string ends
// at its first NUL. False when TagLib's reading is not followed here.
bool Decode(QByteArrayView bytes, int encoding, TChars* out) {
  out->clear();
  switch (encoding) {
    case eLatin1:
      *out = QString::fromLatin1(UpToZero(bytes));
      return true;
    case eUtf8: {
      // The whole string must be UTF-8, even past its end.
      if (!FromUtf8(bytes, out)) return false;
      const qsizetype end = out->indexOf(QChar(0));
      if (end >= 0) out->truncate(end);
      return true;
    }
    case eUtf16:
    case eUtf16BE: {
      bool bigEndian = encoding == eUtf16BE;
      qsizetype from = 0;
      if (encoding == eUtf16) {
        if (bytes.size() < 2) return true;
        const unsigned mark = Byte(bytes, 0) | (Byte(bytes, 1) << 8);
        if (mark != 0xFEFF && mark != 0xFFFE) return true;
        bigEndian = mark == 0xFFFE;
        from = 2;
      }
      const qsizetype units = (bytes.size() - from) / 2;
      if (units == 0) return true;
      *out = QString(units, Qt::Uninitialized);  // the exact size: most texts keep it
      char16_t* to = reinterpret_cast<char16_t*>(out->data());
      const char* p = bytes.data() + from;
      if (!bigEndian && QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
        std::memcpy(to, p, static_cast<size_t>(units) * 2);
      } else {
        for (qsizetype n = 0; n < units; ++n, p += 2) {
          const unsigned a = static_cast<unsigned char>(p[0]), b = static_cast<unsigned char>(p[1]);
          to[n] = static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
        }
      }
      out->truncate(std::find(to, to + units, u'\0') - to);
      return true;
    }
    default:
      return false;
  }
}

// A string as the component shows it: Latin-1 text holds bytes of the tag code page.
QString Shown(const TChars& s, int encoding) {
  return encoding == eLatin1 ? lb::FromTagCodePage(s.toLatin1()) : s;
}

int Alignment(int encoding) {
  return encoding == eLatin1 || encoding == eUtf8 ? 1 : 2;
}

// Where the string terminator (one zero byte, or two at an even place for UTF-16)
// first stands in bytes at or after `from`; -1 when nowhere.
qsizetype FindTerminator(QByteArrayView bytes, qsizetype from, int alignment) {
  if (alignment == 1) {
    if (from >= bytes.size()) return -1;
    const QByteArrayView rest = bytes.sliced(from);
    const qsizetype end = UpToZero(rest).size();
    return end < rest.size() ? from + end : -1;
  }
  for (qsizetype i = from; i + alignment <= bytes.size(); i += alignment)
    if (bytes[i] == 0 && bytes[i + 1] == 0) return i;
  return -1;
}

// Calls `take` with each string of a text frame, and sets its encoding; false when
// declined.
template <class Take>
bool ForEachTextField(QByteArrayView data, int* encoding, Take take) {
  *encoding = eLatin1;
  if (data.size() < 2) return true;
  *encoding = Byte(data, 0);
  if (*encoding > eUtf8) return false;
  const int alignment = Alignment(*encoding);
  // Zeros at the end go, up to a whole character.
  qsizetype length = data.size() - 1;
  while (length > 0 && data[length] == 0) --length;
  while (length % alignment != 0) ++length;
  const QByteArrayView text = data.sliced(1, std::min(length, data.size() - 1));
  unsigned firstMark = 0;
  qsizetype start = 0;
  while (start < text.size()) {
    qsizetype end = FindTerminator(text, start, alignment);
    if (end < 0) end = text.size();
    QByteArrayView piece = text.sliced(start, end - start);
    if (!piece.isEmpty()) {
      // Strings after the first may leave out the byte-order mark: the first one's holds.
      QByteArray marked;
      if (*encoding == eUtf16 && piece.size() >= 2) {
        const unsigned mark = (Byte(piece, 0) << 8) | Byte(piece, 1);
        if (start == 0) {
          firstMark = mark;
        } else if (mark != 0xFEFF && mark != 0xFFFE &&
                   (firstMark == 0xFEFF || firstMark == 0xFFFE)) {
          marked = QByteArray(1, static_cast<char>(firstMark >> 8)) +
                   static_cast<char>(firstMark & 0xFF) + piece.toByteArray();
          piece = marked;
        }
      } else if (*encoding == eUtf16 && start != 0) {
        return false;  // a lone byte after the first string
      }
      TChars s;
      if (!Decode(piece, *encoding, &s)) return false;
      take(std::move(s));
    }
    start = end + alignment;
  }
  return true;
}

// The strings of a text frame and its encoding; false when declined.
bool TextFields(QByteArrayView data, int* encoding, QList<TChars>* fields) {
  fields->clear();
  return ForEachTextField(data, encoding, [&](TChars&& s) { fields->push_back(std::move(s)); });
}

// A frame's strings joined by "/", as shown.
bool JoinedText(QByteArrayView data, QString* text) {
  int encoding = eLatin1;
  TChars joined;
  bool first = true;
  const bool ok = ForEachTextField(data, &encoding, [&](TChars&& s) {
    if (first)
      joined = std::move(s);
    else
      joined.append(u'/').append(s);
    first = false;
  });
  if (!ok) return false;
  *text = Shown(joined, encoding);
  return true;
}

// A comment's description and text; false when declined.
bool CommentParts(QByteArrayView data, TChars* description, TChars* text, int* encoding) {
  description->clear();
  text->clear();
  *encoding = eLatin1;
  if (data.size() < 5) return true;
  *encoding = Byte(data, 0);
  if (*encoding > eUtf8) return false;
  const QByteArrayView rest = data.sliced(4);
  const int alignment = Alignment(*encoding);
  const qsizetype end = FindTerminator(rest, 0, alignment);
  if (end < 0 || end + alignment >= rest.size()) return true;  // no text: neither counts
  return Decode(rest.first(end), *encoding, description) &&
         Decode(rest.sliced(end + alignment), *encoding, text);
}

// A user URL's description and address; false when declined. A frame too short to
// hold both, or without the description's end, keeps as its address what TagLib's
// plain URL frame reads first: all its bytes as Latin-1 text, encoding byte included.
bool UrlParts(QByteArrayView data, TChars* description, TChars* url) {
  description->clear();
  url->clear();
  if (data.size() < 2) return Decode(data, eLatin1, url);
  const int encoding = Byte(data, 0);
  if (encoding > eUtf8) return false;
  const int alignment = Alignment(encoding);
  const qsizetype end =
      alignment == 1 ? FindTerminator(data, 1, 1) : FindTerminator(data.sliced(1), 0, 2);
  if (end < 0) return Decode(data, eLatin1, url);
  const qsizetype descriptionStart = 1;
  const qsizetype descriptionEnd = alignment == 1 ? end : 1 + end;
  if (!Decode(data.sliced(descriptionStart, descriptionEnd - descriptionStart), encoding,
              description))
    return false;
  const qsizetype urlStart = descriptionEnd + alignment;
  if (urlStart < data.size()) Decode(data.sliced(urlStart), eLatin1, url);
  return true;
}

// "(17)", "(17)Rock" and "(17)Text" as TagLib splits them when it reads a genre frame:
// the number unless the text after it names it, then the text; other strings as they
// are, empty ones dropped. False for a reference that is not a plain number ("(RX)",
// "( 17)") or is followed by another ("(17)(4)"), which TagLib reads in ways of its own.
bool SplitGenres(QList<TChars>* fields) {
  QList<TChars> split;
  for (const TChars& s : *fields) {
    if (s.isEmpty()) continue;
    const qsizetype close = s.indexOf(u')');
    if (s[0] != u'(' || close < 0) {
      split.push_back(s);
      continue;
    }
    const TChars number = s.mid(1, close - 1);
    const TChars text = s.mid(close + 1);
    const bool digits =
        std::all_of(number.begin(), number.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (number.isEmpty() || number.size() > 3 || !digits || text.startsWith(u'(')) return false;
    const int n = number.toInt();
    if (n <= 255 && QString::fromStdWString(TagLib::ID3v1::genre(n).toWString()) != text)
      split.push_back(number);
    if (!text.isEmpty()) split.push_back(text);
  }
  fields->swap(split);
  return true;
}

// A frame identifier as one number, compared without a call per identifier.
constexpr uint32_t IdValue(const char* id) {
  return (uint32_t(uint8_t(id[0])) << 24) | (uint32_t(uint8_t(id[1])) << 16) |
         (uint32_t(uint8_t(id[2])) << 8) | uint32_t(uint8_t(id[3]));
}

constexpr std::array<uint32_t, tfTextFrameCount> kTextFrameIdValues = [] {
  std::array<uint32_t, tfTextFrameCount> ids{};
  for (int f = 0; f < tfTextFrameCount; ++f) ids[f] = IdValue(kTextFrameIds[f]);
  return ids;
}();

// The identifier TagLib gives a frame when it reads a tag of this version.
uint32_t AsRead(uint32_t id, int major) {
  if (major == 3 && id == IdValue("TYER")) return IdValue("TDRC");
  if (major == 4 && id == IdValue("TRDC")) return IdValue("TDRC");
  return id;
}

bool TagLibFrameId(QByteArrayView body, qsizetype pos) {
  if (pos < 0 || pos + 4 > body.size()) return false;
  for (qsizetype i = pos; i < pos + 4; ++i) {
    const char c = body[i];
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

uint32_t BigEndian(QByteArrayView b) {
  return (uint32_t(Byte(b, 0)) << 24) | (uint32_t(Byte(b, 1)) << 16) | (uint32_t(Byte(b, 2)) << 8) |
         Byte(b, 3);
}

}  // namespace

bool ReadFrameTexts(const QByteArray& tag, const TFrameWalk& walk, TFrameTexts* texts) {
  *texts = TFrameTexts{};
  TTagHeader header;
  if (!ParseHeader(tag, &header) || (header.major != 3 && header.major != 4) ||
      (header.flags & 0xD0) != 0 || tag.size() != header.completeSize || !walk.regular)
    return false;
  const QByteArrayView body = QByteArrayView(tag).sliced(kHeaderSize);
  bool haveText[tfTextFrameCount] = {};
  bool haveComment = false, haveUrl = false, urlDescribed = false;
  for (const TFrameSpan& span : walk.spans) {
    const QByteArrayView frame = body.sliced(span.pos, kHeaderSize + span.size);
    const uint32_t id = AsRead(IdValue(frame.data()), header.major);
    const QByteArrayView data = frame.sliced(kHeaderSize);
    if (frame[8] != 0 || frame[9] != 0) return false;  // flags: compression, grouping...
    if (header.major == 3 && (id == IdValue("TDAT") || id == IdValue("TIME")))
      return false;  // folded into TDRC
    // TagLib reads a v2.4 size as a plain integer when only that lands on a frame.
    if (header.major == 4 && span.size > 127 &&
        !TagLibFrameId(body, span.pos + kHeaderSize + span.size) &&
        TagLibFrameId(body, span.pos + kHeaderSize + BigEndian(frame.sliced(4, 4))))
      return false;
    texts->hasFrames = true;
    if (id == IdValue("TCON")) {
      int encoding = eLatin1;
      QList<TChars> fields;
      if (!TextFields(data, &encoding, &fields) || !SplitGenres(&fields)) return false;
      for (const TChars& field : fields) texts->genres << Shown(field, encoding);
    } else if (id == IdValue("COMM")) {
      if (haveComment) continue;
      TChars description, text;
      int encoding = eLatin1;
      if (!CommentParts(data, &description, &text, &encoding)) return false;
      if (!description.isEmpty()) continue;
      haveComment = true;
      texts->comment = Shown(text, encoding);
    } else if (id == IdValue("WXXX")) {
      if (haveUrl && !urlDescribed) continue;
      TChars description, url;
      if (!UrlParts(data, &description, &url)) return false;
      if (haveUrl && description.isEmpty()) {
        urlDescribed = false;
        texts->url = Shown(url, eLatin1);
      } else if (!haveUrl) {
        haveUrl = true;
        urlDescribed = !description.isEmpty();
        texts->url = Shown(url, eLatin1);
      }
    } else {
      for (int f = 0; f < tfTextFrameCount; ++f) {
        if (haveText[f] || id != kTextFrameIdValues[f]) continue;
        if (!JoinedText(data, &texts->text[f])) return false;
        haveText[f] = true;
      }
    }
  }
  return true;
}

}  // namespace id3
