#include "StartUp.h"

#include "platform/IniFile.h"
#include "platform/Registry.h"

namespace lb {

TStartMode ClassifyCommandLine(const QString& commandLine) {
  if (commandLine == QLatin1String("/shell_register")) return TStartMode::ShellRegister;
  if (commandLine == QLatin1String("/shell_unregister")) return TStartMode::ShellUnregister;
  if (commandLine == QLatin1String("/shell_invoke")) return TStartMode::ShellInvoke;
  return TStartMode::Normal;
}

QString JoinCommandLine(const QStringList& arguments) {
  return arguments.mid(1).join(' ');
}

bool WriteRunTimeHandles(int64_t mainWindow, int64_t application) {
  TRegistry reg(HKEY_CURRENT_USER);
  if (!reg.OpenKey(kRunTimeKey, true)) return false;
  // Handles are 64-bit here; the store keeps 32-bit integers, so they go as text.
  return reg.WriteString("HandleToMainWindow", QString::number(mainWindow)) &&
         reg.WriteString("HandleToApplication", QString::number(application));
}

bool ReadApplicationHandle(int64_t* application) {
  TRegistry reg(HKEY_CURRENT_USER);
  if (!reg.OpenKeyReadOnly(kRunTimeKey)) return false;
  bool ok = false;
  *application = reg.ReadString("HandleToApplication").toLongLong(&ok);
  return ok;
}

void DeleteRunTimeKey() {
  TRegistry reg(HKEY_CURRENT_USER);
  reg.DeleteKey(kRunTimeKey);
}

QStringList ParseHandOverPaths(const QByteArray& bytes) {
  QStringList paths;
  qsizetype start = 0;
  while (start < bytes.size()) {
    const qsizetype end = bytes.indexOf('\0', start);
    if (end < 0 || end == start) break;  // no terminator, or the empty end mark
    paths << QString::fromUtf8(bytes.constData() + start, end - start);
    start = end + 1;
  }
  return paths;
}

QByteArray BuildHandOverPayload(const QStringList& paths) {
  QByteArray bytes;
  for (const QString& path : paths) bytes.append(path.toUtf8()).append('\0');
  bytes.append('\0');
  return bytes;
}

THotKeySlots ReadHotKeySlots(TIniFile& ini) {
  THotKeySlots hotKeys;
  for (int i = 0; i < int(hotKeys.size()); ++i) {
    hotKeys[i].key =
        static_cast<uint16_t>(ini.ReadInteger("Winamp", QString("SpeedKey%1").arg(i), 0));
    hotKeys[i].global = ini.ReadBool("Winamp", QString("SpeedKeyG%1").arg(i), false);
  }
  return hotKeys;
}

namespace {
// Virtual-key codes of the keys that have a Qt key of another number.
struct TKeyPair {
  uint8_t vk;
  Qt::Key key;
};
constexpr TKeyPair kKeys[] = {
    {0x08, Qt::Key_Backspace},  {0x09, Qt::Key_Tab},           {0x0D, Qt::Key_Return},
    {0x13, Qt::Key_Pause},      {0x1B, Qt::Key_Escape},        {0x20, Qt::Key_Space},
    {0x21, Qt::Key_PageUp},     {0x22, Qt::Key_PageDown},      {0x23, Qt::Key_End},
    {0x24, Qt::Key_Home},       {0x25, Qt::Key_Left},          {0x26, Qt::Key_Up},
    {0x27, Qt::Key_Right},      {0x28, Qt::Key_Down},          {0x2D, Qt::Key_Insert},
    {0x2E, Qt::Key_Delete},     {0x6A, Qt::Key_Asterisk},      {0x6B, Qt::Key_Plus},
    {0x6D, Qt::Key_Minus},      {0x6E, Qt::Key_Period},        {0x6F, Qt::Key_Slash},
    {0xAD, Qt::Key_VolumeMute}, {0xAE, Qt::Key_VolumeDown},    {0xAF, Qt::Key_VolumeUp},
    {0xB0, Qt::Key_MediaNext},  {0xB1, Qt::Key_MediaPrevious}, {0xB2, Qt::Key_MediaStop},
    {0xB3, Qt::Key_MediaPlay},
};
}  // namespace

QKeyCombination ShortcutFromCode(uint16_t code) {
  const uint8_t vk = code & 0xFF;
  Qt::Key key = Qt::Key_unknown;
  if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z'))
    key = Qt::Key(vk);
  else if (vk >= 0x60 && vk <= 0x69)
    key = Qt::Key(Qt::Key_0 + (vk - 0x60));
  else if (vk >= 0x70 && vk <= 0x87)
    key = Qt::Key(Qt::Key_F1 + (vk - 0x70));
  else
    for (const TKeyPair& p : kKeys)
      if (p.vk == vk) key = p.key;
  if (key == Qt::Key_unknown) return QKeyCombination();
  Qt::KeyboardModifiers mods;
  if (code & 0x2000) mods |= Qt::ShiftModifier;
  if (code & 0x4000) mods |= Qt::ControlModifier;
  if (code & 0x8000) mods |= Qt::AltModifier;
  return QKeyCombination(mods, key);
}

uint16_t CodeFromShortcut(QKeyCombination combination) {
  const Qt::Key key = combination.key();
  uint16_t vk = 0;
  if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z))
    vk = key;
  else if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
    vk = 0x70 + (key - Qt::Key_F1);
  else
    for (const TKeyPair& p : kKeys)
      if (p.key == key) vk = p.vk;
  if (!vk) return 0;
  const Qt::KeyboardModifiers mods = combination.keyboardModifiers();
  if (mods & Qt::ShiftModifier) vk |= 0x2000;
  if (mods & Qt::ControlModifier) vk |= 0x4000;
  if (mods & Qt::AltModifier) vk |= 0x8000;
  return vk;
}

QList<int> SlotsForHotKeyMessage(const THotKeySlots& hotKeys, uint16_t code) {
  QList<int> matching;
  for (int i = 0; i < int(hotKeys.size()); ++i)
    if (hotKeys[i].key == code && hotKeys[i].global && code != 0) matching << i;
  return matching;
}

}  // namespace lb
