#include "Settings.h"

#include "lbtools3/model/SlInsertFilesManager.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/UiServices.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>
#include <algorithm>

// ---------------------------------------------------------------------------------
// Keys and defaults

namespace lbset {

const QList<TSettingKey>& AllKeys() {
  static const QList<TSettingKey> keys = {Winamp,
                                          WinampPath,
                                          FastPlay,
                                          CutNonPresent,
                                          CheckDatabase,
                                          FullPathsInsert,
                                          Extentions,
                                          TagCodePage,
                                          WinampToolBarVisible,
                                          EOTGenerateExtInf,
                                          ScanUseLinks,
                                          ClearClipboard,
                                          DocumentTitle,
                                          EditorPathUsed,
                                          EditorPath,
                                          HideMainWindow,
                                          ChangePositionVelocity,
                                          DblClkAction,
                                          UseDBFiles};
  return keys;
}

const TSettingKey* FindKey(const QString& section, const QString& key) {
  for (const TSettingKey& k : AllKeys()) {
    if (section.compare(QLatin1String(k.section), Qt::CaseInsensitive) == 0 &&
        key.compare(QLatin1String(k.key), Qt::CaseInsensitive) == 0)
      return &k;
  }
  return nullptr;
}

bool ReadBool(const TIniFile& ini, const TSettingKey& k) {
  return ini.ReadBool(k.section, k.key, QByteArray(k.def).toInt() != 0);
}

int ReadInt(const TIniFile& ini, const TSettingKey& k) {
  return ini.ReadInteger(k.section, k.key, QByteArray(k.def).toInt());
}

QString ReadString(const TIniFile& ini, const TSettingKey& k) {
  return ini.ReadString(k.section, k.key, QString::fromUtf8(k.def));
}

bool WriteBool(TIniFile& ini, const TSettingKey& k, bool value) {
  return ini.WriteBool(k.section, k.key, value);
}

bool WriteInt(TIniFile& ini, const TSettingKey& k, int value) {
  return ini.WriteInteger(k.section, k.key, value);
}

bool WriteString(TIniFile& ini, const TSettingKey& k, const QString& value) {
  return ini.WriteString(k.section, k.key, value);
}

QString ReadAsText(const TIniFile& ini, const TSettingKey& k) {
  switch (k.type) {
    case TSettingType::Bool:
      return ReadBool(ini, k) ? QStringLiteral("1") : QStringLiteral("0");
    case TSettingType::Int:
      return QString::number(ReadInt(ini, k));
    case TSettingType::String:
      break;
  }
  return ReadString(ini, k);
}

QList<QPair<int, QString>> TagCodePageChoices() {
  return {{1251, QStringLiteral("1251 — кириллица (Windows)")},
          {1252, QStringLiteral("1252 — западноевропейская (Latin-1)")},
          {1250, QStringLiteral("1250 — центральноевропейская")},
          {866, QStringLiteral("866 — кириллица (DOS)")}};
}

void ApplyTagCodePage(const TIniFile& ini) {
  if (!lb::SetTagCodePage(ReadInt(ini, TagCodePage))) lb::SetTagCodePage(1251);
}

}  // namespace lbset

// ---------------------------------------------------------------------------------
// Drive letters

TDriveFolders ReadDriveFolders(const TIniFile& ini) {
  TDriveFolders drives;
  for (const QString& key : ini.ReadSection(lbset::kDrivesSection))
    drives.append({key.toUpper(), ini.ReadString(lbset::kDrivesSection, key, QString())});
  return drives;
}

bool WriteDriveFolders(TIniFile& ini, const TDriveFolders& drives) {
  if (ReadDriveFolders(ini) == drives) return true;
  bool ok = ini.EraseSection(lbset::kDrivesSection);
  for (const TDriveFolder& d : drives)
    ok = ini.WriteString(lbset::kDrivesSection, d.letter, d.folder) && ok;
  return ok;
}

bool DriveFoldersValid(const TDriveFolders& drives) {
  QSet<QString> seen;
  for (const TDriveFolder& d : drives) {
    const QString letter = d.letter.trimmed().toUpper();
    if (letter.size() != 1 || letter[0] < u'A' || letter[0] > u'Z') return false;
    if (seen.contains(letter) || !d.folder.trimmed().startsWith(u'/')) return false;
    seen.insert(letter);
  }
  return true;
}

