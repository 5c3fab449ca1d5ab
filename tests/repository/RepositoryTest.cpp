// The list repository: key encoding, which keys are lists, row order and numbers, the
// settings it writes and deletes, document windows through their interface, start-up
// with and without the shell switch, bulk selection, the user's open action and the
// folder scan.
#include "NullDocumentWindow.h"
#include "TestEnv.h"
#include "lbtools3/repository/Repository.h"
#include "lbtools3/model/M3uList.h"
#include "platform/IniFile.h"
#include "platform/ScriptedUiServices.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSet>
#include <QSignalSpy>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QString kSection = TListsRepository::kSection;

QString Key(const QString& path) {
  return TListsRepository::EncodeKey(path);
}

class FakeWindow : public lbtest::NullDocumentWindow {
 public:
  FakeWindow(const QString& path, bool bNew, bool loadFailed)
      : NullDocumentWindow(path), m_LoadFailed(loadFailed) {
    m_Document.m_bNew = bNew;
  }
  bool LoadFailed() const override { return m_LoadFailed; }
  Placement GetPlacement() const override { return m_Placement; }
  void SetPlacement(const Placement& p) override {
    m_Placement = p;
    ++placementSets;
  }
  TColumnLayout Columns() const override { return m_Columns; }
  void SetColumns(const TColumnLayout& columns) override {
    m_Columns = columns;
    ++columnSets;
  }
  void SetCaption(const QString& caption) override { this->caption = caption; }
  void ShowWindow() override { ++shows; }
  void Activate() override { ++activations; }
  bool ClosingForExit() const override { return closingForExit; }

  bool m_LoadFailed;
  Placement m_Placement;
  TColumnLayout m_Columns;
  QString caption;
  int shows = 0, activations = 0, placementSets = 0, columnSets = 0;
  bool closingForExit = false;
};

class FakeFactory : public IDocumentWindowFactory {
 public:
  IDocumentWindow* CreateNewDocumentWindow(const QString& path, const TSlDocument*) override {
    windows.push_back(std::make_unique<FakeWindow>(path, true, false));
    newPaths << path;
    return windows.back().get();
  }
  IDocumentWindow* CreateListWindow(const QString& path, const TSlDocument*) override {
    windows.push_back(std::make_unique<FakeWindow>(path, false, failing.contains(path)));
    loadedPaths << path;
    if (onCreate) onCreate();
    return windows.back().get();
  }
  FakeWindow* Last() {
    if (windows.empty()) ADD_FAILURE() << "no window was made";
    return windows.empty() ? nullptr : windows.back().get();
  }

  std::vector<std::unique_ptr<FakeWindow>> windows;
  QStringList newPaths, loadedPaths, failing;
  std::function<void()> onCreate;
};

class RepositoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = lbtest::NewTempDir();
    ini = std::make_unique<TIniFile>(dir + "/lbtools3.ini");
    repo = std::make_unique<TListsRepository>(*ini, &factory);
  }
  // A list file that exists on disk.
  QString List(const QString& name) {
    const QString path = dir + "/" + name;
    EXPECT_TRUE(lbtest::WriteFile(path, "#EXTM3U\r\n"));
    return path;
  }
  QStringList Names() const {
    QStringList names;
    for (int i = 0; i < repo->Count(); ++i) names << repo->Name(i);
    return names;
  }
  QStringList Numbers() const {
    QStringList numbers;
    for (int i = 0; i < repo->Count(); ++i) numbers << repo->Text(i, TListsRepository::colNumber);
    return numbers;
  }
  // A fresh repository over the same settings file, as at the next start.
  void Restart(bool shellInvoke) {
    repo = std::make_unique<TListsRepository>(*ini, &factory, shellInvoke);
    factory.loadedPaths.clear();
    repo->Load();
  }

  ScriptedUiServices ui;
  QString dir;
  std::unique_ptr<TIniFile> ini;
  FakeFactory factory;
  std::unique_ptr<TListsRepository> repo;
};

// ---------------------------------------------------------------------------------
// Keys

