// The three extracters of the LBCOMExtracter server on small disc trees made here.
#include "ExtracterTestSupport.h"

#include <QDir>
#include <QFile>
#include <sys/stat.h>

using namespace lbtest;

namespace {

const QString kForty = QStringLiteral("Очень длинное название песни номер сорок");  // 40

// ---- Type 1: musi + SET\proba.ann, entries matched by position --------------------

class ExtracterType1 : public TExtracterFixture {
 protected:
  void SetUp() override {
    TExtracterFixture::SetUp();
    e = CreateExtracter(CLSID_LBExtracterType1);
    // A disc burned with other cases than the catalog's own spelling.
    ASSERT_TRUE(QDir().mkpath(Path("MUSI")));
  }
  void WriteCatalog(const QString& text) { Write("set/PROBA.ANN", Oem(text)); }
  void MakeSongs(const QStringList& names) {
    for (const QString& name : names) Write("MUSI/" + name, "x");
  }
  ComPtr<ISLLBExtracter> e;
};

TEST_F(ExtracterType1, RecognisesOnlyWithBothCharacteristicEntries) {
  TRecords r;
  EXPECT_EQ(r.Ask(e.Get(), Path("MUSI/a.mp3")), S_FALSE) << "no root before Recognize";
  EXPECT_EQ(Recognize(e.Get(), m_Root), S_FALSE) << "catalog missing";
  WriteCatalog("\"A\" - \"B\"\r\n");
  LONG mask = 0;
  std::u16string path = Wide(m_Root);
  EXPECT_EQ(e->Recognize(path.data(), &mask), S_OK);
  EXPECT_EQ(static_cast<uint32_t>(mask), 0xFFFFFFFFu);
  ASSERT_TRUE(QDir(Path("MUSI")).removeRecursively());
  Write("musi", "a file, not a folder");
  EXPECT_EQ(Recognize(e.Get(), m_Root), S_FALSE);
}

TEST_F(ExtracterType1, CatalogEntriesDroppedEntryAndPreviousAlbum) {
  // Line 2 has no dash: dropped. Line 3's title is followed at once by a quote: it takes
  // the previous entry's album. Line 5 has an empty title.
  WriteCatalog(
      "\"Первая песня\" - \"Первый альбом\"\r\n"
      "\"Брошенная\"\r\n"
      "\"Вторая песня\"\"\r\n"
      "\"Третья\"  -  \"Второй альбом\"\n"
      "\"\" - \"Без названия\"\r\n");
  // Created out of order: positions follow the names as the disc lists them.
  MakeSongs({"05.mp3", "01.mp3", "03.MP3", "02.mp3", "04.mp3", "06.mp3"});
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);

  struct Want {
    const char* song;
    QString title, album;
  } wants[] = {{"01.mp3", "Первая песня", "Первый альбом"},
               {"02.mp3", "Вторая песня", "Первый альбом"},
               {"03.MP3", "Третья", "Второй альбом"},
               {"04.mp3", "", "Без названия"}};
  for (const Want& w : wants) {
    TRecords r;
    ASSERT_EQ(r.Ask(e.Get(), Path("MUSI/") + w.song), S_OK) << w.song;
    EXPECT_EQ(r.Title1(), w.title) << w.song;
    EXPECT_EQ(r.Title2(), w.title) << w.song;
    EXPECT_EQ(r.Album1(), w.album) << w.song;
    EXPECT_EQ(r.Album2(), w.album) << w.song;
    EXPECT_EQ(r.Artist1(), "old artist");
    EXPECT_EQ(r.Year1(), "2001");
    EXPECT_EQ(r.v2.ulTrack, 7u);
    r.ExpectCommentGenreComposerKept();
  }
  TRecords r;
  EXPECT_EQ(r.Ask(e.Get(), Path("MUSI/05.mp3")), S_FALSE) << "only four entries";
  EXPECT_EQ(r.Ask(e.Get(), Path("MUSI/missing.mp3")), S_FALSE) << "not in the listing";
}

TEST_F(ExtracterType1, PositionCountsEveryFileButNoFolderAndIgnoresCase) {
  WriteCatalog("\"T0\" - \"A\"\n\"T1\" - \"A\"\n\"T2\" - \"A\"\n");
  MakeSongs({"b.mp3", ".hidden", "c.txt"});
  ASSERT_TRUE(QDir().mkpath(Path("MUSI/a-folder")));
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);
  TRecords r;
  // .hidden, b.mp3, c.txt: the folder does not count, the hidden file does.
  ASSERT_EQ(r.Ask(e.Get(), Path("MUSI/B.MP3")), S_OK);
  EXPECT_EQ(r.Title1(), "T1");
}

