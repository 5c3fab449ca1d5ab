// Carrying out the tags editor's request on the songs of a document: the single-song
// apply, the batch apply over the selected rows under a progress window with Stop, and
// the undo of the last apply. Every song is worked on under its own lock; the user is
// asked and told through the UiServices seam.
#pragma once

#include "TagsEdit.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QTemporaryDir;
namespace lb {
struct TNotPlaced;
}

class TSlDocument;
class TSlSong;

namespace lbtags {

class TSongWorker;

inline constexpr const char* kYear1Error = "Год у тэга ID3v1 введён неправильно";
inline constexpr const char* kTrackError = "Номер дорожки у тэга ID3v2 введён неправильно";
inline constexpr const char* kYear2Error = "Год у тэга ID3v2 введён неправильно";
inline constexpr const char* kWrite1Error = "Во время записи тэга ID3v1 произошла ошибка";
inline constexpr const char* kRemove1Error = "Во время удаления тэга ID3v1 произошла ошибка";
inline constexpr const char* kWrite2Error = "Во время записи тэга ID3v2 произошла ошибка";
inline constexpr const char* kRemove2Error = "Во время удаления тэга ID3v2 произошла ошибка";
inline constexpr const char* kSkipQuestion = ". Пропустить этот файл и продолжить ?";
inline constexpr const char* kRemove1Question =
    "Тэг ID3v1 в выбранных песнях будет удалён. Продолжить ?";
inline constexpr const char* kRemove2Question =
    "Тэг ID3v2 в выбранных песнях будет удалён. Продолжить ?";
inline constexpr const char* kRemoveBothQuestion =
    "Тэги в выбранных песнях будут удалёны. Продолжить ?";
inline constexpr const char* kStopped =
    "Прервано пользователем. Последняя обработанная песня номер ";
inline constexpr const char* kLossyQuestion =
    "Символы, которых нет в кодовой странице тэга ID3v1, будут записаны как \"?\". "
    "Таких песен: %1. Продолжить ?";
inline constexpr const char* kSkippedNoV2 =
    "Песни без тэга ID3v2 пропущены (копировать в ID3v1 было нечего): %1.";
inline constexpr const char* kSkippedNoV1 =
    "Песни без тэга ID3v1 пропущены (копировать в ID3v2 было нечего): %1.";
inline constexpr const char* kStreamNoTags = "\"%1\" — адрес потока, а не файл: тэгов у него нет.";
inline constexpr const char* kSkippedStreams =
    "Адреса потоков пропущены (это не файлы, тэгов у них нет): %1.";
inline constexpr const char* kFlushError =
    "Записанные тэги не удалось сохранить на диске: %1. При сбое питания изменения могут "
    "пропасть; проверьте диск.";
inline constexpr const char* kChangedMeanwhile =
    "Файл изменён другой программой во время записи, новые тэги в него не записаны: %1.";
inline constexpr const char* kNotPlacedError = "Не удалось записать тэги в файл \"%1\": %2.";
inline constexpr const char* kCoverSummary =
    "Обложки: поставлено %1, оставлено как было %2, пропущено %3.";
inline constexpr const char* kNoFolderPicture = "В папке песни нет картинки";
inline constexpr const char* kApplyAction = "Редактирование тэгов в листе";
inline constexpr const char* kUndoAction = "Отмена изменения тэгов";
inline constexpr const char* kUndoText = "Отменить изменение тэгов";

// The values an apply changed, song by song: enough to write them back while the songs
// stay as the apply left them.
class TTagsUndo {
 public:
  struct Entry {
    TSlSong* song;
    QString path;
    TTagValues before, after;
    // What the apply's write replaced in the main tag beyond the texts (several values of
    // a field, an MP3 frame's text encoding), for the undo to put back as it was.
    QByteArray replaced2;
    bool bCover = false;  // the apply changed the cover: the old one is kept in coverFile
    QString coverFile;    // empty: the song had no cover
    TCoverDetails coverDetails = {};  // how the file held the old cover
    // The cover the apply wrote (size and hash; 0 bytes: none) and the file's age when
    // it was last seen holding it: a cover changed since by another program is not
    // overwritten.
    qint64 coverSize = 0;
    size_t coverHash = 0;
    mutable int32_t coverAge = -1;
  };
  // replaced2: what the apply's write of the main tag replaced (TSlTag2::SaveTag);
  // oldCover: the cover the song had, and newCover the one written, when the apply
  // changed it.
  void Add(TSlSong& song, const TTagValues& before, const QByteArray& replaced2,
           const TCover* oldCover = nullptr, const QByteArray& newCover = QByteArray());
  // Forgets the song's entries: its file kept its old content after all.
  void Forget(const TSlSong* song);
  bool Empty() const { return m_Entries.empty(); }
  int Count() const { return static_cast<int>(m_Entries.size()); }
  // Whether every changed song is still in the document, under the same path, with
  // the values the apply left (false too while one of them is being written). Looks at
  // the document alone: the menu asks it several times a second.
  bool Available(const TSlDocument& document) const;
  // Whether the changed songs' files are as the apply and the last synchronisation left
  // them and still hold the covers the apply wrote: looks at what another program may
  // have changed, once, when the user asks for the undo.
  bool FilesUnchanged() const;
  // Writes the old values back under a progress window of its own (Stop ends it; the
  // songs done so far stay restored). A song whose file another program changed before
  // its restored content took its place is read again and stays to be undone. redraw(n)
  // repaints row n. True when every song was restored.
  bool Run(TSlDocument& document, const std::function<void(int)>& redraw);