TEST(RepositoryKeys, EqualsSignAndBackslashRoundTrip) {
  EXPECT_EQ(TListsRepository::EncodeKey("c:\\a=b\\x.m3u"), "c:\\\\a\\_b\\\\x.m3u");
  EXPECT_EQ(TListsRepository::DecodeKey("C:\\\\a\\_b\\\\x.m3u"), "C:\\a=b\\x.m3u");
  for (const QString& path : {QString("/music/a=b/x.m3u"), QString("/m/\\_/==\\\\.m3u"),
                              QString("C:\\"), QString("\\\\host\\share\\l=.m3u")})
    EXPECT_EQ(TListsRepository::DecodeKey(TListsRepository::EncodeKey(path)), path)
        << path.toStdString();
  // An encoded key never holds "=", which would end the key in the file.
  EXPECT_FALSE(TListsRepository::EncodeKey("/a=b=c").contains('='));
}

TEST(RepositoryKeys, DecodingLeavesStrayBackslashes) {
  EXPECT_EQ(TListsRepository::DecodeKey("a\\b"), "a\\b");
  EXPECT_EQ(TListsRepository::DecodeKey("a\\"), "a\\");
  EXPECT_EQ(TListsRepository::DecodeKey("\\\\_"), "\\_");
  EXPECT_EQ(TListsRepository::DecodeKey("\\\\\\_"), "\\=");
}

TEST(RepositoryKeys, EveryPathHasItsOwnKeyUnderACaseBlindFile) {
  const QStringList paths = {"/m/A.m3u",     "/m/a.m3u",       "/m/Б.m3u",
                             "/m/б.m3u",     "/m/st*r.m3u",    "/m/st\\x2a;r.m3u",
                             "/m/tab\t.m3u", "/m/line\nx.m3u", "/m/trail.m3u ",
                             " lead.m3u",    ";c.m3u",         "/m/\U0001D11E.m3u"};
  QSet<QString> folded;
  for (const QString& path : paths) {
    const QString key = TListsRepository::EncodeKey(path);
    EXPECT_EQ(TListsRepository::DecodeKey(key), path) << path.toStdString();
    EXPECT_TRUE(TListsRepository::IsListKey(key)) << key.toStdString();
    EXPECT_EQ(key.trimmed(), key);
    folded.insert(key.toCaseFolded());
  }
  EXPECT_EQ(folded.size(), paths.size());
  // Keys of older files decode as before.
  EXPECT_EQ(TListsRepository::DecodeKey("/m/Mix.m3u"), "/m/Mix.m3u");
}

TEST_F(RepositoryTest, ListsThatDifferInCaseOrHoldAStarStayApart) {
  const QString upper = List("Mix.m3u"), lower = List("mix.m3u"), star = List("st*r.m3u");
  for (const QString& path : {upper, lower, star}) repo->Add(path, false, nullptr);
  Restart(false);
  EXPECT_EQ(repo->Count(), 3);
  repo->RemovePath(lower);
  Restart(false);
  ASSERT_EQ(repo->Count(), 2);
  EXPECT_NE(repo->IndexOf(upper), -1);
  EXPECT_NE(repo->IndexOf(star), -1);
}

TEST_F(RepositoryTest, KeysOfAnOlderFileMoveUnderTheCurrentKey) {
  const QString path = List("Old.m3u");
  ini->WriteBool(kSection, path, false);
  ini->WriteString(kSection, path + "*State", "0,1,2,3,4");
  Restart(false);
  ASSERT_EQ(repo->Count(), 1);
  EXPECT_EQ(repo->Path(0), path);
  const QString key = TListsRepository::EncodeKey(path);
  EXPECT_EQ(ini->ReadSection(kSection), QStringList({key, key + "*State"}));
  EXPECT_EQ(ini->ReadString(kSection, key + "*State", ""), "0,1,2,3,4");
  // The lower-case list of the same name now gets a key of its own.
  const QString lower = List("old.m3u");
  repo->Add(lower, false, nullptr);
  Restart(false);
  EXPECT_EQ(repo->Count(), 2);
}

