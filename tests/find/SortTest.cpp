// Sorting by column kinds: text in the Russian locale without and with case,
// numbers, flags, directions, equal songs kept in order, and the key-computing
// arranger giving the same order as the comparator.
#include "TestEnv.h"

#include "lbtools3/find/Sort.h"
#include "lbtools3/model/M3uList.h"

#include <gtest/gtest.h>
#include <future>
#include <numeric>
#include <thread>

namespace {

// A document of songs /m/<n>.mp3 whose ID3v2 titles are given.
void Fill(TSlDocument& doc, const QStringList& titles) {
  doc.SetFileName("/m/list.m3u");
  for (int n = 0; n < titles.size(); ++n) {
    TSlSong song(nullptr, QString("/m/%1.mp3").arg(n), QString());
    song.m_Tag2.SetTitle(titles[n]);
    doc.InsertSong(song, -1);
  }
}

QStringList Titles(const TSlDocument& doc) {
  QStringList titles;
  for (int n = 0; n < doc.m_Songs.size(); ++n) titles << doc.m_Songs[n].m_Tag2.Title;
  return titles;
}

QStringList Paths(const TSlDocument& doc) {
  QStringList paths;
  for (int n = 0; n < doc.m_Songs.size(); ++n) paths << doc.m_Songs[n].m_Path;
  return paths;
}

std::vector<int> All(const TSlDocument& doc) {
  std::vector<int> all(doc.m_Songs.size());
  std::iota(all.begin(), all.end(), 0);
  return all;
}

// Sorts a copy of the document both ways (comparator and arranger); both must agree.
QStringList SortedTitles(const QStringList& titles, const lb::TSortOrder& order) {
  TSlDocument byLess, byKeys;
  Fill(byLess, titles);
  Fill(byKeys, titles);
  byLess.SortSongs(All(byLess), lb::SongLess(order));
  byKeys.ArrangeSongs(All(byKeys), lb::SongArranger(order));
  EXPECT_EQ(Paths(byLess), Paths(byKeys));
  return Titles(byKeys);
}

TEST(Sort, TextWithoutCaseInTheRussianLocale) {
  const QStringList titles = {"Жара", "abba", "яблоко", "Ёлка", "ABBA", "Ель", "Арбуз", "Ежи"};
  // abba and ABBA are equal without case and keep their order; Ё sorts beside Е; the
  // Russian locale puts Cyrillic before Latin.
  EXPECT_EQ(SortedTitles(titles, {11, true, false}),
            QStringList({"Арбуз", "Ежи", "Ёлка", "Ель", "Жара", "яблоко", "abba", "ABBA"}));
  // Descending: equal songs still keep their order.
  EXPECT_EQ(SortedTitles(titles, {11, false, false}),
            QStringList({"abba", "ABBA", "яблоко", "Жара", "Ель", "Ёлка", "Ежи", "Арбуз"}));
  // With case the capitals differ, but the scripts keep their order (Cyrillic first)
  // and Ё stays beside Е.
  EXPECT_EQ(SortedTitles({"ABBA", "abba", "Ель", "Арбуз", "Ёлка", "ёлка"}, {11, true, true}),
            QStringList({"Арбуз", "ёлка", "Ёлка", "Ель", "abba", "ABBA"}));
}

TEST(Sort, NumbersFlagsAndGenres) {
  TSlDocument doc;
  Fill(doc, {"a", "b", "c", "d"});
  const int tracks[] = {10, 9, -1, 9};
  for (int n = 0; n < 4; ++n) doc.m_Songs[n].m_Tag2.Track = tracks[n];
  doc.m_Songs[3].m_Tag2.m_bExists = false;  // the track counts with or without the record
  doc.ArrangeSongs(All(doc), lb::SongArranger({22, true, false}));
  EXPECT_EQ(Titles(doc), QStringList({"c", "b", "d", "a"}));

  // Ascending by kind 23: songs flagged for ID3v1 synchronisation first, in order.
  TSlDocument flags;
  Fill(flags, {"a", "b", "c", "d"});
  flags.m_Songs[0].m_Tag1.bTagSync = false;
  flags.m_Songs[2].m_Tag1.bTagSync = false;
  flags.ArrangeSongs(All(flags), lb::SongArranger({23, true, false}));
  EXPECT_EQ(Titles(flags), QStringList({"b", "d", "a", "c"}));
  flags.ArrangeSongs(All(flags), lb::SongArranger({23, false, false}));
  EXPECT_EQ(Titles(flags), QStringList({"a", "c", "b", "d"}));

  // Genres by name; a missing record or a number outside the table sorts as empty.
  TSlDocument genres;
  Fill(genres, {"rock", "none", "blues", "bad"});
  genres.m_Songs[0].m_Tag2.Genre = 17;  // Rock
  genres.m_Songs[1].m_Tag2.m_bExists = false;
  genres.m_Songs[2].m_Tag2.Genre = 0;  // Blues
  genres.m_Songs[3].m_Tag2.Genre = 200;
  genres.ArrangeSongs(All(genres), lb::SongArranger({15, true, false}));
  EXPECT_EQ(Titles(genres), QStringList({"none", "bad", "blues", "rock"}));
}

TEST(Sort, OnlyTheListedPositionsMoveAndPathsComeBackFull) {
  TSlDocument doc;
  Fill(doc, {"d", "x", "b", "y", "a"});
  doc.m_Songs[4].m_Path = "a.mp3";  // brief: relative to the list's folder
  doc.m_bModified = false;
  doc.ArrangeSongs({0, 2, 4}, lb::SongArranger({11, true, false}));
  EXPECT_EQ(Titles(doc), QStringList({"a", "x", "b", "y", "d"}));
  EXPECT_EQ(doc.m_Songs[0].m_Path, "/m/a.mp3");
  EXPECT_EQ(doc.m_Songs[0].m_Parent, &doc);
  EXPECT_EQ(doc.m_Songs[0].m_Tag2.Parent, &doc.m_Songs[0]);
  EXPECT_TRUE(doc.m_bModified);
  EXPECT_FALSE(lb::IsSortKind(9));
}

TEST(Sort, PathsAreWrittenBackUnderTheSongsLocks) {
  TSlDocument doc;
  Fill(doc, {"a", "b"});
  // A synchronisation pass holds the second song.
  std::promise<void> held, release;
  std::thread pass([&] {
    std::lock_guard<std::recursive_mutex> lock(doc.m_Songs[1].cs);
    held.set_value();
    release.get_future().wait();
  });
  held.get_future().wait();
  auto sort = std::async(std::launch::async, [&] {
    doc.ArrangeSongs(All(doc), [](const std::vector<const TSlSong*>&, std::vector<int>&) {});
  });
  // The sort cannot finish while the song is held: it waits to write the song's path.
  EXPECT_EQ(sort.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  release.set_value();
  sort.get();
  pass.join();
  EXPECT_EQ(Titles(doc), QStringList({"a", "b"}));
}

}  // namespace
