// The program's settings: every key of lbtools3.ini with its default, the hot-key
// slots, the logic of the settings dialog (filling, validation in order, writing and
// the effects on the main window), locating the player and the shell registration.
// QtCore only: the dialog (SettingsDialog.h) is a thin view over TSettingsModel.
#pragma once

#include "platform/IniFile.h"
#include "platform/MusicFormats.h"

#include <QKeyCombination>
#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

// ---------------------------------------------------------------------------------
// Keys and defaults

enum class TSettingType { Bool, Int, String };

// One key of the settings file. Booleans are stored as 1 and 0, integers in decimal.
struct TSettingKey {
  const char* section;
  const char* key;
  TSettingType type;
  const char* def;  // the default as it would be written ("1", "30", "mp3, wav")
};

namespace lbset {
// "Edit"
inline constexpr TSettingKey Winamp{"Edit", "Winamp", TSettingType::Bool, "0"};
inline constexpr TSettingKey WinampPath{"Edit", "Winamp_path", TSettingType::String, ""};
inline constexpr TSettingKey FastPlay{"Edit", "FastPlay", TSettingType::Bool, "0"};
inline constexpr TSettingKey CutNonPresent{"Edit", "CutNonPresent", TSettingType::Bool, "0"};
inline constexpr TSettingKey CheckDatabase{"Edit", "CheckDatabase", TSettingType::Bool, "0"};
inline constexpr TSettingKey FullPathsInsert{"Edit", "FullPathsInsert", TSettingType::Bool, "1"};
inline constexpr TSettingKey Extentions{"Edit", "Extentions", TSettingType::String,
                                        lb::kDefaultMusicExtensions};
// The legacy 8-bit code page of ID3v1 tags, ID3v2 text marked ISO-8859-1 and lists,
// data files and settings written on Windows (1251 Cyrillic, 1252 Latin-1...).
inline constexpr TSettingKey TagCodePage{"Edit", "TagCodePage", TSettingType::Int, "1251"};
// Read only: the program never writes it.
inline constexpr TSettingKey WinampToolBarVisible{"Edit", "WinampToolBarVisible",
                                                  TSettingType::Bool, "1"};
// "Settings"
inline constexpr TSettingKey EOTGenerateExtInf{"Settings", "EOTGenerateExtInf", TSettingType::Bool,
                                               "1"};
inline constexpr TSettingKey ScanUseLinks{"Settings", "ScanUseLinks", TSettingType::Bool, "1"};
inline constexpr TSettingKey ClearClipboard{"Settings", "ClearClipboard", TSettingType::Bool, "0"};
// true: document captions show the file name only; false: the full path.
inline constexpr TSettingKey DocumentTitle{"Settings", "DocumentTitle", TSettingType::Bool, "0"};
inline constexpr TSettingKey EditorPathUsed{"Settings", "EditorPathUsed", TSettingType::Bool, "0"};
inline constexpr TSettingKey EditorPath{"Settings", "EditorPath", TSettingType::String, ""};
inline constexpr TSettingKey HideMainWindow{"Settings", "HideMainWindow", TSettingType::Bool, "0"};
inline constexpr TSettingKey ChangePositionVelocity{"Settings", "ChangePositionVelocity",
                                                    TSettingType::Int, "30"};
inline constexpr TSettingKey DblClkAction{"Settings", "DblClkAction", TSettingType::Int, "0"};
// Read only: the program never writes it.
inline constexpr TSettingKey UseDBFiles{"Settings", "UseDBFiles", TSettingType::Bool, "1"};

// Section of the hot-key slots: "SpeedKey"i and "SpeedKeyG"i, i = 0..6.
inline constexpr const char* kWinampSection = "Winamp";
// Section of the drive letters of lists made on Windows: key = letter, value = the
// folder the drive stands for here ("D=/media/music").
inline constexpr const char* kDrivesSection = "Drives";

// The code pages the settings offer for TagCodePage, with their names.
QList<QPair<int, QString>> TagCodePageChoices();
// Reads TagCodePage and makes it the program's tag code page (start-up, the tool,
// the settings dialog); an unknown number keeps Windows-1251.
void ApplyTagCodePage(const TIniFile& ini);

// The keys above in table order (the command-line tool lists them).
const QList<TSettingKey>& AllKeys();
// The key of (section, key) without regard to case; nullptr when it is not one of the
// typed keys above.
const TSettingKey* FindKey(const QString& section, const QString& key);

bool ReadBool(const TIniFile& ini, const TSettingKey& k);
int ReadInt(const TIniFile& ini, const TSettingKey& k);
QString ReadString(const TIniFile& ini, const TSettingKey& k);
bool WriteBool(TIniFile& ini, const TSettingKey& k, bool value);
bool WriteInt(TIniFile& ini, const TSettingKey& k, int value);
bool WriteString(TIniFile& ini, const TSettingKey& k, const QString& value);
// The value as text with the default applied (booleans and integers normalised).
QString ReadAsText(const TIniFile& ini, const TSettingKey& k);
}  // namespace lbset

