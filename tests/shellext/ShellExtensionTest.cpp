// The handler in this process: the hand-over list it builds, its menu item and help
// text, and the one list at a time.
#include "ShellTestUtil.h"
#include "platform/NamedObjects.h"
#include "platform/Registry.h"
#include "platform/ScriptedUiServices.h"

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

TEST_F(ShellExtensionTest, SelectionsWithoutUsablePathsAreRefused) {
  TExtension e = TExtension::Create();
  EXPECT_EQ(e.Initialize({}), E_INVALIDARG);
  EXPECT_EQ(e.init->Initialize(nullptr, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(e.Initialize({"/tmp/y.mp3", " "}), E_INVALIDARG);
}

// A running program played by this process: its instance event, its window's port in
// the run-time key, and a hand-over handler that reads the mapping and answers from a
// script (1 takes the part, 0 refuses it).
TEST_F(ShellExtensionTest, LargeSelectionsGoInPartsAndEveryFailureIsTold) {
  lb::TNamedEvent instance;
  ASSERT_EQ(instance.Create("{B14B566D-EDD6-4f5c-8E7D-7A0E22BC0FE4}", false, true),
            lb::TCreateResult::Created);
  QList<QStringList> parts;
  QList<int64_t> answers;
  lb::TMessagePort window;
  const lb::TPortHandle port = window.Register([&](uint32_t msg, uint64_t size, int64_t) {
    lb::TNamedMapping mapping;
    if (msg != 0x8002 || !mapping.Open(kMapping, int64_t(size))) return int64_t(0);
    QStringList paths;
    for (const QByteArray& path : mapping.Data().split('\0'))
      if (!path.isEmpty()) paths << QString::fromUtf8(path);
    parts << paths;
    return answers.isEmpty() ? int64_t(1) : answers.takeFirst();
  });
  ASSERT_NE(port, 0);
  {
    TRegistry reg(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey("\\Software\\Corvane\\Lyrabox Tools", true));
    ASSERT_TRUE(reg.WriteString("HandleToMainWindow", QString::number(port)));
  }
  ScriptedUiServices ui;
  QStringList selection;
  for (int n = 0; n < 20001; ++n) selection << QString("/музыка/%1.mp3").arg(n);

  TExtension e = TExtension::Create();
  ASSERT_EQ(e.Initialize(selection), S_OK);
  EXPECT_EQ(e.Invoke(), S_OK);
  ASSERT_EQ(parts.size(), 2);
  EXPECT_EQ(parts[0] + parts[1], selection);
  EXPECT_TRUE(ui.Messages().isEmpty());

  struct Case {
    QList<int64_t> answers;
    QString told;
  };
  for (const Case& c : {Case{{1, 0},
                             "Программа LBTools приняла только 20000 из 20001 файлов; "
                             "остальные не переданы."},
                        Case{{0}, "Программа LBTools не приняла файлы."}}) {
    ui.ClearMessages();
    answers = c.answers;
    ASSERT_EQ(e.Initialize(selection), S_OK);
    EXPECT_EQ(e.Invoke(), S_OK);
    ASSERT_EQ(ui.Messages().size(), 1);
    EXPECT_EQ(ui.Messages()[0].text, c.told);
    EXPECT_EQ(ui.Messages()[0].flags & MB_ICONMASK, unsigned(MB_ICONERROR));
  }
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
