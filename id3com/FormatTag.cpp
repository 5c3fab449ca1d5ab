// Reading goes through TagLib's property map for Vorbis comments, APE tags and ID3v2,
// and through the format's own items for MP4 and ASF, whose property maps rewrite every
// item they know (and ASF numbers as text). Writing puts back only the changed keys:
// APE, MP4 and ASF items one by one; for Vorbis comments and ID3v2 the whole map is read,
// the changed keys replaced, and TagLib's result compared with what was asked, so a
// write that would change anything else is refused before the file is touched. Several
// values of a key show joined with "; ", and an edited text goes back split there.
// TagLib does not check its writes, so it edits a file in memory and the result is
// written with every write checked; it reads through the caller's open file.
#include "FormatTag.h"

#include "ID3Com.h"
#include "TagFileWriter.h"
#include "platform/FileRewrite.h"
#include "platform/FileSystem.h"

#include <QFile>

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpcfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/speexfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/trueaudiofile.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace id3 {

namespace {

using lb::TMusicFormat;

// The program's fields: the MP3 frame, the property key, the MP4 atom and the ASF
// attribute (title, author, description and copyright live in the content description
// when they have one value, as attributes of that name when they have more).
struct TFieldKeys {
  const char* frame;
  const char* property;
  const char* mp4;
  const char* asf;
};
const TFieldKeys kFields[] = {
    {"TIT2", "TITLE", "\251nam", "Title"},
    {"TPE1", "ARTIST", "\251ART", "Author"},
    {"TALB", "ALBUM", "\251alb", "WM/AlbumTitle"},
    {"TYER", "DATE", "\251day", "WM/Year"},
    {"COMM", "COMMENT", "\251cmt", "Description"},
    {"TCOM", "COMPOSER", "\251wrt", "WM/Composer"},
    {"TOPE", "ORIGINALARTIST", "----:com.apple.iTunes:ORIGINALARTIST", "WM/OriginalArtist"},
    {"TCOP", "COPYRIGHT", "cprt", "Copyright"},
    {"WXXX", "URL", "----:com.apple.iTunes:URL", "WM/UserWebURL"},
    {"TENC", "ENCODEDBY", "\251too", "WM/EncodedBy"},
    {"TCON", "GENRE", "\251gen", "WM/Genre"},
    {"TRCK", "TRACKNUMBER", "trkn", "WM/TrackNumber"},
};
const QString kJoin = QStringLiteral("; ");

QString FromTagLib(const TagLib::String& s) {
  return QString::fromStdString(s.to8Bit(true));
}
TagLib::String ToTagLib(const QString& s) {
  return TagLib::String(s.toStdString(), TagLib::String::UTF8);
}
QString Joined(const TagLib::StringList& values) {
  QStringList texts;
  for (const TagLib::String& v : values) texts << FromTagLib(v);
  return texts.join(kJoin);
}

// A file open for reading, as the tag library reads it: in a few pieces of 16 KiB kept
// here (it reads many small blocks, and the head and the end of a file several times),
// at positions kept here (no seek calls), the size taken once.
class TReadStream final : public TagLib::IOStream {
 public:
  // owns: the stream closes fd when it ends.
  TReadStream(int fd, const QByteArray& name, bool owns) : m_Fd(fd), m_Name(name), m_Owns(owns) {
    struct stat st;
    m_Size = fd >= 0 && ::fstat(fd, &st) == 0 ? static_cast<long>(st.st_size) : -1;
  }
  ~TReadStream() override {
    if (m_Owns && m_Fd >= 0) ::close(m_Fd);
  }
  TReadStream(const TReadStream&) = delete;
  TReadStream& operator=(const TReadStream&) = delete;
  TagLib::FileName name() const override { return m_Name.constData(); }
  TagLib::ByteVector readBlock(unsigned long length) override {
    length = std::min<unsigned long>(length, m_Pos < m_Size ? m_Size - m_Pos : 0);
    if (length == 0) return TagLib::ByteVector();
    const TPiece* piece = PieceFor(length);
    if (!piece) return TagLib::ByteVector();
    const auto at = static_cast<unsigned>(m_Pos - piece->at);
    const auto count = std::min<unsigned>(static_cast<unsigned>(length), piece->bytes.size() - at);
    m_Pos += count;
    return piece->bytes.mid(at, count);
  }
  void writeBlock(const TagLib::ByteVector&) override {}
  void insert(const TagLib::ByteVector&, unsigned long, unsigned long) override {}
  void removeBlock(unsigned long, unsigned long) override {}
  bool readOnly() const override { return true; }
  bool isOpen() const override { return m_Size >= 0; }
  void seek(long offset, Position p) override {
    const long base = p == Beginning ? 0 : p == Current ? m_Pos : m_Size;
    m_Pos = std::max(0L, base + offset);
  }
  long tell() const override { return m_Pos; }
  long length() override { return m_Size; }
  void truncate(long) override {}

 private:
  static constexpr long kPiece = 16 << 10;
  struct TPiece {
    long at = 0;
    TagLib::ByteVector bytes;
  };
  // The piece that holds the block of length at the position (the file holds it),
  // read when none does; null when the file cannot be read there.
  const TPiece* PieceFor(unsigned long length) {
    for (const TPiece& p : m_Pieces)
      if (p.at <= m_Pos && m_Pos + long(length) <= p.at + long(p.bytes.size())) return &p;
    const long want = std::min(std::max(long(length), kPiece), m_Size - m_Pos);
    TagLib::ByteVector bytes(static_cast<unsigned>(want), 0);
    long got = 0;
    while (got < want) {
      const ssize_t n = ::pread(m_Fd, bytes.data() + got, want - got, m_Pos + got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += n;
    }
    if (got == 0) return nullptr;
    bytes.resize(static_cast<unsigned>(got));
    if (m_Pieces.size() == 4) m_Pieces.erase(m_Pieces.begin());
    m_Pieces.push_back(TPiece{m_Pos, bytes});
    return &m_Pieces.back();
  }

  int m_Fd;
  QByteArray m_Name;
  bool m_Owns;
  long m_Size = -1;
  long m_Pos = 0;
  std::vector<TPiece> m_Pieces;
};

// The Ogg stream's codec, from the first packet of its first page.
TMusicFormat OggCodecOf(TagLib::IOStream* stream) {
  stream->seek(0);
  const TagLib::ByteVector bytes = stream->readBlock(40);
  stream->seek(0);
  const QByteArray head(bytes.data(), static_cast<qsizetype>(bytes.size()));
  if (!head.startsWith("OggS") || head.size() < 36) return TMusicFormat::Ogg;
  const QByteArray packet = head.mid(28);
  if (packet.startsWith("OpusHead")) return TMusicFormat::Opus;
  if (packet.startsWith("Speex   ")) return TMusicFormat::Speex;
  if (packet.startsWith("\x7f"
                        "FLAC"))
    return TMusicFormat::Flac;  // Ogg FLAC: told below
  return TMusicFormat::Ogg;
}

// One opened file and its main tag (one of the pointers, owned by the file).
struct TOpened {
  std::unique_ptr<TagLib::IOStream> stream;
  std::unique_ptr<TagLib::File> file;
  TagLib::Ogg::XiphComment* xiph = nullptr;
  TagLib::APE::Tag* ape = nullptr;
  TagLib::ID3v2::Tag* id3v2 = nullptr;
  TagLib::MP4::Tag* mp4 = nullptr;
  TagLib::ASF::Tag* asf = nullptr;
  TMusicFormat format = TMusicFormat::None;
  bool v24 = false;  // the ID3v2 tag the file held was v2.4
};

// Builds the format's class over o->stream (the format told by path's extension, Ogg by
// content); create makes the main tag when the file has none.
bool Open(const QString& path, bool create, TOpened* o) {
  TagLib::IOStream* stream = o->stream.get();
  if (!stream || !stream->isOpen()) return false;
  TMusicFormat format = lb::MusicFormatOf(path);
  bool oggFlac = false;
  if (format == TMusicFormat::Ogg) {
    format = OggCodecOf(stream);
    oggFlac = format == TMusicFormat::Flac;
  }
  o->format = format;
  switch (format) {
    case TMusicFormat::Flac:
      if (oggFlac) {
        auto* f = new TagLib::Ogg::FLAC::File(stream, false);
        o->file.reset(f);
        o->xiph = f->tag();
      } else {
        auto* f = new TagLib::FLAC::File(stream, TagLib::ID3v2::FrameFactory::instance(), false);
        o->file.reset(f);
        o->xiph = f->xiphComment(create);
      }
      break;
    case TMusicFormat::Ogg: {
      auto* f = new TagLib::Ogg::Vorbis::File(stream, false);
      o->file.reset(f);
      o->xiph = f->tag();
      break;
    }
    case TMusicFormat::Opus: {
      auto* f = new TagLib::Ogg::Opus::File(stream, false);
      o->file.reset(f);
      o->xiph = f->tag();
      break;
    }
    case TMusicFormat::Speex: {
      auto* f = new TagLib::Ogg::Speex::File(stream, false);
      o->file.reset(f);
      o->xiph = f->tag();
      break;
    }
    case TMusicFormat::Mp4: {
      auto* f = new TagLib::MP4::File(stream, false);
      o->file.reset(f);
      o->mp4 = f->tag();
      break;
    }
    case TMusicFormat::Asf: {
      auto* f = new TagLib::ASF::File(stream, false);
      o->file.reset(f);
      o->asf = f->tag();
      break;
    }
    case TMusicFormat::Ape: {
      auto* f = new TagLib::APE::File(stream, false);
      o->file.reset(f);
      o->ape = f->APETag(create);
      break;
    }
    case TMusicFormat::WavPack: {
      auto* f = new TagLib::WavPack::File(stream, false);
      o->file.reset(f);
      o->ape = f->APETag(create);
      break;
    }
    case TMusicFormat::Musepack: {
      auto* f = new TagLib::MPC::File(stream, false);
      o->file.reset(f);
      o->ape = f->APETag(create);
      break;
    }
    case TMusicFormat::TrueAudio: {
      auto* f = new TagLib::TrueAudio::File(stream, false);
      o->file.reset(f);
      o->id3v2 = f->ID3v2Tag(create);
      break;
    }
    case TMusicFormat::Aiff: {
      auto* f = new TagLib::RIFF::AIFF::File(stream, false);
      o->file.reset(f);
      o->id3v2 = f->tag();
      break;
    }
    case TMusicFormat::Wav: {
      auto* f = new TagLib::RIFF::WAV::File(stream, false);
      o->file.reset(f);
      o->id3v2 = f->ID3v2Tag();
      break;
    }
    default:
      return false;
  }
  o->v24 = o->id3v2 && !o->id3v2->frameList().isEmpty() && o->id3v2->header()->majorVersion() == 4;
  return o->file->isValid();
}

TagLib::PropertyMap PropertiesOf(const TOpened& o) {
  if (o.xiph) return o.xiph->properties();
  if (o.ape) return o.ape->properties();
  if (o.id3v2) return o.id3v2->properties();
  return TagLib::PropertyMap();
}

QString AsfText(const TagLib::ASF::Attribute& a) {
  switch (a.type()) {
    case TagLib::ASF::Attribute::UnicodeType:
      return FromTagLib(a.toString());
    case TagLib::ASF::Attribute::DWordType:
      return QString::number(a.toUInt());
    case TagLib::ASF::Attribute::QWordType:
      return QString::number(a.toULongLong());
    case TagLib::ASF::Attribute::WordType:
      return QString::number(a.toUShort());
    default:
      return QString();
  }
}

QString Mp4Text(const TagLib::MP4::Tag* tag, const char* atom) {
  if (!tag->contains(atom)) return QString();
  const TagLib::MP4::Item item = tag->item(atom);
  if (std::strcmp(atom, "trkn") == 0) {
    const TagLib::MP4::Item::IntPair pair = item.toIntPair();
    if (pair.first <= 0) return QString();
    return pair.second > 0 ? QString("%1/%2").arg(pair.first).arg(pair.second)
                           : QString::number(pair.first);
  }
  return Joined(item.toStringList());
}

// The content description's text of the field; false for the other fields.
bool AsfDescription(const TagLib::ASF::Tag* tag, const QByteArray& frame, TagLib::String* text) {
  if (frame == "TIT2")
    *text = tag->title();
  else if (frame == "TPE1")
    *text = tag->artist();
  else if (frame == "COMM")
    *text = tag->comment();
  else if (frame == "TCOP")
    *text = tag->copyright();
  else
    return false;
  return true;
}

QString AsfField(const TagLib::ASF::Tag* tag, const TFieldKeys& k) {
  QStringList texts;
  TagLib::String main;
  if (AsfDescription(tag, k.frame, &main) && !main.isEmpty()) texts << FromTagLib(main);
  for (const TagLib::ASF::Attribute& a : tag->attribute(k.asf)) {
    const QString t = AsfText(a);
    if (!t.isEmpty()) texts << t;
  }
  return texts.join(kJoin);
}

bool IsTrack(const TFieldKeys& k) {
  return std::strcmp(k.frame, "TRCK") == 0;
}

// A text of several values, as it shows: joined with "; ".
TagLib::StringList Split(const QString& text) {
  TagLib::StringList values;
  for (const QString& v : text.split(kJoin)) values.append(ToTagLib(v));
  return values;
}

// The new values of a field. A text the user edited from several joined values ("A; B")
// goes back as those values, as the file held them; the track keeps the total the file
// gave ("3/10" put to 5 gives "5/10").
TagLib::StringList NewValues(const TFieldKeys& k, const QString& text, const QString& old) {
  if (!IsTrack(k)) return Split(text);
  QString value = text;
  if (old.contains(QLatin1Char('/')) && !value.contains(QLatin1Char('/')))
    value += old.mid(old.indexOf(QLatin1Char('/')));
  return TagLib::StringList(ToTagLib(value));
}

// The key of a Vorbis comment that holds the number of tracks beside TRACKNUMBER.
const char* TrackTotalKey(const TagLib::PropertyMap& props) {
  for (const char* key : {"TRACKTOTAL", "TOTALTRACKS"})
    if (props.contains(key)) return key;
  return nullptr;
}

// The track as it shows: "3/10" from TRACKNUMBER 3 and TRACKTOTAL 10.
QString TrackText(const TagLib::PropertyMap& props) {
  if (!props.contains("TRACKNUMBER")) return QString();
  QString track = Joined(props["TRACKNUMBER"]);
  const char* total = TrackTotalKey(props);
  if (total && !track.contains(QLatin1Char('/')) && !props[total].isEmpty())
    track += QLatin1Char('/') + FromTagLib(props[total].front());
  return track;
}

// The change asked for: clearing, then the edits, by field.
struct TChange {
  const QMap<QByteArray, QString>& edits;
  bool clear;
  // Whether the field changes, and its new text.
  bool Of(const TFieldKeys& k, QString* text) const {
    const auto it = edits.find(QByteArray(k.frame));
    if (it != edits.end()) {
      *text = it.value();
      return true;
    }
    text->clear();
    return clear;
  }
};

// APE items are changed one by one: the property map would rename keys it converts
// ("Albumartist" comes back as "ALBUM ARTIST"). A changed item keeps its key's spelling.
void ApplyToApe(TagLib::APE::Tag* tag, const TChange& change) {
  static const QMap<QByteArray, const char*> newKeys = {
      {"TIT2", "Title"},   {"TPE1", "Artist"},    {"TALB", "Album"},          {"TYER", "Year"},
      {"COMM", "Comment"}, {"TCOM", "Composer"},  {"TOPE", "OriginalArtist"}, {"TCOP", "Copyright"},
      {"WXXX", "URL"},     {"TENC", "EncodedBy"}, {"TCON", "Genre"},          {"TRCK", "Track"}};
  for (const TFieldKeys& k : kFields) {
    QString text;
    if (!change.Of(k, &text)) continue;
    const TagLib::String key = newKeys.value(k.frame);
    const TagLib::APE::ItemListMap& items = tag->itemListMap();
    const auto old = items.find(key.upper());
    const bool had = old != items.end();
    if (text.isEmpty()) {
      tag->removeItem(key);
      continue;
    }
    const TagLib::String spelled = had ? old->second.key() : key;
    const QString oldText = had ? Joined(old->second.values()) : QString();
    tag->setItem(spelled, TagLib::APE::Item(spelled, NewValues(k, text, oldText)));
  }
}

bool ApplyToProperties(TOpened& o, const TChange& change) {
  const TagLib::PropertyMap before = PropertiesOf(o);
  TagLib::PropertyMap wanted = before;
  for (const TFieldKeys& k : kFields) {
    QString text;
    if (!change.Of(k, &text)) continue;
    if (text.isEmpty()) {
      wanted.erase(k.property);
      continue;
    }
    const QString old = before.contains(k.property) ? Joined(before[k.property]) : QString();
    const char* total = o.xiph ? TrackTotalKey(before) : nullptr;
    if (IsTrack(k) && total && !old.contains(QLatin1Char('/'))) {
      // The number and the total stay in their own keys: "5/12" puts 5 and 12.
      const qsizetype slash = text.indexOf(QLatin1Char('/'));
      wanted.replace(k.property, TagLib::StringList(ToTagLib(text.left(slash))));
      if (slash >= 0) wanted.replace(total, TagLib::StringList(ToTagLib(text.mid(slash + 1))));
    } else if (o.id3v2 && !IsTrack(k)) {
      wanted.replace(k.property, TagLib::StringList(ToTagLib(text)));  // one text, as in MP3
    } else {
      wanted.replace(k.property, NewValues(k, text, old));
    }
  }
  if (o.xiph)
    o.xiph->setProperties(wanted);
  else
    o.id3v2->setProperties(wanted);
  return PropertiesOf(o) == wanted;
}

void ApplyToMp4(TagLib::MP4::Tag* tag, const TChange& change) {
  for (const TFieldKeys& k : kFields) {
    QString text;
    if (!change.Of(k, &text)) continue;
    const bool genre = std::strcmp(k.frame, "TCON") == 0;
    if (genre) tag->removeItem("gnre");  // the numbered genre gives way to the named one
    if (text.isEmpty()) {
      tag->removeItem(k.mp4);
    } else if (std::strcmp(k.frame, "TRCK") == 0) {
      const int total = tag->contains("trkn") ? tag->item("trkn").toIntPair().second : 0;
      tag->setItem("trkn", TagLib::MP4::Item(text.toInt(), total));
    } else {
      tag->setItem(k.mp4, TagLib::MP4::Item(Split(text)));
    }
  }
}

void ApplyToAsf(TagLib::ASF::Tag* tag, const TChange& change) {
  for (const TFieldKeys& k : kFields) {
    QString text;
    if (!change.Of(k, &text)) continue;
    const TagLib::String value = ToTagLib(text);
    const QByteArray frame = k.frame;
    TagLib::String unused;
    if (AsfDescription(tag, frame, &unused)) {
      // The first value in the content description, any others as attributes of its name.
      TagLib::StringList values = Split(text);
      const TagLib::String first = values.front();
      values.erase(values.begin());
      tag->removeItem(k.asf);
      if (!values.isEmpty()) {
        TagLib::ASF::AttributeList rest;
        for (const TagLib::String& v : values) rest.append(TagLib::ASF::Attribute(v));
        tag->setAttribute(k.asf, rest);
      }
      if (frame == "TIT2")
        tag->setTitle(first);
      else if (frame == "TPE1")
        tag->setArtist(first);
      else if (frame == "COMM")
        tag->setComment(first);
      else
        tag->setCopyright(first);
    } else if (text.isEmpty()) {
      tag->removeItem(k.asf);
    } else if (frame == "TRCK") {
      // A number stays a number where the file held one.
      const TagLib::ASF::AttributeList old = tag->attribute(k.asf);
      if (!old.isEmpty() && old.front().type() == TagLib::ASF::Attribute::DWordType)
        tag->setAttribute(k.asf, TagLib::ASF::Attribute(static_cast<unsigned>(text.toUInt())));
      else
        tag->setAttribute(k.asf, TagLib::ASF::Attribute(value));
    } else {
      TagLib::ASF::AttributeList values;
      for (const TagLib::String& v : Split(text)) values.append(TagLib::ASF::Attribute(v));
      tag->setAttribute(k.asf, values);
    }
  }
}

bool Save(TOpened& o) {
  if (o.format == TMusicFormat::Aiff || o.format == TMusicFormat::Wav) {
    // As in MP3 files: v2.4 stays v2.4, everything else is written as v2.3.
    const auto version = o.v24 ? TagLib::ID3v2::v4 : TagLib::ID3v2::v3;
    if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(o.file.get()))
      return aiff->save(version);
    auto* wav = static_cast<TagLib::RIFF::WAV::File*>(o.file.get());
    return wav->save(TagLib::RIFF::WAV::File::AllTags, TagLib::File::StripNone, version);
  }
  return o.file->save();
}

// The file's bytes (one copy in memory: the stream takes them over); *ok tells whether
// all of them were read.
TagLib::ByteVector ReadWhole(const QString& path, bool* ok) {
  QFile in(path);
  *ok = false;
  if (!in.open(QIODevice::ReadOnly) || in.size() > std::numeric_limits<unsigned>::max())
    return TagLib::ByteVector();
  TagLib::ByteVector bytes(static_cast<unsigned>(in.size()), 0);
  *ok = in.read(bytes.data(), in.size()) == in.size();
  return bytes;
}

// Puts the bytes in the file's place, every write checked.
bool WriteWhole(const QString& path, const TagLib::ByteVector& bytes) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = lb::WriteAllAt(fd, bytes.data(), bytes.size(), 0);
  return ::close(fd) == 0 && ok;
}

}  // namespace

