// The shell registration: the library's own entry point, the context-menu keys per
// extension, the approved-extensions value and the file managers' action files. The
// COM test server plays the shell extension library.
#include "SettingsTestUtil.h"
#include "platform/Registry.h"
#include "platform/ScriptedUiServices.h"

#include <QFileInfo>

using namespace settingstest;

namespace {

const QString kClsid = "{ABAAD706-08C2-4290-A3A7-A6E7CE36A433}";
const QString kApproved =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const QString kHandlerKey = "\\ShellEx\\ContextMenuHandlers\\ShellLBTagsEditor";

class ShellRegistrationTest : public ::testing::Test {
 protected:
  FreshEnvironment env;
  ScriptedUiServices ui;
  TShellExtensionPaths paths{LB_FIXTURE_SERVER, "/opt/lb tools/lbshellhost"};

  static QString DefaultValue(lb::RootKey root, const QString& key) {
    TRegistry reg(root);
    return reg.OpenKeyReadOnly(key) ? reg.ReadString("") : QString("<missing>");
  }
  static bool KeyExists(lb::RootKey root, const QString& key) {
    return TRegistry(root).KeyExists(key);
  }
  QString DataFile(const QString& relative) const { return env.DataHome() + "/" + relative; }
  QString Dolphin() const { return DataFile("kio/servicemenus/lbtools3-shellext.desktop"); }
  QString Nemo() const { return DataFile("nemo/actions/lbtools3-shellext.nemo_action"); }
  QString Nautilus() const { return DataFile("nautilus/scripts/Добавить файлы в LBTools"); }
};

}  // namespace

TEST_F(ShellRegistrationTest, ExtensionWithoutFileTypeIsRegisteredAndRemovedCompletely) {
  TRegistry hklm(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(hklm.OpenKey(kApproved, true));

  ASSERT_TRUE(RegisterShellExtension(true, "mp3", paths));
  EXPECT_TRUE(ui.Messages().isEmpty());
  EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, "\\.mp3"), "mp3file");
  EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, "\\mp3file" + kHandlerKey), kClsid);
  EXPECT_EQ(hklm.ReadString(kClsid), "Расширение оболочки для программы LBTools");
  // The library registered its class (the fixture's own keys).
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "\\CLSID"));

  ASSERT_TRUE(QFileInfo::exists(Dolphin()));
  ASSERT_TRUE(QFileInfo::exists(Nemo()));
  ASSERT_TRUE(QFileInfo::exists(Nautilus()));
  EXPECT_TRUE(QFileInfo(Nautilus()).isExecutable());
  EXPECT_TRUE(QFileInfo(Dolphin()).isExecutable());
  const QString dolphin = QString::fromUtf8(lbtest::ReadFile(Dolphin()));
  EXPECT_TRUE(dolphin.contains("MimeType=audio/mpeg;")) << dolphin.toStdString();
  EXPECT_TRUE(dolphin.contains("Name=Добавить файлы в LBTools"));
  EXPECT_TRUE(dolphin.contains("Exec=\"/opt/lb tools/lbshellhost\" %F"));
  const QString nemo = QString::fromUtf8(lbtest::ReadFile(Nemo()));
  // The working files by their MIME type, lists and folders; nothing else.
  EXPECT_TRUE(nemo.contains("\nMimetypes=audio/mpeg;")) << nemo.toStdString();
  EXPECT_TRUE(nemo.contains(";inode/directory;\n")) << nemo.toStdString();
  EXPECT_TRUE(nemo.contains("Selection=notnone"));
  EXPECT_TRUE(QString::fromUtf8(lbtest::ReadFile(Nautilus()))
                  .contains("exec '/opt/lb tools/lbshellhost' \"$@\""));

  ASSERT_TRUE(RegisterShellExtension(false, "mp3", paths));
  EXPECT_TRUE(ui.Messages().isEmpty());
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "\\mp3file"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "\\.mp3"));
  EXPECT_FALSE(hklm.ValueExists(kClsid));
  EXPECT_TRUE(hklm.KeyExists(kApproved));
  for (const QString& file : {Dolphin(), Nemo(), Nautilus()}) EXPECT_FALSE(QFileInfo::exists(file));
}

TEST_F(ShellRegistrationTest, UnregisteringKeepsWhatOthersPutThere) {
  {
    TRegistry reg(HKEY_CLASSES_ROOT);
    ASSERT_TRUE(reg.OpenKey("\\.wav", true));
    reg.WriteString("", "Player.wav");
    reg.WriteString("Content Type", "audio/x-wav");
    ASSERT_TRUE(reg.OpenKey("\\Player.wav", true));
    reg.WriteString("", "Звук");
    ASSERT_TRUE(reg.OpenKey("\\Player.wav\\ShellEx\\ContextMenuHandlers\\Other", true));
    reg.WriteString("", "{00000000-0000-0000-0000-000000000001}");
  }
  ASSERT_TRUE(RegisterShellExtension(true, "wav", paths));
  EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, "\\.wav"), "Player.wav");  // type kept
  EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, "\\Player.wav" + kHandlerKey), kClsid);
  // No approved-extensions key: nothing is created there.
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kApproved));

  ASSERT_TRUE(RegisterShellExtension(false, "wav", paths));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "\\Player.wav" + kHandlerKey));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "\\Player.wav\\ShellEx\\ContextMenuHandlers\\Other"));
  EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, "\\Player.wav"), "Звук");
  EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, "\\.wav"), "Player.wav");

  // A type key that keeps a value of its own stays, and so does the extension.
  ASSERT_TRUE(RegisterShellExtension(true, "ogg", paths));
  {
    TRegistry reg(HKEY_CLASSES_ROOT);
    ASSERT_TRUE(reg.OpenKey("\\oggfile", false));
    reg.WriteString("", "Ogg");
  }
  ASSERT_TRUE(RegisterShellExtension(false, "ogg", paths));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "\\oggfile\\ShellEx"));
  EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, "\\oggfile"), "Ogg");
  EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, "\\.ogg"), "oggfile");
}

