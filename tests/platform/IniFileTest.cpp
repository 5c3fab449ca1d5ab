#include "platform/IniFile.h"

#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>
#include <QThread>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using lbtest::ReadFile;
using lbtest::WriteFile;

// Replaces the file the way another process would: a new file renamed into place.
void ReplaceFromOutside(const QString& path, const QByteArray& bytes) {
  QSaveFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
  ASSERT_TRUE(f.commit());
}

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override { m_Path = lbtest::NewTempDir() + "/settings.ini"; }
  QString m_Path;
};

TEST_F(IniFileTest, ReadsSectionsAndKeysWithoutCaseAndValuesRaw) {
  WriteFile(m_Path,
            "; a comment=not a key\n"
            "[Edit]\n"
            "  Winamp = 1  \n"
            "Path=\"C:\\Program Files\\Winamp\\winamp.exe\"\n"
            "Extentions= mp3, wav\n"
            "Equation=a=b\n"
            "Пусто=\n"
            "[Папки]\n"
            "Кириллица=Значение\n");
  TIniFile ini(m_Path);
  EXPECT_EQ(ini.ReadString("EDIT", "winamp", "x"), "1");
  EXPECT_EQ(ini.ReadString(" edit ", "WINAMP", "x"), "1");
  // Quotes, backslashes and inner blanks stay as written.
  EXPECT_EQ(ini.ReadString("Edit", "Path", ""), "\"C:\\Program Files\\Winamp\\winamp.exe\"");
  EXPECT_EQ(ini.ReadString("Edit", "Extentions", ""), "mp3, wav");
  EXPECT_EQ(ini.ReadString("Edit", "Equation", ""), "a=b");
  // An empty value is a value, not a missing key.
  EXPECT_EQ(ini.ReadString("Edit", "Пусто", "def"), "");
  EXPECT_EQ(ini.ReadString("ПАПКИ", "КИРИЛЛИЦА", ""), "Значение");
  EXPECT_EQ(ini.ReadString("Edit", "Missing", "def"), "def");
  EXPECT_EQ(ini.ReadString("Missing", "Winamp", "def"), "def");
  EXPECT_TRUE(ini.SectionExists("папки"));
}

TEST_F(IniFileTest, ListsKeysAndSectionsInFileOrder) {
  WriteFile(m_Path,
            "[B]\nzeta=1\nalpha=2\n; note\nMid = 3\nzeta=dup\n\n"
            "[A]\nk=v\n[b]\nlate=4\n");
  TIniFile ini(m_Path);
  EXPECT_EQ(ini.ReadSections(), QStringList({"B", "A"}));
  EXPECT_EQ(ini.ReadSection("b"), QStringList({"zeta", "alpha", "Mid"}));
  EXPECT_EQ(ini.ReadSectionValues("B"), QStringList({"zeta=1", "alpha=2", "Mid=3"}));
  EXPECT_TRUE(ini.ReadSection("none").isEmpty());
}

TEST_F(IniFileTest, WritesKeepOtherLinesAndPlaceNewKeysInTheirSection) {
  WriteFile(
      m_Path,
      "; settings\r\n[Edit]\r\nWinamp=0\r\n# unknown line\r\n\r\n[Position]\r\nSplitter=176\r\n");
  TIniFile ini(m_Path);
  ASSERT_TRUE(ini.WriteBool("edit", "WINAMP", true));
  ASSERT_TRUE(ini.WriteString("Edit", "FastPlay", "  1"));
  ASSERT_TRUE(ini.WriteInteger("New", "Count", -5));
  // Existing key keeps its spelling; the new key goes before the blank separator line;
  // a new section is appended after a blank line; the file keeps its CR LF ends.
  EXPECT_EQ(ReadFile(m_Path),
            "; settings\r\n[Edit]\r\nWinamp=1\r\n# unknown line\r\nFastPlay=1\r\n\r\n"
            "[Position]\r\nSplitter=176\r\n\r\n[New]\r\nCount=-5\r\n");
}

TEST_F(IniFileTest, NewFileIsUtf8AndRoundTripsCyrillic) {
  TIniFile ini(m_Path);
  ASSERT_TRUE(ini.WriteString("Хранилище", "/музыка/лист.m3u", "1"));
  EXPECT_EQ(ReadFile(m_Path), QString("[Хранилище]\n/музыка/лист.m3u=1\n").toUtf8());
  EXPECT_EQ(ini.ReadString("хранилище", "/МУЗЫКА/ЛИСТ.M3U", ""), "1");
}

TEST_F(IniFileTest, LegacyEightBitFileIsReadAndRewrittenWithoutLoss) {
  // "[Папка]\nИмя=Тест\n" in Windows-1251, as the program wrote it on Windows.
  WriteFile(m_Path, "[\xCF\xE0\xEF\xEA\xE0]\n\xC8\xEC\xFF=\xD2\xE5\xF1\xF2\n");
  TIniFile ini(m_Path);
  EXPECT_EQ(ini.ReadString("Папка", "Имя", ""), "Тест");
  ASSERT_TRUE(ini.WriteString("Папка", "Другое", "2"));
  EXPECT_EQ(ReadFile(m_Path), QString("[Папка]\nИмя=Тест\nДругое=2\n").toUtf8());
}

