#include "ModelTestUtil.h"

#include "RegisterID3Com.h"
#include "lbtools3/model/ID3ComAccess.h"

#include <QFile>
#include <QLibrary>
#include <sys/stat.h>
#include <sys/time.h>

namespace modeltest {

QByteArray Mp3Frames(int frames) {
  // MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, no padding: 417 bytes a frame.
  QByteArray frame(417, '\0');
  frame[0] = char(0xFF);
  frame[1] = char(0xFB);
  frame[2] = char(0x90);
  frame[3] = char(0x64);
  QByteArray all;
  for (int i = 0; i < frames; ++i) all += frame;
  return all;
}

QString MakeMp3(const QString& path, int frames) {
  lbtest::WriteFile(path, Mp3Frames(frames));
  return path;
}

bool AttachID3Com() {
  if (!lbtest::RegisterID3Com()) return false;
  if (lb::ThreadID3Com()) return true;
  return SUCCEEDED(lb::AttachCurrentThreadToID3Com());
}

void TouchLater(const QString& path, int seconds) {
  struct stat st;
  QByteArray native = QFile::encodeName(path);
  ::stat(native.constData(), &st);
  struct timeval times[2];
  times[0].tv_sec = st.st_atim.tv_sec;
  times[0].tv_usec = 0;
  times[1].tv_sec = st.st_mtim.tv_sec + seconds;
  times[1].tv_usec = 0;
  ::utimes(native.constData(), times);
}

QStringList Paths(const TSlDocument& doc) {
  QStringList paths;
  for (int n = 0; n < doc.m_Songs.size(); ++n) paths << doc.m_Songs[n].m_Path;
  return paths;
}

Loaded LoadList(const QString& path, bool bSilent) {
  auto doc = std::make_unique<TSlDocument>();
  doc->SetFileName(path);
  const bool ok = doc->Load(bSilent);
  return {ok, std::move(doc)};
}

}  // namespace modeltest
