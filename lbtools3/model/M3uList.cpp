// Songs and documents: path forms, copies, insertion and removal, the clipboard.
// The list file and data file formats are in SlFormats.cpp.
#include "M3uList.h"

#include "ID3ComAccess.h"
#include "SlStream.h"

#include "platform/Assert.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/UiServices.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <numeric>

// ---------------------------------------------------------------------------------
// Path forms

namespace lb {

namespace {
bool IsSeparator(QChar c) {
  return c == '/' || c == '\\';
}
bool HasDriveLetter(const QString& path) {
  return path.size() >= 2 && path.at(1) == ':' && path.at(0).isLetter();
}
bool IsNetworkPath(const QString& path) {
  return path.startsWith(u"\\\\");
}
// Paths from other systems (drive letters, network hosts) compare without case, as
// their file systems did; paths of this system compare exactly.
Qt::CaseSensitivity PathCase(const QString& a) {
  return HasDriveLetter(a) || IsNetworkPath(a) ? Qt::CaseInsensitive : Qt::CaseSensitive;
}
QString WithSlashes(const QString& path) {
  if (!path.contains(u'\\')) return path;
  QString out = path;
  return out.replace(u'\\', u'/');
}
// A path with a mapped drive letter becomes the folder's path; an unmapped one stays.
QString MapDrive(const QString& path) {
  const QString folder = DriveFolder(path.at(0));
  if (folder.isEmpty()) return path;
  QString rest = WithSlashes(path.mid(2));
  while (rest.startsWith(u'/')) rest.remove(0, 1);
  QString base = folder;
  while (base.size() > 1 && base.endsWith(u'/')) base.chop(1);
  if (rest.isEmpty()) return base;
  return base.endsWith(u'/') ? base + rest : base + u'/' + rest;
}
}  // namespace

QString DriveFolder(QChar letter) {
  if (letter.unicode() >= 0x80 || !letter.isLetter()) return QString();
  const TIniFile ini(SettingsFilePath());
  return ini.ReadString("Drives", QString(letter.toUpper()), QString());
}

bool IsStreamUrl(const QString& path) {
  // "scheme://": a letter, then letters, digits, '+', '-' or '.'; two characters at
  // least, so that a drive letter ("C:/") never counts.
  const qsizetype colon = path.indexOf(u"://");
  if (colon < 2 || !path.at(0).isLetter() || path.at(0).unicode() >= 0x80) return false;
  for (qsizetype i = 1; i < colon; ++i) {
    const char16_t c = path.at(i).unicode();
    if (!(c < 0x80 && (std::isalnum(c) || c == '+' || c == '-' || c == '.'))) return false;
  }
  return true;
}

TSongFile SongFileOf(const QString& fullPath) {
  if (IsStreamUrl(fullPath)) return TSongFile::Stream;
  return FileExists(fullPath) ? TSongFile::Present : TSongFile::Missing;
}

bool HasDrive(const QString& path) {
  return path.startsWith('/') || HasDriveLetter(path) || IsNetworkPath(path) || IsStreamUrl(path);
}

QString DrivePart(const QString& path) {
  if (HasDriveLetter(path)) return path.left(2);
  if (IsNetworkPath(path)) {
    // "\\host\share" up to the separator after the share name.
    qsizetype host = path.indexOf('\\', 2);
    if (host < 0) return path;
    qsizetype share = path.indexOf('\\', host + 1);
    return share < 0 ? path : path.left(share);
  }
  return QString();
}

QString ListFolder(const QString& listPath) {
  return listPath.left(FileNameStart(listPath));
}

QString ToFullPath(const QString& path, const QString& listPath) {
  if (path.isEmpty()) return path;
  if (HasDriveLetter(path)) return MapDrive(path);
  if (HasDrive(path)) return path;
  // A synchronisation asks for the same song's path several times in a row: the last
  // answer of this thread is kept (the answer depends on the two texts alone here).
  thread_local struct { QString path, listPath, full; } last;
  if (path == last.path && listPath == last.listPath) return last.full;
  // A list of this system resolves backslashes as separators; a list path that is
  // itself Windows text keeps the text's own form.
  const bool bLocal = !HasDriveLetter(listPath) && !IsNetworkPath(listPath);
  QString full;
  if (path.startsWith('\\')) {
    full = bLocal ? WithSlashes(path) : DrivePart(listPath) + path;
  } else {
    // The list's folder and the path, in one allocation; "./" names the folder itself
    // (the list writes a name that starts with '#' so).
    const QString named = bLocal ? WithSlashes(path) : path;
    QStringView rest = named;
    if (rest.size() > 2 && rest.at(0) == u'.' && IsSeparator(rest.at(1))) rest = rest.sliced(2);
    const qsizetype folder = FileNameStart(listPath);
    full.reserve(folder + rest.size());
    full.append(QStringView(listPath).first(folder)).append(rest);
  }
  last = {path, listPath, full};
  return full;
}

QString ToBriefPath(const QString& path, const QString& listPath) {
  const QString folder = ListFolder(listPath);
  if (path.isEmpty() || folder.isEmpty()) return path;
  if (path.size() <= folder.size() || !path.startsWith(folder, PathCase(folder))) return path;
  // A list of this system reads a backslash of a brief path as a separator (lists made
  // on Windows): a name holding one keeps its full form, or it would name another file.
  const bool bLocal = !HasDriveLetter(listPath) && !IsNetworkPath(listPath);
  if (bLocal && path.indexOf(u'\\', folder.size()) >= 0) return path;
  return path.mid(folder.size());
}

bool SamePath(const QString& a, const QString& b) {
  return a.compare(b, PathCase(a)) == 0;
}

qsizetype FileNameStart(const QString& path) {
  const bool bLocal = path.startsWith(u'/');
  qsizetype n = path.size();
  while (n > 0 && path.at(n - 1) != u'/' && (bLocal || path.at(n - 1) != u'\\')) --n;
  return n;
}

QString FileBaseName(const QString& path) {
  const qsizetype start = FileNameStart(path);
  qsizetype dot = path.lastIndexOf('.');
  if (dot < start) dot = path.size();
  return path.mid(start, dot - start);
}

QString FileExtension(const QString& path) {
  const qsizetype dot = path.lastIndexOf('.');
  if (dot < FileNameStart(path)) return QString();
  return path.mid(dot).toLower();
}

bool IsListFileName(const QString& path) {
  const QString ext = FileExtension(path);
  return ext == ".m3u" || ext == ".m3u8";
}

bool HasLineBreak(QStringView text) {
  return text.contains(u'\n') || text.contains(u'\r');
}

}  // namespace lb

