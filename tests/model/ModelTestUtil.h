// Helpers for the model tests: small valid MP3 files, lists written byte for byte,
// and the tag component attached to the test thread.
#pragma once

#include "TestEnv.h"

#include "lbtools3/model/M3uList.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>

namespace modeltest {

// A file of silent MPEG-1 Layer III frames (no tags), frames * 417 bytes.
QByteArray Mp3Frames(int frames = 8);
// Writes an MP3 file; returns its path.
QString MakeMp3(const QString& path, int frames = 8);
// Registers the tag component into the test registry (once) and gives the calling
// thread its object. False when the component cannot be created.
bool AttachID3Com();
// Sets the file's modification time forward by the given seconds.
void TouchLater(const QString& path, int seconds);
// Paths of the songs, in order.
QStringList Paths(const TSlDocument& doc);

// A document loaded from the list file, and whether the load succeeded.
struct Loaded {
  bool ok;
  std::unique_ptr<TSlDocument> doc;
};
Loaded LoadList(const QString& path, bool bSilent = false);

}  // namespace modeltest
