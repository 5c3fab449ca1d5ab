// Music files made up for the tag tests: valid MPEG-1 Layer III frames of silence, raw
// ID3v2 tags of any version built byte by byte, and ID3v1 tags.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace lbtest {

// n frames of 128 kbit/s, 44.1 kHz joint stereo: header FF FB 90 64, 417 bytes a frame.
inline QByteArray Mp3Audio(int frames = 20) {
  QByteArray frame(417, '\0');
  frame[0] = char(0xFF);
  frame[1] = char(0xFB);
  frame[2] = char(0x90);
  frame[3] = char(0x64);
  QByteArray audio;
  for (int i = 0; i < frames; ++i) audio += frame;
  return audio;
}

// A 128-byte ID3v1.1 tag (Latin-1 text is enough for these tests).
inline QByteArray Id3v1(const QByteArray& title, const QByteArray& artist, int genre = 17) {
  QByteArray tag("TAG");
  auto field = [&](const QByteArray& text, int width) {
    tag += text.left(width) + QByteArray(width - qMin<int>(width, text.size()), '\0');
  };
  field(title, 30);
  field(artist, 30);
  field("Album", 30);
  field("1999", 4);
  field("comment", 28);
  tag += '\0';
  tag += char(7);  // track
  tag += char(genre);
  return tag;
}

struct RawFrame {
  QByteArray id;    // 4 characters (3 for v2.2)
  QByteArray body;  // everything after the frame header
};

// A text frame body: encoding byte then the text. encoding 0 = Latin-1, 1 = UTF-16 with
// BOM, 3 = UTF-8.
inline QByteArray TextBody(const QString& text, int encoding = 0) {
  QByteArray body(1, char(encoding));
  if (encoding == 1) {
    body += "\xFF\xFE";
    body += QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
  } else if (encoding == 3) {
    body += text.toUtf8();
  } else {
    body += text.toLatin1();
  }
  return body;
}

// A comment frame body with Latin-1 description and text.
inline QByteArray CommentBody(const QByteArray& lang, const QByteArray& desc,
                              const QByteArray& text) {
  return QByteArray(1, '\0') + lang + desc + QByteArray(1, '\0') + text;
}

inline QByteArray SyncSafe(quint32 n) {
  QByteArray b(4, '\0');
  for (int i = 3; i >= 0; --i) {
    b[i] = char(n & 0x7F);
    n >>= 7;
  }
  return b;
}

inline QByteArray BigEndian(quint32 n, int bytes) {
  QByteArray b(bytes, '\0');
  for (int i = bytes - 1; i >= 0; --i) {
    b[i] = char(n & 0xFF);
    n >>= 8;
  }
  return b;
}

// A whole ID3v2 tag of the given major version (2, 3 or 4) with some padding.
inline QByteArray Id3v2(int version, const QList<RawFrame>& frames) {
  QByteArray body;
  for (const RawFrame& f : frames) {
    body += f.id;
    if (version == 2)
      body += BigEndian(f.body.size(), 3);
    else if (version == 3)
      body += BigEndian(f.body.size(), 4) + QByteArray(2, '\0');
    else
      body += SyncSafe(f.body.size()) + QByteArray(2, '\0');
    body += f.body;
  }
  body += QByteArray(64, '\0');
  return QByteArray("ID3") + char(version) + '\0' + '\0' + SyncSafe(body.size()) + body;
}

}  // namespace lbtest
