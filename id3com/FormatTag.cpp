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

#include "AsfPictures.h"
#include "ID3Com.h"
#include "TagFileWriter.h"
#include "platform/FileRewrite.h"
#include "platform/FileSystem.h"

#include <QFile>

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/apefooter.h>
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
const TFieldKeys& kTrackKeys = kFields[std::size(kFields) - 1];  // the track is the last
const QString kJoin = QStringLiteral("; ");

QString FromTagLib(const TagLib::String& s) {
  return QString::fromStdString(s.to8Bit(true));
}
TagLib::String ToTagLib(const QString& s) {
  return TagLib::String(s.toStdString(), TagLib::String::UTF8);
}
QStringList QStringsOf(const TagLib::StringList& values) {
  QStringList texts;
  for (const TagLib::String& v : values) texts << FromTagLib(v);
  return texts;
}
QString Joined(const TagLib::StringList& values) {
  return QStringsOf(values).join(kJoin);
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
  // The file object takes the stream; o owns the file.
  const auto adopt = [o](auto* file) {
    o->file.reset(file);
    return file;
  };
  switch (format) {
    case TMusicFormat::Flac:
      if (oggFlac)
        o->xiph = adopt(new TagLib::Ogg::FLAC::File(stream, false))->tag();
      else
        o->xiph =
            adopt(new TagLib::FLAC::File(stream, TagLib::ID3v2::FrameFactory::instance(), false))
                ->xiphComment(create);
      break;
    case TMusicFormat::Ogg:
      o->xiph = adopt(new TagLib::Ogg::Vorbis::File(stream, false))->tag();
      break;
    case TMusicFormat::Opus:
      o->xiph = adopt(new TagLib::Ogg::Opus::File(stream, false))->tag();
      break;
    case TMusicFormat::Speex:
      o->xiph = adopt(new TagLib::Ogg::Speex::File(stream, false))->tag();
      break;
    case TMusicFormat::Mp4:
      o->mp4 = adopt(new TagLib::MP4::File(stream, false))->tag();
      break;
    case TMusicFormat::Asf:
      o->asf = adopt(new TagLib::ASF::File(stream, false))->tag();
      break;
    case TMusicFormat::Ape:
      o->ape = adopt(new TagLib::APE::File(stream, false))->APETag(create);
      break;
    case TMusicFormat::WavPack:
      o->ape = adopt(new TagLib::WavPack::File(stream, false))->APETag(create);
      break;
    case TMusicFormat::Musepack:
      o->ape = adopt(new TagLib::MPC::File(stream, false))->APETag(create);
      break;
    case TMusicFormat::TrueAudio:
      o->id3v2 = adopt(new TagLib::TrueAudio::File(stream, false))->ID3v2Tag(create);
      break;
    case TMusicFormat::Aiff:
      o->id3v2 = adopt(new TagLib::RIFF::AIFF::File(stream, false))->tag();
      break;
    case TMusicFormat::Wav:
      o->id3v2 = adopt(new TagLib::RIFF::WAV::File(stream, false))->ID3v2Tag();
      break;
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

bool IsTrack(const TFieldKeys& k) {
  return std::strcmp(k.frame, "TRCK") == 0;
}

const char* const kAsfTotal = "WM/TrackTotal";

// The field's values: the content description's text first, then its attributes.
QStringList AsfValues(const TagLib::ASF::Tag* tag, const TFieldKeys& k) {
  QStringList texts;
  TagLib::String main;
  if (AsfDescription(tag, k.frame, &main) && !main.isEmpty()) texts << FromTagLib(main);
  for (const TagLib::ASF::Attribute& a : tag->attribute(k.asf)) {
    const QString t = AsfText(a);
    if (!t.isEmpty()) texts << t;
  }
  return texts;
}

QString AsfField(const TagLib::ASF::Tag* tag, const TFieldKeys& k) {
  const QStringList texts = AsfValues(tag, k);
  // The track as it shows: "3/10" from the number and WM/TrackTotal.
  const TagLib::ASF::AttributeList total = tag->attribute(kAsfTotal);
  if (IsTrack(k) && texts.size() == 1 && !total.isEmpty() && !AsfText(total.front()).isEmpty())
    return texts.front() + QLatin1Char('/') + AsfText(total.front());
  return texts.join(kJoin);
}

// The values of an edited text. Where the file held several values of the key, they
// show joined with "; " and the text goes back split there; otherwise it is one value
// ("Prelude; Fugue in C" stays one title).
TagLib::StringList Split(const QString& text, size_t oldCount) {
  if (oldCount < 2) return TagLib::StringList(ToTagLib(text));
  TagLib::StringList values;
  for (const QString& v : text.split(kJoin)) values.append(ToTagLib(v));
  return values;
}

// A track "N" or "N/M": the number and the total (-1 without one); false when either
// is no number.
bool ParseTrack(const QString& text, int* number, int* total) {
  const qsizetype slash = text.indexOf(QLatin1Char('/'));
  bool ok = false, totalOk = true;
  *number = text.left(slash).trimmed().toInt(&ok);
  *total = slash < 0 ? -1 : text.mid(slash + 1).trimmed().toInt(&totalOk);
  return ok && totalOk && *number >= 0 && (slash < 0 || *total >= 0);
}

// The new values of a field (oldCount: how many the file held). The track keeps the
// total the file gave ("3/10" put to 5 gives "5/10").
TagLib::StringList NewValues(const TFieldKeys& k, const QString& text, const QString& old,
                             size_t oldCount) {
  if (!IsTrack(k)) return Split(text, oldCount);
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

// The change asked for: clearing, then the edits, by field, and the values of fields
// put back as they were.
struct TChange {
  const QMap<QByteArray, QString>& edits;
  bool clear;
  const TFieldValues* putBack;
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
  // The values a changed field gets: those it is put back with when its text is them
  // joined, otherwise as NewValues makes them of the text.
  TagLib::StringList Values(const TFieldKeys& k, const QString& text, const QString& old,
                            size_t oldCount) const {
    const auto held = putBack ? putBack->find(QByteArray(k.frame)) : TFieldValues::const_iterator();
    if (!putBack || held == putBack->end() || held->join(kJoin) != text)
      return NewValues(k, text, old, oldCount);
    TagLib::StringList values;
    for (const QString& v : *held) values.append(ToTagLib(v));
    return values;
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
    tag->setItem(spelled,
                 TagLib::APE::Item(spelled, change.Values(k, text, oldText,
                                                          had ? old->second.values().size() : 0)));
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
    const char* total = o.xiph && IsTrack(k) ? TrackTotalKey(before) : nullptr;
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    // The total's own key follows a new total ("5/12" puts 12 there too).
    if (total && slash >= 0)
      wanted.replace(total, TagLib::StringList(ToTagLib(text.mid(slash + 1))));
    if (total && !old.contains(QLatin1Char('/'))) {
      // The number stays alone in its key.
      wanted.replace(k.property, TagLib::StringList(ToTagLib(text.left(slash))));
    } else if (o.id3v2 && !IsTrack(k)) {
      wanted.replace(k.property, change.Values(k, text, old, 1));  // one text, as in MP3
    } else {
      const size_t count = before.contains(k.property) ? before[k.property].size() : 0;
      wanted.replace(k.property, change.Values(k, text, old, count));
    }
  }
  if (o.xiph)
    o.xiph->setProperties(wanted);
  else
    o.id3v2->setProperties(wanted);
  return PropertiesOf(o) == wanted;
}

// False when a track is no number (nothing is changed then).
bool ApplyToMp4(TagLib::MP4::Tag* tag, const TChange& change) {
  QString track;
  int number = 0, total = 0;
  if (change.Of(kTrackKeys, &track) && !track.isEmpty() && !ParseTrack(track, &number, &total))
    return false;
  for (const TFieldKeys& k : kFields) {
    QString text;
    if (!change.Of(k, &text)) continue;
    const bool genre = std::strcmp(k.frame, "TCON") == 0;
    if (genre) tag->removeItem("gnre");  // the numbered genre gives way to the named one
    if (text.isEmpty()) {
      tag->removeItem(k.mp4);
    } else if (std::strcmp(k.frame, "TRCK") == 0) {
      if (total < 0) total = tag->contains("trkn") ? tag->item("trkn").toIntPair().second : 0;
      tag->setItem("trkn", TagLib::MP4::Item(number, total));
    } else {
      const size_t count = tag->contains(k.mp4) ? tag->item(k.mp4).toStringList().size() : 0;
      tag->setItem(k.mp4, TagLib::MP4::Item(change.Values(k, text, QString(), count)));
    }
  }
  return true;
}

// An ASF number where the file held one as a number (old), else a text.
TagLib::ASF::Attribute AsfNumber(const TagLib::ASF::AttributeList& old, int number) {
  if (!old.isEmpty() && old.front().type() == TagLib::ASF::Attribute::DWordType)
    return TagLib::ASF::Attribute(static_cast<unsigned>(number));
  return TagLib::ASF::Attribute(TagLib::String::number(number));
}

// False when a track is no number (nothing is changed then).
bool ApplyToAsf(TagLib::ASF::Tag* tag, const TChange& change) {
  QString track;
  int number = 0, total = 0;
  if (change.Of(kTrackKeys, &track) && !track.isEmpty() && !ParseTrack(track, &number, &total))
    return false;
  for (const TFieldKeys& k : kFields) {
    QString text;
    if (!change.Of(k, &text)) continue;
    const QByteArray frame = k.frame;
    TagLib::String main;
    if (AsfDescription(tag, frame, &main)) {
      // The first value in the content description, any others as attributes of its name.
      TagLib::StringList values = change.Values(
          k, text, QString(), (main.isEmpty() ? 0 : 1) + tag->attribute(k.asf).size());
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
      // The number and the total in their own attributes; a number stays a number
      // where the file held one.
      tag->setAttribute(k.asf, AsfNumber(tag->attribute(k.asf), number));
      if (total >= 0) tag->setAttribute(kAsfTotal, AsfNumber(tag->attribute(kAsfTotal), total));
    } else {
      TagLib::ASF::AttributeList values;
      for (const TagLib::String& v :
           change.Values(k, text, QString(), tag->attribute(k.asf).size()))
        values.append(TagLib::ASF::Attribute(v));
      tag->setAttribute(k.asf, values);
    }
  }
  return true;
}

// The number of fields a Vorbis comment's bytes say it holds (data from its vendor
// length on); -1 when they are cut short.
long StoredFieldCount(const TagLib::ByteVector& data, unsigned at) {
  if (data.size() < at + 4) return -1;
  const unsigned vendor = data.toUInt(at, false);
  if (vendor > data.size() - at - 4 || data.size() - at - 4 - vendor < 4) return -1;
  return data.toUInt(at + 4 + vendor, false);
}

// The stored field count of the FLAC file's Vorbis comment (0 without one): the blocks
// after "fLaC", which an ID3v2 tag may precede.
long FlacStoredFieldCount(const TagLib::ByteVector& whole) {
  unsigned at = 0;
  if (whole.startsWith("ID3") && whole.size() >= 10) {
    const auto syncsafe = [&](unsigned i) { return unsigned(whole[i]) & 0x7f; };
    at = 10 + (syncsafe(6) << 21 | syncsafe(7) << 14 | syncsafe(8) << 7 | syncsafe(9)) +
         ((whole[5] & 0x10) ? 10 : 0);
  }
  if (whole.mid(at, 4) != "fLaC") return -1;
  at += 4;
  while (whole.size() >= at + 4) {
    const unsigned char head = static_cast<unsigned char>(whole[at]);
    const unsigned length = whole.toUInt(at, true) & 0xffffff;
    if ((head & 0x7f) == 4) return StoredFieldCount(whole.mid(at + 4, length), 0);
    if (head & 0x80) return 0;
    at += 4 + length;
  }
  return -1;
}

// The stored field count of the Ogg stream's comment packet (0 for an Ogg FLAC stream
// without one).
long OggStoredFieldCount(TOpened& o) {
  auto* ogg = static_cast<TagLib::Ogg::File*>(o.file.get());
  switch (o.format) {
    case TMusicFormat::Ogg:
      return StoredFieldCount(ogg->packet(1), 7);  // "\x03vorbis"
    case TMusicFormat::Opus:
      return StoredFieldCount(ogg->packet(1), 8);  // "OpusTags"
    case TMusicFormat::Speex:
      return StoredFieldCount(ogg->packet(1), 0);
    default:
      break;
  }
  // Ogg FLAC: a metadata block in each packet after the first.
  for (unsigned i = 1; i < 1024; ++i) {
    const TagLib::ByteVector block = ogg->packet(i);
    if (block.size() < 4) return -1;
    if ((block[0] & 0x7f) == 4) return StoredFieldCount(block, 4);
    if (block[0] & 0x80) return 0;
  }
  return -1;
}

// Whether the tag library kept every item of the file's APE tag or Vorbis comment. It
// reads a value that is no valid UTF-8 as empty, drops empty values (an APE item while
// writing, a Vorbis field while reading) and skips items it cannot parse, and a write
// would then remove them from the file.
bool ReadWholly(TOpened& o, const TagLib::ByteVector& whole) {
  if (o.ape) {
    // An empty text goes unwritten: a value read as empty is dropped by the write.
    for (const auto& [key, item] : o.ape->itemListMap()) {
      if (item.type() != TagLib::APE::Item::Text) {
        if (item.isEmpty()) return false;
        continue;
      }
      const TagLib::StringList values = item.values();
      if (values.isEmpty() ||
          std::any_of(values.begin(), values.end(), [](const auto& v) { return v.isEmpty(); }))
        return false;
    }
    return o.ape->footer()->itemCount() == o.ape->itemListMap().size();
  }
  if (!o.xiph) return true;
  long parsed = static_cast<long>(o.xiph->pictureList().size());
  for (const auto& field : o.xiph->fieldListMap()) parsed += field.second.size();
  const bool nativeFlac = dynamic_cast<TagLib::FLAC::File*>(o.file.get()) != nullptr;
  return (nativeFlac ? FlacStoredFieldCount(whole) : OggStoredFieldCount(o)) == parsed;
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

// The tag library writes each of the ASF content description's five texts (title,
// author, copyright, description, rating) even when it is empty, as a lone terminator
// that other readers show as an empty attribute the user never set: in the written
// bytes the empty texts get no bytes (length 0) and the header's size follows.
void DropEmptyDescriptionTexts(TagLib::ByteVector* bytes) {
  static const TagLib::ByteVector kDescription(
      "\x33\x26\xb2\x75\x8e\x66\xcf\x11\xa6\xd9\x00\xaa\x00\x62\xce\x6c", 16);
  if (bytes->size() < 30) return;
  const unsigned long long headerSize = bytes->toLongLong(16, false);
  if (headerSize > bytes->size()) return;
  unsigned at = 30;
  while (at + 24 <= headerSize) {
    const unsigned long long size = bytes->toLongLong(at + 16, false);
    if (size < 24 || at + size > headerSize) return;
    if (bytes->mid(at, 16) != kDescription || size < 34) {
      at += static_cast<unsigned>(size);
      continue;
    }
    TagLib::ByteVector lengths, texts;
    unsigned text = at + 34;
    for (unsigned i = 0; i < 5; ++i) {
      const unsigned length = bytes->toUShort(at + 24 + 2 * i, false);
      if (text + length > at + size) return;
      const bool empty = length == 2 && (*bytes)[text] == 0 && (*bytes)[text + 1] == 0;
      lengths.append(TagLib::ByteVector::fromShort(empty ? 0 : short(length), false));
      if (!empty) texts.append(bytes->mid(text, length));
      text += length;
    }
    if (text != at + size) return;  // bytes after the texts: left as they are
    TagLib::ByteVector object = bytes->mid(at, 16);
    object.append(TagLib::ByteVector::fromLongLong(34 + texts.size(), false));
    object.append(lengths);
    object.append(texts);
    const unsigned long long shrink = size - object.size();
    if (shrink == 0) return;
    TagLib::ByteVector result = bytes->mid(0, 16);
    result.append(TagLib::ByteVector::fromLongLong(headerSize - shrink, false));
    result.append(bytes->mid(24, at - 24));
    result.append(object);
    result.append(bytes->mid(at + static_cast<unsigned>(size)));
    *bytes = result;
    return;
  }
}

// Changes the file at path in memory through the tag library, in one pass through
// EditThroughCopy: the file's bytes are read once (one copy in memory: the stream takes
// them over), edit changes them through the tag library's classes and saves, and the
// result is written with every write checked (the tag library does not check its own
// writes: a full disk would leave a cut-short copy that would take the file's place).
// create makes the main tag when the file has none.
HRESULT EditInMemory(const QString& path, bool create,
                     const std::function<HRESULT(TOpened&)>& edit) {
  return EditThroughCopy(path, [&](int fd, int64_t size, TagLib::ByteVector* content) {
    if (size > std::numeric_limits<unsigned>::max()) return E_FAIL;
    bool read = false;
    TOpened o;
    o.stream = std::make_unique<TagLib::ByteVectorStream>([&] {
      TagLib::ByteVector bytes(static_cast<unsigned>(size), 0);
      read = lb::ReadAllAt(fd, bytes.data(), size, 0);
      return bytes;
    }());
    if (!read || !Open(path, create, &o)) return E_FAIL;
    auto* asf = dynamic_cast<TagLib::ASF::File*>(o.file.get());
    if (asf) PutAsfPicturesInReadOrder(asf);
    const HRESULT hr = edit(o);
    if (FAILED(hr)) return hr;
    TagLib::ByteVector* result = static_cast<TagLib::ByteVectorStream*>(o.stream.get())->data();
    if (asf) {
      // Rather no write than the pictures in another order: another would be the cover.
      if (!KeepAsfPictureOrder(asf->tag(), result)) return E_FAIL;
      DropEmptyDescriptionTexts(result);
    }
    o.file.reset();
    *content = *result;
    return hr;
  });
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

HRESULT EditFormatFile(const QString& path, const std::function<HRESULT(TagLib::File*)>& edit) {
  return EditInMemory(path, false, [&](TOpened& o) { return edit(o.file.get()); });
}

HRESULT WriteFormatTag(const QString& path, const QMap<QByteArray, QString>& edits,
                       bool clearFields, const std::function<HRESULT(TagLib::File*)>& alsoEdit,
                       const TFieldValues* putBack, TFieldValues* replaced) {
  const TChange change{edits, clearFields, putBack};
  return EditInMemory(path, true, [&](TOpened& o) -> HRESULT {
    if (!ReadWholly(o, *static_cast<TagLib::ByteVectorStream*>(o.stream.get())->data()))
      return ID3COM_E_NOTLOSSLESS;
    if (replaced) {
      replaced->clear();
      const TagLib::PropertyMap props = PropertiesOf(o);
      for (const TFieldKeys& k : kFields) {
        QString text;
        if (IsTrack(k) || !change.Of(k, &text)) continue;
        const QStringList values =
            o.mp4   ? (o.mp4->contains(k.mp4) ? QStringsOf(o.mp4->item(k.mp4).toStringList())
                                              : QStringList())
            : o.asf ? AsfValues(o.asf, k)
            : props.contains(k.property) ? QStringsOf(props[k.property])
                                         : QStringList();
        if (values.size() > 1) replaced->insert(k.frame, values);
      }
    }
    if (o.mp4) {
      if (!ApplyToMp4(o.mp4, change)) return E_INVALIDARG;
    } else if (o.asf) {
      if (!ApplyToAsf(o.asf, change)) return E_INVALIDARG;
    } else if (o.ape) {
      ApplyToApe(o.ape, change);
    } else if (o.xiph || o.id3v2) {
      if (!ApplyToProperties(o, change)) return ID3COM_E_NOTLOSSLESS;
    } else {
      return E_FAIL;
    }
    if (alsoEdit) {
      const HRESULT hr = alsoEdit(o.file.get());
      if (FAILED(hr)) return hr;
    }
    return Save(o) ? S_OK : E_FAIL;
  });
}

}  // namespace id3