// ---------------------------------------------------------------------------------
// Hot keys

QStringList HotKeySlotNames() {
  return {QStringLiteral("BackWard"),       QStringLiteral("Play"),
          QStringLiteral("Pause"),          QStringLiteral("Stop"),
          QStringLiteral("Forward"),        QStringLiteral("Show Audacious"),
          QStringLiteral("Show Volume Reg")};
}

THotKeySlots ReadHotKeys(const TIniFile& ini) {
  THotKeySlots hotKeys{};
  for (int i = 0; i < kHotKeySlotCount; ++i) {
    const QString n = QString::number(i);
    hotKeys[i].key =
        static_cast<uint16_t>(ini.ReadInteger(lbset::kWinampSection, "SpeedKey" + n, 0));
    hotKeys[i].global = ini.ReadBool(lbset::kWinampSection, "SpeedKeyG" + n, false);
  }
  return hotKeys;
}

bool WriteHotKeys(TIniFile& ini, const THotKeySlots& hotKeys) {
  bool ok = true;
  for (int i = 0; i < kHotKeySlotCount; ++i) {
    const QString n = QString::number(i);
    ok = ini.WriteInteger(lbset::kWinampSection, "SpeedKey" + n, hotKeys[i].key) && ok;
    ok = ini.WriteBool(lbset::kWinampSection, "SpeedKeyG" + n, hotKeys[i].global) && ok;
  }
  return ok;
}

namespace {

struct TVkPair {
  Qt::Key qt;
  uint8_t vk;
};

// Keys other than letters, digits and function keys, which map by range.
constexpr TVkPair kVkTable[] = {
    {Qt::Key_Backspace, 0x08},
    {Qt::Key_Tab, 0x09},
    {Qt::Key_Clear, 0x0C},
    {Qt::Key_Return, 0x0D},
    {Qt::Key_Enter, 0x0D},
    {Qt::Key_Pause, 0x13},
    {Qt::Key_CapsLock, 0x14},
    {Qt::Key_Escape, 0x1B},
    {Qt::Key_Space, 0x20},
    {Qt::Key_PageUp, 0x21},
    {Qt::Key_PageDown, 0x22},
    {Qt::Key_End, 0x23},
    {Qt::Key_Home, 0x24},
    {Qt::Key_Left, 0x25},
    {Qt::Key_Up, 0x26},
    {Qt::Key_Right, 0x27},
    {Qt::Key_Down, 0x28},
    {Qt::Key_Select, 0x29},
    {Qt::Key_Print, 0x2C},
    {Qt::Key_Insert, 0x2D},
    {Qt::Key_Delete, 0x2E},
    {Qt::Key_Help, 0x2F},
    {Qt::Key_Asterisk, 0x6A},
    {Qt::Key_Plus, 0x6B},
    {Qt::Key_Minus, 0xBD},
    {Qt::Key_NumLock, 0x90},
    {Qt::Key_ScrollLock, 0x91},
    {Qt::Key_VolumeMute, 0xAD},
    {Qt::Key_VolumeDown, 0xAE},
    {Qt::Key_VolumeUp, 0xAF},
    {Qt::Key_MediaNext, 0xB0},
    {Qt::Key_MediaPrevious, 0xB1},
    {Qt::Key_MediaStop, 0xB2},
    {Qt::Key_MediaPlay, 0xB3},
    {Qt::Key_MediaTogglePlayPause, 0xB3},
    {Qt::Key_Semicolon, 0xBA},
    {Qt::Key_Equal, 0xBB},
    {Qt::Key_Comma, 0xBC},
    {Qt::Key_Period, 0xBE},
    {Qt::Key_Slash, 0xBF},
    {Qt::Key_QuoteLeft, 0xC0},
    {Qt::Key_BracketLeft, 0xDB},
    {Qt::Key_Backslash, 0xDC},
    {Qt::Key_BracketRight, 0xDD},
    {Qt::Key_Apostrophe, 0xDE},
};

}  // namespace

