// The ID3Com component over TagLib.
//
// Link reads the file's ID3v2 tag (v2.2, 2.3 or 2.4) into a small view of the twelve
// fields the program uses, through one open of the file: the tag's bytes are read once
// and parsed in memory. A tag that TagLib reads only in part (a frame with a broken
// size stops its parser) is walked frame by frame instead, so the fields around the
// broken frame still show; such a tag is marked damaged and is never rewritten. The
// tags nearly every file holds (v2.3 and v2.4, laid out regularly, without
// unsynchronisation or frame flags) are read without TagLib by a lean reader of the
// texts shown (FrameTexts), which gives what TagLib would, character for character;
// the tests read every tag both ways.
//
// Setters and frame removals change that view; a field whose new value equals what
// Link read is left alone in the file, so genres outside the ID3v1 table, "3/10"
// tracks and full dates survive a save that did not change them. SaveV2Tag reads the
// file's tag again, applies the changed fields to it (after removing every frame when
// Clear was called) and writes it back: as v2.4 when the file held v2.4, otherwise as
// v2.3 (what the program's users' players read best). Frames the program does not know
// survive (a v2.3 tag keeps every frame the save does not touch byte for byte, as
// TagLib cannot write them all back), and an empty tag removes the ID3v2 tag. The
// ID3v1 tag at the end of the file is never touched: the program writes it itself.
//
// Text marked ISO-8859-1 is read in the tag code page: old taggers put Windows-1251
// bytes there. New text is always written as UTF-16. A save hands over the frames of the
// fields it changed as the file held them (IID3ComFieldsAsWas), and the save of an undo
// puts those frames back, with their encodings and every value, rather than its texts.
#include "id3com/ID3Com.h"

#include "CoverArt.h"
#include "FormatTag.h"
#include "FrameTexts.h"
#include "ID3ComCover.h"
#include "TagBytes.h"
#include "TagFileWriter.h"
#include "com/Server.h"
#include "platform/CodePage.h"
#include "platform/FileRewrite.h"
#include "platform/FileSystem.h"
#include "platform/Genres.h"
#include "platform/ImageTypes.h"
#include "platform/WriteBatch.h"

#include <QDataStream>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <taglib/commentsframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/tfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/unknownframe.h>
#include <taglib/urllinkframe.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002u);  // from Win32 error 2
// A tag region larger than this is not a tag anyone wrote on purpose.
constexpr int64_t kMaxTagSize = 256 << 20;
// The bytes read from the head of a file at first.
constexpr int64_t kFirstRead = 4096;

enum Field {
  fTitle,
  fArtist,
  fAlbum,
  fYear,
  fComment,
  fComposer,
  fOrigArt,
  fCopyright,
  fURL,
  fEncodedBy,
  fFieldCount
};

// The frame each text field lives in.
const char* const kFieldFrame[fFieldCount] = {"TIT2", "TPE1", "TALB", "TYER", "COMM",
                                              "TCOM", "TOPE", "TCOP", "WXXX", "TENC"};

