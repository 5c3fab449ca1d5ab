// Little-endian byte streams for the data file and the clipboard payload: integers
// and length-prefixed texts (a signed 32-bit byte count, then the bytes). Texts are
// written in UTF-8; a text read back that is not valid UTF-8 was written by the
// program's Windows versions and is decoded in the legacy code page.
#pragma once

#include "platform/CodePage.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sys/mman.h>

// Decodes UTF-8 without keeping spare room: decoding reserves a unit a byte, and
// Cyrillic needs half of that. Long lists keep hundreds of thousands of such texts.
inline QString CompactFromUtf8(const char* data, qsizetype size) {
  if (size == 0) return QString();
  QString text = QString::fromUtf8(data, size);
  if (text.capacity() > text.size() + 8) text.squeeze();
  return text;
}

// The same for text that may be UTF-8 or legacy (lb::DecodeUtf8OrTagCodePage).
inline QString CompactDecode(const char* data, qsizetype size, bool* legacy = nullptr) {
  if (legacy) *legacy = false;
  if (size == 0) return QString();
  QString text = lb::DecodeUtf8OrTagCodePage(data, size, legacy);
  if (text.capacity() > text.size() + 8) text.squeeze();
  return text;
}

class TSlStreamReader {
 public:
  TSlStreamReader(const char* data, qsizetype size) : m_Data(data), m_Size(size) {}
  explicit TSlStreamReader(const QByteArray& bytes)
      : TSlStreamReader(bytes.constData(), bytes.size()) {}

  // Marks the data as a mapped file, whose pages ReleaseConsumed may give back.
  void SetMapped(bool mapped) { m_bMapped = mapped; }
  // Drops the pages already read from the process's memory (the file stays in the
  // system's cache): a long list's data file then never sits in memory whole.
  void ReleaseConsumed() {
    if (!m_bMapped) return;
    const uintptr_t page = 4096;
    const uintptr_t from =
        (reinterpret_cast<uintptr_t>(m_Data) + m_Released + page - 1) & ~(page - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(m_Data) + m_Pos) & ~(page - 1);
    if (to <= from || to - from < (1u << 22)) return;
    ::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
    m_Released = static_cast<qsizetype>(to - reinterpret_cast<uintptr_t>(m_Data));
  }

  qsizetype Position() const { return m_Pos; }
  // Reads on from an earlier position (released pages of a mapped file come back from it).
  void Seek(qsizetype pos) { m_Pos = std::clamp<qsizetype>(pos, 0, m_Size); }
  qsizetype Remaining() const { return m_Size - m_Pos; }
  bool AtEnd() const { return m_Pos >= m_Size; }

  bool ReadBytes(void* out, qsizetype count) {
    if (count < 0 || Remaining() < count) return false;
    std::memcpy(out, m_Data + m_Pos, static_cast<size_t>(count));
    m_Pos += count;
    return true;
  }
  bool ReadByte(uint8_t* value) { return ReadBytes(value, 1); }
  bool ReadInt32(int32_t* value) {
    uint8_t b[4];
    if (!ReadBytes(b, 4)) return false;
    *value = static_cast<int32_t>(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 |
                                  uint32_t(b[3]) << 24);
    return true;
  }
  // A negative count or one past the end fails.
  bool ReadString(QString* text) {
    int32_t count = 0;
    if (!ReadInt32(&count) || count < 0 || Remaining() < count) return false;
    *text = CompactDecode(m_Data + m_Pos, count);
    m_Pos += count;
    return true;
  }
  // For texts that repeat from record to record (artist, album, year...): equal texts
  // read through one reader share one copy.
  bool ReadSharedString(QString* text) {
    if (!ReadString(text)) return false;
    if (text->isEmpty()) return true;
    auto it = m_Pool.constFind(*text);
    if (it != m_Pool.constEnd())
      *text = *it;
    else
      m_Pool.insert(*text);
    return true;
  }

 private:
  const char* m_Data;
  qsizetype m_Size;
  qsizetype m_Pos = 0;
  qsizetype m_Released = 0;
  bool m_bMapped = false;
  QSet<QString> m_Pool;
};

class TSlStreamWriter {
 public:
  QByteArray& Bytes() { return m_Bytes; }
  void WriteBytes(const void* data, qsizetype count) {
    m_Bytes.append(static_cast<const char*>(data), count);
  }
  void WriteByte(uint8_t value) { m_Bytes.append(static_cast<char>(value)); }
  void WriteInt32(int32_t value) {
    const qsizetype at = m_Bytes.size();
    m_Bytes.resize(at + 4);
    PutInt32(m_Bytes.data() + at, value);
  }
  // The text as UTF-8 after its length in bytes, encoded straight into the stream (a
  // data file holds a dozen texts for each of thousands of songs). As QString::toUtf8:
  // a lone surrogate becomes '?'.
  void WriteString(const QString& text) {
    const qsizetype at = m_Bytes.size();
    m_Bytes.resize(at + 4 + 3 * text.size());  // at most three bytes for each unit
    char* const start = m_Bytes.data() + at + 4;
    char* out = start;
    const QChar* in = text.constData();
    const QChar* const end = in + text.size();
    for (; in < end; ++in) {
      const char16_t c = in->unicode();
      if (c < 0x80) {
        *out++ = static_cast<char>(c);
      } else if (c < 0x800) {
        *out++ = static_cast<char>(0xC0 | (c >> 6));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
      } else if (QChar::isHighSurrogate(c) && in + 1 < end && in[1].isLowSurrogate()) {
        const char32_t u = QChar::surrogateToUcs4(c, in[1].unicode());
        *out++ = static_cast<char>(0xF0 | (u >> 18));
        *out++ = static_cast<char>(0x80 | ((u >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (u & 0x3F));
        ++in;
      } else if (QChar::isSurrogate(c)) {
        *out++ = '?';
      } else {
        *out++ = static_cast<char>(0xE0 | (c >> 12));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    PutInt32(m_Bytes.data() + at, static_cast<int32_t>(out - start));
    m_Bytes.resize(at + 4 + (out - start));
  }

 private:
  static void PutInt32(char* to, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    to[0] = char(v & 0xFF), to[1] = char(v >> 8 & 0xFF), to[2] = char(v >> 16 & 0xFF),
    to[3] = char(v >> 24 & 0xFF);
  }

  QByteArray m_Bytes;
};