uint16_t ShortCutFromKey(QKeyCombination key) {
  const Qt::KeyboardModifiers mods = key.keyboardModifiers();
  if (mods & Qt::MetaModifier) return 0;
  const int k = key.key();
  int vk = 0;
  if (k >= Qt::Key_A && k <= Qt::Key_Z)
    vk = 0x41 + (k - Qt::Key_A);
  else if (k >= Qt::Key_0 && k <= Qt::Key_9)
    vk = 0x30 + (k - Qt::Key_0);
  else if (k >= Qt::Key_F1 && k <= Qt::Key_F24)
    vk = 0x70 + (k - Qt::Key_F1);
  else {
    for (const TVkPair& p : kVkTable) {
      if (p.qt == k) {
        vk = p.vk;
        break;
      }
    }
  }
  if (vk == 0) return 0;
  uint16_t code = static_cast<uint16_t>(vk);
  if (mods & Qt::ShiftModifier) code |= scShift;
  if (mods & Qt::ControlModifier) code |= scCtrl;
  if (mods & Qt::AltModifier) code |= scAlt;
  return code;
}

QKeyCombination KeyFromShortCut(uint16_t shortCut) {
  const int vk = shortCut & 0xFF;
  Qt::Key key = Qt::Key(0);
  if (vk >= 0x41 && vk <= 0x5A)
    key = Qt::Key(Qt::Key_A + (vk - 0x41));
  else if (vk >= 0x30 && vk <= 0x39)
    key = Qt::Key(Qt::Key_0 + (vk - 0x30));
  else if (vk >= 0x70 && vk <= 0x87)
    key = Qt::Key(Qt::Key_F1 + (vk - 0x70));
  else if (vk >= 0x60 && vk <= 0x69)  // the numeric pad's digits
    key = Qt::Key(Qt::Key_0 + (vk - 0x60));
  else if (vk == 0x6D)
    key = Qt::Key_Minus;
  else if (vk == 0x6E)
    key = Qt::Key_Period;
  else if (vk == 0x6F)
    key = Qt::Key_Slash;
  else {
    for (const TVkPair& p : kVkTable) {
      if (p.vk == vk) {
        key = p.qt;
        break;
      }
    }
  }
  if (key == Qt::Key(0)) return QKeyCombination(Qt::NoModifier, Qt::Key(0));
  Qt::KeyboardModifiers mods;
  if (shortCut & scShift) mods |= Qt::ShiftModifier;
  if (shortCut & scCtrl) mods |= Qt::ControlModifier;
  if (shortCut & scAlt) mods |= Qt::AltModifier;
  return QKeyCombination(mods, key);
}

// ---------------------------------------------------------------------------------
// The settings dialog's values and rules

TSettingsModel::TSettingsModel(TIniFile& ini) : m_Ini(ini) {}

void TSettingsModel::Load() {
  using namespace lbset;
  TSettingsValues& v = m_Values;
  v.extensions = ReadString(m_Ini, Extentions);
  v.scanUseLinks = ReadBool(m_Ini, ScanUseLinks);
  v.checkDatabase = ReadBool(m_Ini, CheckDatabase);
  v.clearClipboard = ReadBool(m_Ini, ClearClipboard);
  v.fastPlay = ReadBool(m_Ini, FastPlay);
  v.cutNonPresent = ReadBool(m_Ini, CutNonPresent);
  v.fullPathTitles = !ReadBool(m_Ini, DocumentTitle);
  v.fullPathsInsert = ReadBool(m_Ini, FullPathsInsert);
  v.generateExtInf = ReadBool(m_Ini, EOTGenerateExtInf);
  v.hideMainWindow = ReadBool(m_Ini, HideMainWindow);
  v.winamp = ReadBool(m_Ini, Winamp);
  v.winampPath = ReadString(m_Ini, WinampPath);
  v.hotKeys = ReadHotKeys(m_Ini);
  v.editorPathUsed = ReadBool(m_Ini, EditorPathUsed);
  v.editorPath = ReadString(m_Ini, EditorPath);
  v.velocity = QString::number(ReadInt(m_Ini, ChangePositionVelocity));
  // A hand-edited value outside the combo box's rows shows its first row.
  const int action = ReadInt(m_Ini, DblClkAction);
  v.dblClkAction = action == 1 ? 1 : 0;
  v.tagCodePage = ReadInt(m_Ini, TagCodePage);
  v.drives = ReadDriveFolders(m_Ini);
}

bool TSettingsModel::ParseVelocity(const QString& text, int* value) {
  bool ok = false;
  const int n = text.trimmed().toInt(&ok, 10);
  if (!ok || n == 0 || n < -kMaxVelocity || n > kMaxVelocity) return false;
  if (value) *value = n;
  return true;
}

