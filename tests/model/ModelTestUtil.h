// Helpers for the model tests: small valid MP3 files, lists written byte for byte,
// and the tag component attached to the test thread.
#pragma once

#include "TestEnv.h"

#include <QByteArray>
#include <QString>

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

}  // namespace modeltest
