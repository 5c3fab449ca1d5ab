// Profile-file reader and writer. The file is parsed into lines that remember their
// kind (section header, key line, anything else), so a write changes only the lines it
// must and every comment, blank line and unknown line survives. Reads go through a
// process-wide cache of parsed files keyed by path and validated with the file's stat
// signature; writes always re-read the file from disk, change it and replace it at once
// through a temporary file.
#include "IniFile.h"

#include "CodePage.h"
#include "FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <vector>

namespace {

enum class LineKind { Other, Section, Key };

bool IsBlank(QChar c) {
  return c == u' ' || c == u'\t';
}

QString TrimBlanks(QStringView text) {
  qsizetype b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  return text.mid(b, e - b).toString();
}

struct IniLine {
  QString text;  // the line as it stands in the file, without its line end
  LineKind kind = LineKind::Other;
  QString name;   // section or key name, trimmed
  QString value;  // key value: text after the first '=', trimmed
};

struct IniSection {
  QString name;
  int header = 0;             // line index of the header
  int end = 0;                // one past the last line of the section
  std::vector<int> keyLines;  // first line of each distinct key, in file order
  QHash<QString, int> keys;   // case-folded key name -> its first line
};

struct IniData {
  std::vector<IniLine> lines;
  std::vector<IniSection> sections;  // first occurrence of each section name
  QHash<QString, int> sectionIndex;  // case-folded name -> index in sections
  bool crlf = false;
  bool bom = false;

  const IniSection* Find(const QString& section) const {
    auto it = sectionIndex.constFind(TrimBlanks(section).toCaseFolded());
    return it == sectionIndex.constEnd() ? nullptr : &sections[*it];
  }
  const IniLine* FindKey(const QString& section, const QString& key) const {
    const IniSection* s = Find(section);
    if (!s) return nullptr;
    auto it = s->keys.constFind(TrimBlanks(key).toCaseFolded());
    return it == s->keys.constEnd() ? nullptr : &lines[*it];
  }
};

IniLine ParseLine(const QString& text) {
  IniLine line;
  line.text = text;
  QString t = TrimBlanks(text);
  if (t.isEmpty() || t.startsWith(u';')) return line;
  if (t.startsWith(u'[')) {
    qsizetype close = t.lastIndexOf(u']');
    if (close > 0) {
      line.kind = LineKind::Section;
      line.name = TrimBlanks(QStringView(t).mid(1, close - 1));
    }
    return line;
  }
  qsizetype eq = t.indexOf(u'=');
  if (eq <= 0) return line;
  QString name = TrimBlanks(QStringView(t).left(eq));
  if (name.isEmpty()) return line;
  line.kind = LineKind::Key;
  line.name = name;
  line.value = TrimBlanks(QStringView(t).mid(eq + 1));
  return line;
}

// Builds the section index over the parsed lines. Lines before the first header
// belong to no section; a repeated section header is kept in the file but only its
// first occurrence is looked up, so a hand-edited duplicate never hides the values
// the program wrote.
void Index(IniData& data) {
  data.sections.clear();
  data.sectionIndex.clear();
  IniSection* current = nullptr;
  for (int i = 0; i < static_cast<int>(data.lines.size()); ++i) {
    const IniLine& line = data.lines[i];
    if (line.kind == LineKind::Section) {
      if (current) current->end = i;
      current = nullptr;
      QString folded = line.name.toCaseFolded();
      if (data.sectionIndex.contains(folded)) continue;
      data.sectionIndex.insert(folded, static_cast<int>(data.sections.size()));
      data.sections.push_back(IniSection{line.name, i, i + 1, {}, {}});
      current = &data.sections.back();
    } else if (current && line.kind == LineKind::Key) {
      QString folded = line.name.toCaseFolded();
      if (!current->keys.contains(folded)) {
        current->keys.insert(folded, i);
        current->keyLines.push_back(i);
      }
    }
  }
  if (current) current->end = static_cast<int>(data.lines.size());
}

// The file is UTF-8. Lines that are not valid UTF-8 were carried over from the
// program's Windows days (or added by hand in another editor): each such line is read
// in the legacy 8-bit code page, so one stray byte never turns the other lines into
// mojibake, and the next write stores everything as UTF-8.
std::shared_ptr<IniData> Parse(const QByteArray& raw) {
  auto data = std::make_shared<IniData>();
  QByteArrayView bytes(raw);
  data->bom = bytes.startsWith("\xEF\xBB\xBF");
  if (data->bom) bytes = bytes.sliced(3);
  data->crlf = bytes.contains("\r\n");
  qsizetype start = 0;
  while (start < bytes.size()) {
    qsizetype end = bytes.indexOf('\n', start);
    if (end < 0) end = bytes.size();
    qsizetype stop = end;
    if (stop > start && bytes[stop - 1] == '\r') --stop;
    data->lines.push_back(
        ParseLine(lb::DecodeUtf8OrTagCodePage(bytes.data() + start, stop - start)));
    start = end + 1;
  }
  Index(*data);
  return data;
}

QByteArray Serialize(const IniData& data) {
  QString text;
  const char16_t* eol = data.crlf ? u"\r\n" : u"\n";
  for (const IniLine& line : data.lines) {
    text += line.text;
    text += eol;
  }
  QByteArray bytes = text.toUtf8();
  if (data.bom) bytes.prepend("\xEF\xBB\xBF");
  return bytes;
}

// What identifies one state of a file on disk: a rename-into-place gives a new inode,
// and the times move with every write.
struct FileSignature {
  bool exists = false;
  lb::TFileStamp stamp;
  bool operator==(const FileSignature&) const = default;
};

FileSignature Signature(const QString& path) {
  FileSignature sig;
  struct stat st;
  if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) return sig;
  sig.exists = true;
  sig.stamp = lb::FileStampOf(st);
  return sig;
}

