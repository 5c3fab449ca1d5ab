#include "SlInsertFilesManager.h"

#include "InfoWindowManager.h"
#include "platform/Assert.h"
#include "platform/CodePage.h"
#include "platform/IniFile.h"
#include "platform/PartialFiles.h"
#include "platform/SystemError.h"
#include "platform/UiServices.h"

#include <QCollator>
#include <QDir>
#include <QLocale>
#include <QFile>
#include <QStringDecoder>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <string_view>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Links followed in one chain before it counts as a loop (the kernel's own limit).
constexpr int kMaxLinkChain = 40;
// The clock that paces pending messages (m_Pace) is read only every this many files,
// so a window stays responsive without costing the scan its speed.
constexpr int kFilesPerRefresh = 32;

// The same for a folder entry's name in the file system's bytes (UTF-8 here): one
// allocation a path, as scans build one for every music file they meet.
QString JoinPath(const QString& folder, const char* name, size_t length) {
  const bool slash = !folder.endsWith('/');
  QString path(folder.size() + (slash ? 1 : 0) + qsizetype(length), Qt::Uninitialized);
  QChar* out = std::copy(folder.cbegin(), folder.cend(), path.data());
  if (slash) *out++ = u'/';
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  out = decoder.appendToBuffer(out, QByteArrayView(name, qsizetype(length)));
  path.truncate(out - path.constData());
  return path;
}

QString Quoted(const QString& path) {
  return '"' + path + '"';
}

// The key under which a list is remembered: its canonical path, so a list reached
// directly and through links is met once.
QString ListKey(const QString& path) {
  char resolved[PATH_MAX];
  if (::realpath(QFile::encodeName(path).constData(), resolved)) return QFile::decodeName(resolved);
  return QDir::cleanPath(path);
}

// Why a folder did not open, for the user: the cause as it goes after a colon.
QString OpenFailureText(int error) {
  QString text = lb::SystemErrorText(error);
  if (!text.isEmpty()) text[0] = text[0].toLower();
  return text;
}

// A folder that is gone or was swapped for something else while the scan ran held
// nothing to tell about.
bool VanishedMeanwhile(int error) {
  return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

bool AsciiOnly(const QByteArray& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return (unsigned char)c < 0x80; });
}

bool AsciiEqualNoCase(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
    if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
    if (x != y) return false;
  }
  return true;
}

}  // namespace

TSlInsertFilesManager::TSlInsertFilesManager(const QStringList& dropped) : m_Dropped(dropped) {
  TIniFile ini(lb::SettingsFilePath());
  ParseExtensions(ini.ReadString("Edit", "Extentions", kDefaultExtensions));
  m_bScanUseLinks = ini.ReadBool("Settings", "ScanUseLinks", true);
}

TSlInsertFilesManager::TSlInsertFilesManager(const QString& extensions) {
  ParseExtensions(extensions);
}

bool TSlInsertFilesManager::ParseExtensions(const QString& text) {
  static const QString kForbidden = "./*?\"<>|\\";
  m_Extensions.clear();
  m_ExtBytes.clear();
  m_bBadExtensions = true;
  const QStringList tokens = text.split(QRegularExpression("[, ]+"), Qt::SkipEmptyParts);
  for (const QString& token : tokens) {
    for (QChar c : token)
      if (kForbidden.contains(c)) return false;
    m_Extensions << "." + token;
    m_ExtBytes.push_back(QFile::encodeName("." + token.toLower()));
  }
  m_bAsciiExtensions = std::all_of(m_ExtBytes.begin(), m_ExtBytes.end(), AsciiOnly);
  m_bBadExtensions = false;
  return true;
}

int TSlInsertFilesManager::GetExtensionCount() const {
  return m_bBadExtensions ? 0 : m_Extensions.size();
}

QString TSlInsertFilesManager::GetExtension(int i) const {
  if (m_bBadExtensions || i < 0 || i >= m_Extensions.size()) return QString();
  return m_Extensions[i];
}

