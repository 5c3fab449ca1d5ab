// Lists, data files and paths that come from the users' Windows years, files that
// must never be taken for a list, and saves on a full disk.
#include "ModelTestUtil.h"

#include "lbtools3/model/M3uList.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/ScriptedUiServices.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using lbtest::ReadFile;
using lbtest::WriteFile;

namespace {

using modeltest::Loaded;
using modeltest::LoadList;

QByteArray Cp1251(const QString& text) {
  return lb::ToTagCodePage(text);
}

class ListTextTest : public ::testing::Test {
 protected:
  void TearDown() override { TIniFile(lb::SettingsFilePath()).EraseSection("Drives"); }
  QString Last() const { return ui.Texts().isEmpty() ? QString() : ui.Texts().last(); }
  ScriptedUiServices ui;
  QString dir = lbtest::NewTempDir();
  QString list = dir + "/list.m3u";
};

TEST_F(ListTextTest, LegacyLinesAreReadAndTheListIsWrittenBackInItsCodePage) {
  // One line in Windows-1251, one in UTF-8: each is decoded on its own.
  const QByteArray legacy = "#EXTM3U\r\n#EXTINF:1," + Cp1251("Кино") + "\r\n" +
                            Cp1251("Кино\\01 Группа крови.mp3") + "\r\n" +
                            QString("Ария.mp3").toUtf8() + "\r\n";
  WriteFile(list, legacy);
  auto [ok, doc] = LoadList(list);
  ASSERT_TRUE(ok);
  ASSERT_EQ(doc->m_Songs.size(), 2);
  EXPECT_EQ(doc->m_Songs[0].m_ExtInf, "#EXTINF:1,Кино");
  EXPECT_EQ(doc->m_Songs[0].m_Path, "Кино\\01 Группа крови.mp3");
  EXPECT_EQ(doc->m_Songs[1].m_Path, "Ария.mp3");
  // Each line goes back in the encoding it came in.
  ASSERT_TRUE(doc->Save(true));
  EXPECT_EQ(ReadFile(list), legacy);
  // A new list is UTF-8.
  TSlDocument fresh;
  fresh.SetFileName(dir + "/new.m3u");
  fresh.InsertSong(TSlSong(nullptr, "/music/Ария.mp3", QString()), -1);
  ASSERT_TRUE(fresh.Save(true));
  EXPECT_EQ(ReadFile(dir + "/new.m3u"), QString("/music/Ария.mp3\r\n").toUtf8());
}

TEST_F(ListTextTest, ByteOrderMarkIsKeptAndM3u8IsAlwaysUtf8) {
  WriteFile(list, "\xEF\xBB\xBF" + QString("Ария.mp3\r\n").toUtf8());
  auto [ok, doc] = LoadList(list);
  ASSERT_TRUE(ok);
  EXPECT_EQ(doc->m_Songs[0].m_Path, "Ария.mp3");
  ASSERT_TRUE(doc->Save(true));
  EXPECT_EQ(ReadFile(list), "\xEF\xBB\xBF" + QString("Ария.mp3\r\n").toUtf8());

  // A legacy list saved as ".m3u8" is written in UTF-8.
  WriteFile(list, Cp1251("Ария.mp3") + "\r\n");
  Loaded legacy = LoadList(list);
  ASSERT_TRUE(legacy.ok);
  ASSERT_TRUE(legacy.doc->SaveM3u(dir + "/list.m3u8", true));
  EXPECT_EQ(ReadFile(dir + "/list.m3u8"), QString("Ария.mp3\r\n").toUtf8());
}

TEST_F(ListTextTest, NoLineIsWrittenLongerThanTheReaderTakes) {
  // 3,000 Cyrillic characters: 3,000 bytes in Windows-1251, 6,000 in UTF-8.
  const QString longName = QString(3000, QChar(0x0436)) + ".mp3";
  const QByteArray before = QString("/music/Ария.mp3\r\n").toUtf8();
  WriteFile(list, before);
  auto [ok, doc] = LoadList(list);
  ASSERT_TRUE(ok);
  doc->InsertSong(TSlSong(nullptr, longName, QString()), -1);  // a UTF-8 list: UTF-8
  EXPECT_FALSE(doc->Save(false));
  EXPECT_TRUE(Last().startsWith("Строка длиннее 4096 байт не может быть записана"));
  EXPECT_EQ(ReadFile(list), before);
  EXPECT_TRUE(doc->m_bModified);
}

TEST_F(ListTextTest, DataFilesWrittenOnWindowsStillMatchTheirSongs) {
  // The data file of an old version: the full path in Windows-1251 with backslashes.
  WriteFile(list, Cp1251("Кино\\01.mp3") + "\r\n");
  const int32_t age = lb::FileAge(list);
  const QByteArray path = Cp1251("C:\\Lists\\Кино\\01.mp3");
  QByteArray data = "LBT\x01" + QByteArray(reinterpret_cast<const char*>(&age), 4);
  const int32_t size = path.size(), fileAge = 77;
  data += QByteArray(reinterpret_cast<const char*>(&size), 4) + path;
  data += QByteArray(4, '\0') + QByteArray(reinterpret_cast<const char*>(&fileAge), 4);
  QByteArray body(125, '\0');
  body.replace(0, 6, Cp1251("Группа"));
  body[124] = char(255);
  data += QByteArray(1, '\x01') + body + QByteArray(1, '\0');
  WriteFile(dir + "/list.lbt", data);
  auto [ok, doc] = LoadList(list);
  ASSERT_TRUE(ok) << ui.Texts().join("|").toStdString();
  EXPECT_EQ(doc->m_Songs[0].m_FileAge, 77);
  EXPECT_EQ(doc->m_Songs[0].m_Tag1.GetTitle(), "Группа");
  // The relative path resolves with "/" on this system; the stored text stays.
  EXPECT_EQ(doc->m_Songs[0].GetPath(true), dir + "/Кино/01.mp3");
  EXPECT_EQ(doc->m_Songs[0].m_Path, "Кино\\01.mp3");
}

TEST_F(ListTextTest, DriveLettersMapThroughTheSettingsAndAreMissingOtherwise) {
  const QString music = lbtest::NewTempDir();
  modeltest::MakeMp3(music + "/Rock/a.mp3");
  // A file literally named like the Windows path in the working folder is never taken.
  const QString saved = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir));
  WriteFile(dir + "/D:\\Rock\\a.mp3", "x");
  WriteFile(list, "D:\\Rock\\a.mp3\r\n\\Rock\\b.mp3\r\n");
  auto [ok, doc] = LoadList(list);
  ASSERT_TRUE(ok);
  TSlSong& song = doc->m_Songs[0];
  EXPECT_EQ(song.GetPath(true), "D:\\Rock\\a.mp3");
  EXPECT_EQ(lb::FileAge(song.GetPath(true)), -1);
  EXPECT_FALSE(lb::FileExists(song.GetPath(true)));
  QDir::setCurrent(saved);
  EXPECT_EQ(doc->m_Songs[1].GetPath(true), "/Rock/b.mp3");

  TIniFile(lb::SettingsFilePath()).WriteString("Drives", "d", music + "/");
  EXPECT_EQ(song.GetPath(true), music + "/Rock/a.mp3");
  EXPECT_NE(lb::FileAge(song.GetPath(true)), -1);
  // Saving keeps the stored text; changing the path form makes it this system's path.
  ASSERT_TRUE(doc->Save(true));
  EXPECT_EQ(ReadFile(list), "D:\\Rock\\a.mp3\r\n\\Rock\\b.mp3\r\n");
  song.SetPathForm(true);
  EXPECT_EQ(song.m_Path, music + "/Rock/a.mp3");
}

