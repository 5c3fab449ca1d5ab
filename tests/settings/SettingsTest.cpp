// The settings keys with their defaults, the hot-key slots and short-cut codes, the
// settings dialog's validation and OK sequence, and locating the player.
#include "SettingsTestUtil.h"
#include "platform/CodePage.h"
#include "platform/ScriptedUiServices.h"

#include <QFileInfo>

using namespace settingstest;

namespace {

const QString kVelocityMessage =
    "Замедление перемещения указателя проигрываемой песни должно быть не нулевым числом\n"
    "Допустимы целые числа от -120 до 120, кроме 0.";

class SettingsModelTest : public ::testing::Test {
 protected:
  FreshEnvironment env;
  ScriptedUiServices ui;
  TIniFile ini{lb::SettingsFilePath()};
  TSettingsModel model{ini};
  RecordingEffects effects;

  // Values that pass every check.
  void MakeValid() {
    model.Load();
    model.Values().winamp = false;
    model.Values().editorPathUsed = false;
  }
};
using SettingsKeys = SettingsModelTest;

}  // namespace

TEST_F(SettingsKeys, MissingFileReadsTheDefaultsOfTheKeyTable) {
  model.Load();
  const TSettingsValues& v = model.Values();
  EXPECT_EQ(v.extensions, "mp3, flac, ogg, oga, opus, m4a, mp4, wma, ape, wv, mpc, aiff, aif, wav");
  EXPECT_TRUE(v.scanUseLinks);
  EXPECT_FALSE(v.checkDatabase);
  EXPECT_FALSE(v.clearClipboard);
  EXPECT_FALSE(v.fastPlay);
  EXPECT_FALSE(v.cutNonPresent);
  EXPECT_TRUE(v.fullPathTitles);  // DocumentTitle false: full paths in the captions
  EXPECT_TRUE(v.fullPathsInsert);
  EXPECT_TRUE(v.generateExtInf);
  EXPECT_FALSE(v.hideMainWindow);
  EXPECT_FALSE(v.winamp);
  EXPECT_EQ(v.winampPath, "");
  EXPECT_FALSE(v.editorPathUsed);
  EXPECT_EQ(v.editorPath, "");
  EXPECT_EQ(v.velocity, "30");
  EXPECT_EQ(v.dblClkAction, 0);
  EXPECT_EQ(v.hotKeys, THotKeySlots{});
  // Reading never creates the file: its absence is the first-run condition.
  EXPECT_FALSE(QFileInfo::exists(env.IniPath()));

  EXPECT_TRUE(lbset::ReadBool(ini, lbset::UseDBFiles));
  EXPECT_TRUE(lbset::ReadBool(ini, lbset::WinampToolBarVisible));
  EXPECT_EQ(lbset::ReadAsText(ini, lbset::ChangePositionVelocity), "30");
}

TEST_F(SettingsKeys, LookupIgnoresCaseAndKnowsOnlyTheTypedKeys) {
  const TSettingKey* k = lbset::FindKey("settings", "changepositionvelocity");
  ASSERT_NE(k, nullptr);
  EXPECT_STREQ(k->key, "ChangePositionVelocity");
  EXPECT_EQ(lbset::FindKey("Edit", "Nothing"), nullptr);
  EXPECT_EQ(lbset::FindKey("Settings", "Extentions"), nullptr);  // it lives in "Edit"
}

TEST_F(SettingsKeys, HandEditedValuesAreReadSafely) {
  lbtest::WriteFile(env.IniPath(),
                    "[Settings]\nDblClkAction=7\nChangePositionVelocity=fast\nDocumentTitle=1\n"
                    "[Edit]\nWinamp=2\n");
  model.Load();
  EXPECT_EQ(model.Values().dblClkAction, 0);  // no such row: the first one
  EXPECT_EQ(model.Values().velocity, "30");   // no number: the default
  EXPECT_FALSE(model.Values().fullPathTitles);
  EXPECT_TRUE(model.Values().winamp);  // any nonzero integer is true
}