bool TSlInsertFilesManager::IsMusicName(QStringView name) const {
  if (m_bBadExtensions) return false;
  for (const QString& ext : m_Extensions)
    if (name.size() > ext.size() && name.endsWith(ext, Qt::CaseInsensitive)) return true;
  return false;
}

int TSlInsertFilesManager::MatchName(const char* name, size_t length) const {
  if (m_bAsciiExtensions && !m_bBadExtensions) {
    for (const QByteArray& ext : m_ExtBytes) {
      const size_t n = ext.size();
      if (length > n && AsciiEqualNoCase(name + length - n, ext.constData(), n)) return 1;
    }
  } else if (IsMusicName(QFile::decodeName(QByteArray::fromRawData(name, length)))) {
    return 1;
  }
  // Lists: ".m3u" and ".m3u8".
  if (m_Mode != imForgotten && ((length > 4 && AsciiEqualNoCase(name + length - 4, ".m3u", 4)) ||
                                (length > 5 && AsciiEqualNoCase(name + length - 5, ".m3u8", 5))))
    return 2;
  return 0;
}

void TSlInsertFilesManager::FlushPending() {
  if (m_PendingPaths.empty()) return;
  m_FoundSongs.reserve(m_FoundSongs.size() + m_PendingPaths.size());
  for (const QString& path : m_PendingPaths) m_FoundSongs.emplace_back(nullptr, path, QString());
  m_PendingPaths.clear();
}

bool TSlInsertFilesManager::IsCollected(const QString& path) {
  FlushPending();
  for (; m_nIndexed < m_FoundSongs.size(); ++m_nIndexed)
    m_CollectedPaths.insert(m_FoundSongs[m_nIndexed].m_Path);
  return m_CollectedPaths.contains(path);
}

bool TSlInsertFilesManager::RecordFolder(const QString& folder, const lb::TFileId& id) {
  if (m_FolderIds.contains(id)) return false;
  m_FolderIds.insert(id);
  m_Folders << folder;
  return true;
}

void TSlInsertFilesManager::NoteNotOpened(const QString& folder, int error) {
  if (!VanishedMeanwhile(error))
    NoteSkipped(skNotOpened, 1,
                "Не открылась папка " + Quoted(folder) + ": " + OpenFailureText(error) + ".");
}

void TSlInsertFilesManager::NoteSkipped(TSkipKind kind, int count, const QString& line) {
  constexpr qsizetype kShownLines = 10;
  m_nSkipped += count;
  m_SkipKinds[kind] = true;
  ++m_nSkipLines;
  if (m_SkipLines.size() < kShownLines) m_SkipLines << line;
}

bool TSlInsertFilesManager::LeftOutForLineBreak(const QString& path) {
  if (!lb::HasLineBreak(path)) return false;
  NoteSkipped(skLineBreak, 1, "Имя с переводом строки: " + Quoted(path) + ".");
  return true;
}

void TSlInsertFilesManager::ReportSkipped() {
  if (m_nSkipLines == 0) return;
  QString text = "Сканирование пропустило часть файлов и папок:\n" + m_SkipLines.join('\n');
  if (m_nSkipLines > m_SkipLines.size())
    text += QString("\n... и ещё %1").arg(m_nSkipLines - m_SkipLines.size());
  if (m_SkipKinds[skNotUtf8])
    text += "\nИмена не в кодировке UTF-8 нельзя записать в лист: переименуйте их.";
  if (m_SkipKinds[skLineBreak])
    text += "\nИмена с переводом строки нельзя записать в лист: переименуйте их.";
  if (m_SkipKinds[skTooLong])
    text += QString("\nПуть длиннее %1 байт система не открывает: сократите имена папок.")
                .arg(PATH_MAX - 1);
  if (m_SkipKinds[skNotOpened])
    text +=
        "\nПесни и листы в папках, которые не открылись, не найдены: проверьте права "
        "доступа к ним.";
  m_SkipLines.clear();
  m_nSkipLines = 0;
  std::fill(std::begin(m_SkipKinds), std::end(m_SkipKinds), false);
  // Told inside a job: a termination signal answers it and lets the caller add the
  // songs found before the program closes.
  TInfoWindowLevel job("Сканирование папки", QString(), false);
  UiServices::Instance().MessageBox(text, UiServices::kCaption, MB_OK | MB_ICONWARNING);
}