// ---------------------------------------------------------------------------------
// Drive letters

struct TDriveFolder {
  QString letter;  // one Latin letter, upper case
  QString folder;  // an absolute folder
  bool operator==(const TDriveFolder&) const = default;
};
using TDriveFolders = QList<TDriveFolder>;

TDriveFolders ReadDriveFolders(const TIniFile& ini);
// Replaces the section with the given pairs; false when the file was not written.
bool WriteDriveFolders(TIniFile& ini, const TDriveFolders& drives);
// Each letter is one Latin letter, given once, with an absolute folder.
bool DriveFoldersValid(const TDriveFolders& drives);

// ---------------------------------------------------------------------------------
// Hot keys

// A short-cut code: virtual-key code in the low byte, 0x2000 Shift, 0x4000 Ctrl,
// 0x8000 Alt; 0 means no key.
enum : uint16_t { scShift = 0x2000, scCtrl = 0x4000, scAlt = 0x8000 };

struct THotKeySlot {
  uint16_t key = 0;
  bool global = false;
  bool operator==(const THotKeySlot&) const = default;
};
inline constexpr int kHotKeySlotCount = 7;
using THotKeySlots = std::array<THotKeySlot, kHotKeySlotCount>;

// Rows of the slot combo box: "BackWard", "Play", "Pause", "Stop", "Forward",
// "Show Audacious", "Show Volume Reg".
QStringList HotKeySlotNames();
THotKeySlots ReadHotKeys(const TIniFile& ini);
// False when a key could not be written (every key is still tried).
bool WriteHotKeys(TIniFile& ini, const THotKeySlots& hotKeys);

// Conversions between short-cut codes and Qt key combinations. A key without a
// virtual-key code, or a combination with the Meta modifier, gives 0; 0 gives an
// empty combination (Qt::Key(0)).
uint16_t ShortCutFromKey(QKeyCombination key);
QKeyCombination KeyFromShortCut(uint16_t shortCut);

// ---------------------------------------------------------------------------------
// The main window as the settings dialog affects it. The main window implements it.
class ISettingsEffects {
 public:
  virtual ~ISettingsEffects() = default;
  // Sets every document window's caption to its document's title (Settings/DocumentTitle).
  virtual void RetitleAllDocuments() = 0;
  // Takes over the dialog's viewer check box as the main window's viewer flag.
  virtual void SetEditorPathUsed(bool used) = 0;
  // Re-initialises the player control from the settings file.
  virtual void ReinitPlayer() = 0;
  // Copies the slots into the main window's slots: a global slot removes its action's
  // short-cut, a local one makes the key its action's short-cut.
  virtual void ApplyHotKeys(const THotKeySlots& hotKeys) = 0;
  // Whether the main window loaded the global key library.
  virtual bool HookLibraryLoaded() const = 0;
  // Installs the global key hook (kept when already installed).
  virtual void InstallHook() = 0;
};

// ---------------------------------------------------------------------------------
// The settings dialog's values and rules