TEST_F(RepositoryTest, KeysWithAStarAreNeverLists) {
  const QString a = List("a.m3u");
  ini->WriteBool(kSection, TListsRepository::EncodeKey(a), false);
  ini->WriteString(kSection, TListsRepository::EncodeKey(a) + "*State", "0,1,2,3,4");
  ini->WriteString(kSection, TListsRepository::EncodeKey(a) + "*Columns", "0,20");
  ini->WriteBool(kSection, dir + "/star*name.m3u", true);
  ini->WriteInteger(kSection, "ColumnWidth*0", 40);
  ini->WriteString(kSection, "*", "1");
  repo->Load();
  ASSERT_EQ(repo->Count(), 1);
  EXPECT_EQ(repo->Path(0), a);
  EXPECT_TRUE(ui.Messages().isEmpty());  // the starred "open" key asked nothing
}

TEST_F(RepositoryTest, PathWithEqualsSignIsStoredEncodedAndLoadsBack) {
  QDir().mkpath(dir + "/a=b");
  const QString path = List("a=b/x.m3u");
  repo->Add(path, false, nullptr);
  EXPECT_TRUE(ini->ValueExists(kSection, TListsRepository::EncodeKey(path)));
  EXPECT_TRUE(ini->ReadSection(kSection).contains(TListsRepository::EncodeKey(path)));
  Restart(false);
  ASSERT_EQ(repo->Count(), 1);
  EXPECT_EQ(repo->Path(0), path);
}

// ---------------------------------------------------------------------------------
// Rows

TEST_F(RepositoryTest, RowsSortByNameWithoutCaseAndPathsStayUnique) {
  repo->Add("/l/B.m3u", false, nullptr);
  repo->Add("/l/a.m3u", false, nullptr);
  repo->Add("/l/c.m3u", false, nullptr);
  EXPECT_EQ(Names(), QStringList({"a", "B", "c"}));
  repo->Add("/l/a.m3u", false, nullptr);
  EXPECT_EQ(repo->Count(), 3);
  // Equal names keep the order they came in.
  repo->Add("/z/a.m3u", false, nullptr);
  repo->Add("/y/A.m3u", false, nullptr);
  EXPECT_EQ(repo->Path(0), "/l/a.m3u");
  EXPECT_EQ(repo->Path(1), "/z/a.m3u");
  EXPECT_EQ(repo->Path(2), "/y/A.m3u");
  EXPECT_EQ(Numbers(), QStringList({"1", "2", "3", "4", "5"}));
  // Paths of this system compare exactly: another case is another file.
  EXPECT_EQ(repo->IndexOf("/l/A.m3u"), -1);
  EXPECT_EQ(repo->IndexOf("/y/A.m3u"), 2);
}

TEST(RepositorySorting, CyrillicNamesInTheUsersLocale) {
  const QLocale previous;
  QLocale::setDefault(QLocale("ru_RU"));
  TIniFile ini(lbtest::NewTempDir() + "/lbtools3.ini");
  TListsRepository repo(ini, nullptr);
  repo.Add("/l/Яблоко.m3u", false, nullptr);
  repo.Add("/l/ёлка.m3u", false, nullptr);
  repo.Add("/l/Берёза.m3u", false, nullptr);
  repo.Add("/l/ель.m3u", false, nullptr);
  repo.Add("/l/абрикос.m3u", false, nullptr);
  QLocale::setDefault(previous);
  QStringList names;
  for (int i = 0; i < repo.Count(); ++i) names << repo.Name(i);
  // "ё" sorts with "е" (by the following letters), not after "я" as its code does.
  EXPECT_EQ(names, QStringList({"абрикос", "Берёза", "ёлка", "ель", "Яблоко"}));
}

TEST_F(RepositoryTest, RemovingRenumbersTheFollowingRowsAndDeletesTheKeys) {
  for (const char* name : {"a", "b", "c", "d", "e"})
    repo->Add(QString("/l/%1.m3u").arg(name), false, nullptr);
  const QString key = TListsRepository::EncodeKey("/l/b.m3u");
  ini->WriteString(kSection, key + "*State", "0,1,2,3,4");
  ini->WriteString(kSection, key + "*Columns", "1,2");
  ini->WriteString(kSection, key + "*ColumnsOld", "1,2");
  ini->WriteString(kSection, "/l/b.m3u*VB", "1");
  ini->WriteString(kSection, "/l/b.m3u*C8", "1");
  QSignalSpy changed(repo.get(), &TListsRepository::RowsChanged);
  repo->Remove(1);
  EXPECT_EQ(Names(), QStringList({"a", "c", "d", "e"}));
  EXPECT_EQ(Numbers(), QStringList({"1", "2", "3", "4"}));
  ASSERT_EQ(changed.count(), 1);  // the view repaints the renumbered rows
  EXPECT_EQ(changed[0][0].toInt(), 1);
  EXPECT_EQ(changed[0][1].toInt(), 3);
  EXPECT_EQ(ini->ReadSection(kSection).filter("/l/b.m3u"), QStringList());
  EXPECT_TRUE(ini->ValueExists(kSection, "/l/c.m3u"));
  repo->RemovePath("/l/nothing.m3u");
  EXPECT_EQ(repo->Count(), 4);
}

