// Deletion of the selected songs' files (command OptionsDeleteFiles): a worker under
// the modal progress dialog. Files go to the trash and their songs leave the list; a
// file that cannot be deleted is reported and its song stays, as does a stream's row.
#pragma once

#include "lbtools3/model/WorkerThread.h"

#include <QStringList>
#include <functional>

class TSlDocument;

class TSlDelFilesWorkerThread : public TBaseWorkerThread {
 public:
  // Sends a file to the trash; false (with the reason) when it cannot.
  using TTrashFunction = std::function<bool(const QString& path, QString* error)>;
  // Removes row n from the list view and its song from the document (main thread).
  using TRemoveRow = std::function<void(int n)>;

  static constexpr const char* kAction = "Удаление файлов";
  static constexpr const char* kErrorText = "Ошибка удаления файла\n";

  TSlDelFilesWorkerThread(TSlDocument* document, TRemoveRow removeRow,
                          TTrashFunction trash = TTrashFunction());
  ~TSlDelFilesWorkerThread() override;

  // Pairs of lines: the full path of a file that is gone, then an empty line (its new
  // path: none), as ChangePathsInAllLists takes them.
  QStringList m_DeletedPaths;
  // Songs handled (deleted, reported, or passed by as streams' addresses).
  int m_nProcessed = 0;

 protected:
  void Execute() override;

 private:
  QString SongPath(int n);
  // Sends the file of row i to the trash (when it is there) and takes the row out;
  // false when the file stays (the user was told).
  bool DeleteSong(int i, const QString& path, bool bPresent);

  TSlDocument* m_pDocument;
  TRemoveRow m_RemoveRow;
  TTrashFunction m_Trash;
};
