// Helpers of the file-operation tests: MP3 files with an ID3v1 tag, songs with tags
// set in memory, and error dialogs answered from a script.
#pragma once

#include "model/ModelTestUtil.h"

#include "lbtools3/files/FileOperation.h"
#include "lbtools3/model/M3uList.h"

#include <QStringList>
#include <deque>

namespace filestest {

struct Tag1 {
  QString title, artist, album;
};
// An MP3 file with that ID3v1 tag.
QString MakeMp3(const QString& path, const Tag1& tag);
// Appends a song with an ID3v1 record holding the tag (nothing is read from a file).
TSlSong& AddSong(TSlDocument& doc, const QString& path, const Tag1& tag);
QStringList Paths(const TSlDocument& doc);
// Every file below the folder, relative to it, sorted.
QStringList FilesBelow(const QString& dir);

// The file-error dialog answering from a script, recording what it was shown.
struct ScriptedFilePrompt : lb::IFileErrorPrompt {
  struct Answer {
    int choice;
    QString newName;
  };
  std::deque<Answer> answers;
  QList<lb::TFileErrorInfo> shown;
  int Ask(const lb::TFileErrorInfo& info, QString& newName) override {
    shown << info;
    if (answers.empty()) return lb::fcCancel;
    const Answer a = answers.front();
    answers.pop_front();
    if (a.choice == lb::fcNewName) newName = a.newName;
    return a.choice;
  }
};

struct ScriptedDirPrompt : lb::IDirErrorPrompt {
  std::deque<std::pair<int, QString>> answers;
  QStringList shown;
  int Ask(const QString& path, const QString&, QString& newName) override {
    shown << path;
    if (answers.empty()) return lb::dcCancel;
    auto [choice, name] = answers.front();
    answers.pop_front();
    if (choice == lb::dcNewName) newName = name;
    return choice;
  }
};

}  // namespace filestest
