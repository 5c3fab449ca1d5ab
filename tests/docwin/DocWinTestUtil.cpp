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

QStringList MissingFiles(const QString& dir, int count, const QString& prefix) {
  QStringList paths;
  for (int n = 0; n < count; ++n) paths << dir + QString("/%1%2.mp3").arg(prefix).arg(n);
  return paths;
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

bool ProcessEventsUntil(const std::function<bool()>& ended) {
  QDeadlineTimer deadline(30000);
  while (!ended()) {
    if (deadline.hasExpired()) {
      ADD_FAILURE() << "the synchronisation pass never ended";
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
  return true;
}

void WaitForPass(TSyncThread& pass) {
  if (!ProcessEventsUntil([&] { return pass.Finished(); })) return;
  pass.WaitFor();
  QCoreApplication::processEvents();
}

}  // namespace docwintest
