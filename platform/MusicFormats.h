// The music formats whose tags the program reads and writes, told by a file's
// extension (any case). The tag component looks at the content of Ogg files besides.
#pragma once

#include <QString>

namespace lb {

// The working extensions of a new settings file: the music files of every format whose
// tags the program follows, as users' libraries hold them.
inline constexpr const char* kDefaultMusicExtensions =
    "mp3, flac, ogg, oga, opus, m4a, mp4, wma, ape, wv, mpc, aiff, aif, wav";

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

// The kind of the format's main tag, as the program names it: "Vorbis comment", "MP4",
// "ASF", "APE" or "ID3v2" (MP3, AIFF, WAV, TrueAudio); empty for None.
QString TagKindOf(TMusicFormat format);

}  // namespace lb
