// "lbtools3-cli extract": the extracters listed from the category, the folder
// recognised, the answering extracter's records printed.
#include "ExtracterTestSupport.h"
#include "CliRun.h"

#include <QDir>

using namespace lbtest;

namespace {

class ExtractCommand : public TExtracterFixture {
 protected:
  int Run(const QStringList& args) {
    const CliRun run = RunCli(QStringList{"extract"} + args);
    m_Out = run.out;
    m_Err = run.err;
    return run.code;
  }
  QString m_Out, m_Err;
};

TEST_F(ExtractCommand, ListsExtractersAndPrintsTheFirstRecognisingOnesAnswer) {
  Write("tracker.ini", "[Main]\nCD=Альбом\n[CD]\nSndFile1=01.mp3\nSound1=Песня\n");
  ASSERT_EQ(Run({m_Root.chopped(1), Path("CD/01.mp3"), Path("CD/02.mp3")}), 0) << m_Err;
  EXPECT_TRUE(
      m_Out.contains("Corvane, 1.0, Для дисков с характерным файлом \"tracker.ini\" в корне "
                     "(LBCOMExtracter.LBExtracterType3)"))
      << m_Out;
  EXPECT_TRUE(m_Out.contains("(Zu.TagExtracter.1)")) << m_Out;
  EXPECT_EQ(m_Out.count(". узнаёт\n"), 1) << m_Out;
  EXPECT_TRUE(m_Out.contains("Песня: " + Path("CD/01.mp3") +
                             "\n  отвечает LBCOMExtracter.LBExtracterType3\n  ID3v1\n"
                             "    Название: Песня\n    Исполнитель: \n    Альбом: Альбом\n"))
      << m_Out;
  EXPECT_TRUE(m_Out.contains("    Кем кодирован: \n    Трэк: 0\n")) << m_Out;
  EXPECT_TRUE(m_Out.endsWith("Песня: " + Path("CD/02.mp3") + "\n  сведений нет\n")) << m_Out;
}

TEST_F(ExtractCommand, NamedClassAndUnknownFolders) {
  ASSERT_TRUE(QDir().mkpath(Path("Sounds/Artist/Album")));
  ASSERT_TRUE(QDir().mkpath(Path("Texts")));
  ASSERT_TRUE(QDir().mkpath(Path("Winamp")));
  Write("tracker.ini", "[Main]\n");
  // Both recognise the folder; --class picks zu over the first in the category.
  ASSERT_EQ(Run({"--class", "Zu.TagExtracter", m_Root, Path("Sounds/Artist/Album/3 - x.mp3")}), 0)
      << m_Err;
  EXPECT_TRUE(m_Out.contains("отвечает Zu.TagExtracter.1\n")) << m_Out;
  EXPECT_TRUE(m_Out.contains("    Исполнитель: Artist\n")) << m_Out;
  EXPECT_TRUE(m_Out.contains("    Трэк: 3\n")) << m_Out;

  ASSERT_EQ(Run({"--class=" + lb::GuidToString(CLSID_LBExtracterType1), m_Root, Path("a.mp3")}), 1);
  EXPECT_TRUE(m_Out.endsWith("сведений нет\n")) << m_Out;
  EXPECT_EQ(Run({"--class", "No.Such.Class", m_Root}), 2);
  EXPECT_TRUE(m_Err.contains("Неизвестный класс: No.Such.Class\n")) << m_Err;
  EXPECT_EQ(Run({}), 2);
  EXPECT_EQ(Run({NewTempDir(), Path("a.mp3")}), 1);
  EXPECT_TRUE(m_Out.contains("сведений нет")) << m_Out;
}

}  // namespace