bool TSlInsertFilesManager::ResolveLink(const QString& linkPath, QString* target) {
  const QByteArray native = QFile::encodeName(linkPath);
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink(native.constData(), buffer, sizeof buffer);
  if (n <= 0 || n >= (ssize_t)sizeof buffer) return false;
  QString text = QFile::decodeName(QByteArray(buffer, n));
  if (!text.startsWith('/')) {
    const int slash = linkPath.lastIndexOf('/');
    text = (slash >= 0 ? linkPath.left(slash + 1) : QString("./")) + text;
  }
  if (target) *target = QDir::cleanPath(text);
  return true;
}

TSlPathKind TSlInsertFilesManager::Classify(const QString& path, bool bFromDrop) {
  QString target;
  return ClassifyPath(path, bFromDrop, false, 0, &target);
}

TSlPathKind TSlInsertFilesManager::ClassifyPath(const QString& path, bool bFromDrop, bool bTarget,
                                                int depth, QString* target, int knownType) {
  bool isLink = knownType == DT_LNK;
  if (knownType == DT_UNKNOWN) {
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0) isLink = S_ISLNK(st.st_mode);
  }
  if (isLink) {
    // A symbolic link is this platform's shortcut: it is never a music file or a list
    // by its own name, and it is followed only when the settings allow it.
    if (!m_bScanUseLinks || m_Mode == imForgotten) return pkSkip;
    QString resolved;
    struct stat st;
    if (depth >= kMaxLinkChain || !ResolveLink(path, &resolved) ||
        ::stat(QFile::encodeName(resolved).constData(), &st) != 0)
      return pkUnreadable;  // dangling, unreadable or a loop
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) return pkSkip;  // FIFO, device...
    if (!S_ISDIR(st.st_mode)) return ClassifyPath(resolved, bFromDrop, true, depth + 1, target);
    if (m_bNoToAllFolderLinks) return pkSkip;
    const lb::TFileId id = lb::FileIdOf(st);
    if (m_FolderIds.contains(id) || m_DeclinedFolderIds.contains(id)) return pkSkip;
    if (!bFromDrop) {
      const int answer = UiServices::Instance().AskButtons(
          "Во время сканирования обнаружен ярлык, указывающий на папку\n" + Quoted(resolved) +
              "\nПроверить её ?",
          UiServices::kCaption, abYes | abNo | abNoToAll, MB_ICONQUESTION);
      if (answer != IDYES) {
        // Only the link is declined: the folder itself is still scanned when the scan
        // comes to it by its own path.
        m_DeclinedFolderIds.insert(id);
        if (answer == IDNOTOALL) m_bNoToAllFolderLinks = true;
        return pkSkip;
      }
    }
    RecordFolder(resolved, id);
    *target = resolved;
    return pkFolder;
  }
  *target = path;
  const int slash = path.lastIndexOf('/');
  const QStringView name = QStringView(path).mid(slash + 1);
  if (IsMusicName(name)) return bTarget && IsCollected(path) ? pkSkip : pkMusic;
  if (m_Mode == imForgotten) return pkSkip;
  if ((name.size() > 4 && name.endsWith(u".m3u", Qt::CaseInsensitive)) ||
      (name.size() > 5 && name.endsWith(u".m3u8", Qt::CaseInsensitive))) {
    const QString key = ListKey(path);
    auto it = std::lower_bound(m_Lists.begin(), m_Lists.end(), key);
    if (it != m_Lists.end() && *it == key) return pkSkip;
    m_Lists.insert(it, key);
    return pkList;
  }
  return pkSkip;
}

bool TSlInsertFilesManager::ProcessPath(const QString& path, bool bFromDrop) {
  TOperation operation(this);
  QString target;
  const TSlPathKind kind = ClassifyPath(path, bFromDrop, false, 0, &target);
  return ProcessClassified(target.isEmpty() ? path : target, kind);
}

