#include "FindText.h"

#include "lbtools3/model/SongFields.h"
#include "lbtools3/model/InfoWindowManager.h"
#include "platform/FileSystem.h"
#include "platform/Genres.h"
#include "platform/IniFile.h"
#include "platform/Pace.h"
#include "platform/UiServices.h"

#include <algorithm>

namespace lb {

int FindRowKind(int row) {
  return row < ckGenre1 ? row + 1 : row + 2;
}

int FindKindRow(int kind) {
  if (kind < 1 || kind > 22 || kind == ckTrack1) return -1;
  return kind < ckTrack1 ? kind - 1 : kind - 2;
}

bool IsGenreKind(int kind) {
  return kind == ckGenre1 || kind == 15;
}

QList<int> FindGenreList() {
  QList<int> numbers;
  for (int n = 0; n < kGenreCount; ++n) numbers << n;
  std::stable_sort(numbers.begin(), numbers.end(), [](int a, int b) {
    return GenreName(a).compare(GenreName(b), Qt::CaseInsensitive) < 0;
  });
  numbers.prepend(kNoGenre);
  return numbers;
}

}  // namespace lb

namespace {
constexpr const char* kSection = "Settings";
constexpr uint32_t kAllRows = (1u << lb::kFindRowCount) - 1;
}  // namespace

TFindChoices TFindChoices::Load(const TIniFile& ini) {
  TFindChoices c;
  for (int n = 0; n < kHistorySize; ++n) {
    const QString text = ini.ReadString(kSection, QString("FindTextString%1").arg(n), QString());
    if (text.isEmpty()) break;
    c.history << text;
  }
  c.bCase = ini.ReadBool(kSection, "FindTextCase", false);
  c.scope =
      std::clamp(ini.ReadInteger(kSection, "FindTextLists", fsCurrent), int(fsCurrent), int(fsAll));
  c.mask = ini.ValueExists(kSection, "FindTextMask")
               ? static_cast<uint32_t>(ini.ReadInteger(kSection, "FindTextMask", 0)) & kAllRows
               : DefaultMask();
  return c;
}

uint32_t TFindChoices::DefaultMask() {
  // Title, artist and album of either tag.
  uint32_t mask = 0;
  for (int kind : {3, 4, 5, 11, 12, 13}) mask |= 1u << lb::FindKindRow(kind);
  return mask;
}

void TFindChoices::Store(TIniFile& ini, const QString& text) {
  if (!text.isEmpty()) {
    history.removeAll(text);
    history.prepend(text);
  }
  while (history.size() > kHistorySize) history.removeLast();
  // Every slot is written, so a shorter history leaves no older texts behind it.
  for (int n = 0; n < kHistorySize; ++n)
    ini.WriteString(kSection, QString("FindTextString%1").arg(n), history.value(n));
  ini.WriteBool(kSection, "FindTextCase", bCase);
  ini.WriteInteger(kSection, "FindTextLists", scope);
  ini.WriteInteger(kSection, "FindTextMask", static_cast<int>(mask & kAllRows));
}

TFindCheck CheckFindChoices(TFindChoices& choices, const QString& text, bool bHasCurrent,
                            TIniFile& ini) {
  if (choices.scope == fsCurrent && !bHasCurrent) {
    choices.scope = fsAll;
    UiServices::Instance().MessageBox(lb::findtext::kNoCurrentList, UiServices::kCaption,
                                      MB_OK | MB_ICONERROR);
    return TFindCheck::NoCurrentList;
  }
  choices.Store(ini, text);
  if ((choices.mask & kAllRows) == 0) {
    UiServices::Instance().MessageBox(lb::findtext::kNoCriteria, UiServices::kCaption,
                                      MB_OK | MB_ICONINFORMATION);
    return TFindCheck::NoCriteria;
  }
  return TFindCheck::Search;
}

// ---------------------------------------------------------------------------------
// Matching

TSongMatcher::TSongMatcher(const QString& text, bool bCase, uint32_t mask, int genre)
    : m_Needle(text), m_bCase(bCase), m_Genre(genre) {
  for (int row = 0; row < lb::kFindRowCount; ++row)
    if (mask & (1u << row)) m_Kinds.push_back(lb::FindRowKind(row));
}

