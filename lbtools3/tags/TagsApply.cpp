#include "TagsApply.h"

#include "com/Com.h"
#include "lbtools3/model/ID3ComAccess.h"
#include "lbtools3/model/M3uList.h"
#include "lbtools3/model/SongSet.h"
#include "lbtools3/model/InfoWindowManager.h"
#include "platform/FileSystem.h"
#include "platform/Genres.h"
#include "platform/Pace.h"
#include "platform/SystemError.h"
#include "platform/UiServices.h"
#include "platform/WriteBatch.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace lbtags {

namespace {

int Message(const QString& text, unsigned flags) {
  return UiServices::Instance().MessageBox(text, UiServices::kCaption, flags);
}

void ShowError(const char* text) {
  Message(QString::fromUtf8(text), MB_OK | MB_ICONERROR);
}

// A failed write or removal with what the file said about it.
void ShowTagError(const char* text, const TSlTag& tag) {
  const QString reason = tag.LastErrorText();
  Message(QString::fromUtf8(text) + (reason.isEmpty() ? QString() : "\n\n" + reason),
          MB_OK | MB_ICONERROR);
}

QString StopText(int row, const QString& path) {
  return QString::fromUtf8(kStopped) + QString::number(row + 1) + " :\n" + path;
}

// Puts only one version's old values back into the song's records.
void RestoreTag1(TSlSong& song, const TTagValues& from) {
  TTagValues now = TTagValues::Of(song);
  now.bExists1 = from.bExists1;
  now.body1 = from.body1;
  now.AssignTo(song);
}

void RestoreTag2(TSlSong& song, const TTagValues& from) {
  TTagValues now = from;
  const TTagValues current = TTagValues::Of(song);
  now.bExists1 = current.bExists1;
  now.body1 = current.body1;
  now.AssignTo(song);
}

// Runs a setter that throws on a text that is not a number; false instead.
template <typename F>
bool Converted(F setter) {
  try {
    setter();
    return true;
  } catch (const TSlConvertError&) {
    return false;
  }
}

// The progress of a run: processed songs against the whole count.
void ShowProgress(int processed, int count) {
  InfoWindowManager().SetProgress(count > 0 ? processed * 100 / count : 100);
}

// When the main thread lets the windows react (processes pending messages): never more
// than 10 ms after it last did, whether it goes from song to song or waits for the
// worker, so that the window's longest still stretch is bounded by time, not by how many
// songs pass or how long one takes. The progress window shows the song at hand at these
// turns rather than once a song: a tag written in place takes far less than a
// millisecond and painting its name would take longer.
class TMessagePace : public lb::TPace {
 public:
  TMessagePace() : TPace(10) {}
  void Turn() {
    UiServices::Instance().ProcessMessages();
    Turned();
  }
};

}  // namespace

// Does the file work of one song at a time on a thread of its own while the main
// thread keeps processing pending messages at pace's times, so that a slow disk never
// freezes the window. Without tag access of its own the work runs on the calling thread.
class TSongWorker {
 public:
  explicit TSongWorker(TMessagePace& pace) : m_Pace(pace) {
    if (!lb::ID3COMThread()) return;
    m_Thread = std::thread([this] { Loop(); });
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_Cond.wait(lock, [this] { return m_bStarted; });
  }
  ~TSongWorker() {
    if (!m_Thread.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_bQuit = true;
    }
    m_Cond.notify_all();
    m_Thread.join();
  }
  TSongWorker(const TSongWorker&) = delete;
  TSongWorker& operator=(const TSongWorker&) = delete;

  void Run(const std::function<void()>& job) {
    if (!m_bAttached) {
      job();
      return;
    }
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_Job = job;
    }
    m_Cond.notify_all();
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(m_Mutex);
        if (m_Cond.wait_for(lock, std::chrono::milliseconds(m_Pace.LeftMs()),
                            [this] { return !m_Job; }))
          return;
      }
      m_Pace.Turn();
    }
  }

 private:
  void Loop() {
    CoInitialize(nullptr);
    const bool attached = SUCCEEDED(lb::AttachThreadToID3Com());
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_bAttached = attached;
      m_bStarted = true;
    }
    m_Cond.notify_all();
    std::unique_lock<std::mutex> lock(m_Mutex);
    while (attached) {
      m_Cond.wait(lock, [this] { return m_bQuit || m_Job; });
      if (m_bQuit) break;
      lock.unlock();
      m_Job();
      lock.lock();
      m_Job = nullptr;
      m_Cond.notify_all();
    }
    lock.unlock();
    lb::DetachThreadFromID3Com();
    CoUninitialize();
  }

  TMessagePace& m_Pace;
  std::thread m_Thread;
  std::mutex m_Mutex;
  std::condition_variable m_Cond;
  std::function<void()> m_Job;
  bool m_bStarted = false, m_bAttached = false, m_bQuit = false;
};

