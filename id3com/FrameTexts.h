// The texts of the frames the component shows, read straight from a tag's bytes for
// the tags nearly every file holds: ID3v2.3 and v2.4 without unsynchronisation,
// extended header or footer, whose frames are laid out regularly and carry no
// compression, encryption or other frame flags. A synchronisation pass reads
// thousands of such tags; building TagLib's frame objects for each costs several
// times the reading of their bytes. Every other tag is left to TagLib, and where the
// two could differ (text TagLib reads in a way of its own) the reader declines too, so
// both give the same texts, character for character.
#pragma once

#include "TagBytes.h"

#include <QString>
#include <QStringList>

namespace id3 {

// The text frames the component reads, by their identifier as TagLib names them when
// it reads a tag: a v2.3 year (TYER) is a recording time (TDRC) there.
enum TTextFrame {
  tfTitle,
  tfArtist,
  tfAlbum,
  tfComposer,
  tfOrigArtist,
  tfCopyright,
  tfEncodedBy,
  tfTrack,
  tfRecorded,
  tfYear,
  tfTextFrameCount
};
inline constexpr const char* kTextFrameIds[tfTextFrameCount] = {
    "TIT2", "TPE1", "TALB", "TCOM", "TOPE", "TCOP", "TENC", "TRCK", "TDRC", "TYER"};

struct TFrameTexts {
  bool hasFrames = false;          // the tag holds a frame
  QString text[tfTextFrameCount];  // of the first frame of each, its strings joined by "/"
  QString comment;                 // of the first comment without a description
  QString url;                     // the address of the main user URL, as stored
  QStringList genres;              // the strings of every genre frame, "(n)Text" split in two
  bool operator==(const TFrameTexts&) const = default;
};

// Reads the texts of a complete tag (header included) walked by WalkFrames; false
// when the tag is not of the common kind, and then `texts` is to be read through
// TagLib.
bool ReadFrameTexts(const QByteArray& tag, const TFrameWalk& walk, TFrameTexts* texts);

}  // namespace id3
