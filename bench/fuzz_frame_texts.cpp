// Random mutations of ID3v2 tags against the lean tag reader, built with the address and
// undefined-behaviour sanitizers (cmake -DLB_FUZZ=ON, target fuzz_frame_texts; run by
// hand, never by ctest). Usage: fuzz_frame_texts [SECONDS] (default 60) [SEED].
//
// Each mutated tag goes through the frame walk and the lean reader in this process;
// every tag the lean reader takes, and one in sixteen of the others, is also written to
// a file and read by the component compiled into this program with
// LBTOOLS_ID3COM_CROSSCHECK set, so a difference from TagLib stops the run (and names
// the file, which is kept). Inputs the lean reader takes join the pool that later
// mutations start from.
#include "com/Com.h"
#include "id3com/FrameTexts.h"
#include "id3com/ID3Com.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <random>
#include <vector>

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv);

namespace {

QByteArray SyncSafe(uint32_t n) {
  return id3::SyncSafe(n);
}

QByteArray BigEndian(uint32_t n) {
  QByteArray b(4, '\0');
  for (int i = 3; i >= 0; --i, n >>= 8) b[i] = char(n & 0xFF);
  return b;
}

QByteArray Utf16(const QString& text, bool bom = true) {
  return (bom ? QByteArray("\xFF\xFE") : QByteArray()) +
         QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

QByteArray Tag(int version, const std::vector<std::pair<QByteArray, QByteArray>>& frames,
               int padding) {
  QByteArray body;
  for (const auto& [id, data] : frames)
    body += id + (version == 3 ? BigEndian(data.size()) : SyncSafe(data.size())) +
            QByteArray(2, '\0') + data;
  body += QByteArray(padding, '\0');
  return "ID3" + QByteArray(1, char(version)) + QByteArray(2, '\0') + SyncSafe(body.size()) + body;
}

std::vector<QByteArray> Seeds() {
  const QByteArray cp1251("\xCA\xE8\xED\xEE");  // "Кино" in Windows-1251
  std::vector<QByteArray> seeds;
  for (int version : {3, 4}) {
    seeds.push_back(
        Tag(version,
            {{"TIT2",
              "\x01" + Utf16(QStringLiteral("Песня")) + QByteArray(2, '\0') + Utf16("two", false)},
             {"TPE1", QByteArray(1, '\0') + cp1251},
             {"TALB", "\x03" + QStringLiteral("Альбом 🎵").toUtf8()},
             {"TYER", QByteArray("\x00"
                                 "1999",
                                 5)},
             {"TDRC", QByteArray("\x00"
                                 "2001-05-06",
                                 11)},
             {"TRCK", QByteArray("\x00"
                                 "3/10",
                                 5)},
             {"TCON", QByteArray("\x00(17)Rock\x00(4)", 13)},
             {"COMM", QByteArray("\x01"
                                 "eng",
                                 4) +
                          Utf16("d") + QByteArray(2, '\0') + Utf16(QStringLiteral("Коммент"))},
             {"COMM", QByteArray("\x00"
                                 "rus\x00",
                                 5) +
                          cp1251},
             {"WXXX", QByteArray("\x00\x00http://example.org/%D0%B0", 28)},
             {"TCOM", "\x02" + QByteArray("\x04\x1A\x04\x38", 4)}},
            version == 3 ? 64 : 0));
    seeds.push_back(Tag(version,
                        {{"TCON", QByteArray("\x01\xFF\xFE"
                                             "1\x00"
                                             "7\x00",
                                             7)},
                         {"WXXX", "\x01" + Utf16("x") + QByteArray(2, '\0') + "www.a.b"},
                         {"TENC", QByteArray("\x00", 1)},
                         {"PRIV", QByteArray("owner\x00\x01\x02", 8)}},
                        4096));
  }
  return seeds;
}

class TMutator {
 public:
  explicit TMutator(unsigned seed) : m_Random(seed) {}

  int Below(int n) { return n <= 0 ? 0 : std::uniform_int_distribution<int>(0, n - 1)(m_Random); }

  QByteArray Mutate(QByteArray b) {
    for (int round = 1 + Below(4); round > 0; --round) {
      const int at = Below(int(b.size()));
      switch (Below(8)) {
        case 0:  // a bit
          if (!b.isEmpty()) b[at] = char(b[at] ^ (1 << Below(8)));
          break;
        case 1: {  // a byte of a kind the reader looks at
          static const char kinds[] = {0,          1,          2,          3,          4,
                                       char(0xFF), char(0xFE), char(0x7F), char(0x80), '(',
                                       ')',        '/',        'T',        'C'};
          if (!b.isEmpty()) b[at] = kinds[Below(sizeof kinds)];
          break;
        }
        case 2:  // bytes in
          b.insert(at, QByteArray(1 + Below(8), char(Below(256))));
          break;
        case 3:  // bytes out
          b.remove(at, 1 + Below(16));
          break;
        case 4: {  // a size field: the tag's or a frame's
          const int pos = Below(2) ? 6 : at;
          const uint32_t n = Below(2) ? uint32_t(Below(300)) : uint32_t(m_Random());
          if (pos + 4 <= b.size())
            b.replace(pos, 4, Below(2) ? SyncSafe(n & 0x0FFFFFFF) : BigEndian(n));
          break;
        }
        case 5:  // the header's version or flags
          if (b.size() > 5) b[3 + Below(3)] = char(Below(2) ? Below(6) : Below(256));
          break;
        case 6:  // a piece repeated
          b.insert(at, b.mid(Below(int(b.size())), Below(40)));
          break;
        default:  // cut short
          b.truncate(at);
          break;
      }
    }
    return b;
  }

 private:
  std::mt19937 m_Random;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 60;
  const unsigned seed = argc > 2 ? unsigned(atoi(argv[2])) : 28;
  QTemporaryDir tmp(QDir::tempPath() + "/fuzz_frame_texts-XXXXXX");
  tmp.setAutoRemove(false);  // a file that stopped the run stays
  qputenv("LBTOOLS_INI", QFile::encodeName(tmp.path() + "/lbtools3.ini"));
  qputenv("LBTOOLS_REGISTRY_DIR", QFile::encodeName(tmp.path() + "/registry"));
  qputenv("LBTOOLS_ID3COM_CROSSCHECK", "1");

  ComPtr<IClassFactory> factory;
  ComPtr<IID3ComTag> tag;
  if (DllGetClassObject(CLSID_ID3ComTag, IID_IClassFactory, factory.PutVoid()) != S_OK ||
      factory->CreateInstance(nullptr, IID_IID3ComTag, tag.PutVoid()) != S_OK) {
    std::fprintf(stderr, "no component\n");
    return 1;
  }
  const QString file = tmp.path() + "/song.mp3";
  BSTR path = lb::BstrFromQString(file);
  const QByteArray audio = QByteArray("\xFF\xFB\x90\x64", 4) + QByteArray(413, '\0');

  std::vector<QByteArray> pool = Seeds();
  TMutator mutator(seed);
  QElapsedTimer timer;
  timer.start();
  long long runs = 0, taken = 0, linked = 0;
  while (timer.elapsed() < seconds * 1000LL) {
    const QByteArray input = mutator.Mutate(pool[size_t(mutator.Below(int(pool.size())))]);
    ++runs;
    id3::TFrameTexts texts;
    const bool lean = id3::ReadFrameTexts(input, id3::WalkFrames(input, false), &texts);
    if (lean) {
      ++taken;
      if (pool.size() < 4096) pool.push_back(input);
    }
    if (lean || mutator.Below(16) == 0) {
      QFile f(file);
      if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(input + audio) < 0)
        return 1;
      f.close();
      tag->Link(path);
      ++linked;
    }
  }
  SysFreeString(path);
  std::printf(
      "%d s: %lld tags mutated, %lld taken by the lean reader, %lld read by the "
      "component against TagLib, no difference\n",
      seconds, runs, taken, linked);
  tmp.setAutoRemove(true);
  return 0;
}