bool TSlInsertFilesManager::ProcessClassified(QString path, TSlPathKind kind) {
  switch (kind) {
    case pkFolder:
      return ScanFolderImpl(path);
    case pkMusic:
      if (LeftOutForLineBreak(path)) return true;
      if (m_Mode == imForgotten) {
        LB_ASSERT(m_DeadFilesDlg);
        if (!m_DeadFilesDlg->IsKnownPath(path))
          m_DeadFilesDlg->AddSong(TSlSong(nullptr, path, QString()));
      } else if (m_Mode == imInsert) {
        m_PendingPaths.push_back(std::move(path));
      }
      return true;
    case pkList:
      if (m_Mode == imInsert && !InsertList(path)) return false;
      return OfferToRepository(path);
    default:
      return true;
  }
}

bool TSlInsertFilesManager::OfferToRepository(const QString& path) {
  if (!m_Repository || m_Repository->IsListKnown(path) || m_bNoToAllRepository) return true;
  if (!m_bYesToAllRepository) {
    unsigned buttons = abYes | abNo | abCancel | abYesToAll;
    if (m_Mode != imLists) buttons |= abNoToAll;
    const int answer = UiServices::Instance().AskButtons(
        "Лист " + Quoted(path) + "\nотсутствует в хранилище. Добавить ?", UiServices::kCaption,
        buttons, MB_ICONQUESTION);
    if (answer == IDCANCEL) return false;
    if (answer == IDNOTOALL) m_bNoToAllRepository = true;
    if (answer == IDYESTOALL) m_bYesToAllRepository = true;
    if (answer != IDYES && answer != IDYESTOALL) return true;
  }
  m_Repository->AddList(path);
  return true;
}

bool TSlInsertFilesManager::InsertList(const QString& path) {
  TOperation operation(this);
  if (m_bNoToAllLists) return true;
  if (!m_bYesToAllLists) {
    const int answer = UiServices::Instance().AskButtons(
        "Найден лист " + Quoted(path) + "\nДобавить его содержимое ?", UiServices::kCaption,
        abYes | abNo | abCancel | abNoToAll | abYesToAll, MB_ICONQUESTION);
    if (answer == IDCANCEL) return false;
    if (answer == IDNOTOALL) m_bNoToAllLists = true;
    if (answer == IDYESTOALL) m_bYesToAllLists = true;
    if (answer != IDYES && answer != IDYESTOALL) return true;
  }
  FlushPending();  // the list's songs follow the songs found before it
  TSlDocument list;
  list.SetFileName(path);
  if (!list.Load(true)) {
    if (InfoWindowManager().m_bStop) return false;
    UiServices::Instance().MessageBox(
        "Ошибка загрузки листа\n" + Quoted(path) +
            ".\nДля получения более подробной информацииоб ошибке\nпопробуйте открыть лист "
            "обычным способом.",
        UiServices::kCaption, MB_OK | MB_ICONERROR);
    return true;
  }
  TInfoWindowLevel window("Копирование информации", path, false);
  list.CopyRangeTo(0, list.m_Songs.size(), m_FoundSongs, static_cast<int>(m_FoundSongs.size()));
  return true;
}

void TSlInsertFilesManager::ShowFoundCount() {
  if (m_Mode != imInsert || m_nShownCount == (int)FoundCount()) return;
  m_nShownCount = static_cast<int>(FoundCount());
  InfoWindowManager().SetLine("Песен найдено: ", QString::number(m_nShownCount));
}

bool TSlInsertFilesManager::PaceAndCheckStop(bool bForce) {
  // The clock is read every few files; the window is refreshed (and the Stop button
  // looked at) when enough time has passed, so a fast scan is not slowed by repaints.
  if (!bForce && ++m_nUnpaced < kFilesPerRefresh && m_Pace.Started())
    return InfoWindowManager().m_bStop;
  m_nUnpaced = 0;
  if (bForce || m_Pace.Due()) {
    ShowFoundCount();
    UiServices::Instance().ProcessMessages();
    m_nUnpaced = 0;
    m_Pace.Turned();
  }
  return InfoWindowManager().m_bStop;
}

