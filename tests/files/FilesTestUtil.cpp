#include "FilesTestUtil.h"

#include "platform/CodePage.h"

#include <QDir>
#include <QDirIterator>

namespace filestest {

namespace {
QByteArray Field(const QString& text) {
  QByteArray bytes = lb::ToTagCodePage(text).left(30);
  bytes.append(QByteArray(30 - bytes.size(), '\0'));
  return bytes;
}
}  // namespace

QString MakeMp3(const QString& path, const Tag1& tag) {
  QByteArray bytes = modeltest::Mp3Frames();
  bytes += "TAG" + Field(tag.title) + Field(tag.artist) + Field(tag.album) + QByteArray(4, '\0') +
           QByteArray(30, '\0') + char(255);
  lbtest::WriteFile(path, bytes);
  return path;
}

TSlSong& AddSong(TSlDocument& doc, const QString& path, const Tag1& tag) {
  doc.InsertSong(TSlSong(nullptr, path, QString()), -1);
  TSlSong& song = doc.m_Songs.back();
  song.m_Tag1.m_bExists = true;
  song.m_Tag1.SetTitle(tag.title, true);
  song.m_Tag1.SetArtist(tag.artist, true);
  song.m_Tag1.SetAlbum(tag.album, true);
  song.m_Tag1.UpdateDisplayName();
  return song;
}

QStringList Paths(const TSlDocument& doc) {
  QStringList paths;
  for (int n = 0; n < doc.m_Songs.size(); ++n) paths << doc.m_Songs[n].GetPath(true);
  return paths;
}

QStringList FilesBelow(const QString& dir) {
  QStringList files;
  QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) files << QDir(dir).relativeFilePath(it.next());
  files.sort();
  return files;
}

}  // namespace filestest
