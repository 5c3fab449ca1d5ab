// The registry stand-in: each root is one text file in a .reg-like format
//
//   LBTools Registry 1
//
//   [Software\Corvane\Lyrabox Tools]
//   @="default value"
//   "Name"="text with \"quotes\" and \\ backslashes"
//   "Count"=dword:0000002a
//
// Keys are kept in one map per root by their case-folded full path, so every name
// compares without regard to case while the file keeps the case it was created with.
// A process caches each root and re-reads the file whenever its identity (inode,
// size, modification and status-change times) changes, so writes of other processes
// are seen. Every change takes the root's lock file, re-reads the file, modifies it and
// writes it back atomically.
#include "Registry.h"

#include "FileSystem.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QMap>
#include <QSaveFile>

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <sys/stat.h>

namespace lb {

namespace {
std::atomic<bool> g_SystemTarget{false};
}

QString SystemRegistryDir() {
  QByteArray env = qgetenv("LBTOOLS_SYSTEM_REGISTRY_DIR");
  if (!env.isEmpty()) return QString::fromLocal8Bit(env);
  // The installation's configuration folder, found from the program's own place: /etc
  // for programs in /usr/bin, PREFIX/etc for PREFIX/bin.
  const QString prefix = QDir::cleanPath(ExecutableFolder() + QStringLiteral("/.."));
  const QString etc = prefix == QLatin1String("/usr") ? QStringLiteral("/etc") : prefix + "/etc";
  return etc + QStringLiteral("/xdg/lbtools/registry");
}

void UseSystemRegistry(bool on) {
  g_SystemTarget = on;
}

QString RegistryDir() {
  if (g_SystemTarget) return SystemRegistryDir();
  QByteArray env = qgetenv("LBTOOLS_REGISTRY_DIR");
  if (!env.isEmpty()) return QString::fromLocal8Bit(env);
  QByteArray xdg = qgetenv("XDG_CONFIG_HOME");
  QString base = xdg.isEmpty() ? QDir::homePath() + "/.config" : QString::fromLocal8Bit(xdg);
  return base + "/lbtools/registry";
}

}  // namespace lb

namespace {

constexpr const char* kHeader = "LBTools Registry 1";

struct RegValue {
  QString name;  // as created
  bool isInteger = false;
  QString text;
  int32_t number = 0;
};

struct RegKey {
  QString path;  // as created, components joined by backslashes; "" is the root
  QList<RegValue> values;

