#include "FrameTexts.h"

#include "platform/CodePage.h"

#include <taglib/id3v1genres.h>

#include <algorithm>
#include <string>
#include <vector>

namespace id3 {

namespace {

// The text encodings a frame names in its first byte.
enum TEncoding { eLatin1 = 0, eUtf16 = 1, eUtf16BE = 2, eUtf8 = 3 };

// A string as TagLib holds it: one wide character per byte of Latin-1 text and per
// 16-bit unit of UTF-16 text.
using TChars = std::wstring;

unsigned char Byte(QByteArrayView bytes, qsizetype i) {
  return static_cast<unsigned char>(bytes[i]);
}

// UTF-8 as 16-bit units, as TagLib keeps it (a character beyond the first plane as two
// surrogates); false for bytes that are no UTF-8 (TagLib drops the whole string then).
bool FromUtf8(QByteArrayView bytes, TChars* out) {
  for (qsizetype i = 0; i < bytes.size();) {
    const unsigned char lead = Byte(bytes, i);
    const int length = lead < 0x80           ? 1
                       : (lead >> 5) == 0x06 ? 2
                       : (lead >> 4) == 0x0E ? 3
                       : (lead >> 3) == 0x1E ? 4
                                             : 0;
    if (length == 0 || i + length > bytes.size()) return false;
    char32_t c = lead & (0x7F >> (length == 1 ? 0 : length));
    for (int k = 1; k < length; ++k) {
      const unsigned char b = Byte(bytes, i + k);
      if ((b & 0xC0) != 0x80) return false;
      c = (c << 6) | (b & 0x3F);
    }
    const char32_t least = length == 1 ? 0 : length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (c < least || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return false;
    if (c >= 0x10000) {
      out->push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
      out->push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out->push_back(static_cast<wchar_t>(c));
    }
    i += length;
  }
  return true;
}

// The string TagLib makes of bytes in an encoding: UTF-16 needs its byte-order mark
// (without one the string is empty), an odd last byte is dropped, and the string ends
// at its first NUL. False when TagLib's reading is not followed here.
bool Decode(QByteArrayView bytes, int encoding, TChars* out) {
  out->clear();
  switch (encoding) {
    case eLatin1:
      for (qsizetype i = 0; i < bytes.size(); ++i) out->push_back(Byte(bytes, i));
      break;
    case eUtf8:
      if (!FromUtf8(bytes, out)) return false;
      break;
    case eUtf16:
    case eUtf16BE: {
      bool bigEndian = encoding == eUtf16BE;
      qsizetype from = 0;
      if (encoding == eUtf16) {
        if (bytes.size() < 2) break;
        const unsigned mark = Byte(bytes, 0) | (Byte(bytes, 1) << 8);
        if (mark != 0xFEFF && mark != 0xFFFE) break;
        bigEndian = mark == 0xFFFE;
        from = 2;
      }
      for (qsizetype i = from; i + 1 < bytes.size(); i += 2) {
        const unsigned a = Byte(bytes, i), b = Byte(bytes, i + 1);
        out->push_back(static_cast<wchar_t>(bigEndian ? (a << 8) | b : (b << 8) | a));
      }
      break;
    }
    default:
      return false;
  }
  const size_t end = out->find(L'\0');
  if (end != TChars::npos) out->resize(end);
  return true;
}

// A string as the component shows it: Latin-1 text holds bytes of the tag code page.
QString Shown(const TChars& s, int encoding) {
  if (encoding == eLatin1) {
    QByteArray bytes(static_cast<qsizetype>(s.size()), '\0');
    for (size_t i = 0; i < s.size(); ++i)
      bytes[static_cast<qsizetype>(i)] = static_cast<char>(s[i]);
    return lb::FromTagCodePage(bytes);
  }
  return QString::fromWCharArray(s.data(), static_cast<qsizetype>(s.size()));
}

int Alignment(int encoding) {
  return encoding == eLatin1 || encoding == eUtf8 ? 1 : 2;
}

// Where the string terminator (one zero byte, or two at an even place for UTF-16)
// first stands in bytes at or after `from`; -1 when nowhere.
qsizetype FindTerminator(QByteArrayView bytes, qsizetype from, int alignment) {
  for (qsizetype i = from; i + alignment <= bytes.size(); i += alignment)
    if (bytes[i] == 0 && (alignment == 1 || bytes[i + 1] == 0)) return i;
  return -1;
}

// The strings of a text frame and its encoding; false when declined.
bool TextFields(QByteArrayView data, int* encoding, std::vector<TChars>* fields) {
  fields->clear();
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
      fields->push_back(std::move(s));
    }
    start = end + alignment;
  }
  return true;
}

// A frame's strings joined by "/", as shown.
bool JoinedText(QByteArrayView data, QString* text) {
  int encoding = eLatin1;
  std::vector<TChars> fields;
  if (!TextFields(data, &encoding, &fields)) return false;
  TChars joined;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) joined += L'/';
    joined += fields[i];
  }
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
bool SplitGenres(std::vector<TChars>* fields) {
  std::vector<TChars> split;
  for (const TChars& s : *fields) {
    if (s.empty()) continue;
    const size_t close = s.find(L')');
    if (s[0] != L'(' || close == TChars::npos) {
      split.push_back(s);
      continue;
    }
    const TChars number = s.substr(1, close - 1);
    const TChars text = s.substr(close + 1);
    if (number.empty() || number.size() > 3 ||
        number.find_first_not_of(L"0123456789") != TChars::npos || text.starts_with(L'('))
      return false;
    const int n = std::stoi(number);
    if (n <= 255 && TChars(TagLib::ID3v1::genre(n).toCWString()) != text) split.push_back(number);
    if (!text.empty()) split.push_back(text);
  }
  fields->swap(split);
  return true;
}

