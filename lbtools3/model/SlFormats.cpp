// A list on disk: the M3U file and the data file beside it, loading (with the merge
// after an outside edit), saving, and the messages shown when either goes wrong.
#include "M3uList.h"
#include "SlInsertFilesManager.h"
#include "SlStream.h"
#include "InfoWindowManager.h"
#include "ListFlush.h"
#include "WorkerThread.h"

#include "platform/FileSystem.h"
#include "platform/PartialFiles.h"
#include "platform/IniFile.h"
#include "platform/SystemError.h"
#include "platform/UiServices.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <utility>
#include <QFile>
#include <QHash>
#include <cstring>
#include <unistd.h>

namespace {

constexpr char kCaption[] = "LBTools";
// Songs handled between two looks at the user interface.
constexpr int kRecordsPerRefresh = 256;
constexpr qint64 kReadChunk = 64 * 1024;
// Small enough to stay in the cache and be allocated once for the whole file.
constexpr qsizetype kWriteChunk = 64 * 1024;

void Message(bool bSilent, const QString& text, unsigned icon) {
  if (!bSilent) UiServices::Instance().MessageBox(text, kCaption, MB_OK | icon);
}

void ShowM3uLoadError(int code, bool bSilent, const QString& path, const QString& notAList) {
  if (!notAList.isEmpty())
    Message(bSilent, "Файл\n\"" + path + "\"\nне является m3u-листом: " + notAList + ".",
            MB_ICONERROR);
  else if (code == mcStopped)
    Message(bSilent, "Прервано пользователем", MB_ICONWARNING);
  else
    Message(bSilent, "Ошибка во время загрузки m3u-листа", MB_ICONERROR);
}

QString DataCodeReason(int code) {
  switch (code) {
    case dcCannotOpen:
      return "Ошибка открытия файла";
    case dcBadFormat:
      return "Ошибка формата файла";
    case dcBadVersion:
      return "Неопознанная версия файла";
    case dcBadRecord:
      return "Ошибка загрузки файла";
    default:
      return "Файл повреждён";
  }
}

// A comment or directive line of a list ("#EXTINF:...", "#EXTGRP:Rock", "# note"):
// its first character other than a blank is '#'. Such a line is never a song.
// A first line that opens a play list of another format: PLS, or XML (a declaration,
// a comment or one of the XML play lists' elements).
bool OpensForeignList(QByteArrayView line) {
  const QByteArray first = line.trimmed().toByteArray().toLower();
  static const char* const kXmlStarts[] = {"<?", "<!", "<playlist", "<asx", "<smil"};
  bool bForeign = first == "[playlist]";
  for (const char* s : kXmlStarts) bForeign = bForeign || first.startsWith(s);
  return bForeign;
}

// Takes a line's bytes as read, or a song's path as it will be written.
template <typename TText>
bool IsCommentLine(TText text) {
  for (const auto c : text) {
    if (c == u'#') return true;
    if (c != u' ' && c != u'\t') return false;
  }
  return false;
}

// A line of blanks only: no reader takes it for a song or a directive.
bool IsBlankLine(QByteArrayView bytes) {
  return bytes.trimmed().isEmpty();
}

// A directive that describes the entry after it ("#EXTINF:", "#EXTVLCOPT:", ...): it
// and every "#" line after it up to the path belong to that song. Among the lines
// before the first song, those before such a directive describe the list ("#EXTM3U",
// "#PLAYLIST:", "#EXTENC:", a list-wide "#EXTGRP:", comments): they stay at its top
// (see GiveTopGroupToFirstSong for a group that is the first song's).
bool IsEntryDirective(QByteArrayView bytes) {
  static constexpr QByteArrayView kEntryDirectives[] = {
      "#EXTINF", "#EXTVLCOPT", "#EXTALB", "#EXTART",         "#EXTGENRE",
      "#EXTIMG", "#EXTBYT",    "#EXTBIN", "#EXTALBUMARTURL", "#KODIPROP"};
  const QByteArrayView line = bytes.trimmed();
  for (QByteArrayView directive : kEntryDirectives)
    if (line.startsWith(directive)) return true;
  return false;
}

bool HasNonAscii(QByteArrayView bytes) {
  for (char c : bytes)
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  return false;
}

// header is the list's top lines (one text), bExtM3u whether they are written.
void GiveTopGroupToFirstSong(QString& header, bool& bExtM3u, const QStringList& legacyLines,
                             std::vector<std::unique_ptr<TSlSong>>& songs) {
  // Players that give every entry a group of its own write "#EXTGRP:" before each
  // "#EXTINF:": the group line at the top is then the first song's, not the list's.
  const qsizetype at = header.startsWith(u"#EXTGRP") ? 0 : header.indexOf(u"\n#EXTGRP");
  if (at < 0 || songs.size() < 2) return;
  const bool eachHasOne = std::any_of(songs.begin() + 1, songs.end(), [](const auto& song) {
    return song->m_bExtInf && song->m_ExtInf.startsWith(u"#EXTGRP");
  });
  if (!eachHasOne) return;
  TSlSong& first = *songs.front();
  const QString moved = header.mid(at == 0 ? 0 : at + 1);
  header.truncate(at);
  if (header.isEmpty()) bExtM3u = false;
  first.m_ExtInf = first.m_bExtInf ? moved + u'\n' + first.m_ExtInf : moved;
  first.m_bExtInf = true;
  for (const QString& line : moved.split(u'\n'))
    if (legacyLines.contains(line)) first.m_LegacyLines << line;
}

static thread_local bool g_bFlushOffMainThread = false;
// The list files whose flush runs on its thread now, each with whether it has ended
// (set by the flushing thread).
static thread_local QHash<QByteArray, std::shared_ptr<std::atomic<bool>>> g_Flushing;

// Writes a file whole or not at all (see TWholeFileWriter). Bytes are collected and
// written in large chunks.
class TListFileWriter {
 public:
  explicit TListFileWriter(const QString& path) : m_File(path), m_Path(QFile::encodeName(path)) {
    m_Stream.Bytes().reserve(2 * kWriteChunk);  // a chunk and the record that fills it
  }
  bool Open() { return m_File.Open(); }
  TSlStreamWriter& Stream() { return m_Stream; }
  bool FlushIfFull() { return m_Stream.Bytes().size() < kWriteChunk || Flush(); }
  bool Flush() {
    QByteArray& bytes = m_Stream.Bytes();
    const bool ok = m_File.Write(bytes);
    bytes.resize(0);  // keeps the buffer for the next chunk
    return ok;
  }
  bool Commit() {
    auto commit = [this] { return Flush() && m_File.Commit(); };
    // A save of the same file begun while the windows turned during its flush puts its
    // newer file in place only after the older one.
    if (const auto earlier = g_Flushing.value(m_Path))
      RunOffMainThread([earlier] {
        while (!*earlier) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
      });
    if (!g_bFlushOffMainThread) return commit();
    auto ended = std::make_shared<std::atomic<bool>>(false);
    g_Flushing.insert(m_Path, ended);
    const bool ok = RunOffMainThread([&commit, ended] {
      const bool done = commit();
      *ended = true;
      return done;
    });
    if (g_Flushing.value(m_Path) == ended) g_Flushing.remove(m_Path);
    return ok;
  }
  void Cancel() { m_File.Cancel(); }
  int Error() const { return m_File.Error(); }

