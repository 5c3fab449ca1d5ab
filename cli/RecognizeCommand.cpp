// "recognize LIST FOLDER [--class CLSID|ProgID] [--rows N,M-K]": fills songs of a list
// from a music disc through the registered extracters and saves the list.
#include "CliContext.h"

#include "lbtools3/model/M3uList.h"
#include "lbtools3/recognizer/Recognizer.h"

#include <set>

namespace {

// The rows the command works on; answered rows leave the set.
class TRowSelection : public lb::IRecognizerSelection {
 public:
  explicit TRowSelection(const std::vector<int>& rows) : m_Rows(rows.begin(), rows.end()) {}
  int SelectedCount() override { return static_cast<int>(m_Rows.size()); }
  bool IsSelected(int n) override { return m_Rows.count(n) != 0; }
  void SongAnswered(int n) override {
    m_Rows.erase(n);
    m_Answered.push_back(n);
  }
  std::vector<int> m_Answered;

 private:
  std::set<int> m_Rows;
};

int RunRecognize(CliContext& c, const QStringList& args) {
  QString className, rowsText;
  QStringList positional;
  for (qsizetype i = 0; i < args.size(); ++i) {
    if (args[i] == "--class" && i + 1 < args.size())
      className = args[++i];
    else if (args[i] == "--rows" && i + 1 < args.size())
      rowsText = args[++i];
    else if (args[i].startsWith("--"))
      return CliUsageError(c, "Неизвестный ключ: " + args[i]);
    else
      positional << args[i];
  }
  if (positional.size() != 2)
    return CliUsageError(c,
                         "Нужны LIST и FOLDER: recognize LIST FOLDER [--class CLSID|ProgID] "
                         "[--rows N,M-K]");

  // The songs' records are brought in step with their files before they are filled.
  if (!CliAttachID3Com(c)) return 1;
  TSlDocument doc;
  if (!CliLoadList(c, positional[0], doc)) return 3;
  std::vector<int> rows;
  if (!CliParseRows(c, rowsText, doc.m_Songs.size(), &rows)) return 2;

  lb::TRecognizer recognizer;
  QStringList failures;
  recognizer.LoadExtracters(lb::TRecognizer::CategoriesManager().Get(), &failures);
  for (const QString& failure : failures) c.err << failure << Qt::endl;
  auto& extracters = recognizer.Rows();
  int chosen = -1;
  if (!className.isEmpty()) {
    CLSID clsid;
    if (!lb::ClassFromName(className, &clsid))
      return CliUsageError(c, "Неизвестный класс: " + className);
    for (size_t i = 0; i < extracters.size(); ++i)
      if (extracters[i].extracter.clsid == clsid) chosen = static_cast<int>(i);
    if (chosen < 0) {
      lb::TRecognizer::TRow row;
      if (FAILED(lb::CreateExtracter(clsid, &row.extracter))) {
        c.err << "Экстрактор не создаётся: " << className << Qt::endl;
        return 2;
      }
      extracters.push_back(std::move(row));
      chosen = static_cast<int>(extracters.size()) - 1;
    }
  }
  if (extracters.empty()) {
    c.err << lb::TRecognizer::kNoExtracters << Qt::endl;
    return 1;
  }

  // Songs are asked about with full paths, so the disc root is made full as well.
  const QString folder = CliAbsolutePath(positional[1]);
  recognizer.Recognize(folder);
  int marked = 0;
  for (size_t i = 0; i < extracters.size(); ++i) {
    const lb::TRecognizer::TRow& row = extracters[i];
    c.out << (i + 1) << ". " << lb::ExtracterName(row.extracter) << ": "
          << (row.bMarked ? "узнаёт" : "не узнаёт") << Qt::endl;
    if (row.bMarked) {
      ++marked;
      if (className.isEmpty()) chosen = static_cast<int>(i);
    }
  }
  if (className.isEmpty() && marked != 1) {
    c.err << (marked == 0 ? "Ни один экстрактор не узнаёт папку "
                          : "Папку узнают несколько экстракторов, выберите один ключом --class: ")
          << folder << Qt::endl;
    return marked == 0 ? 1 : 2;
  }
  if (!recognizer.CanExtract(chosen)) {
    c.err << lb::ExtracterName(extracters[chosen].extracter) << " не узнаёт папку " << folder
          << Qt::endl;
    return 1;
  }

  TRowSelection selection(rows);
  lb::TRecognizer::TOutcome outcome = recognizer.Extract(chosen, doc, selection);
  for (int n : selection.m_Answered) {
    const TSlSong& song = doc.m_Songs[n];
    c.out << (n + 1) << "\t" << song.GetPath(true) << "\t" << song.m_Tag2.Title << "\t"
          << song.m_Tag2.Album << Qt::endl;
  }
  c.out << "Заполнено песен: " << outcome.answered << " из " << rows.size() << Qt::endl;
  if (outcome.answered > 0 && !CliSaveList(c, doc)) return 3;
  return outcome.bErrors ? 3 : 0;
}

}  // namespace

QList<CliCommandInfo> RecognizeCommands() {
  return {
      {"recognize", "LIST FOLDER [--class CLSID|ProgID] [--rows N,M-K]",
       "заполняет тэги песен листа (всех или строк N,M-K) из каталога музыкального диска "
       "FOLDER: экстрактором --class или единственным, кто узнаёт папку; лист сохраняется",
       RunRecognize},
  };
}