bool TSlInsertFilesManager::ScanFolder(const QString& folder) {
  TOperation operation(this);
  QString path = QDir::cleanPath(folder);
  if (LeftOutForLineBreak(path)) return true;
  struct stat st;
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
    NoteNotOpened(path, errno);
    return true;
  }
  if (!S_ISDIR(st.st_mode)) return true;
  if (!RecordFolder(path, lb::FileIdOf(st))) return true;  // scanned already
  return ScanFolderImpl(path);
}

bool TSlInsertFilesManager::ScanFolders(const QStringList& folders) {
  TOperation operation(this);
  for (const QString& folder : folders)
    if (!ScanFolder(folder)) return false;
  return true;
}

const QCollator& TSlInsertFilesManager::NameCollator() {
  if (!m_pCollator) {
    // The "C" locale has no collation of its own (it would order bytes, with case):
    // names then follow the common order of English.
    const QLocale locale =
        QLocale().language() == QLocale::C ? QLocale(QLocale::English) : QLocale();
    m_pCollator = std::make_unique<QCollator>(locale);
    m_pCollator->setCaseSensitivity(Qt::CaseInsensitive);
    m_pCollator->setNumericMode(true);
  }
  return *m_pCollator;
}

namespace {
// The characters the fast keys cover: printable ASCII and the basic Russian letters
// (without Й and Ё, which collate as letters with a mark): none of them differs from
// another one by a mark only, so ranking them one by one orders names as the
// collator does.
constexpr char16_t kFirstCyrillic = u'\u0410', kLastCyrillic = u'\u044f';
bool HasRank(char16_t c) {
  if (c >= 0x20 && c < 0x7f) return true;
  return c >= kFirstCyrillic && c <= kLastCyrillic && c != u'\u0419' && c != u'\u0439';
}
int RankIndex(char16_t c) {
  return c < 0x80 ? c : 0x80 + (c - kFirstCyrillic);
}
}  // namespace

void TSlInsertFilesManager::SortByName(const QString& folder, const TFolderEntry* entries,
                                       size_t count, size_t* order) {
  const qsizetype nameStart = folder.endsWith('/') ? folder.size() : folder.size() + 1;
  auto name = [&](const TFolderEntry& entry) { return QStringView(entry.path).mid(nameStart); };
  // Every name gets its key once; the sort then compares keys only.
  auto sort = [&](const auto& keys) {
    std::sort(order, order + count, [&](size_t a, size_t b) {
      const int c = keys[a].compare(keys[b]);
      return c != 0 ? c < 0 : entries[a].path < entries[b].path;
    });
  };
  // The fast keys of a folder share one buffer: no allocation a name.
  std::string& buffer = m_KeyBuffer;
  std::vector<std::string_view>& fast = m_FastKeys;
  std::vector<std::pair<size_t, size_t>>& spans = m_KeySpans;
  buffer.clear();
  fast.resize(count);
  spans.resize(count);
  bool covered = true;
  for (size_t n = 0; n < count && covered; ++n) {
    const size_t start = buffer.size();
    covered = FastSortKey(name(entries[n]), buffer);
    spans[n] = {start, buffer.size() - start};
  }
  if (covered) {
    for (size_t n = 0; n < count; ++n)
      fast[n] = std::string_view(buffer).substr(spans[n].first, spans[n].second);
    sort(fast);
    return;
  }
  const QCollator& collator = NameCollator();
  std::vector<QCollatorSortKey> keys;
  keys.reserve(count);
  for (size_t n = 0; n < count; ++n) keys.push_back(collator.sortKey(name(entries[n]).toString()));
  sort(keys);
}

