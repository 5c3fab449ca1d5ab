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
  line("Title", FixedText(v1.szTitle, kID3v1TextWidth));
  line("Artist", FixedText(v1.szArtist, kID3v1TextWidth));
  line("Album", FixedText(v1.szAlbum, kID3v1TextWidth));
  line("Comment", FixedText(v1.szComment, kID3v1TextWidth));
  line("Year", FixedText(v1.szYear, kYearWidth));
  line("Genre", QString::number(v1.ucGenre));
  out << "  ID3v2\n";
  line("Title", QStringFromBstr(v2.bstrTitle));
  line("Artist", QStringFromBstr(v2.bstrArtist));
  line("Album", QStringFromBstr(v2.bstrAlbum));
  line("Comment", QStringFromBstr(v2.bstrComment));
  line("Year", FixedText(v2.szYear, kYearWidth));
  line("Genre", QString::number(v2.ulGenre));
  line("Composer", QStringFromBstr(v2.bstrComposer));
  line("OrigArtist", QStringFromBstr(v2.bstrOrigArtist));
  line("Copyright", QStringFromBstr(v2.bstrCopyright));
  line("URL", QStringFromBstr(v2.bstrURL));
  line("EncodedBy", QStringFromBstr(v2.bstrEncodedBy));
  line("Track", QString::number(v2.ulTrack));
}

}  // namespace

}  // namespace lb

namespace {

int RunExtract(const QStringList& args, QTextStream& out, QTextStream& err) {
  QString className;
  QStringList positional;
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& arg = args[i];
    if (arg == QLatin1String("--class")) {
      if (++i >= args.size()) {
        err << "extract: --class needs a CLSID or a ProgID\n";
        return 2;
      }
      className = args[i];
    } else if (arg.startsWith(QLatin1String("--class="))) {
      className = arg.mid(8);
    } else {
      positional << arg;
    }
  }
  if (positional.isEmpty()) {
    err << "usage: extract FOLDER [SONG...] [--class CLSID|ProgID]\n";
    return 2;
  }

  int exitCode = 0;
  {
    QStringList failures;
    std::vector<lb::TExtracterHandle> extracters = lb::CreateCategoryExtracters(&failures);
    for (const QString& failure : failures) err << "extract: " << failure << "\n";

    out << "Extracters:\n";
    for (size_t i = 0; i < extracters.size(); ++i) {
      const lb::TExtracterHandle& h = extracters[i];
      out << "  " << (i + 1) << ". " << h.author << ", " << lb::VersionText(h.version) << ", "
          << h.description << " (" << lb::ExtracterName(h) << ")\n";
    }
    if (extracters.empty()) out << "  none\n";

    const QString folder = lb::FolderArgument(positional.first());
    out << "Folder: " << folder << "\n";
    const lb::TExtracterHandle* answering = nullptr;
    lb::TExtracterHandle named;
    if (!className.isEmpty()) {
      CLSID clsid;
      if (!lb::ClassFromName(className, &clsid)) {
        err << "extract: unknown class " << className << "\n";
        return 2;
      }
      HRESULT hr = lb::CreateExtracter(clsid, &named);
      if (FAILED(hr)) {
        err << "extract: " << className << " cannot be created (" << lb::HResultText(hr) << ")\n";
        return 2;
      }
      LONG mask = 0;
      std::u16string path = folder.toStdU16String();
      bool recognised = named.extracter->Recognize(path.data(), &mask) == S_OK;
      out << "  " << lb::ExtracterName(named) << ": "
          << (recognised ? "recognised" : "not recognised") << "\n";
      if (recognised) answering = &named;
    } else {
      for (size_t i = 0; i < extracters.size(); ++i) {
        LONG mask = 0;
        std::u16string path = folder.toStdU16String();
        bool recognised = extracters[i].extracter->Recognize(path.data(), &mask) == S_OK;
        out << "  " << (i + 1) << ". " << (recognised ? "recognised" : "not recognised") << "\n";
        if (recognised && !answering) answering = &extracters[i];
      }
    }
    if (!answering) exitCode = 1;

    for (qsizetype s = 1; s < positional.size(); ++s) {
      const QString song = QFileInfo(positional[s]).absoluteFilePath();
      out << "Song: " << song << "\n";
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
        out << "  by " << lb::ExtracterName(*answering) << "\n";
        lb::PrintRecords(out, v1, v2);
      } else {
        out << "  no information\n";
        if (FAILED(hr)) {
          QString why = lb::TakeErrorDescription();
          err << "extract: " << song << ": failed (" << lb::HResultText(hr) << ")"
              << (why.isEmpty() ? QString() : QStringLiteral(": ") + why) << "\n";
        }
      }
      lb::FreeTagID3v2(v2);
    }
  }
  return exitCode;
}

}  // namespace

int RunExtractCommand(const QStringList& args, QTextStream& out, QTextStream& err) {
  // Every extracter is released inside RunExtract, before the layer may unload servers.
  CoInitialize(nullptr);
  int exitCode = RunExtract(args, out, err);
  CoUninitialize();
  return exitCode;
}
