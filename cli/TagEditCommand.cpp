// "tags edit": the tags editor's batch apply over songs of a list, from the command
// line, with the same rules and messages; the list and its data file are saved after.
#include "CliContext.h"

#include "lbtools3/model/M3uList.h"
#include "lbtools3/tags/TagsApply.h"
#include "platform/Genres.h"

#include <QFileInfo>
#include <algorithm>
#include <set>

using namespace lbtags;

namespace {

// The ID3v1 genre of a FIELD=VALUE: a number or a name; empty for none.
bool GenreValue(const QString& value, QString* number) {
  bool ok = false;
  int genre = value.isEmpty() ? lb::kNoGenre : value.toInt(&ok);
  if (!value.isEmpty() && !ok) genre = lb::GenreNumber(value);
  if (genre < 0 || genre > 255) return false;
  *number = QString::number(genre);
  return true;
}

// The ID3v2 genre of a FIELD=VALUE: a number of the table stands for its name (255 for
// none); any other text is the genre itself. false for a number without a genre, which
// would otherwise remove the song's genre.
bool GenreText2Value(const QString& value, QString* text) {
  bool ok = false;
  const int genre = value.toInt(&ok);
  if (!ok) {
    *text = value.trimmed();
    return true;
  }
  *text = lb::GenreName(genre);
  return genre == lb::kNoGenre || !text->isEmpty();
}

// Puts one FIELD=VALUE into the request for the chosen versions.
bool AddField(CliContext& c, TTagsEditRequest& r, bool v1, bool v2, const QString& field,
              const QString& value) {
  static const QStringList fields1{"title", "artist", "album", "year", "comment", "genre"};
  static const QStringList fields2{"title",     "artist",  "album",     "year",
                                   "genre",     "comment", "composer",  "origart",
                                   "copyright", "url",     "encodedby", "track"};
  const int f1 = int(fields1.indexOf(field));
  const int f2 = int(fields2.indexOf(field));
  if (f2 < 0) {
    c.err << "Неизвестное поле: " << field << Qt::endl;
    return false;
  }
  if (v1 && f1 < 0 && !v2) {
    c.err << "Поле " << field << " есть только в ID3v2" << Qt::endl;
    return false;
  }
  QString value1 = value, value2 = value;
  if (field == "genre") {
    if (v1 && !GenreValue(value, &value1)) {
      c.err << "Неизвестный жанр: " << value << Qt::endl;
      return false;
    }
    if (v2 && !GenreText2Value(value, &value2)) {
      c.err << "Неизвестный жанр: " << value << Qt::endl;
      return false;
    }
  }
  if (field == "track" && value.isEmpty()) value2 = "0";  // an empty value removes the field
  if (v1 && f1 >= 0) {
    r.change1[f1] = true;
    r.value1[f1] = value1;
  }
  if (v2) {
    r.change2[f2] = true;
    r.value2[f2] = value2;
  }
  return true;
}

int TagsEdit(CliContext& c, const QStringList& rawArgs) {
  QStringList args = rawArgs;
  if (args.isEmpty()) return CliUsageError(c, "Укажите лист");
  const QString listPath = QFileInfo(args.takeFirst()).absoluteFilePath();
  bool v1 = false, v2 = false, all = false;
  QString rowsText, separator;
  bool bSeparator = false;
  TTagsEditRequest r;
  r.master1 = r.master2 = TMaster::Untouched;
  QStringList assignments;
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == "--v1") {
      v1 = true;
    } else if (a == "--v2") {
      v2 = true;
    } else if (a == "--all") {
      all = true;
    } else if (a == "--rows" && i + 1 < args.size()) {
      rowsText = args[++i];
    } else if (a == "--copy-v2-to-v1") {
      r.bV2ToV1 = true;
    } else if (a == "--copy-v1-to-v2") {
      r.bV1ToV2 = true;
    } else if (a == "--from-name" && i + 1 < args.size()) {
      separator = args[++i];
      bSeparator = true;
    } else if (a.indexOf('=') > 0 && !a.startsWith("--")) {
      assignments << a;
    } else {
      return CliUsageError(c, "Непонятный аргумент: " + a);
    }
  }
  if (all && !rowsText.isEmpty()) return CliUsageError(c, "Укажите либо --rows, либо --all");
  if (r.bV2ToV1 && r.bV1ToV2)
    return CliUsageError(c, "Укажите не более одного из --copy-v2-to-v1 и --copy-v1-to-v2");
  // Without --v1 and --v2 a field goes into both versions, but a version is created
  // only where something is put into it: elsewhere a tag the song has is written back.
  const bool bNamed = v1 || v2;
  if (!bNamed) v1 = v2 = true;
  if (assignments.isEmpty() && !r.bV2ToV1 && !r.bV1ToV2 && !bSeparator)
    return CliUsageError(c, "Укажите хотя бы одно ПОЛЕ=ЗНАЧЕНИЕ, копирование или --from-name");

  for (const QString& a : assignments) {
    const qsizetype eq = a.indexOf('=');
    if (!AddField(c, r, v1, v2, a.left(eq).toLower(), a.mid(eq + 1))) return 2;
  }
  const auto any = [](const auto& changes) {
    return std::find(changes.begin(), changes.end(), true) != changes.end();
  };
  const bool bNamesInto1 = bSeparator && !r.bV2ToV1, bNamesInto2 = bSeparator && !r.bV1ToV2;
  if (v1) r.master1 = !bNamed && !any(r.change1) && !bNamesInto1 ? TMaster::Grey : TMaster::Ticked;
  if (v2) r.master2 = !bNamed && !any(r.change2) && !bNamesInto2 ? TMaster::Grey : TMaster::Ticked;
  if (r.bV2ToV1) {
    r.master1 = TMaster::Ticked;
    r.ChangeAll1();
  }
  if (r.bV1ToV2) {
    r.master2 = TMaster::Ticked;
    for (int f : {f2Title, f2Artist, f2Album, f2Year, f2Genre, f2Comment}) r.change2[f] = true;
  }
  if (bSeparator) {
    r.separator = separator;
    r.bExtract1 = v1 && !r.bV2ToV1;
    r.bExtract2 = v2 && !r.bV1ToV2;
  }

  if (!CliAttachID3Com(c)) return 1;
  TSlDocument doc;
  if (!CliLoadList(c, listPath, doc)) return 1;
  std::vector<int> rows;
  if (rowsText.isEmpty()) {
    for (int n = 0; n < doc.m_Songs.size(); ++n) rows.push_back(n);
  } else if (!CliParseRows(c, rowsText, doc.m_Songs.size(), &rows)) {
    return 2;
  }
  TTagsBatchApply batch(doc, rows, r);
  batch.changed = [&](int n) { c.out << n + 1 << '\t' << doc.m_Songs[n].GetPath(true) << '\n'; };
  if (!batch.Run()) return 1;  // a question was answered No: nothing was written
  if (!doc.Save(false)) {
    c.err << "Лист не сохранён: " << doc.m_FileName << Qt::endl;
    return 1;
  }
  return batch.Ended() || batch.Stopped() || batch.FlushFailed() ? 1 : 0;
}

}  // namespace

QList<CliCommandInfo> TagEditCommands() {
  return {{"tags edit",
           "ЛИСТ [--rows N,M-K | --all] [--v1] [--v2] ПОЛЕ=ЗНАЧЕНИЕ... "
           "[--copy-v2-to-v1 | --copy-v1-to-v2] [--from-name РАЗДЕЛИТЕЛЬ]",
           "записать поля тэгов в песни листа (номера с 1; без --v1 и --v2 — обе версии, но "
           "новый тэг появляется только там, куда что-то записывается; поля как у tags set); "
           "--from-name берёт исполнителя и название из имени файла; копирование пропускает "
           "песни без тэга-источника; лист и его файл данных сохраняются, по строке на "
           "изменённую песню",
           TagsEdit}};
}