TEST_F(ListTextTest, FilesThatAreNoListsAreNeitherReadNorOverwritten) {
  const QString mp3 = modeltest::MakeMp3(dir + "/song.mp3");
  const QByteArray song = ReadFile(mp3);
  struct Case {
    QString path;
    QString reason;
  } cases[] = {{dir + "/list.lbt", "это файл данных листа"},
               {mp3, "это музыкальный файл (рабочее расширение .mp3)"},
               {dir + "/binary.m3u", "в нём есть нулевые байты"},
               {dir + "/radio.pls", "это лист другого формата (PLS или XML), не M3U"},
               {dir + "/mix.xspf", "это лист другого формата (PLS или XML), не M3U"},
               {dir + "/wpl.m3u", "это лист другого формата (PLS или XML), не M3U"}};
  WriteFile(dir + "/wpl.m3u", "<?wpl version=\"1.0\"?>\r\n<smil>\r\n</smil>\r\n");
  WriteFile(dir + "/radio.pls", "[playlist]\nFile1=a.mp3\nNumberOfEntries=1\n");
  WriteFile(dir + "/mix.xspf", "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<playlist/>\n");
  WriteFile(dir + "/list.lbt", "LBT\x01\0\0\0\0");
  WriteFile(dir + "/binary.m3u", QByteArray("a.mp3\r\n\0\x01\x02", 10));
  for (const Case& c : cases) {
    const QByteArray before = ReadFile(c.path);
    ui.ClearMessages();
    auto [ok, doc] = LoadList(c.path);
    EXPECT_FALSE(ok) << c.path.toStdString();
    EXPECT_EQ(ui.Texts(),
              QStringList("Файл\n\"" + c.path + "\"\nне является m3u-листом: " + c.reason + "."));
    // Saving a list over it is refused the same way, and the file stays as it was.
    TSlDocument other;
    other.SetFileName(c.path);
    other.InsertSong(TSlSong(nullptr, "/music/a.mp3", QString()), -1);
    EXPECT_FALSE(other.Save(false));
    EXPECT_EQ(Last(), "Лист не может быть записан в файл\n\"" + c.path + "\":\n" + c.reason +
                          ".\nФайл не изменён.");
    EXPECT_EQ(ReadFile(c.path), before);
  }
  EXPECT_EQ(ReadFile(mp3), song);
  EXPECT_FALSE(QFile::exists(dir + "/song.lbt"));

  // A FIFO as the list or as its data file is refused at once instead of waiting.
  const QString fifo = dir + "/fifo.m3u";
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  EXPECT_FALSE(LoadList(fifo).ok);
  EXPECT_TRUE(Last().endsWith("это не обычный файл."));
  WriteFile(list, "a.mp3\r\n");
  ASSERT_EQ(::mkfifo(QFile::encodeName(dir + "/list.lbt.fifo").constData(), 0600), 0);
  QFile::remove(dir + "/list.lbt");
  ASSERT_TRUE(QFile::rename(dir + "/list.lbt.fifo", dir + "/list.lbt"));
  ui.Answer(IDNO);
  EXPECT_FALSE(LoadList(list).ok);
  EXPECT_TRUE(Last().contains("Ошибка открытия файла"));
}

