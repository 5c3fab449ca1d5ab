// Setting a cover on many MP3 files: the program's path (the tag component reads the
// file's tag, puts the picture in and rewrites the file through its writer; inside a
// write batch, as the tags editor's batch runs it, so that the rewritten copies are
// flushed and put in place in groups, and the batch's end is timed with it) against a
// bare TagLib save of the same change (an APIC frame added, MPEG::File::save, no flush)
// over a twin set of files, in the same run. Each round makes both sets afresh and
// runs the two sides one after the other, the first side changing from round to
// round; the best round of each side counts. The ratio reported is against the bare
// save; a second one, against the bare save plus one syncfs at its end, is labelled as
// such. Aim: at most 1.5 times the bare save. Run it again with
// LD_PRELOAD=libbench_nosync.so to see the part the flushes take.
// Usage: bench_covers [FILES] [AUDIO_KB] [COVER_KB] [FOLDER] [ROUNDS] (default 1000
// files of 1024 KB with a 500 KB cover, in the temporary folder, 3 rounds).
#include "lbtools3/model/ID3ComAccess.h"
#include "lbtools3/tags/Covers.h"
#include "platform/WriteBatch.h"

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
#include <fcntl.h>
#include <unistd.h>

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

  const int rounds = argc > 5 ? std::max(1, atoi(argv[5])) : 3;
  std::printf("%d songs of %d KB, a %d KB cover, best of %d rounds\n", files, audioKb, coverKb,
              rounds);
  const TagLib::ByteVector picture(cover.constData(), static_cast<unsigned>(cover.size()));
  QElapsedTimer timer;
  struct TSide {
    qint64 ns = -1, cpu = -1, lastNs = 0, lastCpu = 0;
    int failed = 0;
    void Keep(qint64 n, qint64 c) {
      lastNs = n;
      lastCpu = c;
      if (ns < 0 || n < ns) ns = n;
      if (cpu < 0 || c < cpu) cpu = c;
    }
  } bare, bareSynced, ours;
  for (int round = 0; round < rounds; ++round) {
    QStringList oursSet, bareSet;
    const QString folder = tmp.path() + QString("/%1").arg(round);
    for (const char* set : {"/ours", "/bare"}) QDir().mkpath(folder + set);
    for (int n = 0; n < files; ++n) {
      oursSet << folder + QString("/ours/%1.mp3").arg(n);
      bareSet << folder + QString("/bare/%1.mp3").arg(n);
      if (!MakeSong(oursSet.back(), audioKb) || !MakeSong(bareSet.back(), audioKb)) {
        std::fprintf(stderr, "cannot write the songs\n");
        return 1;
      }
    }
    ::sync();
    auto runBare = [&] {
      qint64 cpu = CpuNs();
      timer.start();
      for (int n = 0; n < files; ++n) {
        TagLib::MPEG::File f(QFile::encodeName(bareSet[n]).constData(), false);
        auto* frame = new TagLib::ID3v2::AttachedPictureFrame;
        frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        frame->setMimeType("image/jpeg");
        frame->setPicture(picture);
        f.ID3v2Tag(true)->addFrame(frame);
        bare.failed +=
            f.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3) ? 0 : 1;
      }
      const qint64 ns = timer.nsecsElapsed(), used = CpuNs() - cpu;
      bare.Keep(ns, used);
      // The same work made durable by one flush of the file system at its end.
      const int fd = ::open(QFile::encodeName(bareSet[0]).constData(), O_RDONLY | O_CLOEXEC);
      bare.failed += fd >= 0 && ::syncfs(fd) == 0 ? 0 : 1;
      if (fd >= 0) ::close(fd);
      bareSynced.Keep(timer.nsecsElapsed(), CpuNs() - cpu);
    };
    auto runOurs = [&] {
      qint64 cpu = CpuNs();
      timer.start();
      lb::TWriteBatch batch;
      for (int n = 0; n < files; ++n)
        ours.failed += lbtags::WriteCover(oursSet[n], cover).isEmpty() ? 0 : 1;
      ours.failed += batch.Finish() ? 0 : 1;
      ours.Keep(timer.nsecsElapsed(), CpuNs() - cpu);
    };
    if (round % 2 == 0) {
      runBare();
      runOurs();
    } else {
      runOurs();
      runBare();
    }
    std::printf("round %d: bare %lld ms, ours %lld ms (processor %lld / %lld ms)\n", round + 1,
                static_cast<long long>(bare.lastNs / 1000000),
                static_cast<long long>(ours.lastNs / 1000000),
                static_cast<long long>(bare.lastCpu / 1000000),
                static_cast<long long>(ours.lastCpu / 1000000));
    QDir(folder).removeRecursively();
  }
  auto report = [&](const char* what, const TSide& side) {
    Report(what, side.ns / 1000000, side.cpu / 1000000, files, side.failed);
  };
  report("bare TagLib save (no flush)", bare);
  report("bare save + one syncfs", bareSynced);
  report("the program's cover write", ours);
  std::printf("ratio: %.2f by the clock, %.2f by processor time (aim: at most 1.5)\n",
              double(ours.ns) / std::max<qint64>(bare.ns, 1),
              double(ours.cpu) / std::max<qint64>(bare.cpu, 1));
  std::printf("ratio against the bare save plus one syncfs at its end: %.2f by the clock\n",
              double(ours.ns) / std::max<qint64>(bareSynced.ns, 1));
  return 0;
}