TEST_F(RepositoryTest, AddingWritesTheKeyOnlyForNewRows) {
  repo->Add("/l/a.m3u", false, nullptr);
  EXPECT_EQ(ini->ReadString(kSection, "/l/a.m3u", ""), "0");
  FakeWindow window("/l/a.m3u", false, false);
  repo->Add("/l/a.m3u", true, &window);
  EXPECT_TRUE(repo->IsOpen(0));
  EXPECT_EQ(repo->Child(0), &window);
  EXPECT_EQ(repo->Text(0, TListsRepository::colOpen), "+");
  EXPECT_EQ(ini->ReadString(kSection, "/l/a.m3u", ""), "0");  // an update writes nothing
  repo->Add("/l/a.m3u", false, nullptr);
  EXPECT_FALSE(repo->IsOpen(0));
  EXPECT_FALSE(repo->IsOpen(-1));
  EXPECT_FALSE(repo->IsOpen(7));
}

// ---------------------------------------------------------------------------------
// Document windows

TEST_F(RepositoryTest, NewDocumentProposesTheFirstNumberNotInTheRepositoryNorOnDisk) {
  const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  repo->Add(docs + "/List1.m3u", false, nullptr);  // not on disk: still taken
  repo->Add(docs + "/List2.m3u", false, nullptr);
  // A list of the user's that the repository does not know: saving the new list under
  // its proposed name would replace it.
  ASSERT_TRUE(QDir().mkpath(docs));
  const QString theirs = docs + "/List3.m3u";
  ASSERT_TRUE(lbtest::WriteFile(theirs, "/keep/1.mp3\r\n"));
  // A link to a list on a drive not mounted now: a save there would fail.
  const QString dangling = docs + "/List4.m3u";
  ASSERT_TRUE(QFile::link(docs + "/nowhere/list.m3u", dangling));
  IDocumentWindow* window = repo->NewDocument();
  QFile::remove(theirs);
  QFile::remove(dangling);
  EXPECT_EQ(factory.newPaths, QStringList({docs + "/List5.m3u"}));
  const int row = repo->IndexOf(docs + "/List5.m3u");
  ASSERT_NE(row, -1);
  EXPECT_EQ(repo->Child(row), window);
  EXPECT_EQ(factory.Last()->shows, 1);
  // Never saved: its row goes with the window.
  repo->WindowDestroyed(window);
  EXPECT_EQ(repo->IndexOf(docs + "/List5.m3u"), -1);
  EXPECT_FALSE(ini->ValueExists(kSection, docs + "/List5.m3u"));
}

TEST_F(RepositoryTest, WindowStateAndColumnsRoundTrip) {
  const QString path = List("a.m3u");
  repo->Add(path, false, nullptr);
  IDocumentWindow* window = repo->Open(0);
  FakeWindow* fake = factory.Last();
  EXPECT_EQ(fake->columnSets, 1);
  EXPECT_TRUE(fake->m_Columns.isEmpty());  // nothing stored: the default set
  EXPECT_EQ(fake->placementSets, 0);
  fake->m_Placement = {2, 10, 20, 300, 400};
  fake->m_Columns = {{0, 30}, {5, 120}, {23, 16}};
  fake->closingForExit = true;
  repo->WindowDestroyed(window);
  EXPECT_FALSE(repo->IsOpen(0));
  EXPECT_EQ(ini->ReadString(kSection, Key(path) + "*State", ""), "2,10,20,300,400");
  EXPECT_EQ(ini->ReadString(kSection, Key(path) + "*Columns", ""), "0,30,5,120,23,16");
  EXPECT_TRUE(ini->ReadBool(kSection, Key(path), false));  // open at exit

  repo->Open(0);
  FakeWindow* again = factory.Last();
  EXPECT_EQ(again->m_Placement.state, 2);
  EXPECT_EQ(again->m_Placement.height, 400);
  EXPECT_EQ(again->m_Columns, fake->m_Columns);
  again->closingForExit = false;
  again->m_Columns.clear();
  repo->WindowDestroyed(again);
  EXPECT_FALSE(ini->ReadBool(kSection, Key(path), true));  // closed by the user
  EXPECT_EQ(ini->ReadString(kSection, Key(path) + "*Columns", ""), "0,30,5,120,23,16");
}

