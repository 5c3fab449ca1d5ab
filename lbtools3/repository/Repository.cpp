#include "Repository.h"

#include "lbtools3/model/M3uList.h"
#include "platform/Assert.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/UiServices.h"

#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

// Suffixes under which older versions kept a window's state, after the plain path.
const char* const kLegacySuffixes[] = {"*S", "*L", "*T", "*W", "*H", "*VB"};

const QString kStateSuffix = QStringLiteral("*State");
const QString kColumnsSuffix = QStringLiteral("*Columns");
const QString kColumnsOldSuffix = QStringLiteral("*ColumnsOld");

// Integers separated by commas (and, for columns, spaces); false when any token is not
// an integer.
bool ParseIntegers(const QString& text, bool spaces, QList<int>* values) {
  static const QRegularExpression commasAndSpaces(QStringLiteral("[, ]+"));
  const QStringList tokens =
      spaces ? text.split(commasAndSpaces, Qt::SkipEmptyParts) : text.split(u',');
  values->clear();
  for (const QString& token : tokens) {
    bool ok = false;
    const int value = token.trimmed().toInt(&ok);
    if (!ok) return false;
    values->append(value);
  }
  return true;
}

}  // namespace

TListsRepository::TListsRepository(TIniFile& ini, IDocumentWindowFactory* factory, bool shellInvoke,
                                   QObject* parent)
    : QObject(parent),
      m_Ini(ini),
      m_Factory(factory),
      m_bShellInvoke(shellInvoke),
      m_Collator(QLocale()) {
  m_Collator.setCaseSensitivity(Qt::CaseInsensitive);
}

TListsRepository::~TListsRepository() = default;

// ---------------------------------------------------------------------------------
// Key encoding

namespace {

// Whether a character of a path cannot stand as itself in a key: the settings file
// compares keys without case, so any character that case folding changes is written
// as its number (or "A.m3u" and "a.m3u" would share a key); a star would mark the key
// as a window's state; control characters and the blanks and marks the file trims or
// reads as comments at the ends of a key would be lost.
bool NeedsNumber(char32_t c, bool first, bool last) {
  if (c < 0x20 || c == 0x7f || c == U'*') return true;
  if ((first || last) && (c == U' ' || c == U'\t')) return true;
  if (first && (c == U';' || c == U'[')) return true;
  const QString text = QString::fromUcs4(&c, 1);
  return text.toCaseFolded() != text;
}

}  // namespace

QString TListsRepository::EncodeKey(const QString& path) {
  QString key;
  key.reserve(path.size() + 8);
  const QList<uint> chars = path.toUcs4();
  for (qsizetype i = 0; i < chars.size(); ++i) {
    const char32_t c = chars[i];
    if (c == U'\\')
      key += QStringLiteral("\\\\");
    else if (c == U'=')
      key += QStringLiteral("\\_");
    else if (NeedsNumber(c, i == 0, i + 1 == chars.size()))
      key += QStringLiteral("\\x") + QString::number(uint(c), 16) + u';';
    else
      key += QString::fromUcs4(&c, 1);
  }
  return key;
}

QString TListsRepository::DecodeKey(const QString& key) {
  // "\\", "\_" and "\x<hex>;" are escapes; any other backslash is itself (keys written
  // before numbers were used hold no "\x" escape, as they doubled every backslash).
  QString path;
  path.reserve(key.size());
  for (qsizetype i = 0; i < key.size(); ++i) {
    const QChar c = key[i];
    if (c == u'\\' && i + 1 < key.size()) {
      const QChar next = key[i + 1];
      if (next == u'\\' || next == u'_') {
        path += next == u'_' ? QChar(u'=') : QChar(u'\\');
        ++i;
        continue;
      }
      if (next == u'x') {
        const qsizetype end = key.indexOf(u';', i + 2);
        bool ok = false;
        const uint code = end > i + 2 && end - i - 2 <= 6
                              ? QStringView(key).mid(i + 2, end - i - 2).toUInt(&ok, 16)
                              : 0;
        if (ok && code <= 0x10FFFF) {
          const char32_t value = code;
          path += QString::fromUcs4(&value, 1);
          i = end;
          continue;
        }
      }
    }
    path += c;
  }
  return path;
}

// ---------------------------------------------------------------------------------
// Rows

int TListsRepository::IndexOf(const QString& path) const {
  for (int i = 0; i < Count(); ++i)
    if (lb::SamePath(m_Rows[i].path, path)) return i;
  return -1;
}

QString TListsRepository::Path(int row) const {
  LB_ASSERT(row >= 0 && row < Count());
  return m_Rows[row].path;
}