// ---------------------------------------------------------------------------------
// TSlSong

TSlSong::TSlSong(TSlDocument* document, const QString& path, const QString& extInf)
    : m_Parent(document), m_Tag1(this), m_Tag2(this), m_Path(path) {
  m_bExtInf = !extInf.isEmpty();
  if (m_bExtInf) m_ExtInf = extInf;
  // Both records are empty: both show the file name (one shared copy).
  m_Tag1.m_DisplayName = lb::FileBaseName(path);
  m_Tag2.m_DisplayName = m_Tag1.m_DisplayName;
}

TSlSong::TSlSong(const TSlSong& other) : m_Parent(nullptr), m_Tag1(this), m_Tag2(this) {
  CopyFields(other, true, true);
}

TSlSong& TSlSong::operator=(const TSlSong& other) {
  if (this != &other) CopyFields(other, true, true);
  return *this;
}

void TSlSong::CopyFields(const TSlSong& other, bool bPath, bool bParent) {
  // Both songs are locked: a worker may be synchronising either of them.
  std::scoped_lock lock(cs, other.cs);
  if (bParent) m_Parent = other.m_Parent;
  m_Tag1 = other.m_Tag1;
  m_Tag2 = other.m_Tag2;
  m_Tag1.Parent = this;
  m_Tag2.Parent = this;
  if (bPath) {
    m_Path = other.m_Path;
    m_ExtInf = other.m_ExtInf;
    m_bExtInf = other.m_bExtInf;
    m_LegacyLines = other.m_LegacyLines;
  }
  m_FileAge = other.m_FileAge;
  m_Reserved = other.m_Reserved;
}

void TSlSong::AssignData(const TSlSong& other) {
  if (this != &other) CopyFields(other, false, true);
}

void TSlSong::AssignDetached(const TSlSong& other) {
  if (this != &other) CopyFields(other, true, false);
}

void TSlSong::Reset(const QString& path, const QString& extInf) {
  m_Path = path;
  m_Reserved.clear();
  m_FileAge = kAgeNeverSynced;
  m_bNewFileAge = false;
  m_bExtInf = !extInf.isEmpty();
  m_ExtInf = m_bExtInf ? extInf : QString();
  m_LegacyLines.clear();
  m_Tag1.UpdateDisplayName();
  m_Tag2.UpdateDisplayName();
}

