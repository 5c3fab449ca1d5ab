#include "TestEnv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <atomic>

namespace lbtest {
namespace {
QTemporaryDir& Run() {
  static QTemporaryDir dir(QDir::tempPath() + "/lbtest-XXXXXX");
  return dir;
}
}  // namespace

QString RunDir() { return Run().path(); }

QString NewTempDir() {
  static std::atomic<int> counter{0};
  QString path = RunDir() + "/t" + QString::number(++counter);
  QDir().mkpath(path);
  return path;
}

QString BinDir() {
  QByteArray env = qgetenv("LB_BIN_DIR");
  if (!env.isEmpty()) return QString::fromLocal8Bit(env);
  return QCoreApplication::applicationDirPath();
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  return f.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}
}  // namespace lbtest
