// The song-list model: a play list (TSlDocument) of songs (TSlSong), each naming one
// music file and carrying an ID3v1 record (TSlTag1) and an ID3v2 record (TSlTag2) that
// are kept in step with the tags inside the file. The list lives on disk as an M3U
// file plus a data file (".lbt") that caches every song's tags and file age.
#pragma once

#include "platform/Event.h"
#include "platform/FileSystem.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class TSlSong;
class TSlDocument;
class TSlStreamReader;
class TSlStreamWriter;
class TIniFile;
struct TSlTag2Fields;

// Data-file codes of ReadHeader and LoadData.
enum TSlDataCode {
  dcOk = 0,
  dcCannotOpen = 1,
  dcBadFormat = 2,
  dcBadVersion = 3,
  dcBadRecord = 4,
  dcDamaged = 5,
  dcStopped = 6,
};

// Codes of LoadM3u.
enum TSlM3uCode { mcLoaded = 0, mcStopped = 1, mcError = 2 };

// File ages with a special meaning.
inline constexpr int32_t kAgeMissing = -1;      // the file or its volume is not there
inline constexpr int32_t kAgeNeverSynced = -2;  // the song was never synchronised
inline constexpr int32_t kAgeSyncAgain = -3;    // pending: synchronise once more

// ---------------------------------------------------------------------------------
// Tag records

// Why the last write or removal of a tag record into its file failed.
enum class TSlTagError {
  None,
  NotMp3,       // the file's format does not hold this kind of tag: writing it would damage it
  ReadOnly,     // the file's owner may not write it and clearing that was not asked for
  Damaged,      // the file's ID3v2 tag could be read only in part: a rewrite would lose frames
  Failed,       // the file could not be opened or written
  NotLossless,  // the tag library could not change the tag without altering other fields
};

namespace lb {
// Whether the file is an MP3 file, told by the extension ".mp3" in any case.
bool IsMp3Path(const QString& path);
// The second record follows the main tag of every format the tag component writes
// (MP3, FLAC, Ogg, Opus, MP4, WMA, APE, WavPack, Musepack, TrueAudio, AIFF, WAV, by
// extension); the first record only the ID3v1 tag of the formats that carry one (MP3,
// APE, WavPack, Musepack, TrueAudio). An ID3 tag put where the format has none (before
// a RIFF header, after FLAC frames) would damage the file. A stream's address is
// neither, whatever its extension.
bool IsTaggedPath(const QString& path);
bool CarriesTag1(const QString& path);
}  // namespace lb

// What one look at a song's file tells both records during a synchronisation: the
// file's age, its last 128 bytes and (through the tag component, left linked to the
// file) its ID3v2 tag, all from one open and one fstat.
struct TSlFileLook {
  bool bValid = false;  // taken, and the file not written since
  int32_t age = -1;     // kAgeMissing when the file is not there
  uint64_t device = 0;
  char tail[128] = {};
  bool bHasTag2 = false;
};

class TSlTag {
 public:
  explicit TSlTag(TSlSong* parent) : Parent(parent) {}
  virtual ~TSlTag() = default;

  bool m_bExists = false;
  bool bTagSync = true;
  QString m_DisplayName;
  TSlSong* Parent;

  // The record's body in a data stream; false on a short read.
  virtual bool LoadBody(TSlStreamReader& stream) = 0;
  virtual void SaveBody(TSlStreamWriter& stream) const = 0;
  virtual bool FileHasTag() = 0;
  virtual bool ReadFromFile() = 0;
  virtual bool WriteToFile(bool bClearReadOnly) = 0;
  virtual bool RemoveFromFile(bool bClearReadOnly) = 0;
  virtual void Clear() = 0;
  virtual void UpdateDisplayName() = 0;
  // Writes the record into the file now, under the song's lock, and records the new
  // file age (or asks for one more synchronisation when the write failed).
  virtual bool SaveTag(bool bClearReadOnly);
  // Removes this kind of tag (from the file when the record follows it).
  virtual bool RemoveTag(bool bClearReadOnly);