struct TSettingsValues {
  // Page "Общее"
  QString extensions;           // Edit2
  bool scanUseLinks = true;     // CheckBox2
  bool checkDatabase = false;   // CheckBox3
  bool clearClipboard = false;  // CheckBox4
  bool fastPlay = false;        // CheckBox9
  bool cutNonPresent = false;   // CheckBox11
  bool fullPathTitles = true;   // CheckBox12: the opposite of Settings/DocumentTitle
  bool fullPathsInsert = true;  // CheckBox7
  bool generateExtInf = true;   // CheckBox1
  bool hideMainWindow = false;  // CheckBox6
  // Page "Дополнительно"
  bool winamp = false;          // CheckBox8
  QString winampPath;           // Edit3
  THotKeySlots hotKeys{};       // the dialog's private copy of the slots
  bool editorPathUsed = false;  // CheckBox5
  QString editorPath;           // EditorPath
  // Page "Разное"
  QString velocity = "30";  // EditVelocity, as typed
  int dblClkAction = 0;     // ComboBoxDblClkAction row
  int tagCodePage = 1251;   // ComboBoxTagCodePage
  TDriveFolders drives;     // DrivesTable
};

class TSettingsModel {
 public:
  // ini stays owned by the caller and must outlive the model.
  explicit TSettingsModel(TIniFile& ini);

  // Fills the values from the file with the defaults of the key table.
  void Load();

  TSettingsValues& Values() { return m_Values; }
  const TSettingsValues& Values() const { return m_Values; }

  // The field a failing check is about.
  enum TField {
    sfNone,
    sfExtensions,
    sfPlayerPath,
    sfEditorPath,
    sfVelocity,
    sfTagCodePage,
    sfDrives
  };
  // The checks of OK in order; the first failing message, or "" when all pass; field,
  // when given, names the field it is about.
  QString Validate(TField* field = nullptr) const;
  // Writes every key of the three pages and the hot-key slots; false when any could not
  // be written (the others are still tried).
  bool WritePages();
  // The whole OK after the dialog stored its shown slot: validates (the first failing
  // message is shown with the error icon and nothing is written), writes (a settings
  // file that cannot be written is named with the error icon, and nothing else
  // happens), then lets effects (may be null) retitle, take the viewer flag,
  // re-initialise the player, and apply the hot keys. False when validation or the
  // write failed: the dialog stays open.
  bool Accept(ISettingsEffects* effects);

  // The velocity text as the dialog accepts it: an integer other than 0 from
  // -kMaxVelocity to kMaxVelocity. A wheel notch (120) moves the position bar by
  // 120 / velocity percent in whole steps (a larger divisor would never move it); a
  // negative velocity turns the wheel's direction round.
  static constexpr int kMaxVelocity = 120;
  static bool ParseVelocity(const QString& text, int* value);
  // The working extensions typed in the dialog: they must parse and name at least one
  // extension, each with a letter or digit (";;;" names no file kind).
  static bool ExtensionsValid(const QString& text);

 private:
  TIniFile& m_Ini;
  TSettingsValues m_Values;
};

// ---------------------------------------------------------------------------------
// The player and the shell

// Looks for the player ("audacious") on PATH; true with its full path when found.
bool LocateWinamp(QString* path);

// Where the shell registration finds its parts; empty members take the defaults:
// libLBShellExtention.so and lbshellhost beside the executable (the library is then
// also searched for by name).
struct TShellExtensionPaths {
  QString library;
  QString host;
};

inline constexpr const char* kShellExtensionClsid = "{ABAAD706-08C2-4290-A3A7-A6E7CE36A433}";
inline constexpr const char* kShellExtensionLibrary = "libLBShellExtention.so";
inline constexpr const char* kShellHostName = "lbshellhost";

// Registers (bRegister) or unregisters the shell extension for the working extensions:
// those of the settings file when extensions is empty, else those parsed from it.
// Calls the library's DllRegisterServer / DllUnregisterServer, writes or removes the
// context-menu keys per extension and the approved-extensions value in the registry,
// and writes or removes the file managers' action files. Failures are shown as message
// boxes; false when it stopped on one.
bool RegisterShellExtension(bool bRegister, const QString& extensions,
                            const TShellExtensionPaths& paths = {});

// The file managers' action files the registration writes, under $XDG_DATA_HOME
// (default ~/.local/share): a Dolphin service menu, a Nemo action, a Nautilus script.
QStringList ShellActionFiles();
