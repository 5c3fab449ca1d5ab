// A per-user stand-in for the system registry: three roots, keys with string and
// integer values, kept as one text file per root. Every change locks the root's file
// and rewrites it atomically, so several processes share the store safely.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

namespace lb {

enum class RootKey { CurrentUser, ClassesRoot, LocalMachine };

// The folder that holds HKCU.reg, HKCR.reg and HKLM.reg: $LBTOOLS_REGISTRY_DIR when set,
// else $XDG_CONFIG_HOME/lbtools/registry; the system store instead while it is the
// target (UseSystemRegistry).
QString RegistryDir();

// The machine-wide store of HKEY_CLASSES_ROOT that an installed package fills for every
// user: $LBTOOLS_SYSTEM_REGISTRY_DIR when set, else the installation's etc/xdg folder
// (/etc/xdg/lbtools/registry for a program in /usr/bin).
// HKEY_CLASSES_ROOT reads the user's store first and the system store after it, so a
// user's own registration wins.
QString SystemRegistryDir();
// Makes the system store the one this process reads and writes (lbregsvr --system).
void UseSystemRegistry(bool on);

}  // namespace lb

inline constexpr lb::RootKey HKEY_CURRENT_USER = lb::RootKey::CurrentUser;
inline constexpr lb::RootKey HKEY_CLASSES_ROOT = lb::RootKey::ClassesRoot;
inline constexpr lb::RootKey HKEY_LOCAL_MACHINE = lb::RootKey::LocalMachine;

// Key paths use backslashes. A path that begins with a backslash is taken from the
// root; any other path is relative to the open key. Key and
// value names compare without regard to case. The unnamed default value is "".
class TRegistry {
 public:
  explicit TRegistry(lb::RootKey root = HKEY_CURRENT_USER);

  lb::RootKey RootKey() const { return m_Root; }
  void SetRootKey(lb::RootKey root);
  QString CurrentPath() const { return m_CurrentPath; }

  // Opens the key (creating it and its parents when canCreate); false when it is
  // missing and may not be created, or the store cannot be written.
  bool OpenKey(const QString& key, bool canCreate);
  bool OpenKeyReadOnly(const QString& key);
  void CloseKey();

  bool KeyExists(const QString& key) const;
  // Removes the key with all its subkeys and values.
  bool DeleteKey(const QString& key);
  bool DeleteValue(const QString& name);
  bool ValueExists(const QString& name) const;
  bool HasSubKeys() const;
  QStringList GetKeyNames() const;
  QStringList GetValueNames() const;

  // A missing value reads as "" / def; an integer value read as a string gives its
  // decimal text.
  QString ReadString(const QString& name) const;
  bool WriteString(const QString& name, const QString& value);
  int32_t ReadInteger(const QString& name, int32_t def = 0) const;
  bool WriteInteger(const QString& name, int32_t value);

 private:
  QString Resolve(const QString& key) const;

  lb::RootKey m_Root;
  QString m_CurrentPath;  // without leading backslash; empty = the root itself
  bool m_bOpen = false;
  bool m_bReadOnly = false;  // opened by OpenKeyReadOnly: writes are refused
};
