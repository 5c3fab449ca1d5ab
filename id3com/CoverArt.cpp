// The formats keep their pictures in lists of their own; each is seen here as a list of
// picture types (the ID3v2 numbering, which FLAC and ASF share: 0 other, 3 front cover)
// from which one rule picks the cover. MP4 covr atoms carry no type: each counts as
// "other", so the first is the cover. APE items are named for their type; only
// "Cover Art (Front)" is a cover there.
#include "CoverArt.h"

#include "AsfPictures.h"
#include "ID3Com.h"
#include "FormatTag.h"
#include "ID3ComCover.h"
#include "platform/ImageTypes.h"

#include <QFile>
#include <QList>

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpcfile.h>
#include <taglib/mpegfile.h>
#include <taglib/oggfile.h>
#include <taglib/trueaudiofile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <vector>

namespace id3 {

namespace {

constexpr int kOther = 0;
constexpr int kFront = 3;
const char* const kApeFront = "Cover Art (Front)";

QByteArray FromVector(const TagLib::ByteVector& v) {
  return QByteArray(v.data(), static_cast<qsizetype>(v.size()));
}
TagLib::ByteVector ToVector(const QByteArray& b) {
  return TagLib::ByteVector(b.constData(), static_cast<unsigned>(b.size()));
}
TagLib::String Latin1(const QString& s) {
  return TagLib::String(s.toStdString(), TagLib::String::Latin1);
}

// The picture shown as the cover: the first front cover, else the first picture.
int ShownIndex(const std::vector<int>& types) {
  for (size_t i = 0; i < types.size(); ++i)
    if (types[i] == kFront) return static_cast<int>(i);
  return types.empty() ? -1 : 0;
}

// The picture that is the cover, which a new one replaces and a removal takes away: the
// first front cover; without one, a first picture marked "other" (what many taggers
// write for the cover). Further front covers, a back cover or an artist's picture stay
// as the file has them (an undo could not give them back as they were).
std::vector<size_t> CoverIndices(const std::vector<int>& types) {
  for (size_t i = 0; i < types.size(); ++i)
    if (types[i] == kFront) return {i};
  if (!types.empty() && types[0] == kOther) return {0};
  return {};
}

// The pictures a change takes out: none when it puts back a cover taken away, where a
// first picture marked "other" is one that stayed.
std::vector<size_t> Replaced(const std::vector<int>& types, const TCoverChange& change) {
  return change.putBack ? std::vector<size_t>{} : CoverIndices(types);
}

// Whether the picture shown is one of the cover pictures.
bool IsCover(const std::vector<int>& types, int shown) {
  const std::vector<size_t> covers = CoverIndices(types);
  return std::find(covers.begin(), covers.end(), static_cast<size_t>(shown)) != covers.end();
}

TCoverPicture Picture(const TagLib::ByteVector& data, const TagLib::String& statedMime,
                      bool isCover, const TagLib::String& description = TagLib::String(),
                      int type = -1) {
  TCoverPicture p;
  p.isCover = isCover;
  p.data = FromVector(data);
  p.details.statedMime = QString::fromStdString(statedMime.to8Bit(true));
  p.details.description = QString::fromStdString(description.to8Bit(true));
  p.details.type = type;
  p.mime = lb::ImageMimeOf(p.data);
  if (p.mime.isEmpty()) p.mime = p.details.statedMime;
  return p;
}

TagLib::String Unicode(const QString& s) {
  return TagLib::String(s.toStdString(), TagLib::String::UTF8);
}

// The MIME type a picture put in is stated with: the one it was read with when it goes
// back as it was, else the one its bytes tell.
TagLib::String MimeToState(const TCoverChange& change) {
  return Latin1(change.asWas && !change.asWas->statedMime.isEmpty() ? change.asWas->statedMime
                                                                    : lb::ImageMimeOf(change.data));
}

// The picture type a picture put in gets: front cover, or the one it was read with.
int TypeToPut(const TCoverChange& change) {
  return change.asWas && change.asWas->type >= 0 ? change.asWas->type : kFront;
}

// Whether the picture at i goes behind the new one: further front covers do, so that
// the new one is shown; every picture does when the new one goes back as a picture not
// marked front, which is the cover only while it comes first, or goes back to the front
// a removal took it from.
bool GoesBehind(const std::vector<int>& types, const std::vector<size_t>& covers, size_t i,
                const TCoverChange& change) {
  if (std::find(covers.begin(), covers.end(), i) != covers.end()) return false;
  return types[i] == kFront || TypeToPut(change) != kFront || change.putBack;
}

// ---- ID3v2 ----

std::vector<TagLib::ID3v2::AttachedPictureFrame*> PicturesOf(const TagLib::ID3v2::Tag* tag) {
  std::vector<TagLib::ID3v2::AttachedPictureFrame*> pictures;
  for (TagLib::ID3v2::Frame* f : tag->frameList())
    if (auto* p = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(f)) pictures.push_back(p);
  return pictures;
}

// ---- Vorbis comments and FLAC blocks share FLAC::Picture ----

template <class Holder>
TCoverPicture FlacCover(Holder* holder) {
  const TagLib::List<TagLib::FLAC::Picture*> list = holder->pictureList();
  std::vector<int> types;
  for (const TagLib::FLAC::Picture* p : list) types.push_back(p->type());
  const int shown = ShownIndex(types);
  if (shown < 0) return {};
  const TagLib::FLAC::Picture* p = list[static_cast<unsigned>(shown)];
  return Picture(p->data(), p->mimeType(), IsCover(types, shown), p->description(), p->type());
}

template <class Holder>
void ApplyToFlac(Holder* holder, const TCoverChange& change) {
  std::vector<int> types;
  std::vector<TagLib::FLAC::Picture*> pictures;
  {
    // The copy of the list shares the holder's storage, which deletes its pictures
    // with it: it must be gone before the holder's list changes.
    const TagLib::List<TagLib::FLAC::Picture*> list = holder->pictureList();
    for (TagLib::FLAC::Picture* p : list) {
      types.push_back(p->type());
      pictures.push_back(p);
    }
  }
  const std::vector<size_t> covers = Replaced(types, change);
  // The new cover keeps the description of the one it replaces, so that an undo gives
  // the old one back whole.
  TagLib::String description;
  for (size_t i : covers) {
    description = pictures[i]->description();
    holder->removePicture(pictures[i], true);
  }
  if (change.kind != TCoverChange::Set) return;
  auto* p = new TagLib::FLAC::Picture;
  p->setType(TagLib::FLAC::Picture::Type(TypeToPut(change)));
  p->setDescription(change.asWas ? Unicode(change.asWas->description) : description);
  p->setMimeType(MimeToState(change));
  p->setData(ToVector(change.data));
  holder->addPicture(p);  // the holder owns it from here
  for (size_t i = 0; i < types.size(); ++i)
    if (GoesBehind(types, covers, i, change)) {
      holder->removePicture(pictures[i], false);
      holder->addPicture(pictures[i]);
    }
}

// ---- MP4 ----

TCoverPicture Mp4Cover(const TagLib::MP4::Tag* tag) {
  if (!tag || !tag->contains("covr")) return {};
  const TagLib::MP4::CoverArtList list = tag->item("covr").toCoverArtList();
  if (list.isEmpty()) return {};
  return Picture(list.front().data(), TagLib::String(), true);
}

void ApplyToMp4(TagLib::MP4::Tag* tag, const TCoverChange& change) {
  TagLib::MP4::CoverArtList list;
  if (tag->contains("covr")) list = tag->item("covr").toCoverArtList();
  if (!list.isEmpty() && !change.putBack) list.erase(list.begin());
  if (change.kind == TCoverChange::Set) {
    const QString mime = lb::ImageMimeOf(change.data);
    const auto format = mime == QLatin1String("image/jpeg")  ? TagLib::MP4::CoverArt::JPEG
                        : mime == QLatin1String("image/png") ? TagLib::MP4::CoverArt::PNG
                        : mime == QLatin1String("image/gif") ? TagLib::MP4::CoverArt::GIF
                                                             : TagLib::MP4::CoverArt::Unknown;
    list.prepend(TagLib::MP4::CoverArt(format, ToVector(change.data)));
  }
  if (list.isEmpty())
    tag->removeItem("covr");
  else
    tag->setItem("covr", TagLib::MP4::Item(list));
}

// ---- ASF ----

TCoverPicture AsfCover(TagLib::ASF::File* file) {
  const TagLib::ASF::AttributeList list = AsfPictures(file);
  std::vector<int> types;
  for (const TagLib::ASF::Attribute& a : list) types.push_back(a.toPicture().type());
  const int shown = ShownIndex(types);
  if (shown < 0) return {};
  const TagLib::ASF::Picture p = list[static_cast<unsigned>(shown)].toPicture();
  return Picture(p.picture(), p.mimeType(), IsCover(types, shown), p.description(), p.type());
}

void ApplyToAsf(TagLib::ASF::File* file, const TCoverChange& change) {
  TagLib::ASF::Tag* tag = file->tag();
  const TagLib::ASF::AttributeList list = AsfPictures(file);
  std::vector<int> types;
  for (const TagLib::ASF::Attribute& a : list) types.push_back(a.toPicture().type());
  const std::vector<size_t> covers = Replaced(types, change);
  TagLib::ASF::AttributeList kept;
  for (size_t i = 0; i < types.size(); ++i)
    if (std::find(covers.begin(), covers.end(), i) == covers.end())
      kept.append(list[static_cast<unsigned>(i)]);
  if (change.kind == TCoverChange::Set) {
    TagLib::ASF::Picture p;
    p.setType(TagLib::ASF::Picture::Type(TypeToPut(change)));
    if (change.asWas) p.setDescription(Unicode(change.asWas->description));
    p.setMimeType(MimeToState(change));
    p.setPicture(ToVector(change.data));
    kept.prepend(TagLib::ASF::Attribute(p));
  }
  if (kept.isEmpty())
    tag->removeItem("WM/Picture");
  else
    tag->setAttribute("WM/Picture", kept);
}

// ---- APE: the item holds a file name, a zero byte, then the picture ----

TCoverPicture ApeCover(const TagLib::APE::Tag* tag) {
  if (!tag) return {};
  const TagLib::APE::ItemListMap& items = tag->itemListMap();
  const TagLib::APE::Item* shown = nullptr;
  bool front = false;
  for (const auto& [key, item] : items) {
    if (item.type() != TagLib::APE::Item::Binary || !key.startsWith("COVER ART (")) continue;
    if (key == TagLib::String(kApeFront).upper()) {
      shown = &item;
      front = true;
      break;
    }
    if (!shown) shown = &item;
  }
  if (!shown) return {};
  const TagLib::ByteVector bytes = shown->binaryData();
  const int zero = bytes.find('\0');
  const TagLib::String name(
      zero > 0 ? bytes.mid(0, static_cast<unsigned>(zero)) : TagLib::ByteVector(),
      TagLib::String::UTF8);
  return Picture(zero >= 0 ? bytes.mid(static_cast<unsigned>(zero) + 1) : bytes, TagLib::String(),
                 front, name);
}

void ApplyToApe(TagLib::APE::Tag* tag, const TCoverChange& change) {
  tag->removeItem(kApeFront);
  if (change.kind != TCoverChange::Set) return;
  TagLib::ByteVector value =
      ToVector(change.asWas && !change.asWas->description.isEmpty()
                   ? change.asWas->description.toUtf8()
                   : "cover" + lb::ImageExtension(lb::ImageMimeOf(change.data)).toLatin1());
  value.append('\0');
  value.append(ToVector(change.data));
  tag->setItem(kApeFront, TagLib::APE::Item(kApeFront, value, true));
}

// The file's main tag through its format's class (FileRef tells the format by the
// name and, failing that, by the content).
struct TPictureHolder {
  TagLib::FLAC::File* flac = nullptr;
  TagLib::Ogg::XiphComment* xiph = nullptr;
  TagLib::MP4::Tag* mp4 = nullptr;
  TagLib::ASF::File* asf = nullptr;
  TagLib::APE::Tag* ape = nullptr;
  TagLib::ID3v2::Tag* id3v2 = nullptr;
};

TPictureHolder HolderOf(TagLib::File* file, bool create) {
  TPictureHolder h;
  if (auto* f = dynamic_cast<TagLib::FLAC::File*>(file)) {
    h.flac = f;
  } else if (auto* f = dynamic_cast<TagLib::Ogg::File*>(file)) {
    h.xiph = dynamic_cast<TagLib::Ogg::XiphComment*>(f->tag());
  } else if (auto* f = dynamic_cast<TagLib::MP4::File*>(file)) {
    h.mp4 = f->tag();
  } else if (auto* f = dynamic_cast<TagLib::ASF::File*>(file)) {
    h.asf = f;
  } else if (auto* f = dynamic_cast<TagLib::APE::File*>(file)) {
    h.ape = f->APETag(create);
  } else if (auto* f = dynamic_cast<TagLib::WavPack::File*>(file)) {
    h.ape = f->APETag(create);
  } else if (auto* f = dynamic_cast<TagLib::MPC::File*>(file)) {
    h.ape = f->APETag(create);
  } else if (auto* f = dynamic_cast<TagLib::TrueAudio::File*>(file)) {
    h.id3v2 = f->ID3v2Tag(create);
  } else if (auto* f = dynamic_cast<TagLib::RIFF::AIFF::File*>(file)) {
    h.id3v2 = f->tag();
  } else if (auto* f = dynamic_cast<TagLib::RIFF::WAV::File*>(file)) {
    h.id3v2 = f->ID3v2Tag();
  } else if (auto* f = dynamic_cast<TagLib::MPEG::File*>(file)) {
    h.id3v2 = f->ID3v2Tag(create);
  }
  return h;
}

// Saves the file; an ID3v2 tag keeps its version (v2.4 stays v2.4, others become v2.3,
// as the component writes MP3 files).
bool SaveFile(TagLib::File* file, TagLib::ID3v2::Tag* id3v2) {
  const bool v24 = id3v2 && id3v2->header()->majorVersion() == 4;
  const auto version = v24 ? TagLib::ID3v2::v4 : TagLib::ID3v2::v3;
  if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(file)) return aiff->save(version);
  if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file))
    return wav->save(TagLib::RIFF::WAV::File::AllTags, TagLib::File::StripNone, version);
  return file->save();
}

}  // namespace

