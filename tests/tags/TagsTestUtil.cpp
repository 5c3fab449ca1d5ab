#include "TagsTestUtil.h"

#include <QFile>
#include <QProcess>

namespace tagstest {

QString MakeTagged(const QString& path, const QString& title, const QString& artist) {
  modeltest::MakeMp3(path);
  if (title.isEmpty()) return path;
  TSlSong song(nullptr, path, QString());
  TSlTag1& t1 = song.m_Tag1;
  t1.SetTitle(title, true);
  t1.SetArtist(artist, true);
  t1.SetAlbum("Альбом", true);
  t1.SetYear("1999");
  t1.SetComment("Комм", true);
  t1.SetGenre(17);
  t1.WriteToFile(true);
  TSlTag2& t2 = song.m_Tag2;
  t2.SetTitle(title);
  t2.SetArtist(artist);
  t2.SetAlbum("Альбом");
  t2.SetYear("1999");
  t2.SetGenre(17);
  t2.SetComment("Комм");
  t2.SetComposer("Композитор");
  t2.SetTrack(5);
  t2.WriteToFile(true);
  return path;
}

void FillSynced(TSlDocument& doc, const QString& dir, const QStringList& paths) {
  doc.SetFileName(dir + "/list.m3u");
  for (const QString& path : paths) doc.InsertSong(TSlSong(nullptr, path, QString()), -1);
  for (int n = 0; n < doc.m_Songs.size(); ++n) doc.m_Songs[n].Sync();
  doc.m_bModified = false;
}

FileTags::FileTags(const QString& path) : song(nullptr, path, QString()) {
  song.m_Tag1.ReadFromFile();
  song.m_Tag2.ReadFromFile();
}

QStringList MutagenFrames(const QString& path) {
  static const char* const script = R"PY(
import sys
from mutagen.id3 import ID3, ID3NoHeaderError
try:
    t = ID3(sys.argv[1], translate=False)
except ID3NoHeaderError:
    sys.exit(0)
for frame in sorted(t.values(), key=lambda f: f.HashKey):
    print(frame.HashKey + "=" + repr(frame))
)PY";
  QProcess p;
  p.start("/usr/bin/python3", {"-c", script, path});
  p.waitForFinished(30000);
  return QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

QByteArray Tail128(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || file.size() < 128) return {};
  file.seek(file.size() - 128);
  return file.read(128);
}

}  // namespace tagstest