QString TSlSong::GetPath(bool bFull) const {
  if (bFull && m_Parent) return lb::ToFullPath(m_Path, m_Parent->m_FileName);
  return m_Path;
}

bool TSlSong::IsStream() const {
  return lb::IsStreamUrl(m_Path);
}

void TSlSong::SetPathForm(bool bFull) {
  LB_ASSERT(m_Parent);
  if (m_Path.isEmpty()) return;
  const QString full = lb::ToFullPath(m_Path, m_Parent->m_FileName);
  // A drive letter mapped to a folder of this system is converted in either form.
  const bool bMappedDrive = lb::IsForeignPath(m_Path) && !lb::IsForeignPath(full);
  if (!bMappedDrive && lb::HasDrive(m_Path) == bFull) return;
  m_Path = bFull ? full : lb::ToBriefPath(full, m_Parent->m_FileName);
  m_Parent->SetModified();
}

void TSlSong::MarkModified() {
  if (m_Parent) m_Parent->SetModified();
}

bool TSlSong::Sync() {
  LB_ASSERT(this == m_Tag1.Parent);
  LB_ASSERT(this == m_Tag2.Parent);
  std::lock_guard<std::recursive_mutex> lock(cs);
  const QString path = GetPath(true);
  // A stream's address names no file: nothing is looked at (a file of this system named
  // like the address is not the song's), and it has the age of a file that is not there.
  const bool bStream = IsStream();
  // An unchanged file with nothing pending needs no more than one look at its age:
  // both records would find the same and stop there. A song never synchronised is read
  // at once, without that look.
  if (!m_bNewFileAge && m_FileAge != kAgeNeverSynced &&
      (bStream ? kAgeMissing : lb::FileAge(path)) == m_FileAge)
    return true;
  {
    // Both records take what they need from one look at the file, made under the
    // program-wide ID3Com lock that keeps the component linked to it meanwhile.
    std::lock_guard<std::recursive_mutex> id3(lb::ID3ComLock());
    TSlFileLook look;
    if (bStream) {
      look.bValid = true;
      look.age = kAgeMissing;
    } else {
      look = TSlTag2::LookAtFile(path);
    }
    m_Tag1.SyncWithFile(false, &look);
    m_Tag2.SyncWithFile(false, &look);
  }
  if (m_bNewFileAge) {
    if (m_NewFileAge == kAgeSyncAgain) {
      // A tag write failed: forget the stored age so that this pass reads the file
      // again instead of keeping what the user had tried to write.
      m_NewFileAge = kAgeMissing;
      m_FileAge = kAgeMissing;
      m_bNewFileAge = false;
      Sync();
    } else {
      m_FileAge = m_NewFileAge;
    }
    MarkModified();
    m_bNewFileAge = false;
  }
  return true;
}

namespace {
// The record belongs to the song: the same full path (a moved list's drive does not
// matter), or the song's stored path ends the record's path. Separators compare as
// equal, and a stored path with a drive letter also matches by the part after the
// drive, so records written on Windows or before the drive's folder changed still
// find their songs.
bool RecordMatches(const QString& record, const TSlSong& song) {
  const QString full = song.GetPath(true);
  if (record == full) return true;
  const QString recordTail = record.mid(lb::DrivePart(record).size());
  const QString fullTail = full.mid(lb::DrivePart(full).size());
  if (lb::SamePath(recordTail, fullTail)) return true;
  const Qt::CaseSensitivity cs =
      lb::HasDrive(record) && !record.startsWith('/') ? Qt::CaseInsensitive : Qt::CaseSensitive;
  // The tail is whole path components: "x/a.mp3" never ends "/old/ax/a.mp3".
  auto endsWith = [&](const QString& tail) {
    if (tail.isEmpty()) return false;
    QString a = record, b = tail;
    a.replace(u'\\', u'/');
    b.replace(u'\\', u'/');
    return a.endsWith(b, cs) &&
           (a.size() == b.size() || b.startsWith(u'/') || a[a.size() - b.size() - 1] == u'/');
  };
  const QString& stored = song.m_Path;
  return endsWith(stored) || endsWith(stored.mid(lb::DrivePart(stored).size()));
}
}  // namespace

bool TSlSong::MatchesRecord(const QString& recordPath) const {
  return RecordMatches(recordPath, *this);
}

