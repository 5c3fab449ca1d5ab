// Conversions between program text and the legacy 8-bit code pages found in files:
// the tag code page (Windows-1251 by default; settings "Edit"/"TagCodePage" through
// SetTagCodePage, $LBTOOLS_TAG_CODEPAGE overrides both) used by ID3v1 tags, ID3v2 text
// marked ISO-8859-1 and lists, data files and settings written on Windows; and the OEM
// code page (IBM866 by default, $LBTOOLS_OEM_CODEPAGE) used by disc catalogs.
// Characters the code page lacks become '?'.
#pragma once

#include <QByteArray>
#include <QString>

namespace lb {

QByteArray ToTagCodePage(const QString& text);
QString FromTagCodePage(const QByteArray& bytes);

// Chooses the tag code page by its Windows number (1251, 1252, 866...); an unknown
// number keeps the current page and answers false. $LBTOOLS_TAG_CODEPAGE wins.
bool SetTagCodePage(int codePage);
int CurrentTagCodePage();
// Whether SetTagCodePage would take this number (the single-byte Windows pages and 866).
bool TagCodePageExists(int codePage);

// True when every character of the text has a byte in the tag code page.
bool FitsTagCodePage(const QString& text);

// Whether the bytes are well-formed UTF-8 (no over-long form, surrogate or cut
// sequence). Names, tags and lines of lists all pass through it: kept fast.
bool IsValidUtf8(const char* data, qsizetype size);

// The one decoder of text from files that may come from either world: valid UTF-8 is
// read as UTF-8, anything else in the tag code page. *legacy tells which was used.
QString DecodeUtf8OrTagCodePage(const char* data, qsizetype size, bool* legacy = nullptr);
inline QString DecodeUtf8OrTagCodePage(const QByteArray& bytes, bool* legacy = nullptr) {
  return DecodeUtf8OrTagCodePage(bytes.constData(), bytes.size(), legacy);
}

QByteArray ToOemCodePage(const QString& text);
QString FromOemCodePage(const QByteArray& bytes);

// Number of bytes the text takes in the tag code page (one a character).
inline int TagCodePageLength(const QString& text) {
  return ToTagCodePage(text).size();
}

}  // namespace lb
