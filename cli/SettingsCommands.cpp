// Settings commands: show every key of the settings file with its default applied,
// read one key, write one key (typed keys are checked before they are written).
#include "CliContext.h"

#include "lbtools3/settings/Settings.h"
#include "platform/CodePage.h"

namespace {

int SettingsShow(CliContext& c, const QStringList& args) {
  if (!args.isEmpty()) return CliUsageError(c, "Команда не принимает аргументов");
  const TIniFile ini(lb::SettingsFilePath());
  c.out << "# " << ini.FileName() << '\n';
  for (const TSettingKey& k : lbset::AllKeys())
    c.out << k.section << '/' << k.key << '=' << lbset::ReadAsText(ini, k) << '\n';
  const THotKeySlots hotKeys = ReadHotKeys(ini);
  const QStringList names = HotKeySlotNames();
  for (int i = 0; i < kHotKeySlotCount; ++i)
    c.out << "Winamp/SpeedKey" << i << '=' << hotKeys[i].key << "\tWinamp/SpeedKeyG" << i << '='
          << (hotKeys[i].global ? 1 : 0) << "\t# " << names[i] << '\n';
  for (const TDriveFolder& d : ReadDriveFolders(ini))
    c.out << lbset::kDrivesSection << '/' << d.letter << '=' << d.folder << '\n';
  return 0;
}

int SettingsGet(CliContext& c, const QStringList& args) {
  if (args.size() != 2) return CliUsageError(c, "Укажите раздел и ключ");
  const TIniFile ini(lb::SettingsFilePath());
  if (const TSettingKey* k = lbset::FindKey(args[0], args[1])) {
    c.out << lbset::ReadAsText(ini, *k) << '\n';
    return 0;
  }
  if (!ini.ValueExists(args[0], args[1])) {
    c.err << "Ключа нет: " << args[0] << '/' << args[1] << Qt::endl;
    return 1;
  }
  c.out << ini.ReadString(args[0], args[1], QString()) << '\n';
  return 0;
}

int SettingsSet(CliContext& c, const QStringList& args) {
  if (args.size() != 3) return CliUsageError(c, "Укажите раздел, ключ и значение");
  TIniFile ini(lb::SettingsFilePath());
  const QString& value = args[2];
  QString stored = value;
  QString section = args[0], key = args[1];
  if (const TSettingKey* k = lbset::FindKey(args[0], args[1])) {
    bool ok = true;
    switch (k->type) {
      case TSettingType::Bool:
        if (value == "1" || value.compare("true", Qt::CaseInsensitive) == 0)
          stored = "1";
        else if (value == "0" || value.compare("false", Qt::CaseInsensitive) == 0)
          stored = "0";
        else
          ok = false;
        break;
      case TSettingType::Int:
        stored = QString::number(value.trimmed().toInt(&ok));
        if (ok && k == lbset::FindKey("Settings", "ChangePositionVelocity"))
          ok = TSettingsModel::ParseVelocity(value, nullptr);
        if (ok && k == lbset::FindKey("Settings", "DblClkAction"))
          ok = stored == "0" || stored == "1";
        if (ok && k == lbset::FindKey("Edit", "TagCodePage"))
          ok = lb::TagCodePageExists(stored.toInt());
        break;
      case TSettingType::String:
        if (k == lbset::FindKey("Edit", "Extentions")) ok = TSettingsModel::ExtensionsValid(value);
        break;
    }
    if (!ok) {
      c.err << "Недопустимое значение для " << k->section << '/' << k->key << ": " << value
            << Qt::endl;
      return 1;
    }
    section = k->section;  // the key's own spelling
    key = k->key;
  } else if (section.compare(lbset::kDrivesSection, Qt::CaseInsensitive) == 0) {
    if (!DriveFoldersValid({{key.toUpper(), value}})) {
      c.err << "Диск задаётся одной латинской буквой, папка — полным путём" << Qt::endl;
      return 1;
    }
    section = lbset::kDrivesSection;
    key = key.toUpper();
  }
  if (!ini.WriteString(section, key, stored)) {
    c.err << "Файл настроек не записан: " << ini.FileName() << Qt::endl;
    return 1;
  }
  return 0;
}

}  // namespace

QList<CliCommandInfo> SettingsCommands() {
  return {
      {"settings show", "", "все ключи файла настроек со значениями по умолчанию", SettingsShow},
      {"settings get", "SECTION KEY", "значение одного ключа файла настроек", SettingsGet},
      {"settings set", "SECTION KEY VALUE",
       "записать ключ файла настроек (известные ключи проверяются)", SettingsSet},
  };
}
