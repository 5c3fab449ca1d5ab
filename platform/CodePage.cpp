// Single-byte code pages through two lookup tables built once from Qt's converters:
// 256 characters for decoding and a 64K reverse table for encoding. The tables are
// immutable after their thread-safe construction, so worker threads convert without
// locks, every character always takes exactly one byte, and characters the code page
// lacks become '?'.
#include "CodePage.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <array>
#include <cstdio>
#include <memory>

namespace {

class SingleByteCodePage {
 public:
  explicit SingleByteCodePage(const char* envName, const char* fallback) {
    QByteArray name = qgetenv(envName);
    if (name.isEmpty() || !QStringDecoder(name.constData()).isValid()) {
      if (!name.isEmpty())
        std::fprintf(stderr, "%s: unknown code page \"%s\", using %s\n", envName, name.constData(),
                     fallback);
      name = fallback;
    }
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

  QString Decode(const QByteArray& bytes) const {
    QString out(bytes.size(), Qt::Uninitialized);
    QChar* d = out.data();
    for (char b : bytes) *d++ = m_ToChar[static_cast<unsigned char>(b)];
    return out;
  }

 private:
  std::array<QChar, 256> m_ToChar;
  std::unique_ptr<std::array<char, 65536>> m_ToByte;
};

const SingleByteCodePage& TagCodePage() {
  static const SingleByteCodePage page("LBTOOLS_TAG_CODEPAGE", "windows-1251");
  return page;
}

const SingleByteCodePage& OemCodePage() {
  static const SingleByteCodePage page("LBTOOLS_OEM_CODEPAGE", "IBM866");
  return page;
}

}  // namespace

namespace lb {

QByteArray ToTagCodePage(const QString& text) {
  return TagCodePage().Encode(text);
}
QString FromTagCodePage(const QByteArray& bytes) {
  return TagCodePage().Decode(bytes);
}
QByteArray ToOemCodePage(const QString& text) {
  return OemCodePage().Encode(text);
}
QString FromOemCodePage(const QByteArray& bytes) {
  return OemCodePage().Decode(bytes);
}

}  // namespace lb
