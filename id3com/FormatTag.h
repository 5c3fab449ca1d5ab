// The main tag of the music files other than MP3 that TagLib reads and writes: Vorbis
// comments (FLAC, Ogg Vorbis, Opus, Ogg FLAC, Speex), MP4 atoms, ASF attributes, APE
// tags (APE, WavPack, Musepack) and the ID3v2 tag of AIFF, WAV and TrueAudio files.
#pragma once

#include "com/Com.h"
#include "platform/MusicFormats.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>

namespace TagLib {
class File;
}

namespace id3 {

// What the program reads of such a tag: its kind ("Vorbis comment", "MP4", "ASF",
// "APE", "ID3v2") and the texts of its fields, keyed by the ID3v2 frame that holds
// the same field in an MP3 file ("TIT2", "TPE1", "TALB", "TYER", "COMM", "TCOM",
// "TOPE", "TCOP", "WXXX", "TENC", "TCON", "TRCK"). Several values of one field are
// joined with "; "; dates, genres and "3/10" tracks are the texts as stored.
struct TFormatTag {
  QString kind;
  bool hasTag = false;  // the file holds the tag, with any field (not only these)
  QMap<QByteArray, QString> values;
};

// The files this module handles (the format by extension, Ogg by content).
bool IsFormatTagFile(const QString& path);

// Reads the file's main tag; through fd (open for reading, left open) when it is given.
HRESULT ReadFormatTag(const QString& path, TFormatTag* tag, int fd = -1);

// The values of fields that hold several, by frame id: what their texts, joined, cannot
// put back by themselves.
using TFieldValues = QMap<QByteArray, QStringList>;

// Writes the changed fields (frame id -> text; empty text removes the field) into the
// file's main tag; every other field, picture and value stays. With clearFields every
// field the program knows goes first. alsoEdit, when given, changes the file further in
// the same write before it is saved (a new cover with the fields: one write of the
// file). The file is changed through a copy (EditFormatFile), so a failure leaves it
// whole. Answers ID3COM_E_NOTLOSSLESS when the tag library could not keep the rest of
// the tag as it was. A changed field that putBack holds, and whose text is its values
// joined, gets those values; *replaced (when given) gets the changed fields that held
// several values before the write.
HRESULT WriteFormatTag(const QString& path, const QMap<QByteArray, QString>& edits,
                       bool clearFields,
                       const std::function<HRESULT(TagLib::File*)>& alsoEdit = nullptr,
                       const TFieldValues* putBack = nullptr, TFieldValues* replaced = nullptr);

// Changes the music file at path (whose name tells its format) through the tag library
// in memory, in one pass: edit gets the file as the tag library sees it and saves its
// changes; the result is written into a copy that takes the file's place
// (EditThroughCopy), with every write checked, since the tag library does not check its
// own writes.
HRESULT EditFormatFile(const QString& path, const std::function<HRESULT(TagLib::File*)>& edit);

}  // namespace id3
