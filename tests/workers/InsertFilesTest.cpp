// Inserting files, folders and lists: the extension text, classification, symbolic
// links as shortcuts, lists met once, the questions and their answers, Stop and
// Cancel, and bad input that must neither crash nor hang.
#include "TestEnv.h"
#include "lbtools3/model/SlInsertFilesManager.h"
#include "lbtools3/model/InfoWindowManager.h"
#include "platform/IniFile.h"
#include "platform/ScriptedUiServices.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

void Touch(const QString& path) {
  ASSERT_TRUE(lbtest::WriteFile(path, "x"));
}
void Link(const QString& target, const QString& link) {
  ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()),
            0);
}

QStringList Paths(const TSlSongVector& songs) {
  QStringList paths;
  for (const TSlSong& s : songs) paths << s.m_Path;
  paths.sort();
  return paths;
}

int CountStarting(const ScriptedUiServices& ui, const QString& prefix) {
  int n = 0;
  for (const QString& t : ui.Texts()) n += t.startsWith(prefix) ? 1 : 0;
  return n;
}

const QString kListQuestion = "Найден лист ";
const QString kLinkQuestion = "Во время сканирования обнаружен ярлык, указывающий на папку\n";

class FakeRepository : public IInsertListRepository {
 public:
  bool IsListKnown(const QString& path) override { return known.contains(path); }
  void AddList(const QString& path) override { added << path; }
  QStringList known, added;
};

class InsertFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = lbtest::NewTempDir();
    TIniFile ini(lb::SettingsFilePath());
    ini.EraseSection("Edit");
    ini.EraseSection("Settings");
  }
  ScriptedUiServices ui;
  QString dir;
};

// ---- the extension text ----

TEST(InsertExtensions, DefaultAndEdgeTexts) {
  TSlInsertFilesManager def{QString(TSlInsertFilesManager::kDefaultExtensions)};
  ASSERT_FALSE(def.BadExtensions());
  ASSERT_EQ(def.GetExtensionCount(), 14);
  EXPECT_EQ(def.GetExtension(0), ".mp3");
  EXPECT_EQ(def.GetExtension(1), ".flac");
  EXPECT_EQ(def.GetExtension(13), ".wav");

  TSlInsertFilesManager runs{QString(" ,mp3 ,, ,  ogg,")};
  EXPECT_EQ(runs.m_Extensions, (QStringList{".mp3", ".ogg"}));

  TSlInsertFilesManager semi{QString("mp3;ogg")};
  ASSERT_EQ(semi.GetExtensionCount(), 1);
  EXPECT_EQ(semi.GetExtension(0), ".mp3;ogg");

  for (const char* bad :
       {"mp3, *.ogg", "mp3, .wav", "a/b", "x?", "x\"", "x<", "x>", "x|y", "x\\y"}) {
    TSlInsertFilesManager m{QString(bad)};
    EXPECT_TRUE(m.BadExtensions()) << bad;
    EXPECT_EQ(m.GetExtensionCount(), 0) << bad;
    EXPECT_EQ(m.GetExtension(0), "") << bad;
  }
}

TEST_F(InsertFilesTest, SettingsChooseExtensionsAndLinks) {
  TIniFile ini(lb::SettingsFilePath());
  ini.WriteString("Edit", "Extentions", "OGG");
  ini.WriteBool("Settings", "ScanUseLinks", false);
  Touch(dir + "/a.ogg");
  Touch(dir + "/b.Ogg");
  Touch(dir + "/c.mp3");
  Touch(dir + "/ogg");
  Link(dir + "/a.ogg", dir + "/link.ogg");
  TSlInsertFilesManager m(QStringList{});
  EXPECT_FALSE(m.m_bScanUseLinks);
  ASSERT_TRUE(m.ScanFolder(dir));
  EXPECT_EQ(Paths(m.m_FoundSongs), (QStringList{dir + "/a.ogg", dir + "/b.Ogg"}))
      << "links are not followed without ScanUseLinks";
}

