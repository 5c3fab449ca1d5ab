// Conversions between program text and the legacy 8-bit code pages found in files:
// the tag code page (Windows-1251 by default, $LBTOOLS_TAG_CODEPAGE overrides) used by
// ID3v1 tags, and the OEM code page (IBM866 by default, $LBTOOLS_OEM_CODEPAGE) used by
// disc catalogs. Characters the code page lacks become '?'.
#pragma once

#include <QByteArray>
#include <QString>

namespace lb {

QByteArray ToTagCodePage(const QString& text);
QString FromTagCodePage(const QByteArray& bytes);

QByteArray ToOemCodePage(const QString& text);
QString FromOemCodePage(const QByteArray& bytes);

// Number of bytes the text takes in the tag code page (one a character).
inline int TagCodePageLength(const QString& text) { return ToTagCodePage(text).size(); }

}  // namespace lb
