// "lbtools3-cli recognize" over a tracker.ini disc: the chosen rows filled and saved.
#include "CliRun.h"
#include "RegisterID3Com.h"
#include "extracter/ExtracterTestSupport.h"
#include "lbtools3/model/M3uList.h"

#include <QDir>

using namespace lbtest;

namespace {

class RecognizeCommand : public TExtracterFixture {
 protected:
  // The command reads each song's tags before it fills them.
  void SetUp() override {
    TExtracterFixture::SetUp();
    ASSERT_TRUE(RegisterID3Com());
  }
  // The tool starts in the fixture's folder, so relative paths name its files.
  int Run(const QStringList& args) {
    CliOptions options;
    options.workingDir = m_Root;
    const CliRun run = RunCli(QStringList{"recognize"} + args, options);
    out = run.out;
    err = run.err;
    return run.code;
  }
  QString out, err;
};

TEST_F(RecognizeCommand, FillsTheRowsFromTheOnlyRecognisingExtracterAndSaves) {
  ASSERT_TRUE(QDir().mkpath(Path("disc/CD")));
  Write("disc/tracker.ini", lb::ToTagCodePage("[Main]\r\nCD=\"Альбом диска\"\r\n[CD]\r\n"
                                              "SndFile1=\"X:\\CD3\\a.mp3\"\r\nSound1=Первая\r\n"
                                              "SndFile2=c.mp3\r\nSound2=Третья\r\n"));
  Write("l.m3u", (Path("disc/CD/a.mp3") + "\r\n" + Path("disc/CD/b.mp3") + "\r\n" +
                  Path("disc/CD/c.mp3") + "\r\n")
                     .toUtf8());

  ASSERT_EQ(Run({"l.m3u", "disc", "--rows", "1-2"}), 0) << err;
  EXPECT_TRUE(out.contains("1\t" + Path("disc/CD/a.mp3") + "\tПервая\tАльбом диска\n")) << out;
  EXPECT_FALSE(out.contains(Path("disc/CD/b.mp3"))) << "b.mp3 got no answer";

  TSlDocument doc;
  doc.SetFileName(Path("l.m3u"));
  ASSERT_TRUE(doc.Load(true));
  ASSERT_EQ(doc.m_Songs.size(), 3);
  EXPECT_EQ(doc.m_Songs[0].m_Tag1.GetAlbum(), "Альбом диска");
  EXPECT_FALSE(doc.m_Songs[0].m_Tag2.bTagSync);
  EXPECT_NE(doc.m_Songs[2].m_Tag2.Title, "Третья") << "row 3 was not asked about";

  // Disc folders of the tag extracter too: two recognise it, so one must be named.
  for (const char* dir : {"disc/Sounds", "disc/Texts", "disc/Winamp"})
    ASSERT_TRUE(QDir().mkpath(Path(dir)));
  EXPECT_EQ(Run({"l.m3u", "disc"}), 2);
  EXPECT_EQ(Run({"l.m3u", "disc", "--class", "LBCOMExtracter.LBExtracterType1"}), 1);
  ASSERT_EQ(Run({"l.m3u", "disc", "--class", "LBCOMExtracter.LBExtracterType3"}), 0) << err;
  EXPECT_TRUE(out.contains("3\t" + Path("disc/CD/c.mp3") + "\tТретья\tАльбом диска\n")) << out;
}

}  // namespace