// ---- scanning and links ----

TEST_F(InsertFilesTest, ScanCollectsMusicRecursivelyWithProgress) {
  Touch(dir + "/a.mp3");
  Touch(dir + "/notes.txt");
  Touch(dir + "/sub/deeper/b.WAV");
  Touch(dir + "/sub/c.mp3");
  TSlInsertFilesManager m(QStringList{});
  ASSERT_TRUE(m.ScanFolder(dir + "/"));
  EXPECT_EQ(Paths(m.m_FoundSongs),
            (QStringList{dir + "/a.mp3", dir + "/sub/c.mp3", dir + "/sub/deeper/b.WAV"}));
  for (const TSlSong& s : m.m_FoundSongs) {
    EXPECT_EQ(s.m_Parent, nullptr);
    EXPECT_EQ(s.m_FileAge, kAgeNeverSynced);
  }
  ASSERT_EQ(ui.Progress().size(), 1u);
  ASSERT_FALSE(ui.Progress()[0].actions.empty());
  EXPECT_EQ(ui.Progress()[0].actions.first(), "Сканирование папки");
  EXPECT_EQ(ui.Progress()[0].line, "Песен найдено: 3");
  EXPECT_EQ(InfoWindowManager().Depth(), 0);
}

TEST_F(InsertFilesTest, FolderEntriesComeInNameOrderWithoutCaseAndNumbersByValue) {
  const QStringList names = {"2 a.mp3",        "10 b.mp3",      "Alpha.mp3",
                             "beta.mp3",       "mixed/e 9.mp3", "mixed/\u00e9 10.mp3",
                             "mixed/E 11.mp3", "Sub/x.mp3",     "\u0430.mp3",
                             "\u0411.mp3"};
  // Created in another order than the expected one, so the file system's own order
  // is unlikely to match by chance.
  for (qsizetype n = names.size() - 1; n >= 0; --n) Touch(dir + "/" + names[n]);
  TSlInsertFilesManager m(QStringList{});
  ASSERT_TRUE(m.ScanFolder(dir));
  QStringList found;
  for (const TSlSong& s : m.m_FoundSongs) found << s.m_Path.mid(dir.size() + 1);
  EXPECT_EQ(found, names);
}

TEST_F(InsertFilesTest, FileThroughALinkIsNotCollectedTwiceButDirectlyItIs) {
  Touch(dir + "/music/song.mp3");
  Link("../music/song.mp3", dir + "/links.mp3");  // dangling on purpose: relative to dir
  QDir().mkpath(dir + "/z");
  Link("../music/song.mp3", dir + "/z/link.mp3");
  Link(dir + "/z/link.mp3", dir + "/z/chain.mp3");
  TSlInsertFilesManager m(QStringList{dir + "/music/song.mp3", dir + "/z/link.mp3",
                                      dir + "/z/chain.mp3", dir + "/music/song.mp3",
                                      dir + "/links.mp3"});
  ASSERT_TRUE(m.InsertFromDrop());
  EXPECT_EQ(Paths(m.m_FoundSongs), (QStringList{dir + "/music/song.mp3", dir + "/music/song.mp3"}));
}

TEST_F(InsertFilesTest, LinkedFileFirstIsCollectedUnderItsTarget) {
  Touch(dir + "/real/song.mp3");
  QDir().mkpath(dir + "/l");
  Link(dir + "/real/song.mp3", dir + "/l/any name");
  TSlInsertFilesManager m(QStringList{dir + "/l/any name"});
  ASSERT_TRUE(m.InsertFromDrop());
  EXPECT_EQ(Paths(m.m_FoundSongs), QStringList{dir + "/real/song.mp3"});
}

