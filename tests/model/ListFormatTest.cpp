// The list file and data file on disk: reading every line ending, writing back what
// was read, the data-file failure codes with their messages, the merge after an
// outside edit, and input that must never crash or lose data.
#include "ModelTestUtil.h"

#include "lbtools3/model/InfoWindowManager.h"
#include "lbtools3/model/M3uList.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/PartialFiles.h"
#include "platform/ScriptedUiServices.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <QRegularExpression>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using lbtest::ReadFile;
using lbtest::WriteFile;

namespace {

const QString kDataQuestionStart = "Работа с файлом данных невозможна по следующей причине:\n\"";
const QString kDataQuestionEnd =
    "\nВ случае, если он останется на диске, то работа с этим документом\nбудет "
    "невозможна. Удалить испорченный файл ?";

// The question names the data file on a line of its own.
QString DataQuestion(const QString& reason, const QString& dataFile) {
  return kDataQuestionStart + reason + "\".\n" + dataFile + kDataQuestionEnd;
}

using modeltest::Loaded;
using modeltest::LoadList;
using modeltest::Paths;

class ListFormatTest : public ::testing::Test {
 protected:
  // Writes the list file with the text and loads it.
  Loaded Load(const QByteArray& text) {
    WriteFile(list, text);
    return LoadList(list);
  }
  ScriptedUiServices ui;
  QString dir = lbtest::NewTempDir();
  QString list = dir + "/list.m3u";
};

TEST_F(ListFormatTest, ReadsEveryLineEndingAndWritesBackWithCrLf) {
  Loaded l = Load(
      "#EXTM3U\r\n#EXTINF:10,A\r\n\r\na.mp3\nsub/b.mp3\r\rc.mp3\r\n#EXT one\n \n#EXT "
      "two\nd.mp3\n\n");
  ASSERT_TRUE(l.ok);
  // A lone CR ends a line and the byte after it starts the next one. A blank line is
  // never a song, and the "#" lines before it stay with the song after it.
  EXPECT_EQ(Paths(*l.doc), QStringList({"a.mp3", "sub/b.mp3", "c.mp3", "d.mp3"}));
  EXPECT_TRUE(l.doc->m_bExtM3u);
  EXPECT_EQ(l.doc->m_ExtM3uHeader, "#EXTM3U");
  EXPECT_EQ(l.doc->m_Songs[0].m_ExtInf, "#EXTINF:10,A");
  EXPECT_FALSE(l.doc->m_Songs[1].m_bExtInf);
  EXPECT_EQ(l.doc->m_Songs[3].m_ExtInf, "#EXT one\n#EXT two");  // both lines stay
  EXPECT_TRUE(l.doc->m_bModified);                              // no data file yet

  ASSERT_TRUE(l.doc->Save(true));
  EXPECT_EQ(ReadFile(list),
            "#EXTM3U\r\n#EXTINF:10,A\r\na.mp3\r\nsub/b.mp3\r\nc.mp3\r\n#EXT one\r\n#EXT two\r\n"
            "d.mp3\r\n");
  EXPECT_FALSE(l.doc->m_bModified);
  EXPECT_TRUE(QFile::exists(dir + "/list.lbt"));
  EXPECT_TRUE(ui.Messages().isEmpty());
}

TEST_F(ListFormatTest, LineEndsAcrossReadChunks) {
  // The list is read in 64 KiB chunks: put a CR as the last byte of the first chunk
  // and its LF at the start of the second, and a long line across the boundary.
  const int chunk = 64 * 1024;
  QByteArray first(chunk - 1, 'a');
  for (int i = 1000; i < first.size(); i += 1000) first[i] = '\n';
  first += "\r\nnext.mp3\r\n";
  Loaded l = Load(first);
  ASSERT_TRUE(l.ok);
  ASSERT_GT(l.doc->m_Songs.size(), 0);
  EXPECT_EQ(l.doc->m_Songs.back().m_Path, "next.mp3");
  for (int n = 0; n < l.doc->m_Songs.size(); ++n) EXPECT_FALSE(l.doc->m_Songs[n].m_Path.isEmpty());

  QByteArray across(chunk - 100, '\n');
  across += QByteArray(300, 'b') + "\r\n";
  WriteFile(list, across);
  std::remove(QFile::encodeName(dir + "/list.lbt").constData());
  Loaded m = LoadList(list);
  ASSERT_TRUE(m.ok);
  ASSERT_GT(m.doc->m_Songs.size(), 0);
  EXPECT_EQ(m.doc->m_Songs.back().m_Path, QString(300, 'b'));
}

TEST_F(ListFormatTest, EmptyFileAndHeaderOnly) {
  Loaded empty = Load("");
  ASSERT_TRUE(empty.ok);
  EXPECT_EQ(empty.doc->m_Songs.size(), 0);

  Loaded header = Load("#EXTM3U\n");
  ASSERT_TRUE(header.ok);
  EXPECT_EQ(header.doc->m_Songs.size(), 0);
  ASSERT_TRUE(header.doc->Save(true));
  EXPECT_EQ(ReadFile(list), "#EXTM3U\r\n");
}

TEST_F(ListFormatTest, LineLengthLimit) {
  QByteArray longest(TSlDocument::kMaxLineBytes, 'a');
  Loaded ok = Load("x.mp3\r\n" + longest + "\r\n");
  ASSERT_TRUE(ok.ok);
  EXPECT_EQ(ok.doc->m_Songs[1].m_Path.size(), TSlDocument::kMaxLineBytes);

  WriteFile(list, "x.mp3\r\n" + longest + "a");
  std::remove(QFile::encodeName(dir + "/list.lbt").constData());
  Loaded tooLong = LoadList(list);
  EXPECT_FALSE(tooLong.ok);
  EXPECT_EQ(tooLong.doc->m_Songs.size(), 0);
  ASSERT_FALSE(ui.Texts().empty());
  EXPECT_EQ(ui.Texts().last(), "Ошибка во время загрузки m3u-листа");
}

TEST_F(ListFormatTest, CyrillicLongPathsSurvive) {
  // 2,000 Cyrillic characters take 4,000 bytes: far past the old 260-byte limit.
  QString path = "/музыка/" + QString(2000, QChar(0x0436)) + ".mp3";
  TSlDocument doc;
  doc.SetFileName(list);
  doc.InsertSong(TSlSong(nullptr, path, QString()), -1);
  ASSERT_TRUE(doc.Save(true));
  Loaded back = LoadList(list);
  ASSERT_TRUE(back.ok);
  EXPECT_EQ(back.doc->m_Songs[0].m_Path, path);
}

TEST_F(ListFormatTest, StopWhileReadingGivesCodeOneAndItsMessage) {
  ui.StopAfterProcessMessages(1);
  Loaded l = Load("a.mp3\r\n");
  EXPECT_FALSE(l.ok);
  EXPECT_EQ(l.doc->m_Songs.size(), 0);
  ASSERT_FALSE(ui.Messages().isEmpty());
  EXPECT_EQ(ui.Messages().last().text, "Прервано пользователем");
  EXPECT_EQ(ui.Messages().last().flags & MB_ICONMASK, unsigned(MB_ICONWARNING));
}

TEST_F(ListFormatTest, MissingListFile) {
  Loaded l = LoadList(dir + "/none.m3u");
  EXPECT_FALSE(l.ok);
  EXPECT_EQ(ui.Texts(), QStringList({"Файл не найден"}));
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(ui.Messages().first().caption, "LBTools");
  Loaded silent = LoadList(dir + "/none.m3u", true);
  EXPECT_FALSE(silent.ok);
  EXPECT_EQ(ui.Messages().size(), 1);
}

// A list with two songs saved with its data file.
class DataFileTest : public ListFormatTest {
 protected:
  void SetUp() override {
    TSlDocument doc;
    doc.SetFileName(list);
    for (const char* name : {"a.mp3", "b.mp3"}) {
      TSlSong song(nullptr, name, QString());  // stored relative to the list
      song.m_Tag1.SetTitle(QString("Title ") + name, false);
      song.m_FileAge = 1234;
      doc.InsertSong(song, -1);
    }
    ASSERT_TRUE(doc.Save(true));
    data = TSlDocument::DataFilePath(list);
    good = ReadFile(data);
  }
  void WriteData(const QByteArray& bytes) { WriteFile(data, bytes); }
  QString data;
  QByteArray good;
};

TEST_F(DataFileTest, CachedTagsComeBackWithoutTheMusicFiles) {
  Loaded l = LoadList(list);
  ASSERT_TRUE(l.ok);
  EXPECT_FALSE(l.doc->m_bModified);
  ASSERT_EQ(l.doc->m_Songs.size(), 2);
  EXPECT_EQ(l.doc->m_Songs[1].m_Tag1.GetTitle(), "Title b.mp3");
  EXPECT_EQ(l.doc->m_Songs[1].m_Tag1.m_DisplayName, "Unknown Artist - Title b.mp3");
  EXPECT_EQ(l.doc->m_Songs[1].m_FileAge, 1234);
  EXPECT_EQ(l.doc->m_Songs[1].m_Path, "b.mp3");  // stored relative to the list
  EXPECT_TRUE(ui.Messages().isEmpty());
}

TEST_F(DataFileTest, EveryFailureCodeShowsItsReason) {
  struct Case {
    QByteArray bytes;
    QString reason;
  };
  QByteArray badVersion = good;
  badVersion[3] = 2;
  QByteArray badRecord = good;
  badRecord.replace("a.mp3", "x.mp3");  // a record that belongs to another file
  const Case cases[] = {
      {"LB", "Ошибка формата файла"},
      {"XYZ\x01\0\0\0\0", "Ошибка формата файла"},
      {badVersion, "Неопознанная версия файла"},
      {good.left(6), "Файл повреждён"},
      {badRecord, "Ошибка загрузки файла"},
      {good.left(good.size() - 3), "Ошибка загрузки файла"},
      {good + good.mid(8), "Файл повреждён"},
  };
  for (const Case& c : cases) {
    ui.ClearMessages();
    WriteData(c.bytes);
    ui.Answer(IDNO);
    Loaded l = LoadList(list);
    EXPECT_FALSE(l.ok) << c.reason.toStdString();
    EXPECT_EQ(l.doc->m_Songs.size(), 0);
    ASSERT_EQ(ui.Messages().size(), 1) << c.reason.toStdString();
    EXPECT_EQ(ui.Messages()[0].text, DataQuestion(c.reason, data));
    EXPECT_EQ(ui.Messages()[0].flags, unsigned(MB_YESNO | MB_ICONQUESTION));
    EXPECT_TRUE(QFile::exists(data));  // No keeps the file
  }
}

TEST_F(DataFileTest, UnreadableDataFileIsCodeOne) {
  // Something that cannot be opened as a file stands in the data file's place (a pipe:
  // unlike a file without permissions, root cannot read it either).
  ASSERT_TRUE(QFile::remove(data));
  ASSERT_EQ(::mkfifo(QFile::encodeName(data).constData(), 0644), 0);
  ui.Answer(IDNO);
  EXPECT_FALSE(LoadList(list).ok);
  ASSERT_FALSE(ui.Texts().empty());
  EXPECT_EQ(ui.Texts().first(), DataQuestion("Ошибка открытия файла", data));
}

TEST_F(DataFileTest, FewerRecordsThanSongsOffersToTrashTheFile) {
  // The list gains a song without the data file knowing, and the data file's header
  // is made to claim the list's new age.
  WriteFile(list, ReadFile(list) + "c.mp3\r\n");
  QByteArray bytes = good;
  const int32_t age = lb::FileAge(list);
  std::memcpy(bytes.data() + 4, &age, 4);
  WriteData(bytes);

  ui.Answer(IDYES);
  Loaded l = LoadList(list);
  EXPECT_FALSE(l.ok);
  EXPECT_EQ(ui.Texts(), QStringList({DataQuestion("Файл повреждён", data),
                                     "Попробуйте открыть документ заново"}));
  EXPECT_FALSE(QFile::exists(data));
  QDir trash(lbtest::RunDir() + "/data/Trash/files");
  EXPECT_TRUE(trash.entryList(QDir::Files).filter("list").size() >= 1);

  // The next open works from the list alone.
  ui.ClearMessages();
  Loaded again = LoadList(list);
  EXPECT_TRUE(again.ok);
  EXPECT_EQ(again.doc->m_Songs.size(), 3);
}

TEST_F(DataFileTest, OutsideEditMergesCachedTags) {
  // Another program reorders the list, drops a song and adds one.
  WriteFile(list, "#EXTINF:5,new\r\nnew.mp3\r\nb.mp3\r\n");
  modeltest::TouchLater(list, 10);
  Loaded l = LoadList(list);
  ASSERT_TRUE(l.ok);
  ASSERT_EQ(l.doc->m_Songs.size(), 2);
  const TSlSong& fresh = l.doc->m_Songs[0];
  EXPECT_EQ(fresh.m_FileAge, kAgeNeverSynced);
  EXPECT_FALSE(fresh.m_Tag1.m_bExists);
  EXPECT_EQ(fresh.m_ExtInf, "#EXTINF:5,new");
  const TSlSong& kept = l.doc->m_Songs[1];
  EXPECT_EQ(kept.m_Tag1.GetTitle(), "Title b.mp3");
  EXPECT_EQ(kept.m_FileAge, 1234);
  EXPECT_EQ(kept.m_Path, "b.mp3");
  EXPECT_TRUE(l.doc->m_bModified);
  EXPECT_EQ(l.doc->m_M3uAge, lb::FileAge(list));
  EXPECT_TRUE(ui.Messages().isEmpty());
}

TEST_F(DataFileTest, ListMovedWithItsDataFileKeepsCachedTags) {
  QString other = lbtest::NewTempDir() + "/elsewhere";
  QDir().mkpath(other);
  ASSERT_TRUE(QFile::rename(list, other + "/list.m3u"));
  ASSERT_TRUE(QFile::rename(data, other + "/list.lbt"));
  Loaded l = LoadList(other + "/list.m3u");
  ASSERT_TRUE(l.ok);
  EXPECT_EQ(l.doc->m_Songs[0].m_Tag1.GetTitle(), "Title a.mp3");
  EXPECT_EQ(l.doc->m_Songs[0].GetPath(true), other + "/a.mp3");
}

TEST_F(DataFileTest, NoDataFileWrittenWhenTheSettingIsOff) {
  std::remove(QFile::encodeName(data).constData());
  {
    TSlDocument doc;
    doc.Ini().WriteBool("Settings", "UseDBFiles", false);
    doc.SetFileName(list);
    ASSERT_TRUE(doc.Load(true));
    ASSERT_TRUE(doc.Save(true));
    doc.Ini().EraseSection("Settings");
  }
  EXPECT_FALSE(QFile::exists(data));
}

TEST_F(ListFormatTest, GarbageNeverCrashesOrLosesTheList) {
  // Binary junk as a list loads as (odd) paths or fails; it never crashes.
  QByteArray junk;
  for (int i = 0; i < 20000; ++i) junk.append(char((i * 7919) % 251));
  WriteFile(list, junk);
  Loaded l = LoadList(list, true);
  (void)l;
  // Random data files of every length up to a few records.
  WriteFile(list, "a.mp3\r\nb.mp3\r\n");
  const QByteArray original = ReadFile(list);
  for (int len = 0; len < 300; len += 7) {
    QByteArray bytes = "LBT\x01" + QByteArray(4, '\0');
    for (int i = 0; i < len; ++i) bytes.append(char((i * 31 + len) % 256));
    WriteFile(dir + "/list.lbt", bytes);
    const int32_t age = lb::FileAge(list);
    std::memcpy(bytes.data() + 4, &age, 4);
    WriteFile(dir + "/list.lbt", bytes);
    Loaded g = LoadList(list, true);
    EXPECT_FALSE(g.ok && g.doc->m_Songs.size() != 2);
  }
  EXPECT_EQ(ReadFile(list), original);
}

TEST_F(ListFormatTest, FailedSaveKeepsThePreviousFiles) {
  Loaded l = Load("a.mp3\r\n");
  ASSERT_TRUE(l.ok);
  ASSERT_TRUE(l.doc->Save(true));
  const QByteArray before = ReadFile(list);
  l.doc->InsertSong(TSlSong(nullptr, "/x/b.mp3", QString()), -1);
  {
    lbtest::ReadOnlyFolder readOnly(dir);
    if (!readOnly.Ok()) GTEST_SKIP() << "no way to make a folder read-only here";
    EXPECT_FALSE(l.doc->Save(false));
  }
  ASSERT_FALSE(ui.Texts().empty());
  // The file and the cause follow the program's own words.
  EXPECT_EQ(ui.Texts().last(), "Не могу открыть файл для записи\n\"" + list +
                                   "\":\nНет прав доступа к файлу или папке.\n"
                                   "Прежний файл не изменён.");
  EXPECT_TRUE(l.doc->m_bModified);
  EXPECT_EQ(ReadFile(list), before);
}

TEST_F(ListFormatTest, UnwritableFolderReportsAndKeepsTheDocument) {
  TSlDocument doc;
  doc.SetFileName("/proc/lbtools-cannot-write/list.m3u");
  doc.InsertSong(TSlSong(nullptr, "/x/a.mp3", QString()), -1);
  EXPECT_FALSE(doc.Save(false));
  EXPECT_EQ(ui.Texts(), QStringList({"Не могу открыть файл для записи\n\"" + doc.m_FileName +
                                     "\":\nФайл или папка не найдены."}));
  EXPECT_TRUE(doc.m_bModified);
  EXPECT_EQ(doc.m_Songs.size(), 1);
}

// A list save killed half-way leaves only a hidden partial file beside the list,
// named for its writer; the next save in that folder removes it.
TEST_F(ListFormatTest, SaveKilledHalfWayLeavesAHiddenPartialThatTheNextSaveRemoves) {
  WriteFile(list, "a.mp3\r\n");
  const pid_t writer = ::fork();
  if (writer == 0) {
    lb::TWholeFileWriter file(list);
    if (file.Open()) file.Write("b.mp3\r\n");
    ::raise(SIGKILL);
  }
  ASSERT_GT(writer, 0);
  ::waitpid(writer, nullptr, 0);
  const QStringList left = QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
  ASSERT_EQ(left.size(), 2);
  EXPECT_TRUE(QRegularExpression("^\\.list\\.m3u\\.lbtools-" + QString::number(writer) + "-\\w{6}$")
                  .match(left[0])
                  .hasMatch())
      << left[0].toStdString();
  EXPECT_EQ(ReadFile(list), "a.mp3\r\n");

  Loaded l = LoadList(list);
  ASSERT_TRUE(l.ok);
  ASSERT_TRUE(l.doc->Save(true));
  EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name),
            (QStringList{"list.lbt", "list.m3u"}));
}