int64_t Nanoseconds(const timespec& t) {
  return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

int64_t Now() {
  timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  return Nanoseconds(t);
}

// File times are coarse (a clock tick; two seconds on FAT, where inode numbers are not
// stable either), so a change made soon after the file was last read may leave the
// signature as it was. An entry is trusted on its signature alone only once the file's
// modification time lies well before the moment its contents were last seen; until
// then each read compares the file's bytes with the cached ones, which is still far
// cheaper than parsing them.
constexpr int64_t kRacyMargin = 3'000'000'000;

struct CacheEntry {
  FileSignature sig;
  QByteArray raw;      // the file's bytes as parsed
  int64_t seenAt = 0;  // a moment at which the file held exactly these bytes
  std::shared_ptr<const IniData> data;
  bool Trusted() const { return !sig.exists || sig.stamp.mtimeNs < seenAt - kRacyMargin; }
};

std::mutex& CacheMutex() {
  static std::mutex m;
  return m;
}
QHash<QString, CacheEntry>& Cache() {
  static QHash<QString, CacheEntry> cache;
  return cache;
}
// Serialises the read-modify-write cycles of this process.
std::mutex& WriteMutex() {
  static std::mutex m;
  return m;
}

QString CacheKey(const QString& fileName) {
  return QFileInfo(fileName).absoluteFilePath();
}

// The largest settings file read: far beyond a repository of thousands of lists,
// and a guard against a link to a device or a huge foreign file.
constexpr qint64 kMaxIniBytes = 64 << 20;

// The signature is taken before the contents, so a change that lands in between makes
// the entry look stale next time rather than hiding the change. Only a regular file is
// read (a FIFO or a device under the name reads as a missing file).
QByteArray ReadBytes(const QString& path, FileSignature* sig, int64_t* seenAt) {
  *sig = Signature(path);
  *seenAt = Now();
  QByteArray bytes;
  if (!sig->exists || !lb::ReadRegularFile(path, kMaxIniBytes, &bytes)) {
    *sig = FileSignature{};
    return {};
  }
  return bytes;
}

std::shared_ptr<const IniData> Load(const QString& fileName) {
  const QString key = CacheKey(fileName);
  const FileSignature sig = Signature(key);
  CacheEntry cached;
  bool have = false;
  {
    std::lock_guard<std::mutex> lock(CacheMutex());
    auto it = Cache().constFind(key);
    if (it != Cache().constEnd() && it->sig == sig) {
      if (it->Trusted()) return it->data;
      cached = *it;
      have = true;
    }
  }
  CacheEntry entry;
  entry.raw = ReadBytes(key, &entry.sig, &entry.seenAt);
  if (have && entry.sig == cached.sig && entry.raw == cached.raw) {
    entry.data = cached.data;
  } else {
    entry.data = Parse(entry.raw);
  }
  std::lock_guard<std::mutex> lock(CacheMutex());
  Cache().insert(key, entry);
  return entry.data;
}

// Keys and section names must stay on their line and keep their meaning when read back.
bool ValidName(const QString& name, bool section) {
  QString t = TrimBlanks(name);
  if (t.isEmpty() || t.contains(u'\n') || t.contains(u'\r')) return false;
  if (section) return !t.contains(u']');
  return !t.contains(u'=') && !t.startsWith(u'[') && !t.startsWith(u';');
}

// A value is stored on one line: line breaks inside it would start new lines (and
// could forge keys or sections), so they are stored as blanks.
QString OneLine(const QString& value) {
  QString v = value;
  v.replace(u'\r', u' ').replace(u'\n', u' ');
  return TrimBlanks(v);
}

// Re-reads the file, applies change (which returns false when the file needs no
// write) and replaces the file with the result. The whole cycle holds a lock file
// beside the settings file, so two processes writing at once never lose each
// other's keys.
template <typename Change>
bool Modify(const QString& fileName, Change change) {
  const QString key = CacheKey(fileName);
  std::lock_guard<std::mutex> writeLock(WriteMutex());
  QLockFile fileLock(key + ".lock");
  fileLock.setStaleLockTime(30000);
  if (!fileLock.tryLock(20000)) return false;
  FileSignature sig;
  int64_t seenAt = 0;
  const QByteArray raw = ReadBytes(key, &sig, &seenAt);
  // A file that is there but cannot be read is never replaced by the few keys of
  // this write.
  if (!sig.exists && ::access(QFile::encodeName(key).constData(), F_OK) == 0) return false;
  std::shared_ptr<IniData> data = Parse(raw);
  if (!change(*data)) return true;
  Index(*data);

  QSaveFile file(key);
  if (!file.open(QIODevice::WriteOnly)) return false;
  const QByteArray bytes = Serialize(*data);
  if (file.write(bytes) != bytes.size() || !lb::CommitSaveFile(file)) return false;

  // The file was just written, so the entry is not trusted on its signature: the next
  // read compares bytes, and sees a change another process made meanwhile.
  CacheEntry entry{Signature(key), bytes, 0, std::move(data)};
  std::lock_guard<std::mutex> lock(CacheMutex());
  Cache().insert(key, std::move(entry));
  return true;
}

int FindSectionLine(const IniData& data, const QString& section) {
  const IniSection* s = data.Find(section);
  return s ? s->header : -1;
}

}  // namespace

