// The zu module's TagExtracter: recognition by the Winamp, Sounds and Texts folders,
// and the fields it takes from a song's path.
#include "ExtracterTestSupport.h"
#include "tagextracter/ITagExtracter.h"

#include <QDir>
#include <QFile>

using namespace lbtest;

namespace {

class TagExtracter : public TExtracterFixture {
 protected:
  void SetUp() override {
    TExtracterFixture::SetUp();
    e = CreateExtracter(CLSID_TagExtracter);
    // A disc whose folders came in other cases than the names the module looks for.
    for (const char* folder : {"SOUNDS", "texts", "WinAmp"})
      ASSERT_TRUE(QDir().mkpath(Path(folder)));
  }
  ComPtr<ISLLBExtracter> e;
};

TEST_F(TagExtracter, RecognisesOnlyWithAllThreeFolders) {
  std::u16string path = Wide(m_Root.chopped(1));
  LONG mask = 0;
  EXPECT_EQ(e->Recognize(path.data(), &mask), S_OK) << "the separator is added";
  EXPECT_EQ(static_cast<uint32_t>(mask), 0xFFFFFFFFu);

  ASSERT_TRUE(QDir(Path("WinAmp")).removeRecursively());
  Write("Winamp", "a file is not the characteristic folder");
  mask = 0;
  EXPECT_EQ(e->Recognize(path.data(), &mask), S_FALSE);
  EXPECT_EQ(static_cast<uint32_t>(mask), 0xFFFFFFFFu) << "the mask is set whatever the answer";
  EXPECT_EQ(e->Recognize(path.data(), nullptr), E_POINTER);
}

TEST_F(TagExtracter, ArtistAlbumYearTrackTitleFromThePath) {
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);
  TRecords r;
  ASSERT_EQ(r.Ask(e.Get(), Path("SOUNDS/Artist/1999 - Best of/03 - Song name.mp3")), S_OK);
  EXPECT_EQ(r.Artist1(), "Artist");
  EXPECT_EQ(r.Artist2(), "Artist");
  EXPECT_EQ(r.Album1(), "Best of");
  EXPECT_EQ(r.Album2(), "Best of");
  EXPECT_EQ(r.Year1(), "1999");
  EXPECT_EQ(r.Year2(), "1999");
  EXPECT_EQ(r.v2.ulTrack, 3u);
  EXPECT_EQ(r.Title1(), "Song name");
  EXPECT_EQ(r.Title2(), "Song name");
  r.ExpectCommentGenreComposerKept();
  // The song lies below the root folder, by whatever path reaches it; the root's text
  // inside another path does not count.
  EXPECT_EQ(r.Ask(e.Get(), "/elsewhere" + m_Root + "Группа/Альбом/Песня.mp3"), S_FALSE);
  const QString link = NewTempDir() + "/cd";
  ASSERT_TRUE(QFile::link(m_Root, link));
  ASSERT_EQ(r.Ask(e.Get(), link + "/Группа/Альбом/Песня.mp3"), S_OK);
  EXPECT_EQ(r.Artist2(), "Группа");
}

TEST_F(TagExtracter, NamesWithoutMinusKeepTrackYearAndExtension) {
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);
  TRecords r;
  ASSERT_EQ(r.Ask(e.Get(), Path("SOUNDS/Artist/  Live/  Song.mp3")), S_OK);
  EXPECT_EQ(r.Album2(), "Live");
  EXPECT_EQ(r.Title2(), "Song.mp3");
  EXPECT_EQ(r.v2.ulTrack, 7u);
  EXPECT_EQ(r.Year1(), "2001");
  EXPECT_EQ(r.Year2(), "2001") << "the v2 year is a copy of the v1 year";

  // Two digits overwrite two year characters; the title loses only its last extension;
  // a number atoi cannot read gives track 0.
  ASSERT_EQ(r.Ask(e.Get(), Path("SOUNDS/Artist/99 - Album/x - Part 1.remix.mp3")), S_OK);
  EXPECT_EQ(r.Year1(), "9901");
  EXPECT_EQ(r.Year2(), "9901");
  EXPECT_EQ(r.Album2(), "Album");
  EXPECT_EQ(r.Title2(), "Part 1.remix");
  EXPECT_EQ(r.v2.ulTrack, 0u);

  // Digits stop at the first non-digit and at four.
  ASSERT_EQ(r.Ask(e.Get(), Path("SOUNDS/Artist/198x-A/1-B")), S_OK);
  EXPECT_EQ(r.Year1(), "1981");
  EXPECT_EQ(r.Title2(), "B");
  ASSERT_EQ(r.Ask(e.Get(), Path("SOUNDS/Artist/123456-A/1-B")), S_OK);
  EXPECT_EQ(r.Year1(), "1234");
}

TEST_F(TagExtracter, LongTitleFillsTheFixedFieldWithoutTerminator) {
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);
  const QString title = QStringLiteral("Ровно тридцать пять знаков в песне!");
  ASSERT_EQ(title.size(), 35);
  TRecords r;
  ASSERT_EQ(r.Ask(e.Get(), Path("SOUNDS/A/B/1 - " + title + ".mp3")), S_OK);
  EXPECT_EQ(r.Title2(), title);
  EXPECT_EQ(r.Title1(), title.left(30));
  EXPECT_NE(r.v1.szTitle[29], '\0');
  EXPECT_EQ(SysStringLen(r.v2.bstrTitle), 35u);
}

TEST_F(TagExtracter, NoAnswerOutsideTheRootOrForShortPaths) {
  TRecords r;
  EXPECT_EQ(r.Ask(e.Get(), Path("SOUNDS/A/B/c.mp3")), S_FALSE) << "before Recognize";
  ASSERT_EQ(Recognize(e.Get(), m_Root), S_OK);
  EXPECT_EQ(r.Ask(e.Get(), NewTempDir() + "/A/B/c.mp3"), S_FALSE);
  EXPECT_EQ(r.Title2(), "old title");
  std::u16string empty;
  LONG mask = 0;
  ASSERT_EQ(e->Recognize(empty.data(), &mask), S_FALSE);
  EXPECT_EQ(r.Ask(e.Get(), "album/song.mp3"), S_FALSE) << "no artist folder";
  EXPECT_EQ(r.Ask(e.Get(), "artist/album/song.mp3"), S_FALSE);
  EXPECT_EQ(r.Ask(e.Get(), "/artist/album/song.mp3"), S_FALSE) << "an empty root holds nothing";
}

TEST_F(TagExtracter, AnswersItsOwnInterfaceAndTheContract) {
  for (const IID& iid : {IID_IUnknown, IID_IDispatch, IID_ITagExtracter, IID_ISLLBExtracter}) {
    ComPtr<IUnknown> p;
    EXPECT_EQ(e->QueryInterface(iid, p.PutVoid()), S_OK) << lb::GuidToString(iid).toStdString();
  }
  ComPtr<IUnknown> none;
  EXPECT_EQ(e->QueryInterface(IID_IClassFactory, none.PutVoid()), E_NOINTERFACE);
  EXPECT_EQ(e->GetSongText(nullptr, nullptr), E_POINTER);
}

}  // namespace
