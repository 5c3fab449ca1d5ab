// Setting a cover on many MP3 files: the program's path (the tag component reads the
// file's tag, puts the picture in and rewrites the file through its writer; inside a
// write batch, as the tags editor's batch runs it, so that the rewritten copies are
// flushed and put in place in groups, and the batch's end is timed with it) against a
// bare TagLib save of the same change (an APIC frame added, MPEG::File::save, no flush)
// over a twin set of files, in the same run. Each round makes both sets afresh and
// runs the two sides one after the other, the first side changing from round to
// round; the best round of each side counts. The ratio reported is against the bare
// save; a second one, against the bare save plus one syncfs at its end, is labelled as
// such. A third reference, the floor of any crash-safe writer of a grown tag, is a bare
// copy-and-rename loop (the new head and the audio written into a new file beside each
// song, renamed over it; no tag parsing, no flush), printed with and without one syncfs
// at its end. Aim: at most 1.5 times the bare save. Run it again with
// LD_PRELOAD=libbench_nosync.so to see the part the flushes take.
// Usage: bench_covers [FILES] [AUDIO_KB] [COVER_KB] [FOLDER] [ROUNDS] (default 1000
// files of 1024 KB with a 500 KB cover, in the temporary folder, 3 rounds).
#include "SyncFileSystem.h"
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
#include <functional>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
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

// The floor of a rewrite through a new file: head, then the song's audio after its old
// tag, written into a new file beside the song with copy_file_range, renamed over it.
bool CopyAndRename(const QString& path, const QByteArray& head) {
  const QByteArray name = QFile::encodeName(path), made = name + ".new";
  const int in = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  unsigned char h[10];
  struct stat st;
  bool ok = ::fstat(in, &st) == 0 && ::pread(in, h, 10, 0) == 10;
  const int64_t oldSize =
      10 + ((h[6] & 0x7F) << 21 | (h[7] & 0x7F) << 14 | (h[8] & 0x7F) << 7 | (h[9] & 0x7F));
  const int out = ::open(made.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ok = ok && out >= 0 && ::pwrite(out, head.constData(), head.size(), 0) == head.size();
  loff_t from = oldSize, to = head.size();
  for (int64_t left = st.st_size - oldSize; ok && left > 0;) {
    const ssize_t n = ::copy_file_range(in, &from, out, &to, size_t(left), 0);
    ok = n > 0;
    left -= n;
  }
  ok = out >= 0 && ::close(out) == 0 && ok;
  ::close(in);
  return ok && ::rename(made.constData(), name.constData()) == 0;
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
  } bare, bareSynced, ours, copied, copiedSynced;
  // The new head of the copy floor: a tag of the size the program writes (the cover, a
  // few text frames, the padding a grown tag gets).
  QByteArray copyHead = QByteArray("ID3\x03\0\0", 6) + QByteArray(4, '\0') + cover;
  copyHead.append(QByteArray(4096 + 256, '\0'));
  for (int round = 0; round < rounds; ++round) {
    QStringList oursSet, bareSet, copySet;
    const QString folder = tmp.path() + QString("/%1").arg(round);
    for (const char* set : {"/ours", "/bare", "/copy"}) QDir().mkpath(folder + set);
    for (int n = 0; n < files; ++n) {
      oursSet << folder + QString("/ours/%1.mp3").arg(n);
      bareSet << folder + QString("/bare/%1.mp3").arg(n);
      copySet << folder + QString("/copy/%1.mp3").arg(n);
      if (!MakeSong(oursSet.back(), audioKb) || !MakeSong(bareSet.back(), audioKb) ||
          !MakeSong(copySet.back(), audioKb)) {
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
      bare.failed += SyncFileSystemOf(bareSet[0]) ? 0 : 1;
      bareSynced.Keep(timer.nsecsElapsed(), CpuNs() - cpu);
    };
    auto runCopy = [&] {
      qint64 cpu = CpuNs();
      timer.start();
      for (int n = 0; n < files; ++n) copied.failed += CopyAndRename(copySet[n], copyHead) ? 0 : 1;
      copied.Keep(timer.nsecsElapsed(), CpuNs() - cpu);
      copied.failed += SyncFileSystemOf(copySet[0]) ? 0 : 1;
      copiedSynced.Keep(timer.nsecsElapsed(), CpuNs() - cpu);
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
    // The order turns from round to round, so that no side always follows another.
    const std::function<void()> sides[] = {runBare, runOurs, runCopy};
    for (int i = 0; i < 3; ++i) sides[(i + round) % 3]();
    std::printf(
        "round %d: bare %lld ms, ours %lld ms, copy+rename %lld ms (processor %lld / %lld / %lld "
        "ms)\n",
        round + 1, static_cast<long long>(bare.lastNs / 1000000),
        static_cast<long long>(ours.lastNs / 1000000),
        static_cast<long long>(copied.lastNs / 1000000),
        static_cast<long long>(bare.lastCpu / 1000000),
        static_cast<long long>(ours.lastCpu / 1000000),
        static_cast<long long>(copied.lastCpu / 1000000));
    QDir(folder).removeRecursively();
  }
  auto report = [&](const char* what, const TSide& side) {
    Report(what, side.ns / 1000000, side.cpu / 1000000, files, side.failed);
  };
  report("bare TagLib save (no flush)", bare);
  report("bare save + one syncfs", bareSynced);
  report("copy+rename loop (no flush)", copied);
  report("copy+rename + one syncfs", copiedSynced);
  report("the program's cover write", ours);
  std::printf("ratio: %.2f by the clock, %.2f by processor time (aim: at most 1.5)\n",
              double(ours.ns) / std::max<qint64>(bare.ns, 1),
              double(ours.cpu) / std::max<qint64>(bare.cpu, 1));
  std::printf("ratio against the bare save plus one syncfs at its end: %.2f by the clock\n",
              double(ours.ns) / std::max<qint64>(bareSynced.ns, 1));
  std::printf(
      "floor of a crash-safe writer: copy+rename (no flush) / bare save %.2f by the clock, "
      "%.2f by processor time; with one syncfs / bare save + one syncfs %.2f\n",
      double(copied.ns) / std::max<qint64>(bare.ns, 1),
      double(copied.cpu) / std::max<qint64>(bare.cpu, 1),
      double(copiedSynced.ns) / std::max<qint64>(bareSynced.ns, 1));
  std::printf(
      "ours against copy+rename: %.2f by the clock (no flush), %.2f against it plus one "
      "syncfs\n",
      double(ours.ns) / std::max<qint64>(copied.ns, 1),
      double(ours.ns) / std::max<qint64>(copiedSynced.ns, 1));
  return 0;
}