QString TListsRepository::Name(int row) const {
  LB_ASSERT(row >= 0 && row < Count());
  return m_Rows[row].name;
}

int TListsRepository::Number(int row) const {
  LB_ASSERT(row >= 0 && row < Count());
  return row + 1;
}

QString TListsRepository::Text(int row, int column) const {
  switch (column) {
    case colNumber:
      return QString::number(Number(row));
    case colOpen:
      return IsOpen(row) ? QStringLiteral("+") : QString();
    case colName:
      return Name(row);
    case colPath:
      return Path(row);
    default:
      return QString();
  }
}

bool TListsRepository::IsOpen(int row) const {
  if (row < 0 || row >= Count()) return false;
  return m_Rows[row].window != nullptr || m_Rows[row].opening;
}

IDocumentWindow* TListsRepository::Child(int row) const {
  LB_ASSERT(IsOpen(row));
  return m_Rows[row].window;
}

int TListsRepository::RowOfWindow(const IDocumentWindow* window) const {
  if (!window) return -1;
  for (int i = 0; i < Count(); ++i)
    if (m_Rows[i].window == window) return i;
  return -1;
}

void TListsRepository::SetWindow(int row, IDocumentWindow* window, bool opening) {
  Row& r = m_Rows[row];
  const bool wasOpen = IsOpen(row);
  r.window = window;
  r.opening = opening;
  if (wasOpen != IsOpen(row)) emit RowsChanged(row, row);
}

// ---------------------------------------------------------------------------------
// Selection

int TListsRepository::FirstSelected() const {
  for (int i = 0; i < Count(); ++i)
    if (m_Rows[i].selected) return i;
  return -1;
}

bool TListsRepository::IsSelected(int row) const {
  if (row < 0 || row >= Count()) return false;
  if (m_PushedSelection) return (*m_PushedSelection)[row];
  return m_Rows[row].selected;
}

int TListsRepository::SelectedCount() const {
  int count = 0;
  for (const Row& r : m_Rows) count += r.selected ? 1 : 0;
  return count;
}

void TListsRepository::SetSelectedRows(const QList<int>& rows) {
  for (Row& r : m_Rows) r.selected = false;
  for (int row : rows)
    if (row >= 0 && row < Count()) m_Rows[row].selected = true;
}

void TListsRepository::SetSelected(int row, bool selected) {
  LB_ASSERT(row >= 0 && row < Count());
  if (m_Rows[row].selected == selected) return;
  m_Rows[row].selected = selected;
  emit SelectionChanged();
}

void TListsRepository::SelectAll(bool selected) {
  for (Row& r : m_Rows) r.selected = selected;
  emit SelectionChanged();
}

// ---------------------------------------------------------------------------------
// Changes

void TListsRepository::Add(const QString& path, bool open, IDocumentWindow* window) {
  LB_ASSERT(!open || window);
  const QString name = lb::FileBaseName(path);
  for (int i = 0; i < Count(); ++i) {
    if (lb::SamePath(m_Rows[i].path, path)) {
      SetWindow(i, open ? window : nullptr, false);
      return;
    }
  }
  int row = 0;
  while (row < Count() && m_Collator.compare(m_Rows[row].name, name) <= 0) ++row;
  emit RowAboutToBeInserted(row);
  Row fresh;
  fresh.name = name;
  fresh.path = path;
  fresh.window = open ? window : nullptr;
  m_Rows.insert(m_Rows.begin() + row, fresh);
  // The saved selection follows the rows, so the bulk operation's answers stay right.
  if (m_PushedSelection) m_PushedSelection->insert(m_PushedSelection->begin() + row, false);
  emit RowInserted(row);
  if (m_bPersist) Stored(m_Ini.WriteBool(kSection, EncodeKey(path), open));
  emit RowsChanged(row, Count() - 1);  // the numbers from here on
}

void TListsRepository::Remove(int row) {
  LB_ASSERT(row >= 0 && row < Count());
  const QString path = m_Rows[row].path;
  const bool wasSelected = m_Rows[row].selected;
  emit RowAboutToBeRemoved(row);
  m_Rows.erase(m_Rows.begin() + row);
  if (m_PushedSelection) m_PushedSelection->erase(m_PushedSelection->begin() + row);
  emit RowRemoved(row);
  if (row < Count()) emit RowsChanged(row, Count() - 1);
  if (wasSelected) emit SelectionChanged();
  DeleteListKeys(path);
}

void TListsRepository::RemovePath(const QString& path) {
  const int row = IndexOf(path);
  if (row != -1) Remove(row);
}