 private:
  std::vector<Entry> m_Entries;
  // The old covers wait on disk, not in memory: a batch may change thousands.
  std::shared_ptr<QTemporaryDir> m_CoverDir;
};

// What an apply did with one song's cover.
enum class TCoverOutcome { None, Set, Removed, Kept, Skipped };
// Carries out the cover part of a request on one song (under its lock). *old gets the
// cover the song had when it was changed and *written the picture written (empty for a
// removal); *note tells why a song was skipped, *error a failure to read or write its
// file.
TCoverOutcome ApplyCoverTo(TSlSong& song, const TCoverRequest& request, TCover* old,
                           QByteArray* written, QString* note, QString* error);

// Commits a song's pending file age as a synchronisation does at its end.
void CommitPendingAge(TSlSong& song);

// Single mode: applies the request (ticked masters write every field, unticked remove
// the tag) to one song. False only for an invalid year or track (after its message);
// write failures are reported and the apply goes on. A stream's address is told it has
// no tags and left as it is.
bool ApplySingle(TSlSong& song, const TTagsEditRequest& request, TTagsUndo* undo);

// Batch mode over the rows (ascending indices of the document's songs).
class TTagsBatchApply {
 public:
  TTagsBatchApply(TSlDocument& document, std::vector<int> rows, const TTagsEditRequest& request);

  // Asks the removal question the masters call for, and whether ID3v1 texts may lose
  // the characters its code page lacks; false when the user said No.
  bool Confirm() const;
  // The songs whose ID3v1 tag the run would give characters its code page lacks.
  int CountLossy1() const;
  // Runs over the rows under the progress window; false only when refused by Confirm
  // (when bConfirm). redraw(n) repaints row n; changed(n) reports a song written.
  bool Run(bool bConfirm = true);

  std::function<void(int)> redraw;
  std::function<void(int)> changed;
  // Reports what was done with a song's cover (with why it was skipped).
  std::function<void(int, TCoverOutcome, const QString&)> coverDone;
  // The values the run changed (empty when nothing was changed).
  std::unique_ptr<TTagsUndo> undo = std::make_unique<TTagsUndo>();
  bool Stopped() const { return m_bStopped; }
  bool Ended() const { return m_bEnded; }  // the user said No to a skip question
  int Processed() const { return m_Processed; }
  // Songs left alone because the tag a copy takes its fields from does not exist.
  int Skipped() const { return m_Skipped; }
  // The written tags could not be flushed to the disk at the end, or a file's new
  // content could not take its place (the user was told).
  bool FlushFailed() const { return m_bFlushFailed; }
  // Songs whose cover was set (or removed), kept as it was, and skipped.
  int CoversSet() const { return m_CoversSet; }
  int CoversKept() const { return m_CoversKept; }
  int CoversSkipped() const { return m_CoversSkipped; }
  // Songs whose cover could not be read or written.
  int CoverFailures() const { return m_CoverFailures; }

 private:
  // The file work of one song (on the worker thread): true when its records changed;
  // error names a failure, reason what the file said.
  bool ApplyTo(int row, QString& error, QString& reason);
  // The texts the record gets, or an error text when a value is invalid.
  QString Prepare1(const TSlSong& song, std::array<QString, f1Count>& values) const;
  QString Prepare2(const TSlSong& song, std::array<QString, f2Count>& values) const;
  // Whether a copy's source tag is missing from the song (its target is then skipped).
  bool Skips1(const TSlSong& song) const;
  bool Skips2(const TSlSong& song) const;
  bool AskSkip(const QString& error, const QString& reason) const;
  // Counts and reports the cover outcome of the song just done; the report waits for
  // the batch's end while the song's new content waits to take its file's place.
  void CountCover(int row);
  // Takes the songs whose files kept their old content (their new content could not
  // take its place at the batch's end) out of the counts, the reports and the undo, and
  // reads their records again; then gives the reports that waited.
  void SettleNotPlaced(const std::vector<lb::TNotPlaced>& notPlaced, TSongWorker& worker);

  TSlDocument& m_Document;
  std::vector<int> m_Rows;
  TTagsEditRequest m_Request;
  bool m_bStopped = false;
  bool m_bEnded = false;
  int m_Processed = 0;
  int m_Skipped = 0;
  int m_StreamsSkipped = 0;  // rows of streams' addresses: they have no file
  bool m_bFlushFailed = false;
  int m_CoversSet = 0, m_CoversKept = 0, m_CoversSkipped = 0, m_CoverFailures = 0;
  TCoverOutcome m_CoverOutcome = TCoverOutcome::None;  // of the song being done
  QString m_CoverNote;
  struct THeldReport {
    int row;
    TCoverOutcome outcome;
    QString note;
  };
  std::vector<THeldReport> m_HeldReports;
};

}  // namespace lbtags
