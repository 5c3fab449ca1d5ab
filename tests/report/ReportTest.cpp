// Text and HTML reports of lists: the field mask, the tables, escaping, the scopes,
// the questions of OK and of a stopped run, and what a stopped run leaves behind.
#include "NullDocumentWindow.h"
#include "PathLists.h"
#include "TestEnv.h"

#include "lbtools3/model/M3uList.h"
#include "lbtools3/report/Report.h"
#include "platform/IniFile.h"
#include "platform/ScriptedUiServices.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

const QDateTime kNow(QDate(2024, 5, 1), QTime(10, 20, 30));

// A document of songs with ID3v2 titles (no files behind them).
void Fill(TSlDocument& doc, const QString& path, const QStringList& titles) {
  doc.SetFileName(path);
  for (int i = 0; i < titles.size(); ++i) {
    doc.InsertSong(TSlSong(nullptr, "/music/" + QString::number(i) + ".mp3", QString()), -1);
    doc.m_Songs[i].m_Tag2.SetTitle(titles[i]);
    doc.m_Songs[i].m_Tag2.m_bExists = true;
  }
}

QStringList Lines(const QString& file) {
  QString text = QString::fromUtf8(lbtest::ReadFile(file));
  EXPECT_TRUE(text.endsWith("\r\n"));
  text.chop(2);
  return text.split("\r\n");
}

TEST(ReportFields, ListRowsMapToMaskBitsAroundTheMissingTrack) {
  // "Трэк (Тэг2)" is list row 21 and bit 22; the ID3v1 track is never offered.
  EXPECT_EQ(lb::ReportMaskOfRows({21}), 1u << 22);
  EXPECT_EQ(lb::ReportRowsOfMask(1u << 22), QList<int>{21});
  EXPECT_EQ(lb::ReportMaskOfRows({0, 8, 9}), (1u << 0) | (1u << 8) | (1u << 10));
  EXPECT_EQ(lb::ReportRowsOfMask((1u << 9) | (1u << 10)), QList<int>{9});
  EXPECT_EQ(lb::ReportRowCount(), 24);
  EXPECT_TRUE(lb::IsHtmlReportName("/tmp/report.HTML"));
  EXPECT_TRUE(lb::IsHtmlReportName("a.Htm"));
  EXPECT_FALSE(lb::IsHtmlReportName("report.txt"));
  EXPECT_FALSE(lb::IsHtmlReportName("html"));
  EXPECT_EQ(lb::HtmlEscape("AC&DC <b>\"x\""), "AC&DC &lt;b&gt;&quot;x&quot;");
}

TEST(ReportSettings, RoundTripThroughTheSettingsFile) {
  TIniFile ini(lbtest::NewTempDir() + "/s.ini");
  EXPECT_EQ(lb::TReportSettings::Read(ini).mask, 1u);
  lb::TReportSettings s;
  s.lists = lb::rsOpen;
  s.fileName = "/tmp/отчёт.htm";
  s.bUrlLinks = true;
  s.mask = 1u << 22;
  s.Write(ini);
  EXPECT_EQ(ini.ReadInteger("Settings", "ExportFilesMask", 0), 1 << 22);
  const lb::TReportSettings back = lb::TReportSettings::Read(ini);
  EXPECT_EQ(back.lists, lb::rsOpen);
  EXPECT_EQ(back.fileName, s.fileName);
  EXPECT_TRUE(back.bUrlLinks);
  EXPECT_EQ(lb::ReportRowsOfMask(back.mask), QList<int>{21});
}

