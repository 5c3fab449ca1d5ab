// Finding where the missing songs of a list went: ranking by cached tags and names,
// files that lists name already, Stop, and the command line over a whole tree.
#include "../model/ModelTestUtil.h"
#include "CliRun.h"
#include "PathLists.h"
#include "TestEnv.h"

#include "lbtools3/maintenance/Relink.h"
#include "lbtools3/model/M3uList.h"
#include "platform/ScriptedUiServices.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

// A music file with an ID3v1 tag (no tag when title is empty).
void MakeSong(const QString& path, const QByteArray& title = {}, const QByteArray& artist = {}) {
  QByteArray bytes = modeltest::Mp3Frames(2);
  if (!title.isEmpty()) {
    QByteArray tag = "TAG" + title.leftJustified(30, '\0') + artist.leftJustified(30, '\0');
    bytes += tag.leftJustified(127, '\0') + char(255);
  }
  ASSERT_TRUE(lbtest::WriteFile(path, bytes));
}

// A song of a list whose data file remembers its ID3v1 (or ID3v2) title and artist.
TSlSong Cached(const QString& path, const QString& title = {}, const QString& artist = {},
               bool bTag2 = false) {
  TSlSong song(nullptr, path, QString());
  if (title.isEmpty()) return song;
  if (bTag2) {
    song.m_Tag2.Title = title;
    song.m_Tag2.Artist = artist;
    song.m_Tag2.m_bExists = true;
  } else {
    song.m_Tag1.SetTitle(title, true);
    song.m_Tag1.SetArtist(artist, true);
    song.m_Tag1.m_bExists = true;
  }
  return song;
}

const lb::TRelinkSong* Find(const lb::TRelinkSearch& search, const QString& oldPath) {
  for (const lb::TRelinkSong& song : search.m_Songs)
    if (song.oldPath == oldPath) return &song;
  return nullptr;
}