void TListsRepository::MoveToCurrentKey(const QString& storedKey, const QString& path) {
  // A key written before case and stars were encoded names the same list; its values
  // move under the key every later write uses, so no second key for the list appears.
  const QString key = EncodeKey(path);
  // Keys compare without case in the settings file: such a key is the same key.
  if (key.toCaseFolded() == storedKey.toCaseFolded()) return;
  for (const QString& suffix : {QString(), kStateSuffix, kColumnsSuffix, kColumnsOldSuffix}) {
    if (!m_Ini.ValueExists(kSection, storedKey + suffix)) continue;
    const QString value = m_Ini.ReadString(kSection, storedKey + suffix, QString());
    // The old key goes only once the value is under the new one.
    if (Stored(m_Ini.WriteString(kSection, key + suffix, value)))
      Stored(m_Ini.DeleteKey(kSection, storedKey + suffix));
  }
}

bool TListsRepository::Stored(bool ok) {
  if (ok) {
    m_bFailureShown = false;
    return true;
  }
  m_bWriteFailed = true;
  // A full disk fails every write that follows: one message until a write succeeds.
  if (!m_bFailureShown) {
    m_bFailureShown = true;
    UiServices::Instance().MessageBox("Файл настроек не записан: " + m_Ini.FileName() +
                                          "\nИзменения хранилища листов не сохранены.",
                                      UiServices::kCaption, MB_OK | MB_ICONERROR);
  }
  return false;
}

void TListsRepository::DeleteKeyIfPresent(const QString& key) {
  // Every deletion rewrites the file; most of these keys are long gone.
  if (m_Ini.ValueExists(kSection, key)) Stored(m_Ini.DeleteKey(kSection, key));
}

void TListsRepository::DeleteLegacyKeys(const QString& path) {
  for (const char* suffix : kLegacySuffixes) DeleteKeyIfPresent(path + QLatin1String(suffix));
  for (int digit = 0; digit <= 8; ++digit) DeleteKeyIfPresent(path + "*C" + QString::number(digit));
}

void TListsRepository::DeleteListKeys(const QString& path) {
  DeleteLegacyKeys(path);
  const QString key = EncodeKey(path);
  DeleteKeyIfPresent(key);
  DeleteKeyIfPresent(key + kStateSuffix);
  DeleteKeyIfPresent(key + kColumnsOldSuffix);
  DeleteKeyIfPresent(key + kColumnsSuffix);
}

// ---------------------------------------------------------------------------------
// Document windows

