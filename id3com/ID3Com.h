// The ID3Com component: reads and writes the main tag of one music file at a time (the
// ID3v2 tag of an MP3 file; the Vorbis comment, MP4 atoms, ASF attributes or APE tag of
// other formats, through the same twelve fields).
// The program creates class ID3ComTag by its CLSID and talks to it through IID3ComTag.
#pragma once

#include "com/Com.h"

// {52E49DFD-1341-4979-8BDA-4B921221C62B}
inline constexpr CLSID CLSID_ID3ComTag = {
    0x52E49DFD, 0x1341, 0x4979, {0x8B, 0xDA, 0x4B, 0x92, 0x12, 0x21, 0xC6, 0x2B}};
// {B3098469-EAE8-4C87-975D-5AEE2823C755}
inline constexpr IID IID_IID3ComTag = {
    0xB3098469, 0xEAE8, 0x4C87, {0x97, 0x5D, 0x5A, 0xEE, 0x28, 0x23, 0xC7, 0x55}};

inline constexpr const char* kID3ComProgId = "ID3Com.ID3ComTag";
// The library file the program looks for beside its executable.
inline constexpr const char* kID3ComLibraryName = "libid3com.so";

// Frame identifiers accepted by RemoveFrameByID.
enum ID3ComFrameId : LONG {
  ID3FID_COMMENT = 4,
  ID3FID_ALBUM = 29,
  ID3FID_COMPOSER = 31,
  ID3FID_COPYRIGHT = 33,
  ID3FID_ENCODEDBY = 42,
  ID3FID_TITLE = 47,
  ID3FID_ORIGARTIST = 58,
  ID3FID_LEADARTIST = 61,
  ID3FID_BAND = 62,
  ID3FID_CONDUCTOR = 63,
  ID3FID_YEAR = 80,
  ID3FID_WWWUSER = 92,
};

// SaveV2Tag's answer for a file whose tag could be read only in part (a frame with a
// broken size): rewriting it would lose the frames that could not be read.
inline constexpr HRESULT ID3COM_E_DAMAGEDTAG = static_cast<HRESULT>(0x80040301u);
// SaveV2Tag's answer when the tag library could not write the change without losing or
// altering other fields of the file's tag: nothing was written.
inline constexpr HRESULT ID3COM_E_NOTLOSSLESS = static_cast<HRESULT>(0x80040302u);

// What LinkFile tells of the file besides its ID3v2 tag, from the same open and fstat.
struct ID3ComFileFacts {
  int64_t size;             // -1 when the path names no readable regular file
  int64_t mtimeNs;          // modification time in nanoseconds since the epoch
  uint64_t device;          // the device the file lies on
  unsigned char tail[128];  // the last 128 bytes (where an ID3v1 tag lives); zeros when shorter
};

// ---- the fields of a synchronisation, handed over at once (GetFields) ----
// The texts are null when the field is empty; the caller frees each text it gets with
// SysFreeString. The values are those the getters of the same name answer.
struct ID3ComFields {
  VARIANT_BOOL hasV2Tag;  // as get_HasV2Tag
  BSTR title, artist, album, year, comment, composer, origArtist, copyright, url, encodedBy;
  LONG genre;      // as get_Genre
  BSTR genreText;  // as get_GenreText
  LONG track;      // as get_Track
  BSTR trackText;  // as get_TrackText
};
// ---- end of the fields of a synchronisation ----

// Text getters answer an empty string (a null BSTR is allowed) when the frame is
// absent; the caller frees what it gets with SysFreeString. Genre is the number of the
// ID3v1 genre table (255 = none, -1 = lb::kGenreOutsideTable for a genre the table
// lacks, named by GenreText; put back, -1 leaves the file's genre as it is), Track the
// track number (0 = none).
class IID3ComTag : public IUnknown {
 public:
  // Binds the object to the file and reads its tag; a missing or unreadable file binds
  // an empty tag and answers a failure. A damaged tag reads the frames that are whole
  // and counts as a tag (HasV2Tag) that SaveV2Tag refuses to rewrite.
  virtual HRESULT STDMETHODCALLTYPE Link(BSTR fileName) = 0;
  // Forgets the bound file's tag data (the binding stays: a save then removes the tag).
  virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
  // Writes the fields that were changed since Link into the bound file's tag (kept as
  // v2.4 when it was v2.4, else written as v2.3); an empty tag removes the file's
  // version-2 tag. Negative on failure (ID3COM_E_DAMAGEDTAG: the tag was damaged).
  virtual HRESULT STDMETHODCALLTYPE SaveV2Tag() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_HasV2Tag(VARIANT_BOOL* has) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveFrameByID(LONG frameId) = 0;

