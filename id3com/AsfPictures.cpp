#include "AsfPictures.h"

#include <taglib/asffile.h>
#include <taglib/asftag.h>

namespace id3 {

namespace {

const char* const kPicture = "WM/Picture";

const TagLib::ByteVector kExtended(
    "\x40\xA4\xD0\xD2\x07\xE3\xD2\x11\x97\xF0\x00\xA0\xC9\x5E\xA8\x50", 16);
const TagLib::ByteVector kHeaderExtension(
    "\xB5\x03\xBF\x5F\x2E\xA9\xCF\x11\x8E\xE3\x00\xC0\x0C\x20\x53\x65", 16);
const TagLib::ByteVector kLibrary(
    "\x94\x1C\x23\x44\x98\x94\xD1\x49\xA1\x41\x1D\x13\x4E\x45\x70\x54", 16);

// The sizes of the fixed parts: the header object, an object's head (its GUID and
// size), the header extension's head.
constexpr unsigned kHeaderHead = 30;
constexpr unsigned kObjectHead = 24;
constexpr unsigned kExtensionHead = 46;

// One object of the header: where it starts and its size.
struct TObject {
  unsigned at = 0;
  unsigned size = 0;
};

// The object with the GUID among those from `from` to `end`; false when there is none
// or the objects' sizes do not add up.
bool FindObject(const TagLib::ByteVector& bytes, unsigned from, unsigned end,
                const TagLib::ByteVector& guid, TObject* found) {
  for (unsigned at = from; at + kObjectHead <= end;) {
    const unsigned long long size = bytes.toLongLong(at + 16, false);
    if (size < kObjectHead || size > end - at) return false;
    if (bytes.containsAt(guid, at)) {
      *found = {at, static_cast<unsigned>(size)};
      return true;
    }
    at += static_cast<unsigned>(size);
  }
  return false;
}

void PutNumber(TagLib::ByteVector* bytes, unsigned at, const TagLib::ByteVector& number) {
  for (unsigned i = 0; i < number.size(); ++i) (*bytes)[at + i] = number[i];
}

void AddToSize(TagLib::ByteVector* bytes, unsigned at, long long change) {
  PutNumber(bytes, at,
            TagLib::ByteVector::fromLongLong(bytes->toLongLong(at, false) + change, false));
}

void AddToCount(TagLib::ByteVector* bytes, unsigned at, int change) {
  PutNumber(bytes, at,
            TagLib::ByteVector::fromShort(static_cast<short>(bytes->toUShort(at, false) + change),
                                          false));
}

// A picture's name and value as the header holds them.
TagLib::ByteVector PictureName() {
  return TagLib::String(kPicture).data(TagLib::String::UTF16LE) + TagLib::ByteVector(2, '\0');
}

TagLib::ByteVector ValueOf(const TagLib::ASF::Attribute& a) {
  const TagLib::ASF::Picture p = a.toPicture();
  return p.isValid() ? p.render() : a.toByteVector();
}

// The value of the picture the header's extended content description holds, if any.
TagLib::ByteVector FirstAsfPicture(TagLib::File* file) {
  const TagLib::ByteVector pictureName = PictureName();
  file->seek(0);
  const TagLib::ByteVector start = file->readBlock(kHeaderHead);
  if (start.size() < kHeaderHead) return {};
  const unsigned long long headerSize = start.toLongLong(16, false);
  if (headerSize > static_cast<unsigned long long>(file->length())) return {};
  const unsigned count = start.toUInt(24, false);
  long long pos = kHeaderHead;
  for (unsigned n = 0;
       n < count && static_cast<unsigned long long>(pos) + kObjectHead <= headerSize; ++n) {
    file->seek(pos);
    const TagLib::ByteVector head = file->readBlock(kObjectHead);
    if (head.size() < kObjectHead) return {};
    const unsigned long long size = head.toLongLong(16, false);
    if (size < kObjectHead || size > headerSize) return {};
    if (head.containsAt(kExtended, 0)) {
      const TagLib::ByteVector body =
          file->readBlock(static_cast<unsigned long>(size - kObjectHead));
      unsigned at = 2;
      const unsigned descriptors = body.size() >= 2 ? body.toUShort(0, false) : 0;
      for (unsigned d = 0; d < descriptors && at + 2 <= body.size(); ++d) {
        const unsigned nameSize = body.toUShort(at, false);
        if (at + 2 + nameSize + 4 > body.size()) return {};
        const bool isPicture = body.mid(at + 2, nameSize) == pictureName;
        at += 2 + nameSize;
        const unsigned valueSize = body.toUShort(at + 2, false);
        at += 4;
        if (at + valueSize > body.size()) return {};
        if (isPicture) return body.mid(at, valueSize);
        at += valueSize;
      }
      return {};
    }
    pos += static_cast<long long>(size);
  }
  return {};
}

// Where the tag library's writer puts a value: the extended content description takes
// the first of each name that it can hold.
bool FitsExtendedDescription(const TagLib::ASF::Attribute& a) {
  return a.type() != TagLib::ASF::Attribute::GuidType && a.dataSize() <= 65535 &&
         a.language() == 0 && a.stream() == 0;
}

}  // namespace

TagLib::ASF::AttributeList AsfPictures(TagLib::ASF::File* file) {
  TagLib::ASF::AttributeList list = file->tag()->attribute(kPicture);
  if (list.size() < 2) return list;
  const TagLib::ByteVector first = FirstAsfPicture(file);
  for (auto i = list.begin(); i != list.end(); ++i)
    if (i->toPicture().render() == first) {
      const TagLib::ASF::Attribute a = *i;
      list.erase(i);
      list.prepend(a);
      break;
    }
  return list;
}

void PutAsfPicturesInReadOrder(TagLib::ASF::File* file) {
  const TagLib::ASF::AttributeList list = AsfPictures(file);
  if (list.size() >= 2) file->tag()->setAttribute(kPicture, list);
}

bool KeepAsfPictureOrder(const TagLib::ASF::Tag* tag, TagLib::ByteVector* bytes) {
  // behind: the larger pictures written into the metadata library before the one the
  // extended content description took.
  const TagLib::ASF::AttributeList list = tag->attribute(kPicture);
  unsigned behind = 0;
  while (behind < list.size() && !FitsExtendedDescription(list[behind])) ++behind;
  if (behind == 0 || behind == list.size()) return true;
  const TagLib::ASF::Attribute& moved = list[behind];

  if (bytes->size() < kHeaderHead) return false;
  const unsigned long long headerSize = bytes->toLongLong(16, false);
  if (headerSize > bytes->size()) return false;
  const unsigned end = static_cast<unsigned>(headerSize);
  TObject extended, extension, library;
  if (!FindObject(*bytes, kHeaderHead, end, kExtended, &extended) ||
      !FindObject(*bytes, kHeaderHead, end, kHeaderExtension, &extension) ||
      extension.size < kExtensionHead ||
      !FindObject(*bytes, extension.at + kExtensionHead, extension.at + extension.size, kLibrary,
                  &library))
    return false;

  // The picture's descriptor in the extended content description, and its record in the
  // metadata library (language and stream 0, as it fitted the former).
  const TagLib::ByteVector name = PictureName();
  const TagLib::ByteVector value = ValueOf(moved);
  const auto word = [](unsigned n) { return TagLib::ByteVector::fromShort(short(n), false); };
  const TagLib::ByteVector type = word(moved.type());
  const TagLib::ByteVector descriptor =
      word(name.size()) + name + type + word(value.size()) + value;
  const TagLib::ByteVector record = word(0) + word(0) + word(name.size()) + type +
                                    TagLib::ByteVector::fromUInt(value.size(), false) + name +
                                    value;
  const unsigned extendedEnd = extended.at + extended.size;
  unsigned removeAt = 0;
  for (unsigned at = extended.at + kObjectHead + 2, d = 0;
       d < bytes->toUShort(extended.at + kObjectHead, false); ++d) {
    if (at + 6 > extendedEnd) return false;
    const unsigned nameSize = bytes->toUShort(at, false);
    if (at + 6 + nameSize > extendedEnd) return false;
    const unsigned next = at + 6 + nameSize + bytes->toUShort(at + 4 + nameSize, false);
    if (next > extendedEnd) return false;
    if (next - at == descriptor.size() && bytes->containsAt(descriptor, at)) {
      removeAt = at;
      break;
    }
    at = next;
  }
  if (removeAt == 0) return false;

  // The record goes after the `behind` pictures the metadata library holds.
  const unsigned libraryEnd = library.at + library.size;
  unsigned insertAt = 0;
  unsigned seen = 0;
  for (unsigned at = library.at + kObjectHead + 2, r = 0;
       r < bytes->toUShort(library.at + kObjectHead, false) && seen < behind; ++r) {
    if (at + 12 > libraryEnd) return false;
    const unsigned nameSize = bytes->toUShort(at + 4, false);
    const unsigned long long next =
        static_cast<unsigned long long>(at) + 12 + nameSize + bytes->toUInt(at + 8, false);
    if (next > libraryEnd) return false;
    if (nameSize == name.size() && bytes->containsAt(name, at + 12)) ++seen;
    at = static_cast<unsigned>(next);
    insertAt = at;
  }
  if (seen < behind) return false;

  // Sizes and counts first (no offset moves yet), then the bytes themselves.
  const long long grows = static_cast<long long>(record.size()) - descriptor.size();
  AddToSize(bytes, 16, grows);
  AddToSize(bytes, extended.at + 16, -static_cast<long long>(descriptor.size()));
  AddToCount(bytes, extended.at + kObjectHead, -1);
  AddToSize(bytes, extension.at + 16, record.size());
  PutNumber(
      bytes, extension.at + 42,
      TagLib::ByteVector::fromUInt(bytes->toUInt(extension.at + 42, false) + record.size(), false));
  AddToSize(bytes, library.at + 16, record.size());
  AddToCount(bytes, library.at + kObjectHead, 1);
  const unsigned removeEnd = removeAt + descriptor.size();
  TagLib::ByteVector result;
  if (removeAt < insertAt) {
    result = bytes->mid(0, removeAt);
    result.append(bytes->mid(removeEnd, insertAt - removeEnd));
    result.append(record);
    result.append(bytes->mid(insertAt));
  } else {
    result = bytes->mid(0, insertAt);
    result.append(record);
    result.append(bytes->mid(insertAt, removeAt - insertAt));
    result.append(bytes->mid(removeEnd));
  }
  *bytes = result;
  return true;
}

}  // namespace id3
