#include "Recognizer.h"

#include "extracter/contract/ExtracterRecords.h"
#include "lbtools3/model/M3uList.h"
#include "platform/IniFile.h"
#include "platform/UiServices.h"

#include <QDir>
#include <QFileInfo>
#include <cstring>
#include <mutex>

namespace lb {

namespace {

void ShowError(const char* text, unsigned icon) {
  UiServices::Instance().MessageBox(QString::fromUtf8(text), UiServices::kCaption, MB_OK | icon);
}

// The record pair filled from the song's current tags; the ID3v2 BSTRs are freed when
// the pair goes.
struct TSongRecords {
  LBSongTagID3v1 v1;
  LBSongTagID3v2 v2;

  explicit TSongRecords(const TSlSong& song) {
    InitTagRecords(v1, v2);
    const TSlTag1& t1 = song.m_Tag1;
    std::memcpy(v1.szTitle, t1.Title, kID3v1TextWidth);
    std::memcpy(v1.szArtist, t1.Artist, kID3v1TextWidth);
    std::memcpy(v1.szAlbum, t1.Album, kID3v1TextWidth);
    std::memcpy(v1.szComment, t1.Comment, kID3v1TextWidth);
    std::memcpy(v1.szYear, t1.Year, kYearWidth);
    v1.ucGenre = t1.Genre;
    const TSlTag2& t2 = song.m_Tag2;
    v2.bstrTitle = BstrFromQString(t2.Title);
    v2.bstrArtist = BstrFromQString(t2.Artist);
    v2.bstrAlbum = BstrFromQString(t2.Album);
    v2.bstrComment = BstrFromQString(t2.Comment);
    v2.bstrComposer = BstrFromQString(t2.Composer);
    v2.bstrOrigArtist = BstrFromQString(t2.OrigArt);
    v2.bstrCopyright = BstrFromQString(t2.Copyright);
    v2.bstrURL = BstrFromQString(t2.URL);
    v2.bstrEncodedBy = BstrFromQString(t2.EncodedBy);
    SetFixedText(v2.szYear, kYearWidth, t2.Year.left(kYearWidth));
    v2.ulGenre = static_cast<ULONG>(t2.Genre);
  }
  ~TSongRecords() { FreeTagID3v2(v2); }
  TSongRecords(const TSongRecords&) = delete;
  TSongRecords& operator=(const TSongRecords&) = delete;
};

}  // namespace

ComPtr<ICatInformation> TRecognizer::CategoriesManager() {
  ComPtr<ICatInformation> manager;
  if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_ALL,
                              IID_ICatInformation, manager.PutVoid())))
    manager.Reset();
  return manager;
}

void TRecognizer::LoadExtracters(ICatInformation* manager, QStringList* failures) {
  m_Rows.clear();
  if (!manager) {
    ShowError(kNoManager, MB_ICONERROR);
    return;
  }
  QList<CLSID> classes;
  CATID category = CATID_LBExtracter;
  ComPtr<IEnumGUID> found;
  if (SUCCEEDED(manager->EnumClassesOfCategories(1, &category, 0, nullptr, found.Put())) && found) {
    GUID clsid;
    ULONG fetched = 0;
    while (found->Next(1, &clsid, &fetched) == S_OK && fetched == 1) classes.append(clsid);
  }
  for (TExtracterHandle& h : CreateExtracters(classes, failures)) {
    TRow row;
    row.extracter = std::move(h);
    m_Rows.push_back(std::move(row));
  }
}

QString TRecognizer::LastDirectory(TIniFile& ini) {
  return ini.ReadString(kSection, kLastDirectory, QDir::homePath() + QLatin1Char('/'));
}

void TRecognizer::SetLastDirectory(TIniFile& ini, const QString& text) {
  ini.WriteString(kSection, kLastDirectory, text);
}

QString TRecognizer::FolderArgument(const QString& typed) {
  if (!typed.isEmpty() && !typed.endsWith(QLatin1Char('/')) && QFileInfo(typed).isDir())
    return typed + QLatin1Char('/');
  return typed;
}

bool TRecognizer::Recognize(const QString& typed, bool bSilent) {
  std::u16string folder = FolderArgument(typed).toStdU16String();
  bool bErrors = false;
  {
    TBusyCursor busy;
    for (TRow& row : m_Rows) {
      LONG mask = 0;
      HRESULT hr = row.extracter.extracter->Recognize(folder.data(), &mask);
      if (hr == S_OK)
        row.bMarked = true;
      else if (SUCCEEDED(hr))
        row.bMarked = false;
      else
        bErrors = true;
    }
  }
  if (bErrors && !bSilent) ShowError(kErrors, MB_ICONWARNING);
  return !bErrors;
}

