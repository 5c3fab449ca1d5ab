// "tags cover": the tags editor's cover work from the command line: one picture into
// songs, each song's folder picture, removing the front cover, or saving the covers
// as picture files. One line per song tells what was done.
#include "CliContext.h"

#include "lbtools3/model/M3uList.h"
#include "lbtools3/tags/TagsApply.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace lbtags;

namespace {

QString OutcomeText(TCoverOutcome outcome, const QString& note) {
  switch (outcome) {
    case TCoverOutcome::Set:
      return "обложка поставлена";
    case TCoverOutcome::Removed:
      return "обложка удалена";
    case TCoverOutcome::Kept:
      return "обложка оставлена как была";
    case TCoverOutcome::Skipped:
      return "пропущена: " + note;
    case TCoverOutcome::None:
      break;
  }
  return QString();
}

// Saves each song's cover into folder as "NN - name.jpg" (".png", ".gif", ".webp" by
// the picture's kind; never over a file that is there, never bytes of no picture
// kind); false when any song's cover could not be saved.
bool ExportCovers(CliContext& c, TSlDocument& doc, const std::vector<int>& rows,
                  const QString& folder) {
  bool ok = true;
  for (int row : rows) {
    const QString path = doc.m_Songs[row].GetPath(true);
    c.out << row + 1 << '\t' << path << '\t';
    if (doc.m_Songs[row].IsStream()) {
      c.out << "пропущена: " << QString::fromUtf8(lb::kStreamSkipped) << '\n';
      continue;
    }
    TCover cover;
    if (!ReadCover(path, &cover)) {
      c.out << "пропущена: " << QString::fromUtf8(kCoverReadError).arg(path) << '\n';
      ok = false;
      continue;
    }
    if (cover.data.isEmpty()) {
      c.out << QString::fromUtf8(kNoCover) << '\n';
      continue;
    }
    const QString target = QDir(folder).filePath(ExportFileName(row + 1, path, cover.data));
    if (const QString error = SaveCoverPicture(cover.data, target, false); !error.isEmpty()) {
      c.out << "пропущена: " << error << '\n';
      ok = false;
      continue;
    }
    c.out << "сохранена в " << target << '\n';
  }
  return ok;
}

int TagsCover(CliContext& c, const QStringList& args) {
  if (args.isEmpty()) return CliUsageError(c, "Укажите файл или лист");
  // A stream's address has no tags and never stands for a file of the current folder.
  if (lb::IsStreamUrl(args.first())) {
    c.err << QString::fromUtf8(lbtags::kStreamNoTags).arg(args.first()) << Qt::endl;
    return 1;
  }
  const QString target = CliAbsolutePath(args.first());
  QString rowsText, image, exportFolder;
  TCoverRequest request;
  int actions = 0;
  for (int i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == "--rows" && i + 1 < args.size()) {
      rowsText = args[++i];
    } else if (a == "--set" && i + 1 < args.size()) {
      image = args[++i];
      request.kind = TCoverRequest::Set;
      ++actions;
    } else if (a == "--from-folder") {
      request.kind = TCoverRequest::FromFolder;
      ++actions;
    } else if (a == "--remove") {
      request.kind = TCoverRequest::Remove;
      ++actions;
    } else if (a == "--export" && i + 1 < args.size()) {
      exportFolder = CliAbsolutePath(args[++i]);
      ++actions;
    } else {
      return CliUsageError(c, "Непонятный аргумент: " + a);
    }
  }
  if (actions != 1)
    return CliUsageError(c,
                         "Укажите одно из --set ИЗОБРАЖЕНИЕ, --from-folder, --remove, "
                         "--export ПАПКА");
  if (!exportFolder.isEmpty() && !QFileInfo(exportFolder).isDir()) {
    c.err << "Нет папки: " << exportFolder << Qt::endl;
    return 1;
  }
  // The picture is checked before any song is touched.
  if (request.kind == TCoverRequest::Set) {
    QString error;
    if (!LoadCoverImage(CliAbsolutePath(image), &request.data, &error)) {
      c.err << error << Qt::endl;
      return 1;
    }
  }

  if (!CliAttachID3Com(c)) return 1;
  TSlDocument doc;
  // A music file stands for itself; anything else is a list.
  const bool bList = !lb::IsTaggedPath(target);
  if (bList) {
    if (!CliLoadList(c, target, doc)) return 1;
  } else {
    if (!rowsText.isEmpty()) return CliUsageError(c, "--rows относится только к листу");
    doc.m_Songs.push_back(std::make_unique<TSlSong>(&doc, target, QString()));
  }
  std::vector<int> rows;
  if (rowsText.isEmpty()) {
    for (int n = 0; n < doc.m_Songs.size(); ++n) rows.push_back(n);
  } else if (!CliParseRows(c, rowsText, doc.m_Songs.size(), &rows)) {
    return 2;
  }
  if (!exportFolder.isEmpty()) return ExportCovers(c, doc, rows, exportFolder) ? 0 : 1;

  TTagsEditRequest r;
  r.master1 = r.master2 = TMaster::Untouched;
  r.cover = request;
  TTagsBatchApply batch(doc, rows, r);
  bool failed = false;
  batch.coverDone = [&](int n, TCoverOutcome outcome, const QString& note) {
    c.out << n + 1 << '\t' << doc.m_Songs[n].GetPath(true) << '\t' << OutcomeText(outcome, note)
          << '\n';
    // A folder without a picture or a stream's address is no failure; anything else
    // skipped is.
    if (outcome == TCoverOutcome::Skipped && note != QString::fromUtf8(kNoFolderPicture) &&
        note != QString::fromUtf8(lb::kStreamSkipped))
      failed = true;
  };
  batch.Run(false);
  if (bList && !CliSaveList(c, doc)) return 1;
  return failed || batch.Ended() || batch.Stopped() || batch.FlushFailed() ? 1 : 0;
}

}  // namespace

QList<CliCommandInfo> TagCoverCommands() {
  return {{"tags cover",
           "ФАЙЛ|ЛИСТ [--rows N,M-K] --set ИЗОБРАЖЕНИЕ | --from-folder | --remove | "
           "--export ПАПКА",
           "обложка песен: --set ставит картинку (JPEG, PNG, GIF или WebP до 16 МБ, байты как "
           "есть), --from-folder — картинку из папки каждой песни (cover, folder, front или "
           "единственную), --remove удаляет переднюю обложку (другие картинки остаются), "
           "--export сохраняет обложки в папку как «NN - имя.jpg» (.png, .gif или .webp по виду "
           "картинки; обложку, которая не является картинкой, не сохраняет), не перезаписывая "
           "файлы; по "
           "строке на песню; код возврата не 0 при любой ошибке",
           TagsCover}};
}