TEST_F(ExtracterType1, SongOutsideTheRootGetsNothing) {
  WriteCatalog("\"T0\" - \"A\"\n");
  MakeSongs({"a.mp3"});
  QString other = NewTempDir();
  ASSERT_TRUE(WriteFile(other + "/MUSI/a.mp3", "x"));
  // The disc reached through a symbolic link is the same disc, either way round.
  const QString link = NewTempDir() + "/cdrom";
  ASSERT_TRUE(QFile::link(m_Root, link));
  const struct {
    QString root, song;
    HRESULT answer;
  } cases[] = {{m_Root, other + "/MUSI/a.mp3", S_FALSE},
               {m_Root, m_Root.toUpper() + "MUSI/a.mp3", S_FALSE},  // another folder here
               {m_Root, m_Root + "MUSI/a.mp3", S_OK},
               {link, m_Root + "MUSI/a.mp3", S_OK},
               {m_Root, link + "/MUSI/a.mp3", S_OK},
               {m_Root, m_Root + "MUSI/../MUSI/a.mp3", S_OK}};
  for (const auto& c : cases) {
    ASSERT_EQ(Recognize(e.Get(), c.root), S_OK) << c.root;
    TRecords r;
    EXPECT_EQ(r.Ask(e.Get(), c.song), c.answer) << c.root << " " << c.song;
    EXPECT_EQ(r.Title2(), c.answer == S_OK ? "T0" : "old title") << c.song;
  }
}

TEST_F(ExtracterType1, EmptyCatalogIsReadAgainLoadedOneIsKept) {
  WriteCatalog("\"no dash here\"\r\n");
  MakeSongs({"a.mp3"});
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);
  TRecords r;
  EXPECT_EQ(r.Ask(e.Get(), Path("MUSI/a.mp3")), S_FALSE);
  WriteCatalog("\"Новая\" - \"Запись\"\r\n");
  ASSERT_EQ(r.Ask(e.Get(), Path("MUSI/a.mp3")), S_OK);
  EXPECT_EQ(r.Title2(), "Новая");
  // Loaded once, the catalog stays until the next Recognize.
  WriteCatalog("\"Другая\" - \"Запись\"\r\n");
  ASSERT_EQ(r.Ask(e.Get(), Path("MUSI/a.mp3")), S_OK);
  EXPECT_EQ(r.Title2(), "Новая");
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);
  ASSERT_EQ(r.Ask(e.Get(), Path("MUSI/a.mp3")), S_OK);
  EXPECT_EQ(r.Title2(), "Другая");
}

TEST_F(ExtracterType1, LongTitleIsCutInTheFixedFieldOnly) {
  ASSERT_EQ(kForty.size(), 40);
  WriteCatalog("\"" + kForty + "\" - \"" + kForty.left(30) + "\"\r\n");
  MakeSongs({"a.mp3"});
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);
  TRecords r;
  ASSERT_EQ(r.Ask(e.Get(), Path("MUSI/a.mp3")), S_OK);
  EXPECT_EQ(r.Title1(), kForty.left(30));
  EXPECT_EQ(r.Title2(), kForty);
  EXPECT_EQ(lb::FromTagCodePage(QByteArray(r.v1.szTitle, 30)), kForty.left(30));
  // A text of exactly 30 characters fills the field without a terminator.
  EXPECT_EQ(r.Album1(), kForty.left(30));
  EXPECT_NE(r.v1.szAlbum[29], '\0');
  EXPECT_EQ(SysStringLen(r.v2.bstrTitle), 40u);
}

// ---- Type 2: setup\dir.www + mus&song, numbered folders and songs --------------------

class ExtracterType2 : public TExtracterFixture {
 protected:
  void SetUp() override {
    TExtracterFixture::SetUp();
    e = CreateExtracter(CLSID_LBExtracterType2);
    ASSERT_TRUE(QDir().mkpath(Path("MUS&SONG/12")));
    QString albums;
    for (int n = 1; n <= 12; ++n) albums += QStringLiteral("Альбом %1\r\n\r\n").arg(n);
    Write("SETUP/Dir.WWW", Oem("\r\n" + albums));
    Write("MUS&SONG/12/zz12.WWW", Oem("Раз\n\nДва\r\n\r\n\r\nТри\rЧетыре"));
  }
  ComPtr<ISLLBExtracter> e;
};