TEST_F(ListTextTest, FullDiskSaveFailsAndKeepsThePreviousFiles) {
  lbtest::SmallFileSystem fs(64);
  if (!fs.Ok()) GTEST_SKIP() << "a small file system needs root here";
  const QString path = fs.Path() + "/list.m3u";
  TSlDocument doc;
  doc.SetFileName(path);
  doc.InsertSong(TSlSong(nullptr, "/music/a.mp3", QString()), -1);
  ASSERT_TRUE(doc.Save(true));
  const QByteArray list = ReadFile(path), data = ReadFile(fs.Path() + "/list.lbt");
  fs.Fill();
  doc.InsertSong(TSlSong(nullptr, "/music/b.mp3", QString()), -1);
  EXPECT_FALSE(doc.Save(false));
  EXPECT_EQ(Last(), "Не удалось записать лист\n\"" + path +
                        "\":\nНедостаточно места на диске.\nПрежний файл не изменён.");
  EXPECT_TRUE(doc.m_bModified);
  EXPECT_EQ(ReadFile(path), list);
  EXPECT_EQ(ReadFile(fs.Path() + "/list.lbt"), data);
}

// Lists written by other players and by both worlds go through load, an edit and save:
// every "#" line stays with its song (never a song itself), the list's own lines stay
// at its top, each line keeps the encoding it came in, and new or changed lines are
// UTF-8 unless the list was all legacy text. Saving the result again after a fresh
// load changes nothing.
TEST_F(ListTextTest, ForeignLinesAndMixedEncodingsSurviveEditsAndSaves) {
  const QByteArray header = "#EXTM3U\r\n#PLAYLIST:My list\r\n#EXTENC:UTF-8\r\n#EXTGRP:All\r\n";
  const QByteArray songA =
      "#EXTINF:123,Artist - Title\r\n#EXTVLCOPT:start-time=5\r\n#EXTGRP:Rock\r\n/m/a.mp3\r\n";
  const QByteArray songB = "# a note\r\n/m/b.mp3\r\n";
  const QByteArray player = header + songA + songB + "#EXTINF:-1,end\r\n";
  // The same list with its two songs swapped: their lines go with them.
  const QByteArray swapped = header + songB + songA + "#EXTINF:-1,end\r\n";
  const QByteArray mixed = "#EXTINF:1," + Cp1251("Кино") + "\r\n" + Cp1251("/m/Кино.mp3") + "\r\n" +
                           QString("/m/Ария.mp3\r\n").toUtf8();
  const auto utf8 = [](const char* text) { return QString::fromUtf8(text).toUtf8(); };
  const auto insert = [](TSlDocument& doc, const char* path) {
    doc.InsertSong(TSlSong(nullptr, QString::fromUtf8(path), QString()), -1);
  };
  struct Case {
    const char* what;
    QString name;
    QByteArray before;
    std::function<void(TSlDocument&)> edit;
    QByteArray after;
    int songs;
  };
  const std::vector<Case> cases = {
      {"other players' lines", "list.m3u", player, [](TSlDocument&) {}, player, 2},
      {"sorted", "list.m3u", player,
       [](TSlDocument& doc) {
         doc.ArrangeSongs({0, 1}, [](const auto&, std::vector<int>& order) {
           std::reverse(order.begin(), order.end());
         });
       },
       swapped, 2},
      {"first song removed", "list.m3u", player, [](TSlDocument& doc) { doc.DeleteSongs({0}); },
       header + songB + "#EXTINF:-1,end\r\n", 1},
      {"cut and pasted", "list.m3u", player,
       [](TSlDocument& doc) {
         doc.CutToClipboard({0});
         doc.PasteFromClipboard(1);
       },
       swapped, 2},
      {"mixed, unchanged", "list.m3u", mixed, [](TSlDocument&) {}, mixed, 2},
      {"mixed, changed and new lines", "list.m3u", mixed,
       [&](TSlDocument& doc) {
         doc.m_Songs[0].m_Path = "/m/Кино 2.mp3";
         insert(doc, "/m/Новая.mp3");
       },
       "#EXTINF:1," + Cp1251("Кино") + "\r\n" +
           utf8("/m/Кино 2.mp3\r\n/m/Ария.mp3\r\n/m/Новая.mp3\r\n"),
       3},
      {"all legacy, new lines", "list.m3u", Cp1251("/m/Кино.mp3\r\n"),
       [&](TSlDocument& doc) {
         insert(doc, "/m/Ария.mp3");
         insert(doc, "/m/日本.mp3");  // not in the code page: UTF-8 rather than "?"
       },
       Cp1251("/m/Кино.mp3\r\n/m/Ария.mp3\r\n") + utf8("/m/日本.mp3\r\n"), 3},
      {"legacy line in .m3u8", "list.m3u8", Cp1251("/m/Кино.mp3\r\n") + utf8("/m/Ария.mp3\r\n"),
       [](TSlDocument&) {}, utf8("/m/Кино.mp3\r\n/m/Ария.mp3\r\n"), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QString path = dir + "/" + c.name;
    QFile::remove(TSlDocument::DataFilePath(path));
    WriteFile(path, c.before);
    auto [ok, doc] = LoadList(path);
    ASSERT_TRUE(ok);
    c.edit(*doc);
    ASSERT_EQ(doc->m_Songs.size(), c.songs);
    for (int n = 0; n < doc->m_Songs.size(); ++n)
      EXPECT_FALSE(doc->m_Songs[n].m_Path.contains(QChar::ReplacementCharacter));
    ASSERT_TRUE(doc->Save(true));
    EXPECT_EQ(ReadFile(path), c.after);
    Loaded again = LoadList(path);
    ASSERT_TRUE(again.ok);
    ASSERT_TRUE(again.doc->Save(true));
    EXPECT_EQ(ReadFile(path), c.after);
  }
}

TEST_F(ListTextTest, HashNamesAndStreamAddressesSurviveSavesAndPathForms) {
  WriteFile(list, "<intro>.mp3\r\n");  // a first name that merely looks like XML
  Loaded loaded = LoadList(list);
  ASSERT_TRUE(loaded.ok);
  TSlDocument& doc = *loaded.doc;
  doc.InsertSong(TSlSong(nullptr, "#9 Dream.mp3", QString()), -1);
  doc.InsertSong(TSlSong(nullptr, "http://radio.example/live", QString()), -1);
  for (bool bFull : {true, false}) {
    for (int n = 0; n < doc.m_Songs.size(); ++n) doc.m_Songs[n].SetPathForm(bFull);
    ASSERT_TRUE(doc.Save(false));
    Loaded again = LoadList(list);
    ASSERT_TRUE(again.ok);
    ASSERT_EQ(again.doc->m_Songs.size(), 3);
    EXPECT_EQ(again.doc->m_Songs[1].GetPath(true), dir + "/#9 Dream.mp3") << bFull;
    EXPECT_EQ(again.doc->m_Songs[2].m_Path, "http://radio.example/live") << bFull;
  }
  // A first name that would open the file like an XML list is written from the folder.
  TSlDocument smile;
  smile.SetFileName(dir + "/smile.m3u");
  smile.InsertSong(TSlSong(nullptr, "<Smile>.mp3", QString()), -1);
  ASSERT_TRUE(smile.Save(false));
  Loaded reloaded = LoadList(dir + "/smile.m3u");
  ASSERT_TRUE(reloaded.ok);
  EXPECT_EQ(reloaded.doc->m_Songs[0].GetPath(true), dir + "/<Smile>.mp3");
}

}  // namespace
