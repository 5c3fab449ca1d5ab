// A settings file with the semantics of the classic profile files: sections and keys
// compare without regard to case, values are read raw, every write goes to the file at
// once (through a temporary file renamed into place), key names come in file order.
#pragma once

#include <QString>
#include <QStringList>

namespace lb {
// Where the program's settings file lives: $LBTOOLS_INI when set; else
// "lbtools3.ini" beside the executable when that folder is writable; else
// $XDG_CONFIG_HOME/lbtools/lbtools3.ini.
QString SettingsFilePath();
// The folder of SettingsFilePath(): where the program keeps its own files.
QString SettingsFolder();
}  // namespace lb

class TIniFile {
 public:
  explicit TIniFile(const QString& fileName);

  QString FileName() const { return m_FileName; }

  QString ReadString(const QString& section, const QString& key, const QString& def) const;
  bool WriteString(const QString& section, const QString& key, const QString& value);
  // Reads the value as a decimal (or "0x" hexadecimal) integer; def when missing or
  // not a number.
  int ReadInteger(const QString& section, const QString& key, int def) const;
  bool WriteInteger(const QString& section, const QString& key, int value);
  // "0" is false, any other integer true; def when missing or not a number.
  bool ReadBool(const QString& section, const QString& key, bool def) const;
  bool WriteBool(const QString& section, const QString& key, bool value);

  QStringList ReadSections() const;
  QStringList ReadSection(const QString& section) const;  // key names in file order
  // "key=value" lines in file order.
  QStringList ReadSectionValues(const QString& section) const;
  bool SectionExists(const QString& section) const;
  bool ValueExists(const QString& section, const QString& key) const;
  bool EraseSection(const QString& section);
  bool DeleteKey(const QString& section, const QString& key);

 private:
  QString m_FileName;
};
