// Start-up rules without windows: the switches, the hand-over payload, the hot-key
// slots, the run-time registry key and the stored window layout.
#include "TestEnv.h"

#include "lbtools3/app/StartUp.h"
#include "lbtools3/app/WindowLayout.h"
#include "platform/IniFile.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

namespace {

TEST(StartUp, SwitchesAreComparedByteForByte) {
  using lb::TStartMode;
  EXPECT_EQ(lb::ClassifyCommandLine("/shell_register"), TStartMode::ShellRegister);
  EXPECT_EQ(lb::ClassifyCommandLine("/shell_unregister"), TStartMode::ShellUnregister);
  EXPECT_EQ(lb::ClassifyCommandLine("/shell_invoke"), TStartMode::ShellInvoke);
  for (const char* plain :
       {"", "/SHELL_INVOKE", "/shell_invokeX", "/shell_invoke ", "a.m3u", " /shell_register"})
    EXPECT_EQ(lb::ClassifyCommandLine(plain), TStartMode::Normal) << plain;
  EXPECT_EQ(lb::JoinCommandLine({"lbtools3", "/shell_invoke"}), "/shell_invoke");
  EXPECT_EQ(lb::JoinCommandLine({"lbtools3"}), "");
}

TEST(StartUp, HandOverPayload) {
  const QString ten = "/m/123.mp3";
  const QString twenty = "/music/abcdefgh.mp3x";
  ASSERT_EQ(ten.size(), 10);
  ASSERT_EQ(twenty.size(), 20);
  const QByteArray payload = lb::BuildHandOverPayload({ten, twenty});
  EXPECT_EQ(payload.size(), 33);
  EXPECT_EQ(lb::ParseHandOverPaths(payload), QStringList({ten, twenty}));
  EXPECT_TRUE(lb::ParseHandOverPaths(QByteArray(1, '\0')).isEmpty());
  EXPECT_TRUE(lb::ParseHandOverPaths(QByteArray()).isEmpty());
  // A path without its terminator (a cut mapping) is not taken.
  EXPECT_EQ(lb::ParseHandOverPaths(QByteArray("/a.mp3\0/b.m", 11)), QStringList({"/a.mp3"}));
  EXPECT_EQ(lb::ParseHandOverPaths(lb::BuildHandOverPayload({"/музыка/песня.mp3"})),
            QStringList({"/музыка/песня.mp3"}));
}

TEST(StartUp, HotKeySlots) {
  TIniFile ini(lbtest::NewTempDir() + "/hot.ini");
  const uint16_t ctrlP = 0x4000 | 'P';
  ini.WriteInteger("Winamp", "SpeedKey1", ctrlP);
  ini.WriteBool("Winamp", "SpeedKeyG1", true);
  ini.WriteInteger("Winamp", "SpeedKey3", ctrlP);
  ini.WriteBool("Winamp", "SpeedKeyG3", true);
  ini.WriteInteger("Winamp", "SpeedKey4", 0x2000 | 0x70);  // Shift+F1, local
  const THotKeySlots hotKeys = ReadHotKeys(ini);
  EXPECT_EQ(lb::SlotsForHotKeyMessage(hotKeys, ctrlP), QList<int>({1, 3}));
  EXPECT_TRUE(lb::SlotsForHotKeyMessage(hotKeys, 0x2000 | 0x70).isEmpty());
  EXPECT_TRUE(lb::SlotsForHotKeyMessage(hotKeys, 0).isEmpty());
}

TEST(StartUp, RunTimeKeyExistsOnlyWhileRunning) {
  int64_t handle = 0;
  lb::DeleteRunTimeKey();
  EXPECT_FALSE(lb::ReadApplicationHandle(&handle));
  ASSERT_TRUE(lb::WriteRunTimeHandles(0x100000002LL, 77));
  EXPECT_TRUE(lb::ReadApplicationHandle(&handle));
  EXPECT_EQ(handle, 77);
  lb::DeleteRunTimeKey();
  EXPECT_FALSE(TRegistry(HKEY_CURRENT_USER).KeyExists(lb::kRunTimeKey));
}

TEST(WindowLayout, RestoredWindowIsMovedAndSizedToFitTheWorkArea) {
  const QRect work(0, 0, 1280, 1000);
  EXPECT_EQ(lb::ClampToWorkArea(QRect(3000, 2000, 800, 600), work), QRect(480, 400, 800, 600));
  EXPECT_EQ(lb::ClampToWorkArea(QRect(10, 10, 2000, 1500), work), QRect(0, 0, 1280, 1000));
  EXPECT_EQ(lb::ClampToWorkArea(QRect(100, 100, 800, 600), work), QRect(100, 100, 800, 600));
  // Partly off any edge (a smaller screen, a panel on the left).
  EXPECT_EQ(lb::ClampToWorkArea(QRect(900, 700, 800, 600), work), QRect(480, 400, 800, 600));
  EXPECT_EQ(lb::ClampToWorkArea(QRect(-300, -20, 800, 600), QRect(40, 0, 1240, 1000)),
            QRect(40, 0, 800, 600));
}

TEST(WindowLayout, MaximisedWindowKeepsTheNormalPlacement) {
  TIniFile ini(lbtest::NewTempDir() + "/pos.ini");
  lb::WriteWindowPlacement(ini, {0, QRect(10, 20, 300, 200)});
  lb::WriteWindowPlacement(ini, {2, QRect(0, 0, 1280, 1000)});
  const lb::TWindowPlacement back = lb::ReadWindowPlacement(ini, {0, QRect(1, 1, 1, 1)});
  EXPECT_EQ(back.state, 2);
  EXPECT_EQ(back.normal, QRect(10, 20, 300, 200));
}

TEST(WindowLayout, ToolBarPlacementRoundTrip) {
  TIniFile ini(lbtest::NewTempDir() + "/bars.ini");
  lb::TToolBarPlacement docked;
  docked.dock = 3;
  docked.dockRow = 1;
  docked.dockPos = 40;
  docked.visible = false;
  lb::WriteToolBarPlacement(ini, "MainToolBar", docked, true);
  lb::TToolBarPlacement back = lb::ReadToolBarPlacement(ini, "MainToolBar", true);
  EXPECT_EQ(back.dock, 3);
  EXPECT_EQ(back.dockRow, 1);
  EXPECT_EQ(back.dockPos, 40);
  EXPECT_FALSE(back.visible);
  // The menu bar's visibility is neither stored nor read.
  lb::WriteToolBarPlacement(ini, "MenuToolBar", docked, false);
  EXPECT_FALSE(ini.ValueExists("Position", "MenuToolBarVisible"));
  EXPECT_TRUE(lb::ReadToolBarPlacement(ini, "MenuToolBar", false).visible);
  // Floating bars keep their position; a bad dock number falls back to the top.
  lb::TToolBarPlacement floating;
  floating.floating = true;
  floating.x = 500;
  floating.y = 60;
  lb::WriteToolBarPlacement(ini, "WinampToolBar", floating, true);
  back = lb::ReadToolBarPlacement(ini, "WinampToolBar", true);
  EXPECT_TRUE(back.floating);
  EXPECT_EQ(back.x, 500);
  ini.WriteInteger("Position", "MainToolBarDock", 9);
  EXPECT_EQ(lb::ReadToolBarPlacement(ini, "MainToolBar", true).dock, 0);
}

}  // namespace