  // Why the last WriteToFile or RemoveFromFile failed (None after a success), and the
  // Russian message naming the file that tells the user.
  TSlTagError LastError() const { return m_LastError; }
  QString LastErrorText() const;

  // Turns following the file on or off.
  bool SetSync(bool bSync);
  // Brings the record in step with the file; bForce re-reads an unchanged file. With
  // a look at the file (see TSlSong::Sync) the record takes what it needs from it.
  bool SyncWithFile(bool bForce, TSlFileLook* look = nullptr);

  // The record block of a data stream: a flag byte, then the body when it exists.
  bool LoadBlock(TSlStreamReader& stream);
  void SaveBlock(TSlStreamWriter& stream) const;

 protected:
  // The display rule shared by both records.
  void ComputeDisplayName(const QString& title, const QString& artist);
  void MarkModified();
  // Sets the song's pending file age unless it is -3 (kept until the next pass).
  void SetPendingAge(int32_t age);
  // The song's path in full form.
  QString FilePath() const;
  // Checks that the file may be written (an MP3 file whose owner may write it, made
  // writable when bClearReadOnly asks for it); records the refusal otherwise.
  bool MayWrite(const QString& path, bool bClearReadOnly);
  // Whether files like path carry this record's kind of tag.
  virtual bool FormatHolds(const QString& path) const = 0;
  // Records the outcome of a file operation and answers ok.
  bool Outcome(bool ok, TSlTagError error = TSlTagError::Failed);
  // FileHasTag and ReadFromFile answered from a valid look.
  virtual bool LookHasTag(const TSlFileLook& look) = 0;
  virtual bool ReadFromLook(const TSlFileLook& look) = 0;

  // Records the new file age after a write of the record that succeeded (ok), or asks
  // for one more synchronisation; answers ok.
  bool AfterWrite(bool ok);

  TSlTagError m_LastError = TSlTagError::None;
};

// ID3v1: fixed-width fields held in the tag code page, exactly as in the file.
class TSlTag1 : public TSlTag {
 public:
  static constexpr int kTextWidth = 30;
  static constexpr int kYearWidth = 4;
  static constexpr int kBodySize = 125;

  explicit TSlTag1(TSlSong* parent);

  char Title[kTextWidth + 1];
  char Artist[kTextWidth + 1];
  char Album[kTextWidth + 1];
  char Year[kYearWidth + 1];
  char Comment[kTextWidth + 1];
  unsigned char Genre = 255;

  QString GetTitle() const;
  QString GetArtist() const;
  QString GetAlbum() const;
  QString GetYear() const;
  QString GetComment() const;

  // Trailing blanks are removed first. A text longer than the field is refused
  // unless bTruncate is set, which keeps its first characters.
  bool SetTitle(const QString& text, bool bTruncate);
  bool SetArtist(const QString& text, bool bTruncate);
  bool SetAlbum(const QString& text, bool bTruncate);
  bool SetComment(const QString& text, bool bTruncate);
  // Refuses 5 characters or more; a non-empty text that is not an integer throws
  // TSlConvertError and changes nothing.
  bool SetYear(const QString& text);
  bool SetGenre(unsigned char genre);

  // The 125-byte body as in the file.
  void ToBody(char body[kBodySize]) const;
  void FromBody(const char body[kBodySize]);

  bool LoadBody(TSlStreamReader& stream) override;
  void SaveBody(TSlStreamWriter& stream) const override;
  bool FileHasTag() override;
  bool ReadFromFile() override;
  bool WriteToFile(bool bClearReadOnly) override;
  bool RemoveFromFile(bool bClearReadOnly) override;
  void Clear() override;
  void UpdateDisplayName() override;

 protected:
  bool LookHasTag(const TSlFileLook& look) override;
  bool ReadFromLook(const TSlFileLook& look) override;
  bool FormatHolds(const QString& path) const override { return lb::CarriesTag1(path); }

 private:
  bool SetField(char* field, int width, const QString& text, bool bTruncate);
};

class TSlTag2 : public TSlTag {
 public:
  explicit TSlTag2(TSlSong* parent);

