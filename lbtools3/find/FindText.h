// Finding text in the tags of songs across lists: the searchable field rows, the find
// dialog's remembered choices and their checks, the matching of one song, and the
// search over the lists of a scope that yields one result row per list with matches.
// QtCore only: the dialog, the results window and the command-line tool share it.
#pragma once

#include "lbtools3/model/M3uList.h"
#include "lbtools3/ui/IListsHost.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

class TIniFile;

namespace lb {

// The searchable fields: column kinds 1 to 22 without 9, in kind order.
inline constexpr int kFindRowCount = 21;
int FindRowKind(int row);
// The field row of a column kind; -1 when the kind is not searchable.
int FindKindRow(int kind);
// Genre kinds are matched by number against the chosen genre, the others by text.
bool IsGenreKind(int kind);
// The genre numbers of the dialog's genre list: 255 for the empty first entry, then
// the genres of the table in alphabetical order.
QList<int> FindGenreList();

}  // namespace lb

// The scopes of the dialog, in its order.
enum TFindScope { fsCurrent = 0, fsMarked = 1, fsOpen = 2, fsAll = 3 };

// The find dialog's choices as the settings file keeps them (section "Settings").
struct TFindChoices {
  static constexpr int kHistorySize = 10;
  QStringList history;  // newest first
  bool bCase = false;
  int scope = fsCurrent;
  uint32_t mask = 0;  // bit r set: field row r is searched

  // Without a stored choice of fields, DefaultMask().
  static TFindChoices Load(const TIniFile& ini);
  // The title, artist and album rows of both tags.
  static uint32_t DefaultMask();
  // Writes the choices; a non-empty text first joins the history (newest first, no
  // repeats, at most ten).
  void Store(TIniFile& ini, const QString& text);
};

// What OK of the find dialog decides before searching.
enum class TFindCheck {
  NoCurrentList,  // scope "В текущем" without a window: switched to "Во всех", told
  NoCriteria,     // no field chosen: told, nothing searched
  Search,
};
// Checks the choices (scope and mask) against the state; the settings are stored
// (with text) unless the dialog has to stay open.
TFindCheck CheckFindChoices(TFindChoices& choices, const QString& text, bool bHasCurrent,
                            TIniFile& ini);

// Whether a song matches: the chosen fields are tried in row order and the first
// that matches decides.
class TSongMatcher {
 public:
  // genre: the chosen genre number (255 for the empty entry).
  TSongMatcher(const QString& text, bool bCase, uint32_t mask, int genre);
  bool Matches(const TSlSong& song) const;
  bool HasCriteria() const { return !m_Kinds.empty(); }

 private:
  bool TextMatches(const QString& field) const;

  QString m_Needle;
  bool m_bCase;
  std::vector<int> m_Kinds;
  int m_Genre;
};

// One list with matches (or one that could not be loaded for the search).
struct TFoundList {
  QString path;
  std::vector<int> indices;  // ascending
  // The list loaded for the search when it was not open; kept until it is opened in a
  // window or the rows are cleared.
  std::unique_ptr<TSlDocument> document;
  bool bLoadFailed = false;
  QString loadError = {};  // what the loading said
};
using TFoundLists = std::vector<TFoundList>;

// One list to search: its open document, or none to load it from the file.
struct TFindTarget {
  QString path;
  TSlDocument* document = nullptr;
};
// The lists of a scope; current is the current window (may be null).
std::vector<TFindTarget> FindTargets(int scope, IDocumentWindow* current, IListsHost* host);

// Searches the targets with a progress window and appends a row per list with matches.
// Lists loaded from their files are loaded silently and their songs synchronised
// before matching; a list that fails to load gets a row that says so. False when the
// user pressed Stop (told; the rows found so far stay). host, when given, shows each
// list in the repository as it is searched.
bool FindInLists(const TSongMatcher& matcher, const std::vector<TFindTarget>& targets,
                 TFoundLists& rows, IListsHost* host = nullptr);

// A click on a result row: a row whose list failed to load says so; otherwise the
// list's window is activated, or the list is opened (from the kept document when there
// is one and the file has not changed since, the document passing to the window), and
// its selection becomes the row's songs.
void OpenFoundList(TFoundList& row, IListsHost& host);
// Frees the documents kept by the rows (the rows stay).
void ReleaseFoundDocuments(TFoundLists& rows);

// Texts the user sees.
namespace lb::findtext {
inline constexpr const char* kNoCurrentList = "Отсутствует текущий лист";
inline constexpr const char* kNoCriteria = "Не заданы критерии поиска";
inline constexpr const char* kStopped = "Прервано пользователем.";
inline constexpr const char* kFoundPrefix = " Найдено записей: ";
inline constexpr const char* kLoadFailed =
    "Во время поиска при загрузке этого документа произошла ошибка.\nДля получения более "
    "точных сведений о ней попробуйте открыть\nдокумент обычным способом.";
inline constexpr const char* kLoadFailedCaption = "Ошибка";
}  // namespace lb::findtext
