// The two tag records: their fields and setters, the data-stream blocks, and how each
// is read from, written to and removed from the music file.
#include "ID3ComAccess.h"
#include "M3uList.h"
#include "SlStream.h"

#include "platform/Assert.h"
#include "platform/CodePage.h"
#include "platform/FileRewrite.h"
#include "platform/FileSystem.h"
#include "platform/Genres.h"
#include "platform/MusicFormats.h"
#include "platform/WriteBatch.h"

#include <QStringBuilder>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString TrimRight(const QString& text) {
  qsizetype n = text.size();
  while (n > 0 && text.at(n - 1).unicode() <= ' ') --n;
  return text.left(n);
}

QString TrimLeft(const QString& text) {
  qsizetype n = 0;
  while (n < text.size() && text.at(n).unicode() <= ' ') ++n;
  return text.mid(n);
}

// A field of fixed width: the bytes up to the first zero.
QString FieldText(const char* field, int width) {
  return lb::FromTagCodePage(
      QByteArray::fromRawData(field, static_cast<qsizetype>(qstrnlen(field, width))));
}

// An open file descriptor that closes itself. A rewrite of the file that a crash cut
// short is undone first; opening never waits (a FIFO named like a song is refused).
class TFileHandle {
 public:
  TFileHandle(const QString& path, int flags) {
    if (!lb::RecoverInterruptedRewrite(path) && flags != O_RDONLY) return;
    // A new content waiting in the open batch takes the file's place before a write.
    if (flags != O_RDONLY && !lb::PlacePendingCopyOf(path)) return;
    m_Fd = ::open(path.toLocal8Bit().constData(), flags | O_CLOEXEC | O_NONBLOCK);
    struct stat st;
    if (m_Fd >= 0 && (::fstat(m_Fd, &st) != 0 || !S_ISREG(st.st_mode))) {
      ::close(m_Fd);
      m_Fd = -1;
    }
  }
  ~TFileHandle() {
    if (m_Fd >= 0) ::close(m_Fd);
  }
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;
  bool IsOpen() const { return m_Fd >= 0; }
  int Fd() const { return m_Fd; }
  off_t Size() const {
    struct stat st;
    return ::fstat(m_Fd, &st) == 0 ? st.st_size : -1;
  }
  bool ReadAt(void* buffer, size_t count, off_t offset) const {
    return ::pread(m_Fd, buffer, count, offset) == static_cast<ssize_t>(count);
  }
  bool WriteAt(const void* buffer, size_t count, off_t offset) const {
    return ::pwrite(m_Fd, buffer, count, offset) == static_cast<ssize_t>(count);
  }

 private:
  int m_Fd = -1;
};

constexpr int kTagSize = 128;