TEST_F(InsertFilesTest, DroppedFolderLinkIsScannedWithoutAQuestion) {
  Touch(dir + "/target/a.mp3");
  Link(dir + "/target", dir + "/folderlink");
  TSlInsertFilesManager m(QStringList{dir + "/folderlink"});
  ASSERT_TRUE(m.InsertFromDrop());
  EXPECT_EQ(Paths(m.m_FoundSongs), QStringList{dir + "/target/a.mp3"});
  EXPECT_TRUE(ui.Messages().isEmpty());
  ASSERT_FALSE(ui.Progress().empty());
  ASSERT_FALSE(ui.Progress()[0].actions.empty());
  EXPECT_EQ(ui.Progress()[0].actions.first(), "Вставка файлов...");
}

TEST_F(InsertFilesTest, FolderLinkMetInAScanIsAskedAbout) {
  Touch(dir + "/other/a.mp3");
  Touch(dir + "/third/b.mp3");
  Touch(dir + "/scan/c.mp3");
  Link(dir + "/other", dir + "/scan/l1");
  TSlInsertFilesManager yes(QStringList{});
  ui.Answer(IDYES);
  ASSERT_TRUE(yes.ScanFolder(dir + "/scan"));
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(ui.Messages()[0].text, kLinkQuestion + "\"" + dir + "/other\"\nПроверить её ?");
  EXPECT_EQ(ui.Messages()[0].flags,
            unsigned(abYes | abNo | abNoToAll) | (unsigned(MB_ICONQUESTION) << 16));
  EXPECT_EQ(Paths(yes.m_FoundSongs), (QStringList{dir + "/other/a.mp3", dir + "/scan/c.mp3"}));

  // No-to-all: the next folder links are not asked about.
  Link(dir + "/third", dir + "/scan/l2");
  ui.ClearMessages();
  ui.Answer(IDNOTOALL);
  TSlInsertFilesManager no(QStringList{});
  ASSERT_TRUE(no.ScanFolder(dir + "/scan"));
  EXPECT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(Paths(no.m_FoundSongs), QStringList{dir + "/scan/c.mp3"});
}

TEST_F(InsertFilesTest, LinksBackToAnAncestorAreNotFollowedAgain) {
  Touch(dir + "/top/a.mp3");
  Link(dir + "/top", dir + "/top/up");
  QDir().mkpath(dir + "/top/sub");
  Link("..", dir + "/top/sub/parent");
  TSlInsertFilesManager m(QStringList{});
  ASSERT_TRUE(m.ScanFolder(dir + "/top"));
  EXPECT_TRUE(ui.Messages().isEmpty()) << "known folders are not offered";
  EXPECT_EQ(Paths(m.m_FoundSongs).size(), 1);
}

// ---- lists ----

TEST_F(InsertFilesTest, ListMetDirectlyAndThroughALinkIsAskedOnce) {
  Touch(dir + "/lists/a.m3u");
  Link(dir + "/lists/a.m3u", dir + "/lists/b.m3u");
  QDir().mkpath(dir + "/more");
  Link("../lists/a.m3u", dir + "/more/c");
  TSlInsertFilesManager m(QStringList{dir + "/lists", dir + "/more"});
  ui.Answer(IDNO);
  ASSERT_TRUE(m.InsertFromDrop());
  EXPECT_EQ(CountStarting(ui, kListQuestion), 1);
  EXPECT_EQ(ui.Messages()[0].text,
            kListQuestion + "\"" + dir + "/lists/a.m3u\"\nДобавить его содержимое ?");
  EXPECT_EQ(ui.Messages()[0].flags, unsigned(abYes | abNo | abCancel | abNoToAll | abYesToAll) |
                                        (unsigned(MB_ICONQUESTION) << 16));
}

TEST_F(InsertFilesTest, ListContentsAreTakenInWithFullPaths) {
  Touch(dir + "/songs/x.mp3");
  ASSERT_TRUE(lbtest::WriteFile(dir + "/songs/list.m3u", "x.mp3\r\ny.mp3\r\n"));
  TSlInsertFilesManager m(QStringList{dir + "/songs/list.m3u"});
  ui.Answer(IDYESTOALL);
  ASSERT_TRUE(m.InsertFromDrop());
  EXPECT_TRUE(m.m_bYesToAllLists);
  EXPECT_EQ(Paths(m.m_FoundSongs), (QStringList{dir + "/songs/x.mp3", dir + "/songs/y.mp3"}));
  for (const TSlSong& s : m.m_FoundSongs) EXPECT_EQ(s.m_Parent, nullptr);
}