TEST_F(ExtracterType2, LineCountingSkipsBlankLines) {
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);
  for (auto [song, title] : {std::pair{"03.mp3", "Три"}, std::pair{"4.mp3", "Четыре"},
                             std::pair{" +1 first.mp3", "Раз"}}) {
    TRecords r;
    ASSERT_EQ(r.Ask(e.Get(), Path("MUS&SONG/12/") + song), S_OK) << song;
    EXPECT_EQ(r.Title1(), QString(title));
    EXPECT_EQ(r.Title2(), QString(title));
    EXPECT_EQ(r.Album1(), "Альбом 12");
    EXPECT_EQ(r.Album2(), "Альбом 12");
    EXPECT_EQ(r.Artist2(), "old artist");
    r.ExpectCommentGenreComposerKept();
  }
}

TEST_F(ExtracterType2, NameWithoutNumberOrMissingListGivesNothing) {
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);
  TRecords r;
  EXPECT_EQ(r.Ask(e.Get(), Path("MUS&SONG/12/intro.mp3")), S_FALSE);
  ASSERT_TRUE(QDir().mkpath(Path("MUS&SONG/bonus")));
  EXPECT_EQ(r.Ask(e.Get(), Path("MUS&SONG/bonus/01.mp3")), S_FALSE);
  ASSERT_TRUE(QDir().mkpath(Path("MUS&SONG/07")));
  EXPECT_EQ(r.Ask(e.Get(), Path("MUS&SONG/07/01.mp3")), S_FALSE) << "no Zz7.www";
  EXPECT_EQ(r.Album2(), "old album");
}

TEST_F(ExtracterType2, ShortTitleListStillGivesTheAlbum) {
  ASSERT_TRUE(QDir().mkpath(Path("MUS&SONG/2")));
  Write("MUS&SONG/2/Zz2.www", Oem("Один\r\nДва\r\n"));
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);
  TRecords r;
  ASSERT_EQ(r.Ask(e.Get(), Path("MUS&SONG/2/05.mp3")), S_OK);
  EXPECT_EQ(r.Title1(), "old title");
  EXPECT_EQ(r.Title2(), "old title");
  EXPECT_EQ(r.Album2(), "Альбом 2");
  // Track 0 and negative numbers name no line either.
  ASSERT_EQ(r.Ask(e.Get(), Path("MUS&SONG/2/00.mp3")), S_OK);
  EXPECT_EQ(r.Title2(), "old title");
}

TEST_F(ExtracterType2, RecognizeNeedsBothEntries) {
  ASSERT_TRUE(QDir(Path("MUS&SONG")).removeRecursively());
  EXPECT_EQ(Recognize(e.Get(), m_Root), S_FALSE);
  ASSERT_TRUE(QDir().mkpath(Path("mus&song")));
  EXPECT_EQ(Recognize(e.Get(), m_Root.chopped(1)), S_OK) << "a root without its separator";
}

TEST_F(ExtracterType1, CatalogThatIsNoRegularFileGivesNothingAtOnce) {
  MakeSongs({"a.mp3"});
  WriteCatalog("\"A\" - \"B\"\r\n");
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);
  // A FIFO would make a plain read wait for ever; a link to /dev/zero would never end.
  ASSERT_TRUE(QFile::remove(Path("set/PROBA.ANN")));
  ASSERT_EQ(::mkfifo(QFile::encodeName(Path("set/PROBA.ANN")).constData(), 0600), 0);
  TRecords r;
  EXPECT_EQ(r.Ask(e.Get(), Path("MUSI/a.mp3")), S_FALSE);
  ASSERT_TRUE(QFile::remove(Path("set/PROBA.ANN")));
  ASSERT_TRUE(QFile::link("/dev/zero", Path("set/PROBA.ANN")));
  EXPECT_EQ(r.Ask(e.Get(), Path("MUSI/a.mp3")), S_FALSE);
}

// ---- Type 3: tracker.ini ---------------------------------------------------------------

class ExtracterType3 : public TExtracterFixture {
 protected:
  void SetUp() override {
    TExtracterFixture::SetUp();
    e = CreateExtracter(CLSID_LBExtracterType3);
    Write("Tracker.INI",
          "[Main]\r\nCD=Альбом диска\r\n\r\n"
          "[cd]\r\n"
          "sndfile1=D:\\CD\\Track01.mp3\r\nSound1=Lower-case key\r\n"
          "SndFile3=D:\\CD\\Track03.mp3\r\nSound3=Song\r\n"
          "SndFile012=Track12.mp3\r\nSound12=Двенадцатая\r\n"
          "SndFileX=Other.mp3\r\nSound0=Zero\r\n"
          "SndFile5=Track05.mp3\r\n");
  }
  ComPtr<ISLLBExtracter> e;
};