TEST(HotKeys, SlotsRoundTripThroughTheWinampSection) {
  FreshEnvironment env;
  TIniFile ini(lb::SettingsFilePath());
  THotKeySlots hotKeys{};
  hotKeys[0] = {0x4041, false};
  hotKeys[6] = {0x74, true};
  WriteHotKeys(ini, hotKeys);
  EXPECT_EQ(ini.ReadInteger("Winamp", "SpeedKey0", -1), 0x4041);
  EXPECT_EQ(ini.ReadString("Winamp", "SpeedKeyG6", ""), "1");
  EXPECT_EQ(ini.ReadString("Winamp", "SpeedKeyG0", ""), "0");
  EXPECT_EQ(ReadHotKeys(TIniFile(lb::SettingsFilePath())), hotKeys);
  EXPECT_EQ(HotKeySlotNames(), (QStringList{"BackWard", "Play", "Pause", "Stop", "Forward",
                                            "Show Audacious", "Show Volume Reg"}));
}

TEST(HotKeys, ShortCutCodesFollowTheVirtualKeyLayout) {
  EXPECT_EQ(ShortCutFromKey(QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_A)),
            0x6041);
  EXPECT_EQ(ShortCutFromKey(QKeyCombination(Qt::AltModifier, Qt::Key_Left)), 0x8025);
  EXPECT_EQ(ShortCutFromKey(QKeyCombination(Qt::Key_F5)), 0x74);
  EXPECT_EQ(ShortCutFromKey(QKeyCombination(Qt::Key_7)), 0x37);
  EXPECT_EQ(ShortCutFromKey(QKeyCombination(Qt::Key_MediaNext)), 0xB0);
  // Nothing to store for these.
  EXPECT_EQ(ShortCutFromKey(QKeyCombination(Qt::MetaModifier, Qt::Key_A)), 0);
  EXPECT_EQ(ShortCutFromKey(QKeyCombination(Qt::Key_Launch0)), 0);

  EXPECT_EQ(KeyFromShortCut(0x6041),
            QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_A));
  EXPECT_EQ(KeyFromShortCut(0).key(), Qt::Key(0));
  EXPECT_EQ(KeyFromShortCut(0x4000).key(), Qt::Key(0));  // a modifier without a key
  EXPECT_EQ(KeyFromShortCut(0x61).key(), Qt::Key_1);     // the numeric pad's 1
}

TEST(HotKeys, EveryStorableCodeRoundTrips) {
  for (int vk = 1; vk < 256; ++vk) {
    for (uint16_t mods : {0, 0x2000, 0x4000, 0x8000, 0xE000}) {
      const uint16_t code = static_cast<uint16_t>(vk | mods);
      const QKeyCombination key = KeyFromShortCut(code);
      if (key.key() == Qt::Key(0)) continue;
      const uint16_t back = ShortCutFromKey(key);
      // Keys with two codes (numeric pad, Enter) come back as their main code.
      EXPECT_EQ(KeyFromShortCut(back), key) << std::hex << code;
      EXPECT_EQ(back & 0xE000, mods) << std::hex << code;
    }
  }
}

TEST_F(SettingsModelTest, ValidationRunsInOrderAndStopsAtTheFirstFailure) {
  MakeValid();
  TSettingsValues& v = model.Values();
  EXPECT_EQ(model.Validate(), "");

  v.extensions = "mp3, *.wav";
  v.winamp = true;
  v.winampPath = "/nonexistent/audacious";
  v.velocity = "0";
  EXPECT_EQ(model.Validate(), "Неправильно заданы расширения файлов");
  v.extensions = "mp3;ogg, flac";  // a semicolon is part of a valid extension
  EXPECT_EQ(model.Validate(), "По указанному пути файл программы Audacious отсутствует");
  v.winampPath = lbtest::NewTempDir();  // a folder is no program
  EXPECT_EQ(model.Validate(), "По указанному пути файл программы Audacious отсутствует");
  v.winampPath = MakeProgram("audacious");
  v.editorPathUsed = true;
  v.editorPath = "";
  EXPECT_EQ(model.Validate(), "По указанному пути файл просмотрщика листов отсутствует");
  v.editorPath = MakeProgram("viewer");
  EXPECT_EQ(model.Validate(), kVelocityMessage);
  v.velocity = "120";
  EXPECT_EQ(model.Validate(), "");
}

TEST_F(SettingsModelTest, EmptyExtensionsAreRefused) {
  MakeValid();
  for (const char* bad : {" , ", ";;;", "mp3, ;"}) {
    model.Values().extensions = bad;
    EXPECT_EQ(model.Validate(), "Неправильно заданы расширения файлов") << bad;
  }
}

