// Undoing a rename of songs' files: each file goes back to its old name while its new
// name still holds the very file the rename made and the old name is free; the songs
// that followed the file follow it back, and so do the other lists (through the
// checkpoint, as the rename fed them). What cannot be undone is named with the reason.
#pragma once

#include "platform/FileSystem.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class TSlDocument;
class TSlSong;

namespace lb {

class TPathCheckpoint;

class TRenameUndo {
 public:
  static constexpr const char* kAction = "Отмена переименования файлов";
  static constexpr const char* kText = "Отменить переименование файлов";
  static constexpr const char* kNotUndone = "Не удалось вернуть прежние имена файлов (%1):";
  static constexpr const char* kGone =
      "под новым именем этого файла больше нет (он перемещён, удалён или заменён)";
  static constexpr const char* kTaken = "прежнее имя занято другим файлом";
  static constexpr const char* kSongGone = "песни больше нет в листе под новым именем";

  // The song's file was renamed from oldPath to newPath (the file there now);
  // sync1 and sync2 tell whether the song's tags followed the file before. file, when
  // given, is the renamed file's identity as the caller knows it (a rename keeps it);
  // otherwise the file at newPath is looked at.
  void Add(TSlSong& song, const QString& oldPath, const QString& newPath, bool sync1, bool sync2,
           const TFileId* file = nullptr);
  bool Empty() const { return m_Entries.empty(); }
  // Whether every renamed song is still in the document under its new name.
  bool Available(const TSlDocument& document) const;
  // Renames the files back, the last renamed first, under a progress window; each one
  // renamed back goes to the checkpoint, when given. rowChanged(n) repaints row n.
  // Stop keeps what was not reached for a later undo. True when every file went back.
  bool Run(TSlDocument& document, TPathCheckpoint* checkpoint = nullptr,
           const std::function<void(int n)>& rowChanged = {});

  // The files that were not renamed back: "NEW PATH → OLD NAME: reason", one a line.
  QStringList m_NotUndone;
  // kNotUndone with those lines ("" when every file went back).
  QString Report() const;

 private:
  struct Entry {
    TSlSong* song;
    QString oldPath, newPath;
    TFileId file;
    bool sync1, sync2;
  };
  std::vector<Entry> m_Entries;
};

}  // namespace lb