TEST_F(InsertFilesTest, ListThatFailsToLoadIsReportedAndTheScanGoesOn) {
  Touch(dir + "/a/bad.m3u");
  ASSERT_TRUE(lbtest::WriteFile(dir + "/a/bad.lbt", "garbage, not a data file"));
  Touch(dir + "/a/z.mp3");
  TSlInsertFilesManager m(QStringList{});
  ui.Answer(IDYES);
  ASSERT_TRUE(m.ScanFolder(dir + "/a"));
  ASSERT_FALSE(ui.Texts().empty());
  EXPECT_EQ(ui.Texts().last(), "Ошибка загрузки листа\n\"" + dir +
                                   "/a/bad.m3u\".\nДля получения более подробной информацииоб "
                                   "ошибке\nпопробуйте открыть лист обычным способом.");
  EXPECT_EQ(ui.Messages().last().flags, unsigned(MB_OK | MB_ICONERROR));
  EXPECT_EQ(Paths(m.m_FoundSongs), QStringList{dir + "/a/z.mp3"});
}

TEST_F(InsertFilesTest, RepositoryQuestionAndItsTwoButtonSets) {
  Touch(dir + "/r/one.m3u");
  Touch(dir + "/r/two.m3u");
  Touch(dir + "/r/known.m3u");
  Touch(dir + "/r/song.mp3");
  FakeRepository repo;
  repo.known << dir + "/r/known.m3u";

  TSlInsertFilesManager lists(QStringList{});
  lists.m_Mode = imLists;
  lists.m_Repository = &repo;
  ui.Answer(IDYESTOALL);
  ASSERT_TRUE(lists.ScanFolder(dir + "/r"));
  EXPECT_TRUE(lists.m_FoundSongs.empty()) << "mode 1 collects no songs";
  ASSERT_EQ(ui.Messages().size(), 1) << ui.Texts().join("|").toStdString();
  EXPECT_TRUE(ui.Messages()[0].text.startsWith("Лист \"" + dir + "/r/"));
  EXPECT_TRUE(ui.Messages()[0].text.endsWith("\"\nотсутствует в хранилище. Добавить ?"));
  EXPECT_EQ(ui.Messages()[0].flags & 0xFFFF, unsigned(abYes | abNo | abCancel | abYesToAll));
  repo.added.sort();
  EXPECT_EQ(repo.added, (QStringList{dir + "/r/one.m3u", dir + "/r/two.m3u"}));

  ui.ClearMessages();
  repo.added.clear();
  TSlInsertFilesManager insert(QStringList{});
  insert.m_Repository = &repo;
  insert.m_bNoToAllLists = true;
  ui.Answer(IDNOTOALL);
  ASSERT_TRUE(insert.ScanFolder(dir + "/r"));
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(ui.Messages()[0].flags & 0xFFFF,
            unsigned(abYes | abNo | abCancel | abYesToAll | abNoToAll));
  EXPECT_TRUE(repo.added.isEmpty());
  EXPECT_EQ(insert.m_FoundSongs.size(), 1u);
}

// ---- forgotten files ----

class FakeSink : public IForgottenFilesSink {
 public:
  bool IsKnownPath(const QString& path) override { return known.contains(path); }
  void AddSong(const TSlSong& song) override { added << song.m_Path; }
  QStringList known, added;
};

