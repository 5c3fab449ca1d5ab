// Helpers of the tags editor tests: tagged MP3 files, a document over them, what the
// files hold now, and mutagen's view of an ID3v2 tag.
#pragma once

#include "model/ModelTestUtil.h"

#include "lbtools3/model/M3uList.h"

#include <QString>
#include <QStringList>

namespace tagstest {

// An MP3 file with both tags: ID3v1 title, artist, album "Альбом", year "1999", comment
// "Комм", genre 17; ID3v2 the same title and artist, album "Альбом", year "1999",
// genre 17, comment "Комм", composer "Композитор", track 5. Empty title: no tags.
QString MakeTagged(const QString& path, const QString& title, const QString& artist);
// A document dir/list.m3u over the files, every song synchronised with its file.
void FillSynced(TSlDocument& doc, const QString& dir, const QStringList& paths);
// A song whose records were read from the file just now.
struct FileTags {
  explicit FileTags(const QString& path);
  TSlSong song;
};
// Every frame of the file's ID3v2 tag as mutagen sees it: one "ID=value" per frame.
QStringList MutagenFrames(const QString& path);
// The last 128 bytes of the file.
QByteArray Tail128(const QString& path);

}  // namespace tagstest