// Whether "TAG" stands 128 bytes before the end of the open file.
bool HasTag1At(const TFileHandle& file, off_t size) {
  char head[3];
  return size >= kTagSize && file.ReadAt(head, 3, size - kTagSize) &&
         std::memcmp(head, "TAG", 3) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------------
// TSlTag: the parts both records share

bool lb::IsMp3Path(const QString& path) {
  return lb::FileExtension(path) == ".mp3";
}

// A stream's address ("http://host/live.mp3") names no file, whatever its extension.
bool lb::IsTaggedPath(const QString& path) {
  return !lb::IsStreamUrl(path) && lb::MusicFormatOf(path) != lb::TMusicFormat::None;
}

bool lb::CarriesTag1(const QString& path) {
  return !lb::IsStreamUrl(path) && lb::FormatCarriesId3v1(lb::MusicFormatOf(path));
}

QString TSlTag::LastErrorText() const {
  const QString file = Parent->GetPath(true);
  switch (m_LastError) {
    case TSlTagError::None:
      return QString();
    case TSlTagError::NotMp3:
      if (lb::IsTaggedPath(file))
        return QString("В файле \"%1\" не бывает тэга ID3v1: он в него не записывается.").arg(file);
      return QString("Файл \"%1\" не является файлом MP3: тэги в него не записываются.").arg(file);
    case TSlTagError::NotLossless:
      return QString(
                 "Тэг файла \"%1\" нельзя изменить без потери других его полей: файл не изменён.")
          .arg(file);
    case TSlTagError::ReadOnly:
      return QString("Файл \"%1\" доступен только для чтения.").arg(file);
    case TSlTagError::Damaged:
      return QString("Тэг ID3v2 файла \"%1\" повреждён и не может быть перезаписан без потерь.")
          .arg(file);
    case TSlTagError::Failed:
      // A file whose cut-short rewrite left a backup that was not put back.
      if (const QString refusal = lb::RewriteRefusal(); refusal.contains(file)) return refusal;
      break;
  }
  return QString("Не удалось записать тэг в файл \"%1\".").arg(file);
}

bool TSlTag::Outcome(bool ok, TSlTagError error) {
  m_LastError = ok ? TSlTagError::None : error;
  return ok;
}

bool TSlTag::MayWrite(const QString& path, bool bClearReadOnly) {
  if (!FormatHolds(path)) return Outcome(false, TSlTagError::NotMp3);
  if (bClearReadOnly) {
    lb::ClearReadOnly(path);
    return true;
  }
  // The owner's write bit is the read-only attribute: it holds for root too.
  struct stat st;
  if (::stat(path.toLocal8Bit().constData(), &st) == 0 && !(st.st_mode & S_IWUSR))
    return Outcome(false, TSlTagError::ReadOnly);
  return true;
}

void TSlTag::MarkModified() {
  if (Parent) Parent->MarkModified();
}

QString TSlTag::FilePath() const {
  return Parent->GetPath(true);
}

void TSlTag::SetPendingAge(int32_t age) {
  TSlSong* song = Parent;
  if (song->m_bNewFileAge && song->m_NewFileAge == kAgeSyncAgain) return;
  song->m_NewFileAge = age;
  song->m_bNewFileAge = true;
}

void TSlTag::ComputeDisplayName(const QString& title, const QString& artist) {
  const QString t = TrimRight(title);
  const QString a = TrimRight(artist);
  if (!m_bExists || (t.isEmpty() && a.isEmpty()))
    m_DisplayName = lb::FileBaseName(Parent->GetPath(false));
  else if (t.isEmpty())
    m_DisplayName = a + " - Untitled";
  else if (a.isEmpty())
    m_DisplayName = "Unknown Artist - " + t;
  else
    m_DisplayName = QString(a % QLatin1String(" - ") % t);  // one allocation
  // Both records of a song mostly show the same name: keep one copy of it.
  const TSlTag& sibling = this == &Parent->m_Tag1 ? static_cast<const TSlTag&>(Parent->m_Tag2)
                                                  : static_cast<const TSlTag&>(Parent->m_Tag1);
  if (sibling.m_DisplayName == m_DisplayName) m_DisplayName = sibling.m_DisplayName;
}

bool TSlTag::SetSync(bool bSync) {
  std::lock_guard<std::recursive_mutex> lock(Parent->cs);
  if (bSync == bTagSync) return true;
  if (!bSync) {
    bTagSync = false;
    MarkModified();
    return true;
  }
  if (!FormatHolds(Parent->GetPath(false))) return false;
  bTagSync = true;
  if (!SyncWithFile(true)) {
    bTagSync = false;
    return false;
  }
  MarkModified();
  return true;
}

bool TSlTag::SyncWithFile(bool bForce, TSlFileLook* look) {
  if (!bTagSync) return true;
  TSlSong* song = Parent;
  const QString path = FilePath();
  if (look && !look->bValid) look = nullptr;
  // A file whose age can be read lies on a volume that answers; a missing volume
  // gives a missing file.
  int32_t age = look ? look->age : song->IsStream() ? kAgeMissing : lb::FileAge(path);
  if (age == song->m_FileAge && !bForce) return true;
  SetPendingAge(age);

  if (song->m_FileAge == kAgeNeverSynced) {
    if (age == kAgeMissing) {
      m_bExists = false;
      UpdateDisplayName();
      return true;
    }
    if (!FormatHolds(path)) {
      bTagSync = false;
    } else if (look ? lb::IsCdRom(path, look->device) : lb::IsCdRom(path)) {
      // Files on a disc are read once and never written.
      bool ok = look ? ReadFromLook(*look) : ReadFromFile();
      UpdateDisplayName();
      bTagSync = false;
      if (!ok) SetPendingAge(kAgeMissing);
      return ok;
    }
  }
  if (age == kAgeMissing) return false;

  bool ok;
  if (!bTagSync) {
    SetPendingAge(kAgeMissing);
    return true;
  } else if (!m_bExists) {
    ok = look ? ReadFromLook(*look) : ReadFromFile();
  } else if ((bForce || song->m_FileAge == kAgeNeverSynced) &&
             !(look ? LookHasTag(*look) : FileHasTag())) {
    // The record goes into a file that never had it: a song new to the list, or a
    // forced pass such as the user's turning the synchronisation on (the records kept
    // in the data file meanwhile go into the files). In the background, a file changed
    // by another program since the last synchronisation is never written: it may be
    // half copied, or its tag was removed on purpose; the file's state wins below.
    ok = WriteToFile(true);
    if (look) look->bValid = false;  // the file changed: the other record looks again
    if (ok) SetPendingAge(lb::FileAge(path));
  } else {
    ok = look ? ReadFromLook(*look) : ReadFromFile();  // the file's tag wins
  }
  UpdateDisplayName();
  if (!ok) SetPendingAge(kAgeMissing);
  return ok;
}

bool TSlTag::SaveTag(bool bClearReadOnly) {
  if (!bTagSync) return true;
  std::lock_guard<std::recursive_mutex> lock(Parent->cs);
  return AfterWrite(WriteToFile(bClearReadOnly));
}

bool TSlTag::AfterWrite(bool ok) {
  if (ok)
    SetPendingAge(lb::FileAge(FilePath()));
  else if (m_LastError !=
           TSlTagError::Damaged)  // a damaged tag stays as it was: so does the record
    SetPendingAge(kAgeSyncAgain);
  return ok;
}

bool TSlTag::RemoveTag(bool bClearReadOnly) {
  std::lock_guard<std::recursive_mutex> lock(Parent->cs);
  bool ok = true;
  if (!bTagSync) {
    Clear();
    m_bExists = false;
    MarkModified();
  } else {
    ok = RemoveFromFile(bClearReadOnly);
    if (ok) SetPendingAge(lb::FileAge(FilePath()));
  }
  UpdateDisplayName();
  return ok;
}

bool TSlTag::LoadBlock(TSlStreamReader& stream) {
  uint8_t flags = 0;
  if (!stream.ReadByte(&flags)) return false;
  bTagSync = (flags & 2) != 0;
  if (flags & 1) {
    if (!LoadBody(stream)) return false;
    m_bExists = true;
  } else {
    Clear();
    m_bExists = false;
  }
  UpdateDisplayName();
  return true;
}

void TSlTag::SaveBlock(TSlStreamWriter& stream) const {
  stream.WriteByte(static_cast<uint8_t>((m_bExists ? 1 : 0) | (bTagSync ? 2 : 0)));
  if (m_bExists) SaveBody(stream);
}

// ---------------------------------------------------------------------------------
// TSlTag1

TSlTag1::TSlTag1(TSlSong* parent) : TSlTag(parent) {
  Clear();
}

void TSlTag1::Clear() {
  std::memset(Title, 0, sizeof Title);
  std::memset(Artist, 0, sizeof Artist);
  std::memset(Album, 0, sizeof Album);
  std::memset(Year, 0, sizeof Year);
  std::memset(Comment, 0, sizeof Comment);
  Genre = 255;
}

QString TSlTag1::GetTitle() const {
  return FieldText(Title, kTextWidth);
}
QString TSlTag1::GetArtist() const {
  return FieldText(Artist, kTextWidth);
}
QString TSlTag1::GetAlbum() const {
  return FieldText(Album, kTextWidth);
}
QString TSlTag1::GetYear() const {
  return FieldText(Year, kYearWidth);
}
QString TSlTag1::GetComment() const {
  return FieldText(Comment, kTextWidth);
}

void TSlTag1::UpdateDisplayName() {
  ComputeDisplayName(GetTitle(), GetArtist());
}

bool TSlTag1::SetField(char* field, int width, const QString& text, bool bTruncate) {
  QByteArray bytes = lb::ToTagCodePage(TrimRight(text));
  if (bytes.size() > width) {
    if (!bTruncate) return false;
    bytes.truncate(width);
  }
  std::memset(field, 0, width + 1);
  std::memcpy(field, bytes.constData(), bytes.size());
  m_bExists = true;
  MarkModified();
  return true;
}

bool TSlTag1::SetTitle(const QString& text, bool bTruncate) {
  if (!SetField(Title, kTextWidth, text, bTruncate)) return false;
  UpdateDisplayName();
  return true;
}

bool TSlTag1::SetArtist(const QString& text, bool bTruncate) {
  if (!SetField(Artist, kTextWidth, text, bTruncate)) return false;
  UpdateDisplayName();
  return true;
}

bool TSlTag1::SetAlbum(const QString& text, bool bTruncate) {
  return SetField(Album, kTextWidth, text, bTruncate);
}

bool TSlTag1::SetComment(const QString& text, bool bTruncate) {
  return SetField(Comment, kTextWidth, text, bTruncate);
}

bool TSlTag1::SetYear(const QString& text) {
  const QString year = TrimRight(text);
  if (year.size() > kYearWidth) return false;
  if (!year.isEmpty()) {
    bool ok = false;
    year.trimmed().toInt(&ok);
    if (!ok) throw TSlConvertError(year);
  }
  return SetField(Year, kYearWidth, year, false);
}

bool TSlTag1::SetGenre(unsigned char genre) {
  Genre = genre;
  m_bExists = true;
  MarkModified();
  return true;
}

void TSlTag1::ToBody(char body[kBodySize]) const {
  std::memcpy(body, Title, kTextWidth);
  std::memcpy(body + 30, Artist, kTextWidth);
  std::memcpy(body + 60, Album, kTextWidth);
  std::memcpy(body + 90, Year, kYearWidth);
  std::memcpy(body + 94, Comment, kTextWidth);
  body[124] = static_cast<char>(Genre);
}

void TSlTag1::FromBody(const char body[kBodySize]) {
  // Each field ends at its first zero and is always terminated after its full width.
  auto take = [](char* field, const char* from, int width) {
    std::memset(field, 0, width + 1);
    std::memcpy(field, from, qstrnlen(from, width));
  };
  take(Title, body, kTextWidth);
  take(Artist, body + 30, kTextWidth);
  take(Album, body + 60, kTextWidth);
  take(Year, body + 90, kYearWidth);
  take(Comment, body + 94, kTextWidth);
  Genre = static_cast<unsigned char>(body[124]);
}

bool TSlTag1::LoadBody(TSlStreamReader& stream) {
  char body[kBodySize];
  if (!stream.ReadBytes(body, kBodySize)) return false;
  FromBody(body);
  return true;
}

void TSlTag1::SaveBody(TSlStreamWriter& stream) const {
  char body[kBodySize];
  ToBody(body);
  stream.WriteBytes(body, kBodySize);
}

bool TSlTag1::FileHasTag() {
  if (!FormatHolds(FilePath())) return false;
  TFileHandle file(FilePath(), O_RDONLY);
  return file.IsOpen() && HasTag1At(file, file.Size());
}

bool TSlTag1::ReadFromFile() {
  LB_ASSERT(Parent);
  LB_ASSERT(bTagSync);
  TFileHandle file(FilePath(), O_RDONLY);
  if (!file.IsOpen()) return false;
  const off_t size = file.Size();
  char tag[kTagSize];
  if (!FormatHolds(FilePath()) || size < kTagSize || !file.ReadAt(tag, kTagSize, size - kTagSize) ||
      std::memcmp(tag, "TAG", 3) != 0) {
    Clear();
    m_bExists = false;
    return true;
  }
  FromBody(tag + 3);
  m_bExists = true;
  return true;
}

bool TSlTag1::LookHasTag(const TSlFileLook& look) {
  return std::memcmp(look.tail, "TAG", 3) == 0;
}

bool TSlTag1::ReadFromLook(const TSlFileLook& look) {
  // Bytes "TAG" at the end of a FLAC or Ogg file are audio, not a tag.
  if (LookHasTag(look) && FormatHolds(FilePath())) {
    FromBody(look.tail + 3);
    m_bExists = true;
  } else {
    Clear();
    m_bExists = false;
  }
  return true;
}

bool TSlTag1::WriteToFile(bool bClearReadOnly) {
  if (!m_bExists) return RemoveFromFile(bClearReadOnly);
  const QString path = FilePath();
  if (!MayWrite(path, bClearReadOnly)) return false;
  TFileHandle file(path, O_RDWR);
  if (!file.IsOpen()) return Outcome(false);
  const off_t size = file.Size();
  if (size < 0) return Outcome(false);
  char tag[kTagSize];
  std::memcpy(tag, "TAG", 3);
  ToBody(tag + 3);
  if (HasTag1At(file, size)) {
    // An ID3v1.1 track number (comment byte 28 zero, byte 29 not) stays when the new
    // comment leaves room for it.
    constexpr int kTrackAt = 3 + 94 + 29;
    char old[2];
    if (file.ReadAt(old, 2, size - kTagSize + kTrackAt - 1) && old[0] == 0 && old[1] != 0 &&
        qstrnlen(Comment, kTextWidth) <= kTextWidth - 2)
      tag[kTrackAt] = old[1];
    return Outcome(file.WriteAt(tag + 3, kBodySize, size - kBodySize) &&
                   lb::FlushWritten(file.Fd()));
  }
  if (file.WriteAt(tag, kTagSize, size)) return Outcome(lb::FlushWritten(file.Fd()));
  // A tag cut short (a full disk) would leave stray bytes after the audio.
  [[maybe_unused]] const int cut = ::ftruncate(file.Fd(), size);
  return Outcome(false);
}

bool TSlTag1::RemoveFromFile(bool bClearReadOnly) {
  const QString path = FilePath();
  if (!MayWrite(path, bClearReadOnly)) return false;
  TFileHandle file(path, O_RDWR);
  if (!file.IsOpen()) return Outcome(false);
  const off_t size = file.Size();
  if (HasTag1At(file, size) &&
      (::ftruncate(file.Fd(), size - kTagSize) != 0 || !lb::FlushWritten(file.Fd())))
    return Outcome(false);
  Clear();
  m_bExists = false;
  return Outcome(true);
}

// ---------------------------------------------------------------------------------
// TSlTag2

TSlTag2::TSlTag2(TSlSong* parent) : TSlTag(parent) {}

void TSlTag2::Clear() {
  Title.clear();
  Artist.clear();
  Album.clear();
  Year.clear();
  Genre = 255;
  GenreText.clear();
  Comment.clear();
  Composer.clear();
  OrigArt.clear();
  Copyright.clear();
  URL.clear();
  EncodedBy.clear();
  Track = 0;
  TrackText.clear();
}

void TSlTag2::UpdateDisplayName() {
  ComputeDisplayName(Title, Artist);
}

bool TSlTag2::SetText(QString& field, const QString& text, bool bDisplay) {
  BeginChange();
  field = TrimLeft(text);
  m_bExists = true;
  MarkModified();
  if (bDisplay) UpdateDisplayName();
  return true;
}

bool TSlTag2::SetTitle(const QString& text) {
  return SetText(Title, text, true);
}
bool TSlTag2::SetArtist(const QString& text) {
  return SetText(Artist, text, true);
}
bool TSlTag2::SetAlbum(const QString& text) {
  return SetText(Album, text, false);
}
bool TSlTag2::SetYear(const QString& text) {
  return SetText(Year, text, false);
}
bool TSlTag2::SetComment(const QString& text) {
  return SetText(Comment, text, false);
}
bool TSlTag2::SetComposer(const QString& text) {
  return SetText(Composer, text, false);
}
bool TSlTag2::SetOrigArt(const QString& text) {
  return SetText(OrigArt, text, false);
}
bool TSlTag2::SetCopyright(const QString& text) {
  return SetText(Copyright, text, false);
}
bool TSlTag2::SetURL(const QString& text) {
  return SetText(URL, text, false);
}
bool TSlTag2::SetEncodedBy(const QString& text) {
  return SetText(EncodedBy, text, false);
}

bool TSlTag2::SetGenre(int32_t genre) {
  BeginChange();
  Genre = genre;
  if (genre != lb::kGenreOutsideTable) GenreText.clear();
  m_bExists = true;
  MarkModified();
  return true;
}

bool TSlTag2::SetGenreText(const QString& text) {
  const QString name = text.trimmed();
  if (name.isEmpty()) return SetGenre(lb::kNoGenre);
  bool bNumber = false;
  int number = name.toInt(&bNumber);
  if (!bNumber) number = lb::GenreNumber(name);
  if (bNumber || number >= 0) return SetGenre(number);
  BeginChange();
  GenreText = name;
  return SetGenre(lb::kGenreOutsideTable);
}

bool TSlTag2::SetTrack(int32_t track) {
  BeginChange();
  Track = track;
  TrackText.clear();
  m_bExists = true;
  MarkModified();
  return true;
}

bool TSlTag2::SetTrack(const QString& text) {
  if (text.isEmpty()) return true;
  const QString track = text.trimmed();
  const qsizetype slash = track.indexOf('/');
  bool ok = false;
  const int number = track.left(slash).trimmed().toInt(&ok);
  if (!ok || number < 0) throw TSlConvertError(text);
  if (slash < 0) return SetTrack(number);
  const int count = track.mid(slash + 1).trimmed().toInt(&ok);
  if (!ok || count < 0) throw TSlConvertError(text);
  SetTrack(number);
  TrackText = track;
  return true;
}

bool TSlTag2::LoadBody(TSlStreamReader& s) {
  m_Read.reset();  // the data file's fields are what the file held at the stored age
  return s.ReadString(&Title) && s.ReadSharedString(&Artist) && s.ReadSharedString(&Album) &&
         s.ReadSharedString(&Year) && s.ReadInt32(&Genre) && s.ReadSharedString(&Comment) &&
         s.ReadSharedString(&Composer) && s.ReadSharedString(&OrigArt) &&
         s.ReadSharedString(&Copyright) && s.ReadSharedString(&URL) &&
         s.ReadSharedString(&EncodedBy) && s.ReadInt32(&Track);
}

void TSlTag2::SaveBody(TSlStreamWriter& s) const {
  s.WriteString(Title);
  s.WriteString(Artist);
  s.WriteString(Album);
  s.WriteString(Year);
  s.WriteInt32(Genre);
  s.WriteString(Comment);
  s.WriteString(Composer);
  s.WriteString(OrigArt);
  s.WriteString(Copyright);
  s.WriteString(URL);
  s.WriteString(EncodedBy);
  s.WriteInt32(Track);
}

namespace {

// One tag operation on the calling thread's component, under the program-wide lock.
class TID3ComSession {
 public:
  TID3ComSession() : m_Lock(lb::ID3ComLock()), m_Tag(lb::ThreadID3Com()) {}
  IID3ComTag* operator->() const { return m_Tag; }
  explicit operator bool() const { return m_Tag != nullptr; }

  void Link(const QString& path) {
    BSTR name = lb::BstrFromQString(path);
    m_Tag->Link(name);
    SysFreeString(name);
  }
  bool HasV2Tag() {
    VARIANT_BOOL has = VARIANT_FALSE;
    return SUCCEEDED(m_Tag->get_HasV2Tag(&has)) && has != VARIANT_FALSE;
  }
  // Every field of the bound file at once; through the getters one by one when the
  // component is of an earlier build that lacks the one call.
  HRESULT GetFields(ID3ComFields* fields) {
    void* found = nullptr;
    if (SUCCEEDED(m_Tag->QueryInterface(IID_IID3ComFields, &found))) {
      auto* all = static_cast<IID3ComFields*>(found);
      const HRESULT hr = all->GetFields(fields);
      all->Release();
      return hr;
    }
    *fields = ID3ComFields{};
    fields->genre = 255;
    m_Tag->get_HasV2Tag(&fields->hasV2Tag);
    m_Tag->get_Genre(&fields->genre);
    m_Tag->get_Track(&fields->track);
    const std::pair<HRESULT (STDMETHODCALLTYPE IID3ComTag::*)(BSTR*), BSTR*> texts[] = {
        {&IID3ComTag::get_Title, &fields->title},
        {&IID3ComTag::get_Artist, &fields->artist},
        {&IID3ComTag::get_Album, &fields->album},
        {&IID3ComTag::get_Year, &fields->year},
        {&IID3ComTag::get_Comment, &fields->comment},
        {&IID3ComTag::get_Composer, &fields->composer},
        {&IID3ComTag::get_OrigArtist, &fields->origArtist},
        {&IID3ComTag::get_Copyright, &fields->copyright},
        {&IID3ComTag::get_URL, &fields->url},
        {&IID3ComTag::get_EncodedBy, &fields->encodedBy},
        {&IID3ComTag::get_GenreText, &fields->genreText},
        {&IID3ComTag::get_TrackText, &fields->trackText}};
    for (const auto& [getter, text] : texts)
      if (FAILED((m_Tag->*getter)(text))) *text = nullptr;
    return S_OK;
  }
  using Getter = HRESULT (STDMETHODCALLTYPE IID3ComTag::*)(BSTR*);
  using Putter = HRESULT (STDMETHODCALLTYPE IID3ComTag::*)(BSTR);
  QString Get(Getter getter) {
    BSTR value = nullptr;
    QString text;
    if (SUCCEEDED((m_Tag->*getter)(&value))) text = lb::QStringFromBstr(value);
    SysFreeString(value);
    return text;
  }
  void Put(Putter putter, const QString& text) {
    BSTR value = lb::BstrFromQString(text);
    (m_Tag->*putter)(value);
    SysFreeString(value);
  }
  // Puts a text, or removes its frames when it is empty.
  void PutOrRemove(Putter putter, const QString& text, std::initializer_list<LONG> frames) {
    if (!text.isEmpty()) {
      Put(putter, text);
    } else {
      for (LONG id : frames) m_Tag->RemoveFrameByID(id);
    }
  }

 private:
  std::lock_guard<std::recursive_mutex> m_Lock;
  IID3ComTag* m_Tag;
};

}  // namespace

bool TSlTag2::FileHasTag() {
  TID3ComSession tag;
  if (!tag) return false;
  tag->Clear();
  tag.Link(FilePath());
  bool has = tag.HasV2Tag();
  tag->Clear();
  return has;
}

// The fields of a record, as a write compares them with what the file held.
struct TSlTag2Fields {
  QString texts[12];
  int32_t genre = 255, track = 0;
};

namespace {

std::shared_ptr<const TSlTag2Fields> FieldsOf(const TSlTag2& t) {
  auto f = std::make_shared<TSlTag2Fields>();
  const QString* texts[] = {&t.Title,     &t.Artist,  &t.Album,     &t.Year,
                            &t.GenreText, &t.Comment, &t.Composer,  &t.OrigArt,
                            &t.Copyright, &t.URL,     &t.EncodedBy, &t.TrackText};
  for (size_t n = 0; n < std::size(texts); ++n) f->texts[n] = *texts[n];
  f->genre = t.Genre;
  f->track = t.Track;
  return f;
}

}  // namespace

void TSlTag2::BeginChange() {
  if (!m_Read) m_Read = FieldsOf(*this);
}

bool TSlTag2::ReadFromFile() {
  TID3ComSession tag;
  if (!tag) return false;
  tag->Clear();
  tag.Link(FilePath());
  TakeFields();
  tag->Clear();
  return true;
}

TSlFileLook TSlTag2::LookAtFile(const QString& path) {
  TSlFileLook look;
  TID3ComSession tag;
  if (!tag) return look;
  ID3ComFileFacts facts{};  // (LinkFile forgets what the component held before)
  BSTR name = lb::BstrFromQString(path);
  tag->LinkFile(name, &facts);
  SysFreeString(name);
  // A file that could not be read (missing, a folder, no permission) is left to the
  // records' own checks, which tell these apart.
  if (facts.size < 0) return look;
  look.bValid = true;
  look.age = lb::FileAgeOf(facts.mtimeNs, facts.size);
  look.device = facts.device;
  std::memcpy(look.tail, facts.tail, sizeof look.tail);
  look.bHasTag2 = tag.HasV2Tag();
  return look;
}

QString TSlTag2::FileTagKind(const QString& path) {
  TID3ComSession tag;
  if (!tag) return QString();
  tag->Clear();
  tag.Link(path);
  const QString kind = tag.Get(&IID3ComTag::get_TagKind);
  tag->Clear();
  return kind;
}

bool TSlTag2::LookHasTag(const TSlFileLook& look) {
  return look.bHasTag2;
}

bool TSlTag2::ReadFromLook(const TSlFileLook&) {
  TID3ComSession tag;
  if (!tag) return false;
  TakeFields();
  return true;
}

namespace {

// The fields TakeFields reads, in the order of its table.
enum TTag2Field {
  t2Title,
  t2Artist,
  t2Album,
  t2Year,
  t2GenreText,
  t2Comment,
  t2Composer,
  t2OrigArt,
  t2Copyright,
  t2URL,
  t2EncodedBy,
  t2TrackText,
  t2FieldCount
};

// A text of the component as the record keeps it. The songs of an album follow each
// other in a list and read the same artist, album, year and comment: a text equal to
// the one the previous song of this thread read in that field shares its storage, so a
// list of thousands of songs takes less memory (and less time: every new page of
// memory costs a fault).
QString SharedText(BSTR text, TTag2Field field) {
  thread_local QString previous[t2FieldCount];
  if (!text) return QString();
  const qsizetype length = SysStringLen(text);
  // (A text with a byte-order mark reads differently: QStringFromBstr decides.)
  if (length > 0 && text[0] != 0xFEFF && text[0] != 0xFFFE &&
      QStringView(text, length) == previous[field])
    return previous[field];
  previous[field] = lb::QStringFromBstr(text);
  return previous[field];
}

}  // namespace

void TSlTag2::TakeFields() {
  TID3ComSession tag;
  ID3ComFields fields{};
  // Memory running out leaves the record as it was rather than emptied.
  if (!tag || FAILED(tag.GetFields(&fields))) return;
  if (fields.hasV2Tag == VARIANT_FALSE) {
    Clear();
    m_bExists = false;
  } else {
    Title = SharedText(fields.title, t2Title);
    Artist = SharedText(fields.artist, t2Artist);
    Album = SharedText(fields.album, t2Album);
    Year = SharedText(fields.year, t2Year);
    Genre = fields.genre;
    GenreText = fields.genre == lb::kGenreOutsideTable ? SharedText(fields.genreText, t2GenreText)
                                                       : QString();
    Comment = SharedText(fields.comment, t2Comment);
    Composer = SharedText(fields.composer, t2Composer);
    OrigArt = SharedText(fields.origArtist, t2OrigArt);
    Copyright = SharedText(fields.copyright, t2Copyright);
    URL = SharedText(fields.url, t2URL);
    EncodedBy = SharedText(fields.encodedBy, t2EncodedBy);
    Track = fields.track;
    // Only a text that says more than the number is kept ("3/10", not "3" or "03").
    TrackText = SharedText(fields.trackText, t2TrackText);
    if (!TrackText.contains('/')) TrackText.clear();
    m_bExists = true;
  }
  for (BSTR text : {fields.title, fields.artist, fields.album, fields.year, fields.comment,
                    fields.composer, fields.origArtist, fields.copyright, fields.url,
                    fields.encodedBy, fields.genreText, fields.trackText})
    SysFreeString(text);
  m_Read.reset();  // the record holds what the file does
}

bool TSlTag2::SaveTag(bool bClearReadOnly, const QByteArray& putBack, QByteArray* replaced) {
  if (replaced) replaced->clear();
  if (!bTagSync) return true;
  std::lock_guard<std::recursive_mutex> lock(Parent->cs);
  return AfterWrite(WriteFields(bClearReadOnly, putBack, replaced));
}

bool TSlTag2::WriteToFile(bool bClearReadOnly) {
  return WriteFields(bClearReadOnly, QByteArray(), nullptr);
}

bool TSlTag2::WriteFields(bool bClearReadOnly, const QByteArray& putBack, QByteArray* replaced) {
  if (!m_bExists) return RemoveFromFile(bClearReadOnly);
  const QString path = FilePath();
  if (!MayWrite(path, bClearReadOnly)) return false;
  TID3ComSession tag;
  if (!tag) return Outcome(false);
  tag->Clear();
  tag.Link(path);
  // Only the fields changed since the record last matched the file; every field when
  // nothing was changed (the record puts back a tag the file lost) or the file has no
  // tag.
  const bool bWhole = !m_Read || !tag.HasV2Tag();
  const std::shared_ptr<const TSlTag2Fields> now = FieldsOf(*this);
  const auto changed = [&](int field) {
    return bWhole || m_Read->texts[field] != now->texts[field];
  };
  if (changed(0)) tag.PutOrRemove(&IID3ComTag::put_Title, Title, {ID3FID_TITLE});
  if (changed(1))
    tag.PutOrRemove(&IID3ComTag::put_Artist, Artist,
                    {ID3FID_LEADARTIST, ID3FID_BAND, ID3FID_CONDUCTOR});
  if (changed(2)) tag.PutOrRemove(&IID3ComTag::put_Album, Album, {ID3FID_ALBUM});
  if (changed(3)) tag.PutOrRemove(&IID3ComTag::put_Year, Year, {ID3FID_YEAR});
  if (changed(5)) tag.PutOrRemove(&IID3ComTag::put_Comment, Comment, {ID3FID_COMMENT});
  if (changed(6)) tag.PutOrRemove(&IID3ComTag::put_Composer, Composer, {ID3FID_COMPOSER});
  if (changed(7)) tag.PutOrRemove(&IID3ComTag::put_OrigArtist, OrigArt, {ID3FID_ORIGARTIST});
  if (changed(8)) tag.PutOrRemove(&IID3ComTag::put_Copyright, Copyright, {ID3FID_COPYRIGHT});
  if (changed(9)) tag.PutOrRemove(&IID3ComTag::put_URL, URL, {ID3FID_WWWUSER});
  if (changed(10)) tag.PutOrRemove(&IID3ComTag::put_EncodedBy, EncodedBy, {ID3FID_ENCODEDBY});
  if (changed(4) || m_Read->genre != Genre) {
    if (Genre == lb::kGenreOutsideTable && !GenreText.isEmpty())
      tag.Put(&IID3ComTag::put_GenreText, GenreText);
    else
      tag->put_Genre(Genre);  // lb::kGenreOutsideTable without its text keeps the file's genre
  }
  if (changed(11) || m_Read->track != Track) {
    if (!TrackText.isEmpty())
      tag.Put(&IID3ComTag::put_TrackText, TrackText);
    else
      tag->put_Track(Track);
  }
  IID3ComFieldsAsWas* asWas = nullptr;
  if (!putBack.isEmpty() || replaced) {
    void* found = nullptr;
    if (SUCCEEDED(tag->QueryInterface(IID_IID3ComFieldsAsWas, &found)))
      asWas = static_cast<IID3ComFieldsAsWas*>(found);
  }
  if (asWas && !putBack.isEmpty())
    asWas->PutFieldsBack(reinterpret_cast<const unsigned char*>(putBack.constData()),
                         static_cast<LONG>(putBack.size()));
  HRESULT hr = tag->SaveV2Tag();
  if (asWas && replaced && SUCCEEDED(hr)) {
    const unsigned char* data = nullptr;
    LONG size = 0;
    if (SUCCEEDED(asWas->GetReplacedFields(&data, &size)) && size > 0)
      *replaced = QByteArray(reinterpret_cast<const char*>(data), size);
  }
  if (asWas) asWas->Release();
  // The record takes what the file holds now: with the fields another program changed
  // since the record read them.
  if (SUCCEEDED(hr)) TakeFields();
  tag->Clear();
  return Outcome(SUCCEEDED(hr), hr == ID3COM_E_DAMAGEDTAG    ? TSlTagError::Damaged
                                : hr == ID3COM_E_NOTLOSSLESS ? TSlTagError::NotLossless
                                                             : TSlTagError::Failed);
}

bool TSlTag2::RemoveFromFile(bool bClearReadOnly) {
  const QString path = FilePath();
  if (!MayWrite(path, bClearReadOnly)) return false;
  TID3ComSession tag;
  if (!tag) return Outcome(false);
  tag.Link(path);
  tag->Clear();
  HRESULT hr = tag->SaveV2Tag();
  if (FAILED(hr))
    return Outcome(false,
                   hr == ID3COM_E_NOTLOSSLESS ? TSlTagError::NotLossless : TSlTagError::Failed);
  Clear();
  m_bExists = false;
  m_Read.reset();  // the next write puts every field
  return Outcome(true);
}
