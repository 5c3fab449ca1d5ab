// The recognizer over the four registered extracters on small disc trees: marks, the
// extraction into a list's selected songs, and the answers written into the records.
#include "RegisterID3Com.h"
#include "extracter/ExtracterTestSupport.h"
#include "id3com/Mp3Files.h"
#include "lbtools3/model/ID3ComAccess.h"
#include "lbtools3/model/M3uList.h"
#include "lbtools3/recognizer/Recognizer.h"
#include "platform/ScriptedUiServices.h"

#include <QDir>
#include <set>

using namespace lbtest;
using lb::TRecognizer;

namespace {

// Rows of a list as a set; answered rows leave it.
class TSetSelection : public lb::IRecognizerSelection {
 public:
  explicit TSetSelection(std::set<int> rows) : m_Rows(std::move(rows)) {}
  int SelectedCount() override { return static_cast<int>(m_Rows.size()); }
  bool IsSelected(int n) override { return m_Rows.count(n) != 0; }
  void SongAnswered(int n) override { m_Rows.erase(n); }
  std::set<int> m_Rows;
};

// An extracter that recognises everything and fails every question about a song.
class TFailingExtracter final : public ISLLBExtracter {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_Refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG refs = --m_Refs;
    if (!refs) delete this;
    return refs;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_Author(LPOLESTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Description(LPOLESTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Recognize(LPOLESTR, LONG*) override { return m_Recognize; }
  HRESULT STDMETHODCALLTYPE GetSongInfo(LPOLESTR, LBSongTagID3v1* v1, LBSongTagID3v2*,
                                        LONG*) override {
    lb::SetFixedText(v1->szTitle, 30, QStringLiteral("half written"));
    return DISP_E_EXCEPTION;
  }
  HRESULT STDMETHODCALLTYPE GetSongText(LPOLESTR, BSTR*) override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE get_Version(UINT*) override { return E_NOTIMPL; }
  HRESULT m_Recognize = S_OK;

 private:
  ULONG m_Refs = 1;
};

class Recognizer : public TExtracterFixture {
 protected:
  void SetUp() override {
    TExtracterFixture::SetUp();
    // Disc A answers type 1 (musi + SET/proba.ann), type 3 (tracker.ini) and the tag
    // extracter (Sounds, Texts, Winamp); disc B answers type 2 only.
    for (const char* dir : {"A/musi", "A/Sounds", "A/Texts", "A/Winamp", "B/mus&song/12"})
      ASSERT_TRUE(QDir().mkpath(Path(dir)));
    Write("A/SET/proba.ann", Oem("\"Первая\" - \"Альбом\"\r\n"));
    Write("A/tracker.ini", "[Main]\r\n");
    QString albums;
    for (int n = 1; n <= 12; ++n) albums += QStringLiteral("Альбом %1\r\n").arg(n);
    Write("B/setup/dir.www", Oem(albums));
    Write("B/mus&song/12/zz12.www", Oem("Раз\r\nДва\r\nТри\r\n"));
    r.LoadExtracters(TRecognizer::CategoriesManager().Get());
  }
  // The row of the class, -1 when it is not listed.
  int RowOf(REFCLSID clsid) {
    for (size_t i = 0; i < r.Rows().size(); ++i)
      if (r.Rows()[i].extracter.clsid == clsid) return static_cast<int>(i);
    return -1;
  }
  ScriptedUiServices ui;
  TRecognizer r;
};

const CLSID kTagExtracter = {
    0xD2AABEAE, 0x2FDD, 0x4A8E, {0xB1, 0x41, 0xFA, 0x0E, 0xCB, 0xB2, 0x29, 0x11}};

TEST_F(Recognizer, FourExtractersMarkedByTheirDiscsAndOnlyMarkedRowsExtract) {
  ASSERT_EQ(r.Rows().size(), 4u);
  const int type1 = RowOf(CLSID_LBExtracterType1), type2 = RowOf(CLSID_LBExtracterType2),
            type3 = RowOf(CLSID_LBExtracterType3), zu = RowOf(kTagExtracter);
  ASSERT_TRUE(type1 >= 0 && type2 >= 0 && type3 >= 0 && zu >= 0);
  EXPECT_EQ(lb::VersionText(r.Rows()[zu].extracter.version), "1.0");
  EXPECT_FALSE(r.CanExtract(type1)) << "no mark before Recognize";

  // Typed without the trailing separator: type 1 and type 3 join names straight to it.
  EXPECT_TRUE(r.Recognize(Path("A")));
  EXPECT_TRUE(r.CanExtract(type1));
  EXPECT_FALSE(r.CanExtract(type2));
  EXPECT_TRUE(r.CanExtract(type3));
  EXPECT_TRUE(r.CanExtract(zu));

  EXPECT_TRUE(r.Recognize(Path("B")));
  EXPECT_FALSE(r.CanExtract(type1)) << "the mark goes with the next recognition";
  EXPECT_TRUE(r.CanExtract(type2));
  EXPECT_FALSE(r.CanExtract(type3));
  EXPECT_FALSE(r.CanExtract(zu));
  EXPECT_FALSE(r.CanExtract(4));
  EXPECT_TRUE(ui.Messages().isEmpty());

  EXPECT_EQ(TRecognizer::FolderArgument(Path("A")), Path("A/"));
  EXPECT_EQ(TRecognizer::FolderArgument(Path("none")), Path("none")) << "missing: as typed";
}

TEST_F(Recognizer, ThreeOfTenSelectedFilledAnsweredDeselectedAndUnsynchronised) {
  TSlDocument doc;
  doc.SetFileName(Path("list.m3u"));
  const QString folder = Path("B/mus&song/12/");
  for (int n = 1; n <= 9; ++n)
    doc.m_Songs.push_back(
        std::make_unique<TSlSong>(&doc, folder + QStringLiteral("0%1.mp3").arg(n), QString()));
  doc.m_Songs.push_back(std::make_unique<TSlSong>(&doc, folder + "intro.mp3", QString()));
  for (int n = 0; n < 10; ++n) {
    doc.m_Songs[n].m_Tag1.SetArtist("Исполнитель", true);
    doc.m_Songs[n].m_Tag2.SetComposer("Композитор");
  }
  // 05.mp3 exists, tagged by another program since the records were made: the fields
  // the disc does not answer come from the file, not from the stale records.
  ASSERT_TRUE(lbtest::RegisterID3Com());
  ASSERT_TRUE(SUCCEEDED(lb::AttachCurrentThreadToID3Com()));
  Write("B/mus&song/12/05.mp3", Id3v2(3, {{"TPE1", TextBody("Из файла", 1)}}) + Mp3Audio());
  doc.m_bModified = false;

  ASSERT_TRUE(r.Recognize(Path("B")));
  TSetSelection selection({1, 4, 9});  // 02.mp3, 05.mp3 (no line 5), intro.mp3
  TRecognizer::TOutcome outcome = r.Extract(RowOf(CLSID_LBExtracterType2), doc, selection);
  EXPECT_EQ(outcome.answered, 2);
  EXPECT_FALSE(outcome.bErrors);
  ASSERT_EQ(ui.Progress().size(), 1u);
  EXPECT_EQ(ui.Progress()[0].action, TRecognizer::kAction);
  EXPECT_EQ(ui.Progress()[0].object, Path("list.m3u"));
  EXPECT_EQ(ui.Progress()[0].positions, (std::vector<int>{0, 33, 66, 100})) << "opened at 0";
  EXPECT_EQ(selection.m_Rows, std::set<int>{9}) << "the song without an answer stays selected";

  const TSlSong& two = doc.m_Songs[1];
  EXPECT_EQ(two.m_Tag1.GetTitle(), "Два");
  EXPECT_EQ(two.m_Tag2.Title, "Два");
  EXPECT_EQ(two.m_Tag1.GetAlbum(), "Альбом 12");
  EXPECT_EQ(two.m_Tag2.Album, "Альбом 12");
  EXPECT_EQ(two.m_Tag1.GetArtist(), "Исполнитель") << "fields not answered keep their values";
  EXPECT_EQ(two.m_Tag2.Composer, "Композитор");
  EXPECT_FALSE(two.m_Tag1.bTagSync);
  EXPECT_FALSE(two.m_Tag2.bTagSync);
  EXPECT_EQ(doc.m_Songs[4].m_Tag2.Album, "Альбом 12");
  EXPECT_EQ(doc.m_Songs[4].m_Tag2.Artist, "Из файла");
  EXPECT_FALSE(doc.m_Songs[4].m_Tag2.bTagSync);
  for (int n : {0, 2, 9}) {
    EXPECT_TRUE(doc.m_Songs[n].m_Tag1.bTagSync) << n;
    EXPECT_EQ(doc.m_Songs[n].m_Tag2.Album, "") << n;
  }
  EXPECT_TRUE(doc.m_bModified);
  EXPECT_TRUE(ui.Messages().isEmpty());

  // Stop after the first song: the rest stay untouched.
  ui.StopAfterProcessMessages(1);
  TSetSelection rest({0, 2});
  outcome = r.Extract(RowOf(CLSID_LBExtracterType2), doc, rest);
  EXPECT_TRUE(outcome.bStopped);
  EXPECT_EQ(doc.m_Songs[0].m_Tag2.Title, "Раз");
  EXPECT_EQ(doc.m_Songs[2].m_Tag2.Title, "");
}

TEST_F(Recognizer, FailingExtracterGivesOneWarningAndChangesNothing) {
  auto* failing = new TFailingExtracter;
  TRecognizer::TRow row;
  row.extracter.extracter.Attach(failing);
  r.Rows().push_back(std::move(row));
  const int last = static_cast<int>(r.Rows().size()) - 1;
  const QString warning = TRecognizer::kErrors;

  ASSERT_TRUE(r.Recognize(Path("A")));
  failing->m_Recognize = E_FAIL;
  EXPECT_FALSE(r.Recognize(Path("B")));
  EXPECT_TRUE(r.CanExtract(last)) << "a failed call keeps the mark";
  EXPECT_TRUE(r.CanExtract(RowOf(CLSID_LBExtracterType2))) << "the others went on";
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(ui.Messages()[0].text, warning);
  EXPECT_EQ(ui.Messages()[0].flags & MB_ICONMASK, unsigned(MB_ICONWARNING));

  TSlDocument doc;
  for (const char* name : {"a.mp3", "b.mp3"})
    doc.m_Songs.push_back(std::make_unique<TSlSong>(&doc, Path(name), QString()));
  TSetSelection selection({0, 1});
  ui.ClearMessages();
  EXPECT_TRUE(r.Extract(last, doc, selection).bErrors);
  EXPECT_EQ(selection.m_Rows.size(), 2u);
  EXPECT_EQ(doc.m_Songs[0].m_Tag1.GetTitle(), "");
  ASSERT_EQ(ui.Messages().size(), 1) << "one warning for both songs";
  EXPECT_EQ(ui.Messages()[0].text, warning);
}

TEST_F(Recognizer, NoManagerIsReportedAndLeavesNoRows) {
  r.LoadExtracters(nullptr);
  EXPECT_TRUE(r.Rows().empty());
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(ui.Messages()[0].text, TRecognizer::kNoManager);
  EXPECT_EQ(ui.Messages()[0].flags & MB_ICONMASK, unsigned(MB_ICONERROR));
}

TEST(RecognizerAnswer, BlankYearEmptiesTheID3v1YearAndAWordKeepsIt) {
  TSlDocument doc;
  doc.m_Songs.push_back(std::make_unique<TSlSong>(&doc, "/disc/a.mp3", QString()));
  TSlSong& song = doc.m_Songs[0];
  song.m_Tag1.SetYear("1999");
  song.m_Tag2.SetYear("1999");
  LBSongTagID3v1 v1;
  LBSongTagID3v2 v2;
  lb::InitTagRecords(v1, v2);
  std::memcpy(v1.szYear, "19x5", 4);
  std::memcpy(v2.szYear, "2001", 4);
  lb::SetFixedText(v1.szTitle, 30, QStringLiteral("Заглавие"));
  v1.ucGenre = 17;
  v2.bstrURL = lb::BstrFromQString(QStringLiteral("http://x"));
  lb::WriteAnswer(song, v1, v2);
  EXPECT_EQ(song.m_Tag1.GetYear(), "1999") << "not a number: kept";
  EXPECT_EQ(song.m_Tag1.GetTitle(), "Заглавие") << "the rest is written";
  EXPECT_EQ(song.m_Tag1.Genre, 17);
  EXPECT_EQ(song.m_Tag2.Year, "2001");
  EXPECT_EQ(song.m_Tag2.URL, "http://x");

  std::memcpy(v1.szYear, "    ", 4);
  lb::WriteAnswer(song, v1, v2);
  EXPECT_EQ(song.m_Tag1.GetYear(), "");

  // A FLAC file never carries ID3v1: only its main record is filled.
  doc.m_Songs.push_back(std::make_unique<TSlSong>(&doc, "/disc/b.flac", QString()));
  TSlSong& flac = doc.m_Songs[1];
  lb::WriteAnswer(flac, v1, v2);
  EXPECT_FALSE(flac.m_Tag1.m_bExists);
  EXPECT_EQ(flac.m_Tag1.GetTitle(), "");
  EXPECT_EQ(flac.m_Tag2.URL, "http://x");
  lb::FreeTagID3v2(v2);
}

}  // namespace