bool TSlSong::Load(TSlStreamReader& stream) {
  std::lock_guard<std::recursive_mutex> lock(cs);
  QString path;
  if (!stream.ReadString(&path)) return false;
  if (m_Path.isEmpty()) {
    m_Path = path;
  } else if (!m_Parent) {
    if (!lb::SamePath(path, m_Path)) return false;
  } else if (!RecordMatches(path, *this)) {
    return false;
  }
  return stream.ReadString(&m_Reserved) && stream.ReadInt32(&m_FileAge) &&
         m_Tag1.LoadBlock(stream) && m_Tag2.LoadBlock(stream);
}

void TSlSong::Save(TSlStreamWriter& stream, bool bAsStored) const {
  std::lock_guard<std::recursive_mutex> lock(cs);
  stream.WriteString(bAsStored ? m_Path : GetPath(true));
  stream.WriteString(m_Reserved);
  stream.WriteInt32(m_FileAge);
  m_Tag1.SaveBlock(stream);
  m_Tag2.SaveBlock(stream);
}

// ---------------------------------------------------------------------------------
// TSlDocument

TSlDocument::TSlDocument() : m_DocNotSync(std::make_unique<TEvent>(true, true)) {}

TSlDocument::TSlDocument(const TSlDocument& other) : TSlDocument() {
  *this = other;
}

TSlDocument& TSlDocument::operator=(const TSlDocument& other) {
  if (this == &other) return *this;
  m_FileName = other.m_FileName;
  m_bNew = other.m_bNew;
  m_bModified = other.m_bModified;
  m_bExtM3u = other.m_bExtM3u;
  m_ExtM3uHeader = other.m_ExtM3uHeader;
  m_TrailingLines = other.m_TrailingLines;
  m_bLegacyText = other.m_bLegacyText;
  m_bUtf8Text = other.m_bUtf8Text;
  m_bUtf8Bom = other.m_bUtf8Bom;
  m_LegacyLines = other.m_LegacyLines;
  m_M3uAge = other.m_M3uAge;
  m_ClipFormat = other.m_ClipFormat;
  m_SeenPath = other.m_SeenPath;
  m_SeenId = other.m_SeenId;
  m_SeenAge = other.m_SeenAge;
  m_Songs.clear();
  m_Songs.reserve(other.m_Songs.size());
  for (int n = 0; n < other.m_Songs.size(); ++n)
    m_Songs.push_back(std::make_unique<TSlSong>(other.m_Songs[n]));
  ResetSongsParent();
  return *this;
}

TSlDocument::~TSlDocument() = default;

void TSlDocument::ResetSongsParent() {
  for (int n = 0; n < m_Songs.size(); ++n) m_Songs[n].m_Parent = this;
}

TIniFile& TSlDocument::Ini() {
  if (!m_Ini) m_Ini = std::make_unique<TIniFile>(lb::SettingsFilePath());
  return *m_Ini;
}

bool TSlDocument::FullPathsInsert() {
  return Ini().ReadBool("Edit", "FullPathsInsert", true);
}

void TSlDocument::Clear() {
  std::lock_guard<std::recursive_mutex> lock(m_Lock);
  m_Songs.clear();
  m_bExtM3u = false;
  m_ExtM3uHeader.clear();
  m_TrailingLines.clear();
  m_bLegacyText = false;
  m_bUtf8Text = false;
  m_bUtf8Bom = false;
  m_LegacyLines.clear();
  m_bModified = false;
  m_bNew = true;
  m_SeenPath.clear();
}

QString TSlDocument::GetTitle() {
  if (!Ini().ReadBool("Settings", "DocumentTitle", false)) return m_FileName;
  return lb::FileBaseName(m_FileName);
}

void TSlDocument::DeleteSongs(const std::vector<int>& nElements) {
  LB_ASSERT(m_DocNotSync->WaitFor(0) == wrSignaled);
  std::lock_guard<std::recursive_mutex> lock(m_Lock);
  // One pass over the list keeps deleting many songs from a long list fast.
  std::vector<bool> doomed(m_Songs.size(), false);
  int nSub = 0;
  for (size_t n = 0; n < nElements.size(); ++n, ++nSub) {
    LB_ASSERT(nElements[n] - nSub < (int)m_Songs.size() - nSub);
    doomed[nElements[n]] = true;
  }
  TSlSongList survivors;
  survivors.reserve(m_Songs.size() - nSub);
  for (int n = 0; n < m_Songs.size(); ++n)
    if (!doomed[n]) survivors.push_back(m_Songs.take(n));
  m_Songs = std::move(survivors);
  SetModified();
}

