// The first synchronisation of a list without a data file (`lbtools3-cli list sync`)
// against a bare TagLib read of the same files (no audio properties), in one run: a list
// of MP3 files (ID3v2 and ID3v1), then one of FLAC files (a Vorbis comment). For the MP3
// list also against the physical floor of reading the same bytes (open, fstat, pread of
// the ID3v2 header and tag, pread of the last 128 bytes); for both the component's read
// of the same files in this process (LinkFile with the file's facts, as the
// synchronisation pass asks for each song), without the command's start, list and data
// file. Usage: bench_sync [FILES] (default 10000 of each). Works in a temporary folder
// with a registry store of its own; prints the times and their ratios (aims: <= 1.3
// against TagLib, <= 2 against the floor), in wall time and in processor time (user +
// system, steadier on a busy machine).
#include "com/Com.h"
#include "id3com/ID3Com.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <taglib/flacfile.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tfilestream.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

QByteArray SyncSafe(quint32 n) {
  QByteArray b(4, '\0');
  for (int i = 3; i >= 0; --i, n >>= 7) b[i] = char(n & 0x7F);
  return b;
}

QByteArray Utf16(const QString& text) {
  return "\xFF\xFE" + QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

QByteArray Frame(const char* id, const QString& text, bool comment = false) {
  QByteArray body(1, '\1');
  if (comment) body += "eng" + Utf16(QString()) + QByteArray(2, '\0');
  body += Utf16(text);
  QByteArray size(4, '\0');
  for (int i = 0; i < 4; ++i) size[i] = char((body.size() >> (24 - 8 * i)) & 0xFF);
  return QByteArray(id) + size + QByteArray(2, '\0') + body;
}

// A file as taggers leave it: an ID3v2.3 tag with padding, audio frames, ID3v1.
QByteArray Song(int n) {
  QByteArray frames = Frame("TIT2", QString("Песня %1").arg(n)) + Frame("TPE1", "Исполнитель") +
                      Frame("TALB", QString("Альбом %1").arg(n / 12)) + Frame("TYER", "1999") +
                      Frame("TRCK", QString::number(n % 12 + 1)) + Frame("TCON", "Rock") +
                      Frame("COMM", "Комментарий", true);
  frames += QByteArray(1024, '\0');
  QByteArray file = QByteArray("ID3\3\0\0", 6) + SyncSafe(frames.size()) + frames;
  QByteArray audio(417, '\0');
  audio[0] = char(0xFF), audio[1] = char(0xFB), audio[2] = char(0x90), audio[3] = char(0x64);
  for (int i = 0; i < 20; ++i) file += audio;
  QByteArray v1("TAG");
  v1 += QByteArray("Song").leftJustified(30, '\0') + QByteArray("Artist").leftJustified(30, '\0') +
        QByteArray("Album").leftJustified(30, '\0') + "1999" + QByteArray(30, '\0') + char(17);
  return file + v1;
}

QByteArray Le32(quint32 n) {
  QByteArray b(4, '\0');
  for (int i = 0; i < 4; ++i, n >>= 8) b[i] = char(n & 0xFF);
  return b;
}

// A FLAC file as encoders and taggers leave it: STREAMINFO, a Vorbis comment with the
// same fields, padding, audio frames.
QByteArray FlacSong(int n) {
  const auto block = [](int type, const QByteArray& body) {
    const auto size = quint32(body.size());
    return QByteArray(1, char(type)) + char(size >> 16) + char(size >> 8) + char(size) + body;
  };
  // Block sizes, frame sizes, 44100 Hz, 2 channels, 16 bits, the MD5.
  const QByteArray info =
      QByteArray::fromHex("100010000000000000000ac442f000000000") + QByteArray(16, '\0');
  const QStringList entries = {QString("TITLE=Песня %1").arg(n),
                               "ARTIST=Исполнитель",
                               QString("ALBUM=Альбом %1").arg(n / 12),
                               "DATE=1999",
                               QString("TRACKNUMBER=%1").arg(n % 12 + 1),
                               "GENRE=Rock",
                               "COMMENT=Комментарий"};
  QByteArray comment =
      Le32(32) + QByteArray("reference libFLAC 1.4.2 20221022") + Le32(quint32(entries.size()));
  for (const QString& e : entries) comment += Le32(quint32(e.toUtf8().size())) + e.toUtf8();
  return "fLaC" + block(0, info) + block(4, comment) + block(0x81, QByteArray(1024, '\0')) +
         QByteArray(20 * 417, '\x5A');
}

struct Cost {
  qint64 wallMs = 0;
  qint64 cpuMs = 0;
};

qint64 CpuMs(int who) {
  rusage u{};
  ::getrusage(who, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000LL +
         (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
}

Cost BareTagLib(const QStringList& paths, bool flac) {
  QElapsedTimer timer;
  timer.start();
  const qint64 cpu = CpuMs(RUSAGE_SELF);
  qint64 chars = 0;
  for (const QString& path : paths) {
    TagLib::FileStream stream(QFile::encodeName(path).constData(), true);
    if (flac) {
      TagLib::FLAC::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
      if (file.hasXiphComment()) chars += file.xiphComment()->title().size();
      continue;
    }
    TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (file.hasID3v2Tag()) chars += file.ID3v2Tag()->title().size();
    if (file.hasID3v1Tag()) chars += file.ID3v1Tag()->title().size();
  }
  if (chars == 0) std::fprintf(stderr, "no tags read\n");
  return {timer.elapsed(), CpuMs(RUSAGE_SELF) - cpu};
}

// The bytes every reader of both tags must fetch, and nothing else: open, fstat, the
// ID3v2 header, the rest of the tag it announces, the last 128 bytes.
Cost PhysicalFloor(const QStringList& paths) {
  std::vector<QByteArray> names;
  for (const QString& path : paths) names.push_back(QFile::encodeName(path));
  QElapsedTimer timer;
  timer.start();
  const qint64 cpu = CpuMs(RUSAGE_SELF);
  std::vector<char> buffer(1 << 16);
  long long sum = 0;
  for (const QByteArray& name : names) {
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) return {};
    unsigned char head[10];
    if (::pread(fd, head, 10, 0) == 10 && head[0] == 'I' && head[1] == 'D' && head[2] == '3') {
      const size_t size = (size_t(head[6] & 0x7F) << 21) | (size_t(head[7] & 0x7F) << 14) |
                          (size_t(head[8] & 0x7F) << 7) | size_t(head[9] & 0x7F);
      if (size > buffer.size()) buffer.resize(size);
      sum += ::pread(fd, buffer.data(), size, 10);
    }
    if (st.st_size >= 128) sum += ::pread(fd, buffer.data(), 128, st.st_size - 128);
    ::close(fd);
  }
  if (sum == 0) std::fprintf(stderr, "nothing read\n");
  return {timer.elapsed(), CpuMs(RUSAGE_SELF) - cpu};
}

Cost ComponentRead(const QStringList& paths) {
  ComPtr<IID3ComTag> tag;
  if (FAILED(CoCreateInstance(CLSID_ID3ComTag, nullptr, CLSCTX_INPROC_SERVER, IID_IID3ComTag,
                              tag.PutVoid())))
    return {};
  QElapsedTimer timer;
  timer.start();
  const qint64 cpu = CpuMs(RUSAGE_SELF);
  qint64 chars = 0;
  for (const QString& path : paths) {
    BSTR name = lb::BstrFromQString(path);
    ID3ComFileFacts facts{};
    tag->LinkFile(name, &facts);
    SysFreeString(name);
    BSTR title = nullptr;
    if (SUCCEEDED(tag->get_Title(&title))) chars += lb::QStringFromBstr(title).size();
    SysFreeString(title);
  }
  if (chars == 0) std::fprintf(stderr, "no titles read\n");
  return {timer.elapsed(), CpuMs(RUSAGE_SELF) - cpu};
}

Cost ListSync(const QString& bin, const QString& list) {
  QFile::remove(QFileInfo(list).path() + "/" + QFileInfo(list).completeBaseName() + ".lbt");
  QElapsedTimer timer;
  timer.start();
  const qint64 cpu = CpuMs(RUSAGE_CHILDREN);
  QProcess p;
  p.start(bin + "/lbtools3-cli", {"list", "sync", list});
  p.waitForFinished(-1);
  const Cost cost{timer.elapsed(), CpuMs(RUSAGE_CHILDREN) - cpu};
  if (p.exitCode() != 0) std::fprintf(stderr, "%s", p.readAllStandardError().constData());
  return cost;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 10000;
  QTemporaryDir tmp(QDir::tempPath() + "/bench_sync-XXXXXX");
  const QString root = tmp.path();
  qputenv("LBTOOLS_REGISTRY_DIR", QFile::encodeName(root + "/registry"));
  qputenv("LBTOOLS_INI", QFile::encodeName(root + "/lbtools3.ini"));
  const QString bin = QCoreApplication::applicationDirPath();
  QProcess::execute(bin + "/lbregsvr", {bin + "/libid3com.so"});

  for (const bool flac : {false, true}) {
    const QString ext = flac ? "flac" : "mp3";
    QDir().mkpath(root + "/" + ext);
    QStringList paths;
    QByteArray list;
    for (int n = 0; n < count; ++n) {
      const QString name = QString("%1/%2 - Песня.%1").arg(ext).arg(n, 5, 10, QChar('0'));
      QFile f(root + "/" + name);
      if (!f.open(QIODevice::WriteOnly) || f.write(flac ? FlacSong(n) : Song(n)) < 0) return 1;
      paths << root + "/" + name;
      list += name.toUtf8() + "\r\n";
    }
    QFile m3u(root + "/" + ext + ".m3u");
    if (!m3u.open(QIODevice::WriteOnly) || m3u.write(list) < 0) return 1;
    m3u.close();

    BareTagLib(paths, flac);  // warm the cache
    Cost taglib, physical, component, ours;
    const auto keepBest = [](Cost* best, const Cost& c, int round) {
      best->wallMs = round ? std::min(best->wallMs, c.wallMs) : c.wallMs;
      best->cpuMs = round ? std::min(best->cpuMs, c.cpuMs) : c.cpuMs;
    };
    for (int round = 0; round < 5; ++round) {
      keepBest(&taglib, BareTagLib(paths, flac), round);
      if (!flac) keepBest(&physical, PhysicalFloor(paths), round);
      keepBest(&component, ComponentRead(paths), round);
      keepBest(&ours, ListSync(bin, m3u.fileName()), round);
    }
    auto ratio = [](qint64 a, qint64 b) { return b ? double(a) / double(b) : 0.0; };
    const auto line = [](const char* what, const Cost& c) {
      std::printf("%-27s %6lld ms wall, %6lld ms processor\n", what,
                  static_cast<long long>(c.wallMs), static_cast<long long>(c.cpuMs));
    };
    std::printf("%s files: %d\n", flac ? "FLAC" : "MP3", count);
    if (!flac) line("physical floor:", physical);
    line("bare TagLib read:", taglib);
    line("component read:", component);
    line("list sync (no data file):", ours);
    std::printf("ours / TagLib: %.2f wall, %.2f processor (aim <= 1.30)\n",
                ratio(ours.wallMs, taglib.wallMs), ratio(ours.cpuMs, taglib.cpuMs));
    if (!flac) {
      std::printf("ours / floor:  %.2f wall, %.2f processor (aim <= 2.00)\n",
                  ratio(ours.wallMs, physical.wallMs), ratio(ours.cpuMs, physical.cpuMs));
      std::printf("component read / floor: %.2f wall, %.2f processor\n",
                  ratio(component.wallMs, physical.wallMs), ratio(component.cpuMs, physical.cpuMs));
    }
  }
  return 0;
}