TEST_F(IniFileTest, ValuesCannotBreakTheLineStructure) {
  TIniFile ini(m_Path);
  ASSERT_TRUE(ini.WriteString("S", "k", "one\n[Evil]\nx=1"));
  EXPECT_FALSE(ini.SectionExists("Evil"));
  EXPECT_EQ(ini.ReadString("S", "k", ""), "one [Evil] x=1");
  EXPECT_FALSE(ini.WriteString("S", "a=b", "1"));
  EXPECT_FALSE(ini.WriteString("S", "", "1"));
  EXPECT_FALSE(ini.WriteString("S]", "k", "1"));
  EXPECT_EQ(ini.ReadSection("S"), QStringList{"k"});
}

TEST_F(IniFileTest, EraseSectionAndDeleteKey) {
  WriteFile(m_Path, "[A]\na=1\nb=2\nB=3\n\n[Gone]\nx=1\n[C]\nc=1\n[gone]\ny=2\n");
  TIniFile ini(m_Path);
  ASSERT_TRUE(ini.DeleteKey("a", "b"));
  EXPECT_EQ(ini.ReadSection("A"), QStringList{"a"});  // the duplicate went too
  ASSERT_TRUE(ini.EraseSection("GONE"));
  EXPECT_FALSE(ini.SectionExists("Gone"));  // no later copy resurfaces
  EXPECT_EQ(ini.ReadSections(), QStringList({"A", "C"}));
  EXPECT_EQ(ReadFile(m_Path), "[A]\na=1\n\n[C]\nc=1\n");
  // Removing what is not there succeeds and leaves the file alone.
  EXPECT_TRUE(ini.DeleteKey("A", "zz"));
  EXPECT_TRUE(ini.EraseSection("None"));
  EXPECT_EQ(ReadFile(m_Path), "[A]\na=1\n\n[C]\nc=1\n");
}

TEST_F(IniFileTest, IntegersAndBooleans) {
  WriteFile(m_Path,
            "[N]\ndec=42\nneg=-17\nhex=0x1F\nHEX=0XfF\nallbits=0xFFFFFFFF\nword=abc\n"
            "trail=12abc\nbig=99999999999\nempty=\nzero=0\ntwo=2\n");
  TIniFile ini(m_Path);
  EXPECT_EQ(ini.ReadInteger("N", "dec", 0), 42);
  EXPECT_EQ(ini.ReadInteger("N", "neg", 0), -17);
  EXPECT_EQ(ini.ReadInteger("N", "hex", 0), 31);
  EXPECT_EQ(ini.ReadInteger("n", "Hex", 0), 31);  // first of the duplicate keys
  EXPECT_EQ(ini.ReadInteger("N", "allbits", 0), -1);
  EXPECT_EQ(ini.ReadInteger("N", "word", 7), 7);
  EXPECT_EQ(ini.ReadInteger("N", "trail", 7), 7);
  EXPECT_EQ(ini.ReadInteger("N", "big", 7), 7);
  EXPECT_EQ(ini.ReadInteger("N", "empty", 7), 7);
  EXPECT_EQ(ini.ReadInteger("N", "missing", 7), 7);
  EXPECT_FALSE(ini.ReadBool("N", "zero", true));
  EXPECT_TRUE(ini.ReadBool("N", "two", false));
  EXPECT_TRUE(ini.ReadBool("N", "word", true));
  EXPECT_FALSE(ini.ReadBool("N", "word", false));
  ASSERT_TRUE(ini.WriteBool("N", "flag", false));
  EXPECT_EQ(ini.ReadString("N", "flag", ""), "0");
}

TEST_F(IniFileTest, WritesLeaveNoTemporaryFileBehind) {
  TIniFile ini(m_Path);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(ini.WriteInteger("S", QString("k%1").arg(i), i));
  ASSERT_TRUE(ini.EraseSection("S"));
  EXPECT_EQ(QDir(QFileInfo(m_Path).path()).entryList(QDir::Files | QDir::Hidden),
            QStringList{"settings.ini"});
}

TEST_F(IniFileTest, IndependentObjectsSeeEachOthersWritesAtOnce) {
  TIniFile a(m_Path), b(m_Path);
  // Same-size values in quick succession: a cache keyed on size and time alone would
  // serve a stale value here.
  for (int i = 0; i < 20; ++i) {
    QString v = QString::number(i % 10);
    ASSERT_TRUE(a.WriteString("S", "k", v));
    ASSERT_EQ(b.ReadString("S", "k", ""), v) << i;
    ASSERT_TRUE(b.WriteString("S", "other", v));
    ASSERT_EQ(a.ReadString("S", "other", ""), v) << i;
  }
  // A write starts from the file as it is, not from what this object saw before.
  ASSERT_TRUE(a.WriteString("S", "x", "1"));
  ASSERT_TRUE(b.WriteString("S", "y", "2"));
  EXPECT_EQ(a.ReadSection("S"), QStringList({"k", "other", "x", "y"}));
}