  QString Title, Artist, Album, Year;
  // A number of the ID3v1 genre table, 255 for none, or lb::kGenreOutsideTable (-1) for a
  // genre the table lacks, whose text GenreText holds when the file was read (or the
  // text typed) in this session; a data file keeps only the number.
  int32_t Genre = 255;
  QString GenreText;
  QString Comment, Composer, OrigArt, Copyright, URL, EncodedBy;
  int32_t Track = 0;
  // The track as text when it is more than the number ("3/10"); empty otherwise.
  QString TrackText;

  // Leading blanks are removed; no length limit.
  bool SetTitle(const QString& text);
  bool SetArtist(const QString& text);
  bool SetAlbum(const QString& text);
  bool SetYear(const QString& text);
  bool SetComment(const QString& text);
  bool SetComposer(const QString& text);
  bool SetOrigArt(const QString& text);
  bool SetCopyright(const QString& text);
  bool SetURL(const QString& text);
  bool SetEncodedBy(const QString& text);
  bool SetGenre(int32_t genre);
  // A genre by name: a table name sets its number, an empty text none, any other text
  // is kept as it is.
  bool SetGenreText(const QString& text);
  bool SetTrack(int32_t track);
  // An empty text is ignored; "N" or "N/M" (non-negative integers) is taken; any other
  // text throws TSlConvertError and changes nothing.
  bool SetTrack(const QString& text);
  // To be called before the fields are changed other than through the setters (which
  // call it): the first change since the record last matched the file keeps the fields
  // as they were, and a write then puts only the fields that differ from them.
  void BeginChange();

  using TSlTag::SaveTag;
  // SaveTag for a change that can be undone: *replaced (when given) gets what the write
  // replaced in the file that the record's texts cannot tell (every value of a field that
  // held several, an MP3 frame's text encoding); empty when there is nothing such, or the
  // tag component is of an earlier build. The undo's write hands it back as putBack, so
  // that each field it changes goes back exactly as the file held it.
  bool SaveTag(bool bClearReadOnly, const QByteArray& putBack, QByteArray* replaced);

  bool LoadBody(TSlStreamReader& stream) override;
  void SaveBody(TSlStreamWriter& stream) const override;
  bool FileHasTag() override;
  bool ReadFromFile() override;
  bool WriteToFile(bool bClearReadOnly) override;
  bool RemoveFromFile(bool bClearReadOnly) override;
  void Clear() override;
  void UpdateDisplayName() override;

  // Takes the look at the file for a synchronisation (the caller holds the program-wide
  // ID3Com lock until both records used it); an invalid look when that fails.
  static TSlFileLook LookAtFile(const QString& path);
  // The kind of the file's main tag ("ID3v2", "Vorbis comment", "MP4", "ASF", "APE");
  // empty when the tag component cannot tell.
  static QString FileTagKind(const QString& path);

 protected:
  bool LookHasTag(const TSlFileLook& look) override;
  bool ReadFromLook(const TSlFileLook& look) override;
  bool FormatHolds(const QString& path) const override { return lb::IsTaggedPath(path); }

 private:
  bool SetText(QString& field, const QString& text, bool bDisplay);
  // WriteToFile, putting back and handing over what SaveTag's undo form does.
  bool WriteFields(bool bClearReadOnly, const QByteArray& putBack, QByteArray* replaced);
  // The fields of the tag the thread's component is linked to.
  void TakeFields();

  // The fields as the record held them before its first change since it last matched
  // the file (a read, a synchronisation, the data file or a write); none while
  // unchanged. A write puts only the fields that differ from them, so that what another
  // program saved meanwhile in the fields the user did not change stays.
  std::shared_ptr<const TSlTag2Fields> m_Read;
};

// A text that should have been an integer.
class TSlConvertError : public std::exception {
 public:
  explicit TSlConvertError(const QString& text)
      : m_Message(("'" + text + "' is not a valid integer value").toUtf8()) {}
  const char* what() const noexcept override { return m_Message.constData(); }

 private:
  QByteArray m_Message;
};

// ---------------------------------------------------------------------------------
// Songs

