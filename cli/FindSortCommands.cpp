// Finding text in the tags of lists and sorting a list, with the rules and messages of
// the find and sort dialogs.
#include "CliContext.h"

#include "lbtools3/repository/Repository.h"
#include "lbtools3/model/SongFields.h"
#include "lbtools3/find/FindText.h"
#include "lbtools3/find/Sort.h"
#include "lbtools3/model/M3uList.h"
#include "platform/FileSystem.h"
#include "platform/Genres.h"
#include "platform/IniFile.h"

#include <QDir>
#include <QFileInfo>
#include <numeric>

namespace {

// The value after an option; false (after saying why) when it is missing.
bool OptionValue(CliContext& c, const QStringList& args, int& n, QString* value) {
  if (n + 1 >= args.size()) {
    CliUsageError(c, "Нет значения у " + args[n]);
    return false;
  }
  *value = args[++n];
  return true;
}

// "K1,K2..." as the mask of the find dialog's field rows.
bool FieldMask(CliContext& c, const QString& list, uint32_t* mask) {
  for (const QString& item : list.split(',', Qt::SkipEmptyParts)) {
    bool ok = false;
    const int row = lb::FindKindRow(item.trimmed().toInt(&ok));
    if (!ok || row < 0) {
      CliUsageError(c, "Поле " + item + " недоступно для поиска (поля 1–22, кроме 9)");
      return false;
    }
    *mask |= 1u << row;
  }
  return true;
}

int Find(CliContext& c, const QStringList& args) {
  QString text;
  bool bText = false, bCase = false, bAllLists = false, bFields = false;
  QString genreName;
  bool bGenre = false;
  uint32_t mask = 0;
  QStringList lists;
  for (int n = 0; n < args.size(); ++n) {
    const QString& a = args[n];
    QString value;
    if (a == "--case") {
      bCase = true;
    } else if (a == "--all-lists") {
      bAllLists = true;
    } else if (a == "--fields") {
      if (!OptionValue(c, args, n, &value) || !FieldMask(c, value, &mask)) return 2;
      bFields = true;
    } else if (a == "--genre") {
      if (!OptionValue(c, args, n, &genreName)) return 2;
      bGenre = true;
    } else if (!bText) {
      text = a;
      bText = true;
    } else {
      lists << a;
    }
  }
  if (!bText) return CliUsageError(c, "Укажите текст для поиска (можно пустой: \"\")");
  if (bAllLists == !lists.isEmpty()) return CliUsageError(c, "Укажите листы или --all-lists");
  int genre = lb::kNoGenre;
  if (bGenre && !genreName.isEmpty()) {
    genre = lb::GenreNumber(genreName);
    if (genre < 0) return CliUsageError(c, "Неизвестный жанр: " + genreName);
  }
  TIniFile ini(lb::SettingsFilePath());
  // Without --fields: the genre fields for a genre search, else the dialog's fields.
  if (!bFields)
    mask = bGenre ? (1u << lb::FindKindRow(lb::ckGenre1)) | (1u << lb::FindKindRow(15))
                  : TFindChoices::Load(ini).mask;
  const TSongMatcher matcher(text, bCase, mask, genre);
  if (!matcher.HasCriteria()) {
    c.err << lb::findtext::kNoCriteria << Qt::endl;
    return 1;
  }

  std::vector<TFindTarget> targets;
  if (bAllLists) {
    TListsRepository repository(ini, nullptr, true);
    repository.Load();
    for (int row = 0; row < repository.Count(); ++row) targets.push_back({repository.Path(row)});
  } else {
    for (const QString& list : lists) targets.push_back({CliAbsolutePath(list)});
  }
  if (!CliAttachID3Com(c)) return 1;
  TFoundLists rows;
  const bool bFinished = FindInLists(matcher, targets, rows);
  bool bFailed = false;
  for (const TFoundList& row : rows) {
    if (row.bLoadFailed) {
      c.err << row.path << ":\n" << row.loadError << '\n' << lb::findtext::kLoadFailed << Qt::endl;
      bFailed = true;
      continue;
    }
    c.out << row.path << '\t' << row.indices.size() << '\t';
    for (size_t k = 0; k < row.indices.size(); ++k) c.out << (k ? " " : "") << row.indices[k] + 1;
    c.out << '\n';
  }
  return bFinished && !bFailed ? 0 : 1;
}

int Sort(CliContext& c, const QStringList& args) {
  lb::TSortOrder order;
  QString list;
  bool bKind = false;
  order.bAscending = true;
  order.bCaseSensitive = false;
  for (int n = 0; n < args.size(); ++n) {
    const QString& a = args[n];
    QString value;
    if (a == "--desc") {
      order.bAscending = false;
    } else if (a == "--case") {
      order.bCaseSensitive = true;
    } else if (a == "--by") {
      if (!OptionValue(c, args, n, &value)) return 2;
      bool ok = false;
      order.kind = value.toInt(&ok);
      if (!ok || !lb::IsSortKind(order.kind))
        return CliUsageError(
            c, "Сортировать по полю " + value + " нельзя (поля 1–24, кроме 9: у ID3v1 нет трэка)");
      bKind = true;
    } else if (list.isEmpty()) {
      list = a;
    } else {
      return CliUsageError(c, "Укажите один лист");
    }
  }
  if (list.isEmpty() || !bKind) return CliUsageError(c, "Укажите лист и --by ПОЛЕ");
  if (!CliAttachID3Com(c)) return 1;
  TSlDocument doc;
  if (!CliLoadList(c, list, doc)) return 1;
  // The order is the one the window would show after its synchronisation pass.
  for (int n = 0; n < doc.m_Songs.size(); ++n) doc.m_Songs[n].Sync();
  std::vector<int> all(doc.m_Songs.size());
  std::iota(all.begin(), all.end(), 0);
  if (!all.empty()) doc.ArrangeSongs(all, lb::SongArranger(order));
  if (doc.m_bModified && !doc.Save(false)) {
    c.err << "Лист не сохранён: " << doc.m_FileName << Qt::endl;
    return 1;
  }
  return 0;
}

}  // namespace

QList<CliCommandInfo> FindSortCommands() {
  return {
      {"find", "TEXT [--case] [--fields K1,K2...] [--genre NAME] [LIST...|--all-lists]",
       "найти текст в тэгах (поля — виды колонок 1–22, кроме 9; без --fields — поля диалога "
       "поиска, с --genre — жанры); строка на лист с находками: ЛИСТ<TAB>ЧИСЛО<TAB>номера песен",
       Find},
      {"sort", "LIST --by KIND [--desc] [--case]",
       "отсортировать весь лист по виду колонки KIND (1–24, кроме 9) и сохранить его", Sort},
  };
}