TEST_F(ExtracterType3, SndFileAndSoundKeysGiveTitleMainGivesAlbum) {
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);
  struct Want {
    const char* song;
    QString title;
  } wants[] = {{"CD/TRACK03.MP3", "Song"},
               {"CD/track12.mp3", "Двенадцатая"},
               {"CD/Other.mp3", "Zero"},
               {"CD/Track05.mp3", ""}};
  for (const Want& w : wants) {
    TRecords r;
    ASSERT_EQ(r.Ask(e.Get(), Path(w.song)), S_OK) << w.song;
    EXPECT_EQ(r.Title1(), w.title) << w.song;
    EXPECT_EQ(r.Title2(), w.title) << w.song;
    EXPECT_EQ(r.Album1(), "Альбом диска");
    EXPECT_EQ(r.Album2(), "Альбом диска");
    r.ExpectCommentGenreComposerKept();
  }
}

TEST_F(ExtracterType3, KeyPrefixIsCaseSensitiveAndValueMustEndWithTheName) {
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);
  TRecords r;
  EXPECT_EQ(r.Ask(e.Get(), Path("CD/Track01.mp3")), S_FALSE) << "only sndfile1 names it";
  EXPECT_EQ(r.Title2(), "old title");
  EXPECT_EQ(r.Ask(e.Get(), Path("CD/Track03")), S_FALSE);
  EXPECT_EQ(r.Ask(e.Get(), Path("Other/Track03.mp3")), S_FALSE) << "no section";
}

TEST_F(ExtracterType3, OnePairOfSurroundingQuotesIsDropped) {
  Write("Tracker.INI",
        "[Main]\r\nCD=\"Quoted album\"\r\n[CD]\r\n"
        "SndFile5=\"X:\\CD3\\a.mp3\"\r\nSound5=\"\"Twice\"\"\r\n"
        "SndFile6=\"b.mp3\r\nSound6=\"Half\r\n");
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);
  TRecords r;
  ASSERT_EQ(r.Ask(e.Get(), Path("CD/A.MP3")), S_OK);
  EXPECT_EQ(r.Album2(), "Quoted album");
  EXPECT_EQ(r.Title1(), "\"Twice\"") << "only one pair goes";
  EXPECT_EQ(r.Ask(e.Get(), Path("CD/b.mp3")), S_OK) << "an unmatched quote stays";
  EXPECT_EQ(r.Title2(), "\"Half");
}

TEST_F(ExtracterType3, MissingCatalogAfterRecognize) {
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);
  ASSERT_TRUE(QFile::remove(Path("Tracker.INI")));
  TRecords r;
  EXPECT_EQ(r.Ask(e.Get(), Path("CD/TRACK03.MP3")), S_FALSE);
  EXPECT_EQ(Recognize(e.Get(), m_Root), S_FALSE);
}

// Catalogs are read once per recognition: another disc in the same folder is read
// afresh after the next Recognize.
TEST_F(ExtracterType2, AnotherDiscInTheSameFolderIsReadAfterRecognize) {
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);
  TRecords r;
  ASSERT_EQ(r.Ask(e.Get(), Path("MUS&SONG/12/01.mp3")), S_OK);
  Write("SETUP/Dir.WWW", Oem(QString("x\r\n").repeated(11) + "Другой диск\r\n"));
  Write("MUS&SONG/12/zz12.WWW", Oem("Другая песня\r\n"));
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);
  ASSERT_EQ(r.Ask(e.Get(), Path("MUS&SONG/12/01.mp3")), S_OK);
  EXPECT_EQ(r.Title2(), "Другая песня");
  EXPECT_EQ(r.Album2(), "Другой диск");
}

TEST_F(ExtracterType3, AnotherDiscInTheSameFolderIsReadAfterRecognize) {
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);
  TRecords r;
  ASSERT_EQ(r.Ask(e.Get(), Path("CD/TRACK03.MP3")), S_OK);
  Write("Tracker.INI",
        "[Main]\r\nCD=Другой диск\r\n[CD]\r\nSndFile3=Track03.mp3\r\nSound3=Другая\r\n");
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);
  ASSERT_EQ(r.Ask(e.Get(), Path("CD/TRACK03.MP3")), S_OK);
  EXPECT_EQ(r.Title2(), "Другая");
  EXPECT_EQ(r.Album2(), "Другой диск");
}

}  // namespace