TEST(Relink, RanksCandidatesByCachedTagsAndNames) {
  ScriptedUiServices ui;
  const QString d = lbtest::NewTempDir();
  // The folder "Кино" became "Kino"; in it one file was renamed; two albums hold a
  // file of the same name; one song is gone for good; one file is named by another
  // list already; a song without tags kept its name; one was renamed a little.
  MakeSong(d + "/Kino/01 Gruppa krovi.mp3", "Gruppa krovi", "Kino");
  MakeSong(d + "/Kino/Zvezda po imeni Solntse.mp3", "Zvezda", "Kino");
  MakeSong(d + "/A1/01.mp3", "Intro", "Alpha");
  MakeSong(d + "/A2/01.mp3", "Outro", "Beta");
  MakeSong(d + "/Kino/known.mp3", "Lost", "Kino");
  MakeSong(d + "/other/plain.mp3");
  MakeSong(d + "/other/summer_song_remaster.mp3");
  TSlDocument other;
  other.SetFileName(d + "/other.m3u");
  other.InsertSong(TSlSong(nullptr, d + "/Kino/known.mp3", QString()), -1);
  ASSERT_TRUE(other.Save(true));
  lbtest::PathLists lists;
  lists.rows = {{d + "/other.m3u", true}};

  TSlDocument doc;
  doc.SetFileName(d + "/l.m3u");
  doc.InsertSong(Cached(d + "/Кино/01 Gruppa krovi.mp3", "GRUPPA  krovi", "kino", true), -1);
  doc.InsertSong(Cached(d + "/Кино/03.mp3", "Zvezda", "Kino"), -1);
  doc.InsertSong(Cached(d + "/old/01.mp3", "Intro", "Alpha"), -1);
  doc.InsertSong(Cached(d + "/gone/zzz.mp3", "Nothing", "Nobody"), -1);
  doc.InsertSong(Cached(d + "/old/lost.mp3", "Lost", "Kino"), -1);
  doc.InsertSong(Cached(d + "/old/plain.mp3"), -1);
  doc.InsertSong(Cached(d + "/old/Summer Song.mp3"), -1);
  doc.InsertSong(Cached(d + "/Кино/01 Gruppa krovi.mp3", "Gruppa krovi", "Kino"), -1);
  doc.InsertSong(TSlSong(nullptr, d + "/Kino/known.mp3", QString()), -1);  // exists

  lb::TRelinkSearch search;
  ASSERT_EQ(search.Run(lists, {d}, doc), lb::TRelinkSearch::rrDone);
  EXPECT_TRUE(ui.Messages().isEmpty());
  ASSERT_EQ(search.m_Songs.size(), 7u);  // one entry per missing file
  using C = std::vector<std::pair<QString, int>>;
  auto candidates = [&](const QString& oldPath) {
    C result;
    if (const lb::TRelinkSong* song = Find(search, oldPath))
      for (const lb::TRelinkCandidate& c : song->candidates) result.push_back({c.path, c.score});
    return result;
  };
  EXPECT_EQ(candidates(d + "/Кино/01 Gruppa krovi.mp3"),
            C({{d + "/Kino/01 Gruppa krovi.mp3", lb::kScoreTagsAndName}}));
  EXPECT_EQ(candidates(d + "/Кино/03.mp3"),
            C({{d + "/Kino/Zvezda po imeni Solntse.mp3", lb::kScoreTags}}));
  EXPECT_EQ(candidates(d + "/old/01.mp3"), C({{d + "/A1/01.mp3", lb::kScoreTagsAndName},
                                              {d + "/A2/01.mp3", lb::kScoreNameOtherTags}}));
  EXPECT_EQ(candidates(d + "/gone/zzz.mp3"), C());
  EXPECT_EQ(candidates(d + "/old/lost.mp3"), C());
  EXPECT_EQ(candidates(d + "/old/plain.mp3"), C({{d + "/other/plain.mp3", lb::kScoreName}}));
  const C similar = candidates(d + "/old/Summer Song.mp3");
  ASSERT_EQ(similar.size(), 1u);
  EXPECT_EQ(similar[0].first, d + "/other/summer_song_remaster.mp3");
  EXPECT_GT(similar[0].second, 0);
  EXPECT_LT(similar[0].second, lb::kScoreSure);

  // The sure matches are the tag and name matches; the similar name is only offered.
  const QStringList pairs = lb::RelinkPairs(search.m_Songs, lb::SureChoices(search.m_Songs));
  EXPECT_EQ(pairs, QStringList({d + "/Кино/01 Gruppa krovi.mp3", d + "/Kino/01 Gruppa krovi.mp3",
                                d + "/Кино/03.mp3", d + "/Kino/Zvezda po imeni Solntse.mp3",
                                d + "/old/01.mp3", d + "/A1/01.mp3", d + "/old/plain.mp3",
                                d + "/other/plain.mp3"}));
}

TEST(Relink, OneFileIsGivenToOneSongOnly) {
  lb::TRelinkSearch search;
  search.AddFile("/new/a.mp3");
  TSlSong one = Cached("/x/a.mp3"), two = Cached("/y/a.mp3");
  ASSERT_TRUE(search.MatchSongs({&one, &two}));
  ASSERT_EQ(search.m_Songs.size(), 2u);
  // The same best file for two songs: sure for neither, and chosen by hand only once.
  EXPECT_FALSE(search.m_Songs[0].bSure);
  EXPECT_FALSE(search.m_Songs[1].bSure);
  EXPECT_EQ(lb::RelinkPairs(search.m_Songs, {0, 0}), QStringList({"/x/a.mp3", "/new/a.mp3"}));
  EXPECT_EQ(lb::RelinkPairs(search.m_Songs, {-1, 0}), QStringList({"/y/a.mp3", "/new/a.mp3"}));
}