bool TSettingsModel::ExtensionsValid(const QString& text) {
  // An empty text parses, but leaves the program without music files and would make
  // the shell registration fall back to the stored extensions: refused like a bad one.
  TSlInsertFilesManager parser(text);
  if (parser.BadExtensions() || parser.GetExtensionCount() == 0) return false;
  for (int i = 0; i < parser.GetExtensionCount(); ++i) {
    const QString ext = parser.GetExtension(i);
    if (std::none_of(ext.begin(), ext.end(), [](QChar c) { return c.isLetterOrNumber(); }))
      return false;
  }
  return true;
}

QString TSettingsModel::Validate(TField* field) const {
  const TSettingsValues& v = m_Values;
  auto fail = [field](TField which, const QString& text) {
    if (field) *field = which;
    return text;
  };
  if (field) *field = sfNone;
  if (!ExtensionsValid(v.extensions))
    return fail(sfExtensions, "Неправильно заданы расширения файлов");
  if (v.winamp && !QFileInfo(v.winampPath).isFile())
    return fail(sfPlayerPath, "По указанному пути файл программы Audacious отсутствует");
  if (v.editorPathUsed && !QFileInfo(v.editorPath).isFile())
    return fail(sfEditorPath, "По указанному пути файл просмотрщика листов отсутствует");
  if (!ParseVelocity(v.velocity, nullptr))
    return fail(sfVelocity,
                QString("Замедление перемещения указателя проигрываемой песни должно быть не "
                        "нулевым числом\nДопустимы целые числа от %1 до %2, кроме 0.")
                    .arg(-kMaxVelocity)
                    .arg(kMaxVelocity));
  if (!lb::TagCodePageExists(v.tagCodePage))
    return fail(sfTagCodePage, "Неизвестная кодовая страница тэгов");
  if (!DriveFoldersValid(v.drives))
    return fail(sfDrives,
                "Неправильно заданы диски: нужна одна латинская буква и полный путь папки");
  return QString();
}

bool TSettingsModel::WritePages() {
  using namespace lbset;
  const TSettingsValues& v = m_Values;
  // Every key is tried: a failure is told once, after the others were written.
  bool ok = true;
  ok = WriteString(m_Ini, Extentions, v.extensions) && ok;
  ok = WriteBool(m_Ini, ScanUseLinks, v.scanUseLinks) && ok;
  ok = WriteBool(m_Ini, CheckDatabase, v.checkDatabase) && ok;
  ok = WriteBool(m_Ini, ClearClipboard, v.clearClipboard) && ok;
  ok = WriteBool(m_Ini, FastPlay, v.fastPlay) && ok;
  ok = WriteBool(m_Ini, CutNonPresent, v.cutNonPresent) && ok;
  ok = WriteBool(m_Ini, DocumentTitle, !v.fullPathTitles) && ok;
  ok = WriteBool(m_Ini, FullPathsInsert, v.fullPathsInsert) && ok;
  ok = WriteBool(m_Ini, EOTGenerateExtInf, v.generateExtInf) && ok;
  ok = WriteBool(m_Ini, HideMainWindow, v.hideMainWindow) && ok;
  ok = WriteBool(m_Ini, Winamp, v.winamp) && ok;
  ok = WriteString(m_Ini, WinampPath, v.winampPath) && ok;
  ok = WriteBool(m_Ini, EditorPathUsed, v.editorPathUsed) && ok;
  ok = WriteString(m_Ini, EditorPath, v.editorPath) && ok;
  int velocity = 0;
  ParseVelocity(v.velocity, &velocity);
  ok = WriteInt(m_Ini, ChangePositionVelocity, velocity) && ok;
  ok = WriteInt(m_Ini, DblClkAction, v.dblClkAction) && ok;
  ok = WriteInt(m_Ini, TagCodePage, v.tagCodePage) && ok;
  TDriveFolders drives;
  for (const TDriveFolder& d : v.drives)
    drives.append({d.letter.trimmed().toUpper(), d.folder.trimmed()});
  ok = WriteDriveFolders(m_Ini, drives) && ok;
  return WriteHotKeys(m_Ini, v.hotKeys) && ok;
}