void TSlDocument::RemoveRange(int nStart, int nCount) {
  LB_ASSERT(m_DocNotSync->WaitFor(0) == wrSignaled);
  std::lock_guard<std::recursive_mutex> lock(m_Lock);
  LB_ASSERT(nStart >= 0 && nCount >= 0 && nStart + nCount <= (int)m_Songs.size());
  m_Songs.erase(nStart, nStart + nCount);
  SetModified();
}

void TSlDocument::CopySongsTo(const std::vector<int>& nElements, TSlSongVector& vSongs,
                              int nTargStart) const {
  LB_ASSERT(nTargStart <= (int)vSongs.size());
  std::lock_guard<std::recursive_mutex> lock(m_Lock);
  TSlSongVector copies;
  copies.reserve(nElements.size());
  for (int n : nElements) {
    LB_ASSERT(n >= 0 && n < (int)m_Songs.size());
    copies.emplace_back(m_Songs[n]);
    copies.back().m_Path = m_Songs[n].GetPath(true);
    copies.back().m_Parent = nullptr;
  }
  vSongs.insert(vSongs.begin() + nTargStart, copies.begin(), copies.end());
}

void TSlDocument::CopyRangeTo(int nStart, int nStop, TSlSongVector& vSongs, int nTargStart) const {
  std::vector<int> elements(std::max(0, nStop - nStart));
  std::iota(elements.begin(), elements.end(), nStart);
  CopySongsTo(elements, vSongs, nTargStart);
}

void TSlDocument::MoveSongs(const std::vector<int>& nElements, TSlSongVector& vSongs,
                            int nTargStart) {
  CopySongsTo(nElements, vSongs, nTargStart);
  DeleteSongs(nElements);
}

void TSlDocument::InsertSongs(const TSlSongVector& vSongs, int nStart, int nStop, int nTargStart) {
  LB_ASSERT(nStart >= 0 && nStart < (int)vSongs.size());
  LB_ASSERT(nStop >= 0 && nStop <= (int)vSongs.size());
  LB_ASSERT(nStop > nStart);
  const bool bFull = FullPathsInsert();
  std::vector<std::unique_ptr<TSlSong>> fresh;
  fresh.reserve(nStop - nStart);
  for (int n = nStart; n < nStop; ++n) {
    auto song = std::make_unique<TSlSong>(this, QString(), QString());
    song->AssignDetached(vSongs[n]);
    if (!bFull) song->m_Path = lb::ToBriefPath(song->m_Path, m_FileName);
    fresh.push_back(std::move(song));
  }
  std::lock_guard<std::recursive_mutex> lock(m_Lock);
  LB_ASSERT(nTargStart <= (int)m_Songs.size());
  m_Songs.insert(nTargStart, std::move(fresh));
  SetModified();
}

int TSlDocument::InsertSong(const TSlSong& song, int nAfter) {
  auto fresh = std::make_unique<TSlSong>(this, QString(), QString());
  fresh->AssignDetached(song);
  if (!FullPathsInsert()) fresh->m_Path = lb::ToBriefPath(fresh->m_Path, m_FileName);
  std::lock_guard<std::recursive_mutex> lock(m_Lock);
  int index = nAfter == -1 ? m_Songs.size() : nAfter + 1;
  LB_ASSERT(index <= (int)m_Songs.size());
  m_Songs.insert(index, std::move(fresh));
  SetModified();
  return index;
}

void TSlDocument::SortSongs(const std::vector<int>& nElements,
                            const std::function<bool(const TSlSong&, const TSlSong&)>& less) {
  ArrangeSongs(nElements,
               [&less](const std::vector<const TSlSong*>& songs, std::vector<int>& order) {
                 std::stable_sort(order.begin(), order.end(),
                                  [&](int a, int b) { return less(*songs[a], *songs[b]); });
               });
}