  RegValue* Find(const QString& name) {
    for (RegValue& v : values)
      if (v.name.compare(name, Qt::CaseInsensitive) == 0) return &v;
    return nullptr;
  }
  const RegValue* Find(const QString& name) const { return const_cast<RegKey*>(this)->Find(name); }
};

// Keys by case-folded path. QMap keeps them sorted, so a parent precedes its subkeys.
using Hive = QMap<QString, RegKey>;

QString Fold(const QString& path) {
  return path.toCaseFolded();
}

// Splits a key path into its components, dropping empty ones (leading, trailing or
// doubled backslashes).
QStringList Components(const QString& path) {
  return path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

QString Normalize(const QString& path) {
  return Components(path).join(QLatin1Char('\\'));
}

// Creates the key and any missing parents; the existing spelling of a parent wins.
void EnsureKey(Hive& hive, const QString& path) {
  if (!hive.contains(QString())) hive.insert(QString(), RegKey{});
  QString built;
  for (const QString& part : Components(path)) {
    built = built.isEmpty() ? part : built + QLatin1Char('\\') + part;
    QString folded = Fold(built);
    auto it = hive.find(folded);
    if (it == hive.end()) {
      RegKey key;
      key.path = built;
      hive.insert(folded, key);
    } else {
      built = it->path;
    }
  }
}

bool IsDirectChild(const QString& foldedParent, const QString& foldedChild) {
  if (foldedChild.isEmpty()) return false;
  if (foldedParent.isEmpty()) return !foldedChild.contains(QLatin1Char('\\'));
  if (foldedChild.size() <= foldedParent.size() + 1) return false;
  if (!foldedChild.startsWith(foldedParent) ||
      foldedChild[foldedParent.size()] != QLatin1Char('\\'))
    return false;
  return foldedChild.indexOf(QLatin1Char('\\'), foldedParent.size() + 1) < 0;
}

bool IsInside(const QString& foldedParent, const QString& foldedKey) {
  if (foldedParent.isEmpty()) return true;
  return foldedKey == foldedParent ||
         (foldedKey.startsWith(foldedParent) && foldedKey.size() > foldedParent.size() &&
          foldedKey[foldedParent.size()] == QLatin1Char('\\'));
}

// ---- text format ----

QString Quote(const QString& text) {
  QString out;
  out.reserve(text.size() + 2);
  out += QLatin1Char('"');
  for (QChar c : text) {
    switch (c.unicode()) {
      case '\\':
        out += QLatin1String("\\\\");
        break;
      case '"':
        out += QLatin1String("\\\"");
        break;
      case '\n':
        out += QLatin1String("\\n");
        break;
      case '\r':
        out += QLatin1String("\\r");
        break;
      default:
        out += c;
    }
  }
  out += QLatin1Char('"');
  return out;
}

// Reads a quoted string starting at pos (which must be at the opening quote); pos ends
// after the closing quote. False when the text is not a complete quoted string.
bool Unquote(const QString& line, qsizetype& pos, QString* out) {
  if (pos >= line.size() || line[pos] != QLatin1Char('"')) return false;
  ++pos;
  out->clear();
  while (pos < line.size()) {
    QChar c = line[pos++];
    if (c == QLatin1Char('"')) return true;
    if (c == QLatin1Char('\\') && pos < line.size()) {
      QChar e = line[pos++];
      if (e == QLatin1Char('n'))
        *out += QLatin1Char('\n');
      else if (e == QLatin1Char('r'))
        *out += QLatin1Char('\r');
      else
        *out += e;
    } else {
      *out += c;
    }
  }
  return false;
}

QByteArray Serialize(const Hive& hive) {
  QString text = QLatin1String(kHeader) + QLatin1Char('\n');
  for (const RegKey& key : hive) {
    if (key.path.isEmpty() && key.values.isEmpty()) continue;
    text += QLatin1String("\n[") + key.path + QLatin1String("]\n");
    for (const RegValue& v : key.values) {
      text += v.name.isEmpty() ? QStringLiteral("@") : Quote(v.name);
      text += QLatin1Char('=');
      if (v.isInteger)
        text += QStringLiteral("dword:%1")
                    .arg(static_cast<uint32_t>(v.number), 8, 16, QLatin1Char('0'));
      else
        text += Quote(v.text);
      text += QLatin1Char('\n');
    }
  }
  return text.toUtf8();
}

// Lines that cannot be understood are skipped, so a damaged line never loses the rest.
Hive Parse(const QByteArray& bytes) {
  Hive hive;
  hive.insert(QString(), RegKey{});
  QString text = QString::fromUtf8(bytes);
  RegKey* current = nullptr;
  for (QString line : text.split(QLatin1Char('\n'))) {
    if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
    if (line.isEmpty() || line.startsWith(QLatin1Char(';'))) continue;
    if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
      QString path = Normalize(line.mid(1, line.size() - 2));
      EnsureKey(hive, path);
      current = &hive[Fold(path)];
      continue;
    }
    if (!current) continue;
    QString name;
    qsizetype pos = 0;
    if (line.startsWith(QLatin1Char('@'))) {
      pos = 1;
    } else if (!Unquote(line, pos, &name)) {
      continue;
    }
    if (pos >= line.size() || line[pos] != QLatin1Char('=')) continue;
    ++pos;
    RegValue value;
    value.name = name;
    if (line.mid(pos).startsWith(QLatin1String("dword:"))) {
      bool ok = false;
      uint32_t n = line.mid(pos + 6).toUInt(&ok, 16);
      if (!ok) continue;
      value.isInteger = true;
      value.number = static_cast<int32_t>(n);
    } else if (!Unquote(line, pos, &value.text)) {
      continue;
    }
    if (RegValue* existing = current->Find(name))
      *existing = value;
    else
      current->values.append(value);
  }
  return hive;
}

// ---- per-process cache of the three roots ----

struct FileId {
  bool exists = false;
  lb::TFileStamp stamp;
  bool operator==(const FileId&) const = default;
};

FileId Identify(const QString& path) {
  FileId id;
  struct stat st;
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return id;
  id.exists = true;
  id.stamp = lb::FileStampOf(st);
  return id;
}

class RootStore {
 public:
  explicit RootStore(const char* fileName, QString (*dir)() = lb::RegistryDir)
      : m_FileName(QLatin1String(fileName)), m_Dir(dir) {}

  // Runs the reader over the current content of the root.
  template <class F>
  auto Read(F&& reader) {
    std::lock_guard guard(m_Mutex);
    Refresh();
    return reader(static_cast<const Hive&>(m_Hive));
  }