namespace {

// Why a file's new content could not take its place: another program changed the file
// meanwhile, or the system refused.
QString NotPlacedText(const lb::TNotPlaced& f) {
  if (f.error == ESTALE) return QString::fromUtf8(kChangedMeanwhile).arg(f.path);
  return QString::fromUtf8(kNotPlacedError).arg(f.path, lb::SystemErrorText(f.error));
}

// Ends the batch of writes on the worker (the window keeps painting while the disk
// takes the flush); false after telling the user when a file's new content could not
// take its place (*notPlaced names them; one message names the first of them) or the
// flush failed.
bool FinishWrites(lb::TWriteBatch& writes, TSongWorker& worker,
                  std::vector<lb::TNotPlaced>* notPlaced = nullptr) {
  bool flushed = true;
  worker.Run([&] { flushed = writes.Finish(); });
  const std::vector<lb::TNotPlaced>& dropped = writes.NotPlaced();
  if (!dropped.empty()) {
    constexpr size_t kNamed = 10;
    QStringList texts;
    for (size_t n = 0; n < dropped.size() && n < kNamed; ++n) texts << NotPlacedText(dropped[n]);
    if (dropped.size() > kNamed) texts << QString("... и ещё %1").arg(dropped.size() - kNamed);
    Message(texts.join('\n'), MB_OK | MB_ICONERROR);
  }
  if (!writes.FlushError().isEmpty())
    Message(QString::fromUtf8(kFlushError).arg(writes.FlushError()), MB_OK | MB_ICONERROR);
  if (notPlaced) *notPlaced = dropped;
  return flushed;
}

// Reads the song's records again: its file kept its old content after all (its new
// content could not take its place), and the row shows what the file holds.
void ReadAgain(TSlSong& song, TSongWorker& worker) {
  worker.Run([&] {
    std::lock_guard<std::recursive_mutex> lock(song.cs);
    song.m_bNewFileAge = true;
    song.m_NewFileAge = kAgeSyncAgain;
    song.Sync();
  });
}

}  // namespace

TCoverOutcome ApplyCoverTo(TSlSong& song, const TCoverRequest& r, TCover* old, QByteArray* written,
                           QString* note, QString* error) {
  if (r.kind == TCoverRequest::Keep) return TCoverOutcome::None;
  std::lock_guard<std::recursive_mutex> lock(song.cs);
  const QString path = song.GetPath(true);
  const lb::TSongFile file = lb::SongFileOf(path);
  if (file == lb::TSongFile::Stream) {
    *note = QString::fromUtf8(lb::kStreamSkipped);
    return TCoverOutcome::Skipped;
  }
  QByteArray data = r.data;
  if (r.kind == TCoverRequest::FromFolder) {
    const QString picture = FolderPictureOf(path);
    if (picture.isEmpty()) {
      *note = QString::fromUtf8(kNoFolderPicture);
      return TCoverOutcome::Skipped;
    }
    if (!LoadCoverImage(picture, &data, note)) return TCoverOutcome::Skipped;
  } else if (r.kind == TCoverRequest::Remove) {
    data.clear();
  }
  if (file == lb::TSongFile::Missing) {
    *note = QString("Файл \"%1\" отсутствует.").arg(path);
    return TCoverOutcome::Skipped;
  }
  if (!ReadCover(path, old)) {
    *error = QString::fromUtf8(kCoverReadError).arg(path);
    return TCoverOutcome::Skipped;
  }
  // Nothing to write: the song has this very picture already, or no cover to remove.
  // What the change replaces is the cover alone: a back cover shown for want of one
  // stays, so the undo has no picture to put back.
  if (!old->bCover) *old = TCover{};
  if (old->data == data) return TCoverOutcome::Kept;
  *error = WriteSongCover(song, data);
  if (!error->isEmpty()) return TCoverOutcome::Skipped;
  *written = data;
  return data.isEmpty() ? TCoverOutcome::Removed : TCoverOutcome::Set;
}

void CommitPendingAge(TSlSong& song) {
  std::lock_guard<std::recursive_mutex> lock(song.cs);
  if (!song.m_bNewFileAge) return;
  if (song.m_NewFileAge == kAgeSyncAgain) {
    // A failed write: the synchronisation reads the file again next time.
    song.Sync();
    return;
  }
  song.m_FileAge = song.m_NewFileAge;
  song.m_bNewFileAge = false;
  song.MarkModified();
}

// ---------------------------------------------------------------------------------
// Single mode

