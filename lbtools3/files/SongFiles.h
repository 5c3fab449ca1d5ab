// Operations the main window performs itself, without widgets: the files-information
// summary, deleting to the trash, replacing song paths in a document after files were
// moved, renamed or deleted, and the file filter of "add songs".
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

class TSlDocument;
class TSlInsertFilesManager;

namespace lb {

// "1234567" → "1,234,567".
QString GroupDigits(uint64_t value);
// The total size of the files (each file counted once, however many entries name it;
// a missing file or a stream's address counts 0) and the message that shows it.
uint64_t TotalFileSize(const QStringList& fullPaths);
QString FilesInfoText(uint64_t totalBytes);
// The kinds of the files' main tags, told by their extensions (no file is read; a
// stream's address has none):
// "Тэг: Vorbis comment" when all are of one kind, "Тэги: ID3v2 (2), Vorbis comment (3)"
// in the order first met otherwise; empty when no file is of a known format or all
// hold ID3v2 (as MP3 files always do).
QString TagKindsText(const QStringList& fullPaths);
// The whole files-information message: the total size, then the tag kinds.
QString FilesInfoText(const QStringList& fullPaths);

// Moves the file to the trash; a file that does not exist counts as deleted.
bool DeleteToRecycleBin(const QString& path);

// Replaces the paths of the document's entries by the pairs (old full path, new full
// path, ...); an empty new path removes the entry. onChanged runs before the first
// change (the window tells the player its list changed). removeRow, when given,
// removes entry n in place of the document's own removal (a window takes the row out
// of its view in the same step). Shows progress; false when the user stopped (after
// telling them that some paths may be out of date).
bool ReplacePathsInDocument(TSlDocument& document, const QStringList& pairs,
                            const std::function<void()>& onChanged = {},
                            const std::function<void(int n)>& removeRow = {});

// The open-dialog filter of "add songs": "Музыкальные файлы (*.mp3 *.wav)|*.mp3;*.wav",
// then "mp3-песни (*.mp3)|*.mp3|..." for each working extension.
QString AddSongsFilter(const TSlInsertFilesManager& manager);

}  // namespace lb