bool TRecognizer::CanExtract(int row) const {
  return row >= 0 && row < static_cast<int>(m_Rows.size()) && m_Rows[row].bMarked;
}

TRecognizer::TOutcome TRecognizer::Extract(int row, TSlDocument& document,
                                           IRecognizerSelection& selection,
                                           TSlInfoWindowManager::ExtraControl control,
                                           bool bSilent) {
  TOutcome outcome;
  if (!CanExtract(row)) return outcome;
  ISLLBExtracter* extracter = m_Rows[row].extracter.extracter.Get();
  const int selected = selection.SelectedCount();
  TSlInfoWindowManager& progress = InfoWindowManager();
  progress.Open(kAction, document.m_FileName, true, std::move(control));
  for (int n = 0; n < document.m_Songs.size() && outcome.asked < selected; ++n) {
    if (!selection.IsSelected(n)) continue;
    TSlSong& song = document.m_Songs[n];
    HRESULT hr;
    {
      // The synchronisation pass must not refresh the records between the question
      // and the answer being written.
      std::lock_guard<std::recursive_mutex> lock(song.cs);
      // The fields the extracter leaves alone keep what the file holds now: a list
      // without a data file has never read its songs, and a file retagged since the
      // last synchronisation holds newer values than the records.
      song.Sync();
      TSongRecords records(song);
      std::u16string path = song.GetPath(true).toStdU16String();
      LONG mask = static_cast<LONG>(kAllFieldsMask);
      hr = extracter->GetSongInfo(path.data(), &records.v1, &records.v2, &mask);
      if (hr == S_OK) WriteAnswer(song, records.v1, records.v2);
    }
    if (FAILED(hr)) {
      outcome.bErrors = true;
    } else if (hr == S_OK) {
      ++outcome.answered;
      selection.SongAnswered(n);
    }
    ++outcome.asked;
    progress.SetProgress(outcome.asked * 100 / selected);
    if (progress.ProcessAndCheckStop()) {
      outcome.bStopped = true;
      break;
    }
  }
  progress.Close();
  if (outcome.bErrors && !bSilent) ShowError(kErrors, MB_ICONWARNING);
  return outcome;
}

void WriteAnswer(TSlSong& song, const LBSongTagID3v1& v1, const LBSongTagID3v2& v2) {
  TSlTag1& t1 = song.m_Tag1;
  // A file of a format without ID3v1 gets only its main record: an ID3v1 record in the
  // list would stand for a tag the file can never have.
  if (CarriesTag1(song.GetPath(true))) {
    t1.SetTitle(FixedText(v1.szTitle, kID3v1TextWidth), true);
    t1.SetArtist(FixedText(v1.szArtist, kID3v1TextWidth), true);
    t1.SetAlbum(FixedText(v1.szAlbum, kID3v1TextWidth), true);
    t1.SetComment(FixedText(v1.szComment, kID3v1TextWidth), true);
    try {
      t1.SetYear(FixedText(v1.szYear, kYearWidth));
    } catch (const TSlConvertError&) {
      // Not a number: the year stays as it was.
    }
    t1.SetGenre(v1.ucGenre);
  }
  TSlTag2& t2 = song.m_Tag2;
  t2.SetTitle(QStringFromBstr(v2.bstrTitle));
  t2.SetArtist(QStringFromBstr(v2.bstrArtist));
  t2.SetAlbum(QStringFromBstr(v2.bstrAlbum));
  t2.SetComment(QStringFromBstr(v2.bstrComment));
  t2.SetYear(FixedText(v2.szYear, kYearWidth));
  t2.SetGenre(static_cast<int32_t>(v2.ulGenre));
  t2.SetComposer(QStringFromBstr(v2.bstrComposer));
  t2.SetURL(QStringFromBstr(v2.bstrURL));
  t2.SetEncodedBy(QStringFromBstr(v2.bstrEncodedBy));
  t2.SetCopyright(QStringFromBstr(v2.bstrCopyright));
  t2.SetOrigArt(QStringFromBstr(v2.bstrOrigArtist));
  t1.SetSync(false);
  t2.SetSync(false);
}

}  // namespace lb