// Text of a frame: ISO-8859-1 text holds bytes of the tag code page.
QString FromTagLib(const TagLib::String& s, TagLib::String::Type encoding) {
  if (encoding == TagLib::String::Latin1) {
    const TagLib::ByteVector bytes = s.data(TagLib::String::Latin1);
    return lb::FromTagCodePage(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
  }
  return QString::fromWCharArray(s.toCWString(), static_cast<qsizetype>(s.size()));
}
TagLib::String ToTagLib(const QString& s) {
  return TagLib::String(s.toStdString(), TagLib::String::UTF8);
}

// A URL is Latin-1 text in every ID3v2 version: one with other characters is stored
// with a punycode host and a percent-encoded rest, and shown decoded again.
QString EncodeUrl(const QString& text) {
  bool ascii = true;
  for (QChar c : text) ascii = ascii && c.unicode() < 0x80;
  if (ascii) return text;
  const QUrl url(text, QUrl::TolerantMode);
  if (url.isValid() && !url.scheme().isEmpty()) return QString::fromLatin1(url.toEncoded());
  QByteArray keep;
  for (char c = 0x21; c < 0x7F; ++c) keep += c;
  return QString::fromLatin1(QUrl::toPercentEncoding(text, keep));
}
QString DecodeUrl(const QString& stored) {
  if (!stored.contains(QLatin1Char('%')) && !stored.contains(QLatin1String("xn--"))) return stored;
  const QUrl url = QUrl::fromEncoded(stored.toLatin1(), QUrl::StrictMode);
  if (!url.isValid() || url.scheme().isEmpty()) return QUrl::fromPercentEncoding(stored.toLatin1());
  QString shown = url.toString();
  const QString ace = url.host(QUrl::FullyEncoded);
  if (ace.contains(QLatin1String("xn--"))) shown.replace(ace, QUrl::fromAce(ace.toLatin1()));
  return shown;
}

// ---- reading frames ----

// The frames of one identifier, looked up without building a key each time (a read
// asks for a dozen identifiers, and a synchronisation pass reads thousands of tags).
const TagLib::ID3v2::FrameList& FramesOf(const TagLib::ID3v2::Tag* tag, const char* id) {
  static const TagLib::ID3v2::FrameList none;
  static const std::map<std::string, TagLib::ByteVector> keys = [] {
    std::map<std::string, TagLib::ByteVector> k;
    for (const char* known : {"TIT2", "TPE1", "TALB", "TYER", "TDRC", "COMM", "TCOM", "TOPE",
                              "TCOP", "WXXX", "TENC", "TCON", "TRCK"})
      k.emplace(known, TagLib::ByteVector(known));
    return k;
  }();
  const auto key = keys.find(id);
  const TagLib::ID3v2::FrameListMap& map = tag->frameListMap();
  const auto it = key != keys.end() ? map.find(key->second) : map.find(TagLib::ByteVector(id));
  return it != map.end() ? it->second : none;
}

QString TextOf(const TagLib::ID3v2::Tag* tag, const char* id) {
  const TagLib::ID3v2::FrameList& frames = FramesOf(tag, id);
  if (frames.isEmpty()) return QString();
  if (auto* text = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(frames.front()))
    return FromTagLib(text->fieldList().toString("/"), text->textEncoding());
  return FromTagLib(frames.front()->toString(), TagLib::String::UTF8);
}

// The comment the component reads and writes: one without a description, in any
// language. Players park their own data in described comments ("iTunNORM"...), which
// are neither shown nor overwritten.
TagLib::ID3v2::CommentsFrame* MainComment(const TagLib::ID3v2::Tag* tag) {
  for (TagLib::ID3v2::Frame* f : FramesOf(tag, "COMM")) {
    auto* c = dynamic_cast<TagLib::ID3v2::CommentsFrame*>(f);
    if (c && c->description().isEmpty()) return c;
  }
  return nullptr;
}

// The user URL: the first without a description, else the first.
TagLib::ID3v2::UserUrlLinkFrame* MainUrl(const TagLib::ID3v2::Tag* tag) {
  TagLib::ID3v2::UserUrlLinkFrame* first = nullptr;
  for (TagLib::ID3v2::Frame* f : FramesOf(tag, "WXXX")) {
    auto* u = dynamic_cast<TagLib::ID3v2::UserUrlLinkFrame*>(f);
    if (!u) continue;
    if (u->description().isEmpty()) return u;
    if (!first) first = u;
  }
  return first;
}

// v2.4 keeps the year in a time stamp (TDRC "2001-05-06T..."); TagLib also turns the
// v2.3 TYER into TDRC when it reads. A time stamp answers its year; other text stays as
// it was written.
QString YearOf(const id3::TFrameTexts& texts) {
  QString text = texts.text[id3::tfRecorded];
  if (text.isEmpty()) text = texts.text[id3::tfYear];
  // Without a hyphen there is no stamp; "2001-..." is the common one.
  if (!text.contains(QLatin1Char('-'))) return text;
  const auto ascii = [&](int i) { return text.at(i) >= u'0' && text.at(i) <= u'9'; };
  if (text.size() > 4 && ascii(0) && ascii(1) && ascii(2) && ascii(3) && text.at(4) == u'-')
    return text.left(4);
  static const QRegularExpression stamp(QStringLiteral("^(\\d{4})-"));
  QRegularExpressionMatch m = stamp.match(text);
  return m.hasMatch() ? m.captured(1) : text;
}

// The genre number of one TCON field: "(17)", "17", "(17)Rock" and "Rock" all give 17.
// Text that names no genre of the table, and numbers outside it, give -1.
int LookUpGenreOfField(QString s) {
  s = s.trimmed();
  if (s.startsWith(QLatin1Char('(')) && !s.startsWith(QLatin1String("(("))) {
    qsizetype close = s.indexOf(QLatin1Char(')'));
    if (close > 0) {
      bool ok = false;
      int n = s.mid(1, close - 1).toInt(&ok);
      if (ok && !lb::GenreName(n).isEmpty()) return n;
      s = s.mid(close + 1).trimmed();  // "(RX)Remix", "(255)Text": try the text
    }
  }
  if (s.isEmpty()) return -1;
  bool ok = false;
  int n = s.toInt(&ok);
  if (ok) return lb::GenreName(n).isEmpty() ? -1 : n;
  return lb::GenreNumber(s);
}
// The same, keeping the last answer of the thread: the songs of an album read one after
// another name the same genre.
int GenreOfField(const QString& field) {
  thread_local QString lastField;
  thread_local int lastNumber = LookUpGenreOfField(QString());
  if (field != lastField) {
    lastNumber = LookUpGenreOfField(field);
    lastField = field;
  }
  return lastNumber;
}

// The text of a TCON field that names no table genre: without its "(n)" references;
// empty when nothing but numbers is left.
QString GenreTextOfField(QString s) {
  s = s.trimmed();
  while (s.startsWith(QLatin1Char('(')) && !s.startsWith(QLatin1String("(("))) {
    const qsizetype close = s.indexOf(QLatin1Char(')'));
    if (close < 0) break;
    s = s.mid(close + 1).trimmed();
  }
  bool number = false;
  s.toLongLong(&number);
  return number ? QString() : s;
}

// The strings of the TCON frames to a genre number, and the genre's text when the
// ID3v1 table has no entry for it (then the number is lb::kGenreOutsideTable).
LONG GenreOf(const QStringList& fields, QString* outside) {
  outside->clear();
  for (const QString& field : fields) {
    int n = GenreOfField(field);
    if (n >= 0) return n;
    if (outside->isEmpty()) *outside = GenreTextOfField(field);
  }
  return outside->isEmpty() ? lb::kNoGenre : lb::kGenreOutsideTable;
}

// The texts of the frames the component shows, from a tag TagLib read.
id3::TFrameTexts FrameTextsOf(const TagLib::ID3v2::Tag* tag) {
  id3::TFrameTexts texts;
  texts.hasFrames = !tag->isEmpty();
  for (int f = 0; f < id3::tfTextFrameCount; ++f)
    texts.text[f] = TextOf(tag, id3::kTextFrameIds[f]);
  if (auto* c = MainComment(tag)) texts.comment = FromTagLib(c->text(), c->textEncoding());
  if (auto* u = MainUrl(tag)) texts.url = FromTagLib(u->url(), TagLib::String::Latin1);
  for (TagLib::ID3v2::Frame* f : FramesOf(tag, "TCON")) {
    if (auto* text = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(f)) {
      for (const TagLib::String& field : text->fieldList())
        texts.genres << FromTagLib(field, text->textEncoding());
    } else {
      texts.genres << FromTagLib(f->toString(), TagLib::String::UTF8);
    }
  }
  return texts;
}

// TRCK "5" or "5/12" gives 5; anything else 0.
LONG TrackNumberOf(const QString& trck) {
  const QStringView text = QStringView(trck).left(trck.indexOf(QLatin1Char('/'))).trimmed();
  bool ok = false;
  int n = text.toInt(&ok);
  return ok && n > 0 ? n : 0;
}

// ---- writing frames ----

// One changed field: its frame (TYER stands for the year in any form) and new text;
// empty text removes it.
struct Edit {
  QByteArray frameId;
  QString text;
};

void RemoveFrames(TagLib::ID3v2::Tag* tag, const QByteArray& id) {
  if (id == "TYER") {
    tag->removeFrames("TDRC");
    tag->removeFrames("TYER");
  } else if (id == "COMM") {
    while (TagLib::ID3v2::CommentsFrame* c = MainComment(tag)) tag->removeFrame(c, true);
  } else {
    tag->removeFrames(TagLib::ByteVector(id.constData(), static_cast<unsigned>(id.size())));
  }
}

void AddText(TagLib::ID3v2::Tag* tag, const char* id, const QString& text) {
  auto* frame = new TagLib::ID3v2::TextIdentificationFrame(id, TagLib::String::UTF16);
  frame->setText(ToTagLib(text));
  tag->addFrame(frame);  // the tag owns the frame from here
}

void ApplyEdit(TagLib::ID3v2::Tag* tag, const Edit& e, int version) {
  if (e.text.isEmpty()) {
    RemoveFrames(tag, e.frameId);
    return;
  }
  if (e.frameId == "COMM") {
    TagLib::ID3v2::CommentsFrame* c = MainComment(tag);
    if (!c) {
      c = new TagLib::ID3v2::CommentsFrame(TagLib::String::UTF16);
      c->setLanguage("eng");
      tag->addFrame(c);
    }
    c->setTextEncoding(TagLib::String::UTF16);
    c->setText(ToTagLib(e.text));
    return;
  }
  if (e.frameId == "WXXX") {
    TagLib::ID3v2::UserUrlLinkFrame* u = MainUrl(tag);
    if (!u) {
      u = new TagLib::ID3v2::UserUrlLinkFrame(TagLib::String::UTF16);
      tag->addFrame(u);
    }
    u->setUrl(ToTagLib(EncodeUrl(e.text)));
    return;
  }
  RemoveFrames(tag, e.frameId);
  // The year goes into the frame of the version written: TYER into a v2.3 tag as it
  // is (so even a year of fewer than four digits survives), TDRC into a v2.4 tag. A
  // full date goes in as a time stamp, which a v2.3 tag keeps as TYER with TDAT (and
  // TIME).
  static const QRegularExpression date(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}"));
  const bool year = e.frameId == "TYER";
  const bool stamp = year && (version == 4 || date.match(e.text).hasMatch());
  AddText(tag, stamp ? "TDRC" : e.frameId.constData(), e.text);
}

// The frames an edit of the field writes: the year lives in any of its frames, and a
// date read from TYER with TDAT or TIME is one time stamp in TagLib.
QList<QByteArray> FrameIdsOf(const QByteArray& frameId) {
  if (frameId == "TYER") return {"TYER", "TDRC", "TDAT", "TIME"};
  return {frameId};
}

// What a save replaced, for a later save to put back exactly: the frames of each changed
// field as the tag held them, in the version the tag is written in, or the values of the
// fields of another format's tag that held several.
struct THeldFields {
  int version = 0;                             // of the frames: 3 or 4
  QMap<QByteArray, QList<QByteArray>> frames;  // by the edit's frame id
  id3::TFieldValues values;                    // by frame id

  static constexpr quint32 kMagic = 0x4C424657;
  bool Empty() const { return frames.isEmpty() && values.isEmpty(); }
  QByteArray Bytes() const {
    if (Empty()) return QByteArray();
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << kMagic << qint32(version) << frames << values;
    return bytes;
  }
  static bool Parse(const QByteArray& bytes, THeldFields* held) {
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_0);
    quint32 magic = 0;
    qint32 version = 0;
    in >> magic >> version >> held->frames >> held->values;
    held->version = version;
    return in.status() == QDataStream::Ok && magic == kMagic;
  }
};

// The frames of the tag (TagLib's) that an edit of the field replaces: those of its
// identifiers, among comments only those without a description.
std::vector<TagLib::ID3v2::Frame*> FieldFrames(const TagLib::ID3v2::Tag* tag,
                                               const QByteArray& frameId) {
  std::vector<TagLib::ID3v2::Frame*> frames;
  const QList<QByteArray> ids = FrameIdsOf(frameId);
  for (TagLib::ID3v2::Frame* f : tag->frameList()) {
    const TagLib::ByteVector id = f->frameID();
    if (!ids.contains(QByteArray(id.data(), static_cast<qsizetype>(id.size())))) continue;
    auto* comment = dynamic_cast<TagLib::ID3v2::CommentsFrame*>(f);
    if (!comment || comment->description().isEmpty()) frames.push_back(f);
  }
  return frames;
}