 private:
  lb::TWholeFileWriter m_File;
  QByteArray m_Path;
  TSlStreamWriter m_Stream;
};

// Splits bytes into lines ending at CR LF, LF or a lone CR. A line longer than the
// limit is an error.
class TM3uLineSplitter {
 public:
  // Feeds a chunk; calls onLine for every completed line. False when a line is too long.
  template <class OnLine>
  bool Feed(const char* data, qsizetype size, OnLine&& onLine) {
    qsizetype i = 0;
    if (m_bAfterCR && size > 0) {
      m_bAfterCR = false;
      if (data[0] == '\n') i = 1;
    }
    while (i < size) {
      // The end of the line: the first CR or LF from here.
      qsizetype end = i;
      while (end < size && data[end] != '\r' && data[end] != '\n') ++end;
      if (m_Line.size() + (end - i) > TSlDocument::kMaxLineBytes) return false;
      if (end == size) {
        m_Line.append(data + i, end - i);
        return true;
      }
      if (m_Line.isEmpty()) {
        onLine(QByteArrayView(data + i, end - i));
      } else {
        m_Line.append(data + i, end - i);
        onLine(QByteArrayView(m_Line));
        m_Line.clear();
      }
      i = end + 1;
      if (data[end] == '\r') {
        if (i == size) {
          m_bAfterCR = true;
        } else if (data[i] == '\n') {
          ++i;
        }
      }
    }
    return true;
  }
  // The last line when the file does not end with a line break.
  template <class OnLine>
  void Finish(OnLine&& onLine) {
    if (!m_Line.isEmpty()) onLine(QByteArrayView(m_Line));
    m_Line.clear();
  }