bool TSettingsModel::Accept(ISettingsEffects* effects) {
  const QString failure = Validate();
  if (!failure.isEmpty()) {
    UiServices::Instance().MessageBox(failure, UiServices::kCaption, MB_OK | MB_ICONERROR);
    return false;
  }
  if (!WritePages()) {
    UiServices::Instance().MessageBox("Файл настроек не записан: " + m_Ini.FileName(),
                                      UiServices::kCaption, MB_OK | MB_ICONERROR);
    return false;
  }
  lb::SetTagCodePage(m_Values.tagCodePage);
  if (effects) {
    effects->RetitleAllDocuments();
    effects->SetEditorPathUsed(m_Values.editorPathUsed);
    effects->ReinitPlayer();
  }
  if (effects) effects->ApplyHotKeys(m_Values.hotKeys);
  const bool anyGlobal = std::any_of(m_Values.hotKeys.begin(), m_Values.hotKeys.end(),
                                     [](const THotKeySlot& s) { return s.global; });
  if (anyGlobal) {
    if (!effects || !effects->HookLibraryLoaded())
      UiServices::Instance().MessageBox(
          QStringLiteral("Для глобального отслеживания клавиш необходима библиотека LBHook.dll"),
          UiServices::kCaption, MB_OK | MB_ICONINFORMATION);
    else
      effects->InstallHook();
  }
  return true;
}

// ---------------------------------------------------------------------------------
// The player

bool LocateWinamp(QString* path) {
  const QString found = QStandardPaths::findExecutable(QStringLiteral("audacious"));
  if (found.isEmpty()) return false;
  if (path) *path = found;
  return true;
}

// ---------------------------------------------------------------------------------
// The shell

namespace {

const QString kHandlerName = QStringLiteral("ShellLBTagsEditor");
const QString kApprovedKey =
    QStringLiteral("\\Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved");
const QString kMenuText = QStringLiteral("Добавить файлы в LBTools");
const QString kMenuHelp = QStringLiteral("Запуск LBTools и добавление файлов в новый документ");
// The files' own record of the extensions they serve (without dots).
const QString kExtensionsKey = QStringLiteral("X-LBTools-Extensions");
const QStringList kListExtensions = {QStringLiteral("m3u"), QStringLiteral("m3u8")};
const QString kFolderMimeType = QStringLiteral("inode/directory");

QString DataHome() {
  QString home = qEnvironmentVariable("XDG_DATA_HOME");
  if (home.isEmpty() || QFileInfo(home).isRelative())
    home = QDir::homePath() + QStringLiteral("/.local/share");
  return home;
}

QString DolphinFile() {
  return DataHome() + QStringLiteral("/kio/servicemenus/lbtools3-shellext.desktop");
}
QString NemoFile() {
  return DataHome() + QStringLiteral("/nemo/actions/lbtools3-shellext.nemo_action");
}
QString NautilusFile() {
  return DataHome() + QStringLiteral("/nautilus/scripts/") + kMenuText;
}

// One argument of a desktop-entry Exec line: quoted, with its reserved characters
// escaped, and a percent sign doubled.
QString ExecQuote(const QString& arg) {
  QString out = QStringLiteral("\"");
  for (QChar c : arg) {
    if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') out += QLatin1Char('\\');
    if (c == u'%') out += QLatin1Char('%');
    out += c;
  }
  // The key's value is itself unescaped once when read: each backslash doubles again.
  out.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
  return out + QLatin1Char('"');
}

// A shell word in single quotes.
QString ShellQuote(const QString& arg) {
  QString out = arg;
  out.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
  return QLatin1Char('\'') + out + QLatin1Char('\'');
}

bool WriteTextFile(const QString& path, const QString& text, bool executable) {
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  const QByteArray bytes = text.toUtf8();
  if (file.write(bytes) != bytes.size() || !lb::CommitSaveFile(file)) return false;
  QFile::Permissions perms =
      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
  if (executable) perms |= QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
  return QFile::setPermissions(path, perms);
}

// The extensions (without dots, as first given) our action files serve now.
QStringList ServedExtensions() {
  for (const QString& path : {NemoFile(), DolphinFile()}) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) continue;
    const QString text = QString::fromUtf8(file.readAll());
    QRegularExpression re(QStringLiteral("^") + kExtensionsKey + QStringLiteral("=(.*)$"),
                          QRegularExpression::MultilineOption);
    const auto m = re.match(text);
    if (m.hasMatch()) return m.captured(1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
  }
  return {};
}

bool ContainsNoCase(const QStringList& list, const QString& item) {
  return list.contains(item, Qt::CaseInsensitive);
}