class TSlSong {
 public:
  TSlSong(TSlDocument* document, const QString& path, const QString& extInf);
  TSlSong(const TSlSong& other);             // a full copy; tags re-pointed to the copy
  TSlSong& operator=(const TSlSong& other);  // the same
  ~TSlSong() = default;

  TSlDocument* m_Parent;
  // The song's lock: loading, saving, copying and tag work on the song hold it.
  mutable std::recursive_mutex cs;
  TSlTag1 m_Tag1;
  TSlTag2 m_Tag2;
  QString m_Path;
  int32_t m_FileAge = kAgeNeverSynced;
  int32_t m_NewFileAge = 0;
  bool m_bNewFileAge = false;
  // The "#" lines that stood before the song's path in the list file (a player's
  // #EXTINF, #EXTVLCOPT, #EXTGRP...), verbatim and in order, joined by '\n'; they
  // travel with the song and are written before its path.
  QString m_ExtInf;
  bool m_bExtInf = false;
  // The song's lines (its "#" lines and its path) that were read in the legacy code
  // page, as read: a line whose text is still one of these is written back in it.
  QStringList m_LegacyLines;
  QString m_Reserved;

  void Reset(const QString& path, const QString& extInf);
  // The path resolved to full form against the document (bFull), or as stored.
  QString GetPath(bool bFull) const;
  void SetPathForm(bool bFull);
  // The song is a stream's address (lb::SongFileOf): it has no file.
  bool IsStream() const;

  // Everything but the path and the EXT line (the data-file merge).
  void AssignData(const TSlSong& other);
  // Everything but the owning document (songs moving between documents).
  void AssignDetached(const TSlSong& other);

  // Synchronises both records with the file; always true.
  bool Sync();
  // One record of a data stream or clipboard payload; false on a short read or when
  // the record belongs to another file.
  bool Load(TSlStreamReader& stream);
  // Whether a data record written for recordPath belongs to this song: the same full
  // path, or one that the song's stored path ends (a list moved or copied elsewhere).
  bool MatchesRecord(const QString& recordPath) const;
  // bAsStored writes the path as stored, otherwise in full form.
  void Save(TSlStreamWriter& stream, bool bAsStored) const;

  void MarkModified();

 private:
  void CopyFields(const TSlSong& other, bool bPath, bool bParent);
};

// The songs of a document. Each song keeps its address for its whole life, so a
// worker that holds one song is not disturbed when others are inserted.
class TSlSongList {
 public:
  int size() const { return static_cast<int>(m_Items.size()); }
  bool empty() const { return m_Items.empty(); }
  TSlSong& operator[](int n) { return *m_Items[n]; }
  const TSlSong& operator[](int n) const { return *m_Items[n]; }
  TSlSong& back() { return *m_Items.back(); }
  void clear() { m_Items.clear(); }
  void reserve(int n) { m_Items.reserve(n); }
  void push_back(std::unique_ptr<TSlSong> song) { m_Items.push_back(std::move(song)); }
  void insert(int n, std::unique_ptr<TSlSong> song) {
    m_Items.insert(m_Items.begin() + n, std::move(song));
  }
  void insert(int n, std::vector<std::unique_ptr<TSlSong>>&& songs) {
    m_Items.insert(m_Items.begin() + n, std::make_move_iterator(songs.begin()),
                   std::make_move_iterator(songs.end()));
  }
  // Takes the song out, leaving an empty slot (for passes that rebuild the list).
  std::unique_ptr<TSlSong> take(int n) { return std::move(m_Items[n]); }
  void erase(int n) { m_Items.erase(m_Items.begin() + n); }
  void erase(int first, int last) {
    m_Items.erase(m_Items.begin() + first, m_Items.begin() + last);
  }

 private:
  std::vector<std::unique_ptr<TSlSong>> m_Items;
};

// Detached songs (clipboard, moves, sorting, scan results) live in a plain sequence.
using TSlSongVector = std::vector<TSlSong>;

// ---------------------------------------------------------------------------------
// The document

class TSlDocument {
 public:
  TSlDocument();
  TSlDocument(const TSlDocument& other);
  TSlDocument& operator=(const TSlDocument& other);
  ~TSlDocument();