// Data files written when blank lines and "#" lines without "#EXT" were songs hold a
// record for each: their records find their songs by path, never by position.
TEST_F(DataFileTest, RecordsOfLinesOnceReadAsSongsFindTheirSongsByPath) {
  struct Case {
    QByteArray listText;
    QStringList rows;  // the songs the data file was written for
  };
  const Case cases[] = {
      {"a.mp3\r\n\r\nb.mp3\r\n", {"a.mp3", "", "b.mp3"}},
      {"a.mp3\r\n# note\r\nb.mp3\r\n", {"a.mp3", "# note", "b.mp3"}},
      {"a.mp3\r\nb.mp3\r\n\r\n", {"a.mp3", "b.mp3", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.listText.toStdString());
    WriteFile(list, c.listText);
    TSlDocument old;
    old.SetFileName(list);
    for (const QString& row : c.rows) {
      TSlSong song(nullptr, row, QString());
      song.m_Tag1.SetTitle("Title " + row, false);
      old.InsertSong(song, -1);
    }
    old.m_M3uAge = lb::FileAge(list);
    ASSERT_TRUE(old.SaveData(data, true));

    Loaded l = LoadList(list);
    ASSERT_TRUE(l.ok);
    EXPECT_TRUE(ui.Messages().isEmpty());
    ASSERT_EQ(Paths(*l.doc), QStringList({"a.mp3", "b.mp3"}));
    EXPECT_EQ(l.doc->m_Songs[0].m_Tag1.GetTitle(), "Title a.mp3");
    EXPECT_EQ(l.doc->m_Songs[1].m_Tag1.GetTitle(), "Title b.mp3");
    EXPECT_TRUE(l.doc->m_bModified);  // the data file is written anew
  }
}

}  // namespace

