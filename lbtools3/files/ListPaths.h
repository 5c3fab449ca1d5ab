// Song paths of lists that are not open in a window follow files that were renamed,
// moved or deleted: the list file is loaded, its entries changed and it is saved with
// its data file. The main window uses it for closed lists; the command-line tool for
// every list of the repository.
#pragma once

#include "FileOperation.h"
#include "platform/Pace.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <set>

class IRepositoryLists;
class TListsRepository;
class TSlDocument;

namespace lb {

enum TListPathsResult { lpDone = 0, lpSkipped = 1, lpStop = 2 };

// Loads the list into scratch (cleared first), replaces the paths by the pairs (old
// full path, new full path, ...; an empty new path removes the entry) and saves the
// list when it changed. A load or save failure is put to the user (retry, skip, stop).
// *changed tells whether the list file was rewritten.
int ReplacePathsInListFile(TSlDocument& scratch, const QString& path, const QStringList& pairs,
                           bool* changed = nullptr);

// Every list of the repository except skip (a list the caller saves itself), under
// one progress window; returns the lists that were rewritten.
QStringList ReplacePathsInRepositoryLists(TListsRepository& repository, const QStringList& pairs,
                                          const QString& skip);

// Keeps the lists in step while a batch renames or moves files, so that an interruption
// (Ctrl+C, a kill, a crash) leaves no list naming a file that has moved: the pairs
// (old full path, new full path) gathered since the last time go to the sink, on the
// main thread, every few seconds and at Flush. The sink saves the batch's own list and
// changes the other lists.
class TPathCheckpoint {
 public:
  using TSink = std::function<void(const QStringList& pairs)>;
  static constexpr int kIntervalMs = 3000;

  explicit TPathCheckpoint(TSink sink, int intervalMs = kIntervalMs);
  // One file moved; any thread.
  void Add(const QString& oldPath, const QString& newPath);
  void Flush();

 private:
  TSink m_Sink;
  TPace m_Pace;
  QStringList m_Pending;
};

// Saves a list that has its file (not a new one) without asking: the checkpoints of a
// window's batch keep its list on disk in step with the files it moved. A list file
// another program changed meanwhile is left as it is: the list stays modified, and its
// next save in the window asks.
void SaveListInStep(TSlDocument& document);

// The files that lists name, by identity, gathered when first asked (an overwrite is
// about to happen): the songs of the document and of every list of the repository
// (an open list from its window, a closed one from its file). Main thread.
class TListedFiles {
 public:
  TListedFiles(const TSlDocument& document, IRepositoryLists* lists)
      : m_Document(document), m_pLists(lists) {}
  bool Names(const QString& path);

 private:
  void Add(const TSlDocument& document);

  const TSlDocument& m_Document;
  IRepositoryLists* m_pLists;
  bool m_bGathered = false;
  std::set<TFileId> m_Files;
};

}  // namespace lb
