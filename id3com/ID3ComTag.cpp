// The ID3Com component over TagLib.
//
// Link reads the file's ID3v2 tag (v2.2, 2.3 or 2.4) into a small view of the twelve
// fields the program uses. Setters and frame removals change that view and are also
// kept, in order, as edits. SaveV2Tag opens the file again, applies the edits to the
// tag found there (after removing every frame when Clear was called), and writes the
// result as ID3v2.3: frames the program does not know (pictures, lyrics...) survive a
// save, and an empty tag removes the ID3v2 tag. The ID3v1 tag at the end of the file is
// never touched: the program writes it itself.
//
// A save edits an in-memory copy of the whole file and puts it in place with an atomic
// rename, so a failure at any point leaves the original file as it was.
#include "id3com/ID3Com.h"

#include "com/Server.h"
#include "platform/Genres.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <taglib/commentsframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tiostream.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfilestream.h>
#include <taglib/urllinkframe.h>

#include <algorithm>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace {

constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002u);  // from Win32 error 2

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

QString FromTagLib(const TagLib::String& s) {
  return QString::fromStdString(s.to8Bit(true));
}
TagLib::String ToTagLib(const QString& s) {
  return TagLib::String(s.toStdString(), TagLib::String::UTF8);
}

// ---- reading frames ----

QString TextOf(const TagLib::ID3v2::Tag* tag, const char* id) {
  const TagLib::ID3v2::FrameList& frames = tag->frameListMap()[id];
  if (frames.isEmpty()) return QString();
  if (auto* text = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(frames.front()))
    return FromTagLib(text->fieldList().toString("/"));
  return FromTagLib(frames.front()->toString());
}

// The comment the component reads and writes: the first one without a description
// (players park their own data in described comments, e.g. "iTunNORM"), else the first.
TagLib::ID3v2::CommentsFrame* MainComment(const TagLib::ID3v2::Tag* tag) {
  TagLib::ID3v2::CommentsFrame* first = nullptr;
  for (TagLib::ID3v2::Frame* f : tag->frameListMap()["COMM"]) {
    auto* c = dynamic_cast<TagLib::ID3v2::CommentsFrame*>(f);
    if (!c) continue;
    if (c->description().isEmpty()) return c;
    if (!first) first = c;
  }
  return first;
}

