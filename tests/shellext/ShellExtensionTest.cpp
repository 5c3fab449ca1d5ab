// The handler in this process: the hand-over list it builds, its menu item and help
// text, and the one list at a time.
#include "ShellTestUtil.h"
#include "platform/NamedObjects.h"
#include "platform/Registry.h"

using namespace shelltest;

namespace {

const QString kMapping = "{311A82FE-1F4B-4102-9E74-4086CE1CB596}";

class ShellExtensionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    ASSERT_TRUE(RegisterServer());
  }
  void TearDown() override { CoUninitialize(); }
};

}  // namespace

TEST_F(ShellExtensionTest, RegistrationNamesTheClassItsLibraryAndItsTypeLibrary) {
  TRegistry reg(HKEY_CLASSES_ROOT);
  const QString clsid = "\\CLSID\\{ABAAD706-08C2-4290-A3A7-A6E7CE36A433}";
  ASSERT_TRUE(reg.OpenKeyReadOnly(clsid + "\\InprocServer32"));
  EXPECT_EQ(QFileInfo(reg.ReadString("")).canonicalFilePath(),
            QFileInfo(ServerPath()).canonicalFilePath());
  EXPECT_EQ(reg.ReadString("ThreadingModel"), "Apartment");
  ASSERT_TRUE(reg.OpenKeyReadOnly("\\LBShellExtention.LBShellExtentionClass\\CLSID"));
  EXPECT_EQ(reg.ReadString(""), "{ABAAD706-08C2-4290-A3A7-A6E7CE36A433}");
  ASSERT_TRUE(reg.OpenKeyReadOnly("\\TypeLib\\{9ADBD772-7C66-4521-8B96-5BA0BD188C48}\\1.0"));
  EXPECT_EQ(reg.ReadString(""), "LBShellExtention Library");
  // No shell keys: those belong to the program's registration.
  EXPECT_FALSE(reg.KeyExists("\\.mp3"));
}

TEST_F(ShellExtensionTest, InitializeWritesThePathsForTheProgram) {
  TExtension e = TExtension::Create();
  ASSERT_TRUE(e.init);
  const QString shortPath = "/tmp/a.mp3", longPath = "/tmp/lbt/song-02.mp3";
  ASSERT_EQ(e.Initialize({shortPath, longPath}), S_OK);
  lb::TNamedMapping reader;
  ASSERT_TRUE(reader.Open(kMapping));
  EXPECT_EQ(reader.Data(), QByteArray("/tmp/a.mp3\0/tmp/lbt/song-02.mp3\0\0", 33));

  // A later selection of the same object replaces the list; Cyrillic goes as UTF-8.
  ASSERT_EQ(e.Initialize({"/музыка/б.mp3"}), S_OK);
  ASSERT_TRUE(reader.Open(kMapping));
  EXPECT_EQ(reader.Data(), QString("/музыка/б.mp3").toUtf8() + QByteArray(2, '\0'));
}

TEST_F(ShellExtensionTest, OneListAtATime) {
  TExtension first = TExtension::Create();
  TExtension second = TExtension::Create();
  ASSERT_EQ(first.Initialize({"/tmp/one.mp3"}), S_OK);
  EXPECT_EQ(second.Initialize({"/tmp/two.mp3"}), E_FAIL);
  // A refused selection drops nothing of the first one's.
  lb::TNamedMapping reader;
  ASSERT_TRUE(reader.Open(kMapping));
  EXPECT_EQ(reader.Data(), QByteArray("/tmp/one.mp3\0\0", 14));
  // Once the first object is gone the name is free again.
  first = {};
  EXPECT_EQ(second.Initialize({"/tmp/two.mp3"}), S_OK);
}

TEST_F(ShellExtensionTest, SelectionsWithoutUsablePathsAreRefused) {
  TExtension e = TExtension::Create();
  EXPECT_EQ(e.Initialize({}), E_INVALIDARG);
  EXPECT_EQ(e.init->Initialize(nullptr, nullptr, nullptr), E_INVALIDARG);
  // An empty path spoils the selection and drops an earlier list of the object.
  ASSERT_EQ(e.Initialize({"/tmp/x.mp3"}), S_OK);
  EXPECT_EQ(e.Initialize({"/tmp/y.mp3", " "}), E_INVALIDARG);
  EXPECT_FALSE(lb::TNamedMapping().Open(kMapping, 0, 1000));
}

TEST_F(ShellExtensionTest, MenuItemAndHelpText) {
  TExtension e = TExtension::Create();
  ComPtr<TShellMenu> menu;
  menu.Attach(new TShellMenu);
  EXPECT_EQ(e.menu->QueryContextMenu(menu.Get(), 0, 100, 200, CMF_DEFAULTONLY), S_OK);
  EXPECT_TRUE(menu->Items().isEmpty());
  EXPECT_EQ(e.menu->QueryContextMenu(menu.Get(), 0, 100, 200, CMF_NORMAL), 1);
  ASSERT_EQ(menu->Items().size(), 1);
  EXPECT_EQ(menu->Items()[0].commandId, 100u);
  EXPECT_EQ(menu->Items()[0].text, "Добавить файлы в LBTools");

  const QString help = "Запуск LBTools и добавление файлов в новый документ";
  char16_t wide[80] = {};
  ASSERT_EQ(e.menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(wide), 80),
            S_OK);
  EXPECT_EQ(QString::fromUtf16(wide), help);
  // Cut to the buffer, never in the middle of a character.
  char narrow[12] = {};
  ASSERT_EQ(e.menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, narrow, sizeof narrow), S_OK);
  EXPECT_EQ(QString::fromUtf8(narrow), "Запус");
  EXPECT_EQ(e.menu->GetCommandString(1, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(wide), 80),
            E_INVALIDARG);
  EXPECT_EQ(e.menu->GetCommandString(0, GCS_VERBA, nullptr, narrow, sizeof narrow), E_INVALIDARG);
  EXPECT_EQ(e.menu->GetCommandString(0, GCS_VALIDATEA, nullptr, narrow, sizeof narrow),
            E_INVALIDARG);
}
