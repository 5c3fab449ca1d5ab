// Every writer that puts a file in place, reached through a symbolic link: the file the
// link leads to is written in its own folder, and the link stays a link.
#include "ModelTestUtil.h"

#include "lbtools3/model/M3uList.h"
#include "platform/IniFile.h"
#include "platform/Registry.h"
#include "platform/ScriptedUiServices.h"

#include "id3com/Mp3Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

namespace {

struct Writer {
  const char* name;
  const char* fileName;  // the link's and the target's name
  QByteArray initial;    // the target's content before the write
  std::function<bool(const QString& link)> write;
};

TEST(LinkWriters, EveryWriterWritesTheFileALinkLeadsTo) {
  ScriptedUiServices ui;
  ASSERT_TRUE(modeltest::AttachID3Com());
  const QByteArray mp3 = lbtest::Mp3Audio();
  auto documentWith = [](const QString& link) {
    auto doc = std::make_unique<TSlDocument>();
    doc->m_FileName = link;
    doc->m_Songs.push_back(std::make_unique<TSlSong>(doc.get(), "/music/a.mp3", QString()));
    return doc;
  };
  const Writer writers[] = {
      {"ID3v1 tag", "song.mp3", mp3,
       [](const QString& link) {
         TSlSong song(nullptr, link, QString());
         return song.m_Tag1.SetTitle("Title", false) && song.m_Tag1.WriteToFile(false);
       }},
      {"ID3v2 tag", "song.mp3", mp3,
       [](const QString& link) {
         TSlSong song(nullptr, link, QString());
         return song.m_Tag2.SetTitle(QString(3000, QChar(0x0416))) &&
                song.m_Tag2.WriteToFile(false);
       }},
      {"list", "list.m3u", "#EXTM3U\r\n/music/old.mp3\r\n",
       [&](const QString& link) { return documentWith(link)->SaveM3u(link, true); }},
      {"data file", "list.lbt", QByteArray(),
       [&](const QString& link) { return documentWith(link)->SaveData(link, true); }},
      {"settings", "lbtools3.ini", "[Main]\r\nOld=1\r\n",
       [](const QString& link) { return TIniFile(link).WriteString("Main", "New", "2"); }},
      {"registry store", "HKCU.reg", QByteArray(),
       [](const QString& link) {
         const QByteArray before = qgetenv("LBTOOLS_REGISTRY_DIR");
         qputenv("LBTOOLS_REGISTRY_DIR", QFile::encodeName(QFileInfo(link).path()));
         bool ok = false;
         {
           TRegistry reg(HKEY_CURRENT_USER);
           ok = reg.OpenKey("Software\\LinkTest", true) && reg.WriteString("Value", "x");
         }
         qputenv("LBTOOLS_REGISTRY_DIR", before);
         return ok;
       }},
  };
  for (const Writer& w : writers) {
    SCOPED_TRACE(w.name);
    const QString targetDir = lbtest::NewTempDir(), linkDir = lbtest::NewTempDir();
    const QString target = targetDir + "/" + w.fileName, link = linkDir + "/" + w.fileName;
    if (!w.initial.isNull()) {
      ASSERT_TRUE(lbtest::WriteFile(target, w.initial));
    }
    ASSERT_TRUE(QFile::link(target, link));
    ASSERT_TRUE(w.write(link));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), target);
    EXPECT_NE(lbtest::ReadFile(target), w.initial);
    const auto all = QDir::Files | QDir::Hidden | QDir::System;
    EXPECT_EQ(QDir(linkDir).entryList(all), QStringList{w.fileName});
    EXPECT_EQ(QDir(targetDir).entryList(all), QStringList{w.fileName});
  }
}

}  // namespace