TCoverPicture CoverOf(const TagLib::ID3v2::Tag* tag) {
  const auto pictures = PicturesOf(tag);
  std::vector<int> types;
  for (const auto* p : pictures) types.push_back(p->type());
  const int shown = ShownIndex(types);
  if (shown < 0) return {};
  const TagLib::ID3v2::AttachedPictureFrame* p = pictures[static_cast<size_t>(shown)];
  TCoverPicture cover =
      Picture(p->picture(), p->mimeType(), IsCover(types, shown), p->description(), p->type());
  cover.details.encoding = p->textEncoding();
  return cover;
}

void ApplyCover(TagLib::ID3v2::Tag* tag, const TCoverChange& change) {
  if (change.kind == TCoverChange::None) return;
  const auto pictures = PicturesOf(tag);
  std::vector<int> types;
  for (const auto* p : pictures) types.push_back(p->type());
  const std::vector<size_t> covers = Replaced(types, change);
  // The new cover keeps the description of the one it replaces: an undo gives the old
  // one back whole, and no two pictures share a description (which the format forbids:
  // other taggers rename one of them).
  TagLib::String description;
  TagLib::String::Type encoding = TagLib::String::Latin1;
  for (size_t i : covers) {
    description = pictures[i]->description();
    encoding = pictures[i]->textEncoding();
    tag->removeFrame(pictures[i], true);
  }
  if (change.kind != TCoverChange::Set) return;
  auto* frame = new TagLib::ID3v2::AttachedPictureFrame;
  if (change.asWas) {
    encoding = TagLib::String::Type(change.asWas->encoding);
    description = Unicode(change.asWas->description);
  }
  frame->setTextEncoding(encoding);
  frame->setDescription(description);
  frame->setType(TagLib::ID3v2::AttachedPictureFrame::Type(TypeToPut(change)));
  frame->setMimeType(MimeToState(change));
  frame->setPicture(ToVector(change.data));
  tag->addFrame(frame);  // the tag owns the frame from here
  for (size_t i = 0; i < types.size(); ++i)
    if (GoesBehind(types, covers, i, change)) {
      tag->removeFrame(pictures[i], false);
      tag->addFrame(pictures[i]);
    }
}