IDocumentWindow* TListsRepository::NewDocument(const TSlDocument* source) {
  LB_ASSERT(m_Factory);
  const QString path =
      FreeListPath(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
  IDocumentWindow* window = m_Factory->CreateNewDocumentWindow(path, source);
  Add(path, true, window);
  RestoreWindowState(window, path);
  return window;
}

QString TListsRepository::FreeListPath(const QString& folder) const {
  for (int n = 1;; ++n) {
    const QString path = folder + "/List" + QString::number(n) + ".m3u";
    if (IndexOf(path) == -1 && !lb::NameTaken(path)) return path;
  }
}

IDocumentWindow* TListsRepository::Open(int row, const TSlDocument* source) {
  LB_ASSERT(m_Factory);
  LB_ASSERT(row >= 0 && row < Count());
  const QString path = m_Rows[row].path;
  // Marked at once: while the list loads, the row reads as open and is not opened twice.
  SetWindow(row, nullptr, true);
  IDocumentWindow* window = m_Factory->CreateListWindow(path, source);
  // Loading may have let other changes run: the row is found again.
  row = IndexOf(path);
  if (window->LoadFailed()) {
    if (row != -1 && !m_Rows[row].window) SetWindow(row, nullptr, false);
    return window;
  }
  RestoreWindowState(window, path);
  if (row == -1)
    Add(path, true, window);
  else
    SetWindow(row, window, false);
  return window;
}

IDocumentWindow* TListsRepository::OpenWindowOf(const QString& path) const {
  lb::TFileId id;
  const bool bExists = lb::FileIdentity(path, &id);
  for (const Row& row : m_Rows) {
    if (!row.window) continue;
    lb::TFileId rowId;
    if (bExists ? lb::FileIdentity(row.path, &rowId) && rowId == id : lb::SamePath(row.path, path))
      return row.window;
  }
  return nullptr;
}

IDocumentWindow* TListsRepository::OpenFile(const QString& path, const TSlDocument* source) {
  LB_ASSERT(m_Factory);
  // A list is open in one window at most: a second window would save its old songs
  // over the first one's changes. Opening it again (named on the command line while
  // the lists open at the last exit come back, handed over, chosen in the open dialog
  // through a link) raises the window it has.
  if (IDocumentWindow* open = OpenWindowOf(path)) {
    open->Activate();
    return open;
  }
  IDocumentWindow* window = m_Factory->CreateListWindow(path, source);
  if (!window->LoadFailed()) {
    Add(path, true, window);
    RestoreWindowState(window, path);
  }
  return window;
}

void TListsRepository::WindowClosed(IDocumentWindow* window) {
  // The row that holds this very window: a row re-opened by another window meanwhile
  // keeps its mark.
  int row = RowOfWindow(window);
  if (row == -1) {
    row = IndexOf(window->Document().m_FileName);
    if (row != -1 && (m_Rows[row].window || m_Rows[row].opening)) row = -1;
  }
  if (row != -1) SetWindow(row, nullptr, false);
}

void TListsRepository::SaveWindowState(IDocumentWindow* window, bool columnsOnly) {
  const QString key = EncodeKey(window->Document().m_FileName);
  if (!columnsOnly) {
    Stored(m_Ini.WriteBool(kSection, key, window->ClosingForExit()));
    const IDocumentWindow::Placement p = window->GetPlacement();
    Stored(m_Ini.WriteString(
        kSection, key + kStateSuffix,
        QString::asprintf("%d,%d,%d,%d,%d", p.state, p.left, p.top, p.width, p.height)));
  }
  QStringList parts;
  for (const auto& [tag, width] : window->Columns())
    parts << QString::number(tag) << QString::number(width);
  if (!parts.isEmpty()) Stored(m_Ini.WriteString(kSection, key + kColumnsSuffix, parts.join(u',')));
}

void TListsRepository::RestoreWindowState(IDocumentWindow* window, const QString& path) {
  const QString key = EncodeKey(path);
  QList<int> values;
  if (ParseIntegers(m_Ini.ReadString(kSection, key + kStateSuffix, QString()), false, &values) &&
      values.size() == 5) {
    IDocumentWindow::Placement p;
    p.state = values[0];
    p.left = values[1];
    p.top = values[2];
    p.width = values[3];
    p.height = values[4];
    window->SetPlacement(p);
  }
  TColumnLayout columns;
  // A value with a stray token or an unpaired number is not a layout: the defaults.
  if (ParseIntegers(m_Ini.ReadString(kSection, key + kColumnsSuffix, QString()), true, &values) &&
      values.size() % 2 == 0) {
    for (int i = 0; i + 1 < values.size(); i += 2) columns.append({values[i], values[i + 1]});
  }
  window->SetColumns(columns);
  window->ShowWindow();
}

void TListsRepository::WindowDestroyed(IDocumentWindow* window) {
  TSlDocument& document = window->Document();
  if (document.m_bNew) {
    const int row = RowOfWindow(window);
    if (row != -1) Remove(row);
    return;
  }
  SaveWindowState(window, false);
  WindowClosed(window);
}

void TListsRepository::MoveDocument(TSlDocument& document, const QString& newPath) const {
  // Entries are made full against the old place, then brief against the new one when
  // the settings ask for brief paths.
  std::lock_guard<std::recursive_mutex> lock(document.m_Lock);
  for (int i = 0; i < document.m_Songs.size(); ++i) {
    TSlSong& song = document.m_Songs[i];
    std::lock_guard<std::recursive_mutex> songLock(song.cs);
    song.SetPathForm(true);
  }
  document.SetFileName(newPath);
  if (!m_Ini.ReadBool("Edit", "FullPathsInsert", true)) {
    for (int i = 0; i < document.m_Songs.size(); ++i) {
      TSlSong& song = document.m_Songs[i];
      std::lock_guard<std::recursive_mutex> songLock(song.cs);
      song.SetPathForm(false);
    }
  }
}

void TListsRepository::Rename(IDocumentWindow* window, const QString& newPath, bool dropOld) {
  TSlDocument& document = window->Document();
  const QString oldPath = document.m_FileName;
  if (!dropOld) {
    SaveWindowState(window, false);
    Stored(m_Ini.WriteBool(kSection, EncodeKey(oldPath), false));
    WindowClosed(window);
  } else {
    // Only the entry of this window: another window's list of the same name stays.
    const int row = IndexOf(oldPath);
    if (row != -1 && (m_Rows[row].window == window || !IsOpen(row))) Remove(row);
  }
  MoveDocument(document, newPath);
  Add(newPath, true, window);
  window->SetCaption(document.GetTitle());
}

// ---------------------------------------------------------------------------------
// Bulk operations

void TListsRepository::BeginBulk() {
  LB_ASSERT(!m_PushedSelection);
  std::vector<bool> flags;
  flags.reserve(m_Rows.size());
  for (Row& r : m_Rows) {
    flags.push_back(r.selected);
    r.selected = false;
  }
  m_PushedSelection = std::move(flags);
  emit SelectionModeChanged(false);
  emit SelectionChanged();
}

void TListsRepository::MarkRow(int row) {
  LB_ASSERT(row >= 0 && row < Count());
  for (int i = 0; i < Count(); ++i) m_Rows[i].selected = i == row;
  emit SelectionChanged();
  emit RowMarked(row);
}

void TListsRepository::EndBulk() {
  if (!m_PushedSelection) return;
  std::vector<bool> flags = std::move(*m_PushedSelection);
  m_PushedSelection.reset();
  for (int i = 0; i < Count(); ++i) m_Rows[i].selected = flags[i];
  emit SelectionModeChanged(true);
  emit SelectionChanged();
}

// ---------------------------------------------------------------------------------
// Start-up and shutdown

void TListsRepository::Load() {
  const bool checkAll = m_Ini.ReadBool("Edit", "CheckDatabase", false);
  m_bPersist = false;
  const QStringList keys = m_Ini.ReadSection(kSection);
  for (const QString& key : keys) {
    if (!IsListKey(key)) continue;
    const QString path = DecodeKey(key);
    const bool open = m_Ini.ReadBool(kSection, key, false);
    MoveToCurrentKey(key, path);
    DeleteLegacyKeys(path);
    if ((open || checkAll) && !m_bShellInvoke && !QFileInfo::exists(path)) {
      const int answer =
          UiServices::Instance().MessageBox("Файл " + path + " не найден\nУдалить ссылку на него ?",
                                            UiServices::kCaption, MB_YESNO | MB_ICONERROR);
      if (answer == IDYES)
        DeleteListKeys(path);
      else
        Add(path, false, nullptr);
    } else if (open && !m_bShellInvoke && m_Factory) {
      // A list that does not load stays known, closed: its key is still in the file.
      if (OpenFile(path)->LoadFailed()) Add(path, false, nullptr);
    } else {
      Add(path, false, nullptr);
    }
  }
  m_bPersist = true;
}

bool TListsRepository::StoredOpen(const QString& path) const {
  return m_Ini.ReadBool(kSection, EncodeKey(path), false);
}

void TListsRepository::SaveView(const TRepositoryViewLayout& layout) {
  Stored(m_Ini.WriteInteger("Position", "Splitter", layout.splitter));
  for (int i = 0; i < TRepositoryViewLayout::kColumnCount; ++i)
    Stored(m_Ini.WriteInteger(kSection, "ColumnWidth*" + QString::number(i), layout.widths[i]));
}

TRepositoryViewLayout TListsRepository::LoadView(const TRepositoryViewLayout& current) const {
  TRepositoryViewLayout layout;
  layout.splitter = m_Ini.ReadInteger("Position", "Splitter", current.splitter);
  for (int i = 0; i < TRepositoryViewLayout::kColumnCount; ++i)
    layout.widths[i] =
        m_Ini.ReadInteger(kSection, "ColumnWidth*" + QString::number(i), current.widths[i]);
  return layout;
}

// ---------------------------------------------------------------------------------
// User actions

void TListsRepository::ColumnClick(int column) {
  if (column != colNumber) return;
  SelectAll(SelectedCount() == 0);
}

void TListsRepository::OpenFirstSelected() {
  const int row = FirstSelected();
  if (row == -1) return;
  if (IsOpen(row)) {
    if (IDocumentWindow* window = Child(row)) window->Activate();
    return;
  }
  const QString path = Path(row);
  if (!QFileInfo::exists(path)) {
    UiServices::Instance().MessageBox(
        "Файл " + path + " не найден \nСсылка на него в базе будет удалена", "Открытие листов",
        MB_OK | MB_ICONERROR);
    RemovePath(path);
    return;
  }
  Open(row);
}

bool TListsRepository::ScanComp() {
  const QString folder =
      UiServices::Instance().GetExistingFolder("Выберите папку для сканирования", QString());
  if (folder.isEmpty()) return false;
  return ScanFolders({folder});
}

bool TListsRepository::ScanFolders(const QStringList& folders) {
  TSlInsertFilesManager manager{QStringList()};
  manager.m_Mode = imLists;
  manager.m_Repository = this;
  return manager.ScanFolders(folders) && manager.SkippedCount() == 0;
}

bool TListsRepository::IsListKnown(const QString& path) {
  return IndexOf(path) != -1;
}

void TListsRepository::AddList(const QString& path) {
  Add(path, false, nullptr);
}