namespace {

// A group line at the top belongs to the list unless the songs carry groups of their
// own before their "#EXTINF" lines (a player that groups every entry); a line of form
// feeds or other white space is no song either.
TEST_F(ListFormatTest, TopGroupIsTheFirstSongsWhenEverySongHasOne) {
  Loaded l =
      Load("#EXTM3U\n#EXTGRP:Rock\n#EXTINF:1,D\nd.mp3\n\f\x0b\n#EXTGRP:Pop\n#EXTINF:1,C\nc.mp3\n");
  ASSERT_TRUE(l.ok);
  EXPECT_EQ(Paths(*l.doc), QStringList({"d.mp3", "c.mp3"}));
  EXPECT_EQ(l.doc->m_ExtM3uHeader, "#EXTM3U");
  EXPECT_EQ(l.doc->m_Songs[0].m_ExtInf, "#EXTGRP:Rock\n#EXTINF:1,D");

  Loaded wide = Load("#EXTM3U\n#EXTGRP:All\n#EXTINF:1,D\nd.mp3\n#EXTINF:1,C\n#EXTGRP:Pop\nc.mp3\n");
  ASSERT_TRUE(wide.ok);
  EXPECT_EQ(wide.doc->m_ExtM3uHeader, "#EXTM3U\n#EXTGRP:All");
  EXPECT_EQ(wide.doc->m_Songs[0].m_ExtInf, "#EXTINF:1,D");
}

}  // namespace