// The identifier TagLib gives a frame when it reads a tag of this version.
QByteArrayView AsRead(QByteArrayView id, int major) {
  if (major == 3 && id == "TYER") return "TDRC";
  if (major == 4 && id == "TRDC") return "TDRC";
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
    const QByteArrayView id = AsRead(frame.first(4), header.major);
    const QByteArrayView data = frame.sliced(kHeaderSize);
    if (frame[8] != 0 || frame[9] != 0) return false;  // flags: compression, grouping...
    if (header.major == 3 && (id == "TDAT" || id == "TIME")) return false;  // folded into TDRC
    // TagLib reads a v2.4 size as a plain integer when only that lands on a frame.
    if (header.major == 4 && span.size > 127 &&
        !TagLibFrameId(body, span.pos + kHeaderSize + span.size) &&
        TagLibFrameId(body, span.pos + kHeaderSize + BigEndian(frame.sliced(4, 4))))
      return false;
    texts->hasFrames = true;
    if (id == "TCON") {
      int encoding = eLatin1;
      std::vector<TChars> fields;
      if (!TextFields(data, &encoding, &fields) || !SplitGenres(&fields)) return false;
      for (const TChars& field : fields) texts->genres << Shown(field, encoding);
    } else if (id == "COMM") {
      if (haveComment) continue;
      TChars description, text;
      int encoding = eLatin1;
      if (!CommentParts(data, &description, &text, &encoding)) return false;
      if (!description.empty()) continue;
      haveComment = true;
      texts->comment = Shown(text, encoding);
    } else if (id == "WXXX") {
      if (haveUrl && !urlDescribed) continue;
      TChars description, url;
      if (!UrlParts(data, &description, &url)) return false;
      if (haveUrl && description.empty()) {
        urlDescribed = false;
        texts->url = Shown(url, eLatin1);
      } else if (!haveUrl) {
        haveUrl = true;
        urlDescribed = !description.empty();
        texts->url = Shown(url, eLatin1);
      }
    } else {
      for (int f = 0; f < tfTextFrameCount; ++f) {
        if (haveText[f] || id != kTextFrameIds[f]) continue;
        if (!JoinedText(data, &texts->text[f])) return false;
        haveText[f] = true;
      }
    }
  }
  return true;
}

}  // namespace id3
