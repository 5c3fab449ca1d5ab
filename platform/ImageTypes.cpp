#include "ImageTypes.h"

namespace lb {

QString ImageMimeOf(QByteArrayView b) {
  if (b.size() >= 3 && b.startsWith("\xFF\xD8\xFF")) return QStringLiteral("image/jpeg");
  if (b.startsWith("\x89PNG\r\n\x1A\n")) return QStringLiteral("image/png");
  if (b.startsWith("GIF87a") || b.startsWith("GIF89a")) return QStringLiteral("image/gif");
  if (b.size() >= 16 && b.startsWith("RIFF") && b.sliced(8, 4) == QByteArrayView("WEBP"))
    return QStringLiteral("image/webp");
  return QString();
}

QString ImageKindName(const QString& mime) {
  if (mime == QLatin1String("image/jpeg")) return QStringLiteral("JPEG");
  if (mime == QLatin1String("image/png")) return QStringLiteral("PNG");
  if (mime == QLatin1String("image/gif")) return QStringLiteral("GIF");
  if (mime == QLatin1String("image/webp")) return QStringLiteral("WebP");
  return QString();
}

QString ImageExtension(const QString& mime) {
  if (mime == QLatin1String("image/jpeg")) return QStringLiteral(".jpg");
  if (mime == QLatin1String("image/png")) return QStringLiteral(".png");
  if (mime == QLatin1String("image/gif")) return QStringLiteral(".gif");
  if (mime == QLatin1String("image/webp")) return QStringLiteral(".webp");
  return QString();
}

}  // namespace lb