// A job the user stopped (or a termination signal stopped) still saves the lists it
// changed: the stop ends the job, never the save of what the job has done.
TEST_F(ListFormatTest, AStopAskedOfTheJobAroundASaveDoesNotCutTheSave) {
  Loaded l = Load("a.mp3\r\n");
  ASSERT_TRUE(l.ok);
  l.doc->m_Songs.push_back(std::make_unique<TSlSong>(l.doc.get(), "/music/b.mp3", QString()));
  TInfoWindowLevel job("Переименование", QString(), true);
  InfoWindowManager().m_bStop = true;
  EXPECT_TRUE(l.doc->Save(true));
  EXPECT_EQ(ReadFile(list), "a.mp3\r\n/music/b.mp3\r\n");
  EXPECT_TRUE(InfoWindowManager().m_bStop);  // the job still sees its stop
}

// A list folder copied with new file times (cp -r): the list's age no longer matches, and
// its relative songs resolve under the new folder; each still takes its own record,
// never that of a song whose folder name merely ends the same way.
TEST_F(ListFormatTest, CopiedListFolderKeepsTheTagsOfRelativeSongs) {
  TSlDocument doc;
  doc.SetFileName(list);
  for (const char* name : {"ax/s.mp3", "x/s.mp3"}) {
    TSlSong song(nullptr, name, QString());
    song.m_Tag1.SetTitle(name, false);
    doc.InsertSong(song, -1);
  }
  ASSERT_TRUE(doc.Save(true));
  const QString copy = lbtest::NewTempDir() + "/copy.m3u";
  WriteFile(copy, ReadFile(list));
  WriteFile(TSlDocument::DataFilePath(copy), ReadFile(TSlDocument::DataFilePath(list)));
  modeltest::TouchLater(copy, 10);

  Loaded l = LoadList(copy);
  ASSERT_TRUE(l.ok);
  ASSERT_EQ(l.doc->m_Songs.size(), 2);
  EXPECT_EQ(l.doc->m_Songs[0].m_Tag1.GetTitle(), "ax/s.mp3");
  EXPECT_EQ(l.doc->m_Songs[1].m_Tag1.GetTitle(), "x/s.mp3");
}