  static constexpr const char* kClipboardFormat = "{70C5820E-5747-48ea-8370-42F696752504}";
  static constexpr int kMaxLineBytes = 4096;
  // The largest list and data files read (a guard against devices and foreign files).
  static constexpr qint64 kMaxListBytes = qint64(1) << 30;
  static constexpr qint64 kMaxDataBytes = qint64(2) << 30;

  QString m_FileName;
  TSlSongList m_Songs;
  bool m_bNew = true;
  int32_t m_M3uAge = 0;
  bool m_bModified = false;
  QString m_ClipFormat = kClipboardFormat;
  // The list's own lines, verbatim, joined by '\n': the "#" lines before the first song
  // that come before its entry directives ("#EXTM3U", "#PLAYLIST:...", "#EXTENC:...",
  // a list-wide "#EXTGRP:..."). They are written first and never move with a song.
  QString m_ExtM3uHeader;
  bool m_bExtM3u = false;
  // "#" lines after the last song, verbatim, joined by '\n': they stay at the end.
  QString m_TrailingLines;
  // How the list file was written, so a save writes each line back as it was read:
  // some line was in the legacy code page, some line was UTF-8 beyond ASCII, the file
  // began with a UTF-8 byte-order mark (kept). New and changed lines are written in
  // the legacy code page only when the whole list was (and the text fits it).
  bool m_bLegacyText = false;
  bool m_bUtf8Text = false;
  bool m_bUtf8Bom = false;
  // The header line and the trailing lines that were read in the legacy code page.
  QStringList m_LegacyLines;
  // Signalled while no worker synchronises the document; structural changes need it.
  std::unique_ptr<TEvent> m_DocNotSync;
  // Guards the song sequence itself (count, positions) between the window and a
  // synchronising worker.
  mutable std::recursive_mutex m_Lock;

  // The settings file, opened on first use.
  TIniFile& Ini();

  void Clear();
  void SetFileName(const QString& path) { m_FileName = path; }
  QString GetTitle();
  void SetModified() { m_bModified = true; }

  void DeleteSongs(const std::vector<int>& nElements);
  void RemoveRange(int nStart, int nCount);
  void CopySongsTo(const std::vector<int>& nElements, TSlSongVector& vSongs, int nTargStart) const;
  void CopyRangeTo(int nStart, int nStop, TSlSongVector& vSongs, int nTargStart) const;
  void MoveSongs(const std::vector<int>& nElements, TSlSongVector& vSongs, int nTargStart);
  void InsertSongs(const TSlSongVector& vSongs, int nStart, int nStop, int nTargStart);
  int InsertSong(const TSlSong& song, int nAfter);
  // Sorts the listed songs among their own positions; less is the order. The sort is
  // stable: songs that compare equal keep their order.
  void SortSongs(const std::vector<int>& nElements,
                 const std::function<bool(const TSlSong&, const TSlSong&)>& less);
  // Puts the listed songs into a new order among their own positions. arrange gets the
  // listed songs and the order 0..n-1 to permute: order[k] is the song that goes to the
  // k-th listed position. Every listed song is written back with its path in full form
  // (brief when FullPathsInsert is off), as songs inserted into a list are.
  using TSongArranger =
      std::function<void(const std::vector<const TSlSong*>& vSongs, std::vector<int>& order)>;
  void ArrangeSongs(const std::vector<int>& nElements, const TSongArranger& arrange);

  void CopyToClipboard(const std::vector<int>& nElements) const;
  void CutToClipboard(const std::vector<int>& nElements);
  void PasteFromClipboard(int nStart);
  // The clipboard payload of the listed songs (what CopyToClipboard places).
  QByteArray ClipboardPayload(const std::vector<int>& nElements) const;

  bool Load(bool bSilent);
  bool Save(bool bSilent);
  int LoadM3u(const QString& path);
  bool SaveM3u(const QString& path, bool bSilent);
  int ReadHeader(TSlStreamReader& stream);
  int LoadData(TSlSongList& songs, TSlStreamReader& stream);
  bool SaveData(const QString& path, bool bSilent);
  bool MergeData(TSlSongList& stored);
  bool ShowDataFileError(int code);