 private:
  QByteArray m_Line;
  bool m_bAfterCR = false;
};

}  // namespace

QString TSlDocument::DataFilePath(const QString& listPath) {
  const QString ext = lb::FileExtension(listPath);
  return listPath.left(listPath.size() - ext.size()) + ".lbt";
}

namespace {
constexpr qint64 kNulProbeBytes = 64 * 1024;

QString OpenFailureReason(lb::TOpenFailure why) {
  switch (why) {
    case lb::TOpenFailure::NotRegular:
      return "это не обычный файл";
    case lb::TOpenFailure::TooLarge:
      return "файл слишком велик";
    default:
      return QString();
  }
}
}  // namespace

QString TSlDocument::SongOrDataFileReason(const QString& path) {
  const QString ext = lb::FileExtension(path);
  if (ext == ".lbt") return "это файл данных листа";
  // A list's own extension is never taken for music, even when listed as working.
  const bool bListExtension = lb::IsListFileName(path);
  TIniFile ini(lb::SettingsFilePath());
  TSlInsertFilesManager music(
      ini.ReadString("Edit", "Extentions", TSlInsertFilesManager::kDefaultExtensions));
  for (int i = 0; i < music.GetExtensionCount() && !bListExtension; ++i)
    if (ext.compare(music.GetExtension(i), Qt::CaseInsensitive) == 0)
      return "это музыкальный файл (рабочее расширение " + music.GetExtension(i) + ")";
  return QString();
}

QString TSlDocument::NotAListReason(const QString& path) {
  const QString byName = SongOrDataFileReason(path);
  if (!byName.isEmpty() || !lb::FileExists(path)) return byName;
  // An existing file is looked at: a list holds text only.
  lb::TOpenFailure why = lb::TOpenFailure::None;
  const int fd = lb::OpenRegularFile(path, kMaxListBytes, &why);
  if (fd < 0) return OpenFailureReason(why);
  char head[kNulProbeBytes];
  const ssize_t got = ::read(fd, head, sizeof head);
  ::close(fd);
  if (got > 0 && std::memchr(head, 0, size_t(got))) return "в нём есть нулевые байты";
  // Play lists of other formats would be read as songs and then written over as M3U.
  QByteArrayView start(head, got > 0 ? got : 0);
  if (start.startsWith("\xEF\xBB\xBF")) start = start.sliced(3);
  start = start.trimmed();
  // The first line alone: a song's name may begin with '<' or '['.
  const qsizetype end = start.indexOf('\n');
  if (OpensForeignList(end < 0 ? start : start.first(end)))
    return "это лист другого формата (PLS или XML), не M3U";
  return QString();
}

bool TSlDocument::CheckListPath(const QString& path, bool bSave, bool bSilent) {
  const QString reason = NotAListReason(path);
  if (reason.isEmpty()) return true;
  Message(bSilent,
          bSave ? "Лист не может быть записан в файл\n\"" + path + "\":\n" + reason +
                      ".\nФайл не изменён."
                : "Файл\n\"" + path + "\"\nне является m3u-листом: " + reason + ".",
          MB_ICONERROR);
  return false;
}

// ---------------------------------------------------------------------------------
// Loading

