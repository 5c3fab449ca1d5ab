// Single-byte code pages through two lookup tables built once from Qt's converters:
// 256 characters for decoding and a 64K reverse table for encoding. The tables are
// immutable after their thread-safe construction, so worker threads convert without
// locks, every character always takes exactly one byte, and characters the code page
// lacks become '?'.
#include "CodePage.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QHash>
#include <QMutex>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

class SingleByteCodePage {
 public:
  explicit SingleByteCodePage(const char* envName, const char* fallback)
      : SingleByteCodePage(ChooseName(envName, fallback), 0) {}

  SingleByteCodePage(const QByteArray& name, int number) : m_Number(number) {
    m_ToByte = std::make_unique<std::array<char, 65536>>();
    m_ToByte->fill('?');
    for (int b = 255; b >= 0; --b) {
      QStringDecoder decoder(name.constData(), QStringConverter::Flag::Stateless);
      QString decoded = decoder(QByteArray(1, static_cast<char>(b)));
      // A byte the code page leaves undefined stands for the control character of the
      // same number (as the Windows conversion does), so it survives a round trip.
      char16_t c = static_cast<char16_t>(b);
      if (!decoder.hasError() && decoded.size() == 1 && decoded[0] != QChar::ReplacementCharacter)
        c = decoded[0].unicode();
      m_ToChar[b] = QChar(c);
      (*m_ToByte)[c] = static_cast<char>(b);
    }
  }

  QByteArray Encode(const QString& text) const {
    QByteArray out;
    out.reserve(text.size());
    const QChar* p = text.constData();
    const QChar* end = p + text.size();
    for (; p < end; ++p) {
      if (p->isHighSurrogate() && p + 1 < end && p[1].isLowSurrogate()) {
        out.append('?');  // one character outside the BMP: one byte
        ++p;
        continue;
      }
      out.append((*m_ToByte)[p->unicode()]);
    }
    return out;
  }

  QString Decode(const char* data, qsizetype size) const {
    QString out(size, Qt::Uninitialized);
    QChar* d = out.data();
    for (qsizetype i = 0; i < size; ++i) *d++ = m_ToChar[static_cast<unsigned char>(data[i])];
    return out;
  }

  bool Fits(const QString& text) const {
    for (QChar c : text) {
      if (c.isSurrogate()) return false;
      unsigned char b = static_cast<unsigned char>((*m_ToByte)[c.unicode()]);
      if (m_ToChar[b] != c) return false;
    }
    return true;
  }

  int Number() const { return m_Number; }

 private:
  static QByteArray ChooseName(const char* envName, const char* fallback) {
    QByteArray name = qgetenv(envName);
    if (name.isEmpty() || !QStringDecoder(name.constData()).isValid()) {
      if (!name.isEmpty())
        std::fprintf(stderr, "%s: unknown code page \"%s\", using %s\n", envName, name.constData(),
                     fallback);
      name = fallback;
    }
    return name;
  }

  int m_Number = 0;
  std::array<QChar, 256> m_ToChar;
  std::unique_ptr<std::array<char, 65536>> m_ToByte;
};

// The tag code page can change once settings are read; pages once built are kept for
// the life of the process, so a worker holding a reference never sees it freed.
std::atomic<const SingleByteCodePage*> g_TagPage{nullptr};

const SingleByteCodePage& TagCodePage() {
  const SingleByteCodePage* page = g_TagPage.load(std::memory_order_acquire);
  if (page) return *page;
  static const SingleByteCodePage initial("LBTOOLS_TAG_CODEPAGE", "windows-1251");
  const SingleByteCodePage* expected = nullptr;
  g_TagPage.compare_exchange_strong(expected, &initial, std::memory_order_acq_rel);
  return *g_TagPage.load(std::memory_order_acquire);
}

const SingleByteCodePage& OemCodePage() {
  static const SingleByteCodePage page("LBTOOLS_OEM_CODEPAGE", "IBM866");
  return page;
}

}  // namespace

namespace lb {

bool IsValidUtf8(const char* data, qsizetype size) {
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  const auto* end = p + size;
  while (p < end) {
    if (*p < 0x80) {
      // Runs of ASCII, the bulk of names and texts, eight bytes at a time.
      ++p;
      while (end - p >= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        if (word & 0x8080808080808080ull) break;
        p += 8;
      }
      continue;
    }
    // The byte ranges of well-formed sequences: no over-long form, no surrogate, nothing
    // past U+10FFFF, no sequence cut short at the end.
    const unsigned char c = *p;
    if (c >= 0xC2 && c <= 0xDF) {
      if (end - p < 2 || (p[1] & 0xC0) != 0x80) return false;
      p += 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      if (end - p < 3) return false;
      const unsigned char low = c == 0xE0 ? 0xA0 : 0x80, high = c == 0xED ? 0x9F : 0xBF;
      if (p[1] < low || p[1] > high || (p[2] & 0xC0) != 0x80) return false;
      p += 3;
    } else if (c >= 0xF0 && c <= 0xF4) {
      if (end - p < 4) return false;
      const unsigned char low = c == 0xF0 ? 0x90 : 0x80, high = c == 0xF4 ? 0x8F : 0xBF;
      if (p[1] < low || p[1] > high || (p[2] & 0xC0) != 0x80 || (p[3] & 0xC0) != 0x80) return false;
      p += 4;
    } else {
      return false;  // a continuation byte first, or a lead byte no text uses
    }
  }
  return true;
}

QByteArray ToTagCodePage(const QString& text) {
  return TagCodePage().Encode(text);
}
QString FromTagCodePage(const QByteArray& bytes) {
  return TagCodePage().Decode(bytes.constData(), bytes.size());
}

namespace {
QByteArray CodePageName(int codePage) {
  return codePage == 866 ? QByteArray("IBM866") : "windows-" + QByteArray::number(codePage);
}
}  // namespace

// Only the single-byte pages: one byte is one character in ID3v1 fields and lists.
bool TagCodePageExists(int codePage) {
  const bool singleByte =
      codePage == 866 || codePage == 874 || (codePage >= 1250 && codePage <= 1258);
  return singleByte && QStringDecoder(CodePageName(codePage).constData()).isValid();
}

bool SetTagCodePage(int codePage) {
  if (!qEnvironmentVariableIsEmpty("LBTOOLS_TAG_CODEPAGE")) return true;
  static QMutex lock;
  static QHash<int, const SingleByteCodePage*> built;
  QMutexLocker guard(&lock);
  const SingleByteCodePage* page = built.value(codePage);
  if (!page) {
    const QByteArray name = CodePageName(codePage);
    if (!TagCodePageExists(codePage)) return false;
    page = new SingleByteCodePage(name, codePage);  // kept for the life of the process
    built.insert(codePage, page);
  }
  TagCodePage();  // the initial page is in place before it is replaced
  g_TagPage.store(page, std::memory_order_release);
  return true;
}

int CurrentTagCodePage() {
  int number = TagCodePage().Number();
  return number ? number : 1251;
}

bool FitsTagCodePage(const QString& text) {
  return TagCodePage().Fits(text);
}

QString DecodeUtf8OrTagCodePage(const char* data, qsizetype size, bool* legacy) {
  bool utf8 = IsValidUtf8(data, size);
  if (legacy) *legacy = !utf8;
  return utf8 ? QString::fromUtf8(data, size) : TagCodePage().Decode(data, size);
}
QByteArray ToOemCodePage(const QString& text) {
  return OemCodePage().Encode(text);
}
QString FromOemCodePage(const QByteArray& bytes) {
  return OemCodePage().Decode(bytes.constData(), bytes.size());
}

}  // namespace lb
