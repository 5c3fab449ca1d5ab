// Tag commands: show and set the ID3v1 and ID3v2 tags of one music file.
#include "CliContext.h"

#include "lbtools3/model/M3uList.h"
#include "lbtools3/tags/TagsApply.h"
#include "lbtools3/tags/TagsEdit.h"
#include "platform/FileSystem.h"
#include "platform/Genres.h"

#include <QFileInfo>

namespace {

QString GenreText(int genre) {
  const QString name = lb::GenreName(genre);
  return name.isEmpty() ? QString::number(genre) : QString("%1 (%2)").arg(name).arg(genre);
}

void PrintTags(CliContext& c, TSlSong& song) {
  const TSlTag1& t1 = song.m_Tag1;
  c.out << "ID3v1:";
  if (!t1.m_bExists) {
    c.out << " нет\n";
  } else {
    c.out << "\n  title\t" << t1.GetTitle() << "\n  artist\t" << t1.GetArtist() << "\n  album\t"
          << t1.GetAlbum() << "\n  year\t" << t1.GetYear() << "\n  comment\t" << t1.GetComment()
          << "\n  genre\t" << GenreText(t1.Genre) << '\n';
  }
  const TSlTag2& t2 = song.m_Tag2;
  // The second record is the file's main tag: its kind is named when it is not ID3v2.
  const QString kind = TSlTag2::FileTagKind(song.m_Path);
  c.out << (kind.isEmpty() || kind == "ID3v2" ? QString("ID3v2:") : "ID3v2 (" + kind + "):");
  if (!t2.m_bExists) {
    c.out << " нет\n";
    return;
  }
  c.out << "\n  title\t" << t2.Title << "\n  artist\t" << t2.Artist << "\n  album\t" << t2.Album
        << "\n  year\t" << t2.Year << "\n  genre\t"
        << (t2.Genre == lb::kGenreOutsideTable ? t2.GenreText : GenreText(t2.Genre))
        << "\n  comment\t" << t2.Comment << "\n  composer\t" << t2.Composer << "\n  origart\t"
        << t2.OrigArt << "\n  copyright\t" << t2.Copyright << "\n  url\t" << t2.URL
        << "\n  encodedby\t" << t2.EncodedBy << "\n  track\t"
        << (t2.TrackText.isEmpty() ? QString::number(t2.Track) : t2.TrackText) << '\n';
}

// Reads both tags of the file into a song of its own.
bool ReadTags(CliContext& c, TSlSong& song) {
  if (!lb::FileExists(song.m_Path)) {
    c.err << "Файл не найден: " << song.m_Path << Qt::endl;
    return false;
  }
  if (!CliAttachID3Com(c)) return false;
  if (!song.m_Tag1.ReadFromFile() || !song.m_Tag2.ReadFromFile()) {
    c.err << "Не удалось прочитать тэги: " << song.m_Path << Qt::endl;
    return false;
  }
  song.m_Tag1.UpdateDisplayName();
  song.m_Tag2.UpdateDisplayName();
  return true;
}

// The full path of a file argument; "" (after saying why) for a stream's address, which
// has no tags: it never stands for a file of the current folder.
QString TaggedFileArgument(CliContext& c, const QString& arg) {
  if (lb::IsStreamUrl(arg)) {
    c.err << QString::fromUtf8(lbtags::kStreamNoTags).arg(arg) << Qt::endl;
    return QString();
  }
  return QFileInfo(arg).absoluteFilePath();
}

int TagsShow(CliContext& c, const QStringList& args) {
  if (args.size() != 1) return CliUsageError(c, "Укажите один файл");
  const QString path = TaggedFileArgument(c, args[0]);
  if (path.isEmpty()) return 1;
  TSlSong song(nullptr, path, QString());
  if (!ReadTags(c, song)) return 1;
  PrintTags(c, song);
  return 0;
}

int GenreNumberOf(const QString& value) {
  bool ok = false;
  int number = value.toInt(&ok);
  return ok ? number : lb::GenreNumber(value);
}

// Applies one FIELD=VALUE to the chosen records; false with a message when refused.
bool SetField(CliContext& c, TSlSong& song, bool v1, bool v2, const QString& field,
              const QString& value) {
  TSlTag1& t1 = song.m_Tag1;
  TSlTag2& t2 = song.m_Tag2;
  bool ok = true;
  try {
    if (field == "title") {
      ok = (!v1 || t1.SetTitle(value, false)) && (!v2 || t2.SetTitle(value));
    } else if (field == "artist") {
      ok = (!v1 || t1.SetArtist(value, false)) && (!v2 || t2.SetArtist(value));
    } else if (field == "album") {
      ok = (!v1 || t1.SetAlbum(value, false)) && (!v2 || t2.SetAlbum(value));
    } else if (field == "year") {
      ok = !v1 || t1.SetYear(value);
      // The window's rule: four digits at most, or an ID3v2.4 time stamp.
      if (ok && v2 && !lbtags::ValidYear2(value)) {
        c.err << lbtags::kYear2Error << ": " << value << Qt::endl;
        return false;
      }
      ok = ok && (!v2 || t2.SetYear(value));
    } else if (field == "comment") {
      ok = (!v1 || t1.SetComment(value, false)) && (!v2 || t2.SetComment(value));
    } else if (field == "genre") {
      // ID3v2 also takes a genre the table lacks, as text.
      const int genre = value.isEmpty() ? lb::kNoGenre : GenreNumberOf(value);
      if ((genre < 0 || genre > 255) && v1) {
        c.err << "Неизвестный жанр: " << value << Qt::endl;
        return false;
      }
      ok = (!v1 || t1.SetGenre(static_cast<unsigned char>(genre))) &&
           (!v2 || (genre >= 0 ? t2.SetGenre(genre) : t2.SetGenreText(value)));
    } else if (!v2) {
      c.err << "Поле " << field << " есть только в ID3v2" << Qt::endl;
      return false;
    } else if (field == "track") {
      ok = value.isEmpty() ? t2.SetTrack(0) : t2.SetTrack(value);
    } else if (field == "composer") {
      ok = t2.SetComposer(value);
    } else if (field == "origart") {
      ok = t2.SetOrigArt(value);
    } else if (field == "copyright") {
      ok = t2.SetCopyright(value);
    } else if (field == "url") {
      ok = t2.SetURL(value);
    } else if (field == "encodedby") {
      ok = t2.SetEncodedBy(value);
    } else {
      c.err << "Неизвестное поле: " << field << Qt::endl;
      return false;
    }
  } catch (const TSlConvertError&) {
    c.err << "Значение поля " << field << " должно быть числом: " << value << Qt::endl;
    return false;
  }
  if (!ok) c.err << "Значение поля " << field << " не помещается в ID3v1: " << value << Qt::endl;
  return ok;
}

int TagsSet(CliContext& c, const QStringList& rawArgs) {
  QStringList args = rawArgs;
  bool v1 = true, v2 = true;
  if (args.contains("--v1")) v2 = false, args.removeAll("--v1");
  if (args.contains("--v2")) v1 = false, args.removeAll("--v2");
  if (!v1 && !v2) return CliUsageError(c, "Укажите не более одного из --v1 и --v2");
  if (args.size() < 2) return CliUsageError(c, "Укажите файл и хотя бы одно ПОЛЕ=ЗНАЧЕНИЕ");
  const QString path = TaggedFileArgument(c, args[0]);
  if (path.isEmpty()) return 1;
  TSlSong song(nullptr, path, QString());
  if (!lb::IsTaggedPath(song.m_Path)) {
    c.err << "Файл \"" << song.m_Path << "\" не является файлом MP3: тэги в него не записываются."
          << Qt::endl;
    return 1;
  }
  // A format without ID3v1 gets only its main tag, unless --v1 asked for the other.
  if (v1 && v2 && !lb::CarriesTag1(song.m_Path)) v1 = false;
  if (!ReadTags(c, song)) return 1;
  for (const QString& assignment : args.mid(1)) {
    const qsizetype eq = assignment.indexOf('=');
    if (eq <= 0) return CliUsageError(c, "Ожидается ПОЛЕ=ЗНАЧЕНИЕ: " + assignment);
    if (!SetField(c, song, v1, v2, assignment.left(eq).toLower(), assignment.mid(eq + 1))) return 1;
  }
  // ID3v2 first: a damaged ID3v2 tag refuses the write, and then nothing is written.
  for (TSlTag* tag : {static_cast<TSlTag*>(&song.m_Tag2), static_cast<TSlTag*>(&song.m_Tag1)}) {
    if ((tag == &song.m_Tag2 ? v2 : v1) && !tag->WriteToFile(true)) {
      c.err << tag->LastErrorText() << Qt::endl;
      return 1;
    }
  }
  return 0;
}

}  // namespace

QList<CliCommandInfo> TagCommands() {
  return {
      {"tags show", "FILE", "тэги ID3v1 и ID3v2 музыкального файла", TagsShow},
      {"tags set", "FILE [--v1|--v2] ПОЛЕ=ЗНАЧЕНИЕ...",
       "записать поля тэгов (title artist album year comment genre; только ID3v2: track "
       "composer origart copyright url encodedby); пустое значение удаляет поле",
       TagsSet},
  };
}
