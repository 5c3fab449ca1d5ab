#include "MusicFormats.h"

#include <QString>

#include <cstring>

namespace lb {

TMusicFormat MusicFormatOf(const QString& path) {
  static const struct {
    const char* extension;  // lower case, at most four characters
    TMusicFormat format;
  } kExtensions[] = {
      {"mp3", TMusicFormat::Mpeg},     {"flac", TMusicFormat::Flac},
      {"ogg", TMusicFormat::Ogg},      {"oga", TMusicFormat::Ogg},
      {"opus", TMusicFormat::Opus},    {"spx", TMusicFormat::Speex},
      {"m4a", TMusicFormat::Mp4},      {"mp4", TMusicFormat::Mp4},
      {"m4b", TMusicFormat::Mp4},      {"wma", TMusicFormat::Asf},
      {"asf", TMusicFormat::Asf},      {"ape", TMusicFormat::Ape},
      {"wv", TMusicFormat::WavPack},   {"mpc", TMusicFormat::Musepack},
      {"mp+", TMusicFormat::Musepack}, {"tta", TMusicFormat::TrueAudio},
      {"aiff", TMusicFormat::Aiff},    {"aif", TMusicFormat::Aiff},
      {"aifc", TMusicFormat::Aiff},    {"wav", TMusicFormat::Wav},
  };
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
  if (dot <= slash + 1) return TMusicFormat::None;  // no extension, or a hidden file's name
  // An ASCII extension (nearly every one) is lowered without building a string: a
  // synchronisation asks this several times for every song.
  const QStringView extension = QStringView(path).sliced(dot + 1);
  if (extension.size() > 4) return TMusicFormat::None;
  char lower[5] = {};
  bool ascii = true;
  for (qsizetype i = 0; i < extension.size(); ++i) {
    const char16_t c = extension[i].unicode();
    ascii = ascii && c > 0 && c < 0x80;
    lower[i] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  }
  const QString other = ascii ? QString() : extension.toString().toLower();
  for (const auto& e : kExtensions)
    if (ascii ? std::strcmp(lower, e.extension) == 0 : other == QLatin1String(e.extension))
      return e.format;
  return TMusicFormat::None;
}

bool FormatCarriesId3v1(TMusicFormat format) {
  switch (format) {
    case TMusicFormat::Mpeg:
    case TMusicFormat::Ape:
    case TMusicFormat::WavPack:
    case TMusicFormat::Musepack:
    case TMusicFormat::TrueAudio:
      return true;
    default:
      return false;
  }
}

QString TagKindOf(TMusicFormat format) {
  switch (format) {
    case TMusicFormat::None:
      return QString();
    case TMusicFormat::Flac:
    case TMusicFormat::Ogg:
    case TMusicFormat::Opus:
    case TMusicFormat::Speex:
      return QStringLiteral("Vorbis comment");
    case TMusicFormat::Mp4:
      return QStringLiteral("MP4");
    case TMusicFormat::Asf:
      return QStringLiteral("ASF");
    case TMusicFormat::Ape:
    case TMusicFormat::WavPack:
    case TMusicFormat::Musepack:
      return QStringLiteral("APE");
    default:
      return QStringLiteral("ID3v2");
  }
}

}  // namespace lb
