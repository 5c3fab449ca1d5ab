// Setting a cover on many MP3 files: the program's path (the tag component reads the
// file's tag, puts the picture in and rewrites the file through its writer, flushing
// it before it takes the file's place) against a bare TagLib save of the same change
// (an APIC frame added, MPEG::File::save, no flush) over a twin set of files, in the
// same run. Aim: at most 1.5 times the bare save. Run it again with
// LD_PRELOAD=libbench_nosync.so to see the part the flushes take.
// Usage: bench_covers [FILES] [AUDIO_KB] [COVER_KB] [FOLDER] (default 1000 files of
// 1024 KB with a 500 KB cover, in the temporary folder).
#include "lbtools3/model/ID3ComAccess.h"
#include "lbtools3/tags/Covers.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include <cstdio>
#include <ctime>

namespace {

// An MP3 file of silent frames with a small ID3v2.3 tag, as ripped songs have.
bool MakeSong(const QString& path, int audioKb) {
  static QByteArray audio;
  if (audio.isEmpty()) {
    QByteArray frame(417, '\0');
    frame[0] = char(0xFF), frame[1] = char(0xFB), frame[2] = char(0x90), frame[3] = char(0x64);
    audio.reserve(audioKb * 1024 + frame.size());
    while (audio.size() < audioKb * 1024) audio += frame;
  }
  {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(audio) != audio.size()) return false;
  }
  TagLib::MPEG::File f(QFile::encodeName(path).constData(), false);
  TagLib::ID3v2::Tag* tag = f.ID3v2Tag(true);
  tag->setTitle(TagLib::String("Название", TagLib::String::UTF8));
  tag->setArtist(TagLib::String("Исполнитель", TagLib::String::UTF8));
  tag->setAlbum(TagLib::String("Альбом", TagLib::String::UTF8));
  return f.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3);
}

// The processor time of this thread (the component works on the caller's thread): on
// a machine shared with other work it tells more than the wall clock, which counts the
// time others held the processor.
qint64 CpuNs() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void Report(const char* what, qint64 ms, qint64 cpuMs, int files, int failed) {
  std::printf("%-32s %7lld ms (%6.2f a file)  processor %7lld ms (%6.2f a file)%s\n", what,
              static_cast<long long>(ms), double(ms) / files, static_cast<long long>(cpuMs),
              double(cpuMs) / files, failed ? "  (FAILURES)" : "");
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int files = argc > 1 ? std::max(1, atoi(argv[1])) : 1000;
  const int audioKb = argc > 2 ? std::max(1, atoi(argv[2])) : 1024;
  const int coverKb = argc > 3 ? std::max(1, atoi(argv[3])) : 500;
  QTemporaryDir tmp((argc > 4 ? QString::fromLocal8Bit(argv[4]) : QDir::tempPath()) +
                    "/bench_covers-XXXXXX");
  qputenv("LBTOOLS_REGISTRY_DIR", QFile::encodeName(tmp.path() + "/registry"));
  qputenv("LBTOOLS_INI", QFile::encodeName(tmp.path() + "/lbtools3.ini"));
  const QString bin = QCoreApplication::applicationDirPath();
  QProcess::execute(bin + "/lbregsvr", {bin + "/libid3com.so"});
  if (FAILED(lb::AttachCurrentThreadToID3Com())) {
    std::fprintf(stderr, "no tag component\n");
    return 1;
  }
  QByteArray cover(coverKb * 1024, '\0');
  QRandomGenerator rng(7);
  for (char& c : cover) c = static_cast<char>(rng.bounded(256));
  cover.replace(0, 4, QByteArray("\xFF\xD8\xFF\xE0", 4));

  QStringList ours, bare;
  for (const char* set : {"ours", "bare"}) QDir(tmp.path()).mkdir(set);
  for (int n = 0; n < files; ++n) {
    ours << tmp.path() + QString("/ours/%1.mp3").arg(n);
    bare << tmp.path() + QString("/bare/%1.mp3").arg(n);
    if (!MakeSong(ours.back(), audioKb) || !MakeSong(bare.back(), audioKb)) {
      std::fprintf(stderr, "cannot write the songs\n");
      return 1;
    }
  }
  ::sync();
  std::printf("%d songs of %d KB, a %d KB cover\n", files, audioKb, coverKb);

  // Song by song, one of each set in turn, so that both meet the same state of the
  // page cache and the disk.
  QElapsedTimer timer;
  qint64 bareNs = 0, oursNs = 0, bareCpu = 0, oursCpu = 0;
  int bareFailed = 0, oursFailed = 0;
  const TagLib::ByteVector picture(cover.constData(), static_cast<unsigned>(cover.size()));
  for (int n = 0; n < files; ++n) {
    qint64 cpu = CpuNs();
    timer.start();
    {
      TagLib::MPEG::File f(QFile::encodeName(bare[n]).constData(), false);
      auto* frame = new TagLib::ID3v2::AttachedPictureFrame;
      frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
      frame->setMimeType("image/jpeg");
      frame->setPicture(picture);
      f.ID3v2Tag(true)->addFrame(frame);
      bareFailed +=
          f.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3) ? 0 : 1;
    }
    bareNs += timer.nsecsElapsed();
    bareCpu += CpuNs() - cpu;
    cpu = CpuNs();
    timer.start();
    oursFailed += lbtags::WriteCover(ours[n], cover).isEmpty() ? 0 : 1;
    oursNs += timer.nsecsElapsed();
    oursCpu += CpuNs() - cpu;
  }
  const qint64 bareMs = bareNs / 1000000, oursMs = oursNs / 1000000;
  Report("bare TagLib save (no flush)", bareMs, bareCpu / 1000000, files, bareFailed);
  Report("the program's cover write", oursMs, oursCpu / 1000000, files, oursFailed);
  std::printf("ratio: %.2f by the clock, %.2f by processor time (aim: at most 1.5)\n",
              double(oursMs) / std::max<qint64>(bareMs, 1),
              double(oursCpu) / std::max<qint64>(bareCpu, 1));
  return 0;
}
