// Helpers shared by the document-window tests: lists of real MP3 files, ID3v1 tags
// written as another program would, and waiting for a synchronisation pass.
#pragma once

#include "model/ModelTestUtil.h"

#include "lbtools3/model/M3uList.h"

#include <QString>
#include <QStringList>
#include <functional>

class TSyncThread;

namespace docwintest {

// An MP3 file whose ID3v1 tag has the title (no tag when title is empty).
QString MakeTaggedMp3(const QString& path, const QString& title);
// Paths of files that do not exist: dir/<prefix>0.mp3, dir/<prefix>1.mp3 and so on.
QStringList MissingFiles(const QString& dir, int count, const QString& prefix);
// Replaces the file's ID3v1 title as another program would and moves its time on.
void RetitleOutside(const QString& path, const QString& title, int seconds = 10);
// A document named dir/list.m3u with one song per path (full paths, never synchronised).
void FillDocument(TSlDocument& doc, const QString& dir, const QStringList& paths);
// Processes events until the pass has ended (true), or fails the test after 30 seconds.
bool ProcessEventsUntil(const std::function<bool()>& ended);
// Processes events until the pass has ended and its reports are delivered.
void WaitForPass(TSyncThread& pass);

}  // namespace docwintest