TEST(ReportValidation, TellsWhyTheDialogStaysOpen) {
  ScriptedUiServices ui;
  const QString dir = lbtest::NewTempDir();
  QString name;
  int scope = lb::rsCurrent;
  EXPECT_FALSE(lb::ValidateReportRequest(&name, &scope, true));
  name = "\"" + dir + "/r.txt\"";
  EXPECT_FALSE(lb::ValidateReportRequest(&name, &scope, false));
  EXPECT_EQ(name, dir + "/r.txt");
  EXPECT_EQ(scope, lb::rsAll);
  EXPECT_TRUE(lb::ValidateReportRequest(&name, &scope, false));
  lbtest::WriteFile(name, "old");
  ui.Answer(IDNO);
  EXPECT_FALSE(lb::ValidateReportRequest(&name, &scope, false));
  ui.Answer(IDYES);
  EXPECT_TRUE(lb::ValidateReportRequest(&name, &scope, false));
  EXPECT_EQ(ui.Texts(), QStringList({"Имя файла не задано", "Отсутствует текущий лист",
                                     "Файл уже существует. Переписать ?",
                                     "Файл уже существует. Переписать ?"}));
  // The file dialog has already asked about the name it gave: OK does not ask again.
  EXPECT_TRUE(lb::ValidateReportRequest(&name, &scope, false, name));
  EXPECT_EQ(ui.Texts().size(), 4);
  // A song, a list or a list's data file is never replaced by a report, asked or not.
  ASSERT_TRUE(QFile::link(dir + "/a.mp3", dir + "/link.txt"));
  for (const char* taken : {"/a.mp3", "/a.m3u", "/a.lbt", "/link.txt"}) {
    QString kept = dir + taken;
    if (!QFileInfo(kept).isSymLink()) lbtest::WriteFile(kept, "keep");
    EXPECT_FALSE(lb::ValidateReportRequest(&kept, &scope, false, kept)) << taken;
    EXPECT_TRUE(ui.Texts().last().startsWith("Отчёт не может быть записан в файл")) << taken;
    EXPECT_EQ(lbtest::ReadFile(kept), "keep");
  }
  ui.ClearMessages();

  // A name from Windows: its drive maps through "Drives", else the file goes home.
  TIniFile settings(lb::SettingsFilePath());
  settings.WriteString("Drives", "C", dir);
  name = "c:\\export.txt";
  EXPECT_TRUE(lb::ValidateReportRequest(&name, &scope, false));
  EXPECT_EQ(name, dir + "/export.txt");
  EXPECT_EQ(lb::ReportFilePath("q:\\Отчёты\\export.htm"), QDir::homePath() + "/export.htm");
  EXPECT_EQ(lb::ReportFilePath("\\\\host\\share\\r.txt"), QDir::homePath() + "/r.txt");
  settings.EraseSection("Drives");
}

TEST(TextReport, ColumnsLineUpInCharactersWithCyrillicValues) {
  ScriptedUiServices ui;
  const QString file = lbtest::NewTempDir() + "/r.txt";
  TSlDocument doc;
  // A line break or a NUL in a value would start a new line inside the row.
  Fill(doc, "/lists/Сборник.m3u",
       {"Группа крови", QString("AB\r\nB") + QChar(0) + "A", QString(45, u'Ж')});
  lb::TReportRequest request{file, (1u << 0) | (1u << 11) | (1u << 22), false, lb::rsCurrent,
                             false};
  ASSERT_EQ(lb::WriteReport(request, {&doc, {}}, nullptr, {}, kNow), lb::rrWritten);
  const QStringList lines = Lines(file);
  ASSERT_EQ(lines.size(), 14);
  EXPECT_TRUE(lines[0].startsWith("Текущая дата/время: "));
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "Путь: \"/lists/Сборник.m3u\"");
  EXPECT_EQ(lines[3], "Всего записей: 3.");
  const QString rule(6 + 40 + 14, u'-');
  EXPECT_EQ(lines[4], rule);
  auto cell = [](const QString& text, int width) { return text.leftJustified(width); };
  EXPECT_EQ(lines[5], "N     " + cell("| Название (Тэг2)", 40) + cell("| Трэк (Тэг2)", 14));
  EXPECT_EQ(lines[6], rule);
  EXPECT_EQ(lines[7], "1     " + cell("| Группа крови", 40) + cell("| 0", 14));
  EXPECT_EQ(lines[7].toUtf8().size(), rule.size() + 11);  // 11 letters of two bytes each
  EXPECT_EQ(lines[8], "2     " + cell("| AB  B A", 40) + cell("| 0", 14));
  // A longer text is not cut: the next field follows it.
  EXPECT_EQ(lines[9], "3     | " + QString(45, u'Ж') + cell("| 0", 14));
  EXPECT_EQ(lines[10], rule);
  EXPECT_EQ(lines[11], "");
  EXPECT_EQ(lines[12], "Всего записей в обработанных документах: 3");
  EXPECT_EQ(lines[13], "Всего записей в отчёте: 3");
}