TEST_F(RepositoryTest, UnparsableStateAndColumnsKeepTheDefaults) {
  const QString path = List("a.m3u");
  repo->Add(path, false, nullptr);
  struct Case {
    const char* state;
    const char* columns;
  };
  for (const Case& c : {Case{"1,2,3,4", "1,20,x,30"}, Case{"1,2,3,4,5,6", "1,20,2"},
                        Case{"a,b,c,d,e", ", ,"}, Case{"", ""}}) {
    ini->WriteString(kSection, Key(path) + "*State", c.state);
    ini->WriteString(kSection, Key(path) + "*Columns", c.columns);
    repo->Open(0);
    EXPECT_EQ(factory.Last()->placementSets, 0) << c.state;
    EXPECT_TRUE(factory.Last()->m_Columns.isEmpty()) << c.columns;
    repo->WindowClosed(factory.Last());
  }
  ini->WriteString(kSection, Key(path) + "*Columns", " 1 , 20  2,30 ");
  repo->Open(0);
  EXPECT_EQ(factory.Last()->m_Columns, TColumnLayout({{1, 20}, {2, 30}}));
}

TEST_F(RepositoryTest, ListsThatFailToLoadLeaveNoMarkAndNoRow) {
  const QString a = List("a.m3u"), b = List("b.m3u");
  factory.failing << a << b;
  repo->Add(a, false, nullptr);
  bool openDuringLoad = false;
  factory.onCreate = [&] { openDuringLoad = repo->IsOpen(0) && !repo->Child(0); };
  IDocumentWindow* window = repo->Open(0);
  EXPECT_TRUE(openDuringLoad);
  EXPECT_TRUE(window->LoadFailed());
  EXPECT_FALSE(repo->IsOpen(0));
  factory.onCreate = nullptr;
  EXPECT_TRUE(repo->OpenFile(b)->LoadFailed());
  EXPECT_EQ(repo->IndexOf(b), -1);
}

TEST_F(RepositoryTest, ClosingAStaleWindowKeepsTheMarkOfTheCurrentOne) {
  const QString a = List("a.m3u");
  factory.failing << a;
  repo->Add(a, false, nullptr);
  IDocumentWindow* failed = repo->Open(0);
  factory.failing.clear();
  IDocumentWindow* good = repo->Open(0);
  repo->WindowClosed(failed);  // the failed window goes away later
  EXPECT_TRUE(repo->IsOpen(0));
  EXPECT_EQ(repo->Child(0), good);
  repo->WindowClosed(good);
  EXPECT_FALSE(repo->IsOpen(0));
}

