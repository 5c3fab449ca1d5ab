// Finding text: matching with and without case, genres, the remembered choices and
// their checks, the search over scopes (open, loaded and failing lists, Stop), and a
// click on a result row.
#include "FakeLists.h"

#include "docwin/DocWinTestUtil.h"
#include "lbtools3/model/SongFields.h"
#include "lbtools3/find/FindText.h"
#include "platform/FileSystem.h"
#include "platform/Genres.h"
#include "platform/IniFile.h"
#include "platform/ScriptedUiServices.h"

#include <gtest/gtest.h>

namespace {

using findtest::FakeLists;
using findtest::FakeWindow;

uint32_t Rows(std::initializer_list<int> kinds) {
  uint32_t mask = 0;
  for (int kind : kinds) mask |= 1u << lb::FindKindRow(kind);
  return mask;
}

TSlSong Song(const QString& title2, const QString& artist1 = QString()) {
  TSlSong song(nullptr, "/m/x.mp3", QString());
  song.m_Tag2.SetTitle(title2);
  if (!artist1.isEmpty()) song.m_Tag1.SetArtist(artist1, true);
  return song;
}

TEST(FindMatch, CaseAndCyrillic) {
  const TSongMatcher any("abba", false, Rows({11}), 255);
  EXPECT_TRUE(any.Matches(Song("ABBA")));
  EXPECT_TRUE(any.Matches(Song("Best of Abba")));
  EXPECT_FALSE(any.Matches(Song("Ab ba")));
  const TSongMatcher exact("abba", true, Rows({11}), 255);
  EXPECT_FALSE(exact.Matches(Song("ABBA")));
  EXPECT_TRUE(exact.Matches(Song("abba")));
  // Cyrillic in an ID3v2 field and in an ID3v1 field (held in the tag code page).
  const TSongMatcher kino("кино", false, Rows({4, 11}), 255);
  EXPECT_TRUE(kino.Matches(Song("Группа КИНО")));
  EXPECT_TRUE(kino.Matches(Song("", "Кино")));
  EXPECT_FALSE(kino.Matches(Song("Кит")));
  // Only the chosen fields count; an empty text matches every text.
  EXPECT_FALSE(TSongMatcher("abba", false, Rows({3}), 255).Matches(Song("ABBA")));
  EXPECT_TRUE(TSongMatcher("", false, Rows({3}), 255).Matches(Song("ABBA")));
}

TEST(FindMatch, GenreByNumberWhenTheRecordExists) {
  TSlSong none(nullptr, "/m/x.mp3", QString());  // no records
  TSlSong noGenre = Song("t");                   // ID3v2 record, genre 255
  TSlSong rock = Song("t");
  rock.m_Tag2.SetGenre(17);
  const TSongMatcher empty("", false, Rows({8, 15}), lb::kNoGenre);
  EXPECT_FALSE(empty.Matches(none));
  EXPECT_TRUE(empty.Matches(noGenre));
  EXPECT_FALSE(empty.Matches(rock));
  const TSongMatcher rockOnly("ignored", false, Rows({15}), 17);
  EXPECT_TRUE(rockOnly.Matches(rock));
  EXPECT_FALSE(rockOnly.Matches(noGenre));
  // The genre list starts with the empty entry, then the names in alphabetical order.
  const QList<int> genres = lb::FindGenreList();
  ASSERT_EQ(genres.size(), 149);
  EXPECT_EQ(genres[0], lb::kNoGenre);
  EXPECT_EQ(lb::GenreName(genres[1]), "A Cappella");
  EXPECT_EQ(lb::GenreName(genres.last()), "Vocal");
}

class FindChoicesTest : public ::testing::Test {
 protected:
  QString dir = lbtest::NewTempDir();
  TIniFile ini{dir + "/lbtools3.ini"};
  ScriptedUiServices ui;
};

TEST_F(FindChoicesTest, HistoryNewestFirstAtMostTen) {
  TFindChoices c;
  for (int n = 0; n < 12; ++n) c.Store(ini, QString("t%1").arg(n));
  c.Store(ini, "t5");  // a repeated text moves to the front
  c.Store(ini, "");    // an empty text does not join
  const TFindChoices loaded = TFindChoices::Load(ini);
  ASSERT_EQ(loaded.history.size(), 10);
  EXPECT_EQ(loaded.history.mid(0, 3), QStringList({"t5", "t11", "t10"}));
  EXPECT_FALSE(loaded.history.contains("t1"));
  // Reading stops at the first empty slot.
  ini.WriteString("Settings", "FindTextString2", "");
  EXPECT_EQ(TFindChoices::Load(ini).history.size(), 2);
}

TEST_F(FindChoicesTest, OkChecks) {
  TFindChoices c;
  c.scope = fsCurrent;
  c.mask = Rows({3});
  c.bCase = true;
  // No current list: the scope becomes "Во всех", the dialog stays, nothing is stored.
  EXPECT_EQ(CheckFindChoices(c, "abba", false, ini), TFindCheck::NoCurrentList);
  EXPECT_EQ(c.scope, fsAll);
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(ui.Messages()[0].text, "Отсутствует текущий лист");
  EXPECT_EQ(ui.Messages()[0].flags & MB_ICONMASK, unsigned(MB_ICONERROR));
  EXPECT_TRUE(TFindChoices::Load(ini).history.isEmpty());
  // Now it passes and everything is stored.
  EXPECT_EQ(CheckFindChoices(c, "abba", false, ini), TFindCheck::Search);
  const TFindChoices stored = TFindChoices::Load(ini);
  EXPECT_EQ(stored.history, QStringList({"abba"}));
  EXPECT_EQ(stored.scope, fsAll);
  EXPECT_EQ(stored.mask, Rows({3}));
  EXPECT_TRUE(stored.bCase);
  // No field: told, stored, nothing searched.
  c.mask = 0;
  EXPECT_EQ(CheckFindChoices(c, "kino", true, ini), TFindCheck::NoCriteria);
  ASSERT_FALSE(ui.Messages().empty());
  ASSERT_FALSE(TFindChoices::Load(ini).history.empty());
  EXPECT_EQ(ui.Messages().back().text, "Не заданы критерии поиска");
  EXPECT_EQ(TFindChoices::Load(ini).history.first(), "kino");
}

class FindSearchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(modeltest::AttachID3Com()); }
  // A list file of tagged MP3 files (ID3v1 titles), saved with its data file.
  QString SavedList(const QString& name, const QStringList& titles) {
    TSlDocument doc;
    doc.SetFileName(dir + "/" + name + ".m3u");
    for (int n = 0; n < titles.size(); ++n) {
      const QString mp3 =
          docwintest::MakeTaggedMp3(dir + QString("/%1%2.mp3").arg(name).arg(n), titles[n]);
      doc.InsertSong(TSlSong(nullptr, mp3, QString()), -1);
    }
    EXPECT_TRUE(doc.Save(true));
    return doc.m_FileName;
  }
  QString dir = lbtest::NewTempDir();
  ScriptedUiServices ui;
  FakeLists host;
};