TEST_F(SettingsModelTest, TagCodePageAndDrivesAreCheckedWrittenAndApplied) {
  const QString kDrivesMessage =
      "Неправильно заданы диски: нужна одна латинская буква и полный путь папки";
  MakeValid();
  TSettingsValues& v = model.Values();
  EXPECT_EQ(v.tagCodePage, 1251);
  v.tagCodePage = 65001;
  EXPECT_EQ(model.Validate(), "Неизвестная кодовая страница тэгов");
  v.tagCodePage = 1252;
  for (const TDriveFolders& bad :
       {TDriveFolders{{"DE", "/media"}}, TDriveFolders{{"Ж", "/media"}},
        TDriveFolders{{"D", "media"}}, TDriveFolders{{"D", "/a"}, {"d", "/b"}}}) {
    v.drives = bad;
    EXPECT_EQ(model.Validate(), kDrivesMessage);
  }
  v.drives = {{"e", " /media/e "}, {"D", "/media/music"}};
  ASSERT_TRUE(model.Accept(nullptr));
  EXPECT_EQ(ini.ReadInteger("Edit", "TagCodePage", 0), 1252);
  EXPECT_EQ(lb::CurrentTagCodePage(), 1252);
  EXPECT_EQ(ReadDriveFolders(ini), TDriveFolders({{"E", "/media/e"}, {"D", "/media/music"}}));
  // Taking a pair away rewrites the section.
  model.Load();
  model.Values().drives.removeFirst();
  model.Values().tagCodePage = 1251;
  ASSERT_TRUE(model.Accept(nullptr));
  EXPECT_EQ(ini.ReadSection("Drives"), QStringList{"D"});
  EXPECT_EQ(lb::CurrentTagCodePage(), 1251);
}

TEST_F(SettingsModelTest, VelocityMustBeAnIntegerThatMovesTheBar) {
  // Past 120 a wheel notch would never move the bar; a negative one turns it round.
  for (const char* bad : {"0", "-0", "+0", "00", "", " ", "abc", "5x", "1.5", "-121", "121",
                          "99999999999", "99999999999999"})
    EXPECT_FALSE(TSettingsModel::ParseVelocity(bad, nullptr)) << bad;
  int value = 0;
  EXPECT_TRUE(TSettingsModel::ParseVelocity(" 12 ", &value));
  EXPECT_EQ(value, 12);
  for (const char* good : {"1", "+1", "120", "-5", "-120"})
    EXPECT_TRUE(TSettingsModel::ParseVelocity(good, nullptr)) << good;
}

TEST_F(SettingsModelTest, RefusedOkShowsTheErrorAndWritesNothing) {
  MakeValid();
  model.Values().velocity = "-0";
  model.Values().hotKeys[2] = {0x74, true};
  EXPECT_FALSE(model.Accept(&effects));
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(ui.Messages()[0].text, kVelocityMessage);
  EXPECT_EQ(ui.Messages()[0].caption, "LBTools");
  EXPECT_EQ(ui.Messages()[0].flags & MB_ICONMASK, unsigned(MB_ICONERROR));
  EXPECT_FALSE(QFileInfo::exists(env.IniPath()));
  EXPECT_TRUE(effects.calls.isEmpty());

  // Valid values the settings file cannot take: said, and the dialog stays open.
  ui.ClearMessages();
  model.Values().velocity = "30";
  lbtest::ReadOnlyFolder readOnly(env.Dir());
  if (!readOnly.Ok()) GTEST_SKIP() << "no way to make a folder read-only here";
  EXPECT_FALSE(model.Accept(&effects));
  EXPECT_EQ(ui.Texts(), QStringList{"Файл настроек не записан: " + env.IniPath()});
  EXPECT_EQ(ui.Messages()[0].flags & MB_ICONMASK, unsigned(MB_ICONERROR));
  EXPECT_TRUE(effects.calls.isEmpty());
}