TEST_F(RepositoryTest, RenameKeepsOrDropsTheOldEntryAndRepointsTheSongs) {
  const QString oldPath = List("sub/old.m3u");
  const QString newPath = dir + "/new.m3u";
  IDocumentWindow* window = repo->OpenFile(oldPath);
  TSlDocument& doc = window->Document();
  doc.InsertSong(TSlSong(nullptr, dir + "/sub/song.mp3", QString()), -1);
  ini->WriteBool("Edit", "FullPathsInsert", false);
  doc.m_Songs[0].m_Path = "song.mp3";  // brief, beside the old list

  repo->Rename(window, newPath, false);
  EXPECT_EQ(doc.m_FileName, newPath);
  EXPECT_EQ(doc.m_Songs[0].m_Path, "sub/song.mp3");
  EXPECT_EQ(doc.m_Songs[0].GetPath(true), dir + "/sub/song.mp3");
  const int oldRow = repo->IndexOf(oldPath), newRow = repo->IndexOf(newPath);
  ASSERT_NE(oldRow, -1);
  ASSERT_NE(newRow, -1);
  EXPECT_FALSE(repo->IsOpen(oldRow));
  EXPECT_EQ(repo->Child(newRow), window);
  EXPECT_FALSE(ini->ReadBool(kSection, Key(oldPath), true));
  EXPECT_TRUE(ini->ValueExists(kSection, Key(oldPath) + "*State"));
  EXPECT_EQ(factory.Last()->caption, newPath);

  ini->WriteBool("Edit", "FullPathsInsert", true);
  const QString third = dir + "/third.m3u";
  repo->Rename(window, third, true);
  EXPECT_EQ(repo->IndexOf(newPath), -1);
  EXPECT_FALSE(ini->ValueExists(kSection, Key(newPath)));
  EXPECT_EQ(doc.m_Songs[0].m_Path, dir + "/sub/song.mp3");
  EXPECT_EQ(repo->Child(repo->IndexOf(third)), window);
}

// ---------------------------------------------------------------------------------
// Start-up

TEST_F(RepositoryTest, ListOpenAtExitReopensOnNormalStartButNotThroughTheShell) {
  const QString a = List("a.m3u"), b = List("b.m3u");
  repo->Add(a, false, nullptr);
  repo->Add(b, false, nullptr);
  repo->Open(repo->IndexOf(a));
  factory.Last()->closingForExit = true;
  repo->WindowDestroyed(factory.Last());

  Restart(true);
  EXPECT_EQ(factory.loadedPaths, QStringList());
  EXPECT_EQ(repo->Count(), 2);
  EXPECT_FALSE(repo->IsOpen(repo->IndexOf(a)));
  EXPECT_TRUE(ini->ReadBool(kSection, Key(a), false));  // still to be re-opened

  Restart(false);
  EXPECT_EQ(factory.loadedPaths, QStringList({a}));
  EXPECT_TRUE(repo->IsOpen(repo->IndexOf(a)));
  EXPECT_FALSE(repo->IsOpen(repo->IndexOf(b)));
  EXPECT_EQ(factory.Last()->shows, 1);
  EXPECT_TRUE(ui.Messages().isEmpty());
}

TEST_F(RepositoryTest, MissingListsAtStartUpAreAskedAbout) {
  const QString gone = dir + "/gone.m3u", kept = dir + "/kept.m3u", closed = dir + "/closed.m3u";
  ini->WriteBool(kSection, gone, true);
  ini->WriteString(kSection, gone + "*State", "0,1,2,3,4");
  ini->WriteBool(kSection, kept, true);
  ini->WriteBool(kSection, closed, false);
  ui.Answer(IDYES);
  ui.Answer(IDNO);
  Restart(false);
  ASSERT_EQ(ui.Messages().size(), 2);
  EXPECT_EQ(ui.Messages()[0].text, "Файл " + gone + " не найден\nУдалить ссылку на него ?");
  EXPECT_EQ(ui.Messages()[0].caption, "LBTools");
  EXPECT_EQ(ui.Messages()[0].flags, unsigned(MB_YESNO | MB_ICONERROR));
  EXPECT_EQ(repo->IndexOf(gone), -1);
  EXPECT_FALSE(ini->ValueExists(kSection, gone));
  EXPECT_FALSE(ini->ValueExists(kSection, gone + "*State"));
  EXPECT_FALSE(repo->IsOpen(repo->IndexOf(kept)));
  EXPECT_NE(repo->IndexOf(closed), -1);  // closed lists are not checked by default

  ui.ClearMessages();
  ini->WriteBool("Edit", "CheckDatabase", true);
  Restart(true);  // the shell start never checks
  EXPECT_TRUE(ui.Messages().isEmpty());
  EXPECT_EQ(repo->Count(), 2);
  ui.Answer(IDNO);
  ui.Answer(IDYES);
  Restart(false);
  EXPECT_EQ(ui.Messages().size(), 2);
  EXPECT_EQ(repo->Count(), 1);
}

