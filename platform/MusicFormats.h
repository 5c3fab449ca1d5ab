// The music formats whose tags the program reads and writes, told by a file's
// extension (any case). The tag component looks at the content of Ogg files besides.
#pragma once

#include <QString>

namespace lb {

enum class TMusicFormat {
  None,  // not a music file whose tags the program knows
  Mpeg,
  Flac,
  Ogg,  // Vorbis, Opus, FLAC or Speex in an Ogg container
  Opus,
  Speex,
  Mp4,
  Asf,
  Ape,
  WavPack,
  Musepack,
  TrueAudio,
  Aiff,
  Wav,
};

TMusicFormat MusicFormatOf(const QString& path);

// Whether the format may carry an ID3v1 tag at its end (MP3, APE, WavPack, Musepack,
// TrueAudio): only these files have a first tag record.
bool FormatCarriesId3v1(TMusicFormat format);

}  // namespace lb