bool TSlInsertFilesManager::FastSortKey(QStringView name, std::string& key) {
  if (m_Ranks.empty()) {
    // The covered characters ranked by the collator itself; both cases of a letter
    // share a rank.
    std::vector<char16_t> chars;
    for (char16_t c = 0x20; c <= kLastCyrillic; ++c)
      if (HasRank(c)) chars.push_back(c);
    const QCollator& collator = NameCollator();
    auto text = [](char16_t c) { return QString(QChar(c)); };
    std::stable_sort(chars.begin(), chars.end(), [&](char16_t a, char16_t b) {
      return collator.compare(text(a), text(b)) < 0;
    });
    m_Ranks.assign(0x80 + (kLastCyrillic - kFirstCyrillic) + 1, 0);
    uint8_t rank = 1;
    for (size_t i = 0; i < chars.size(); ++i) {
      if (i > 0 && collator.compare(text(chars[i - 1]), text(chars[i])) != 0) ++rank;
      m_Ranks[RankIndex(chars[i])] = rank;
    }
  }
  // A run of digits is one number: the digits' rank, the count of its digits without
  // leading zeros, then those digits, so "2" comes before "10".
  const size_t start = key.size();
  key.resize(start + 2 * size_t(name.size()) + 1);
  char* out = key.data() + start;
  const char digitRank = char(m_Ranks[RankIndex(u'0')]);
  for (qsizetype i = 0; i < name.size();) {
    const char16_t c = name[i].unicode();
    if (!HasRank(c)) {
      key.resize(start);
      return false;
    }
    if (c < u'0' || c > u'9') {
      *out++ = char(m_Ranks[RankIndex(c)]);
      ++i;
      continue;
    }
    qsizetype end = i;
    while (end < name.size() && name[end] >= u'0' && name[end] <= u'9') ++end;
    qsizetype first = i;
    while (first + 1 < end && name[first] == u'0') ++first;
    *out++ = digitRank;
    *out++ = char(std::min<qsizetype>(end - first, 255));
    for (qsizetype d = first; d < end; ++d) *out++ = char(name[d].unicode());
    i = end;
  }
  key.resize(size_t(out - key.data()));
  return true;
}