  // Locks the file, re-reads it, lets the writer change the content and writes it back
  // atomically when the writer answers true. False when the writer refuses or the file
  // cannot be locked or written.
  bool Modify(const std::function<bool(Hive&)>& writer) {
    std::lock_guard guard(m_Mutex);
    QString dir = m_Dir();
    if (!QDir().mkpath(dir)) return false;
    QString path = dir + QLatin1Char('/') + m_FileName;
    QLockFile lock(path + QStringLiteral(".lock"));
    lock.setStaleLockTime(30000);
    if (!lock.tryLock(20000)) return false;
    m_Path.clear();  // force a re-read under the lock
    // A store that is there but cannot be read is never replaced by a rewrite of
    // what little this process knows.
    if (!Refresh()) return false;
    Hive hive = m_Hive;
    if (!writer(hive)) return false;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) return false;
    QByteArray bytes = Serialize(hive);
    if (out.write(bytes) != bytes.size() || !lb::CommitSaveFile(out)) return false;
    m_Hive = std::move(hive);
    m_Id = Identify(path);
    return true;
  }

 private:
  // Re-reads the file when it changed; false when it exists but cannot be read (the
  // content then reads as empty).
  bool Refresh() {
    QString path = m_Dir() + QLatin1Char('/') + m_FileName;
    FileId id = Identify(path);
    if (path == m_Path && id == m_Id) return m_bReadable;
    m_Path = path;
    m_Id = id;
    QByteArray bytes;
    m_bReadable = !id.exists || lb::ReadRegularFile(path, kMaxStoreBytes, &bytes);
    m_Hive = Parse(bytes);
    return m_bReadable;
  }

  // The largest store read: a guard against a device or a foreign file in its place.
  static constexpr qint64 kMaxStoreBytes = 256 << 20;

  const QString m_FileName;
  QString (*const m_Dir)();
  std::mutex m_Mutex;
  QString m_Path;
  FileId m_Id;
  Hive m_Hive;
  bool m_bReadable = true;
};

RootStore& Store(lb::RootKey root) {
  static std::array<RootStore, 3> stores{RootStore("HKCU.reg"), RootStore("HKCR.reg"),
                                         RootStore("HKLM.reg")};
  switch (root) {
    case lb::RootKey::CurrentUser:
      return stores[0];
    case lb::RootKey::ClassesRoot:
      return stores[1];
    case lb::RootKey::LocalMachine:
      break;
  }
  return stores[2];
}

// Runs the reader over what the root holds for this process: HKEY_CLASSES_ROOT is the
// system store with the user's keys over it (a user's key replaces the system's).
template <class F>
auto ReadRoot(lb::RootKey root, F&& reader) {
  if (root != lb::RootKey::ClassesRoot || lb::g_SystemTarget) return Store(root).Read(reader);
  static RootStore systemClasses("HKCR.reg", lb::SystemRegistryDir);
  Hive merged = systemClasses.Read([](const Hive& hive) { return hive; });
  Store(root).Read([&](const Hive& user) {
    for (auto it = user.begin(); it != user.end(); ++it) merged.insert(it.key(), it.value());
    return 0;
  });
  return reader(static_cast<const Hive&>(merged));
}

bool ValidKeyPath(const QString& path) {
  return !path.contains(QLatin1Char('\n')) && !path.contains(QLatin1Char('\r')) &&
         !path.contains(QLatin1Char(']'));
}

}  // namespace

TRegistry::TRegistry(lb::RootKey root) : m_Root(root) {}

void TRegistry::SetRootKey(lb::RootKey root) {
  CloseKey();
  m_Root = root;
}

QString TRegistry::Resolve(const QString& key) const {
  if (key.startsWith(QLatin1Char('\\')) || m_CurrentPath.isEmpty()) return Normalize(key);
  return Normalize(m_CurrentPath + QLatin1Char('\\') + key);
}

bool TRegistry::OpenKey(const QString& key, bool canCreate) {
  QString path = Resolve(key);
  if (!ValidKeyPath(path)) return false;
  QString folded = Fold(path);
  QString found = ReadRoot(m_Root, [&](const Hive& hive) {
    auto it = hive.find(folded);
    return it == hive.end() ? QString() : it->path;
  });
  bool exists = path.isEmpty() || !found.isEmpty();
  if (!exists) {
    if (!canCreate) return false;
    if (!Store(m_Root).Modify([&](Hive& hive) {
          EnsureKey(hive, path);
          return true;
        }))
      return false;
  }
  m_CurrentPath = path;
  m_bOpen = true;
  m_bReadOnly = false;
  return true;
}

bool TRegistry::OpenKeyReadOnly(const QString& key) {
  if (!OpenKey(key, false)) return false;
  m_bReadOnly = true;
  return true;
}