bool TSlDocument::Load(bool bSilent) {
  const QString dataPath = DataFilePath(m_FileName);
  m_bNew = false;
  if (!lb::FileExists(m_FileName)) {
    Message(bSilent, "Файл не найден", MB_ICONERROR);
    return false;
  }
  // A data file, a music file or a binary file is never read as a list (its data
  // file path would be the file itself, and a later save would overwrite it).
  if (!CheckListPath(m_FileName, false, bSilent)) return false;
  // Taken before the list is read: a change made while it is read is another's.
  NoteListFile();
  auto fail = [this] {
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    m_Songs.clear();
    return false;
  };
  if (!lb::FileExists(dataPath)) {
    m_M3uAge = m_SeenAge;
    int code = LoadM3u(m_FileName);
    if (code != mcLoaded) {
      ShowM3uLoadError(code, bSilent, m_FileName, m_NotAList);
      return fail();
    }
    m_bModified = true;  // the next save writes the data file
    return true;
  }

  QFile data;
  const uchar* mapped = nullptr;
  QByteArray bytes;
  const int dataFd = lb::OpenRegularFile(dataPath, kMaxDataBytes);
  if (dataFd >= 0 && data.open(dataFd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    if (data.size() > 0) mapped = data.map(0, data.size());
    if (!mapped) bytes = data.readAll();
  } else if (dataFd >= 0) {
    ::close(dataFd);
  }
  if (!data.isOpen()) {
    if (!bSilent) ShowDataFileError(dcCannotOpen);
    return false;
  }
  TSlStreamReader stream = mapped
                               ? TSlStreamReader(reinterpret_cast<const char*>(mapped), data.size())
                               : TSlStreamReader(bytes);
  stream.SetMapped(mapped != nullptr);
  int code = ReadHeader(stream);
  if (code != dcOk) {
    data.close();
    if (!bSilent) ShowDataFileError(code);
    return false;
  }

  auto dataFailed = [&](int dataCode) {
    data.close();
    if (dataCode == dcStopped)
      Message(bSilent, "Прервано пользователем", MB_ICONWARNING);
    else if (!bSilent)
      ShowDataFileError(dataCode);
    return fail();
  };

  const qsizetype recordsStart = stream.Position();
  code = LoadM3u(m_FileName);
  if (code != mcLoaded) {
    ShowM3uLoadError(code, bSilent, m_FileName, m_NotAList);
    return fail();
  }
  if (m_SeenAge == m_M3uAge) {
    code = LoadData(m_Songs, stream);
    if (code == dcOk) return true;
    // Earlier versions took blank lines and some "#" lines for songs and wrote a record
    // for each: such a data file no longer lines up with the songs. Its records are
    // matched by path instead (a record never lands on another song), and the next
    // save writes the data file anew.
    if ((code != dcBadRecord && code != dcDamaged) || m_FormerSongLines == 0)
      return dataFailed(code);
    stream.Seek(recordsStart);
  }

  // The list was edited by another program: take what the data file still knows.
  m_M3uAge = m_SeenAge;
  TSlSongList stored;
  code = LoadData(stored, stream);
  if (code != dcOk) return dataFailed(code);
  data.close();
  m_bModified = true;
  if (!MergeData(stored))
    Message(bSilent,
            "Конвертация данных из старого файла была прервана.\nОстальное будет загружено "
            "непосредственно из файлов-источников.",
            MB_ICONWARNING);
  return true;
}

int TSlDocument::LoadM3u(const QString& path) {
  m_NotAList.clear();
  m_ExtM3uHeader.clear();
  m_bExtM3u = false;
  m_FormerSongLines = 0;
  m_TrailingLines.clear();
  m_bLegacyText = false;
  m_bUtf8Text = false;
  m_bUtf8Bom = false;
  m_LegacyLines.clear();
  lb::TOpenFailure why = lb::TOpenFailure::None;
  const int fd = lb::OpenRegularFile(path, kMaxListBytes, &why);
  QFile file;
  if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    if (fd >= 0) ::close(fd);
    m_NotAList = OpenFailureReason(why);
    return mcError;
  }
  TInfoWindowLevel window("Открытие: Загрузка m3u-файла...", path, true);
  TSlInfoWindowManager& progress = InfoWindowManager();

  // Each line is decoded on its own: UTF-8 when it is valid UTF-8, the legacy code page
  // otherwise (".m3u8" lists too: a line some program wrote in the legacy code page is
  // read as it was meant, never as replacement characters). A legacy line is noted
  // in legacyLines so that it is written back in the code page it came in.
  auto decode = [&](QByteArrayView bytes, QStringList& legacyLines) {
    bool legacy = false;
    QString text = CompactDecode(bytes.data(), bytes.size(), &legacy);
    if (legacy) {
      m_bLegacyText = true;
      legacyLines.append(text);
    } else if (!m_bUtf8Text && HasNonAscii(bytes)) {
      m_bUtf8Text = true;
    }
    return text;
  };

  const qint64 total = file.size();
  qint64 done = 0;
  // Until the first song or entry directive, "#" lines belong to the list's header.
  bool bInHeader = true;
  // The "#" lines met since the last song, and those of them read as legacy text.
  QString pendingExt;
  QStringList pendingLegacy;
  std::vector<std::unique_ptr<TSlSong>> fresh;
  auto onLine = [&](QByteArrayView bytes) {
    if (IsBlankLine(bytes)) {
      // A blank line means nothing to any reader: it is dropped, and the "#" lines
      // around it stay with the song after it.
      ++m_FormerSongLines;
    } else if (!IsCommentLine(bytes)) {
      bInHeader = false;
      const QString songPath = decode(bytes, pendingLegacy);
      fresh.push_back(std::make_unique<TSlSong>(this, songPath, pendingExt));
      fresh.back()->m_LegacyLines = std::move(pendingLegacy);
      pendingLegacy = QStringList();
      pendingExt.clear();
    } else {
      if (!bytes.contains("#EXT")) ++m_FormerSongLines;
      if (bInHeader && !IsEntryDirective(bytes)) {
        if (!m_ExtM3uHeader.isEmpty()) m_ExtM3uHeader += u'\n';
        m_ExtM3uHeader += decode(bytes, m_LegacyLines);
        m_bExtM3u = true;
        return;
      }
      // Any other "#" line is kept verbatim with the song that follows it.
      bInHeader = false;
      if (!pendingExt.isEmpty()) pendingExt += u'\n';
      pendingExt += decode(bytes, pendingLegacy);
    }
  };

  TM3uLineSplitter splitter;
  QByteArray chunk(kReadChunk, Qt::Uninitialized);
  int result = mcLoaded;
  while (true) {
    const qint64 got = file.read(chunk.data(), kReadChunk);
    if (got < 0) {
      result = mcError;
      break;
    }
    if (got == 0) break;
    const char* data = chunk.constData();
    qint64 size = got;
    if (done == 0 && size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) {
      m_bUtf8Bom = true;
      data += 3;
      size -= 3;
    }
    done += got;
    // A list is text: a NUL byte means a binary file, which is not taken for a list.
    if (std::memchr(data, 0, size_t(size))) {
      m_NotAList = "в нём есть нулевые байты";
      result = mcError;
      break;
    }
    if (!splitter.Feed(data, size, onLine)) {
      result = mcError;
      break;
    }
    if (total > 0) progress.SetProgress(static_cast<int>(100 * done / total));
    if (progress.ProcessAndCheckStop()) {
      result = mcStopped;
      break;
    }
  }
  if (result == mcLoaded) {
    splitter.Finish(onLine);
    if (done != total) result = mcError;
    // "#" lines after the last song stay at the end of the list.
    m_TrailingLines = pendingExt;
    m_LegacyLines += pendingLegacy;
    GiveTopGroupToFirstSong(m_ExtM3uHeader, m_bExtM3u, m_LegacyLines, fresh);
  }
  std::lock_guard<std::recursive_mutex> lock(m_Lock);
  m_Songs.insert(m_Songs.size(), std::move(fresh));
  return result;
}

