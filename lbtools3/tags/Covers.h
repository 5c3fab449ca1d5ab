// Cover pictures of songs: reading a song file's cover and writing a new one (or
// removing it) through the tag component, the checks a picture passes before anything
// is written, the folder picture of a song, and the names covers are saved under.
#pragma once

#include <QByteArray>
#include <QString>

class TSlSong;

namespace lbtags {

inline constexpr const char* kNoCover = "Нет обложки";
inline constexpr const char* kNotImage =
    "Файл \"%1\" не является изображением (JPEG, PNG, GIF или WebP): обложка не изменена.";
inline constexpr const char* kImageTooLarge =
    "Изображение \"%1\" больше 16 МБ: обложка не изменена.";
inline constexpr const char* kImageUnreadable = "Не удалось прочитать файл \"%1\".";
inline constexpr const char* kCoverWriteError = "Не удалось записать обложку в файл \"%1\".";
inline constexpr const char* kCoverReadError = "Не удалось прочитать обложку из файла \"%1\".";

// How a file holds its cover besides the bytes, for putting it back as it was: its
// description (an APE item's file name), picture type (-1 where the format has none),
// the text encoding of an ID3v2 frame and the MIME type the file states.
struct TCoverDetails {
  QString description;
  int type = -1;
  int encoding = 0;
  QString statedMime;
  bool operator==(const TCoverDetails&) const = default;
};

struct TCover {
  QByteArray data;  // empty: no picture
  QString mime;
  // The picture is the cover; false for another picture shown for want of one (a back
  // cover), which a new cover goes beside and a removal leaves.
  bool bCover = false;
  TCoverDetails details = {};
  bool operator==(const TCover&) const = default;
};

// What an apply does with the cover of each song.
struct TCoverRequest {
  enum Kind { Keep, Set, FromFolder, Remove } kind = Keep;
  QByteArray data;  // the picture for Set
};

inline constexpr const char* kCoverKeep = "Обложка не меняется";
inline constexpr const char* kCoverRemoved = "Обложка будет удалена";
inline constexpr const char* kCoverFromFolder = "Картинка из папки каждой песни";
inline constexpr const char* kNoClipboardPicture = "В буфере обмена нет картинки";
inline constexpr const char* kNoDroppedPicture = "В перетащенных данных нет картинки";
inline constexpr const char* kCoverSaveError = "Не удалось сохранить картинку в файл \"%1\".";
inline constexpr const char* kCoverSaveExists = "Файл \"%1\" уже есть: картинка не сохранена.";
inline constexpr const char* kCoverSaveNotImage =
    "Обложка не является изображением JPEG, PNG, GIF или WebP: она не сохранена.";

// Empty when the bytes may go into a music file as its cover; otherwise the message
// that refuses them, naming where they came from.
QString CoverRefusal(const QByteArray& data, const QString& name);
// Reads a picture file for a cover; false (with the message in *error) when it cannot
// be read or is refused.
bool LoadCoverImage(const QString& path, QByteArray* data, QString* error);

// What the editor writes under a picture: "600×600, JPEG, 85 КБ".
QString CoverCaption(int width, int height, const QString& mime, qint64 bytes);

// The picture of the song's folder: cover, folder or front (.jpg, .jpeg, .png, any
// case), else the only picture file in the folder; empty when there is none.
QString FolderPictureOf(const QString& songPath);

// The name a song's cover is saved under: "NN - name.jpg" (NN the song's number, two
// digits at least; name the song file's name without its extension; the extension
// that of the picture's kind, told from its bytes).
QString ExportFileName(int number, const QString& songPath, const QByteArray& picture);
// Saves a cover's bytes, as they are, into a picture file: over a file that is there
// only when bReplace (the user chose it), else never. Bytes of no known picture kind
// are not written. Empty text on success, else the message that tells why not.
QString SaveCoverPicture(const QByteArray& picture, const QString& path, bool bReplace);

// Reads the cover of a music file; false when the file could not be read.
bool ReadCover(const QString& path, TCover* cover);
// Writes data as the file's cover (empty data removes the cover), with the details of
// asWas when given (a cover put back as it was, of whatever kind the file held), else
// as a front cover; bPutBack: the cover was removed, and goes back in front of the
// pictures left, taking none out. Empty text on success, else the message that tells
// why nothing was written.
QString WriteCover(const QString& path, const QByteArray& data,
                   const TCoverDetails* asWas = nullptr, bool bPutBack = false);
// The same for a song, under its lock: its records then follow the file again.
QString WriteSongCover(TSlSong& song, const QByteArray& data, const TCoverDetails* asWas = nullptr,
                       bool bPutBack = false);

// The cover part of the tags editor: what the picture box shows and what the apply
// will do. Single mode starts from the song's cover; batch mode from no change.
class TCoverEdit {
 public:
  void Start(const TCover& cover, bool bBatch);
  // A picture file, or picture bytes from the clipboard or a drop (name tells where
  // they came from); empty text when taken, else the message that refuses them.
  QString Load(const QString& path);
  QString Put(const QByteArray& data, const QString& name);
  void Remove();
  void FromFolder();  // batch mode: each song's folder picture
  // Writes the picture shown into a new file; empty text on success.
  QString SaveAs(const QString& path) const;

  // The picture to show (empty when none).
  const TCover& Shown() const { return m_Shown; }
  // What to write under the box when it shows no picture.
  QString Status() const;
  // What the apply does: Keep while nothing was changed.
  TCoverRequest Request() const;

 private:
  bool m_bBatch = false;
  TCover m_Original, m_Shown;
  TCoverRequest::Kind m_Kind = TCoverRequest::Keep;
};

}  // namespace lbtags
