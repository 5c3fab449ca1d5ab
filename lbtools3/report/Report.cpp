#include "Report.h"

#include "lbtools3/model/SongFields.h"
#include "lbtools3/model/ID3ComAccess.h"
#include "lbtools3/model/M3uList.h"
#include "lbtools3/model/InfoWindowManager.h"
#include "lbtools3/model/WorkerThread.h"
#include "lbtools3/ui/IDocumentWindow.h"
#include "lbtools3/ui/IRepositoryLists.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/SystemError.h"
#include "platform/UiServices.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <cerrno>
#include <mutex>

namespace lb {

namespace {

constexpr char kSection[] = "Settings";
constexpr int kBufferFlush = 1 << 16;
// Pending messages run every so many entries: often enough for the Stop button,
// rarely enough that large lists are not slowed down by it.
constexpr int kPaceEntries = 64;
constexpr int kUrlKind = 20;

int Ask(const QString& text, unsigned flags) {
  return UiServices::Instance().MessageBox(text, UiServices::kCaption, flags);
}

// The writer's failure reason on a line of its own, or nothing.
QString Reason(const TReportWriter& writer) {
  const QString reason = writer.FailureReason();
  return reason.isEmpty() ? QString() : "\n" + reason;
}

QString Quoted(const QString& text) {
  return '"' + text + '"';
}

// text padded with blanks to width characters; longer texts stay whole. A control
// character (a line break of a comment or a catalog title, a NUL) becomes a blank:
// the row stays one line of the table.
void AppendPadded(QString& out, const QString& text, int width) {
  const qsizetype start = out.size();
  out += text;
  for (qsizetype i = start; i < out.size(); ++i)
    if (out.at(i).unicode() < u' ') out[i] = u' ';
  const int pad = width - TextWidth(text);
  if (pad > 0) out += QString(pad, u' ');
}

// A song of a list loaded for the report shows what opening the list would: the data
// file's records while the file is unchanged since they were taken, the file's own
// tags for a file that changed or was never read (every song of a list without a
// data file). Only reads: unlike the synchronisation pass, nothing is written into
// the music files.
void ReadTagsAsOpened(TSlSong& song) {
  std::lock_guard<std::recursive_mutex> lock(song.cs);
  const QString path = song.GetPath(true);
  // A stream's address is no tagged file: nothing of this system is looked at for it.
  if (!IsTaggedPath(path)) return;
  const int32_t age = FileAge(path);
  if (age == song.m_FileAge || age == kAgeMissing) return;
  std::lock_guard<std::recursive_mutex> id3(ID3ComLock());
  if (song.m_Tag1.bTagSync) song.m_Tag1.ReadFromFile();
  if (song.m_Tag2.bTagSync) song.m_Tag2.ReadFromFile();
  song.m_Tag1.UpdateDisplayName();
  song.m_Tag2.UpdateDisplayName();
}

}  // namespace

// ---------------------------------------------------------------------------------
// Settings and the field list

TReportSettings TReportSettings::Read(const TIniFile& ini) {
  TReportSettings s;
  s.lists = ini.ReadInteger(kSection, "ExportFilesLists", rsCurrent);
  if (s.lists < rsCurrent || s.lists > rsAll) s.lists = rsCurrent;
  // This system has no "c:": the default report lies in the user's home folder.
  s.fileName = ReportFilePath(
      ini.ReadString(kSection, "ExportFilesFileName", QDir::homePath() + "/export.txt"));
  s.bUrlLinks = ini.ReadBool(kSection, "ExportFilesURL", false);
  s.mask = uint32_t(ini.ReadInteger(kSection, "ExportFilesMask", 1));
  return s;
}

void TReportSettings::Write(TIniFile& ini) const {
  ini.WriteInteger(kSection, "ExportFilesLists", lists);
  ini.WriteString(kSection, "ExportFilesFileName", fileName);
  ini.WriteBool(kSection, "ExportFilesURL", bUrlLinks);
  ini.WriteInteger(kSection, "ExportFilesMask", int(mask));
}

int ReportKindOfRow(int row) {
  return row < ckTrack1 ? row : row + 1;
}

int ReportRowCount() {
  return kColumnKindCount - 1;
}

uint32_t ReportMaskOfRows(const QList<int>& rows) {
  uint32_t mask = 0;
  for (int row : rows)
    if (row >= 0 && row < ReportRowCount()) mask |= 1u << ReportKindOfRow(row);
  return mask;
}

QList<int> ReportRowsOfMask(uint32_t mask) {
  QList<int> rows;
  for (int row = 0; row < ReportRowCount(); ++row)
    if (mask & (1u << ReportKindOfRow(row))) rows << row;
  return rows;
}

bool ReportReadsTags(uint32_t mask) {
  return (mask & ~((1u << ckNumber) | (1u << ckPath))) != 0;
}

bool IsHtmlReportName(const QString& fileName) {
  const QString suffix = QFileInfo(fileName).suffix();
  return suffix.compare("htm", Qt::CaseInsensitive) == 0 ||
         suffix.compare("html", Qt::CaseInsensitive) == 0;
}

QString HtmlEscape(const QString& text) {
  qsizetype i = 0;
  const qsizetype size = text.size();
  while (i < size && text[i] != u'<' && text[i] != u'>' && text[i] != u'"') ++i;
  if (i == size) return text;
  QString out = text.left(i);
  out.reserve(size + 16);
  for (; i < size; ++i) {
    const QChar c = text[i];
    if (c == u'<')
      out += u"&lt;";
    else if (c == u'>')
      out += u"&gt;";
    else if (c == u'"')
      out += u"&quot;";
    else
      out += c;
  }
  return out;
}

QString ReportFieldText(const TSlSong& song, int kind, int row) {
  switch (kind) {
    case ckPath:
      return song.GetPath(true);
    case ckSync1:
      return song.m_Tag1.bTagSync ? QStringLiteral("+") : QString();
    case ckSync2:
      return song.m_Tag2.bTagSync ? QStringLiteral("+") : QString();
    default:
      return ColumnText(song, kind, row);
  }
}

int TextWidth(const QString& text) {
  int width = int(text.size());
  for (QChar c : text)
    if (c.isLowSurrogate()) --width;
  return width;
}

QString ReportFilePath(const QString& fileName) {
  if (!IsForeignPath(fileName)) return fileName;
  const QString mapped = ToFullPath(fileName, QString());
  if (!IsForeignPath(mapped)) return mapped;
  qsizetype start = fileName.size();
  while (start > 0 && fileName[start - 1] != u'\\' && fileName[start - 1] != u'/' &&
         fileName[start - 1] != u':')
    --start;
  const QString name = fileName.mid(start);
  return QDir::homePath() + '/' + (name.isEmpty() ? QStringLiteral("export.txt") : name);
}

bool ValidateReportRequest(QString* fileName, int* scope, bool bHasCurrent,
                           const QString& confirmedName) {
  if (fileName->isEmpty()) {
    Ask("Имя файла не задано", MB_OK | MB_ICONERROR);
    return false;
  }
  if (fileName->startsWith(u'"')) fileName->remove(0, 1);
  if (fileName->endsWith(u'"')) fileName->chop(1);
  // A name made of quotes alone is no name either.
  if (fileName->isEmpty()) {
    Ask("Имя файла не задано", MB_OK | MB_ICONERROR);
    return false;
  }
  *fileName = ReportFilePath(*fileName);
  if (*scope == rsCurrent && !bHasCurrent) {
    *scope = rsAll;
    Ask("Отсутствует текущий лист", MB_OK | MB_ICONERROR);
    return false;
  }
  // A report never takes the place of a song, a list or a list's data file, named or
  // reached through a symbolic link.
  const auto refusal = [](const QString& name) {
    return lb::IsListFileName(name) ? QStringLiteral("это файл листа")
                                    : TSlDocument::SongOrDataFileReason(name);
  };
  QString refused = refusal(*fileName);
  QFileInfo named(*fileName);
  for (int depth = 0; refused.isEmpty() && named.isSymLink() && depth < 40; ++depth) {
    named.setFile(named.symLinkTarget());
    refused = refusal(named.absoluteFilePath());
  }
  if (!refused.isEmpty()) {
    Ask("Отчёт не может быть записан в файл\n\"" + *fileName + "\":\n" + refused,
        MB_OK | MB_ICONERROR);
    return false;
  }
  if (*fileName != confirmedName && QFileInfo::exists(*fileName) &&
      Ask("Файл уже существует. Переписать ?", MB_YESNO | MB_ICONQUESTION) != IDYES)
    return false;
  return true;
}

// ---------------------------------------------------------------------------------
// The writer

TReportWriter::TReportWriter(uint32_t mask, bool bHtml, bool bUrlLinks)
    : m_bHtml(bHtml), m_bUrlLinks(bUrlLinks), m_bReadsTags(ReportReadsTags(mask)) {
  for (int kind = 0; kind < kColumnKindCount; ++kind) {
    if (kind == ckTrack1 || !(mask & (1u << kind))) continue;
    m_Kinds.push_back(kind);
    m_TotalWidth += ColumnTextWidth(kind);
  }
}

TReportWriter::~TReportWriter() {
  if (m_File.isOpen()) m_File.cancelWriting();
}

bool TReportWriter::Open(const QString& fileName) {
  m_File.setFileName(fileName);
  m_Buffer.reserve(kBufferFlush + 4096);
  errno = 0;
  if (m_File.open(QIODevice::WriteOnly)) return true;
  m_Error = errno;
  return false;
}

QString TReportWriter::FailureReason() const {
  return SystemErrorText(m_Error);
}

void TReportWriter::Line(const QString& text) {
  m_Buffer += text;
  EndLine();
}

void TReportWriter::EndLine() {
  m_Buffer += u"\r\n";
  if (m_Buffer.size() >= kBufferFlush) Flush();
}

void TReportWriter::Flush() {
  if (m_Buffer.isEmpty()) return;
  const QByteArray bytes = m_Buffer.toUtf8();
  errno = 0;
  if (m_File.write(bytes) != bytes.size() && !m_bWriteFailed) {
    m_bWriteFailed = true;
    m_Error = errno;
  }
  m_Buffer.resize(0);  // the capacity stays for the next lines
}

QString TReportWriter::Rule() const {
  return QString(m_TotalWidth, u'-');
}

void TReportWriter::AppendTextRow(const QStringList& values) {
  for (qsizetype i = 0; i < values.size(); ++i) {
    int width = ColumnTextWidth(m_Kinds[i]);
    if (i > 0) {
      m_Buffer += u"| ";
      width -= 2;
    }
    AppendPadded(m_Buffer, values[i], width);
  }
  EndLine();
}

void TReportWriter::AppendHtmlRow(const QStringList& values) {
  m_Buffer += u"<TR>";
  for (qsizetype f = 0; f < values.size(); ++f) {
    const QString value = HtmlEscape(values[f]);
    // A tag's URL becomes a link; it is escaped like any value, so that a tag cannot
    // put markup into the page.
    if (m_Kinds[f] == kUrlKind && m_bUrlLinks && !value.isEmpty()) {
      m_Buffer += u"<TD><A HREF=\"";
      m_Buffer += value;
      m_Buffer += u"\">";
      m_Buffer += value;
      m_Buffer += u"</A></TD>";
    } else {
      m_Buffer += u"<TD>";
      m_Buffer += value;
      m_Buffer += u"</TD>";
    }
  }
  EndLine();
}

void TReportWriter::WriteHeader(const QDateTime& now) {
  const QLocale locale;
  const QString stamp = "Текущая дата/время: " + locale.toString(now.date(), QLocale::ShortFormat) +
                        ' ' + locale.toString(now.time(), QLocale::LongFormat);
  if (m_bHtml) {
    Line("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">");
    Line("<HTML>");
    Line("<HEAD>");
    Line("<META content=\"text/html; charset=utf-8\" http-equiv=Content-Type>");
    Line("</HEAD>");
    Line("<BODY>");
    Line(stamp + "<BR><BR>");
  } else {
    Line(stamp);
    Line(QString());
  }
}

void TReportWriter::WriteLoadError(const QString& path) {
  if (m_bHtml) {
    Line("Ошибка загрузки документа: " + HtmlEscape(Quoted(path)) + "<BR><BR>");
  } else {
    Line("Ошибка загрузки документа: " + Quoted(path));
    Line(QString());
  }
}

void TReportWriter::WriteFooter() {
  const QString processed =
      "Всего записей в обработанных документах: " + QString::number(m_nProcessed);
  const QString written = "Всего записей в отчёте: " + QString::number(m_nWritten);
  if (m_bHtml) {
    Line(processed + "<BR>");
    Line(written + "<BR>");
    Line("</BODY>");
  } else {
    Line(processed);
    Line(written);
  }
}

bool TReportWriter::WriteDocument(TSlDocument& document, const std::vector<int>& selected,
                                  bool bLoaded) {
  TSlInfoWindowManager& progress = InfoWindowManager();
  progress.SetAction("Запись текста...");
  progress.SetObject(document.m_FileName);
  progress.SetProgress(0);

  const int count = document.m_Songs.size();
  const bool bOnlySelected = !selected.empty();
  QString totals = "Всего записей: " + QString::number(count);
  if (bOnlySelected) totals += "; из них выделено: " + QString::number(selected.size());

  if (m_bHtml) {
    Line("<TABLE border=\"2\" frame=\"box\">");
    Line("<CAPTION align=\"left\"><B><U>Путь: " + HtmlEscape(Quoted(document.m_FileName)) +
         "</U></B>; " + totals + "</CAPTION>");
    QString heading = "<TR>";
    for (int kind : m_Kinds) heading += "<TH>" + HtmlEscape(ColumnCaption(kind)) + "</TH>";
    Line(heading);
  } else {
    Line("Путь: " + Quoted(document.m_FileName));
    Line(totals + ".");
    Line(Rule());
    QStringList captions;
    for (int kind : m_Kinds) captions << ColumnCaption(kind);
    AppendTextRow(captions);
    Line(Rule());
  }

  const int toWrite = bOnlySelected ? int(selected.size()) : count;
  bool bStopped = false;
  int written = 0;
  QStringList values;
  for (int i = 0; i < toWrite; ++i) {
    const int n = bOnlySelected ? selected[i] : i;
    if (n < 0 || n >= count) continue;
    TSlSong& song = document.m_Songs[n];
    values.clear();
    {
      std::lock_guard<std::recursive_mutex> lock(song.cs);
      if (bLoaded && m_bReadsTags) ReadTagsAsOpened(song);
      for (int kind : m_Kinds) values << ReportFieldText(song, kind, n);
    }
    if (m_bHtml)
      AppendHtmlRow(values);
    else
      AppendTextRow(values);
    ++written;
    if (i % kPaceEntries == 0 || i == toWrite - 1) {
      progress.SetProgress(int(int64_t(i + 1) * 100 / toWrite));
      if (progress.ProcessAndCheckStop()) {
        bStopped = true;
        break;
      }
    }
  }

  if (m_bHtml) {
    Line("</TABLE><BR>");
  } else {
    Line(Rule());
    Line(QString());
  }
  m_nProcessed += count;
  m_nWritten += written;
  return !bStopped;
}

bool TReportWriter::Commit() {
  Flush();
  errno = 0;
  if (m_bWriteFailed || !m_File.flush()) {
    if (!m_bWriteFailed) m_Error = errno;
    m_File.cancelWriting();
    m_File.commit();
    return false;
  }
  errno = 0;
  if (m_File.commit()) return true;
  m_Error = errno;
  return false;
}

void TReportWriter::Discard() {
  m_Buffer.clear();
  m_File.cancelWriting();
  m_File.commit();
}

// ---------------------------------------------------------------------------------
// A whole run

TReportResult WriteReport(const TReportRequest& request, const TReportCurrent& current,
                          IRepositoryLists* lists, const TWindowSelection& selectionOf,
                          const QDateTime& now) {
  if (request.mask == 0) {
    Ask("Не заданы колонки для записи", MB_OK | MB_ICONINFORMATION);
    return rrNothing;
  }
  TReportWriter writer(request.mask, request.bHtml, request.bUrlLinks);
  if (!writer.Open(request.fileName)) {
    Ask("Ошибка при открытии файла для записи\n" + request.fileName + Reason(writer),
        MB_OK | MB_ICONERROR);
    return rrFailed;
  }
  TInfoWindowLevel level("Запись текста...", QString(), true);
  writer.WriteHeader(now);

  bool bStopped = false;
  if (request.scope == rsCurrent) {
    if (current.document) bStopped = !writer.WriteDocument(*current.document, current.selected);
  } else if (lists) {
    lists->BeginBulk();
    for (int row = 0; row < lists->Count() && !bStopped; ++row) {
      const bool bTake = request.scope == rsAll ||
                         (request.scope == rsMarked && lists->IsSelected(row)) ||
                         (request.scope == rsOpen && lists->IsOpen(row));
      if (!bTake) continue;
      lists->MarkRow(row);
      const QString path = lists->Path(row);
      if (lists->IsOpen(row)) {
        IDocumentWindow* window = lists->Child(row);
        if (!window) continue;
        const std::vector<int> selected = selectionOf ? selectionOf(window) : std::vector<int>{};
        bStopped = !writer.WriteDocument(window->Document(), selected);
        continue;
      }
      TSlDocument scratch;
      scratch.SetFileName(path);
      if (scratch.Load(true)) {
        bStopped = !writer.WriteDocument(scratch, {}, true);
        continue;
      }
      if (InfoWindowManager().m_bStop ||
          Ask("Не удаётся открыть документ\n\"" + path + "\".\n" +
                  "Для получения более подробных сведений попробуйте открыть его обычным "
                  "способом.\n" +
                  "Продолжить без него ?",
              MB_YESNO | MB_ICONQUESTION) != IDYES) {
        bStopped = true;
        break;
      }
      writer.WriteLoadError(path);
    }
    lists->EndBulk();
  }

  if (bStopped) Ask("Прервано пользователем.", MB_OK | MB_ICONEXCLAMATION);
  writer.WriteFooter();
  if (bStopped && Ask("Удалить то, что уже записано ?", MB_YESNO | MB_ICONQUESTION) == IDYES) {
    writer.Discard();
    return rrStopped;
  }
  // The flush to the disk waits on a thread of its own: the windows keep painting.
  if (!RunOffMainThread([&] { return writer.Commit(); })) {
    // Nothing of the report is left: an older file of that name stays as it was.
    Ask("Ошибка при записи файла\n" + request.fileName + Reason(writer) +
            (QFileInfo::exists(request.fileName)
                 ? "\nОтчёт не записан, прежний файл оставлен без изменений."
                 : "\nОтчёт не записан."),
        MB_OK | MB_ICONERROR);
    return rrFailed;
  }
  return bStopped ? rrStopped : rrWritten;
}

}  // namespace lb