namespace lb {

QString SettingsFilePath() {
  QString env = qEnvironmentVariable("LBTOOLS_INI");
  if (!env.isEmpty()) return env;
  QString exeDir = ExecutableFolder();
  if (!exeDir.isEmpty() && ::access(QFile::encodeName(exeDir).constData(), W_OK) == 0)
    return exeDir + "/lbtools3.ini";
  QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  if (config.isEmpty()) config = QDir::homePath() + "/.config";
  QString folder = config + "/lbtools";
  QDir().mkpath(folder);
  return folder + "/lbtools3.ini";
}

QString SettingsFolder() {
  return QFileInfo(SettingsFilePath()).absolutePath();
}

}  // namespace lb

TIniFile::TIniFile(const QString& fileName) : m_FileName(fileName) {}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
  auto data = Load(m_FileName);
  const IniLine* line = data->FindKey(section, key);
  return line ? line->value : def;
}

bool TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
  if (!ValidName(section, true) || !ValidName(key, false)) return false;
  const QString stored = OneLine(value);
  return Modify(m_FileName, [&](IniData& data) {
    if (const IniSection* s = data.Find(section)) {
      auto it = s->keys.constFind(TrimBlanks(key).toCaseFolded());
      if (it != s->keys.constEnd()) {
        IniLine& line = data.lines[*it];
        if (line.value == stored) return false;
        line = ParseLine(line.name + "=" + stored);
        return true;
      }
      // A new key goes after the last non-blank line of the section, so the blank
      // lines that separate it from the next section stay where they are.
      int at = s->end;
      while (at > s->header + 1 && TrimBlanks(data.lines[at - 1].text).isEmpty()) --at;
      data.lines.insert(data.lines.begin() + at, ParseLine(TrimBlanks(key) + "=" + stored));
      return true;
    }
    if (!data.lines.empty() && !TrimBlanks(data.lines.back().text).isEmpty())
      data.lines.push_back(ParseLine(QString()));
    data.lines.push_back(ParseLine("[" + TrimBlanks(section) + "]"));
    data.lines.push_back(ParseLine(TrimBlanks(key) + "=" + stored));
    return true;
  });
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int def) const {
  QString text = ReadString(section, key, QString());
  if (text.isEmpty()) return def;
  bool ok = false;
  QStringView digits(text);
  bool negative = false;
  if (digits.startsWith(u'-') || digits.startsWith(u'+')) {
    negative = digits.startsWith(u'-');
    digits = digits.mid(1);
  }
  int base = 10;
  if (digits.startsWith(u"0x", Qt::CaseInsensitive)) {
    base = 16;
    digits = digits.mid(2);
  } else if (digits.startsWith(u'$')) {
    base = 16;
    digits = digits.mid(1);
  }
  if (digits.isEmpty() || !digits[0].isLetterOrNumber()) return def;
  qlonglong v = digits.toLongLong(&ok, base);
  if (!ok) return def;
  if (negative) v = -v;
  if (base == 16) {
    // Hexadecimal is a bit pattern: 0xFFFFFFFF reads as -1.
    if (v < -0x80000000LL || v > 0xFFFFFFFFLL) return def;
    return static_cast<int>(static_cast<uint32_t>(v));
  }
  if (v < INT32_MIN || v > INT32_MAX) return def;
  return static_cast<int>(v);
}