bool ApplySingle(TSlSong& song, const TTagsEditRequest& r, TTagsUndo* undo) {
  std::unique_lock<std::recursive_mutex> lock(song.cs);
  if (song.IsStream()) {
    const QString text = QString::fromUtf8(kStreamNoTags).arg(song.m_Path);
    lock.unlock();
    Message(text, MB_OK | MB_ICONINFORMATION);
    return true;
  }
  const TTagValues before = TTagValues::Of(song);
  TCover oldCover;
  QByteArray newCover, replaced2;
  bool bCoverChanged = false;
  auto finish = [&](bool result) {
    CommitPendingAge(song);
    if (undo && (bCoverChanged || !(TTagValues::Of(song) == before)))
      undo->Add(song, before, replaced2, bCoverChanged ? &oldCover : nullptr, newCover);
    return result;
  };

  TSlTag1& t1 = song.m_Tag1;
  // A file of a format without ID3v1 (FLAC, Opus, M4A, ...) has only its main tag.
  const TMaster master1 = lb::CarriesTag1(song.GetPath(true)) ? r.master1 : TMaster::Untouched;
  if (master1 == TMaster::Ticked) {
    if (!ValidYear1(r.value1[f1Year]) || !Converted([&] { t1.SetYear(r.value1[f1Year]); })) {
      lock.unlock();
      ShowError(kYear1Error);
      return finish(false);
    }
    t1.SetTitle(r.value1[f1Title], true);
    t1.SetArtist(r.value1[f1Artist], true);
    t1.SetAlbum(r.value1[f1Album], true);
    t1.SetComment(r.value1[f1Comment], true);
    t1.SetGenre(GenreFor1(r.value1[f1Genre].toInt()));
    if (!t1.SaveTag(true)) ShowTagError(kWrite1Error, t1);
  } else if (master1 == TMaster::Unticked && t1.m_bExists) {
    if (!t1.RemoveTag(true)) ShowTagError(kRemove1Error, t1);
  }

  TSlTag2& t2 = song.m_Tag2;
  if (r.master2 == TMaster::Ticked) {
    const char* invalid = !ValidTrack(r.value2[f2Track])  ? kTrackError
                          : !ValidYear2(r.value2[f2Year]) ? kYear2Error
                                                          : nullptr;
    // The box shows no number for a song without one: emptied, it removes the number.
    const QString track = r.value2[f2Track].trimmed();
    if (!invalid && !Converted([&] { track.isEmpty() ? t2.SetTrack(0) : t2.SetTrack(track); }))
      invalid = kTrackError;
    if (invalid) {
      lock.unlock();
      ShowError(invalid);
      return finish(false);
    }
    t2.SetYear(r.value2[f2Year].trimmed());
    t2.SetTitle(r.value2[f2Title]);
    t2.SetArtist(r.value2[f2Artist]);
    t2.SetAlbum(r.value2[f2Album]);
    t2.SetGenreText(r.value2[f2Genre]);
    t2.SetComposer(r.value2[f2Composer]);
    t2.SetOrigArt(r.value2[f2OrigArt]);
    t2.SetURL(r.value2[f2URL]);
    t2.SetEncodedBy(r.value2[f2EncodedBy]);
    t2.SetCopyright(r.value2[f2Copyright]);
    t2.SetComment(r.value2[f2Comment]);
    bool ok;
    {
      TBusyCursor busy;
      ok = t2.SaveTag(true, QByteArray(), &replaced2);
    }
    if (!ok) ShowTagError(kWrite2Error, t2);
  } else if (r.master2 == TMaster::Unticked && t2.m_bExists) {
    bool ok;
    {
      TBusyCursor busy;
      ok = t2.RemoveTag(true);
    }
    if (!ok) ShowTagError(kRemove2Error, t2);
  }
  if (r.cover.kind != TCoverRequest::Keep) {
    CommitPendingAge(song);
    QString note, error;
    TCoverOutcome outcome;
    {
      TBusyCursor busy;
      outcome = ApplyCoverTo(song, r.cover, &oldCover, &newCover, &note, &error);
    }
    bCoverChanged = outcome == TCoverOutcome::Set || outcome == TCoverOutcome::Removed;
    if (!error.isEmpty() || !note.isEmpty()) {
      lock.unlock();
      Message(error.isEmpty() ? note : error, MB_OK | MB_ICONERROR);
      lock.lock();
    }
  }
  return finish(true);
}

// ---------------------------------------------------------------------------------
// Batch mode

TTagsBatchApply::TTagsBatchApply(TSlDocument& document, std::vector<int> rows,
                                 const TTagsEditRequest& request)
    : m_Document(document), m_Rows(std::move(rows)), m_Request(request) {
  // Title and artist of a version that takes them from the file name come from there
  // alone (or stay as they are when the name has no separator).
  if (m_Request.bExtract1) m_Request.change1[f1Title] = m_Request.change1[f1Artist] = false;
  if (m_Request.bExtract2) m_Request.change2[f2Title] = m_Request.change2[f2Artist] = false;
}