void TSlDocument::ArrangeSongs(const std::vector<int>& nElements, const TSongArranger& arrange) {
  std::lock_guard<std::recursive_mutex> lock(m_Lock);
  const int count = static_cast<int>(nElements.size());
  std::vector<const TSlSong*> songs(count);
  for (int k = 0; k < count; ++k) {
    LB_ASSERT(nElements[k] >= 0 && nElements[k] < (int)m_Songs.size());
    songs[k] = &m_Songs[nElements[k]];
  }
  std::vector<int> order(count);
  std::iota(order.begin(), order.end(), 0);
  arrange(songs, order);

  const bool bFull = FullPathsInsert();
  auto writtenPath = [&](const TSlSong& song) {
    const QString full = song.GetPath(true);
    return bFull ? full : lb::ToBriefPath(full, m_FileName);
  };
  // The permutation is applied cycle by cycle (each song keeps its address, the
  // contents move): one spare copy per cycle instead of a copy of every song. A
  // synchronisation pass may be reading a song meanwhile: each song is written under
  // its lock, its contents and its path together.
  std::vector<bool> placed(count, false);
  for (int first = 0; first < count; ++first) {
    if (placed[first]) continue;
    TSlSong& head = m_Songs[nElements[first]];
    if (order[first] == first) {
      placed[first] = true;
      std::lock_guard<std::recursive_mutex> songLock(head.cs);
      head.m_Path = writtenPath(head);
      continue;
    }
    const TSlSong spare(head);
    for (int k = first;;) {
      placed[k] = true;
      TSlSong& target = m_Songs[nElements[k]];
      const int from = order[k];
      const TSlSong& source = from == first ? spare : m_Songs[nElements[from]];
      {
        std::scoped_lock songLocks(target.cs, source.cs);
        const QString path = writtenPath(source);
        target.AssignDetached(source);
        target.m_Path = path;
      }
      if (from == first) break;
      k = from;
    }
  }
  SetModified();
}

// ---------------------------------------------------------------------------------
// Clipboard

namespace {
// After the records the payload carries the songs' "#" lines: this mark, then one
// length-prefixed text a song. Readers that know only the records stop at their byte
// count and never see it.
constexpr char kExtLinesMark[4] = {'#', 'E', 'X', 'T'};
}  // namespace

QByteArray TSlDocument::ClipboardPayload(const std::vector<int>& nElements) const {
  TSlStreamWriter records;
  TSlStreamWriter extLines;
  extLines.WriteBytes(kExtLinesMark, sizeof kExtLinesMark);
  {
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    for (int n : nElements) {
      TSlSong scratch(m_Songs[n]);
      scratch.m_Parent = nullptr;
      scratch.m_Path = m_Songs[n].GetPath(true);
      scratch.Save(records, true);
      extLines.WriteString(scratch.m_ExtInf);
    }
  }
  TSlStreamWriter payload;
  payload.WriteInt32(static_cast<int32_t>(records.Bytes().size()));
  payload.WriteInt32(static_cast<int32_t>(nElements.size()));
  payload.Bytes().append(records.Bytes());
  payload.Bytes().append(extLines.Bytes());
  return payload.Bytes();
}

void TSlDocument::CopyToClipboard(const std::vector<int>& nElements) const {
  UiServices::Instance().SetClipboardData(m_ClipFormat, ClipboardPayload(nElements));
}

void TSlDocument::CutToClipboard(const std::vector<int>& nElements) {
  if (nElements.empty()) return;
  CopyToClipboard(nElements);
  DeleteSongs(nElements);
}

void TSlDocument::PasteFromClipboard(int nStart) {
  LB_ASSERT(nStart <= (int)m_Songs.size());
  QByteArray block;
  if (!UiServices::Instance().GetClipboardData(m_ClipFormat, &block)) return;
  TSlStreamReader header(block);
  int32_t bytes = 0, count = 0;
  if (!header.ReadInt32(&bytes) || !header.ReadInt32(&count) || bytes < 0 || count < 0 ||
      bytes > header.Remaining())
    return;
  // Only records that read whole are pasted: a damaged payload never leaves
  // placeholder songs behind.
  TSlStreamReader records(block.constData() + 8, bytes);
  TSlStreamReader extLines(block.constData() + 8 + bytes, header.Remaining() - bytes);
  char mark[sizeof kExtLinesMark] = {};
  const bool bExtLines =
      extLines.ReadBytes(mark, sizeof mark) && std::memcmp(mark, kExtLinesMark, sizeof mark) == 0;
  const bool bFull = FullPathsInsert();
  std::vector<std::unique_ptr<TSlSong>> fresh;
  for (int32_t n = 0; n < count; ++n) {
    auto song = std::make_unique<TSlSong>(this, QString(), QString());
    if (!song->Load(records)) break;
    if (!bFull) song->m_Path = lb::ToBriefPath(song->m_Path, m_FileName);
    QString ext;
    if (bExtLines && extLines.ReadString(&ext)) {
      song->m_ExtInf = ext;
      song->m_bExtInf = !ext.isEmpty();
    }
    fresh.push_back(std::move(song));
  }
  std::lock_guard<std::recursive_mutex> lock(m_Lock);
  m_Songs.insert(nStart, std::move(fresh));
  SetModified();
}