bool TSlInsertFilesManager::ScanFolderImpl(const QString& folder, bool bRecord) {
  const QByteArray native = QFile::encodeName(folder);
  // The folder is read with the system call itself: its identity then costs no more than
  // the look that opening a folder the usual way makes anyway.
  const int fd =
      ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (bRecord ? O_NOFOLLOW : 0));
  if (fd < 0) {
    // An unreadable folder is skipped, and the user is told.
    NoteNotOpened(folder, errno);
    return true;
  }
  if (bRecord) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !RecordFolder(folder, lb::FileIdOf(st))) {
      ::close(fd);
      return true;  // scanned already
    }
  }
  bool result = true;
  {
    TInfoWindowLevel window(QStringLiteral("Сканирование папки"), folder, false);
    // The entries are gathered first and taken in the order of their names, as the
    // user sees the folder (without case, "2" before "10"), not in the file system's
    // own order.
    // They go on the scan's stack of entries, above those of the folders being
    // scanned around this one, and leave it when this folder is done.
    std::vector<TFolderEntry>& entries = m_EntryStack;
    const size_t first = entries.size();
    int undecodable = 0;  // entries skipped for names that are not UTF-8
    int tooLong = 0;      // entries whose path the system would not take
    int lineBreaks = 0;   // entries whose name holds a line break
    // The longest name an entry here may have: its path stays within PATH_MAX.
    const qsizetype maxName = PATH_MAX - 1 - native.size() - (native.endsWith('/') ? 0 : 1);
    std::vector<char>& buffer = m_DirBuffer;
    if (buffer.empty()) buffer.resize(32 * 1024);
    ssize_t got = 0;
    for (ssize_t at = 0;;) {
      if (at >= got) {
        got = ::getdents64(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        at = 0;
      }
      const auto* e = reinterpret_cast<const dirent64*>(buffer.data() + at);
      at += e->d_reclen;
      const char* name = e->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      // A writer's hidden copy in progress, or one a killed writer left, is no song.
      if (name[0] == '.' && lb::IsPartialFileName(QFile::decodeName(name))) continue;
      int type = e->d_type;
      struct stat st;
      if (type == DT_UNKNOWN) {
        if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        type = S_ISDIR(st.st_mode)   ? DT_DIR
               : S_ISLNK(st.st_mode) ? DT_LNK
               : S_ISREG(st.st_mode) ? DT_REG
                                     : DT_FIFO;
      }
      // A FIFO, socket or device is neither a song nor a list, whatever its name.
      if (type != DT_DIR && type != DT_LNK && type != DT_REG) continue;
      const size_t length = std::strlen(name);
      const int match = type == DT_REG ? MatchName(name, length) : 0;
      if (type == DT_REG && !match) continue;
      // A name that is not UTF-8 (Windows-1251 bytes from an old disk) has no text that
      // names the file again: it cannot enter a list.
      if (!lb::IsValidUtf8(name, qsizetype(length))) {
        ++undecodable;
        continue;
      }
      if (std::string_view(name, length).find_first_of("\r\n") != std::string_view::npos) {
        ++lineBreaks;
        continue;
      }
      if (qsizetype(length) > maxName) {
        ++tooLong;
        continue;
      }
      if (type == DT_DIR) {
        entries.push_back({JoinPath(folder, name, length), DT_DIR, 0});
      } else if (type == DT_LNK) {
        entries.push_back({JoinPath(folder, name, length), DT_LNK, 0});
      } else {
        entries.push_back({JoinPath(folder, name, length), DT_REG, match});
      }
    }
    ::close(fd);
    if (undecodable)
      NoteSkipped(skNotUtf8, undecodable,
                  "В папке " + Quoted(folder) +
                      " имён не в кодировке UTF-8: " + QString::number(undecodable) + ".");
    if (lineBreaks)
      NoteSkipped(skLineBreak, lineBreaks,
                  "В папке " + Quoted(folder) +
                      " имён с переводом строки: " + QString::number(lineBreaks) + ".");
    if (tooLong)
      NoteSkipped(skTooLong, tooLong,
                  "В папке " + Quoted(folder) +
                      " слишком длинных путей: " + QString::number(tooLong) + ".");

    const size_t count = entries.size() - first;
    std::vector<size_t>& order = m_OrderStack;
    const size_t orderFirst = order.size();
    for (size_t n = 0; n < count; ++n) order.push_back(n);
    if (count > 1) SortByName(folder, &entries[first], count, &order[orderFirst]);

    // The stacks grow while a subfolder is scanned: entries are reached by index.
    for (size_t i = 0; i < count && result; ++i) {
      TFolderEntry& entry = entries[first + order[orderFirst + i]];
      QString path = std::move(entry.path);  // taken: this entry is not looked at again
      if (entry.type == DT_DIR) {
        result = ScanFolderImpl(path, true);
        continue;
      }
      if (entry.type == DT_LNK) {
        QString target;
        const TSlPathKind kind = ClassifyPath(path, false, false, 0, &target, DT_LNK);
        result = ProcessClassified(target.isEmpty() ? std::move(path) : std::move(target), kind);
      } else {
        QString target;
        const TSlPathKind kind =
            entry.match == 1 ? pkMusic : ClassifyPath(path, false, false, 0, &target, DT_REG);
        result = ProcessClassified(std::move(path), kind);
      }
      if (PaceAndCheckStop(false) && result) result = false;
    }
    entries.resize(first);
    order.resize(orderFirst);
    ShowFoundCount();
  }
  m_nShownCount = -1;  // closing the level brought back the outer line
  return result;
}

bool TSlInsertFilesManager::InsertFromDrop() {
  TOperation operation(this);
  bool result = true;
  {
    TInfoWindowLevel window("Вставка файлов...", QString(), false);
    for (const QString& item : m_Dropped) {
      if (LeftOutForLineBreak(item)) continue;
      struct stat st;
      if (::lstat(QFile::encodeName(item).constData(), &st) != 0) {
        if (m_bKeepMissingSongs && m_Mode == imInsert &&
            IsMusicName(QStringView(item).mid(item.lastIndexOf('/') + 1)))
          m_PendingPaths.push_back(item);
        continue;
      }
      if (S_ISDIR(st.st_mode)) {
        result = ScanFolder(item);
      } else {
        result = ProcessPath(item, true);
        if (PaceAndCheckStop(true) && result) result = false;
      }
      if (!result) break;
    }
    ShowFoundCount();
  }
  m_nShownCount = -1;
  return result;
}