TEST_F(SettingsModelTest, OkWritesEveryKeyAndAppliesTheEffectsInOrder) {
  MakeValid();
  TSettingsValues& v = model.Values();
  v.extensions = "mp3, ogg";
  v.scanUseLinks = false;
  v.fullPathTitles = false;
  v.fullPathsInsert = false;
  v.cutNonPresent = true;
  v.winamp = true;
  v.winampPath = MakeProgram("audacious");
  v.editorPathUsed = true;
  v.editorPath = MakeProgram("viewer");
  v.velocity = " 7";
  v.dblClkAction = 1;
  v.hotKeys[1] = {0x4050, false};
  v.hotKeys[4] = {0x74, false};
  ASSERT_TRUE(model.Accept(&effects));
  EXPECT_TRUE(ui.Messages().isEmpty());

  TIniFile check(lb::SettingsFilePath());
  EXPECT_EQ(check.ReadString("Edit", "Extentions", ""), "mp3, ogg");
  EXPECT_EQ(check.ReadString("Settings", "ScanUseLinks", ""), "0");
  EXPECT_EQ(check.ReadString("Settings", "DocumentTitle", ""), "1");  // inverted box
  EXPECT_EQ(check.ReadString("Edit", "FullPathsInsert", ""), "0");
  EXPECT_EQ(check.ReadString("Edit", "CutNonPresent", ""), "1");
  EXPECT_EQ(check.ReadString("Edit", "Winamp", ""), "1");
  EXPECT_EQ(check.ReadString("Edit", "Winamp_path", ""), v.winampPath);
  EXPECT_EQ(check.ReadString("Settings", "EditorPathUsed", ""), "1");
  EXPECT_EQ(check.ReadString("Settings", "EditorPath", ""), v.editorPath);
  EXPECT_EQ(check.ReadString("Settings", "ChangePositionVelocity", ""), "7");
  EXPECT_EQ(check.ReadString("Settings", "DblClkAction", ""), "1");
  EXPECT_EQ(check.ReadString("Winamp", "SpeedKey1", ""), QString::number(0x4050));
  EXPECT_EQ(check.ReadString("Winamp", "SpeedKey4", ""), QString::number(0x74));
  // Read-only keys stay unwritten.
  EXPECT_FALSE(check.ValueExists("Settings", "UseDBFiles"));
  EXPECT_FALSE(check.ValueExists("Edit", "WinampToolBarVisible"));

  EXPECT_EQ(effects.calls,
            (QStringList{"Retitle", "EditorPathUsed", "ReinitPlayer", "ApplyHotKeys"}));
  EXPECT_TRUE(effects.editorPathUsed);
  EXPECT_EQ(effects.applied, v.hotKeys);
}

TEST_F(SettingsModelTest, GlobalSlotNeedsTheHookLibrary) {
  MakeValid();
  model.Values().hotKeys[5] = {0x74, true};
  ASSERT_TRUE(model.Accept(&effects));
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(ui.Messages()[0].text,
            "Для глобального отслеживания клавиш необходима библиотека LBHook.dll");
  EXPECT_EQ(ui.Messages()[0].flags & MB_ICONMASK, unsigned(MB_ICONINFORMATION));
  EXPECT_FALSE(effects.calls.contains("InstallHook"));
  // The keys are still saved and the local slots still applied.
  EXPECT_EQ(TIniFile(lb::SettingsFilePath()).ReadString("Winamp", "SpeedKeyG5", ""), "1");
  EXPECT_TRUE(effects.calls.contains("ApplyHotKeys"));

  ui.ClearMessages();
  effects.calls.clear();
  effects.hookLibrary = true;
  ASSERT_TRUE(model.Accept(&effects));
  EXPECT_TRUE(ui.Messages().isEmpty());
  ASSERT_FALSE(effects.calls.empty());
  EXPECT_EQ(effects.calls.last(), "InstallHook");
}

TEST_F(SettingsModelTest, WithoutAMainWindowOnlyTheFileChanges) {
  MakeValid();
  model.Values().hideMainWindow = true;
  ASSERT_TRUE(model.Accept(nullptr));
  EXPECT_EQ(TIniFile(lb::SettingsFilePath()).ReadString("Settings", "HideMainWindow", ""), "1");
}

TEST(LocateWinamp, FindsThePlayerOnPath) {
  {
    FakePath path(true);
    QString found;
    ASSERT_TRUE(LocateWinamp(&found));
    EXPECT_EQ(found, path.Player());
  }
  {
    FakePath path(false);
    QString found = "untouched";
    EXPECT_FALSE(LocateWinamp(&found));
    EXPECT_EQ(found, "untouched");
  }
}
