// The order of an ASF file's pictures (its WM/Picture values). The first one is the
// cover that players show, so a save must give them back in the order they were read.
// The header holds them in two objects: the first small value in the extended content
// description, every other one in the metadata library, and readers list the former
// first. The tag library's writer puts the first value that fits (64 KB at most) in
// the extended content description, even when a larger picture comes before it.
#pragma once

#include <taglib/asftag.h>
#include <taglib/tbytevector.h>

namespace TagLib::ASF {
class File;
}  // namespace TagLib::ASF

namespace id3 {

// The file's pictures in the order readers list them.
TagLib::ASF::AttributeList AsfPictures(TagLib::ASF::File* file);

// Puts the tag's pictures in the order readers list them, before anything changes them.
void PutAsfPicturesInReadOrder(TagLib::ASF::File* file);

// Mends a header the tag library has just written from tag (bytes: the whole file) so
// that its pictures read back in the tag's order: a picture written into the extended
// content description behind larger ones moves into the metadata library after them.
// False when the header is not as the tag library writes it (nothing changed then).
bool KeepAsfPictureOrder(const TagLib::ASF::Tag* tag, TagLib::ByteVector* bytes);

}  // namespace id3