TEST_F(InsertFilesTest, ForgottenFilesModeReportsOnlyUnknownFiles) {
  Touch(dir + "/f/known.mp3");
  Touch(dir + "/f/lost.mp3");
  Touch(dir + "/f/list.m3u");
  FakeSink sink;
  sink.known << dir + "/f/known.mp3";
  TSlInsertFilesManager m(QStringList{});
  m.m_Mode = imForgotten;
  m.m_DeadFilesDlg = &sink;
  ASSERT_TRUE(m.ScanFolder(dir + "/f"));
  EXPECT_EQ(sink.added, QStringList{dir + "/f/lost.mp3"});
  EXPECT_TRUE(m.m_FoundSongs.empty());
  EXPECT_TRUE(ui.Messages().isEmpty()) << "lists do not matter here";
}

// ---- Cancel and Stop ----

TEST_F(InsertFilesTest, CancelEndsWithFalseAndKeepsTheSongs) {
  Touch(dir + "/c/a.mp3");
  Touch(dir + "/c/l.m3u");
  TSlInsertFilesManager first(QStringList{dir + "/c/a.mp3", dir + "/c/l.m3u", dir + "/c"});
  ui.Answer(IDCANCEL);
  EXPECT_FALSE(first.InsertFromDrop());
  EXPECT_EQ(Paths(first.m_FoundSongs), QStringList{dir + "/c/a.mp3"});
  EXPECT_EQ(InfoWindowManager().Depth(), 0);
}

TEST_F(InsertFilesTest, StopEndsWithFalseAndKeepsTheSongs) {
  for (int i = 0; i < 50; ++i)
    Touch(dir + "/s/sub" + QString::number(i % 5) + "/" + QString::number(i) + ".mp3");
  TSlInsertFilesManager m(QStringList{});
  ui.StopAfterProcessMessages(1);
  EXPECT_FALSE(m.ScanFolder(dir + "/s"));
  EXPECT_GE(m.m_FoundSongs.size(), 1u);
  EXPECT_LT(m.m_FoundSongs.size(), 50u);
  EXPECT_EQ(InfoWindowManager().Depth(), 0);
}

// ---- bad input ----