// A list with a second name (a hard link, such as a player's copy) is saved into its
// own inode, so both names show the new list. A save whose write fails, reported or
// killed half-way, leaves the old list at both names (put back by the next load).
TEST_F(ListFormatTest, AListWithAnotherNameIsSavedIntoItsOwnInode) {
  const QString other = dir + "/player.m3u";
  const QByteArray old = "a.mp3\r\n";
  TSlDocument doc;
  doc.SetFileName(list);
  for (int n = 0; n < 300; ++n)
    doc.InsertSong(TSlSong(nullptr, QString("song-%1.mp3").arg(n), QString()), -1);
  auto inode = [](const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_ino;
  };
  for (const bool bKilled : {false, true}) {
    WriteFile(list, old);
    QFile::remove(other);
    ASSERT_EQ(::link(QFile::encodeName(list).constData(), QFile::encodeName(other).constData()), 0);
    const pid_t writer = ::fork();
    if (writer == 0) {
      // A write past 2 KB fails: reported while SIGXFSZ is ignored, else the signal kills.
      ::signal(SIGXFSZ, bKilled ? SIG_DFL : SIG_IGN);
      const rlimit limit{2048, 2048};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      ::_exit(doc.Save(true) ? 0 : 1);
    }
    ASSERT_GT(writer, 0);
    int status = 0;
    ::waitpid(writer, &status, 0);
    EXPECT_TRUE(bKilled ? WIFSIGNALED(status) : WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_EQ(Paths(*LoadList(other).doc), QStringList{"a.mp3"}) << bKilled;
    EXPECT_EQ(ReadFile(list), old);
  }
  const auto before = inode(list);
  ASSERT_TRUE(doc.Save(true));
  EXPECT_EQ(inode(list), before);
  EXPECT_EQ(Paths(*LoadList(other).doc).size(), 300);
}

// A list file another program changed or replaced since the document read or wrote it
// is written over only when the user says so, and its data file follows the answer.
// The document's own writes (also into a hard-linked list's inode and through a
// symbolic link) are never taken for another program's.
TEST_F(ListFormatTest, AListChangedByAnotherProgramIsWrittenOverOnlyWhenTheUserSays) {
  enum Form { Plain, HardLinked, SymbolicLink };
  for (const Form form : {Plain, HardLinked, SymbolicLink}) {
    SCOPED_TRACE(form);
    const QString folder = dir + "/" + QString::number(form), file = folder + "/list.m3u";
    ASSERT_TRUE(WriteFile(file, "a.mp3\r\n"));
    const QString path = form == SymbolicLink ? folder + "/link.m3u" : file;
    const QString other = form == HardLinked ? folder + "/player.m3u" : file;
    if (form == HardLinked) {
      ASSERT_EQ(::link(QFile::encodeName(file).constData(), QFile::encodeName(other).constData()),
                0);
    }
    if (form == SymbolicLink) {
      ASSERT_TRUE(QFile::link(file, path));
    }
    Loaded l = LoadList(path);
    ASSERT_TRUE(l.ok);
    TSlDocument& doc = *l.doc;
    for (const char* song : {"b.mp3", "c.mp3"}) {
      doc.InsertSong(TSlSong(nullptr, song, QString()), -1);
      ASSERT_TRUE(doc.Save(false));
    }
    EXPECT_TRUE(ui.Messages().isEmpty());
    const QString data = TSlDocument::DataFilePath(path);
    const QByteArray ours = ReadFile(file), ourData = ReadFile(data);
    QByteArray theirs = ours;
    theirs.replace("b.mp3", "x.mp3");
    if (form == Plain) {
      // Replaced by another file of the same size and age: only its identity differs.
      struct stat st {};
      ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
      ASSERT_TRUE(WriteFile(folder + "/new", theirs));
      const timespec times[2] = {st.st_atim, st.st_mtim};
      ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(folder + "/new").constData(), times, 0), 0);
      ASSERT_EQ(::rename(QFile::encodeName(folder + "/new").constData(),
                         QFile::encodeName(file).constData()),
                0);
    } else {
      ASSERT_TRUE(WriteFile(other, theirs));  // in place, then a later age
      modeltest::TouchLater(file, 10);
    }
    doc.SetModified();
    ui.Answer(IDNO);
    EXPECT_FALSE(doc.Save(false));
    EXPECT_EQ(ReadFile(file), theirs);
    EXPECT_EQ(ReadFile(data), ourData);
    EXPECT_TRUE(doc.m_bModified);
    ui.Answer(IDYES);
    EXPECT_TRUE(doc.Save(false));
    EXPECT_EQ(ReadFile(file), ours);
    EXPECT_TRUE(doc.Save(false));
    EXPECT_EQ(ui.Texts(), QStringList(2, "Лист\n\"" + path +
                                             "\"\nизменён другой программой после открытия.\n"
                                             "Записать поверх изменений?"));
    ui.ClearMessages();
  }
}