TEST_F(ShellRegistrationTest, UnregisteringWhatWasNeverRegisteredChangesNothing) {
  {
    TRegistry reg(HKEY_CLASSES_ROOT);
    ASSERT_TRUE(reg.OpenKey("\\.flac", true));
    reg.WriteString("", "flacfile");
    ASSERT_TRUE(reg.OpenKey("\\flacfile\\ShellEx\\ContextMenuHandlers", true));
  }
  ASSERT_TRUE(RegisterShellExtension(false, "flac, mp3", paths));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "\\flacfile\\ShellEx\\ContextMenuHandlers"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "\\.flac"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "\\.mp3"));
}

TEST_F(ShellRegistrationTest, ActionFilesServeTheExtensionsRegisteredSoFar) {
  ASSERT_TRUE(RegisterShellExtension(true, "mp3", paths));
  ASSERT_TRUE(RegisterShellExtension(true, "WAV, mp3", paths));
  const QString nemo = QString::fromUtf8(lbtest::ReadFile(Nemo()));
  EXPECT_TRUE(nemo.contains("audio/mpeg") && nemo.contains("wav")) << nemo.toStdString();
  const QString dolphin = QString::fromUtf8(lbtest::ReadFile(Dolphin()));
  EXPECT_TRUE(dolphin.contains("audio/mpeg")) << dolphin.toStdString();
  EXPECT_TRUE(dolphin.contains("wav")) << dolphin.toStdString();

  ASSERT_TRUE(RegisterShellExtension(false, "Mp3", paths));
  EXPECT_FALSE(QString::fromUtf8(lbtest::ReadFile(Nemo())).contains("audio/mpeg"));
  EXPECT_FALSE(QString::fromUtf8(lbtest::ReadFile(Dolphin())).contains("audio/mpeg"));
  ASSERT_TRUE(RegisterShellExtension(false, "wav", paths));
  EXPECT_FALSE(QFileInfo::exists(Nemo()));
  EXPECT_FALSE(QFileInfo::exists(Nautilus()));
}

TEST_F(ShellRegistrationTest, HostPathIsQuotedForTheDesktopEntry) {
  paths.host = "/opt/a\"b$c\\d%e/lbshellhost";
  ASSERT_TRUE(RegisterShellExtension(true, "mp3", paths));
  const QString nemo = QString::fromUtf8(lbtest::ReadFile(Nemo()));
  EXPECT_TRUE(nemo.contains("Exec=\"/opt/a\\\\\"b\\\\$c\\\\\\\\d%%e/lbshellhost\" %F\n"))
      << nemo.toStdString();
}

TEST_F(ShellRegistrationTest, ExtensionsComeFromTheSettingsWhenNoTextIsGiven) {
  TIniFile(lb::SettingsFilePath()).WriteString("Edit", "Extentions", "ape");
  ASSERT_TRUE(RegisterShellExtension(true, "", paths));
  EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, "\\.ape"), "apefile");
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "\\.mp3"));
}

TEST_F(ShellRegistrationTest, FailuresAreReportedAndChangeNothing) {
  TIniFile(lb::SettingsFilePath()).WriteString("Edit", "Extentions", "mp3, *.wav");
  EXPECT_FALSE(RegisterShellExtension(true, "", paths));
  EXPECT_FALSE(RegisterShellExtension(true, "mp3 .wav", paths));
  paths.library = lbtest::NewTempDir() + "/libLBShellExtention.so";  // not there
  EXPECT_FALSE(RegisterShellExtension(true, "mp3", paths));
  paths.library = LB_LIBRARY_WITHOUT_ENTRIES;
  EXPECT_FALSE(RegisterShellExtension(false, "mp3", paths));

  ASSERT_EQ(ui.Messages().size(), 4);
  EXPECT_EQ(ui.Texts(), (QStringList{"Неправильно заданы расширения файлов в файле конфигурации",
                                     "Неправильно заданы расширения файлов",
                                     "Не удаётся зарегистрировать/разрегистрировать библиотеку "
                                     "libLBShellExtention.so",
                                     "Не удаётся зарегистрировать/разрегистрировать библиотеку " +
                                         QFileInfo(LB_LIBRARY_WITHOUT_ENTRIES).fileName()}));
  for (const auto& m : ui.Messages()) {
    EXPECT_EQ(m.caption, "LBTools");
    EXPECT_EQ(m.flags & MB_ICONMASK, unsigned(MB_ICONERROR));
  }
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "\\.mp3"));
  EXPECT_FALSE(QFileInfo::exists(Nemo()));
}