  // The list path with its extension changed to ".lbt".
  static QString DataFilePath(const QString& listPath);
  // Why a file must not be replaced by a list or a report, by its name alone ("" when
  // it may): a data file, or a file with a working music extension.
  static QString SongOrDataFileReason(const QString& path);
  // Why a file must not be read or written as a list ("" when it may): the reasons
  // above and, for an existing file, one that is not a regular file, holds NUL bytes
  // near its start, or is a play list of another format. Such files are never
  // replaced by a list.
  static QString NotAListReason(const QString& path);
  // The message that refuses the path as a list (bSave: saving rather than loading);
  // false after showing it (unless silent) when the path must not be a list.
  static bool CheckListPath(const QString& path, bool bSave, bool bSilent);
  // Whether songs are inserted with full paths (setting Edit/FullPathsInsert).
  bool FullPathsInsert();

 private:
  void ResetSongsParent();
  std::unique_ptr<TIniFile> m_Ini;
  // Why LoadM3u refused the file as a list ("" when it did not).
  QString m_NotAList;
  // Lines of the list file that earlier versions read as songs (blank lines, "#" lines
  // without "#EXT"): their data files hold a record for each.
  int m_FormerSongLines = 0;

  // Notes the list file as it is now, just read or written by this document.
  void NoteListFile();
  // Whether a save may write the list (and its data file) over the file there now: when
  // another program changed or replaced it since this document last read or wrote it,
  // the user is asked; a silent save then leaves it as it is.
  bool MayWriteOverListFile(bool bSilent);
  // The list file as this document last read or wrote it: its path (empty when none:
  // a new list, or one given another name since), identity and age.
  QString m_SeenPath;
  lb::TFileId m_SeenId;
  int32_t m_SeenAge = kAgeMissing;
};

// Path forms. A path is full when it names its root: an absolute path, or one with a
// drive letter or a network host (lists made on other systems keep those as text).
// Resolving a path for a list of this system takes a backslash as a separator and maps
// a drive letter to a folder through the settings section "Drives" ("D=/media/music");
// an unmapped letter stays as it is and names no file. A stream's address
// ("http://host/live") is full as it stands and names no file of this system.
namespace lb {
bool HasDrive(const QString& path);
bool IsStreamUrl(const QString& path);
// What a song's full path names here: a file that is there, one that is missing, or a
// stream's address. A stream names no file: nothing reads or writes its tags, deletes,
// renames, copies or moves it, and it is never missing.
enum class TSongFile { Present, Missing, Stream };
TSongFile SongFileOf(const QString& fullPath);
// Why an operation on files passed a stream's row by.
inline constexpr const char* kStreamSkipped = "адрес потока, а не файл";
// The drive part of a path ("C:", "\\host\share", or "" for a path on this system).
QString DrivePart(const QString& path);
// The folder of a list path, with its trailing separator.
QString ListFolder(const QString& listPath);
QString ToFullPath(const QString& path, const QString& listPath);
QString ToBriefPath(const QString& path, const QString& listPath);
// The folder a drive letter stands for (settings section "Drives"), "" when unmapped.
QString DriveFolder(QChar letter);
// Path equality: exact for paths of this system, without case for paths with a drive
// letter or network host (their file systems ignored case).
bool SamePath(const QString& a, const QString& b);
// Where the file name of a path starts, after its last separator. A path of this
// system ("/...") is split at '/' alone: a backslash is a character of its names
// ("AC\DC - Thunder.mp3"). Other paths (a drive letter, a network host, a name a
// Windows list stored relative) are split at a backslash as well.
qsizetype FileNameStart(const QString& path);
// The file name of a path without folder and extension.
QString FileBaseName(const QString& path);
// The extension of a path with its dot, lower-cased ("" when none).
QString FileExtension(const QString& path);
// The path names a play list by its extension (".m3u", ".m3u8").
bool IsListFileName(const QString& path);
// The text holds a line break (CR or LF): a list line cannot hold it, so such a name
// cannot enter a list (it would be read back as two lines).
bool HasLineBreak(QStringView text);
}  // namespace lb
