// Filling the tags of a list's selected songs from a music disc: the registered
// extracters, which of them recognise the disc's folder, and the answers of the chosen
// one written into the songs' tag records. Used by the recognizer dialog and the
// command-line tool.
#pragma once

#include "extracter/client/Extracters.h"
#include "com/Categories.h"
#include "lbtools3/model/InfoWindowManager.h"

#include <QString>
#include <vector>

class TIniFile;
class TSlDocument;
class TSlSong;

namespace lb {

// The rows of the list the extraction works on.
class IRecognizerSelection {
 public:
  virtual ~IRecognizerSelection() = default;
  virtual int SelectedCount() = 0;
  virtual bool IsSelected(int n) = 0;
  // The song got its answer: its row is deselected and repainted.
  virtual void SongAnswered(int n) = 0;
};

class TRecognizer {
 public:
  static constexpr const char* kNoExtracters =
      "Ни один из источников распознавания не зарегистрирован";
  static constexpr const char* kNoManager = "Не удаётся обратиться к менеджеру категорий";
  static constexpr const char* kErrors =
      "Во время выполнения процедуры в одном или нескольких\nмодулях произошли ошибки";
  static constexpr const char* kAction = "Получение информации";
  static constexpr const char* kSection = "LBExtracter";
  static constexpr const char* kLastDirectory = "Last Directory";

  struct TRow {
    TExtracterHandle extracter;
    bool bMarked = false;  // the last Recognize answered S_OK
  };

  // The system's categories manager; null when it cannot be created.
  static ComPtr<ICatInformation> CategoriesManager();
  // One row per extracter class the manager lists that can be created, in its order.
  // Without a manager the user is told and the list stays empty. Creation failures
  // are described in failures.
  void LoadExtracters(ICatInformation* manager, QStringList* failures = nullptr);
  std::vector<TRow>& Rows() { return m_Rows; }
  const std::vector<TRow>& Rows() const { return m_Rows; }

  // The folder remembered in the settings (the home folder at first).
  static QString LastDirectory(TIniFile& ini);
  static void SetLastDirectory(TIniFile& ini, const QString& text);
  // The typed folder as the extracters get it: an existing folder ends with a
  // separator; anything else stays as typed.
  static QString FolderArgument(const QString& typed);

  // Asks every row about the folder (as typed) and sets the marks; a row whose call
  // fails keeps its mark. False when some call failed (the warning is shown unless
  // bSilent).
  bool Recognize(const QString& typed, bool bSilent = false);
  // Whether the row may be used for the extraction.
  bool CanExtract(int row) const;

  struct TOutcome {
    int answered = 0;
    int asked = 0;
    bool bErrors = false;
    bool bStopped = false;
  };
  // Asks the row's extracter about every selected song of the document in list order,
  // with the progress window open, and writes each S_OK answer into the song. The
  // warning is shown at the end when a call failed (unless bSilent).
  // control is disabled while the progress window is open.
  TOutcome Extract(int row, TSlDocument& document, IRecognizerSelection& selection,
                   TSlInfoWindowManager::ExtraControl control = {}, bool bSilent = false);

 private:
  std::vector<TRow> m_Rows;
};

// Writes an extracter's answer into the song's tag records through the setters (the
// ID3v1 year only when it is blank or a number) and stops both records following the
// file. The caller holds the song's lock.
void WriteAnswer(TSlSong& song, const LBSongTagID3v1& v1, const LBSongTagID3v2& v2);

}  // namespace lb
