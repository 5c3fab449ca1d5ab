// Writing song lists as a report ("Запись в виде текста..."): a plain-text table or an
// HTML page with one table per list. The fields are column kinds of the document
// window; the report goes to a temporary file that replaces the target only when it
// is complete, so a failed or discarded run leaves an older file whole.
#pragma once

#include <QDateTime>
#include <QList>
#include <QSaveFile>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

class IDocumentWindow;
class IRepositoryLists;
class TIniFile;
class TSlDocument;
class TSlSong;

namespace lb {

// Rows of the "Листы" radio group.
enum TReportScope { rsCurrent = 0, rsMarked = 1, rsOpen = 2, rsAll = 3 };

// What the dialog remembers in the settings file (section "Settings").
struct TReportSettings {
  int lists = rsCurrent;
  QString fileName;
  bool bUrlLinks = false;
  uint32_t mask = 1;  // only "N"

  static TReportSettings Read(const TIniFile& ini);
  void Write(TIniFile& ini) const;
};

// The field list shows every column kind but the ID3v1 track (kind 9): list row r
// stands for kind r below 9 and r + 1 from there on.
int ReportKindOfRow(int row);
int ReportRowCount();
uint32_t ReportMaskOfRows(const QList<int>& rows);
QList<int> ReportRowsOfMask(uint32_t mask);
// Any field but "N" and "Путь" shows what the songs' tags hold: a list that is not
// open then reads its tags as opening it would.
bool ReportReadsTags(uint32_t mask);

// ".htm" or ".html", in any letter case.
bool IsHtmlReportName(const QString& fileName);
// "<", ">" and '"' become entities; "&" stays as it is.
QString HtmlEscape(const QString& text);
// The text a report writes for the song in row (index) under the kind: what the
// document window shows, with the full path and "+" for the synchronisation flags.
QString ReportFieldText(const TSlSong& song, int kind, int row);
// A text's width in characters (not UTF-16 units).
int TextWidth(const QString& text);

// A report file name written on Windows ("c:\\export.txt", the default of settings files
// from there): its drive letter maps to a folder through the "Drives" section; an
// unmapped drive or a network share leaves the file name in the home folder. Names of
// this system stay as they are.
QString ReportFilePath(const QString& fileName);

// The checks of OK; false when the dialog stays open (the user has been told why).
// fileName loses one leading and one trailing double quote and has its drive mapped
// (ReportFilePath); a current list that is missing turns the scope to rsAll. An
// existing file is asked about unless it is confirmedName, about which the file
// dialog has already asked.
bool ValidateReportRequest(QString* fileName, int* scope, bool bHasCurrent,
                           const QString& confirmedName = QString());

// Writes one report file: header, documents, error lines, footer.
class TReportWriter {
 public:
  TReportWriter(uint32_t mask, bool bHtml, bool bUrlLinks);
  ~TReportWriter();

  bool Open(const QString& fileName);
  void WriteHeader(const QDateTime& now);
  // selected: the rows selected in the document's list view (empty: all rows are
  // written). bLoaded: the document was loaded for the report (its list is not open);
  // when the fields show tags, files that changed since the data file was written (all
  // of them without one) have their tags read, as opening the list would show them;
  // nothing is written into them. An open list's songs are written as they are: none
  // of its state changes. Reports progress and lets pending messages run; false when
  // the user stopped.
  bool WriteDocument(TSlDocument& document, const std::vector<int>& selected, bool bLoaded = false);
  void WriteLoadError(const QString& path);
  void WriteFooter();
  // Puts the finished file in place; false when a write or the rename failed.
  bool Commit();
  // Drops what was written; an older file of that name stays as it was.
  void Discard();

  // Why opening, a write or the commit failed, in the user's words ("" when the
  // system gave no reason).
  QString FailureReason() const;

  int64_t EntriesProcessed() const { return m_nProcessed; }
  int64_t EntriesWritten() const { return m_nWritten; }

 private:
  void Line(const QString& text);
  void EndLine();
  void Flush();
  // An entry or heading line of the chosen fields.
  void AppendTextRow(const QStringList& values);
  void AppendHtmlRow(const QStringList& values);
  QString Rule() const;

  std::vector<int> m_Kinds;
  bool m_bHtml;
  bool m_bUrlLinks;
  bool m_bReadsTags;
  int m_TotalWidth = 0;
  QSaveFile m_File;
  QString m_Buffer;
  bool m_bWriteFailed = false;
  int m_Error = 0;  // the system's error number of the first failure
  int64_t m_nProcessed = 0;
  int64_t m_nWritten = 0;
};

// One report run after validation.
struct TReportRequest {
  QString fileName;
  uint32_t mask = 1;
  bool bUrlLinks = false;
  int scope = rsCurrent;
  bool bHtml = false;  // normally IsHtmlReportName(fileName)
};
// The current list: its document and its list view's selected rows.
struct TReportCurrent {
  TSlDocument* document = nullptr;
  std::vector<int> selected;
};
// The selected rows of an open list's window.
using TWindowSelection = std::function<std::vector<int>(IDocumentWindow* window)>;

enum TReportResult { rrNothing, rrWritten, rrStopped, rrFailed };
// Writes the report with a progress window; every message of the run is shown here.
TReportResult WriteReport(const TReportRequest& request, const TReportCurrent& current,
                          IRepositoryLists* lists, const TWindowSelection& selectionOf,
                          const QDateTime& now = QDateTime::currentDateTime());

}  // namespace lb
