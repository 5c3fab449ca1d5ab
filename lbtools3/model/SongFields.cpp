#include "SongFields.h"

#include "M3uList.h"
#include "platform/Assert.h"
#include "platform/Genres.h"

namespace lb {

namespace {
// Captions are quoted exactly, the missing blank of kind 17 included.
constexpr TColumnKind kKinds[kColumnKindCount] = {
    {"N", 40, 6},
    {"Имя (Тэг1)", 200, 63},
    {"Путь", 400, 100},
    {"Название (Тэг1)", 100, 33},
    {"Исполнитель (Тэг1)", 100, 33},
    {"Альбом (Тэг1)", 100, 33},
    {"Год (Тэг1)", 50, 13},
    {"Комментарий (Тэг1)", 100, 33},
    {"Жанр (Тэг1)", 90, 19},
    {"Трэк (Тэг1)", 100, 14},
    {"Имя (Тэг2)", 200, 63},
    {"Название (Тэг2)", 100, 40},
    {"Исполнитель (Тэг2)", 100, 40},
    {"Альбом (Тэг2)", 100, 40},
    {"Год (Тэг2)", 50, 13},
    {"Жанр (Тэг2)", 90, 19},
    {"Комментарий (Тэг2)", 100, 40},
    {"Композитор(Тэг2)", 100, 40},
    {"Orig. Исполнитель (Тэг2)", 100, 40},
    {"Авторские права (Тэг2)", 100, 40},
    {"URL (Тэг2)", 100, 50},
    {"Кем кодирован (Тэг2)", 100, 40},
    {"Трэк (Тэг2)", 100, 14},
    {"Синхр. (Тэг1)", 16, 15},
    {"Синхр. (Тэг2)", 16, 15},
};

QString GenreText(bool bExists, int genre) {
  return bExists && genre >= 0 && genre < kGenreCount ? GenreName(genre) : QString();
}

// The main tag of formats other than MP3 holds free texts: a genre the table lacks and a
// track with its total show as the file has them. MP3 songs show the numbers.
bool ShowsTagTexts(const TSlSong& song) {
  return song.m_Tag2.m_bExists && !IsMp3Path(song.m_Path);
}
}  // namespace

bool IsColumnKind(int kind) {
  return kind >= 0 && kind < kColumnKindCount;
}

const TColumnKind& ColumnKind(int kind) {
  LB_ASSERT(IsColumnKind(kind));
  return kKinds[kind];
}

QString ColumnCaption(int kind) {
  return QString::fromUtf8(ColumnKind(kind).caption);
}

int ColumnDefaultWidth(int kind) {
  return ColumnKind(kind).width;
}

int ColumnTextWidth(int kind) {
  return ColumnKind(kind).textWidth;
}

bool IsColumnOffered(int kind) {
  return IsColumnKind(kind) && kind != ckTrack1;
}

QString OneLineComment(const QString& comment) {
  if (!comment.contains('\r') && !comment.contains('\n')) return comment;
  QString result;
  qsizetype start = 0;
  const qsizetype size = comment.size();
  while (start <= size) {
    qsizetype end = start;
    while (end < size && comment.at(end) != '\r' && comment.at(end) != '\n') ++end;
    if (end > start) {
      if (!result.isEmpty()) result += ' ';
      result += QStringView(comment).mid(start, end - start);
    }
    start = end + 1;
  }
  return result;
}

QString ColumnText(const TSlSong& song, int kind, int row) {
  const TSlTag1& t1 = song.m_Tag1;
  const TSlTag2& t2 = song.m_Tag2;
  switch (kind) {
    case 0:
      return QString::number(row + 1);
    case 1:
      // A file of a format without ID3v1 (FLAC, Opus, M4A, ...) is named by its main tag,
      // so that a list of such files shows their songs, not only their file names.
      return CarriesTag1(song.m_Path) ? t1.m_DisplayName : t2.m_DisplayName;
    case 2:
      return song.GetPath(false);
    case 3:
      return t1.GetTitle();
    case 4:
      return t1.GetArtist();
    case 5:
      return t1.GetAlbum();
    case 6:
      return t1.GetYear();
    case 7:
      return t1.GetComment();
    case 8:
      return GenreText(t1.m_bExists, t1.Genre);
    case 10:
      return t2.m_DisplayName;
    case 11:
      return t2.Title;
    case 12:
      return t2.Artist;
    case 13:
      return t2.Album;
    case 14:
      return t2.Year;
    case 15:
      if (ShowsTagTexts(song) && t2.Genre == kGenreOutsideTable) return t2.GenreText;
      return GenreText(t2.m_bExists, t2.Genre);
    case 16:
      return OneLineComment(t2.Comment);
    case 17:
      return t2.Composer;
    case 18:
      return t2.OrigArt;
    case 19:
      return t2.Copyright;
    case 20:
      return t2.URL;
    case 21:
      return t2.EncodedBy;
    case 22:
      if (ShowsTagTexts(song) && !t2.TrackText.isEmpty()) return t2.TrackText;
      return t2.m_bExists ? QString::number(t2.Track) : QString();
    default:
      return QString();  // 9, 23, 24 and unknown kinds
  }
}

}  // namespace lb
