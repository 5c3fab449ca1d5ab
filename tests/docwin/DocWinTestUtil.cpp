#include "DocWinTestUtil.h"

#include "lbtools3/docwin/SyncThread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

namespace docwintest {

namespace {
QByteArray Id3v1(const QString& title) {
  QByteArray tag("TAG");
  QByteArray body(125, '\0');
  const QByteArray bytes = title.toLatin1().left(30);
  body.replace(0, bytes.size(), bytes);
  body[124] = char(255);
  return tag + body;
}
}  // namespace

QString MakeTaggedMp3(const QString& path, const QString& title) {
  QByteArray bytes = modeltest::Mp3Frames();
  if (!title.isEmpty()) bytes += Id3v1(title);
  lbtest::WriteFile(path, bytes);
  return path;
}

void RetitleOutside(const QString& path, const QString& title, int seconds) {
  lbtest::WriteFile(path, modeltest::Mp3Frames() + Id3v1(title));
  modeltest::TouchLater(path, seconds);
}

void FillDocument(TSlDocument& doc, const QString& dir, const QStringList& paths) {
  doc.SetFileName(dir + "/list.m3u");
  for (const QString& path : paths) doc.InsertSong(TSlSong(nullptr, path, QString()), -1);
  doc.m_bModified = false;
}

QStringList Paths(const TSlDocument& doc) {
  QStringList paths;
  for (int n = 0; n < doc.m_Songs.size(); ++n) paths << doc.m_Songs[n].m_Path;
  return paths;
}

void WaitForPass(TSyncThread& pass) {
  QDeadlineTimer deadline(30000);
  while (!pass.Finished()) {
    if (deadline.hasExpired()) {
      ADD_FAILURE() << "the synchronisation pass never ended";
      return;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
  pass.WaitFor();
  QCoreApplication::processEvents();
}

}  // namespace docwintest
