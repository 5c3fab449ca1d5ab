#include "MusicFormats.h"

#include <QHash>

namespace lb {

TMusicFormat MusicFormatOf(const QString& path) {
  static const QHash<QString, TMusicFormat> byExtension = {
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
  return byExtension.value(path.mid(dot + 1).toLower(), TMusicFormat::None);
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