TEST_F(InsertFilesTest, BadEntriesAreSkippedWithoutHangs) {
  Touch(dir + "/b/ok.mp3");
  Link(dir + "/b/nothing.mp3", dir + "/b/dangling.mp3");
  Link(dir + "/b/loop2", dir + "/b/loop1");
  Link(dir + "/b/loop1", dir + "/b/loop2");
  Link("self", dir + "/b/self");
  QDir().mkpath(dir + "/b/closed");
  Touch(dir + "/b/closed/hidden.mp3");
  QFile::setPermissions(dir + "/b/closed", QFileDevice::Permissions());
  TSlInsertFilesManager m(
      QStringList{dir + "/b", dir + "/b/loop1", dir + "/missing.mp3", dir + "/b/dangling.mp3"});
  EXPECT_TRUE(m.InsertFromDrop());
  QFile::setPermissions(dir + "/b/closed",
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  QStringList found = Paths(m.m_FoundSongs);
  if (::geteuid() == 0) found.removeAll(dir + "/b/closed/hidden.mp3");  // root reads anything
  EXPECT_EQ(found, QStringList{dir + "/b/ok.mp3"});
  // The folder that did not open is told about (root opens it).
  EXPECT_EQ(ui.Messages().size(), ::geteuid() == 0 ? 0 : 1);
  EXPECT_EQ(m.Classify(dir + "/b/dangling.mp3", true), pkUnreadable);
  EXPECT_EQ(m.Classify(dir + "/b/loop1", false), pkUnreadable);
}

// A name in Windows-1251 bytes is no UTF-8 text: it never enters a list as a broken
// path; the user is told which folder holds how many. A folder whose name ends in a
// cut-short sequence counts too (it was once taken as text and vanished unreported).
TEST_F(InsertFilesTest, NamesThatAreNotUtf8AreSkippedAndCounted) {
  Touch(dir + "/ok.mp3");
  const QByteArray native = QFile::encodeName(dir);
  const int fd =
      ::open((native + "/\xcf\xe5\xf1\xed\xff.mp3").constData(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ::close(fd);
  ASSERT_EQ(::mkdir((native + "/\xd0\x90\xd0").constData(), 0755), 0);
  TSlInsertFilesManager m(QStringList{});
  ASSERT_TRUE(m.ScanFolder(dir));
  EXPECT_EQ(Paths(m.m_FoundSongs), QStringList{dir + "/ok.mp3"});
  ASSERT_EQ(ui.Texts().size(), 1);
  EXPECT_TRUE(ui.Texts()[0].contains(dir)) << ui.Texts()[0].toStdString();
  EXPECT_TRUE(ui.Texts()[0].contains(": 2.")) << ui.Texts()[0].toStdString();
}

// A link the user declined to follow leaves its folder to the scan: reached by its own
// path it is scanned, and other links to it are not asked about again.
TEST_F(InsertFilesTest, DeclinedFolderLinkLeavesTheRealFolderToTheScan) {
  Touch(dir + "/scan/z-real/a.mp3");
  Link(dir + "/scan/z-real", dir + "/scan/a-link");
  Link(dir + "/scan/z-real", dir + "/scan/b-link");
  for (int answer : {IDNO, IDNOTOALL}) {
    ui.ClearMessages();
    ui.Answer(answer);
    TSlInsertFilesManager m(QStringList{});
    ASSERT_TRUE(m.ScanFolder(dir + "/scan"));
    EXPECT_EQ(CountStarting(ui, kLinkQuestion), 1) << answer;
    EXPECT_EQ(Paths(m.m_FoundSongs), QStringList{dir + "/scan/z-real/a.mp3"}) << answer;
  }
}

// Takes from the calling thread root's power to read past permissions, for the life of
// the object, so a closed folder stays closed to the scan.
class PermissionsHold {
 public:
  PermissionsHold() {
    if (::syscall(SYS_capget, &m_Header, m_Saved) != 0) return;
    __user_cap_data_struct held[2] = {m_Saved[0], m_Saved[1]};
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
      held[cap / 32].effective &= ~(1u << (cap % 32));
    m_bSet = ::syscall(SYS_capset, &m_Header, held) == 0;
  }
  ~PermissionsHold() {
    if (m_bSet) ::syscall(SYS_capset, &m_Header, m_Saved);
  }

 private:
  __user_cap_header_struct m_Header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct m_Saved[2]{};
  bool m_bSet = false;
};

// What the scan cannot take is counted and told in one warning, and the scan does not
// pass for a clean one: a folder that does not open, a song deeper than the longest
// path the system takes, a name that is not UTF-8.
TEST_F(InsertFilesTest, SkippedEntriesAreCountedInOneWarning) {
  Touch(dir + "/ok.mp3");
  Touch(dir + "/closed/hidden.mp3");
  QString deep = dir;
  while (deep.size() < 3850) deep += "/" + QString(200, u'd');
  ASSERT_TRUE(QDir().mkpath(deep));
  const QByteArray longName(250, 's');
  const int deepFd = ::open(QFile::encodeName(deep).constData(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(deepFd, 0);
  ASSERT_EQ(::mkdirat(deepFd, longName.constData(), 0755), 0);
  const int subFd = ::openat(deepFd, longName.constData(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(subFd, 0);
  ::close(::openat(subFd, "song.mp3", O_CREAT | O_WRONLY, 0644));
  const int badFd = ::open((QFile::encodeName(dir) + "/\xcf\xe5\xf1\xed\xff.mp3").constData(),
                           O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(badFd, 0);
  ::close(badFd);
  QFile::setPermissions(dir + "/closed", QFileDevice::Permissions());

  TSlInsertFilesManager m(QStringList{});
  bool complete;
  {
    PermissionsHold hold;
    complete = m.ScanFolder(dir);
  }
  QFile::setPermissions(dir + "/closed",
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  ::unlinkat(subFd, "song.mp3", 0);
  ::close(subFd);
  ::unlinkat(deepFd, longName.constData(), AT_REMOVEDIR);
  ::close(deepFd);

  EXPECT_TRUE(complete) << "nothing stopped the scan";
  EXPECT_EQ(Paths(m.m_FoundSongs), QStringList{dir + "/ok.mp3"});
  EXPECT_EQ(m.SkippedCount(), 3);
  ASSERT_EQ(ui.Texts().size(), 1);
  const QString text = ui.Texts()[0];
  for (const QString& part :
       {"Не открылась папка \"" + dir + "/closed\": нет прав доступа к файлу или папке.",
        "В папке \"" + deep + "\" слишком длинных путей: 1.",
        "В папке \"" + dir + "\" имён не в кодировке UTF-8: 1."})
    EXPECT_TRUE(text.contains(part)) << text.toStdString();
}

// The skip warning is told inside a job: a termination signal then answers it and waits
// for the job's end, so the songs found are still added before the program closes.
TEST_F(InsertFilesTest, TheSkipWarningIsToldInsideAJob) {
  struct DepthAtMessage : ScriptedUiServices {
    int depth = -1;
    int MessageBox(const QString& text, const QString& caption, unsigned flags) override {
      depth = InfoWindowManager().Depth();
      return ScriptedUiServices::MessageBox(text, caption, flags);
    }
  } seen;
  Touch(dir + "/ok.mp3");
  const int fd =
      ::open((QFile::encodeName(dir) + "/\xcf\xe5.mp3").constData(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ::close(fd);
  TSlInsertFilesManager m(QStringList{});
  ASSERT_TRUE(m.ScanFolder(dir));
  ASSERT_EQ(seen.Texts().size(), 1);
  EXPECT_GT(seen.depth, 0);
}

// A name with a line break cannot be a list line (it would read back as two songs): a
// scan, a drop and a link leave it out and say so, and a list that holds one anyway is
// not written, its old file kept whole.
TEST_F(InsertFilesTest, NamesWithALineBreakNeverEnterAList) {
  Touch(dir + "/ok.mp3");
  for (const char* name : {"/new\nline.mp3", "/cr\rname.mp3", "/folder\nname/a.mp3"})
    Touch(dir + name);
  Link(dir + "/new\nline.mp3", dir + "/link.mp3");
  const QString bare = "Имя с переводом строки: \"" + dir;
  const struct {
    QStringList dropped;
    QString line;
  } cases[] = {
      {{dir}, "В папке \"" + dir + "\" имён с переводом строки: 3."},
      {{dir + "/cr\rname.mp3", dir + "/ok.mp3"}, bare + "/cr\rname.mp3\"."},
      {{dir + "/link.mp3", dir + "/ok.mp3"}, bare + "/new\nline.mp3\"."},
      {{dir + "/folder\nname", dir + "/ok.mp3"}, bare + "/folder\nname\"."},
  };
  for (const auto& c : cases) {
    ui.ClearMessages();
    TSlInsertFilesManager m(c.dropped);
    ASSERT_TRUE(m.InsertFromDrop());
    const std::string what = c.dropped.first().toStdString();
    EXPECT_EQ(Paths(m.m_FoundSongs), QStringList{dir + "/ok.mp3"}) << what;
    ASSERT_EQ(ui.Texts().size(), 1) << what;
    EXPECT_TRUE(ui.Texts()[0].contains(c.line)) << ui.Texts()[0].toStdString();
  }

  const QString list = dir + "/kept.m3u";
  ASSERT_TRUE(lbtest::WriteFile(list, "/m/a.mp3\r\n"));
  TSlDocument doc;
  doc.SetFileName(list);
  doc.InsertSong(TSlSong(nullptr, dir + "/new\nline.mp3", QString()), -1);
  ui.ClearMessages();
  EXPECT_FALSE(doc.Save(false));
  EXPECT_EQ(lbtest::ReadFile(list), "/m/a.mp3\r\n");
  ASSERT_EQ(ui.Texts().size(), 1);
  EXPECT_TRUE(ui.Texts()[0].startsWith("Имя с переводом строки не может быть записано в лист"));
}

}  // namespace