int TSlDocument::ReadHeader(TSlStreamReader& stream) {
  char magic[3];
  if (!stream.ReadBytes(magic, 3) || std::memcmp(magic, "LBT", 3) != 0) return dcBadFormat;
  uint8_t version = 0;
  if (!stream.ReadByte(&version)) return dcDamaged;
  if (version != 1) return dcBadVersion;
  int32_t age = 0;
  if (!stream.ReadInt32(&age)) return dcDamaged;
  m_M3uAge = age;
  return dcOk;
}

int TSlDocument::LoadData(TSlSongList& songs, TSlStreamReader& stream) {
  TInfoWindowLevel window("Открытие: Загрузка файла данных для листа", m_FileName, true);
  TSlInfoWindowManager& progress = InfoWindowManager();
  const bool bFill = &songs == &m_Songs;
  progress.Window()->SetBarVisible(bFill);

  const int n = songs.size();
  int i = 0;
  bool bStopped = false;
  while (!stream.AtEnd() && (!bFill || i < n)) {
    if (i % kRecordsPerRefresh == 0 && i > 0) {
      stream.ReleaseConsumed();
      if (progress.ProcessAndCheckStop()) {
        bStopped = true;
        break;
      }
    }
    if (bFill) {
      if (i % kRecordsPerRefresh == 0)
        progress.SetProgress(n ? static_cast<int>(100LL * i / n) : 0);
      // A failed record fails the whole load, which then drops every song, so the
      // record can be read into the song itself.
      if (!songs[i].Load(stream)) return dcBadRecord;
    } else {
      auto song = std::make_unique<TSlSong>(this, QString(), QString());
      if (!song->Load(stream)) return dcBadRecord;
      if (i % kRecordsPerRefresh == 0) progress.SetLine(QString(), song->GetPath(true));
      songs.push_back(std::move(song));
    }
    ++i;
  }
  if (bStopped || progress.m_bStop) return dcStopped;
  if (bFill && (i != n || !stream.AtEnd())) return dcDamaged;
  return dcOk;
}

