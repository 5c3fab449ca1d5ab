// The kinds of picture a music file's cover may hold, told from the picture's own
// bytes (never from a file name): JPEG, PNG, GIF and WebP.
#pragma once

#include <QByteArrayView>
#include <QString>
#include <cstdint>

namespace lb {

// The largest picture the program puts into a music file: 16 MB less a kilobyte, so
// that a FLAC picture block (at most 2^24 - 1 bytes with its type, MIME type and sizes)
// holds it.
inline constexpr int64_t kMaxCoverBytes = (16 << 20) - 1024;

// "image/jpeg", "image/png", "image/gif" or "image/webp"; empty when the bytes are
// none of these.
QString ImageMimeOf(QByteArrayView bytes);

// The short name of such a type ("JPEG", "PNG", "GIF", "WebP"); empty for others.
QString ImageKindName(const QString& mime);

// The file-name extension for such a type (".jpg", ".png", ".gif", ".webp").
QString ImageExtension(const QString& mime);

}  // namespace lb