// The field's frames as a v2.3 tag's bytes hold them (v2.3 frames whole); none when a
// comment's description cannot be told.
std::optional<QList<QByteArray>> WholeFieldFrames(const QList<QByteArray>& whole,
                                                  const QByteArray& frameId) {
  const QList<QByteArray> ids = FrameIdsOf(frameId);
  QList<QByteArray> frames;
  for (const QByteArray& f : whole) {
    if (!ids.contains(f.left(4))) continue;
    if (f.startsWith("COMM")) {
      const std::optional<bool> described = id3::CommentHasDescription(f);
      if (!described) return std::nullopt;
      if (*described) continue;
    }
    frames.append(f);
  }
  return frames;
}

// ---- the tag of one file, read through one open ----

using lb::TFileDescriptor;
// The tag's bytes are read with the platform's loop.
constexpr auto ReadAt = lb::ReadAllAt;

// A file for TagLib that is nothing but a tag's bytes.
class TTagBytesFile final : public TagLib::File {
 public:
  explicit TTagBytesFile(TagLib::IOStream* stream) : TagLib::File(stream) {}
  TagLib::Tag* tag() const override { return nullptr; }
  TagLib::AudioProperties* audioProperties() const override { return nullptr; }
  bool save() override { return false; }
};

// A tag parsed by TagLib from its bytes alone (an empty tag when there are none).
class TParsedTag {
 public:
  explicit TParsedTag(const QByteArray& bytes)
      : m_Bytes(bytes.constData(), static_cast<unsigned>(bytes.size())),
        m_Stream(m_Bytes),
        m_File(&m_Stream),
        m_Tag(bytes.isEmpty()
                  ? new TagLib::ID3v2::Tag
                  : new TagLib::ID3v2::Tag(&m_File, 0, TagLib::ID3v2::FrameFactory::instance())) {}
  TagLib::ID3v2::Tag* Tag() { return m_Tag.get(); }

 private:
  TagLib::ByteVector m_Bytes;
  TagLib::ByteVectorStream m_Stream;
  TTagBytesFile m_File;
  std::unique_ptr<TagLib::ID3v2::Tag> m_Tag;
};

// Puts the field's frames back as they were held (frames of a tag of that version) in
// place of those the tag holds now.
void PutFramesBack(TagLib::ID3v2::Tag* tag, const QByteArray& frameId,
                   const QList<QByteArray>& frames, int version) {
  for (TagLib::ID3v2::Frame* f : FieldFrames(tag, frameId)) tag->removeFrame(f, true);
  TParsedTag held(id3::TagOfFrames(frames, version));
  std::vector<TagLib::ID3v2::Frame*> moved;
  for (TagLib::ID3v2::Frame* f : held.Tag()->frameList()) moved.push_back(f);
  for (TagLib::ID3v2::Frame* f : moved) {
    held.Tag()->removeFrame(f, false);
    tag->addFrame(f);  // the tag owns the frame from here
  }
}

// What a file's head holds.
struct TFileTag {
  int64_t regionSize = 0;              // bytes of the tag at the start of the file (0: none)
  struct stat read {};                 // the file read (the batch's waiting copy of it)
  int version = 0;                     // major version of that tag
  bool damaged = false;                // TagLib could not read the whole tag
  std::unique_ptr<TParsedTag> parsed;  // the tag as read (salvaged frames when damaged)
  bool lean = false;                   // read without TagLib: `texts` holds it, `parsed` is null
  id3::TFrameTexts texts;
  QByteArray bytes;  // the tag as parsed (not kept by a lean read)
};

// LBTOOLS_ID3COM_CROSSCHECK (set by the tests) reads every tag that the lean reader
// takes through TagLib too, and stops the process on a difference.
bool CrossCheck() {
  static const bool on = qEnvironmentVariableIsSet("LBTOOLS_ID3COM_CROSSCHECK");
  return on;
}

void CrossCheckTexts(const QString& path, const TFileTag& file) {
  const id3::TFrameTexts taglib = FrameTextsOf(file.parsed->Tag());
  if (!file.damaged && taglib == file.texts) return;
  const auto show = [](const id3::TFrameTexts& t) {
    QStringList parts(t.text, t.text + id3::tfTextFrameCount);
    parts << t.comment << t.url << t.genres.join(QLatin1Char('|')) << QString::number(t.hasFrames);
    QByteArray shown;
    for (QChar c : parts.join(QLatin1String(" ; ")))
      shown += c.unicode() >= 0x20 && c.unicode() < 0x7F
                   ? QByteArray(1, char(c.unicode()))
                   : "\\u" + QByteArray::number(c.unicode(), 16).rightJustified(4, '0');
    return shown;
  };
  std::fprintf(stderr, "lean tag read differs from TagLib in %s\nlean:   %s\nTagLib: %s%s\n",
               QFile::encodeName(path).constData(), show(file.texts).constData(),
               show(taglib).constData(), file.damaged ? " (damaged)" : "");
  std::abort();
}

// Frames that TagLib folds into others when it reads a v2.3 tag.
bool FoldedOnRead(const TagLib::ByteVector& id) {
  return id == "TDAT" || id == "TIME";
}

// The text of a frame TagLib keeps as raw bytes: an encoding byte, then the text.
QString TextOfBody(const TagLib::ByteVector& body) {
  if (body.isEmpty()) return QString();
  const auto encoding = static_cast<TagLib::String::Type>(static_cast<unsigned char>(body[0]));
  if (encoding > TagLib::String::UTF8) return QString();
  QString text = FromTagLib(TagLib::String(body.mid(1), encoding), encoding);
  while (text.endsWith(QChar(0))) text.chop(1);
  return text;
}

// TagLib upgrades the frames of a v2.2 tag as it reads them, but keeps the date (TDA)
// and the time (TIM) as frames it cannot write, turns the recording dates (TRD) into a
// second time stamp that then takes the year's place, and the lyricist (TXT) into the
// original lyricist. They become the frames that hold them from v2.3 on, with the
// text as read. ids names the tag's frames in order, as they stand in the file.
void UpgradeV22Frames(TagLib::ID3v2::Tag* tag, const QList<QByteArray>& ids) {
  static const QMap<QByteArray, const char*> upgrades = {
      {"TDA", "TDAT"}, {"TIM", "TIME"}, {"TRD", "TRDA"}, {"TXT", "TEXT"}};
  std::vector<TagLib::ID3v2::Frame*> frames;
  for (TagLib::ID3v2::Frame* f : tag->frameList()) frames.push_back(f);
  if (frames.size() != static_cast<size_t>(ids.size())) return;
  for (size_t i = 0; i < frames.size(); ++i) {
    const char* upgraded = upgrades.value(ids[static_cast<qsizetype>(i)], nullptr);
    if (!upgraded) continue;
    QString text;
    if (auto* t = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(frames[i]))
      text = FromTagLib(t->fieldList().toString("/"), t->textEncoding());
    else if (auto* u = dynamic_cast<TagLib::ID3v2::UnknownFrame*>(frames[i]))
      text = TextOfBody(u->data());
    tag->removeFrame(frames[i], true);
    if (!text.isEmpty()) AddText(tag, upgraded, text);
  }
}

// Opens the file to read and fills facts (when asked) from the same open and fstat.
// Opening never waits (a FIFO named like a song is refused, not waited on).
HRESULT OpenForFacts(const QString& path, TFileDescriptor* fd, struct stat* st,
                     ID3ComFileFacts* facts) {
  fd->Reset(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd->Get() < 0) return errno == ENOENT ? kFileNotFound : E_ACCESSDENIED;
  if (::fstat(fd->Get(), st) != 0 || !S_ISREG(st->st_mode)) return E_ACCESSDENIED;
  if (facts) {
    const lb::TFileStamp stamp = lb::FileStampOf(*st);
    facts->size = stamp.size;
    facts->mtimeNs = stamp.mtimeNs;
    facts->device = stamp.id.device;
    if (st->st_size >= 128 &&
        !ReadAt(fd->Get(), reinterpret_cast<char*>(facts->tail), 128, st->st_size - 128))
      return E_FAIL;
  }
  return S_OK;
}