// The file name of a record's or song's path, without case: the key under which the
// records are looked up when no full path matches.
static QString FileNameKey(const QString& path) {
  return lb::FileBaseName(path).toLower() + lb::FileExtension(path);
}

// The record of a song whose full path matches none: a list copied or moved with new
// file times resolves its relative songs under its new folder, where the records still
// name the old one. The song takes the first record that it matches as a load of a
// moved list does (its stored path ends the record's path). byName holds the records
// by file name and is filled on the first call.
static const TSlSong* RecordOfMovedSong(const TSlSong& song, TSlSongList& stored,
                                        QHash<QString, QList<int>>& byName) {
  if (byName.isEmpty())
    for (int n = 0; n < stored.size(); ++n) byName[FileNameKey(stored[n].GetPath(true))] << n;
  for (const int n : byName.value(FileNameKey(song.m_Path)))
    if (song.MatchesRecord(stored[n].GetPath(true))) return &stored[n];
  return nullptr;
}

bool TSlDocument::MergeData(TSlSongList& stored) {
  TInfoWindowLevel window("Конвертация данных...", m_FileName, true);
  TSlInfoWindowManager& progress = InfoWindowManager();
  // Stored songs by full path: one look-up a song instead of a probe through the
  // whole stored list, which would take hours on a long list with many new songs.
  QHash<QString, int> byPath;
  byPath.reserve(stored.size());
  for (int n = stored.size() - 1; n >= 0; --n) {
    const QString path = stored[n].GetPath(true);
    byPath.insert(lb::HasDrive(path) && !path.startsWith('/') ? path.toLower() : path, n);
  }
  QHash<QString, QList<int>> byName;
  const int count = m_Songs.size();
  for (int i = 0; i < count; ++i) {
    if (i % kRecordsPerRefresh == 0) {
      progress.SetProgress(static_cast<int>(100LL * i / count));
      if (progress.ProcessAndCheckStop()) return false;
    }
    TSlSong& song = m_Songs[i];
    const QString path = song.GetPath(true);
    auto it = byPath.constFind(lb::HasDrive(path) && !path.startsWith('/') ? path.toLower() : path);
    if (it != byPath.constEnd())
      song.AssignData(stored[it.value()]);
    else if (const TSlSong* record = RecordOfMovedSong(song, stored, byName))
      song.AssignData(*record);
    song.m_Parent = this;
  }
  return !progress.ProcessAndCheckStop();
}

bool TSlDocument::ShowDataFileError(int code) {
  UiServices& ui = UiServices::Instance();
  // The data file is named on a line of its own: several lists may be opening.
  const QString text = "Работа с файлом данных невозможна по следующей причине:\n\"" +
                       DataCodeReason(code) + "\".\n" + DataFilePath(m_FileName) +
                       "\nВ случае, если он останется на диске, то работа с этим "
                       "документом\nбудет невозможна. Удалить испорченный файл ?";
  if (ui.MessageBox(text, kCaption, MB_YESNO | MB_ICONQUESTION) != IDYES) return false;
  if (lb::MoveToTrash(DataFilePath(m_FileName))) {
    ui.MessageBox("Попробуйте открыть документ заново", kCaption, MB_OK | MB_ICONWARNING);
    return true;
  }
  ui.MessageBox("Ошибка удаления", kCaption, MB_OK | MB_ICONWARNING);
  return false;
}

// ---------------------------------------------------------------------------------
// Saving

TListFlushOffMainThread::TListFlushOffMainThread() : m_bWas(g_bFlushOffMainThread) {
  g_bFlushOffMainThread = true;
}

TListFlushOffMainThread::~TListFlushOffMainThread() {
  g_bFlushOffMainThread = m_bWas;
}

void TSlDocument::NoteListFile() {
  m_SeenPath = m_FileName;
  if (!lb::FileIdentity(m_FileName, &m_SeenId)) m_SeenId = {};
  m_SeenAge = lb::FileAge(m_FileName);
}