TEST_F(IniFileTest, SeesChangesMadeByAnotherProcess) {
  TIniFile ini(m_Path);
  ASSERT_TRUE(ini.WriteString("S", "k", "a"));
  EXPECT_EQ(ini.ReadString("S", "k", ""), "a");
  ReplaceFromOutside(m_Path, "[S]\nk=b\n");  // same size, new file
  EXPECT_EQ(ini.ReadString("S", "k", ""), "b");
  WriteFile(m_Path, "[S]\nk=c\n");  // same size, rewritten in place
  EXPECT_EQ(ini.ReadString("S", "k", ""), "c");
  QFile::remove(m_Path);
  EXPECT_EQ(ini.ReadString("S", "k", "gone"), "gone");
}

TEST_F(IniFileTest, FailedWriteReturnsFalseAndKeepsTheFile) {
  const QByteArray before = "[S]\nk=old\n";
  WriteFile(m_Path, before);
  TIniFile ini(m_Path);
  EXPECT_EQ(ini.ReadString("S", "k", ""), "old");
  {
    lbtest::ReadOnlyFolder folder(QFileInfo(m_Path).path());
    if (!folder.Ok()) GTEST_SKIP() << "cannot make a folder read-only here";
    EXPECT_FALSE(ini.WriteString("S", "k", "new"));
    EXPECT_FALSE(ini.EraseSection("S"));
  }
  EXPECT_EQ(ReadFile(m_Path), before);
  EXPECT_EQ(ini.ReadString("S", "k", ""), "old");
  EXPECT_EQ(QDir(QFileInfo(m_Path).path()).entryList(QDir::Files | QDir::Hidden),
            QStringList{"settings.ini"});
}

TEST(SettingsFile, EnvironmentOverridesThenExecutableFolder) {
  const QByteArray saved = qgetenv("LBTOOLS_INI");
  ASSERT_FALSE(saved.isEmpty());
  EXPECT_EQ(lb::SettingsFilePath(), QString::fromLocal8Bit(saved));
  EXPECT_EQ(lb::SettingsFolder(), QFileInfo(QString::fromLocal8Bit(saved)).absolutePath());
  qunsetenv("LBTOOLS_INI");
  // The test's own folder is writable: a portable install keeps its settings there.
  EXPECT_EQ(lb::SettingsFilePath(), QCoreApplication::applicationDirPath() + "/lbtools3.ini");
  qputenv("LBTOOLS_INI", saved);
}

}  // namespace

namespace {

TEST_F(IniFileTest, EachLineIsDecodedOnItsOwn) {
  // A UTF-8 file with one line added by a Windows-1251 editor: the stray line is read
  // in the code page and every other line stays as it was.
  WriteFile(m_Path, QString("[Папка]\nИмя=Тест\n").toUtf8() + "\xC4\xF0\xF3\xE3\xEE\xE5=1\n");
  TIniFile ini(m_Path);
  EXPECT_EQ(ini.ReadString("Папка", "Имя", ""), "Тест");
  EXPECT_EQ(ini.ReadString("Папка", "Другое", ""), "1");
  ASSERT_TRUE(ini.WriteString("Папка", "Ещё", "2"));
  EXPECT_EQ(ReadFile(m_Path), QString("[Папка]\nИмя=Тест\nДругое=1\nЕщё=2\n").toUtf8());
}

TEST_F(IniFileTest, TwoProcessesWritingAtOnceKeepEveryKey) {
  constexpr int kKeys = 60;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      TIniFile ini(m_Path);
      bool ok = true;
      for (int i = 0; i < kKeys; ++i)
        ok = ini.WriteInteger("S", QString("p%1k%2").arg(c).arg(i), i) && ok;
      ::_exit(ok ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(TIniFile(m_Path).ReadSection("S").size(), 2 * kKeys);
}

TEST_F(IniFileTest, FullDiskWriteFailsAndKeepsTheFile) {
  lbtest::SmallFileSystem fs(64);
  if (!fs.Ok()) GTEST_SKIP() << "a small file system needs root here";
  const QString path = fs.Path() + "/settings.ini";
  const QByteArray before = "[S]\nk=old\n";
  WriteFile(path, before);
  fs.Fill(1);  // room for the lock file only
  TIniFile ini(path);
  EXPECT_FALSE(ini.WriteString("S", "k", "new value"));
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(ini.ReadString("S", "k", ""), "old");
}

}  // namespace

namespace {

TEST_F(IniFileTest, SettingsFileThatCannotBeReadIsNeverReplaced) {
  // A FIFO under the settings name: reads give the defaults at once, writes refuse.
  ASSERT_EQ(::mkfifo(QFile::encodeName(m_Path).constData(), 0600), 0);
  TIniFile ini(m_Path);
  EXPECT_EQ(ini.ReadString("S", "k", "default"), "default");
  EXPECT_FALSE(ini.WriteString("S", "k", "v"));
  struct stat st;
  ASSERT_EQ(::stat(QFile::encodeName(m_Path).constData(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

}  // namespace