bool IsFormatTagFile(const QString& path) {
  const TMusicFormat f = lb::MusicFormatOf(path);
  return f != TMusicFormat::None && f != TMusicFormat::Mpeg;
}

HRESULT ReadFormatTag(const QString& path, TFormatTag* tag, int fd) {
  *tag = TFormatTag{};
  TOpened o;
  if (fd >= 0) {
    o.stream = std::make_unique<TReadStream>(fd, QFile::encodeName(path), false);
  } else {
    const QByteArray name = QFile::encodeName(path);
    o.stream = std::make_unique<TReadStream>(
        ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC), name, true);
  }
  if (!Open(path, false, &o)) return E_FAIL;
  tag->kind = lb::TagKindOf(o.format);
  if (o.mp4) {
    tag->hasTag = !o.mp4->isEmpty() || !o.mp4->itemMap().isEmpty();
    for (const TFieldKeys& k : kFields) tag->values[k.frame] = Mp4Text(o.mp4, k.mp4);
    if (tag->values["TCON"].isEmpty() && o.mp4->contains("gnre"))
      tag->values["TCON"] = QString::number(o.mp4->item("gnre").toInt() - 1);
  } else if (o.asf) {
    tag->hasTag = !o.asf->isEmpty() || !o.asf->attributeListMap().isEmpty();
    for (const TFieldKeys& k : kFields) tag->values[k.frame] = AsfField(o.asf, k);
  } else {
    const TagLib::PropertyMap props = PropertiesOf(o);
    tag->hasTag = !props.isEmpty() || (o.xiph && !o.xiph->pictureList().isEmpty()) ||
                  (o.id3v2 && !o.id3v2->frameList().isEmpty());
    for (const TFieldKeys& k : kFields)
      tag->values[k.frame] = props.contains(k.property) ? Joined(props[k.property]) : QString();
    if (o.xiph) tag->values["TRCK"] = TrackText(props);
  }
  return S_OK;
}