// The same choice for the user URL frame.
TagLib::ID3v2::UserUrlLinkFrame* MainUrl(const TagLib::ID3v2::Tag* tag) {
  TagLib::ID3v2::UserUrlLinkFrame* first = nullptr;
  for (TagLib::ID3v2::Frame* f : tag->frameListMap()["WXXX"]) {
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
QString YearOf(const TagLib::ID3v2::Tag* tag) {
  QString text = TextOf(tag, "TDRC");
  if (text.isEmpty()) text = TextOf(tag, "TYER");
  static const QRegularExpression stamp(QStringLiteral("^(\\d{4})-"));
  QRegularExpressionMatch m = stamp.match(text);
  return m.hasMatch() ? m.captured(1) : text;
}

// The genre number of one TCON field: "(17)", "17", "(17)Rock" and "Rock" all give 17.
// Text that names no genre of the table, and numbers outside it, give -1.
int GenreOfField(QString s) {
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

// TCON to a genre number. A genre whose text is not in the ID3v1 table reads as 255
// (no genre): the program keeps genres as numbers of that table only.
LONG GenreOf(const TagLib::ID3v2::Tag* tag) {
  for (TagLib::ID3v2::Frame* f : tag->frameListMap()["TCON"]) {
    TagLib::StringList fields;
    if (auto* text = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(f))
      fields = text->fieldList();
    else
      fields.append(f->toString());
    for (const TagLib::String& field : fields) {
      int n = GenreOfField(FromTagLib(field));
      if (n >= 0) return n;
    }
  }
  return lb::kNoGenre;
}

// TRCK "5" or "5/12" gives 5; anything else 0.
LONG TrackOf(const TagLib::ID3v2::Tag* tag) {
  QString text = TextOf(tag, "TRCK").section(QLatin1Char('/'), 0, 0).trimmed();
  bool ok = false;
  int n = text.toInt(&ok);
  return ok && n > 0 ? n : 0;
}

// ---- writing frames ----

struct Edit {
  bool remove;
  QByteArray frameId;  // "TYER" stands for the year in any form (TYER, TDRC)
  QString text;
};

void RemoveFrames(TagLib::ID3v2::Tag* tag, const QByteArray& id) {
  if (id == "TYER") {
    tag->removeFrames("TDRC");
    tag->removeFrames("TYER");
  } else {
    tag->removeFrames(TagLib::ByteVector(id.constData(), static_cast<unsigned>(id.size())));
  }
}

void AddText(TagLib::ID3v2::Tag* tag, const char* id, const QString& text) {
  auto* frame = new TagLib::ID3v2::TextIdentificationFrame(id, TagLib::String::UTF16);
  frame->setText(ToTagLib(text));
  tag->addFrame(frame);  // the tag owns the frame from here
}

void ApplyEdit(TagLib::ID3v2::Tag* tag, const Edit& e) {
  if (e.remove) {
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
    // The URL itself is ISO-8859-1 text in every ID3v2 version.
    TagLib::ID3v2::UserUrlLinkFrame* u = MainUrl(tag);
    if (!u) {
      u = new TagLib::ID3v2::UserUrlLinkFrame(TagLib::String::UTF16);
      tag->addFrame(u);
    }
    u->setUrl(ToTagLib(e.text));
    return;
  }
  // A plain text frame (the year included: a TYER frame goes into a v2.3 tag as it is,
  // so even a year of fewer than four digits survives).
  RemoveFrames(tag, e.frameId);
  AddText(tag, e.frameId.constData(), e.text);
}

// ---- an in-memory copy of the file for TagLib to edit ----

// TagLib's own ByteVectorStream moves too few bytes when a larger tag is inserted
// (and corrupts the heap doing so) in the version this runs on; this stream keeps
// the whole file in one QByteArray and does every move with the full length.
class TMemoryStream final : public TagLib::IOStream {
 public:
  explicit TMemoryStream(QByteArray data) : m_Data(std::move(data)) {}
  const QByteArray& Data() const { return m_Data; }

  TagLib::FileName name() const override { return "memory"; }
  TagLib::ByteVector readBlock(unsigned long length) override {
    qsizetype n = std::clamp<qsizetype>(m_Data.size() - m_Pos, 0, qsizetype(length));
    TagLib::ByteVector block(m_Data.constData() + std::min(m_Pos, m_Data.size()),
                             static_cast<unsigned>(n));
    m_Pos += n;
    return block;
  }
  void writeBlock(const TagLib::ByteVector& data) override {
    qsizetype end = m_Pos + data.size();
    if (end > m_Data.size()) m_Data.resize(end, '\0');
    std::copy(data.begin(), data.end(), m_Data.begin() + m_Pos);
    m_Pos = end;
  }
  void insert(const TagLib::ByteVector& data, unsigned long start, unsigned long replace) override {
    qsizetype from = std::min<qsizetype>(start, m_Data.size());
    qsizetype count = std::min<qsizetype>(replace, m_Data.size() - from);
    m_Data.replace(from, count, QByteArray(data.data(), data.size()));
    m_Pos = from + data.size();
  }
  void removeBlock(unsigned long start, unsigned long length) override {
    qsizetype from = std::min<qsizetype>(start, m_Data.size());
    m_Data.remove(from, std::min<qsizetype>(length, m_Data.size() - from));
    m_Pos = std::min(m_Pos, m_Data.size());
  }
  bool readOnly() const override { return false; }
  bool isOpen() const override { return true; }
  void seek(long offset, Position p) override {
    qsizetype base = p == Beginning ? 0 : p == Current ? m_Pos : m_Data.size();
    m_Pos = std::max<qsizetype>(0, base + offset);
  }
  long tell() const override { return static_cast<long>(m_Pos); }
  long length() override { return static_cast<long>(m_Data.size()); }
  void truncate(long length) override {
    m_Data.resize(std::max<long>(0, length), '\0');
    m_Pos = std::min(m_Pos, m_Data.size());
  }

 private:
  QByteArray m_Data;
  qsizetype m_Pos = 0;
};

// ---- the component ----

class TID3ComTag : public TComObject<IID3ComTag> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return QueryOneInterface<IID3ComTag>(this, IID_IID3ComTag, riid, ppv);
  }

  HRESULT STDMETHODCALLTYPE Link(BSTR fileName) override {
    std::lock_guard guard(m_Mutex);
    ResetTag();
    m_Path = lb::QStringFromBstr(fileName);
    m_bLinked = !m_Path.isEmpty();
    m_bFileHasTag = false;
    if (!m_bLinked) return E_INVALIDARG;
    try {
      return ReadFile();
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

  HRESULT STDMETHODCALLTYPE RemoveFrameByID(LONG frameId) override {
    std::lock_guard guard(m_Mutex);
    switch (frameId) {
      case ID3FID_BAND:
        m_Edits.push_back({true, "TPE2", {}});
        return S_OK;
      case ID3FID_CONDUCTOR:
        m_Edits.push_back({true, "TPE3", {}});
        return S_OK;
      default:
        break;
    }
    for (int f = 0; f < fFieldCount; ++f) {
      if (FieldFrameId(f) == frameId) {
        SetField(f, QString());
        return S_OK;
      }
    }
    return E_INVALIDARG;
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
  // name, which every player reads.
  HRESULT STDMETHODCALLTYPE put_Genre(LONG value) override {
    std::lock_guard guard(m_Mutex);
    QString name = lb::GenreName(value);
    m_Genre = name.isEmpty() ? lb::kNoGenre : value;
    m_Edits.push_back({name.isEmpty(), "TCON", name});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Track(LONG* value) override {
    if (!value) return E_POINTER;
    std::lock_guard guard(m_Mutex);
    *value = m_Track;
    return S_OK;
  }
  // 0 (or less) removes the track number.
  HRESULT STDMETHODCALLTYPE put_Track(LONG value) override {
    std::lock_guard guard(m_Mutex);
    m_Track = value > 0 ? value : 0;
    m_Edits.push_back({m_Track == 0, "TRCK", QString::number(m_Track)});
    return S_OK;
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
    SetField(f, lb::QStringFromBstr(value));
    return S_OK;
  }

  // Empty text removes the field's frames.
  void SetField(int f, const QString& text) {
    m_Text[f] = text;
    m_Edits.push_back({text.isEmpty(), kFieldFrame[f], text});
  }

  void ResetTag() {
    for (QString& t : m_Text) t.clear();
    m_Genre = lb::kNoGenre;
    m_Track = 0;
    m_Edits.clear();
    m_bCleared = false;
  }

  HRESULT ReadFile() {
    QFileInfo info(m_Path);
    if (!info.exists()) return kFileNotFound;
    if (!info.isFile()) return E_ACCESSDENIED;
    // Read-only stream: TagLib's own path-based constructor would open the file for
    // writing and read its head and tail several times.
    TagLib::FileStream stream(QFile::encodeName(m_Path).constData(), true);
    if (!stream.isOpen()) return E_ACCESSDENIED;
    TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (!file.isValid()) return E_FAIL;
    if (!file.hasID3v2Tag()) return S_OK;
    const TagLib::ID3v2::Tag* tag = file.ID3v2Tag(false);
    if (!tag || tag->isEmpty()) return S_OK;
    m_bFileHasTag = true;
    for (int f = 0; f < fFieldCount; ++f) {
      switch (f) {
        case fYear:
          m_Text[f] = YearOf(tag);
          break;
        case fComment:
          if (auto* c = MainComment(tag)) m_Text[f] = FromTagLib(c->text());
          break;
        case fURL:
          if (auto* u = MainUrl(tag)) m_Text[f] = FromTagLib(u->url());
          break;
        default:
          m_Text[f] = TextOf(tag, kFieldFrame[f]);
      }
    }
    m_Genre = GenreOf(tag);
    m_Track = TrackOf(tag);
    return S_OK;
  }

  // A file without write permission for its owner counts as read-only even for a
  // process that could write it anyway (root), as the read-only attribute does.
  bool IsWritable() const {
    QFileInfo info(m_Path);
    if (!(info.permissions() & QFileDevice::WriteOwner)) return false;
    return ::access(QFile::encodeName(m_Path).constData(), W_OK) == 0;
  }

  HRESULT WriteFile() {
    QFileInfo info(m_Path);
    if (!info.exists()) return kFileNotFound;
    if (!info.isFile() || !IsWritable()) return E_ACCESSDENIED;
    QFile in(m_Path);
    if (!in.open(QIODevice::ReadOnly)) return E_ACCESSDENIED;
    QByteArray original = in.readAll();
    if (in.error() != QFileDevice::NoError || original.size() != in.size()) return E_FAIL;
    in.close();

    TMemoryStream memory(original);
    bool nowHasTag = false;
    {
      TagLib::MPEG::File file(&memory, TagLib::ID3v2::FrameFactory::instance(), false);
      if (!file.isValid()) return E_FAIL;
      TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
      if (m_bCleared) {
        // Collected first: removal edits the tag's list. (A TagLib::List copy would share
        // the tag's auto-deleting storage and delete the frames a second time.)
        std::vector<TagLib::ID3v2::Frame*> all;
        for (TagLib::ID3v2::Frame* f : tag->frameList()) all.push_back(f);
        for (TagLib::ID3v2::Frame* f : all) tag->removeFrame(f, true);
      }
      for (const Edit& e : m_Edits) ApplyEdit(tag, e);
      nowHasTag = !tag->isEmpty();
      // Only the ID3v2 tag is saved: the ID3v1 tag is neither added, removed nor
      // copied into. An empty tag removes the file's ID3v2 tag.
      if (!file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3,
                     TagLib::File::DoNotDuplicate))
        return E_FAIL;
    }
    const QByteArray& bytes = memory.Data();
    if (bytes != original) {
      QSaveFile out(m_Path);
      if (!out.open(QIODevice::WriteOnly)) return E_ACCESSDENIED;
      if (out.write(bytes) != bytes.size() || !out.commit()) return E_FAIL;
    }
    m_bFileHasTag = nowHasTag;
    m_Edits.clear();
    m_bCleared = false;
    return S_OK;
  }

  std::mutex m_Mutex;
  QString m_Path;
  bool m_bLinked = false;
  bool m_bFileHasTag = false;
  QString m_Text[fFieldCount];
  LONG m_Genre = lb::kNoGenre;
  LONG m_Track = 0;
  bool m_bCleared = false;    // every frame of the file goes before the edits apply
  std::vector<Edit> m_Edits;  // in the order they were made
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
