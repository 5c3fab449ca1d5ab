#include "ExtractCommand.h"

#include "extracter/client/Extracters.h"
#include "extracter/contract/ExtracterRecords.h"

#include <QFileInfo>

namespace lb {

namespace {

// The folder as extracters expect it: absolute and ending with a separator.
QString FolderArgument(const QString& folder) {
  QString path = QFileInfo(folder).absoluteFilePath();
  if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
  return path;
}

void PrintRecords(QTextStream& out, const LBSongTagID3v1& v1, const LBSongTagID3v2& v2) {
  auto line = [&](const char* name, const QString& value) {
    out << "    " << name << ": " << value << "\n";
  };
  out << "  ID3v1\n";
  line("Название", FixedText(v1.szTitle, kID3v1TextWidth));
  line("Исполнитель", FixedText(v1.szArtist, kID3v1TextWidth));
  line("Альбом", FixedText(v1.szAlbum, kID3v1TextWidth));
  line("Комментарий", FixedText(v1.szComment, kID3v1TextWidth));
  line("Год", FixedText(v1.szYear, kYearWidth));
  line("Жанр", QString::number(v1.ucGenre));
  out << "  ID3v2\n";
  line("Название", QStringFromBstr(v2.bstrTitle));
  line("Исполнитель", QStringFromBstr(v2.bstrArtist));
  line("Альбом", QStringFromBstr(v2.bstrAlbum));
  line("Комментарий", QStringFromBstr(v2.bstrComment));
  line("Год", FixedText(v2.szYear, kYearWidth));
  line("Жанр", QString::number(v2.ulGenre));
  line("Композитор", QStringFromBstr(v2.bstrComposer));
  line("Исполнитель оригинала", QStringFromBstr(v2.bstrOrigArtist));
  line("Авторские права", QStringFromBstr(v2.bstrCopyright));
  line("URL", QStringFromBstr(v2.bstrURL));
  line("Кем кодирован", QStringFromBstr(v2.bstrEncodedBy));
  line("Трэк", QString::number(v2.ulTrack));
}

}  // namespace

}  // namespace lb

namespace {

int RunExtract(CliContext& c, const QStringList& args) {
  QTextStream& out = c.out;
  QTextStream& err = c.err;
  QString className;
  QStringList positional;
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& arg = args[i];
    if (arg == QLatin1String("--class")) {
      if (++i >= args.size()) return CliUsageError(c, "После --class укажите CLSID или ProgID");
      className = args[i];
    } else if (arg.startsWith(QLatin1String("--class="))) {
      className = arg.mid(8);
    } else {
      positional << arg;
    }
  }
  if (positional.isEmpty())
    return CliUsageError(c, "Нужна FOLDER: extract FOLDER [SONG...] [--class CLSID|ProgID]");

  int exitCode = 0;
  {
    QStringList failures;
    std::vector<lb::TExtracterHandle> extracters = lb::CreateCategoryExtracters(&failures);
    for (const QString& failure : failures) err << failure << "\n";

    out << "Экстракторы:\n";
    for (size_t i = 0; i < extracters.size(); ++i) {
      const lb::TExtracterHandle& h = extracters[i];
      out << "  " << (i + 1) << ". " << h.author << ", " << lb::VersionText(h.version) << ", "
          << h.description << " (" << lb::ExtracterName(h) << ")\n";
    }
    if (extracters.empty()) out << "  нет\n";

    const QString folder = lb::FolderArgument(positional.first());
    out << "Папка: " << folder << "\n";
    const lb::TExtracterHandle* answering = nullptr;
    lb::TExtracterHandle named;
    if (!className.isEmpty()) {
      CLSID clsid;
      if (!lb::ClassFromName(className, &clsid))
        return CliUsageError(c, "Неизвестный класс: " + className);
      HRESULT hr = lb::CreateExtracter(clsid, &named);
      if (FAILED(hr)) {
        err << "Экстрактор не создаётся: " << className << " (" << lb::HResultText(hr) << ")\n";
        return 2;
      }
      LONG mask = 0;
      std::u16string path = folder.toStdU16String();
      bool recognised = named.extracter->Recognize(path.data(), &mask) == S_OK;
      out << "  " << lb::ExtracterName(named) << ": " << (recognised ? "узнаёт" : "не узнаёт")
          << "\n";
      if (recognised) answering = &named;
    } else {
      for (size_t i = 0; i < extracters.size(); ++i) {
        LONG mask = 0;
        std::u16string path = folder.toStdU16String();
        bool recognised = extracters[i].extracter->Recognize(path.data(), &mask) == S_OK;
        out << "  " << (i + 1) << ". " << (recognised ? "узнаёт" : "не узнаёт") << "\n";
        if (recognised && !answering) answering = &extracters[i];
      }
    }
    if (!answering) exitCode = 1;

    for (qsizetype s = 1; s < positional.size(); ++s) {
      const QString song = QFileInfo(positional[s]).absoluteFilePath();
      out << "Песня: " << song << "\n";
      LBSongTagID3v1 v1;
      LBSongTagID3v2 v2;
      lb::InitTagRecords(v1, v2);
      HRESULT hr = S_FALSE;
      if (answering) {
        LONG mask = static_cast<LONG>(kAllFieldsMask);
        std::u16string path = song.toStdU16String();
        hr = answering->extracter->GetSongInfo(path.data(), &v1, &v2, &mask);
      }
      if (hr == S_OK) {
        out << "  отвечает " << lb::ExtracterName(*answering) << "\n";
        lb::PrintRecords(out, v1, v2);
      } else {
        out << "  сведений нет\n";
        if (FAILED(hr)) {
          QString why = lb::TakeErrorDescription();
          err << "Экстрактор не ответил о песне " << song << " (" << lb::HResultText(hr) << ")"
              << (why.isEmpty() ? QString() : QStringLiteral(": ") + why) << "\n";
        }
      }
      lb::FreeTagID3v2(v2);
    }
  }
  return exitCode;
}

}  // namespace

int RunExtractCommand(CliContext& c, const QStringList& args) {
  // Every extracter is released inside RunExtract, before the layer may unload servers.
  CoInitialize(nullptr);
  int exitCode = RunExtract(c, args);
  CoUninitialize();
  return exitCode;
}