TEST_F(FindSearchTest, ScopesLoadedListsAndFailures) {
  FakeWindow& open = host.AddOpen(dir + "/open.m3u");
  open.Add({"abba one", "other", "ABBA two"});
  // Never synchronised: the titles come from the files, read when the list is searched.
  const QString closed = SavedList("closed", {"x", "Abba gold"});
  const QString nothing = SavedList("nothing", {"x"});
  host.AddClosed(closed, true);
  host.AddClosed(nothing, false);
  host.AddClosed(dir + "/gone.m3u", true);
  const TSongMatcher matcher("abba", false, Rows({3, 11}), 255);

  TFoundLists rows;
  EXPECT_TRUE(FindInLists(matcher, FindTargets(fsAll, nullptr, &host), rows, &host));
  ASSERT_EQ(rows.size(), 3u);  // the list without matches has no row
  EXPECT_EQ(rows[0].path, open.Document().m_FileName);
  EXPECT_EQ(rows[0].indices, std::vector<int>({0, 2}));
  EXPECT_FALSE(rows[0].document);  // an open list is searched in its window
  EXPECT_EQ(rows[1].path, closed);
  EXPECT_EQ(rows[1].indices, std::vector<int>({1}));
  ASSERT_TRUE(rows[1].document);  // loaded silently and kept for the click
  EXPECT_TRUE(rows[2].bLoadFailed);
  EXPECT_EQ(rows[2].loadError, "Файл не найден");  // what the results window shows
  EXPECT_TRUE(rows[2].indices.empty());
  EXPECT_TRUE(ui.Messages().isEmpty());
  EXPECT_EQ(host.passEvents,
            QStringList({"begin", "show " + open.Document().m_FileName, "show " + closed,
                         "show " + nothing, "show " + dir + "/gone.m3u", "end"}));
  ASSERT_FALSE(ui.Progress().empty());
  EXPECT_EQ(ui.Progress().back().line, " Найдено записей: 3");

  // The other scopes take their lists from the same repository.
  EXPECT_EQ(FindTargets(fsOpen, nullptr, &host).size(), 1u);
  EXPECT_EQ(FindTargets(fsMarked, nullptr, &host).size(), 2u);
  const std::vector<TFindTarget> current = FindTargets(fsCurrent, &open, &host);
  ASSERT_EQ(current.size(), 1u);
  EXPECT_EQ(current[0].document, &open.Document());
  EXPECT_TRUE(FindTargets(fsCurrent, nullptr, &host).empty());
}