TEST(HtmlReport, EscapesValuesDeclaresUtf8AndCountsSelection) {
  ScriptedUiServices ui;
  const QString file = lbtest::NewTempDir() + "/report.HTML";
  TSlDocument doc;
  Fill(doc, "/lists/a<1>.m3u", {"AC&DC", "<b>", "третья"});
  doc.m_Songs[1].m_Tag2.SetURL("http://x/?a=1&b=\"><script>");
  lb::TReportRequest request{file, (1u << 11) | (1u << 20), true, lb::rsCurrent,
                             lb::IsHtmlReportName(file)};
  ASSERT_EQ(lb::WriteReport(request, {&doc, {0, 1}}, nullptr, {}, kNow), lb::rrWritten);
  const QStringList lines = Lines(file);
  EXPECT_EQ(lines[3], "<META content=\"text/html; charset=utf-8\" http-equiv=Content-Type>");
  EXPECT_TRUE(
      lines.contains("<CAPTION align=\"left\"><B><U>Путь: &quot;/lists/a&lt;1&gt;.m3u&quot;"
                     "</U></B>; Всего записей: 3; из них выделено: 2</CAPTION>"));
  EXPECT_TRUE(lines.contains("<TR><TH>Название (Тэг2)</TH><TH>URL (Тэг2)</TH>"));
  EXPECT_TRUE(lines.contains("<TR><TD>AC&DC</TD><TD></TD>"));
  // The link keeps the address but cannot carry markup into the page.
  EXPECT_TRUE(
      lines.contains("<TR><TD>&lt;b&gt;</TD><TD><A HREF=\"http://x/?a=1&b=&quot;&gt;"
                     "&lt;script&gt;\">http://x/?a=1&b=&quot;&gt;&lt;script&gt;</A></TD>"));
  EXPECT_FALSE(lines.join('\n').contains("третья"));
  EXPECT_EQ(lines.mid(lines.size() - 3),
            QStringList({"Всего записей в обработанных документах: 3<BR>",
                         "Всего записей в отчёте: 2<BR>", "</BODY>"}));
}

TEST(Report, OpenListsStayAsTheyAreAndClosedListsShowTheirFilesTags) {
  ScriptedUiServices ui;
  const QString dir = lbtest::NewTempDir();
  const QString file = dir + "/r.txt";
  // An open list: written as it is, its songs' state untouched.
  TSlDocument doc;
  Fill(doc, dir + "/open.m3u", {"a"});
  doc.m_Songs[0].m_FileAge = 1234;
  doc.m_bModified = false;
  ASSERT_EQ(
      lb::WriteReport({file, 1u | 1u << 11, false, lb::rsCurrent, false}, {&doc, {}}, nullptr, {}),
      lb::rrWritten);
  EXPECT_EQ(doc.m_Songs[0].m_FileAge, 1234);
  EXPECT_FALSE(doc.m_bModified);
  EXPECT_TRUE(QString::fromUtf8(lbtest::ReadFile(file)).contains("| a "));

  // A closed list without a data file: its songs' ID3v1 titles come from the files,
  // and neither the files nor the list change.
  QByteArray tag(128, '\0');
  tag.replace(0, 3, "TAG");
  tag.replace(3, 5, "Title");
  const QByteArray song = QByteArray(1000, '\x55') + tag;
  ASSERT_TRUE(lbtest::WriteFile(dir + "/s.mp3", song));
  ASSERT_TRUE(lbtest::WriteFile(dir + "/closed.m3u", "s.mp3\r\n"));
  lbtest::PathLists lists;
  lists.rows = {{dir + "/closed.m3u", true}};
  ASSERT_EQ(lb::WriteReport({file, 1u | 1u << 3, false, lb::rsAll, false}, {}, &lists, {}),
            lb::rrWritten);
  EXPECT_TRUE(QString::fromUtf8(lbtest::ReadFile(file)).contains("| Title "));
  EXPECT_EQ(lbtest::ReadFile(dir + "/s.mp3"), song);
  EXPECT_EQ(lbtest::ReadFile(dir + "/closed.m3u"), "s.mp3\r\n");
  EXPECT_FALSE(QFile::exists(dir + "/closed.lbt"));

  // No field chosen: nothing is written.
  QFile::remove(file);
  EXPECT_EQ(lb::WriteReport({file, 0, false, lb::rsCurrent, false}, {&doc, {}}, nullptr, {}),
            lb::rrNothing);
  EXPECT_FALSE(QFile::exists(file));
  ASSERT_FALSE(ui.Texts().empty());
  EXPECT_EQ(ui.Texts().last(), "Не заданы колонки для записи");
}

