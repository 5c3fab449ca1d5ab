// Cover pictures in the tags of every format the component handles: which picture is
// a file's cover, reading it, and putting a new one in or taking it out while every
// other picture and field stays.
#pragma once

#include "com/Com.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace TagLib {
class File;
namespace ID3v2 {
class Tag;
}
}  // namespace TagLib

namespace id3 {

// How a file holds a picture besides its bytes: what putting it back as it was needs.
struct TPictureDetails {
  QString description;  // an APE item's file name
  int type = -1;        // the picture type; -1 where the format has none
  int encoding = 0;     // of an ID3v2 frame's description
  QString statedMime;   // the MIME type the file states
};

struct TCoverPicture {
  QByteArray data;       // empty: the file holds no picture
  QString mime;          // as told from the bytes; as the file states it for other bytes
  bool isCover = false;  // the picture is the cover (not a back cover shown for want of one)
  TPictureDetails details;
};

// What a save does with the cover.
struct TCoverChange {
  enum Kind { None, Set, Remove } kind = None;
  QByteArray data;  // the new picture (Set)
  // Set with these details (a cover put back as it was); without them the new picture
  // is a front cover that keeps the description of the one it replaces.
  std::optional<TPictureDetails> asWas = std::nullopt;
  // Set puts the picture back in front of every other one and takes none out: the
  // cover a removal took away comes back while the pictures left stay.
  bool putBack = false;
};

// The cover of an ID3v2 tag (front cover, else the first picture).
TCoverPicture CoverOf(const TagLib::ID3v2::Tag* tag);
// Puts the change into an ID3v2 tag.
void ApplyCover(TagLib::ID3v2::Tag* tag, const TCoverChange& change);

// A file of another format than MP3 (FLAC, Ogg, MP4, ASF, APE, WavPack, Musepack,
// TrueAudio, AIFF, WAV): its cover, S_FALSE when it has none.
HRESULT ReadFormatCover(const QString& path, TCoverPicture* cover);
// Puts the change into such a file as the tag library opened it, without saving it;
// S_FALSE when there was nothing to change (no change, or nothing to remove).
HRESULT PutCoverInto(TagLib::File* file, const TCoverChange& change);
// Writes the change into such a file through a copy of it, so that a failure leaves
// the file whole.
HRESULT WriteFormatCover(const QString& path, const TCoverChange& change);

}  // namespace id3