HRESULT ReadFormatCover(const QString& path, TCoverPicture* cover) {
  *cover = TCoverPicture{};
  const QByteArray name = QFile::encodeName(path);
  TagLib::FileRef ref(name.constData(), false);
  if (ref.isNull() || !ref.file()->isValid()) return E_FAIL;
  const TPictureHolder h = HolderOf(ref.file(), false);
  if (h.flac)
    *cover = FlacCover(h.flac);
  else if (h.xiph)
    *cover = FlacCover(h.xiph);
  else if (h.mp4)
    *cover = Mp4Cover(h.mp4);
  else if (h.asf)
    *cover = AsfCover(h.asf);
  else if (h.ape)
    *cover = ApeCover(h.ape);
  else if (h.id3v2)
    *cover = CoverOf(h.id3v2);
  return cover->data.isEmpty() ? S_FALSE : S_OK;
}

HRESULT PutCoverInto(TagLib::File* file, const TCoverChange& change) {
  if (change.kind == TCoverChange::None) return S_FALSE;
  if (!file->isValid()) return E_FAIL;
  const TPictureHolder h = HolderOf(file, change.kind == TCoverChange::Set);
  if (h.flac)
    ApplyToFlac(h.flac, change);
  else if (h.xiph)
    ApplyToFlac(h.xiph, change);
  else if (h.mp4)
    ApplyToMp4(h.mp4, change);
  else if (h.asf)
    ApplyToAsf(h.asf, change);
  else if (h.ape)
    ApplyToApe(h.ape, change);
  else if (h.id3v2)
    ApplyCover(h.id3v2, change);
  else
    return change.kind == TCoverChange::Remove ? S_FALSE : E_FAIL;
  return S_OK;
}

HRESULT WriteFormatCover(const QString& path, const TCoverChange& change) {
  if (change.kind == TCoverChange::None) return S_OK;
  return EditFormatFile(path, [&](TagLib::File* file) {
    const HRESULT hr = PutCoverInto(file, change);
    if (hr != S_OK) return hr;
    return SaveFile(file, HolderOf(file, false).id3v2) ? S_OK : E_FAIL;
  });
}

}  // namespace id3