// Reads the tag at the head of the file; with facts, also what they ask for, through
// the same open and fstat. With `lean`, a tag of the common kind is read into
// result->texts only (no TagLib objects: nothing to write back through).
HRESULT ReadFileTag(const QString& path, TFileTag* result, ID3ComFileFacts* facts = nullptr,
                    bool lean = false) {
  if (facts) {
    *facts = ID3ComFileFacts{};
    facts->size = -1;
  }
  // A rewrite of the file that a crash cut short is undone first.
  lb::RecoverInterruptedRewrite(path);
  // A new content of the file waiting in the open batch is what the file holds from
  // the batch's end: it is read instead.
  const QString pending = lb::PendingCopyOf(path);
  TFileDescriptor fd;
  struct stat st;
  HRESULT hr = OpenForFacts(pending.isEmpty() ? path : pending, &fd, &st, facts);
  if (FAILED(hr)) return hr;
  result->read = st;
  // Most tags fit the first read; a larger one takes a second.
  char first[kFirstRead];
  const int64_t have = std::min<int64_t>(kFirstRead, st.st_size);
  if (!ReadAt(fd.Get(), first, have, 0)) return E_FAIL;
  id3::TTagHeader header;
  QByteArray bytes;
  bool borrowed = false;  // `bytes` may lie in `first`
  if (id3::ParseHeader(QByteArrayView(first, have), &header) &&
      header.completeSize <= kMaxTagSize) {
    const int64_t size = std::min<int64_t>(header.completeSize, st.st_size);
    if (size <= have) {
      bytes = QByteArray::fromRawData(first, size);  // read while `first` lives
      borrowed = true;
    } else {
      bytes.resize(size);
      std::memcpy(bytes.data(), first, have);
      if (!ReadAt(fd.Get(), bytes.data() + have, size - have, have)) return E_FAIL;
    }
    result->regionSize = size;
    result->version = header.major;
  }
  bytes = id3::WithoutExtendedHeader(bytes);
  // TagLib stops at the first frame it cannot read and drops the rest; a walk of our
  // own tells whether it read everything, and takes the frames around a broken one.
  id3::TFrameWalk walk = bytes.isEmpty() ? id3::TFrameWalk{} : id3::WalkFrames(bytes, false);
  result->lean = lean && id3::ReadFrameTexts(bytes, walk, &result->texts);
  if (result->lean && !CrossCheck()) return S_OK;
  result->parsed = std::make_unique<TParsedTag>(bytes);
  if (!lean) result->bytes = borrowed ? QByteArray(bytes.constData(), bytes.size()) : bytes;
  if (bytes.isEmpty()) return S_OK;
  int read = 0;
  for (TagLib::ID3v2::Frame* f : result->parsed->Tag()->frameList())
    read += result->version == 3 && FoldedOnRead(f->frameID()) ? 0 : 1;
  int folded = 0;
  if (result->version == 3 && read < walk.frames)
    for (const char* id : {"TDAT", "TIME"}) folded += bytes.contains(id) ? 1 : 0;
  if (walk.broken || (result->version > 2 && read < walk.frames - folded)) {
    result->damaged = true;
    walk = id3::WalkFrames(bytes, true);
    result->parsed = std::make_unique<TParsedTag>(walk.rebuilt);
  }
  if (result->version == 2) UpgradeV22Frames(result->parsed->Tag(), walk.ids);
  if (result->lean) CrossCheckTexts(path, *result);
  return S_OK;
}

// ---- the component ----