HRESULT WriteFormatTag(const QString& path, const QMap<QByteArray, QString>& edits,
                       bool clearFields) {
  const TChange change{edits, clearFields};
  return EditThroughCopy(path, [&](const QString& copy) -> HRESULT {
    // The tag library writes without checking its writes: it edits the file in memory,
    // and the result goes into the copy through checked writes, so a full disk fails the
    // edit instead of leaving a cut-short copy that would take the file's place.
    TOpened o;
    bool read = false;
    o.stream = std::make_unique<TagLib::ByteVectorStream>(ReadWhole(copy, &read));
    if (!read || !Open(path, true, &o)) return E_FAIL;
    if (o.mp4) {
      ApplyToMp4(o.mp4, change);
    } else if (o.asf) {
      ApplyToAsf(o.asf, change);
    } else if (o.ape) {
      ApplyToApe(o.ape, change);
    } else if (o.xiph || o.id3v2) {
      if (!ApplyToProperties(o, change)) return ID3COM_E_NOTLOSSLESS;
    } else {
      return E_FAIL;
    }
    if (!Save(o)) return E_FAIL;
    const TagLib::ByteVector* result =
        static_cast<TagLib::ByteVectorStream*>(o.stream.get())->data();
    o.file.reset();
    return WriteWhole(copy, *result) ? S_OK : E_FAIL;
  });
}

}  // namespace id3
