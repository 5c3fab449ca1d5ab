// The settings dialog driven offscreen: filling, the dependencies between controls,
// the hot-key slot editor, validation on OK and what OK and Cancel leave in the file.
#include "SettingsTestUtil.h"
#include "lbtools3/settings/SettingsDialog.h"
#include "platform/ScriptedUiServices.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTabWidget>
#include <QTest>

using namespace settingstest;

namespace {

class PropertiesFormTest : public ::testing::Test {
 protected:
  FreshEnvironment env;
  ScriptedUiServices ui;
  TIniFile ini{lb::SettingsFilePath()};
  RecordingEffects effects;

  template <class T>
  static T* Find(QWidget& form, const char* name) {
    T* w = form.findChild<T*>(QLatin1String(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  static void ClickOk(QWidget& form) { Find<QPushButton>(form, "Button1")->click(); }
  static void ClickCancel(QWidget& form) { Find<QPushButton>(form, "Button2")->click(); }
  static void SelectSlot(QWidget& form, int row) {
    Find<QComboBox>(form, "ComboBox1")->setCurrentIndex(row);
  }
  static THotKeyEdit* HotKey(QWidget& form) { return Find<THotKeyEdit>(form, "HotKey1"); }
  static QCheckBox* Box(QWidget& form, const char* name) { return Find<QCheckBox>(form, name); }
  // Winamp work on with an existing player: the hot-key controls are enabled.
  void PlayerOn() {
    ini.WriteBool("Edit", "Winamp", true);
    ini.WriteString("Edit", "Winamp_path", MakeProgram("audacious"));
  }
};

}  // namespace

TEST_F(PropertiesFormTest, FillsEveryControlFromTheFile) {
  ini.WriteBool("Edit", "CutNonPresent", true);
  ini.WriteBool("Edit", "FastPlay", true);  // contradicts the line above: cut wins
  ini.WriteBool("Settings", "DocumentTitle", true);
  ini.WriteString("Edit", "Extentions", "mp3, ogg");
  ini.WriteInteger("Settings", "ChangePositionVelocity", -7);
  ini.WriteInteger("Settings", "DblClkAction", 1);
  ini.WriteInteger("Winamp", "SpeedKey0", 0x4041);
  ini.WriteBool("Winamp", "SpeedKeyG0", true);
  effects.hookLibrary = true;
  TPropertiesForm form(nullptr, ini, &effects);

  EXPECT_EQ(form.windowTitle(), "Настройка");
  auto* tabs = Find<QTabWidget>(form, "PageControl1");
  ASSERT_EQ(tabs->count(), 3);
  EXPECT_EQ(tabs->tabText(0), "Общее");
  EXPECT_EQ(tabs->tabText(1), "Дополнительно");
  EXPECT_EQ(tabs->tabText(2), "Разное");
  EXPECT_EQ(Find<QPushButton>(form, "Button1")->text(), "Да");
  EXPECT_EQ(Find<QPushButton>(form, "Button2")->text(), "Отмена");

  EXPECT_EQ(Find<QLineEdit>(form, "Edit2")->text(), "mp3, ogg");
  EXPECT_TRUE(Box(form, "CheckBox11")->isChecked());
  EXPECT_FALSE(Box(form, "CheckBox9")->isChecked());
  EXPECT_FALSE(Box(form, "CheckBox9")->isEnabled());
  EXPECT_FALSE(Box(form, "CheckBox12")->isChecked());  // inverted DocumentTitle
  EXPECT_TRUE(Box(form, "CheckBox7")->isChecked());    // FullPathsInsert default
  EXPECT_EQ(Box(form, "CheckBox11")->text(), "Вырезать отсутствующее при загрузке листа");
  EXPECT_EQ(Find<QLineEdit>(form, "EditVelocity")->text(), "-7");
  EXPECT_EQ(Find<QComboBox>(form, "ComboBoxDblClkAction")->currentText(), "Редактировать тэги");
  EXPECT_EQ(Find<QLabel>(form, "HookLabel")->text(), "загружена");

  // The first slot is shown; Winamp work is off, so its controls are disabled.
  EXPECT_EQ(form.ShownSlot(), 0);
  EXPECT_EQ(Find<QComboBox>(form, "ComboBox1")->currentText(), "BackWard");
  EXPECT_EQ(HotKey(form)->ShortCut(), 0x4041);
  EXPECT_TRUE(Box(form, "CheckBox10")->isChecked());
  for (const char* name : {"Edit3", "ComboBox1", "HotKey1", "CheckBox10", "BrowseWinampBtn",
                           "HookLabel", "EditorPath", "BrowseEditBtn"})
    EXPECT_FALSE(Find<QWidget>(form, name)->isEnabled()) << name;
  EXPECT_TRUE(ui.Messages().isEmpty());
}

TEST_F(PropertiesFormTest, CutMissingFilesExcludesFastPlay) {
  TPropertiesForm form(nullptr, ini, nullptr);
  QCheckBox* fast = Box(form, "CheckBox9");
  QCheckBox* cut = Box(form, "CheckBox11");
  fast->click();
  ASSERT_TRUE(fast->isChecked());
  cut->click();
  EXPECT_FALSE(fast->isChecked());
  EXPECT_FALSE(fast->isEnabled());
  cut->click();
  EXPECT_TRUE(fast->isEnabled());
  EXPECT_FALSE(fast->isChecked());  // given back unchecked

  cut->click();
  ClickOk(form);
  EXPECT_EQ(ini.ReadString("Edit", "CutNonPresent", ""), "1");
  EXPECT_EQ(ini.ReadString("Edit", "FastPlay", ""), "0");
}

TEST_F(PropertiesFormTest, VelocityMustBeAnIntegerInItsRange) {
  for (const char* bad : {"0", "-121", "abc"}) {
    ui.ClearMessages();
    TPropertiesForm form(nullptr, ini, &effects);
    Find<QLineEdit>(form, "EditVelocity")->setText(bad);
    ClickOk(form);
    EXPECT_NE(form.result(), QDialog::Accepted) << bad;
    ASSERT_EQ(ui.Messages().size(), 1) << bad;
    EXPECT_EQ(ui.Messages()[0].text,
              "Замедление перемещения указателя проигрываемой песни должно быть не нулевым "
              "числом\nДопустимы целые числа от -120 до 120, кроме 0.");
    EXPECT_EQ(ui.Messages()[0].caption, "LBTools");
    EXPECT_FALSE(QFileInfo::exists(env.IniPath())) << bad;
  }
  EXPECT_TRUE(effects.calls.isEmpty());

  ui.ClearMessages();
  TPropertiesForm form(nullptr, ini, &effects);
  Find<QLineEdit>(form, "EditVelocity")->setText("7");
  ClickOk(form);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_TRUE(ui.Messages().isEmpty());
  EXPECT_EQ(ini.ReadInteger("Settings", "ChangePositionVelocity", 0), 7);
  EXPECT_TRUE(effects.calls.contains("Retitle"));
  EXPECT_TRUE(effects.calls.contains("ReinitPlayer"));
}

TEST_F(PropertiesFormTest, HotKeyRowsKeepTheirEditsUntilCancel) {
  PlayerOn();
  const QByteArray before = lbtest::ReadFile(env.IniPath());
  {
    TPropertiesForm form(nullptr, ini, &effects);
    SelectSlot(form, 1);
    QTest::keyClick(HotKey(form), Qt::Key_P, Qt::ControlModifier);
    Box(form, "CheckBox10")->click();
    SelectSlot(form, 3);
    QTest::keyClick(HotKey(form), Qt::Key_F5);
    SelectSlot(form, 0);
    SelectSlot(form, 1);
    EXPECT_EQ(HotKey(form)->ShortCut(), 0x4050);
    EXPECT_TRUE(Box(form, "CheckBox10")->isChecked());
    SelectSlot(form, 3);
    EXPECT_EQ(HotKey(form)->ShortCut(), 0x74);
    EXPECT_FALSE(Box(form, "CheckBox10")->isChecked());
    ClickCancel(form);
    EXPECT_EQ(form.result(), QDialog::Rejected);
  }
  EXPECT_EQ(lbtest::ReadFile(env.IniPath()), before);
  EXPECT_TRUE(effects.calls.isEmpty());

  TPropertiesForm form(nullptr, ini, &effects);
  SelectSlot(form, 1);
  EXPECT_EQ(HotKey(form)->ShortCut(), 0);
  QTest::keyClick(HotKey(form), Qt::Key_P, Qt::ControlModifier);
  Box(form, "CheckBox10")->click();
  SelectSlot(form, 6);
  QTest::keyClick(HotKey(form), Qt::Key_Up, Qt::AltModifier | Qt::ShiftModifier);
  // OK stores the row still shown.
  ClickOk(form);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(ini.ReadInteger("Winamp", "SpeedKey1", 0), 0x4050);
  EXPECT_TRUE(ini.ReadBool("Winamp", "SpeedKeyG1", false));
  EXPECT_EQ(ini.ReadInteger("Winamp", "SpeedKey6", 0), 0xA026);
  EXPECT_FALSE(ini.ReadBool("Winamp", "SpeedKeyG6", true));
  EXPECT_EQ(effects.applied[1], (THotKeySlot{0x4050, true}));
  EXPECT_EQ(effects.applied[6], (THotKeySlot{0xA026, false}));
  // A global slot without the key library is saved and explained.
  EXPECT_EQ(ui.Texts(),
            QStringList{"Для глобального отслеживания клавиш необходима библиотека LBHook.dll"});
}

TEST_F(PropertiesFormTest, HotKeyEditorTakesOneCombinationAndClearsOnBackspace) {
  PlayerOn();
  TPropertiesForm form(nullptr, ini, nullptr);
  THotKeyEdit* edit = HotKey(form);
  EXPECT_EQ(edit->text(), "Нет");
  QTest::keyClick(edit, Qt::Key_Control, Qt::ControlModifier);  // a modifier alone
  EXPECT_EQ(edit->ShortCut(), 0);
  QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier | Qt::AltModifier);
  EXPECT_EQ(edit->ShortCut(), 0xC041);
  EXPECT_NE(edit->text(), "Нет");
  QTest::keyClick(edit, Qt::Key_Backspace);
  EXPECT_EQ(edit->ShortCut(), 0);
  EXPECT_EQ(edit->text(), "Нет");
}

TEST_F(PropertiesFormTest, WinampBoxEnablesItsControlsAndLocatesThePlayer) {
  FakePath path(true);
  ini.WriteBool("Edit", "Winamp", true);  // on, but no path: filling does not look
  {
    TPropertiesForm form(nullptr, ini, nullptr);
    EXPECT_EQ(Find<QLineEdit>(form, "Edit3")->text(), "");
    EXPECT_TRUE(Find<QWidget>(form, "Edit3")->isEnabled());
    EXPECT_TRUE(Find<QWidget>(form, "ComboBox1")->isEnabled());
    // Unchecked and checked again past the filling: the player is looked for.
    Box(form, "CheckBox8")->click();
    EXPECT_FALSE(Find<QWidget>(form, "HotKey1")->isEnabled());
    Box(form, "CheckBox8")->click();
    EXPECT_EQ(Find<QLineEdit>(form, "Edit3")->text(), path.Player());
    ClickOk(form);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(ini.ReadString("Edit", "Winamp_path", ""), path.Player());
  }
  ini.WriteBool("Edit", "Winamp", false);
  ini.WriteString("Edit", "Winamp_path", "/chosen/player");
  TPropertiesForm form(nullptr, ini, nullptr);
  Box(form, "CheckBox8")->click();
  EXPECT_EQ(Find<QLineEdit>(form, "Edit3")->text(), "/chosen/player");  // kept
  ClickOk(form);
  EXPECT_EQ(ui.Texts(), QStringList{"По указанному пути файл программы Audacious отсутствует"});
  // The path field is brought up, selected for retyping.
  EXPECT_EQ(Find<QLineEdit>(form, "Edit3")->selectedText(), "/chosen/player");
}

TEST_F(PropertiesFormTest, BrowseButtonsFillTheirOwnFields) {
  FakePath path(false);
  TPropertiesForm form(nullptr, ini, nullptr);
  Box(form, "CheckBox8")->click();
  Box(form, "CheckBox5")->click();
  EXPECT_TRUE(Find<QWidget>(form, "EditorPath")->isEnabled());
  ui.NextOpenFileNames({"/usr/bin/viewer"});
  Find<QPushButton>(form, "BrowseEditBtn")->click();
  EXPECT_EQ(Find<QLineEdit>(form, "EditorPath")->text(), "/usr/bin/viewer");
  EXPECT_EQ(Find<QLineEdit>(form, "Edit3")->text(), "");
  ui.NextOpenFileNames({"/usr/bin/player"});
  Find<QPushButton>(form, "BrowseWinampBtn")->click();
  EXPECT_EQ(Find<QLineEdit>(form, "Edit3")->text(), "/usr/bin/player");
  EXPECT_EQ(Find<QLineEdit>(form, "EditorPath")->text(), "/usr/bin/viewer");
}

TEST_F(PropertiesFormTest, ShellButtonsRefuseAnEmptyExtensionText) {
  TPropertiesForm form(nullptr, ini, nullptr);
  Find<QLineEdit>(form, "Edit2")->setText(" ");
  Find<QPushButton>(form, "BtnActive")->click();
  Find<QPushButton>(form, "BtnDeactive")->click();
  EXPECT_EQ(ui.Texts(), (QStringList{"Неправильно заданы расширения файлов",
                                     "Неправильно заданы расширения файлов"}));
  ClickOk(form);
  EXPECT_EQ(ui.Texts().size(), 3);
  EXPECT_FALSE(QFileInfo::exists(env.IniPath()));
}

TEST_F(PropertiesFormTest, TagCodePageAndDriveTableRoundTrip) {
  ini.WriteInteger("Edit", "TagCodePage", 1252);
  ini.WriteString("Drives", "D", "/media/music");
  TPropertiesForm form(nullptr, ini, &effects);
  auto* pages = Find<QComboBox>(form, "ComboBoxTagCodePage");
  auto* table = Find<QTableWidget>(form, "DrivesTable");
  ASSERT_TRUE(pages && table);
  EXPECT_EQ(pages->currentData().toInt(), 1252);
  ASSERT_EQ(table->rowCount(), 1);
  EXPECT_EQ(table->item(0, 0)->text(), "D");
  EXPECT_EQ(table->item(0, 1)->text(), "/media/music");

  // A bad row keeps the dialog open and writes nothing.
  Find<QPushButton>(form, "AddDriveBtn")->click();
  table->item(1, 0)->setText("EF");
  table->item(1, 1)->setText("/mnt/e");
  ClickOk(form);
  ASSERT_FALSE(ui.Texts().empty());
  EXPECT_EQ(ui.Texts().last(),
            "Неправильно заданы диски: нужна одна латинская буква и полный путь папки");
  EXPECT_EQ(ini.ReadSection("Drives"), QStringList{"D"});

  table->item(1, 0)->setText("e");
  table->setCurrentCell(0, 0);
  Find<QPushButton>(form, "DeleteDriveBtn")->click();
  pages->setCurrentIndex(pages->findData(1251));
  ClickOk(form);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(ini.ReadInteger("Edit", "TagCodePage", 0), 1251);
  EXPECT_EQ(ini.ReadSection("Drives"), QStringList{"E"});
  EXPECT_EQ(ini.ReadString("Drives", "E", ""), "/mnt/e");
}