void TRegistry::CloseKey() {
  m_CurrentPath.clear();
  m_bOpen = false;
  m_bReadOnly = false;
}

bool TRegistry::KeyExists(const QString& key) const {
  QString folded = Fold(Resolve(key));
  if (folded.isEmpty()) return true;
  return ReadRoot(m_Root, [&](const Hive& hive) { return hive.contains(folded); });
}

bool TRegistry::DeleteKey(const QString& key) {
  QString folded = Fold(Resolve(key));
  if (folded.isEmpty() || m_bReadOnly) return false;
  return Store(m_Root).Modify([&](Hive& hive) {
    if (!hive.contains(folded)) return false;
    for (auto it = hive.begin(); it != hive.end();) {
      if (IsInside(folded, it.key()))
        it = hive.erase(it);
      else
        ++it;
    }
    return true;
  });
}

bool TRegistry::DeleteValue(const QString& name) {
  if (m_bReadOnly) return false;
  QString folded = Fold(m_CurrentPath);
  return Store(m_Root).Modify([&](Hive& hive) {
    auto it = hive.find(folded);
    if (it == hive.end()) return false;
    for (qsizetype i = 0; i < it->values.size(); ++i) {
      if (it->values[i].name.compare(name, Qt::CaseInsensitive) == 0) {
        it->values.removeAt(i);
        return true;
      }
    }
    return false;
  });
}

bool TRegistry::ValueExists(const QString& name) const {
  QString folded = Fold(m_CurrentPath);
  return ReadRoot(m_Root, [&](const Hive& hive) {
    auto it = hive.find(folded);
    return it != hive.end() && it->Find(name) != nullptr;
  });
}

bool TRegistry::HasSubKeys() const {
  return !GetKeyNames().isEmpty();
}

QStringList TRegistry::GetKeyNames() const {
  QString folded = Fold(m_CurrentPath);
  return ReadRoot(m_Root, [&](const Hive& hive) {
    QStringList names;
    for (auto it = hive.begin(); it != hive.end(); ++it) {
      if (IsDirectChild(folded, it.key())) names.append(it->path.section(QLatin1Char('\\'), -1));
    }
    return names;
  });
}

QStringList TRegistry::GetValueNames() const {
  QString folded = Fold(m_CurrentPath);
  return ReadRoot(m_Root, [&](const Hive& hive) {
    QStringList names;
    auto it = hive.find(folded);
    if (it != hive.end())
      for (const RegValue& v : it->values) names.append(v.name);
    return names;
  });
}

QString TRegistry::ReadString(const QString& name) const {
  QString folded = Fold(m_CurrentPath);
  return ReadRoot(m_Root, [&](const Hive& hive) {
    auto it = hive.find(folded);
    if (it == hive.end()) return QString();
    const RegValue* v = it->Find(name);
    if (!v) return QString();
    return v->isInteger ? QString::number(v->number) : v->text;
  });
}

int32_t TRegistry::ReadInteger(const QString& name, int32_t def) const {
  QString folded = Fold(m_CurrentPath);
  return ReadRoot(m_Root, [&](const Hive& hive) {
    auto it = hive.find(folded);
    if (it == hive.end()) return def;
    const RegValue* v = it->Find(name);
    if (!v) return def;
    if (v->isInteger) return v->number;
    // A string value that holds a decimal number reads as that number; other text
    // reads as the default.
    bool ok = false;
    int32_t n = v->text.trimmed().toInt(&ok);
    return ok ? n : def;
  });
}

namespace {
bool WriteValue(lb::RootKey root, const QString& keyPath, const RegValue& value) {
  QString folded = Fold(keyPath);
  return Store(root).Modify([&](Hive& hive) {
    if (folded.isEmpty() && !hive.contains(folded)) hive.insert(folded, RegKey{});
    auto it = hive.find(folded);
    if (it == hive.end()) return false;  // the open key was deleted meanwhile
    if (RegValue* existing = it->Find(value.name)) {
      QString keepName = existing->name;
      *existing = value;
      existing->name = keepName;
    } else {
      it->values.append(value);
    }
    return true;
  });
}
}  // namespace

bool TRegistry::WriteString(const QString& name, const QString& value) {
  if (m_bReadOnly) return false;
  RegValue v;
  v.name = name;
  v.text = value;
  return WriteValue(m_Root, m_CurrentPath, v);
}

bool TRegistry::WriteInteger(const QString& name, int32_t value) {
  if (m_bReadOnly) return false;
  RegValue v;
  v.name = name;
  v.isInteger = true;
  v.number = value;
  return WriteValue(m_Root, m_CurrentPath, v);
}