TEST(Report, WalksTheRepositoryByScopeAndAsksAboutListsThatDoNotLoad) {
  ScriptedUiServices ui;
  const QString dir = lbtest::NewTempDir();
  TSlDocument closed;
  Fill(closed, dir + "/closed.m3u", {"c1", "c2"});
  ASSERT_TRUE(closed.Save(true));
  lbtest::NullDocumentWindow open;
  Fill(open.m_Document, dir + "/open.m3u", {"o1", "o2", "o3"});
  lbtest::PathLists lists;
  lists.rows = {
      {dir + "/closed.m3u", true}, {dir + "/missing.m3u"}, {dir + "/open.m3u", true, &open}};
  auto selection = [&](IDocumentWindow* w) {
    return w == &open ? std::vector<int>{2} : std::vector<int>{};
  };
  const QString file = dir + "/r.txt";
  // Marked lists: the closed one is written whole, the open one by its selection.
  ASSERT_EQ(lb::WriteReport({file, 1u << 11, false, lb::rsMarked, false}, {}, &lists, selection),
            lb::rrWritten);
  QString text = QString::fromUtf8(lbtest::ReadFile(file));
  EXPECT_TRUE(text.contains("c2") && text.contains("o3") && !text.contains("o1"));
  EXPECT_TRUE(
      text.contains("Всего записей в обработанных документах: 5\r\n"
                    "Всего записей в отчёте: 3\r\n"));
  EXPECT_EQ(lists.shown, QList<int>({0, 2}));
  EXPECT_TRUE(ui.Messages().isEmpty());

  // All lists: the one that does not load is asked about; Yes writes an error line.
  ui.Answer(IDYES);
  ASSERT_EQ(lb::WriteReport({file, 1u << 11, false, lb::rsAll, false}, {}, &lists, selection),
            lb::rrWritten);
  text = QString::fromUtf8(lbtest::ReadFile(file));
  EXPECT_TRUE(text.contains("Ошибка загрузки документа: \"" + dir + "/missing.m3u\"\r\n\r\n"));
  EXPECT_EQ(ui.Texts().first(), "Не удаётся открыть документ\n\"" + dir +
                                    "/missing.m3u\".\nДля получения более подробных сведений "
                                    "попробуйте открыть его обычным способом.\nПродолжить без "
                                    "него ?");
}

TEST(Report, StoppedRunKeepsAFileEndingWithTheFooterOrDropsIt) {
  ScriptedUiServices ui;
  const QString dir = lbtest::NewTempDir();
  TSlDocument doc;
  QStringList titles;
  for (int i = 0; i < 300; ++i) titles << "t" + QString::number(i);
  Fill(doc, dir + "/l.m3u", titles);
  const QString file = dir + "/r.htm";
  lb::TReportRequest request{file, 1u, false, lb::rsCurrent, true};

  ui.StopAfterProcessMessages(1);
  ui.Answer(IDOK);
  ui.Answer(IDNO);
  ASSERT_EQ(lb::WriteReport(request, {&doc, {}}, nullptr, {}), lb::rrStopped);
  EXPECT_EQ(ui.Texts(), QStringList({"Прервано пользователем.", "Удалить то, что уже записано ?"}));
  const QStringList lines = Lines(file);
  EXPECT_EQ(lines.last(), "</BODY>");
  EXPECT_EQ(lines[lines.size() - 4], "</TABLE><BR>");
  EXPECT_EQ(lines[lines.size() - 2],
            "Всего записей в отчёте: " + QString::number(lines.filter("<TR><TD>").size()) + "<BR>");
  EXPECT_LT(lines.filter("<TR><TD>").size(), 300);

  // Yes drops what this run wrote; the file of the earlier run stays as it was.
  const QByteArray earlier = lbtest::ReadFile(file);
  ui.ClearMessages();
  ui.StopAfterProcessMessages(1);
  ui.Answer(IDOK);
  ui.Answer(IDYES);
  ASSERT_EQ(lb::WriteReport(request, {&doc, {}}, nullptr, {}), lb::rrStopped);
  EXPECT_EQ(lbtest::ReadFile(file), earlier);
  QFile::remove(file);
  ui.StopAfterProcessMessages(1);
  ui.Answer(IDOK);
  ui.Answer(IDYES);
  lb::WriteReport(request, {&doc, {}}, nullptr, {});
  EXPECT_FALSE(QFile::exists(file));
}

TEST(Report, UnwritableTargetIsReportedAndNotShownAsDone) {
  ScriptedUiServices ui;
  TSlDocument doc;
  Fill(doc, "/l.m3u", {"a"});
  const QString file = lbtest::NewTempDir() + "/no/such/folder/r.txt";
  EXPECT_EQ(lb::WriteReport({file, 1u, false, lb::rsCurrent, false}, {&doc, {}}, nullptr, {}),
            lb::rrFailed);
  EXPECT_EQ(ui.Texts(), QStringList{"Ошибка при открытии файла для записи\n" + file +
                                    "\nФайл или папка не найдены"});
  // A full disk: the older report stays whole, and the message says why and so.
  lbtest::SmallFileSystem disk(64);
  if (!disk.Ok()) GTEST_SKIP() << "mounting needs root";
  const QString old = disk.Path() + "/r.txt";
  ASSERT_TRUE(lbtest::WriteFile(old, "old"));
  disk.Fill();
  ui.ClearMessages();
  EXPECT_EQ(lb::WriteReport({old, 1u, false, lb::rsCurrent, false}, {&doc, {}}, nullptr, {}),
            lb::rrFailed);
  EXPECT_EQ(ui.Texts(), QStringList{"Ошибка при записи файла\n" + old +
                                    "\nНедостаточно места на диске\nОтчёт не записан, "
                                    "прежний файл оставлен без изменений."});
  EXPECT_EQ(lbtest::ReadFile(old), "old");
}

}  // namespace