TEST(Relink, StopDuringTheWalkFindsNothingAndChangesNoList) {
  ScriptedUiServices ui;
  const QString d = lbtest::NewTempDir();
  for (int i = 0; i < 200; ++i) MakeSong(d + QString("/new/%1.mp3").arg(i), "T", "A");
  TSlDocument doc;
  doc.SetFileName(d + "/l.m3u");
  doc.InsertSong(Cached(d + "/old/5.mp3", "T", "A"), -1);
  ASSERT_TRUE(doc.Save(true));
  const QByteArray before = lbtest::ReadFile(d + "/l.m3u");
  // Stopped while the lists are read, and while the folders are walked.
  for (int nLists : {1, 0}) {
    lbtest::PathLists lists;
    if (nLists) lists.rows = {{d + "/l.m3u", true}};
    ui.ClearMessages();
    ui.StopAfterProcessMessages(1);
    lb::TRelinkSearch search;
    EXPECT_EQ(search.Run(lists, {d + "/new"}, doc), lb::TRelinkSearch::rrStopped);
    EXPECT_TRUE(search.m_Songs.empty());
    EXPECT_EQ(ui.Texts(), QStringList({"Прервано пользователем"}));
  }
  EXPECT_EQ(lbtest::ReadFile(d + "/l.m3u"), before);
  EXPECT_EQ(doc.m_Songs[0].m_Path, d + "/old/5.mp3");
}

using lbtest::CliRun;
using lbtest::RunCli;

TEST(RelinkCli, TreeOfAThousandSongsWithAHundredMoved) {
  ASSERT_TRUE(modeltest::AttachID3Com());
  const QString d = lbtest::NewTempDir();
  TSlDocument doc, second;
  doc.SetFileName(d + "/all.m3u");
  second.SetFileName(d + "/some.m3u");
  for (int i = 0; i < 1000; ++i) {
    const QString name = QString("artist%1/song%2.mp3").arg(i / 50).arg(i);
    const QByteArray title = "Song " + QByteArray::number(i);
    // Songs 0-99 were moved into "moved/", the even ones renamed on the way.
    const QString now = i >= 100     ? d + "/music/" + name
                        : i % 2 == 0 ? d + QString("/moved/renamed %1.mp3").arg(i)
                                     : d + "/moved/" + name;
    MakeSong(now, title, "Artist");
    doc.InsertSong(Cached(d + "/music/" + name, title, "Artist"), -1);
    if (i % 10 == 0) second.InsertSong(Cached(d + "/music/" + name), -1);
  }
  ASSERT_TRUE(doc.Save(true));
  ASSERT_TRUE(second.Save(true));
  ASSERT_EQ(RunCli({"repo", "add", d + "/all.m3u"}).code, 0);
  ASSERT_EQ(RunCli({"repo", "add", d + "/some.m3u"}).code, 0);

  CliRun run = RunCli({"relink", d + "/all.m3u", "--search", d + "/music", d + "/moved"});
  ASSERT_EQ(run.code, 0) << run.err.toStdString();
  const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 100);
  EXPECT_EQ(lines[0], d + "/music/artist0/song0.mp3 -> " + d + "/moved/renamed 0.mp3 (90)");
  EXPECT_EQ(lines[1], d + "/music/artist0/song1.mp3 -> " + d + "/moved/artist0/song1.mp3 (100)");
  EXPECT_TRUE(run.err.contains(
      "Пропавших файлов: 100, уверенных совпадений: 100, неуверенных: 0, не найдено: 0"));
  TSlDocument check;
  check.SetFileName(d + "/some.m3u");
  ASSERT_TRUE(check.Load(true));
  EXPECT_EQ(check.m_Songs[0].m_Path, d + "/music/artist0/song0.mp3");  // not applied

  run = RunCli({"relink", d + "/all.m3u", "--search", d + "/moved", "--apply"});
  ASSERT_EQ(run.code, 0) << run.err.toStdString();
  EXPECT_TRUE(run.err.contains("Изменено путей: 100"));
  for (const QString& list : {d + "/all.m3u", d + "/some.m3u"}) {
    check.Clear();
    check.SetFileName(list);
    ASSERT_TRUE(check.Load(true));
    for (int n = 0; n < check.m_Songs.size(); ++n)
      EXPECT_TRUE(QFileInfo::exists(check.m_Songs[n].GetPath(true)))
          << check.m_Songs[n].GetPath(true).toStdString();
  }
  EXPECT_EQ(check.m_Songs[1].GetPath(true), d + "/moved/renamed 10.mp3");
  EXPECT_EQ(RunCli({"relink", d + "/all.m3u"}).code, 2);
}

}  // namespace
