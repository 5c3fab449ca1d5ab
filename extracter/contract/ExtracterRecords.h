// Reading and writing the fields of the two extracter records, shared by the servers
// and the program's side.
#pragma once

#include "ISLLBExtracter.h"
#include "platform/CodePage.h"

#include <QByteArray>
#include <QString>
#include <cstring>

namespace lb {

// Writes text into a fixed-width field in the tag code page: cut to the width, the rest
// of the field zeroed, so a text of the full width has no terminator.
inline void SetFixedText(char* field, int width, const QString& text) {
  std::memset(field, 0, static_cast<size_t>(width));
  QByteArray bytes = ToTagCodePage(text.left(width));
  std::memcpy(field, bytes.constData(), static_cast<size_t>(qMin<qsizetype>(bytes.size(), width)));
}

// Reads a fixed-width field: at most the width, up to the first NUL.
inline QString FixedText(const char* field, int width) {
  return FromTagCodePage(QByteArray(field, static_cast<qsizetype>(qstrnlen(field, width))));
}

// Replaces a record's BSTR: the new string is made first, then the old one freed.
inline void ReplaceBstr(BSTR& field, const QString& text) {
  BSTR fresh = BstrFromQString(text);
  SysFreeString(field);
  field = fresh;
}

// A record pair with empty texts, no genre (255) and no track.
inline void InitTagRecords(LBSongTagID3v1& v1, LBSongTagID3v2& v2) {
  std::memset(&v1, 0, sizeof v1);
  std::memset(&v2, 0, sizeof v2);
  v1.ucGenre = 255;
  v2.ulGenre = 255;
}

// Frees every BSTR of the record and leaves it null.
inline void FreeTagID3v2(LBSongTagID3v2& v2) {
  for (BSTR* field :
       {&v2.bstrTitle, &v2.bstrArtist, &v2.bstrAlbum, &v2.bstrComment, &v2.bstrComposer,
        &v2.bstrOrigArtist, &v2.bstrCopyright, &v2.bstrURL, &v2.bstrEncodedBy}) {
    SysFreeString(*field);
    *field = nullptr;
  }
}

// "major.minor" of an extracter version (bits 8-15 and 0-7): 0x100 is "1.0".
inline QString VersionText(UINT version) {
  return QStringLiteral("%1.%2").arg((version >> 8) & 0xFF).arg(version & 0xFF);
}

}  // namespace lb