bool TTagsBatchApply::Confirm() const {
  const bool remove1 = m_Request.master1 == TMaster::Unticked;
  const bool remove2 = m_Request.master2 == TMaster::Unticked;
  const char* question = remove1 && remove2 ? kRemoveBothQuestion
                         : remove1          ? kRemove1Question
                         : remove2          ? kRemove2Question
                                            : nullptr;
  if (question && Message(QString::fromUtf8(question), MB_YESNO | MB_ICONQUESTION) != IDYES)
    return false;
  const int lossy = CountLossy1();
  return lossy == 0 ||
         Message(QString::fromUtf8(kLossyQuestion).arg(lossy), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

bool TTagsBatchApply::Skips1(const TSlSong& song) const {
  return m_Request.bV2ToV1 && !song.m_Tag2.m_bExists;
}

bool TTagsBatchApply::Skips2(const TSlSong& song) const {
  return m_Request.bV1ToV2 && !song.m_Tag1.m_bExists;
}

int TTagsBatchApply::CountLossy1() const {
  const TTagsEditRequest& r = m_Request;
  if (r.master1 != TMaster::Ticked && r.master1 != TMaster::Grey) return 0;
  int count = 0;
  std::lock_guard<std::recursive_mutex> docLock(m_Document.m_Lock);
  for (int row : m_Rows) {
    if (row < 0 || row >= m_Document.m_Songs.size()) continue;
    const TSlSong& song = m_Document.m_Songs[row];
    std::lock_guard<std::recursive_mutex> lock(song.cs);
    const bool write = r.master1 == TMaster::Ticked || song.m_Tag1.m_bExists;
    if (!write || Skips1(song) || !lb::CarriesTag1(song.GetPath(true))) continue;
    std::array<QString, f1Count> v;
    Prepare1(song, v);
    QStringList texts{v[f1Title], v[f1Artist], v[f1Album], v[f1Comment]};
    if (r.bExtract1) {
      const TNameParts parts = ExtractFromPath(song.GetPath(true), r.separator);
      if (parts.bFound || r.bWholeName) texts << parts.title << parts.artist;
    }
    for (const QString& text : texts) {
      if (LossyInTag1(text)) {
        ++count;
        break;
      }
    }
  }
  return count;
}

bool TTagsBatchApply::Run(bool bConfirm) {
  if (bConfirm && !Confirm()) return false;
  TInfoWindowLevel level(QString::fromUtf8(kApplyAction), m_Document.GetTitle(), true);
  TSlInfoWindowManager& progress = InfoWindowManager();
  // Tags written in place reach the disk once, at the end of the run.
  lb::TWriteBatch writes;
  TMessagePace pace;
  TSongWorker worker(pace);
  for (int row : m_Rows) {
    QString path;
    {
      std::lock_guard<std::recursive_mutex> lock(m_Document.m_Lock);
      if (row < 0 || row >= m_Document.m_Songs.size()) continue;
      path = m_Document.m_Songs[row].GetPath(true);
    }
    if (pace.Due()) {
      progress.SetObject(path);
      ShowProgress(m_Processed, int(m_Rows.size()));
      pace.Turn();
    }
    QString error, reason;
    bool bChanged = false;
    m_CoverOutcome = TCoverOutcome::None;
    m_CoverNote.clear();
    worker.Run([&] { bChanged = ApplyTo(row, error, reason); });
    ++m_Processed;
    if (bChanged && changed) changed(row);
    CountCover(row);
    if (redraw) redraw(row);
    if (!error.isEmpty() && !AskSkip(error, reason)) {
      m_bEnded = true;
      break;
    }
    if (progress.m_bStop) {
      m_bStopped = true;
      Message(StopText(row, path), MB_OK | MB_ICONWARNING);
      break;
    }
  }
  ShowProgress(m_Processed, int(m_Rows.size()));
  std::vector<lb::TNotPlaced> notPlaced;
  m_bFlushFailed = !FinishWrites(writes, worker, &notPlaced);
  SettleNotPlaced(notPlaced, worker);
  if (m_Skipped > 0)
    Message(QString::fromUtf8(m_Request.bV2ToV1 ? kSkippedNoV2 : kSkippedNoV1).arg(m_Skipped),
            MB_OK | MB_ICONINFORMATION);
  if (m_StreamsSkipped > 0)
    Message(QString::fromUtf8(kSkippedStreams).arg(m_StreamsSkipped), MB_OK | MB_ICONINFORMATION);
  if (m_Request.cover.kind != TCoverRequest::Keep)
    Message(
        QString::fromUtf8(kCoverSummary).arg(m_CoversSet).arg(m_CoversKept).arg(m_CoversSkipped),
        MB_OK | MB_ICONINFORMATION);
  return true;
}

void TTagsBatchApply::CountCover(int row) {
  switch (m_CoverOutcome) {
    case TCoverOutcome::None:
      return;
    case TCoverOutcome::Set:
    case TCoverOutcome::Removed:
      ++m_CoversSet;
      break;
    case TCoverOutcome::Kept:
      ++m_CoversKept;
      break;
    case TCoverOutcome::Skipped:
      ++m_CoversSkipped;
      break;
  }
  if (m_HeldReports.empty()) {
    QString path;
    {
      std::lock_guard<std::recursive_mutex> lock(m_Document.m_Lock);
      path = m_Document.m_Songs[row].GetPath(true);
    }
    if (lb::PendingCopyOf(path).isEmpty()) {
      if (coverDone) coverDone(row, m_CoverOutcome, m_CoverNote);
      return;
    }
  }
  m_HeldReports.push_back(THeldReport{row, m_CoverOutcome, m_CoverNote});
}

void TTagsBatchApply::SettleNotPlaced(const std::vector<lb::TNotPlaced>& notPlaced,
                                      TSongWorker& worker) {
  QHash<QString, const lb::TNotPlaced*> paths;
  for (const lb::TNotPlaced& f : notPlaced) paths.insert(f.path, &f);
  QHash<int, const lb::TNotPlaced*> notWritten;
  for (int row : m_Rows) {
    if (paths.isEmpty()) break;
    TSlSong* song = nullptr;
    {
      std::lock_guard<std::recursive_mutex> lock(m_Document.m_Lock);
      if (row < 0 || row >= m_Document.m_Songs.size()) continue;
      song = &m_Document.m_Songs[row];
    }
    const QString path = QFileInfo(song->GetPath(true)).canonicalFilePath();
    if (!paths.contains(path)) continue;
    notWritten.insert(row, paths.value(path));
    undo->Forget(song);
    // The records read the file as it is: the forgotten write leaves no trace.
    ReadAgain(*song, worker);
    if (changed) changed(row);
    if (redraw) redraw(row);
  }
  for (THeldReport& report : m_HeldReports) {
    if (notWritten.contains(report.row) &&
        (report.outcome == TCoverOutcome::Set || report.outcome == TCoverOutcome::Removed)) {
      --m_CoversSet;
      ++m_CoversSkipped;
      ++m_CoverFailures;
      report.outcome = TCoverOutcome::Skipped;
      report.note = NotPlacedText(*notWritten.value(report.row));
    }
    if (coverDone) coverDone(report.row, report.outcome, report.note);
  }
  m_HeldReports.clear();
}

bool TTagsBatchApply::AskSkip(const QString& error, const QString& reason) const {
  QString text = error + QString::fromUtf8(kSkipQuestion);
  if (!reason.isEmpty()) text += "\n\n" + reason;
  return Message(text, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

QString TTagsBatchApply::Prepare1(const TSlSong& song, std::array<QString, f1Count>& values) const {
  const TTagsEditRequest& r = m_Request;
  const TSlTag2& t2 = song.m_Tag2;
  for (int f = 0; f < f1Count; ++f) {
    if (!r.change1[f]) continue;
    if (!r.bV2ToV1) {
      values[f] = r.value1[f];
      continue;
    }
    switch (f) {
      case f1Title:
        values[f] = t2.Title.left(TSlTag1::kTextWidth);
        break;
      case f1Artist:
        values[f] = t2.Artist.left(TSlTag1::kTextWidth);
        break;
      case f1Album:
        values[f] = t2.Album.left(TSlTag1::kTextWidth);
        break;
      case f1Year:
        values[f] = t2.Year.left(TSlTag1::kYearWidth);
        break;
      case f1Comment:
        values[f] = CommentForTag1(t2.Comment);
        break;
      case f1Genre:
        values[f] = QString::number(GenreFor1(t2.Genre));
        break;
    }
  }
  if (r.change1[f1Year] && !ValidYear1(values[f1Year])) return QString::fromUtf8(kYear1Error);
  return QString();
}

QString TTagsBatchApply::Prepare2(const TSlSong& song, std::array<QString, f2Count>& values) const {
  const TTagsEditRequest& r = m_Request;
  const TSlTag1& t1 = song.m_Tag1;
  for (int f = 0; f < f2Count; ++f) {
    if (!r.change2[f]) continue;
    values[f] = r.value2[f];
    if (!r.bV1ToV2) continue;
    switch (f) {
      case f2Title:
        values[f] = TrimRight(t1.GetTitle());
        break;
      case f2Artist:
        values[f] = TrimRight(t1.GetArtist());
        break;
      case f2Album:
        values[f] = TrimRight(t1.GetAlbum());
        break;
      case f2Year:
        values[f] = TrimRight(t1.GetYear());
        break;
      case f2Comment:
        values[f] = TrimRight(t1.GetComment());
        break;
      case f2Genre:
        values[f] = GenreTextOf1(t1.Genre);
        break;
      default:
        break;
    }
  }
  if (r.change2[f2Track] && !ValidTrack(values[f2Track])) return QString::fromUtf8(kTrackError);
  if (r.change2[f2Year] && !ValidYear2(values[f2Year])) return QString::fromUtf8(kYear2Error);
  return QString();
}

bool TTagsBatchApply::ApplyTo(int row, QString& error, QString& reason) {
  const TTagsEditRequest& r = m_Request;
  TSlSong* pSong;
  {
    std::lock_guard<std::recursive_mutex> lock(m_Document.m_Lock);
    pSong = &m_Document.m_Songs[row];
  }
  TSlSong& song = *pSong;
  TTagValues before;
  TCover oldCover;
  QByteArray newCover, replaced2;
  std::lock_guard<std::recursive_mutex> lock(song.cs);
  if (song.IsStream()) {
    ++m_StreamsSkipped;
    if (r.cover.kind != TCoverRequest::Keep) {
      m_CoverOutcome = TCoverOutcome::Skipped;
      m_CoverNote = QString::fromUtf8(lb::kStreamSkipped);
    }
    return false;
  }
  {
    // The records follow the file as it is now, so that the fields left alone are
    // written back as the file has them.
    song.Sync();
    before = TTagValues::Of(song);
    const TNameParts parts = ExtractFromPath(song.GetPath(true), r.separator);
    const bool useName = parts.bFound || r.bWholeName;
    // A copy whose source tag the song lacks would blank the target: the target stays.
    const bool skip1 = Skips1(song), skip2 = Skips2(song);
    if (skip1 || skip2) ++m_Skipped;

    TSlTag1& t1 = song.m_Tag1;
    // A file of a format without ID3v1 keeps only its main tag: the ID3v1 side of the
    // request does not concern it. An ID3v1 tag the request changes nothing of stays as
    // the file has it, unwritten. A missing tag is created by a ticked master, except
    // when the version only takes title and artist from names and this name has none
    // to give: nothing would go into it.
    const bool has1 = lb::CarriesTag1(song.GetPath(true));
    const bool change1 = std::find(r.change1.begin(), r.change1.end(), true) != r.change1.end() ||
                         (r.bExtract1 ? useName : !t1.m_bExists);
    const bool write1 =
        has1 && !skip1 && change1 &&
        (r.master1 == TMaster::Ticked || (r.master1 == TMaster::Grey && t1.m_bExists));
    if (skip1 || !has1) {
      // The ID3v1 side of this song is left as it is.
    } else if (write1) {
      std::array<QString, f1Count> v;
      error = Prepare1(song, v);
      if (error.isEmpty() && r.change1[f1Year] && !Converted([&] { t1.SetYear(v[f1Year]); }))
        error = QString::fromUtf8(kYear1Error);
      if (!error.isEmpty()) {
        RestoreTag1(song, before);
      } else {
        if (r.change1[f1Title]) t1.SetTitle(v[f1Title], true);
        if (r.change1[f1Artist]) t1.SetArtist(v[f1Artist], true);
        if (r.change1[f1Album]) t1.SetAlbum(v[f1Album], true);
        if (r.change1[f1Comment]) t1.SetComment(v[f1Comment], true);
        if (r.change1[f1Genre]) t1.SetGenre(GenreFor1(v[f1Genre].toInt()));
        if (r.bExtract1 && useName) {
          t1.SetTitle(parts.title, true);
          t1.SetArtist(parts.artist, true);
        }
        t1.m_bExists = true;
        if (!t1.SaveTag(true)) {
          error = QString::fromUtf8(kWrite1Error);
          reason = t1.LastErrorText();
          RestoreTag1(song, before);
        }
      }
    } else if (r.master1 == TMaster::Unticked && !t1.RemoveTag(true)) {
      error = QString::fromUtf8(kRemove1Error);
      reason = t1.LastErrorText();
    }

    TSlTag2& t2 = song.m_Tag2;
    const bool change2 = std::find(r.change2.begin(), r.change2.end(), true) != r.change2.end() ||
                         (r.bExtract2 ? useName : !t2.m_bExists);
    const bool write2 =
        !skip2 && change2 &&
        (r.master2 == TMaster::Ticked || (r.master2 == TMaster::Grey && t2.m_bExists));
    if (!error.isEmpty() || skip2) {
      // The rest of this file is skipped.
    } else if (write2) {
      std::array<QString, f2Count> v;
      error = Prepare2(song, v);
      if (error.isEmpty() && r.change2[f2Track] &&
          !Converted([&] { t2.SetTrack(v[f2Track].trimmed()); }))
        error = QString::fromUtf8(kTrackError);
      if (!error.isEmpty()) {
        RestoreTag2(song, before);
      } else {
        if (r.change2[f2Year]) t2.SetYear(v[f2Year].trimmed());
        if (r.change2[f2Title]) t2.SetTitle(v[f2Title]);
        if (r.change2[f2Artist]) t2.SetArtist(v[f2Artist]);
        if (r.change2[f2Album]) t2.SetAlbum(v[f2Album]);
        if (r.change2[f2Genre]) t2.SetGenreText(v[f2Genre]);
        if (r.change2[f2Composer]) t2.SetComposer(v[f2Composer]);
        if (r.change2[f2OrigArt]) t2.SetOrigArt(v[f2OrigArt]);
        if (r.change2[f2URL]) t2.SetURL(v[f2URL]);
        if (r.change2[f2EncodedBy]) t2.SetEncodedBy(v[f2EncodedBy]);
        if (r.change2[f2Copyright]) t2.SetCopyright(v[f2Copyright]);
        if (r.change2[f2Comment]) t2.SetComment(v[f2Comment]);
        if (r.bExtract2 && useName) {
          t2.SetTitle(parts.title);
          t2.SetArtist(parts.artist);
        }
        t2.m_bExists = true;
        if (!t2.SaveTag(true, QByteArray(), &replaced2)) {
          error = QString::fromUtf8(kWrite2Error);
          reason = t2.LastErrorText();
          RestoreTag2(song, before);
        }
      }
    } else if (r.master2 == TMaster::Unticked && !t2.RemoveTag(true)) {
      error = QString::fromUtf8(kRemove2Error);
      reason = t2.LastErrorText();
    }
    CommitPendingAge(song);
    if (!error.isEmpty() && r.cover.kind != TCoverRequest::Keep) {
      m_CoverOutcome = TCoverOutcome::Skipped;
    } else if (r.cover.kind != TCoverRequest::Keep) {
      QString failure;
      m_CoverOutcome = ApplyCoverTo(song, r.cover, &oldCover, &newCover, &m_CoverNote, &failure);
      if (!failure.isEmpty()) {
        ++m_CoverFailures;
        m_CoverNote = failure;
        error = failure;
      }
    }
  }
  const bool bCover =
      m_CoverOutcome == TCoverOutcome::Set || m_CoverOutcome == TCoverOutcome::Removed;
  if (!bCover && TTagValues::Of(song) == before) return false;
  undo->Add(song, before, replaced2, bCover ? &oldCover : nullptr, newCover);
  return true;
}

// ---------------------------------------------------------------------------------
// Undo

void TTagsUndo::Add(TSlSong& song, const TTagValues& before, const QByteArray& replaced2,
                    const TCover* oldCover, const QByteArray& newCover) {
  Entry e{&song, song.m_Path, before, TTagValues::Of(song), replaced2, false, QString()};
  if (oldCover) {
    e.bCover = true;
    e.coverSize = newCover.size();
    e.coverHash = qHash(newCover);
    e.coverAge = lb::FileAge(song.GetPath(true));
    if (!oldCover->data.isEmpty()) {
      if (!m_CoverDir) m_CoverDir = std::make_shared<QTemporaryDir>();
      QFile file(m_CoverDir->filePath(QString::number(m_Entries.size())));
      // Without its old picture the song's cover change cannot be undone: its entry
      // then undoes the fields alone.
      e.bCover = m_CoverDir->isValid() && file.open(QIODevice::WriteOnly) &&
                 file.write(oldCover->data) == oldCover->data.size() && file.flush();
      if (e.bCover) {
        e.coverFile = file.fileName();
        e.coverDetails = oldCover->details;
      }
    }
  }
  m_Entries.push_back(e);
}

void TTagsUndo::Forget(const TSlSong* song) {
  m_Entries.erase(std::remove_if(m_Entries.begin(), m_Entries.end(),
                                 [&](const Entry& e) { return e.song == song; }),
                  m_Entries.end());
}

bool TTagsUndo::Available(const TSlDocument& document) const {
  if (m_Entries.empty()) return false;
  std::lock_guard<std::recursive_mutex> lock(document.m_Lock);
  const QSet<const TSlSong*> songs = SongSetOf(document);
  for (const Entry& e : m_Entries) {
    if (!songs.contains(e.song)) return false;
    // A song being written just now is not asked for: the answer waits for the next look.
    std::unique_lock<std::recursive_mutex> songLock(e.song->cs, std::try_to_lock);
    if (!songLock.owns_lock()) return false;
    if (e.song->m_Path != e.path || !(TTagValues::Of(*e.song) == e.after)) return false;
  }
  return true;
}

bool TTagsUndo::FilesUnchanged() const {
  // Another program may have put values or a cover of its own in: the undo would
  // overwrite them. A file whose age is still the one seen holding the apply's cover is
  // not read again.
  // The files are looked at by the worker, so the window goes on answering meanwhile.
  TMessagePace pace;
  TSongWorker worker(pace);
  bool bUnchanged = true;
  worker.Run([&] {
    for (const Entry& e : m_Entries) {
      std::lock_guard<std::recursive_mutex> songLock(e.song->cs);
      const QString path = e.song->GetPath(true);
      const int32_t age = lb::FileAge(path);
      if (!e.bCover) {
        // The fields: a file changed since its last synchronisation may hold another
        // program's values, which the undo would overwrite. A song whose record is not
        // kept in step with its file has no age to compare.
        if (e.song->m_FileAge != kAgeMissing && e.song->m_FileAge != kAgeNeverSynced &&
            age != e.song->m_FileAge) {
          bUnchanged = false;
          return;
        }
        continue;
      }
      if (age == e.coverAge) continue;
      std::lock_guard<std::recursive_mutex> tagLock(lb::ID3ComLock());
      TCover now;
      if (!ReadCover(path, &now)) {
        bUnchanged = false;
        return;
      }
      if (!now.bCover) now = TCover{};
      if (now.data.size() != e.coverSize || qHash(now.data) != e.coverHash) {
        bUnchanged = false;
        return;
      }
      e.coverAge = age;
    }
  });
  return bUnchanged;
}

bool TTagsUndo::Run(TSlDocument& document, const std::function<void(int)>& redraw) {
  TInfoWindowLevel level(QString::fromUtf8(kUndoAction), document.GetTitle(), true);
  TSlInfoWindowManager& progress = InfoWindowManager();
  const int count = Count();
  lb::TWriteBatch writes;
  TMessagePace pace;
  TSongWorker worker(pace);
  size_t done = 0;
  bool bAll = true;
  for (; done < m_Entries.size(); ++done) {
    const Entry& e = m_Entries[done];
    int row;
    {
      std::lock_guard<std::recursive_mutex> lock(document.m_Lock);
      row = SongRow(document, e.song);
    }
    if (row < 0) continue;
    TSlSong& song = *e.song;
    const QString path = song.GetPath(true);
    if (pace.Due()) {
      progress.SetObject(path);
      ShowProgress(int(done), count);
      pace.Turn();
    }
    QString error;
    worker.Run([&] {
      std::lock_guard<std::recursive_mutex> lock(song.cs);
      if (!e.before.SameTag1(e.after)) {
        RestoreTag1(song, e.before);
        const bool ok = e.before.bExists1 ? song.m_Tag1.SaveTag(true) : song.m_Tag1.RemoveTag(true);
        if (!ok) error = QString::fromUtf8(e.before.bExists1 ? kWrite1Error : kRemove1Error);
      }
      if (error.isEmpty() && !e.before.SameTag2(e.after)) {
        RestoreTag2(song, e.before);
        // Each field as the file held it: every value, and an MP3 frame's text encoding.
        const bool ok = e.before.bExists2 ? song.m_Tag2.SaveTag(true, e.replaced2, nullptr)
                                          : song.m_Tag2.RemoveTag(true);
        if (!ok) error = QString::fromUtf8(e.before.bExists2 ? kWrite2Error : kRemove2Error);
      }
      CommitPendingAge(song);
      if (error.isEmpty() && e.bCover) {
        QByteArray old;
        QFile file(e.coverFile);
        if (!e.coverFile.isEmpty() &&
            (!file.open(QIODevice::ReadOnly) || (old = file.readAll()).isEmpty()))
          error = QString::fromUtf8(kCoverWriteError).arg(path);
        else
          error = WriteSongCover(song, old, &e.coverDetails, e.coverSize == 0);
      }
    });
    if (redraw) redraw(row);
    if (!error.isEmpty()) {
      bAll = false;
      if (Message(error + QString::fromUtf8(kSkipQuestion), MB_YESNO | MB_ICONQUESTION) != IDYES) {
        ++done;
        break;
      }
    }
    if (progress.m_bStop) {
      ++done;
      bAll = false;
      Message(StopText(row, path), MB_OK | MB_ICONWARNING);
      break;
    }
  }
  ShowProgress(int(done), count);
  std::vector<lb::TNotPlaced> notPlaced;
  if (!FinishWrites(writes, worker, &notPlaced)) bAll = false;
  QSet<QString> notPlacedPaths;
  for (const lb::TNotPlaced& f : notPlaced) notPlacedPaths.insert(f.path);
  // The songs whose undone content could not take their files' places (another program
  // changed the file meanwhile, the user was told) show what their files hold, and stay
  // to be undone later, as does what was not reached.
  const auto undone =
      std::stable_partition(m_Entries.begin(), m_Entries.begin() + done, [&](const Entry& e) {
        return notPlacedPaths.isEmpty() ||
               !notPlacedPaths.contains(QFileInfo(e.song->GetPath(true)).canonicalFilePath());
      });
  for (auto e = undone; e != m_Entries.begin() + done; ++e) {
    int row;
    {
      std::lock_guard<std::recursive_mutex> lock(document.m_Lock);
      row = SongRow(document, e->song);
    }
    if (row < 0) continue;
    ReadAgain(*e->song, worker);
    if (redraw) redraw(row);
  }
  m_Entries.erase(m_Entries.begin(), undone);
  return bAll && m_Entries.empty();
}

}  // namespace lbtags