bool TSongMatcher::TextMatches(const QString& field) const {
  if (m_Needle.isEmpty()) return true;
  // Without case both texts are compared letter by letter in one case (Cyrillic
  // included), with no upper-cased copy of every field made.
  return field.contains(m_Needle, m_bCase ? Qt::CaseSensitive : Qt::CaseInsensitive);
}

bool TSongMatcher::Matches(const TSlSong& song) const {
  for (int kind : m_Kinds) {
    if (lb::IsGenreKind(kind)) {
      const TSlTag& tag = kind == lb::ckGenre1 ? static_cast<const TSlTag&>(song.m_Tag1)
                                               : static_cast<const TSlTag&>(song.m_Tag2);
      const int genre = kind == lb::ckGenre1 ? song.m_Tag1.Genre : song.m_Tag2.Genre;
      if (tag.m_bExists && genre == m_Genre) return true;
    } else if (TextMatches(lb::ColumnText(song, kind, 0))) {
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------
// Searching

std::vector<TFindTarget> FindTargets(int scope, IDocumentWindow* current, IListsHost* host) {
  std::vector<TFindTarget> targets;
  if (scope == fsCurrent) {
    if (current) targets.push_back({current->Document().m_FileName, &current->Document()});
    return targets;
  }
  if (!host) return targets;
  for (const IListsHost::TListEntry& entry : host->KnownLists()) {
    if (scope == fsOpen && !entry.window) continue;
    if (scope == fsMarked && !entry.marked) continue;
    targets.push_back({entry.path, entry.window ? &entry.window->Document() : nullptr});
  }
  return targets;
}

namespace {

// The progress window with its running count; pending messages are processed every
// 10 ms of searching, so that the windows keep painting and Stop is seen whatever a
// song costs (a song synchronised from its file costs far more than one in memory).
class TFindProgress {
 public:
  TFindProgress() : m_Level("Поиск текста...", QString(), false) {
    m_Pace.Turned();
    ShowCount();
  }
  // False when the user stopped the search.
  bool SetList(const QString& path) {
    InfoWindowManager().SetObject(path);
    return Check(true);
  }
  void Found() {
    ++m_Count;
    m_bCountChanged = true;
  }
  // Whether the pending messages are due.
  bool Due() const { return m_Pace.Due(); }
  bool Check(bool bNow = false) {
    if (!bNow && !Due()) return true;
    m_Pace.Turned();
    if (m_bCountChanged) ShowCount();
    return !InfoWindowManager().ProcessAndCheckStop();
  }

 private:
  void ShowCount() {
    InfoWindowManager().SetLine(lb::findtext::kFoundPrefix, QString::number(m_Count));
    m_bCountChanged = false;
  }
  TInfoWindowLevel m_Level;
  lb::TPace m_Pace{10};
  int m_Count = 0;
  bool m_bCountChanged = false;
};

// While it lives, the messages of the program go into Texts() instead of to the
// user, and every question is answered No (nothing is done on the user's behalf);
// everything else goes on as before. A list loaded for the search tells why it could
// not be loaded, and the result row shows that.
class TMessageCapture : public UiServices {
 public:
  TMessageCapture() : m_Previous(UiServices::Install(this)) {}
  ~TMessageCapture() override { UiServices::Install(m_Previous); }
  QStringList Texts() const { return m_Texts; }

  int MessageBox(const QString& text, const QString&, unsigned flags) override {
    m_Texts << text;
    switch (flags & MB_TYPEMASK) {
      case MB_OK:
        return IDOK;
      case MB_YESNO:
      case MB_YESNOCANCEL:
        return IDNO;
      default:
        return IDCANCEL;
    }
  }
  int AskButtons(const QString& text, const QString&, unsigned, unsigned) override {
    m_Texts << text;
    return IDCANCEL;
  }
  void ProcessMessages() override { m_Previous->ProcessMessages(); }
  void RunOnMainThread(const std::function<void()>& fn) override {
    m_Previous->RunOnMainThread(fn);
  }
  void SetBusyCursor(bool busy) override { m_Previous->SetBusyCursor(busy); }
  bool SetClipboardData(const QString& format, const QByteArray& data) override {
    return m_Previous->SetClipboardData(format, data);
  }
  bool GetClipboardData(const QString& format, QByteArray* data) override {
    return m_Previous->GetClipboardData(format, data);
  }
  QStringList GetOpenFileNames(const QString&, const QString&, const QString&) override {
    return {};
  }
  QString GetSaveFileName(const QString&, const QString&, const QString&) override { return {}; }
  QString GetExistingFolder(const QString&, const QString&) override { return {}; }
  std::unique_ptr<IProgressView> CreateProgressView(std::function<void()> onStop) override {
    return m_Previous->CreateProgressView(std::move(onStop));
  }
  bool MainWindowEnabled() const override { return m_Previous->MainWindowEnabled(); }
  void SetMainWindowEnabled(bool enabled) override { m_Previous->SetMainWindowEnabled(enabled); }

 private:
  UiServices* m_Previous;
  QStringList m_Texts;
};

// Loads the list for the search; false with the reasons the loading gave.
bool LoadForSearch(TSlDocument& doc, QString* error) {
  TMessageCapture capture;
  if (doc.Load(false)) return true;
  *error = capture.Texts().join('\n');
  return false;
}

// Searches one document; false when stopped. The document's lock is held until the
// pending messages are due, never while they are processed.
bool SearchDocument(TSlDocument& doc, bool bSync, const TSongMatcher& matcher,
                    TFindProgress& progress, std::vector<int>& indices) {
  for (int n = 0;;) {
    {
      std::lock_guard<std::recursive_mutex> lock(doc.m_Lock);
      const int count = doc.m_Songs.size();
      if (n >= count) return true;
      do {
        TSlSong& song = doc.m_Songs[n];
        if (bSync) song.Sync();
        std::lock_guard<std::recursive_mutex> songLock(song.cs);
        if (matcher.Matches(song)) {
          indices.push_back(n);
          progress.Found();
        }
      } while (++n < count && !progress.Due());
    }
    if (!progress.Check()) return false;
  }
}

}  // namespace

bool FindInLists(const TSongMatcher& matcher, const std::vector<TFindTarget>& targets,
                 TFoundLists& rows, IListsHost* host) {
  TFindProgress progress;
  if (host) host->BeginListsPass();
  bool bStopped = false;
  for (const TFindTarget& target : targets) {
    if (host) host->ShowListInPass(target.path);
    if (!progress.SetList(target.path)) {
      bStopped = true;
      break;
    }
    TFoundList row;
    row.path = target.path;
    TSlDocument* doc = target.document;
    if (!doc) {
      row.document = std::make_unique<TSlDocument>();
      row.document->SetFileName(target.path);
      if (!LoadForSearch(*row.document, &row.loadError)) {
        if (InfoWindowManager().m_bStop) {
          bStopped = true;
          break;
        }
        row.document.reset();
        row.bLoadFailed = true;
        rows.push_back(std::move(row));
        continue;
      }
      doc = row.document.get();
    }
    const bool bFinished = SearchDocument(*doc, !target.document, matcher, progress, row.indices);
    if (!row.indices.empty()) rows.push_back(std::move(row));
    if (!bFinished) {
      bStopped = true;
      break;
    }
  }
  if (host) host->EndListsPass();
  if (bStopped)
    UiServices::Instance().MessageBox(lb::findtext::kStopped, UiServices::kCaption,
                                      MB_OK | MB_ICONWARNING);
  return !bStopped;
}

void OpenFoundList(TFoundList& row, IListsHost& host) {
  if (row.bLoadFailed) {
    UiServices::Instance().MessageBox(lb::findtext::kLoadFailed, lb::findtext::kLoadFailedCaption,
                                      MB_OK | MB_ICONERROR);
    return;
  }
  TBusyCursor busy;
  IDocumentWindow* window = nullptr;
  for (const IListsHost::TListEntry& entry : host.KnownLists())
    if (entry.window && lb::SamePath(entry.path, row.path)) window = entry.window;
  if (!window) {
    // A list file changed since the search (saved from a window meanwhile) is opened
    // from the file: the kept copy would show, and on saving restore, the old list.
    if (row.document && lb::FileAge(row.path) != row.document->m_M3uAge) row.document.reset();
    window = host.OpenList(row.path, row.document.get());
    if (!window) return;  // the opening has told the user why
    row.document.reset();
  }
  window->Activate();
  window->SelectSongs(row.indices);
}

void ReleaseFoundDocuments(TFoundLists& rows) {
  for (TFoundList& row : rows) row.document.reset();
}