TEST_F(RepositoryTest, LoadingDeletesLegacyKeysAndWritesNothingElse) {
  const QString a = List("a.m3u");
  ini->WriteBool(kSection, a, false);
  for (const char* suffix : {"*S", "*L", "*T", "*W", "*H", "*VB", "*C0", "*C8"})
    ini->WriteString(kSection, a + QString(suffix), "5");
  ini->WriteString(kSection, a + "*C9", "5");  // not one of the old keys
  Restart(false);
  // The key itself moves to its current form when the folder's name holds capitals.
  QStringList keys = ini->ReadSection(kSection);
  keys.sort();
  QStringList expected = {TListsRepository::EncodeKey(a), a + "*C9"};
  expected.sort();
  EXPECT_EQ(keys, expected);
  // A list that opened at start-up but fails to load stays known, closed.
  const QString b = List("b.m3u");
  ini->WriteBool(kSection, b, true);
  factory.failing << b;
  Restart(false);
  ASSERT_NE(repo->IndexOf(b), -1);
  EXPECT_FALSE(repo->IsOpen(repo->IndexOf(b)));
  EXPECT_TRUE(ini->ReadBool(kSection, TListsRepository::EncodeKey(b), false));
}

TEST_F(RepositoryTest, ViewLayoutIsStoredAndReadWithDefaults) {
  TRepositoryViewLayout current;
  current.splitter = 150;
  TRepositoryViewLayout read = repo->LoadView(current);
  EXPECT_EQ(read.splitter, 150);
  EXPECT_EQ(read.widths[3], current.widths[3]);
  TRepositoryViewLayout saved;
  saved.splitter = 222;
  for (int i = 0; i < 4; ++i) saved.widths[i] = 10 + i;
  repo->SaveView(saved);
  EXPECT_EQ(ini->ReadInteger("Position", "Splitter", 0), 222);
  EXPECT_EQ(ini->ReadInteger(kSection, "ColumnWidth*3", 0), 13);
  read = repo->LoadView(current);
  EXPECT_EQ(read.splitter, 222);
  EXPECT_EQ(read.widths[0], 10);
  Restart(false);
  EXPECT_EQ(repo->Count(), 0);  // the widths are no lists
}

// ---------------------------------------------------------------------------------
// Selection and bulk operations

TEST_F(RepositoryTest, BulkOperationAnswersFromTheSavedSelection) {
  for (const char* name : {"a", "b", "c", "d"})
    repo->Add(QString("/l/%1.m3u").arg(name), false, nullptr);
  repo->SetSelectedRows({1, 3});
  QSignalSpy mode(repo.get(), &TListsRepository::SelectionModeChanged);
  repo->BeginBulk();
  EXPECT_EQ(repo->FirstSelected(), -1);
  repo->MarkRow(0);
  EXPECT_TRUE(repo->IsHighlighted(0));
  EXPECT_FALSE(repo->IsSelected(0));
  EXPECT_TRUE(repo->IsSelected(1));
  EXPECT_TRUE(repo->IsSelected(3));
  // Rows that come and go meanwhile keep the saved flags on their rows.
  repo->Add("/l/0.m3u", false, nullptr);
  repo->Remove(repo->IndexOf("/l/c.m3u"));
  EXPECT_TRUE(repo->IsSelected(repo->IndexOf("/l/b.m3u")));
  EXPECT_TRUE(repo->IsSelected(repo->IndexOf("/l/d.m3u")));
  EXPECT_FALSE(repo->IsSelected(repo->IndexOf("/l/0.m3u")));
  repo->EndBulk();
  repo->EndBulk();  // nothing runs: nothing happens
  ASSERT_EQ(mode.count(), 2);
  EXPECT_FALSE(mode[0][0].toBool());
  EXPECT_TRUE(mode[1][0].toBool());
  EXPECT_EQ(repo->SelectedCount(), 2);
  EXPECT_EQ(repo->FirstSelected(), repo->IndexOf("/l/b.m3u"));
  EXPECT_FALSE(repo->IsSelected(-1));
}