class TID3ComTag : public TComObject<IID3ComTag>,
                   public IID3ComCover,
                   public IID3ComCoverDetails,
                   public IID3ComFields,
                   public IID3ComFieldsAsWas {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv && riid == IID_IID3ComCover) {
      *ppv = static_cast<IID3ComCover*>(this);
      AddRef();
      return S_OK;
    }
    if (ppv && riid == IID_IID3ComCoverDetails) {
      *ppv = static_cast<IID3ComCoverDetails*>(this);
      AddRef();
      return S_OK;
    }
    if (ppv && riid == IID_IID3ComFields) {
      *ppv = static_cast<IID3ComFields*>(this);
      AddRef();
      return S_OK;
    }
    if (ppv && riid == IID_IID3ComFieldsAsWas) {
      *ppv = static_cast<IID3ComFieldsAsWas*>(this);
      AddRef();
      return S_OK;
    }
    return QueryOneInterface<IID3ComTag>(this, IID_IID3ComTag, riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return TComObject<IID3ComTag>::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return TComObject<IID3ComTag>::Release(); }

  // ---- IID3ComCover ----
  HRESULT STDMETHODCALLTYPE ReadCover(const unsigned char** data, LONG* size, BSTR* mime) override {
    if (!data || !size || !mime) return E_POINTER;
    std::lock_guard guard(m_Mutex);
    *data = nullptr;
    *size = 0;
    *mime = nullptr;
    if (!m_bLinked) return E_UNEXPECTED;
    try {
      id3::TCoverPicture cover;
      if (m_bOtherFormat) {
        const HRESULT hr = id3::ReadFormatCover(m_Path, &cover);
        if (FAILED(hr)) return hr;
      } else {
        TFileTag file;
        const HRESULT hr = ReadFileTag(m_Path, &file);
        if (FAILED(hr)) return hr;
        cover = id3::CoverOf(file.parsed->Tag());
      }
      m_ReadCover = cover.data;
      m_ReadCoverDetails = cover.details;
      *data = reinterpret_cast<const unsigned char*>(m_ReadCover.constData());
      *size = static_cast<LONG>(m_ReadCover.size());
      *mime = lb::BstrFromQString(cover.mime);
      return m_ReadCover.isEmpty() ? S_FALSE : cover.isCover ? S_OK : ID3COM_S_NOTCOVER;
    } catch (...) {
      return E_FAIL;
    }
  }
  HRESULT STDMETHODCALLTYPE PutCover(const unsigned char* data, LONG size) override {
    return StageCover(data, size, nullptr, false);
  }
  HRESULT STDMETHODCALLTYPE RemoveCover() override {
    std::lock_guard guard(m_Mutex);
    m_Cover = id3::TCoverChange{id3::TCoverChange::Remove, {}};
    return S_OK;
  }
  // ---- IID3ComCoverDetails ----
  HRESULT STDMETHODCALLTYPE GetCoverDetails(BSTR* description, LONG* type, LONG* encoding,
                                            BSTR* statedMime) override {
    if (!description || !type || !encoding || !statedMime) return E_POINTER;
    std::lock_guard guard(m_Mutex);
    *description = lb::BstrFromQString(m_ReadCoverDetails.description);
    *statedMime = lb::BstrFromQString(m_ReadCoverDetails.statedMime);
    *type = m_ReadCoverDetails.type;
    *encoding = m_ReadCoverDetails.encoding;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PutCoverAsWas(const unsigned char* data, LONG size, BSTR description,
                                          LONG type, LONG encoding, BSTR statedMime) override {
    const id3::TPictureDetails details{lb::QStringFromBstr(description), int(type), int(encoding),
                                       lb::QStringFromBstr(statedMime)};
    return StageCover(data, size, &details, false);
  }
  HRESULT STDMETHODCALLTYPE PutCoverBack(const unsigned char* data, LONG size, BSTR description,
                                         LONG type, LONG encoding, BSTR statedMime) override {
    const id3::TPictureDetails details{lb::QStringFromBstr(description), int(type), int(encoding),
                                       lb::QStringFromBstr(statedMime)};
    return StageCover(data, size, &details, true);
  }
  // What the next save puts in as the cover. A new picture must be of a kind viewers
  // show; one put back as it was came from the file and is taken as it is.
  HRESULT StageCover(const unsigned char* data, LONG size, const id3::TPictureDetails* asWas,
                     bool putBack) {
    if (!data && size > 0) return E_POINTER;
    if (size < 0 || size > lb::kMaxCoverBytes) return ID3COM_E_IMAGETOOLARGE;
    std::lock_guard guard(m_Mutex);
    return Guarded([&] {
      const QByteArray bytes(reinterpret_cast<const char*>(data), size);
      if (!asWas && lb::ImageMimeOf(bytes).isEmpty()) throw TNotImage();
      id3::TCoverChange change{id3::TCoverChange::Set, bytes};
      if (asWas) change.asWas = *asWas;
      change.putBack = putBack;
      m_Cover = change;
    });
  }

  // ---- IID3ComFieldsAsWas ----
  HRESULT STDMETHODCALLTYPE GetReplacedFields(const unsigned char** data, LONG* size) override {
    if (!data || !size) return E_POINTER;
    std::lock_guard guard(m_Mutex);
    *data = reinterpret_cast<const unsigned char*>(m_Replaced.constData());
    *size = static_cast<LONG>(m_Replaced.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PutFieldsBack(const unsigned char* data, LONG size) override {
    if (!data && size > 0) return E_POINTER;
    std::lock_guard guard(m_Mutex);
    bool valid = true;
    const HRESULT hr = Guarded([&] {
      THeldFields held;
      valid = size == 0 ||
              THeldFields::Parse(QByteArray(reinterpret_cast<const char*>(data), size), &held);
      if (valid) m_PutBack = held;
    });
    return FAILED(hr) ? hr : valid ? S_OK : E_INVALIDARG;
  }

  HRESULT STDMETHODCALLTYPE Link(BSTR fileName) override { return LinkFile(fileName, nullptr); }

  HRESULT STDMETHODCALLTYPE LinkFile(BSTR fileName, ID3ComFileFacts* facts) override {
    std::lock_guard guard(m_Mutex);
    ResetTag();
    m_Path = lb::QStringFromBstr(fileName);
    m_bLinked = !m_Path.isEmpty();
    m_bFileHasTag = false;
    m_bDamaged = false;
    m_bOtherFormat = m_bLinked && id3::IsFormatTagFile(m_Path);
    m_Kind = m_bLinked ? QStringLiteral("ID3v2") : QString();
    if (!m_bLinked) return E_INVALIDARG;
    try {
      return ReadFile(facts);
    } catch (...) {
      ResetTag();
      return E_FAIL;
    }
  }

  HRESULT STDMETHODCALLTYPE Clear() override {
    std::lock_guard guard(m_Mutex);
    ResetTag();
    m_bCleared = true;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE SaveV2Tag() override {
    std::lock_guard guard(m_Mutex);
    if (!m_bLinked) return E_UNEXPECTED;
    try {
      return WriteFile();
    } catch (...) {
      return E_FAIL;
    }
  }

  HRESULT STDMETHODCALLTYPE get_HasV2Tag(VARIANT_BOOL* has) override {
    if (!has) return E_POINTER;
    std::lock_guard guard(m_Mutex);
    *has = m_bFileHasTag ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE get_TagKind(BSTR* kind) override {
    if (!kind) return E_POINTER;
    std::lock_guard guard(m_Mutex);
    *kind = lb::BstrFromQString(m_Kind);
    return *kind || m_Kind.isEmpty() ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT STDMETHODCALLTYPE RemoveFrameByID(LONG frameId) override {
    std::lock_guard guard(m_Mutex);
    switch (frameId) {
      case ID3FID_BAND:
      case ID3FID_CONDUCTOR:
        // Only with the artist: a band or conductor frame goes when the lead artist
        // the file had was removed.
        if (m_Read[fArtist].isEmpty() || !m_Text[fArtist].isEmpty()) return S_OK;
        return Guarded([&] {
          const char* id = frameId == ID3FID_BAND ? "TPE2" : "TPE3";
          m_Edits[id] = Edit{id, {}};
        });
      default:
        break;
    }
    for (int f = 0; f < fFieldCount; ++f) {
      if (FieldFrameId(f) == frameId) return Guarded([&] { SetField(f, QString()); });
    }
    return E_INVALIDARG;
  }

  HRESULT STDMETHODCALLTYPE GetFields(ID3ComFields* fields) override {
    if (!fields) return E_POINTER;
    std::lock_guard guard(m_Mutex);
    *fields = ID3ComFields{};
    bool ok = true;
    const auto text = [&ok](const QString& value) -> BSTR {
      if (value.isEmpty()) return nullptr;
      BSTR b = lb::BstrFromQString(value);
      ok = ok && b;
      return b;
    };
    fields->hasV2Tag = m_bFileHasTag ? VARIANT_TRUE : VARIANT_FALSE;
    BSTR* const texts[] = {&fields->title,      &fields->artist,    &fields->album,
                           &fields->year,       &fields->comment,   &fields->composer,
                           &fields->origArtist, &fields->copyright, &fields->url,
                           &fields->encodedBy};
    static_assert(std::size(texts) == fFieldCount);
    for (int f = 0; f < fFieldCount; ++f) *texts[f] = text(m_Text[f]);
    fields->genre = m_Genre;
    fields->genreText = text(m_GenreText);
    fields->track = m_Track;
    fields->trackText = text(m_TrackText);
    if (ok) return S_OK;
    for (BSTR* b : texts) SysFreeString(*b);
    SysFreeString(fields->genreText);
    SysFreeString(fields->trackText);
    *fields = ID3ComFields{};
    return E_OUTOFMEMORY;
  }

  HRESULT STDMETHODCALLTYPE get_Title(BSTR* v) override { return Get(fTitle, v); }
  HRESULT STDMETHODCALLTYPE put_Title(BSTR v) override { return Put(fTitle, v); }
  HRESULT STDMETHODCALLTYPE get_Artist(BSTR* v) override { return Get(fArtist, v); }
  HRESULT STDMETHODCALLTYPE put_Artist(BSTR v) override { return Put(fArtist, v); }
  HRESULT STDMETHODCALLTYPE get_Album(BSTR* v) override { return Get(fAlbum, v); }
  HRESULT STDMETHODCALLTYPE put_Album(BSTR v) override { return Put(fAlbum, v); }
  HRESULT STDMETHODCALLTYPE get_Year(BSTR* v) override { return Get(fYear, v); }
  HRESULT STDMETHODCALLTYPE put_Year(BSTR v) override { return Put(fYear, v); }
  HRESULT STDMETHODCALLTYPE get_Comment(BSTR* v) override { return Get(fComment, v); }
  HRESULT STDMETHODCALLTYPE put_Comment(BSTR v) override { return Put(fComment, v); }
  HRESULT STDMETHODCALLTYPE get_Composer(BSTR* v) override { return Get(fComposer, v); }
  HRESULT STDMETHODCALLTYPE put_Composer(BSTR v) override { return Put(fComposer, v); }
  HRESULT STDMETHODCALLTYPE get_OrigArtist(BSTR* v) override { return Get(fOrigArt, v); }
  HRESULT STDMETHODCALLTYPE put_OrigArtist(BSTR v) override { return Put(fOrigArt, v); }
  HRESULT STDMETHODCALLTYPE get_Copyright(BSTR* v) override { return Get(fCopyright, v); }
  HRESULT STDMETHODCALLTYPE put_Copyright(BSTR v) override { return Put(fCopyright, v); }
  HRESULT STDMETHODCALLTYPE get_URL(BSTR* v) override { return Get(fURL, v); }
  HRESULT STDMETHODCALLTYPE put_URL(BSTR v) override { return Put(fURL, v); }
  HRESULT STDMETHODCALLTYPE get_EncodedBy(BSTR* v) override { return Get(fEncodedBy, v); }
  HRESULT STDMETHODCALLTYPE put_EncodedBy(BSTR v) override { return Put(fEncodedBy, v); }

  HRESULT STDMETHODCALLTYPE get_Genre(LONG* value) override {
    if (!value) return E_POINTER;
    std::lock_guard guard(m_Mutex);
    *value = m_Genre;
    return S_OK;
  }
  // 255, and any number outside the table, removes the genre; a genre is written as its
  // name, which every player reads. The genre Link read, and lb::kGenreOutsideTable, leave
  // the genre as the file has it.
  HRESULT STDMETHODCALLTYPE put_Genre(LONG value) override {
    std::lock_guard guard(m_Mutex);
    return Guarded([&] {
      if (value == lb::kGenreOutsideTable) {
        m_Genre = m_ReadGenre;
        m_GenreText = m_ReadGenreText;
        m_Edits.remove("TCON");
        return;
      }
      QString name = lb::GenreName(value);
      m_Genre = name.isEmpty() ? lb::kNoGenre : value;
      m_GenreText.clear();
      if (m_Genre == m_ReadGenre)
        m_Edits.remove("TCON");
      else
        m_Edits["TCON"] = Edit{"TCON", name};
    });
  }
  HRESULT STDMETHODCALLTYPE get_GenreText(BSTR* value) override {
    if (!value) return E_POINTER;
    std::lock_guard guard(m_Mutex);
    *value = lb::BstrFromQString(m_GenreText);
    return *value ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE put_GenreText(BSTR value) override {
    const QString text = lb::QStringFromBstr(value).trimmed();
    const int number = text.isEmpty() ? lb::kNoGenre : GenreOfField(text);
    if (number >= 0) return put_Genre(number);
    std::lock_guard guard(m_Mutex);
    m_Genre = lb::kGenreOutsideTable;
    m_GenreText = text;
    if (m_ReadGenre == lb::kGenreOutsideTable && text == m_ReadGenreText)
      m_Edits.remove("TCON");
    else
      m_Edits["TCON"] = Edit{"TCON", text};
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Track(LONG* value) override {
    if (!value) return E_POINTER;
    std::lock_guard guard(m_Mutex);
    *value = m_Track;
    return S_OK;
  }
  // 0 (or less) removes the track number; the number Link read ("3/10" reads 3) is
  // left as the file has it. A new number keeps the total the file gave ("3/12" put to
  // 4 gives "4/12"), as the other formats' tags keep theirs.
  HRESULT STDMETHODCALLTYPE put_Track(LONG value) override {
    std::lock_guard guard(m_Mutex);
    return Guarded([&] {
      m_Track = value > 0 ? value : 0;
      if (m_Track == m_ReadTrack) {
        m_TrackText = m_ReadTrackText;
        m_Edits.remove("TRCK");
      } else {
        m_TrackText = m_Track ? QString::number(m_Track) : QString();
        const qsizetype slash = m_ReadTrackText.indexOf(QLatin1Char('/'));
        if (m_Track && slash >= 0 && !m_bOtherFormat) m_TrackText += m_ReadTrackText.mid(slash);
        m_Edits["TRCK"] = Edit{"TRCK", m_TrackText};
      }
    });
  }
  HRESULT STDMETHODCALLTYPE get_TrackText(BSTR* value) override {
    if (!value) return E_POINTER;
    std::lock_guard guard(m_Mutex);
    *value = lb::BstrFromQString(m_TrackText);
    return *value ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE put_TrackText(BSTR value) override {
    std::lock_guard guard(m_Mutex);
    return Guarded([&] {
      m_TrackText = lb::QStringFromBstr(value).trimmed();
      m_Track = TrackNumberOf(m_TrackText);
      if (m_TrackText == m_ReadTrackText)
        m_Edits.remove("TRCK");
      else
        m_Edits["TRCK"] = Edit{"TRCK", m_TrackText};
    });
  }

 private:
  static LONG FieldFrameId(int f) {
    static const LONG ids[fFieldCount] = {
        ID3FID_TITLE,    ID3FID_LEADARTIST, ID3FID_ALBUM,     ID3FID_YEAR,    ID3FID_COMMENT,
        ID3FID_COMPOSER, ID3FID_ORIGARTIST, ID3FID_COPYRIGHT, ID3FID_WWWUSER, ID3FID_ENCODEDBY};
    return ids[f];
  }

  HRESULT Get(int f, BSTR* value) {
    if (!value) return E_POINTER;
    std::lock_guard guard(m_Mutex);
    *value = lb::BstrFromQString(m_Text[f]);
    return *value ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT Put(int f, BSTR value) {
    std::lock_guard guard(m_Mutex);
    return Guarded([&] { SetField(f, lb::QStringFromBstr(value)); });
  }

  struct TNotImage {};

  // Runs a change of the tag's view: no exception (memory running out) crosses the
  // interface into the caller.
  template <class Change>
  static HRESULT Guarded(Change&& change) {
    try {
      change();
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (const TNotImage&) {
      return ID3COM_E_NOTIMAGE;
    } catch (...) {
      return E_FAIL;
    }
  }

  // Empty text removes the field's frames; the text Link read changes nothing.
  void SetField(int f, const QString& text) {
    m_Text[f] = text;
    if (text == m_Read[f])
      m_Edits.remove(kFieldFrame[f]);
    else
      m_Edits[kFieldFrame[f]] = Edit{kFieldFrame[f], text};
  }

  void ResetTag() {
    for (QString& t : m_Text) t.clear();
    for (QString& t : m_Read) t.clear();
    m_Genre = m_ReadGenre = lb::kNoGenre;
    m_Track = m_ReadTrack = 0;
    m_GenreText.clear();
    m_ReadGenreText.clear();
    m_TrackText.clear();
    m_ReadTrackText.clear();
    m_Edits.clear();
    m_bCleared = false;
    m_Cover = id3::TCoverChange{};
    m_PutBack = THeldFields{};
    m_Replaced.clear();
  }

  // A file of another format: its main tag through FormatTag, read as the same fields.
  HRESULT ReadOtherFile(ID3ComFileFacts* facts) {
    if (facts) {
      *facts = ID3ComFileFacts{};
      facts->size = -1;
    }
    lb::RecoverInterruptedRewrite(m_Path);
    // The facts and the tag through one open.
    TFileDescriptor fd;
    struct stat st;
    HRESULT hr = OpenForFacts(m_Path, &fd, &st, facts);
    if (FAILED(hr)) return hr;
    id3::TFormatTag tag;
    hr = id3::ReadFormatTag(m_Path, &tag, fd.Get());
    if (FAILED(hr)) return hr;
    m_Kind = tag.kind;
    m_bFileHasTag = tag.hasTag;
    for (int f = 0; f < fFieldCount; ++f) m_Read[f] = m_Text[f] = tag.values.value(kFieldFrame[f]);
    // A genre of the ID3v1 table gives its number; any other text (a free-text genre,
    // several genres joined) is the genre as the file has it.
    const QString genre = tag.values.value("TCON").trimmed();
    const int number = genre.isEmpty() ? -1 : GenreOfField(genre);
    m_Genre = m_ReadGenre = number >= 0       ? number
                            : genre.isEmpty() ? lb::kNoGenre
                                              : lb::kGenreOutsideTable;
    m_GenreText = m_ReadGenreText = m_Genre == lb::kGenreOutsideTable ? genre : QString();
    m_TrackText = m_ReadTrackText = tag.values.value("TRCK").trimmed();
    m_Track = m_ReadTrack = TrackNumberOf(m_TrackText);
    return S_OK;
  }

  HRESULT ReadFile(ID3ComFileFacts* facts) {
    if (m_bOtherFormat) return ReadOtherFile(facts);
    TFileTag file;
    HRESULT hr = ReadFileTag(m_Path, &file, facts, true);
    if (FAILED(hr)) return hr;
    const id3::TFrameTexts texts = file.lean ? file.texts : FrameTextsOf(file.parsed->Tag());
    m_bDamaged = !file.lean && file.damaged;
    m_bFileHasTag = m_bDamaged || texts.hasFrames;
    if (!m_bFileHasTag) return S_OK;
    m_Text[fTitle] = texts.text[id3::tfTitle];
    m_Text[fArtist] = texts.text[id3::tfArtist];
    m_Text[fAlbum] = texts.text[id3::tfAlbum];
    m_Text[fYear] = YearOf(texts);
    m_Text[fComment] = texts.comment;
    m_Text[fComposer] = texts.text[id3::tfComposer];
    m_Text[fOrigArt] = texts.text[id3::tfOrigArtist];
    m_Text[fCopyright] = texts.text[id3::tfCopyright];
    m_Text[fURL] = DecodeUrl(texts.url);
    m_Text[fEncodedBy] = texts.text[id3::tfEncodedBy];
    for (int f = 0; f < fFieldCount; ++f) m_Read[f] = m_Text[f];
    m_Genre = m_ReadGenre = GenreOf(texts.genres, &m_GenreText);
    m_ReadGenreText = m_GenreText;
    m_TrackText = m_ReadTrackText = texts.text[id3::tfTrack].trimmed();
    m_Track = m_ReadTrack = TrackNumberOf(m_TrackText);
    return S_OK;
  }

  // A file without write permission for its owner counts as read-only even for a
  // process that could write it anyway (root), as the read-only attribute does.
  bool IsWritable() const {
    struct stat st;
    const QByteArray name = QFile::encodeName(m_Path);
    return ::stat(name.constData(), &st) == 0 && (st.st_mode & S_IWUSR) &&
           ::access(name.constData(), W_OK) == 0;
  }

  HRESULT WriteOtherFile() {
    m_Replaced.clear();
    if (!m_bCleared && m_Edits.isEmpty() && m_Cover.kind == id3::TCoverChange::None)
      return S_OK;  // nothing changed
    if (!IsWritable()) return E_ACCESSDENIED;
    QMap<QByteArray, QString> edits;
    // The band and conductor frames an MP3 loses with its artist have no counterpart:
    // the album artist and conductor of other tags stay.
    for (const Edit& e : m_Edits)
      if (e.frameId != "TPE2" && e.frameId != "TPE3") edits.insert(e.frameId, e.text);
    // The fields and the cover change in one copy of the file.
    const id3::TCoverChange& cover = m_Cover;
    THeldFields replaced;
    const HRESULT hr = m_bCleared || !edits.isEmpty()
                           ? id3::WriteFormatTag(
                                 m_Path, edits, m_bCleared,
                                 [&cover](TagLib::File* f) { return id3::PutCoverInto(f, cover); },
                                 &m_PutBack.values, &replaced.values)
                           : id3::WriteFormatCover(m_Path, m_Cover);
    if (FAILED(hr)) return hr;
    id3::TFormatTag after;
    m_bFileHasTag = SUCCEEDED(id3::ReadFormatTag(m_Path, &after)) && after.hasTag;
    Saved();
    m_Replaced = replaced.Bytes();
    return S_OK;
  }

  // What was written is what the file holds now.
  void Saved() {
    m_bDamaged = false;
    m_Edits.clear();
    m_bCleared = false;
    m_Cover = id3::TCoverChange{};
    m_PutBack = THeldFields{};
    for (int f = 0; f < fFieldCount; ++f) m_Read[f] = m_Text[f];
    m_ReadGenre = m_Genre;
    m_ReadTrack = m_Track;
    m_ReadGenreText = m_GenreText;
    m_ReadTrackText = m_TrackText;
  }

  // The tag is read without the file's lock and written under it: when another writer
  // changed the file in between, the edits are made once more on what it holds then.
  HRESULT WriteFile() {
    if (m_bOtherFormat) return WriteOtherFile();
    bool changed = false;
    HRESULT hr = WriteFileOnce(&changed);
    if (changed) hr = WriteFileOnce(&changed);
    return hr;
  }

  HRESULT WriteFileOnce(bool* changed) {
    *changed = false;
    m_Replaced.clear();
    TFileTag file;
    HRESULT hr = ReadFileTag(m_Path, &file);
    if (FAILED(hr)) return hr;
    if (!m_bCleared && m_Edits.isEmpty() && m_Cover.kind == id3::TCoverChange::None)
      return S_OK;  // nothing changed
    if (!IsWritable()) return E_ACCESSDENIED;
    // A tag read only in part would lose the rest: it may be removed, never rewritten.
    if (file.damaged && !m_bCleared) return ID3COM_E_DAMAGEDTAG;
    TagLib::ID3v2::Tag* tag = file.parsed->Tag();
    const int version = file.version == 4 ? 4 : 3;
    const THeldFields replaced = HeldFrames(file, version);
    // The frames put back as they were: of the fields edited, in this tag's version.
    QMap<QByteArray, QList<QByteArray>> putBack;
    if (m_PutBack.version == version)
      for (const Edit& e : m_Edits)
        if (m_PutBack.frames.contains(e.frameId))
          putBack.insert(e.frameId, m_PutBack.frames.value(e.frameId));
    if (m_bCleared) {
      // Collected first: removal edits the tag's list. (A TagLib::List copy would share
      // the tag's auto-deleting storage and delete the frames a second time.)
      std::vector<TagLib::ID3v2::Frame*> all;
      for (TagLib::ID3v2::Frame* f : tag->frameList()) all.push_back(f);
      for (TagLib::ID3v2::Frame* f : all) tag->removeFrame(f, true);
    }
    for (const Edit& e : m_Edits) {
      if (putBack.contains(e.frameId))
        PutFramesBack(tag, e.frameId, putBack.value(e.frameId), version);
      else
        ApplyEdit(tag, e, version);
    }
    id3::ApplyCover(tag, m_Cover);
    const bool nowHasTag = !tag->isEmpty();
    QByteArray head;
    if (nowHasTag) {
      const TagLib::ByteVector rendered =
          tag->render(version == 4 ? TagLib::ID3v2::v4 : TagLib::ID3v2::v3);
      head = QByteArray(rendered.data(), static_cast<qsizetype>(rendered.size()));
      if (version == 3) {
        GenreAsUnicode(&head);
        if (!m_bCleared) KeepUntouchedFrames(file.bytes, putBack, &head);
      }
      // A new tag, or one that outgrows its place, gets room for the next edits, so that
      // they are written over it in place.
      PadTo(&head, head.size() > file.regionSize ? head.size() + kGrowthPadding : file.regionSize);
    }
    if (!(head.isEmpty() && file.regionSize == 0) &&
        !id3::ReplaceFileHead(m_Path, file.regionSize, head, &file.read, changed))
      return E_FAIL;
    m_bFileHasTag = nowHasTag;
    Saved();
    // The fields put back read as the file holds them now (several values, say), not as
    // the texts put.
    if (!putBack.isEmpty()) {
      ResetTag();
      hr = ReadFile(nullptr);
    }
    m_Replaced = replaced.Bytes();
    return SUCCEEDED(hr) ? S_OK : hr;
  }

  // The frames of the fields this write edits as the file holds them, for an undo to put
  // back: a v2.3 tag's with their bytes, the others as TagLib renders them in the version
  // written. None when the tag is removed.
  THeldFields HeldFrames(const TFileTag& file, int version) const {
    THeldFields held;
    held.version = version;
    if (m_Edits.isEmpty()) return held;
    std::optional<QList<QByteArray>> whole =
        file.version == 3 ? id3::WholeV23Frames(file.bytes) : std::nullopt;
    if (!whole) {
      TagLib::ID3v2::Tag* tag = file.parsed->Tag();
      if (std::all_of(m_Edits.begin(), m_Edits.end(),
                      [&](const Edit& e) { return FieldFrames(tag, e.frameId).empty(); }))
        return held;
      const TagLib::ByteVector rendered =
          tag->render(version == 4 ? TagLib::ID3v2::v4 : TagLib::ID3v2::v3);
      const QByteArray bytes(rendered.data(), static_cast<qsizetype>(rendered.size()));
      const id3::TFrameWalk walk = id3::WalkFrames(bytes, false);
      whole.emplace();
      for (const id3::TFrameSpan& span : walk.spans)
        whole->append(bytes.mid(id3::kHeaderSize + span.pos, 10 + span.size));
    }
    for (const Edit& e : m_Edits) {
      const std::optional<QList<QByteArray>> frames = WholeFieldFrames(*whole, e.frameId);
      if (frames && !frames->isEmpty()) held.frames.insert(e.frameId, *frames);
    }
    return held;
  }

  // The frames this write's edits and cover change may alter: every frame of one of
  // these identifiers is taken as TagLib wrote it.
  QSet<QByteArray> TouchedFrameIds() const {
    QSet<QByteArray> ids;
    for (const Edit& e : m_Edits)
      for (const QByteArray& id : FrameIdsOf(e.frameId)) ids.insert(id);
    if (m_Cover.kind != id3::TCoverChange::None) ids.insert("APIC");
    return ids;
  }

  // TagLib cannot write every frame a v2.3 tag holds: it drops the v2.3 frames it reads
  // as outdated (RVAD, EQUA, TSIZ, TRDA), the v2.4 frames that other taggers leave in
  // v2.3 tags (TMOO, TSST, RVA2...), genres it cannot express, and it writes a full
  // original date (TDOR) as its year alone (TORY). So the tag written keeps every
  // frame the write does not touch with the bytes the file held, where it stood, and
  // takes from TagLib's rendered tag only the frames of the touched identifiers (for
  // the comment, only the one without a description: described comments are never
  // edited); the frames of a field put back are taken as they were held. Frames marked to
  // be discarded when the tag is altered go, as TagLib lets them go. A tag whose frames
  // cannot all be taken whole is left as TagLib wrote it.
  void KeepUntouchedFrames(const QByteArray& original,
                           const QMap<QByteArray, QList<QByteArray>>& putBack,
                           QByteArray* head) const {
    const std::optional<QList<QByteArray>> before = id3::WholeV23Frames(original);
    const std::optional<QList<QByteArray>> after = id3::WholeV23Frames(*head);
    if (!before || !after) return;
    const QSet<QByteArray> touched = TouchedFrameIds();
    bool unreadable = false;
    const auto edited = [&](const QByteArray& frame) {
      const QByteArray id = frame.left(4);
      if (!touched.contains(id)) return false;
      if (id != "COMM") return true;
      const std::optional<bool> described = id3::CommentHasDescription(frame);
      unreadable = unreadable || !described;
      return !described.value_or(false);
    };
    // The frames put back by identifier (an identifier of such a field without one
    // has none).
    QMap<QByteArray, QList<QByteArray>> held;
    for (auto it = putBack.begin(); it != putBack.end(); ++it) {
      for (const QByteArray& id : FrameIdsOf(it.key())) held[id];
      for (const QByteArray& f : it.value()) held[f.left(4)].append(f);
    }
    QList<QByteArray> frames;
    QSet<QByteArray> placed;  // touched identifiers whose new frames are in place
    const auto place = [&](const QByteArray& id) {
      if (placed.contains(id)) return;
      placed.insert(id);
      if (held.contains(id)) {
        frames.append(held.value(id));
        return;
      }
      for (const QByteArray& f : *after)
        if (f.startsWith(id) && edited(f)) frames.append(f);
    };
    for (const QByteArray& f : *before) {
      if (edited(f))
        place(f.left(4));
      else if (!(static_cast<unsigned char>(f[8]) & 0x80))  // kept unless the tag alters
        frames.append(f);
    }
    for (const QByteArray& f : *after)
      if (edited(f)) place(f.left(4));
    for (auto it = held.begin(); it != held.end(); ++it) place(it.key());
    if (unreadable) return;  // a comment's description is unknown: as TagLib wrote it
    *head = id3::TagOfFrames(frames, 3);
  }

  // TagLib puts the genre of a v2.3 tag in ISO-8859-1 whenever its text allows; text in
  // ISO-8859-1 reads in the tag code page here, so a genre with accented Latin letters
  // ("Café") goes back as UTF-16.
  static void GenreAsUnicode(QByteArray* head) {
    const auto bigEndian = [](const char* p) {
      return (uint32_t(uint8_t(p[0])) << 24) | (uint32_t(uint8_t(p[1])) << 16) |
             (uint32_t(uint8_t(p[2])) << 8) | uint32_t(uint8_t(p[3]));
    };
    const auto syncSafe = [](const char* p) {
      return (uint32_t(uint8_t(p[0]) & 0x7F) << 21) | (uint32_t(uint8_t(p[1]) & 0x7F) << 14) |
             (uint32_t(uint8_t(p[2]) & 0x7F) << 7) | uint32_t(uint8_t(p[3]) & 0x7F);
    };
    if (head->size() < id3::kHeaderSize) return;
    const qsizetype end = id3::kHeaderSize + syncSafe(head->constData() + 6);
    qsizetype pos = id3::kHeaderSize;
    while (pos + 10 <= std::min(end, head->size()) && head->at(pos) != 0) {
      const qsizetype size = bigEndian(head->constData() + pos + 4);
      if (pos + 10 + size > end) return;
      if (head->mid(pos, 4) == "TCON") {
        if (size < 2 || head->at(pos + 10) != 0) return;  // empty, or not ISO-8859-1
        QByteArray text = head->mid(pos + 11, size - 1);
        if (std::none_of(text.begin(), text.end(), [](char c) { return uint8_t(c) >= 0x80; }))
          return;
        while (text.endsWith('\0')) text.chop(1);
        const QString genre = QString::fromLatin1(text);
        QByteArray payload("\x01\xFF\xFE", 3);
        for (QChar c : genre)
          payload.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
        const qsizetype delta = payload.size() - size;
        head->replace(pos + 10, size, payload);
        const uint32_t n = static_cast<uint32_t>(payload.size());
        const char frameSize[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
        head->replace(pos + 4, 4, QByteArray(frameSize, 4));
        head->replace(6, 4, id3::SyncSafe(static_cast<uint32_t>(end + delta - id3::kHeaderSize)));
        return;
      }
      pos += 10 + size;
    }
  }

  // The padding a new or grown tag gets beyond what TagLib leaves.
  static constexpr int64_t kGrowthPadding = 4096;

  // Pads the rendered tag with zeros up to size (a tag shorter than the old one thus
  // takes its place, so that only the tag's bytes are written and the audio stays where
  // it is). A footer goes, as padding and a footer exclude each other.
  static void PadTo(QByteArray* head, int64_t size) {
    const bool footer = ((*head)[5] & 0x10) != 0;
    const int64_t extra = size - (head->size() - (footer ? id3::kHeaderSize : 0));
    if (extra <= 0 || extra > id3::kCopyChunk) return;
    if (footer) head->chop(id3::kHeaderSize);
    head->append(QByteArray(extra, '\0'));
    const QByteArray tagSize =
        id3::SyncSafe(static_cast<uint32_t>(head->size() - id3::kHeaderSize));
    head->replace(6, 4, tagSize);
    (*head)[5] = static_cast<char>((*head)[5] & ~0x10);
  }

  std::mutex m_Mutex;
  QString m_Path;
  bool m_bLinked = false;
  bool m_bFileHasTag = false;
  bool m_bDamaged = false;
  bool m_bOtherFormat = false;  // not MP3: the main tag goes through FormatTag
  QString m_Kind;
  QString m_Text[fFieldCount];
  QString m_Read[fFieldCount];  // as Link (or the last save) found them
  LONG m_Genre = lb::kNoGenre, m_ReadGenre = lb::kNoGenre;
  LONG m_Track = 0, m_ReadTrack = 0;
  QString m_GenreText, m_ReadGenreText;     // a genre the table lacks
  QString m_TrackText, m_ReadTrackText;     // the track frame's text
  bool m_bCleared = false;                  // every frame of the file goes before the edits apply
  QMap<QByteArray, Edit> m_Edits;           // the changed fields by frame
  id3::TCoverChange m_Cover;                // what the next save does with the cover
  THeldFields m_PutBack;                    // fields the next save puts back as they were
  QByteArray m_Replaced;                    // what the last save replaced (THeldFields)
  QByteArray m_ReadCover;                   // the bytes ReadCover last handed out
  id3::TPictureDetails m_ReadCoverDetails;  // and how the file held them
};

const lb::ClassRegistration& Registration() {
  static const lb::ClassRegistration reg{
      CLSID_ID3ComTag, QStringLiteral("ID3ComTag Class"), QString::fromLatin1(kID3ComProgId),
      QString(),       QStringLiteral("Apartment"),       QString(),
      QString()};
  return reg;
}

}  // namespace

LB_SERVER_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (clsid != CLSID_ID3ComTag) return CLASS_E_CLASSNOTAVAILABLE;
  return lb::ServeClassObject<TClassFactory<TID3ComTag>>(riid, ppv);
}

LB_SERVER_EXPORT HRESULT DllCanUnloadNow() {
  return lb::ModuleCanUnload() ? S_OK : S_FALSE;
}

LB_SERVER_EXPORT HRESULT DllRegisterServer() {
  QString path = lb::ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer));
  if (path.isEmpty()) return SELFREG_E_CLASS;
  return lb::RegisterInprocClass(Registration(), path);
}

LB_SERVER_EXPORT HRESULT DllUnregisterServer() {
  return lb::UnregisterInprocClass(Registration());
}