QStringList MimeTypesOf(const QStringList& extensions) {
  QMimeDatabase db;
  QStringList types;
  for (const QString& e : extensions) {
    const QMimeType t = db.mimeTypeForFile(QStringLiteral("x.") + e, QMimeDatabase::MatchExtension);
    if (t.isValid() && !t.isDefault() && !types.contains(t.name())) types << t.name();
  }
  return types;
}

void RemoveActionFiles() {
  for (const QString& path : ShellActionFiles()) QFile::remove(path);
}

// Writes the action files for these extensions (none: removes them).
void WriteActionFiles(const QStringList& extensions, const QString& host) {
  if (extensions.isEmpty()) {
    RemoveActionFiles();
    return;
  }
  const QString list = extensions.join(QLatin1Char(';')) + QLatin1Char(';');
  const QString exec = ExecQuote(host) + QStringLiteral(" %F");
  // The item is offered for the working files by their MIME types, for play lists
  // (the program opens them) and for folders (the program takes the music files in
  // them); other files get no item.
  QStringList offered = extensions;
  for (const QString& e : kListExtensions)
    if (!ContainsNoCase(offered, e)) offered << e;
  QStringList mimeTypes = MimeTypesOf(offered);
  mimeTypes << kFolderMimeType;

  WriteTextFile(DolphinFile(),
                QStringLiteral("[Desktop Entry]\nType=Service\nName=%4\n"
                               "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
                               "MimeType=%1;\nActions=addToLBTools;\n%2=%3\n\n"
                               "[Desktop Action addToLBTools]\nName=%4\nIcon=lbtools\n"
                               "Exec=%5\n")
                    .arg(mimeTypes.join(QLatin1Char(';')), kExtensionsKey, list, kMenuText, exec),
                true);
  WriteTextFile(
      NemoFile(),
      QStringLiteral("[Nemo Action]\nActive=true\nName=%1\nComment=%2\nExec=%3\n"
                     "Icon-Name=lbtools\nSelection=notnone\nMimetypes=%4;\n%5=%6\n")
          .arg(kMenuText, kMenuHelp, exec, mimeTypes.join(QLatin1Char(';')), kExtensionsKey, list),
      false);
  // Nautilus offers every script for every selection: the program skips what is no
  // music file, list or folder.
  WriteTextFile(NautilusFile(),
                QStringLiteral("#!/bin/sh\n"
                               "# Lyrabox Tools: hands the selected files to the program.\n"
                               "if [ -n \"$NAUTILUS_SCRIPT_SELECTED_FILE_PATHS\" ]; then\n"
                               "  set -f\n  IFS='\n'\n"
                               "  set -- $NAUTILUS_SCRIPT_SELECTED_FILE_PATHS\n"
                               "fi\n"
                               "exec %1 \"$@\"\n")
                    .arg(ShellQuote(host)),
                true);
}

void RegisterExtensionKeys(const QString& e) {
  TRegistry reg(HKEY_CLASSES_ROOT);
  if (!reg.OpenKey(QLatin1Char('\\') + e, true)) return;
  QString fileType = reg.ReadString(QString());
  if (fileType.isEmpty()) {
    fileType = e.mid(1) + QStringLiteral("file");
    reg.WriteString(QString(), fileType);
  }
  if (!reg.OpenKey(QLatin1Char('\\') + fileType +
                       QStringLiteral("\\ShellEx\\ContextMenuHandlers\\") + kHandlerName,
                   true))
    return;
  reg.WriteString(QString(), QString::fromLatin1(kShellExtensionClsid));
}

// Removes the handler and then, level by level, only what our removal left empty.
void UnregisterExtensionKeys(const QString& e) {
  TRegistry reg(HKEY_CLASSES_ROOT);
  const QString extKey = QLatin1Char('\\') + e;
  if (!reg.OpenKey(extKey, false)) return;
  const QString fileType = reg.ReadString(QString());
  if (fileType.isEmpty()) return;
  const QString typeKey = QLatin1Char('\\') + fileType;
  if (!reg.OpenKey(typeKey + QStringLiteral("\\ShellEx\\ContextMenuHandlers"), false)) return;
  if (!reg.DeleteKey(kHandlerName)) return;
  if (reg.HasSubKeys()) return;
  if (!reg.OpenKey(typeKey + QStringLiteral("\\ShellEx"), false) ||
      !reg.DeleteKey(QStringLiteral("ContextMenuHandlers")) || reg.HasSubKeys())
    return;
  if (!reg.OpenKey(typeKey, false) || !reg.DeleteKey(QStringLiteral("ShellEx"))) return;
  if (!reg.GetValueNames().isEmpty() || reg.HasSubKeys()) return;
  if (!reg.DeleteKey(typeKey)) return;
  // The extension key goes only when it holds nothing but the name of the type just
  // removed.
  if (!reg.OpenKey(extKey, false) || reg.HasSubKeys()) return;
  for (const QString& name : reg.GetValueNames())
    if (!name.isEmpty()) return;
  reg.DeleteKey(extKey);
}

}  // namespace