bool TIniFile::WriteInteger(const QString& section, const QString& key, int value) {
  return WriteString(section, key, QString::number(value));
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::WriteBool(const QString& section, const QString& key, bool value) {
  return WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

QStringList TIniFile::ReadSections() const {
  auto data = Load(m_FileName);
  QStringList names;
  for (const IniSection& s : data->sections) names << s.name;
  return names;
}

QStringList TIniFile::ReadSection(const QString& section) const {
  auto data = Load(m_FileName);
  QStringList names;
  if (const IniSection* s = data->Find(section))
    for (int i : s->keyLines) names << data->lines[i].name;
  return names;
}

QStringList TIniFile::ReadSectionValues(const QString& section) const {
  auto data = Load(m_FileName);
  QStringList values;
  if (const IniSection* s = data->Find(section))
    for (int i : s->keyLines) values << data->lines[i].name + "=" + data->lines[i].value;
  return values;
}

bool TIniFile::SectionExists(const QString& section) const {
  return Load(m_FileName)->Find(section) != nullptr;
}

bool TIniFile::ValueExists(const QString& section, const QString& key) const {
  return Load(m_FileName)->FindKey(section, key) != nullptr;
}

bool TIniFile::EraseSection(const QString& section) {
  const QString folded = TrimBlanks(section).toCaseFolded();
  return Modify(m_FileName, [&](IniData& data) {
    if (FindSectionLine(data, section) < 0) return false;
    // Every occurrence of the section goes, so no later copy of it resurfaces.
    std::vector<IniLine> kept;
    kept.reserve(data.lines.size());
    bool inErased = false;
    for (IniLine& line : data.lines) {
      if (line.kind == LineKind::Section) inErased = line.name.toCaseFolded() == folded;
      if (!inErased) kept.push_back(std::move(line));
    }
    data.lines = std::move(kept);
    return true;
  });
}

bool TIniFile::DeleteKey(const QString& section, const QString& key) {
  const QString folded = TrimBlanks(key).toCaseFolded();
  return Modify(m_FileName, [&](IniData& data) {
    const IniSection* s = data.Find(section);
    if (!s || !s->keys.contains(folded)) return false;
    // Duplicates of the key in the section go too, or the next one would take its place.
    bool changed = false;
    for (int i = s->end - 1; i > s->header; --i) {
      const IniLine& line = data.lines[i];
      if (line.kind == LineKind::Key && line.name.toCaseFolded() == folded) {
        data.lines.erase(data.lines.begin() + i);
        changed = true;
      }
    }
    return changed;
  });
}