bool TSlDocument::MayWriteOverListFile(bool bSilent) {
  lb::TFileId now;
  // A file that is gone holds nothing to lose; a list given another name is written
  // where the user chose.
  if (m_SeenPath.isEmpty() || m_SeenPath != m_FileName || !lb::FileIdentity(m_FileName, &now) ||
      (now == m_SeenId && lb::FileAge(m_FileName) == m_SeenAge))
    return true;
  if (bSilent) return false;
  return UiServices::Instance().MessageBox(
             "Лист\n\"" + m_FileName +
                 "\"\nизменён другой программой после открытия.\nЗаписать поверх изменений?",
             kCaption, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

bool TSlDocument::Save(bool bSilent) {
  // Refused before anything changes: the document stays modified, nothing is lost.
  if (!MayWriteOverListFile(bSilent)) return false;
  m_bNew = false;
  // Cleared before rather than after: an edit made while the windows turn during a flush
  // (see TListFlushOffMainThread) is not in the file and marks the list modified again.
  const bool bWasModified = std::exchange(m_bModified, false);
  bool ok = SaveM3u(m_FileName, bSilent);
  if (ok) {
    // An edit made during the list file's flush is in the data file but not in the list
    // file: the data file then names no list age (-1 is that of a missing file), so that
    // the next load takes its records by path rather than by position.
    NoteListFile();
    m_M3uAge = m_bModified ? -1 : m_SeenAge;
    ok = !Ini().ReadBool("Settings", "UseDBFiles", true) ||
         SaveData(DataFilePath(m_FileName), bSilent);
  }
  if (!ok) m_bModified = m_bModified || bWasModified;
  return ok;
}

// A list or data file that could not be written: the program's own words, then the
// file, the system's cause and, when there was one, that the file on disk is as it was.
static QString WriteFailureText(const char* text, const QString& path, int error, bool bExisted) {
  QString message = QString::fromUtf8(text) + "\n\"" + path + '"';
  const QString cause = lb::SystemErrorText(error);
  message += cause.isEmpty() ? QString(".") : ":\n" + cause + '.';
  if (bExisted) message += "\nПрежний файл не изменён.";
  return message;
}

// Writes a file of the list: its header, one entry a song, then its footer, with the
// progress window's Stop disabled. The file replaces the old one only when it was written
// whole; the messages of a failure name the file and the cause. A stop asked of the job around the
// save (the user's Stop, a termination signal) ends that job, not the save: a job that stops saves
// what it has done. An entry that cannot be written (writeSong answers false with the message in
// *failure) ends the writing with that message and leaves the previous file as it was.
template <class WriteHeader, class WriteSong, class WriteFooter>
static bool WriteSongsFile(const QString& path, const QString& action, const char* openFailure,
                           const char* writeFailure, bool bSilent, std::recursive_mutex& listLock,
                           const TSlSongList& songs, WriteHeader&& writeHeader,
                           WriteSong&& writeSong, WriteFooter&& writeFooter) {
  const bool bExisted = lb::FileExists(path);
  TListFileWriter writer(path);
  if (!writer.Open()) {
    Message(bSilent, WriteFailureText(openFailure, path, writer.Error(), bExisted), MB_ICONERROR);
    return false;
  }
  TInfoWindowLevel window(action, path, true);
  TStopButtonLock noStop;
  TSlInfoWindowManager& progress = InfoWindowManager();
  QString failure;
  bool ok = writeHeader(writer.Stream(), &failure);
  std::lock_guard<std::recursive_mutex> lock(listLock);
  const int count = songs.size();
  for (int n = 0; n < count && ok; ++n) {
    ok = writeSong(writer.Stream(), songs[n], &failure) && writer.FlushIfFull();
    if (n % kRecordsPerRefresh == 0) progress.SetProgress(static_cast<int>(100LL * n / count));
  }
  if (ok) ok = writeFooter(writer.Stream(), &failure);
  if (!failure.isEmpty()) {
    writer.Cancel();
    Message(bSilent, failure, MB_ICONERROR);
    return false;
  }
  if (!ok || !writer.Commit()) {
    const int error = writer.Error();
    writer.Cancel();
    Message(bSilent, WriteFailureText(writeFailure, path, error, bExisted), MB_ICONERROR);
    return false;
  }
  return true;
}

bool TSlDocument::SaveM3u(const QString& path, bool bSilent) {
  if (!CheckListPath(path, true, bSilent)) return false;
  // Every line goes back in the encoding it was read in: a line still as it was read
  // in the legacy code page is written in it again, so the players of a mixed list
  // still find their files. New and changed lines are UTF-8 (the names on disk),
  // unless the whole list was legacy text, which then stays so while the text fits.
  // ".m3u8" is UTF-8 throughout, with the byte-order mark the file began with.
  const bool bUtf8Only = lb::FileExtension(path) == ".m3u8";
  const bool bLegacyNew = m_bLegacyText && !m_bUtf8Text && !m_bUtf8Bom && !bUtf8Only;
  auto appendLine = [&](TSlStreamWriter& out, const QString& text, const QStringList& legacyRead,
                        QString* failure) {
    // A line break would split the line in two: the list would read back as other songs.
    if (lb::HasLineBreak(text)) {
      *failure = "Имя с переводом строки не может быть записано в лист: переименуйте файл.\n" +
                 text.left(200);
      return false;
    }
    const bool bLegacy =
        !bUtf8Only && (bLegacyNew || legacyRead.contains(text)) && lb::FitsTagCodePage(text);
    const QByteArray bytes = bLegacy ? lb::ToTagCodePage(text) : text.toUtf8();
    // The reader refuses longer lines: such a list could not be opened again.
    if (bytes.size() > kMaxLineBytes) {
      *failure =
          QString("Строка длиннее %1 байт не может быть записана в лист:\n").arg(kMaxLineBytes) +
          text.left(200) + "...";
      return false;
    }
    out.Bytes().append(bytes).append("\r\n");
    return true;
  };
  // Lines joined by '\n' (the "#" lines of a song, the trailing lines).
  auto appendLines = [&](TSlStreamWriter& out, const QString& lines, const QStringList& legacyRead,
                         QString* failure) {
    if (!lines.contains(u'\n')) return appendLine(out, lines, legacyRead, failure);
    for (const QString& line : lines.split(u'\n'))
      if (!appendLine(out, line, legacyRead, failure)) return false;
    return true;
  };
  bool bNothingWritten = !m_bExtM3u;
  return WriteSongsFile(
      path, "Запись m3u-файла...", "Не могу открыть файл для записи", "Не удалось записать лист",
      bSilent, m_Lock, m_Songs,
      [&](TSlStreamWriter& out, QString* failure) {
        if (m_bUtf8Bom) out.Bytes().append("\xEF\xBB\xBF");
        return !m_bExtM3u || appendLines(out, m_ExtM3uHeader, m_LegacyLines, failure);
      },
      [&](TSlStreamWriter& out, const TSlSong& song, QString* failure) {
        if (song.m_bExtInf && !appendLines(out, song.m_ExtInf, song.m_LegacyLines, failure))
          return false;
        // A relative name whose first character other than a blank is '#' would be
        // read back as a comment, and one that opens the file like another format's
        // list would make the list refused: it is written from the list's own folder.
        const bool bFirstLine = bNothingWritten && !song.m_bExtInf;
        bNothingWritten = false;
        if (IsCommentLine(QStringView(song.m_Path)) ||
            (bFirstLine && OpensForeignList(song.m_Path.toUtf8()))) {
          const bool bWindows = song.m_Path.contains(u'\\') && !song.m_Path.contains(u'/');
          return appendLine(out, (bWindows ? ".\\" : "./") + song.m_Path, song.m_LegacyLines,
                            failure);
        }
        return appendLine(out, song.m_Path, song.m_LegacyLines, failure);
      },
      [&](TSlStreamWriter& out, QString* failure) {
        return m_TrailingLines.isEmpty() ||
               appendLines(out, m_TrailingLines, m_LegacyLines, failure);
      });
}

bool TSlDocument::SaveData(const QString& path, bool bSilent) {
  return WriteSongsFile(
      path, "Запись файла данных...", "Не могу открыть файл данных для записи",
      "Во время записи файла данных произошла ошибка", bSilent, m_Lock, m_Songs,
      [this](TSlStreamWriter& out, QString*) {
        out.WriteBytes("LBT", 3);
        out.WriteByte(1);
        out.WriteInt32(m_M3uAge);
        return true;
      },
      [](TSlStreamWriter& out, const TSlSong& song, QString*) {
        song.Save(out, false);
        return true;
      },
      [](TSlStreamWriter&, QString*) { return true; });
}
