// Song paths of lists that are not open in a window follow files that were renamed,
// moved or deleted: the list file is loaded, its entries changed and it is saved with
// its data file. The main window uses it for closed lists; the command-line tool for
// every list of the repository.
#pragma once

#include <QString>
#include <QStringList>

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

}  // namespace lb