QStringList ShellActionFiles() {
  return {DolphinFile(), NemoFile(), NautilusFile()};
}

bool RegisterShellExtension(bool bRegister, const QString& extensions,
                            const TShellExtensionPaths& paths) {
  UiServices& ui = UiServices::Instance();

  // 1. The extensions.
  const bool fromSettings = extensions.isEmpty();
  const QString text = fromSettings
                           ? lbset::ReadString(TIniFile(lb::SettingsFilePath()), lbset::Extentions)
                           : extensions;
  TSlInsertFilesManager parser(text);
  if (parser.BadExtensions()) {
    ui.MessageBox(fromSettings
                      ? QStringLiteral("Неправильно заданы расширения файлов в файле конфигурации")
                      : QStringLiteral("Неправильно заданы расширения файлов"),
                  UiServices::kCaption, MB_OK | MB_ICONERROR);
    return false;
  }
  QStringList exts;  // with their dots
  for (int i = 0; i < parser.GetExtensionCount(); ++i) exts << parser.GetExtension(i);

  // 2. The library's own registration.
  const QString appDir =
      QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
  QString libraryPath = paths.library;
  if (libraryPath.isEmpty()) {
    // Beside the program, or in the servers' folder of an installed tree.
    libraryPath = appDir + QLatin1Char('/') + QLatin1String(kShellExtensionLibrary);
    if (!QFileInfo::exists(libraryPath))
      libraryPath =
          appDir + QStringLiteral("/../lib/lbtools/") + QLatin1String(kShellExtensionLibrary);
    if (!QFileInfo::exists(libraryPath)) libraryPath = QStringLiteral("LBShellExtention");
  }
  QLibrary library(libraryPath);
  using PFN_Entry = int32_t (*)();
  const char* entryName = bRegister ? "DllRegisterServer" : "DllUnregisterServer";
  PFN_Entry entry =
      library.load() ? reinterpret_cast<PFN_Entry>(library.resolve(entryName)) : nullptr;
  if (!entry || entry() < 0) {
    const QString fileName = paths.library.isEmpty() ? QString::fromLatin1(kShellExtensionLibrary)
                                                     : QFileInfo(paths.library).fileName();
    ui.MessageBox(
        QStringLiteral("Не удаётся зарегистрировать/разрегистрировать библиотеку ") + fileName,
        UiServices::kCaption, MB_OK | MB_ICONERROR);
    return false;
  }

  // 3. The context-menu handler per extension.
  for (const QString& e : exts) {
    if (bRegister)
      RegisterExtensionKeys(e);
    else
      UnregisterExtensionKeys(e);
  }

  // 4. The approved-extensions entry.
  TRegistry approved(HKEY_LOCAL_MACHINE);
  if (approved.OpenKey(kApprovedKey, false)) {
    if (bRegister)
      approved.WriteString(QString::fromLatin1(kShellExtensionClsid),
                           QStringLiteral("Расширение оболочки для программы LBTools"));
    else
      approved.DeleteValue(QString::fromLatin1(kShellExtensionClsid));
  }

  // The file managers of this platform: their action files serve the union of the
  // extensions registered so far, less those unregistered.
  QStringList served = ServedExtensions();
  for (const QString& e : exts) {
    const QString bare = e.mid(1);
    if (bRegister && !ContainsNoCase(served, bare)) served << bare;
    if (!bRegister)
      served.removeIf([&](const QString& s) { return s.compare(bare, Qt::CaseInsensitive) == 0; });
  }
  const QString host =
      paths.host.isEmpty() ? appDir + QLatin1Char('/') + QLatin1String(kShellHostName) : paths.host;
  WriteActionFiles(served, host);
  return true;
}