  virtual HRESULT STDMETHODCALLTYPE get_Title(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Title(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Artist(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Artist(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Album(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Album(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Year(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Year(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Comment(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Comment(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Composer(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Composer(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_OrigArtist(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_OrigArtist(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Copyright(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Copyright(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_URL(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_URL(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_EncodedBy(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_EncodedBy(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Genre(LONG* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Genre(LONG value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Track(LONG* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Track(LONG value) = 0;

  // Link, answering also what the synchronisation pass needs of the file for the ID3v1
  // tag and the change check, so that a song costs one open and one fstat.
  virtual HRESULT STDMETHODCALLTYPE LinkFile(BSTR fileName, ID3ComFileFacts* facts) = 0;

  // The genre as text when the table has no entry for it (empty otherwise). A put text
  // that names a table genre is that number; an empty text removes the genre.
  virtual HRESULT STDMETHODCALLTYPE get_GenreText(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_GenreText(BSTR value) = 0;
  // The track frame's text as the file has it ("3/10"); a put text "N" or "N/M" is
  // written as it is (Track becomes N), an empty one removes the track number.
  virtual HRESULT STDMETHODCALLTYPE get_TrackText(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_TrackText(BSTR value) = 0;
  // The kind of the bound file's main tag, which the "V2" operations read and write:
  // "ID3v2" for MP3, AIFF, WAV and TrueAudio, "Vorbis comment" (FLAC, Ogg Vorbis,
  // Opus, Speex), "MP4", "ASF", "APE" (APE, WavPack, Musepack); empty when unbound.
  virtual HRESULT STDMETHODCALLTYPE get_TagKind(BSTR* kind) = 0;
};

// ---- the fields of a synchronisation ----
// {6B43504B-162D-436B-B3C0-9E0E1AE42CD4}
inline constexpr IID IID_IID3ComFields = {
    0x6B43504B, 0x162D, 0x436B, {0xB3, 0xC0, 0x9E, 0x0E, 0x1A, 0xE4, 0x2C, 0xD4}};

// A second interface of the tag object, asked for with QueryInterface: a component
// registered from an earlier build lacks it, and its callers then use the getters.
class IID3ComFields : public IUnknown {
 public:
  // Every field the getters answer, in one call and with no allocation for an empty
  // text: a synchronisation pass reads them for thousands of files. On failure
  // (E_OUTOFMEMORY) every text is null.
  virtual HRESULT STDMETHODCALLTYPE GetFields(ID3ComFields* fields) = 0;
};
// ---- end of the fields of a synchronisation ----

// ---- the fields as the file held them ----
// {2BFCA5ED-D419-44AE-851E-802BAD3B3370}
inline constexpr IID IID_IID3ComFieldsAsWas = {
    0x2BFCA5ED, 0xD419, 0x44AE, {0x85, 0x1E, 0x80, 0x2B, 0xAD, 0x3B, 0x33, 0x70}};

// A further interface of the tag object, asked for with QueryInterface: a component
// registered from an earlier build lacks it, and its callers then put the fields back as
// texts. The texts of the main interface join several values of a field into one and say
// nothing of an ID3v2 frame's text encoding; this puts back what a save replaced exactly.
class IID3ComFieldsAsWas : public IUnknown {
 public:
  // What the last SaveV2Tag replaced: the fields it changed as the file held them before
  // (every value of each, and in an ID3v2 tag the frames themselves, text encoding
  // included), in a form only PutFieldsBack reads. *data stays valid until the next call
  // on the object; *size is 0 when the save replaced nothing that texts could not put back.
  virtual HRESULT STDMETHODCALLTYPE GetReplacedFields(const unsigned char** data, LONG* size) = 0;
  // The next SaveV2Tag writes each field that data holds and that was put or removed
  // since Link as data holds it, instead of the text put. data comes from
  // GetReplacedFields after a save of the same file that this save undoes; Link forgets it.
  virtual HRESULT STDMETHODCALLTYPE PutFieldsBack(const unsigned char* data, LONG size) = 0;
};
// ---- end of the fields as the file held them ----
