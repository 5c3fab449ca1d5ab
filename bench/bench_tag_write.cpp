// Memory of a tag write into a large music file: one title change through the model,
// once growing the tag (the audio is streamed into a file beside it), once in place
// (a hard link keeps the file's inode: the audio is moved within the file through a
// copy) and once within the tag's own space. Prints the resident memory above the
// program's base for each (aim: under 20 MB for any file size) and the time taken.
// Usage: bench_tag_write [SIZE_MB] [FOLDER] (default 1024 MB in the temporary folder).
#include "lbtools3/model/ID3ComAccess.h"
#include "lbtools3/model/M3uList.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <unistd.h>

namespace {

// VmRSS or VmHWM of this process in kB.
long StatusKb(const char* key) {
  QFile status("/proc/self/status");
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith(key)) return line.mid(qstrlen(key)).trimmed().split(' ').value(0).toLong();
  return -1;
}

void ResetPeak() {
  QFile refs("/proc/self/clear_refs");
  if (refs.open(QIODevice::WriteOnly)) refs.write("5");
}

bool MakeFile(const QString& path, qint64 megabytes) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return false;
  QByteArray frame(417, '\0');
  frame[0] = char(0xFF), frame[1] = char(0xFB), frame[2] = char(0x90), frame[3] = char(0x64);
  QByteArray chunk;
  while (chunk.size() < (1 << 20)) chunk += frame;
  for (qint64 i = 0; i < megabytes; ++i)
    if (f.write(chunk) != chunk.size()) return false;
  return f.flush();
}

void Measure(const char* what, const QString& path, const QString& title) {
  TSlSong song(nullptr, path, QString());
  song.m_Tag2.ReadFromFile();
  song.m_Tag2.SetTitle(title);
  const long base = StatusKb("VmRSS:");
  ResetPeak();
  QElapsedTimer timer;
  timer.start();
  const bool ok = song.m_Tag2.WriteToFile(false);
  const qint64 ms = timer.elapsed();
  const long peak = StatusKb("VmHWM:");
  std::printf("%-34s %s  %6lld ms  peak %7.1f MB above base (%.1f MB)  %s\n", what,
              ok ? "ok    " : "FAILED", static_cast<long long>(ms), (peak - base) / 1024.0,
              base / 1024.0, peak - base < 20 * 1024 ? "under 20 MB" : "OVER 20 MB");
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const qint64 megabytes = argc > 1 ? std::max(1, atoi(argv[1])) : 1024;
  QTemporaryDir tmp((argc > 2 ? QString::fromLocal8Bit(argv[2]) : QDir::tempPath()) +
                    "/bench_tag_write-XXXXXX");
  qputenv("LBTOOLS_REGISTRY_DIR", QFile::encodeName(tmp.path() + "/registry"));
  qputenv("LBTOOLS_INI", QFile::encodeName(tmp.path() + "/lbtools3.ini"));
  const QString bin = QCoreApplication::applicationDirPath();
  QProcess::execute(bin + "/lbregsvr", {bin + "/libid3com.so"});
  if (FAILED(lb::AttachCurrentThreadToID3Com())) {
    std::fprintf(stderr, "no tag component\n");
    return 1;
  }
  const QString path = tmp.path() + "/big.mp3";
  if (!MakeFile(path, megabytes)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return 1;
  }
  std::printf("file: %lld MB\n", static_cast<long long>(megabytes));
  Measure("first tag (file beside it)", path, "Первый заголовок");
  Measure("title within the tag's space", path, "Второй заголовок");
  Measure("tag grows (file beside it)", path, QString(3000, QChar(0x0416)));
  const QString alias = tmp.path() + "/alias.mp3";
  if (::link(QFile::encodeName(path).constData(), QFile::encodeName(alias).constData()) == 0)
    Measure("tag grows, hard link (in place)", path, QString(6000, QChar(0x0417)));
  return 0;
}