TEST_F(FindSearchTest, StopKeepsTheRowsFoundSoFar) {
  host.AddOpen(dir + "/a.m3u").Add({"abba"});
  host.AddOpen(dir + "/b.m3u").Add({"abba"});
  // Stop is pressed as the second list begins, however long the first one took.
  host.onShow = [&](const QString& path) {
    if (path.endsWith("/b.m3u")) ui.StopAfterProcessMessages(ui.ProcessMessagesCount() + 1);
  };
  TFoundLists rows;
  EXPECT_FALSE(FindInLists(TSongMatcher("abba", false, Rows({11}), 255),
                           FindTargets(fsOpen, nullptr, &host), rows, &host));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].path, dir + "/a.m3u");
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(ui.Messages()[0].text, "Прервано пользователем.");
  EXPECT_EQ(ui.Messages()[0].flags & MB_ICONMASK, unsigned(MB_ICONWARNING));
  EXPECT_EQ(host.passEvents.last(), "end");
}

TEST_F(FindSearchTest, ClickOnARow) {
  FakeWindow& open = host.AddOpen(dir + "/open.m3u");
  open.Add({"a", "b", "c"});
  TFoundList openRow{open.Document().m_FileName, {0, 2}, nullptr, false};
  OpenFoundList(openRow, host);
  EXPECT_EQ(open.activations, 1);
  EXPECT_EQ(open.selected, std::vector<int>({0, 2}));
  EXPECT_TRUE(host.opened.isEmpty());

  // A closed list opens from the document kept by the row, which passes to the window.
  const QString closed = SavedList("closed", {"x", "y"});
  host.AddClosed(closed, false);
  auto Kept = [&] {
    auto kept = std::make_unique<TSlDocument>();
    kept->SetFileName(closed);
    EXPECT_TRUE(kept->Load(true));
    return kept;
  };
  std::unique_ptr<TSlDocument> kept = Kept();
  const TSlDocument* keptDoc = kept.get();
  TFoundList closedRow{closed, {1}, std::move(kept), false};
  OpenFoundList(closedRow, host);
  ASSERT_EQ(host.opened.size(), 1);
  EXPECT_EQ(host.openedSources[0], keptDoc);
  EXPECT_FALSE(closedRow.document);
  ASSERT_FALSE(host.windows.empty());
  EXPECT_EQ(host.windows.back()->selected, std::vector<int>({1}));
  // Saved since the search: the file is opened, not the old copy.
  ASSERT_FALSE(host.entries.empty());
  host.entries.back().window = nullptr;
  TFoundList changedRow{closed, {0}, Kept(), false};
  modeltest::TouchLater(closed, 10);
  OpenFoundList(changedRow, host);
  ASSERT_EQ(host.opened.size(), 2);
  EXPECT_EQ(host.openedSources[1], nullptr);

  // A list that failed to load says so.
  TFoundList failed{dir + "/gone.m3u", {}, nullptr, true};
  ui.ClearMessages();
  OpenFoundList(failed, host);
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(ui.Messages()[0].caption, "Ошибка");
  EXPECT_TRUE(ui.Messages()[0].text.startsWith(
      "Во время поиска при загрузке этого документа произошла ошибка.\n"));
  EXPECT_EQ(host.opened.size(), 2);
}

}  // namespace