TEST_F(RepositoryTest, NumberHeaderClickTogglesSelectingAll) {
  for (const char* name : {"a", "b", "c"})
    repo->Add(QString("/l/%1.m3u").arg(name), false, nullptr);
  repo->ColumnClick(2);
  EXPECT_EQ(repo->SelectedCount(), 0);
  repo->ColumnClick(0);
  EXPECT_EQ(repo->SelectedCount(), 3);
  repo->SetSelectedRows({1});
  repo->ColumnClick(0);
  EXPECT_EQ(repo->SelectedCount(), 0);
}

// ---------------------------------------------------------------------------------
// The user's open action

TEST_F(RepositoryTest, OpenActionActivatesOpensOrDropsAMissingList) {
  const QString a = List("a.m3u"), gone = dir + "/gone.m3u";
  repo->Add(a, false, nullptr);
  repo->Add(gone, false, nullptr);
  repo->OpenFirstSelected();  // nothing selected
  EXPECT_TRUE(factory.loadedPaths.isEmpty());

  repo->SetSelectedRows({repo->IndexOf(a)});
  repo->OpenFirstSelected();
  EXPECT_EQ(factory.loadedPaths, QStringList({a}));
  EXPECT_TRUE(repo->IsOpen(repo->IndexOf(a)));
  repo->OpenFirstSelected();
  EXPECT_EQ(factory.loadedPaths.size(), 1);
  EXPECT_EQ(factory.Last()->activations, 1);

  repo->SetSelectedRows({repo->IndexOf(gone)});
  repo->OpenFirstSelected();
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(ui.Messages()[0].text,
            "Файл " + gone + " не найден \nСсылка на него в базе будет удалена");
  EXPECT_EQ(ui.Messages()[0].caption, "Открытие листов");
  EXPECT_EQ(ui.Messages()[0].flags & MB_ICONMASK, unsigned(MB_ICONERROR));
  EXPECT_EQ(repo->IndexOf(gone), -1);
  EXPECT_FALSE(ini->ValueExists(kSection, gone));
}

// ---------------------------------------------------------------------------------
// Folder scan

TEST_F(RepositoryTest, FolderScanAddsTheAcceptedListsClosed) {
  const QString known = List("music/known.m3u");
  const QString one = List("music/rock/one.M3U");
  const QString two = List("music/pop/two.m3u");
  List("music/song.mp3");
  repo->Add(known, false, nullptr);
  ui.Answer(IDYES);
  ui.Answer(IDNO);
  EXPECT_TRUE(repo->ScanFolders({dir + "/music"}));
  EXPECT_EQ(ui.Messages().size(), 2);  // the known list is not asked about
  EXPECT_EQ(repo->Count(), 2);
  const int added = repo->IndexOf(one) != -1 ? repo->IndexOf(one) : repo->IndexOf(two);
  ASSERT_NE(added, -1);
  EXPECT_FALSE(repo->IsOpen(added));
  EXPECT_EQ(ini->ReadString(kSection, Key(repo->Path(added)), ""), "0");
  ASSERT_FALSE(ui.Progress().empty());
  EXPECT_EQ(ui.Progress().front().action, "Сканирование папки");

  ui.Answer(IDCANCEL);
  EXPECT_FALSE(repo->ScanFolders({dir + "/music"}));

  ui.NextFolder(QString());
  EXPECT_FALSE(repo->ScanComp());
  ui.Answer(IDYESTOALL);
  ui.NextFolder(dir + "/music");
  EXPECT_TRUE(repo->ScanComp());
  EXPECT_EQ(repo->Count(), 3);
}

// A list named on the command line while the lists open at the last exit come back:
// one window per list file, found by identity, raised when the list is opened again.
TEST_F(RepositoryTest, AListOpenAlreadyIsRaisedRatherThanOpenedTwice) {
  const QString a = List("a.m3u"), link = dir + "/link.m3u";
  ASSERT_TRUE(QFile::link(a, link));
  repo->OpenFile(a);
  Restart(false);
  ASSERT_EQ(factory.loadedPaths, QStringList({a}));
  IDocumentWindow* window = factory.Last();
  for (const QString& again : {a, link, dir + "/./a.m3u"})
    EXPECT_EQ(repo->OpenFile(again), window) << again.toStdString();
  EXPECT_EQ(factory.loadedPaths, QStringList({a}));
  EXPECT_EQ(factory.Last()->activations, 3);
  EXPECT_EQ(repo->Count(), 1);
}

}  // namespace
