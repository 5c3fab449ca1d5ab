// Helpers shared by the extracter tests: registering the built servers into the test
// process's private registry, creating extracters, and records that free themselves.
#pragma once

#include "TestEnv.h"
#include "com/Com.h"
#include "extracter/contract/ExtracterRecords.h"
#include "extracter/contract/ISLLBExtracter.h"
#include "platform/CodePage.h"

#include <QProcess>
#include <QString>
#include <gtest/gtest.h>
#include <string>

#include <ostream>

// QString in the messages streamed into test failures (TestEnv.h prints values).
inline std::ostream& operator<<(std::ostream& os, const QString& text) {
  return os << '"' << text.toStdString() << '"';
}

namespace lbtest {

inline QString ServerPath(const char* file) {
  return BinDir() + QLatin1Char('/') + file;
}
inline QString LibraryServer() {
  return ServerPath("libLBCOMExtracter.so");
}
inline QString ZuServer() {
  return ServerPath("libzu.so");
}

// Runs lbregsvr on a server (unregisters with -u); its exit code.
inline int RunRegSvr(const QString& server, bool unregister = false) {
  QStringList args;
  if (unregister) args << QStringLiteral("-u");
  args << server;
  return QProcess::execute(BinDir() + QStringLiteral("/lbregsvr"), args);
}

// Both servers registered in this process's registry, the library first (it registers
// the category). Done once a process.
inline void EnsureServersRegistered() {
  static bool done = false;
  if (done) return;
  ASSERT_EQ(RunRegSvr(LibraryServer()), 0);
  ASSERT_EQ(RunRegSvr(ZuServer()), 0);
  done = true;
}

inline std::u16string Wide(const QString& text) {
  return text.toStdU16String();
}

inline ComPtr<ISLLBExtracter> CreateExtracter(REFCLSID clsid) {
  ComPtr<ISLLBExtracter> extracter;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_ISLLBExtracter, extracter.PutVoid()),
            S_OK);
  return extracter;
}

inline HRESULT Recognize(ISLLBExtracter* e, const QString& folder) {
  std::u16string path = Wide(folder);
  LONG mask = 0;
  return e->Recognize(path.data(), &mask);
}

inline QByteArray Oem(const QString& text) {
  return lb::ToOemCodePage(text);
}

// A record pair prefilled with recognisable content, freed at the end of the test.
struct TRecords {
  LBSongTagID3v1 v1;
  LBSongTagID3v2 v2;
  TRecords() {
    lb::InitTagRecords(v1, v2);
    lb::SetFixedText(v1.szTitle, 30, QStringLiteral("old title"));
    lb::SetFixedText(v1.szArtist, 30, QStringLiteral("old artist"));
    lb::SetFixedText(v1.szAlbum, 30, QStringLiteral("old album"));
    lb::SetFixedText(v1.szComment, 30, QStringLiteral("old comment"));
    lb::SetFixedText(v1.szYear, 4, QStringLiteral("2001"));
    v1.ucGenre = 17;
    v2.bstrTitle = lb::BstrFromQString(QStringLiteral("old title"));
    v2.bstrArtist = lb::BstrFromQString(QStringLiteral("old artist"));
    v2.bstrAlbum = lb::BstrFromQString(QStringLiteral("old album"));
    v2.bstrComposer = lb::BstrFromQString(QStringLiteral("old composer"));
    lb::SetFixedText(v2.szYear, 4, QStringLiteral("2002"));
    v2.ulGenre = 18;
    v2.ulTrack = 7;
  }
  ~TRecords() { lb::FreeTagID3v2(v2); }
  TRecords(const TRecords&) = delete;
  TRecords& operator=(const TRecords&) = delete;

  HRESULT Ask(ISLLBExtracter* e, const QString& song) {
    std::u16string path = Wide(song);
    LONG mask = static_cast<LONG>(kAllFieldsMask);
    return e->GetSongInfo(path.data(), &v1, &v2, &mask);
  }
  QString Title1() const { return lb::FixedText(v1.szTitle, 30); }
  QString Artist1() const { return lb::FixedText(v1.szArtist, 30); }
  QString Album1() const { return lb::FixedText(v1.szAlbum, 30); }
  QString Year1() const { return lb::FixedText(v1.szYear, 4); }
  QString Title2() const { return lb::QStringFromBstr(v2.bstrTitle); }
  QString Artist2() const { return lb::QStringFromBstr(v2.bstrArtist); }
  QString Album2() const { return lb::QStringFromBstr(v2.bstrAlbum); }
  QString Year2() const { return lb::FixedText(v2.szYear, 4); }
  // The fields no catalog extracter writes still hold what the test put in.
  void ExpectCommentGenreComposerKept() const {
    EXPECT_EQ(lb::FixedText(v1.szComment, 30), QStringLiteral("old comment"));
    EXPECT_EQ(v1.ucGenre, 17);
    EXPECT_EQ(v2.ulGenre, 18u);
    EXPECT_EQ(lb::QStringFromBstr(v2.bstrComposer), QStringLiteral("old composer"));
    EXPECT_EQ(v2.bstrComment, nullptr);
  }
};

// A test that creates objects by CLSID from the registered servers.
class TExtracterFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    EnsureServersRegistered();
    m_Root = NewTempDir() + QLatin1Char('/');
  }
  void TearDown() override { CoUninitialize(); }
  QString Path(const QString& relative) const { return m_Root + relative; }
  void Write(const QString& relative, const QByteArray& bytes) const {
    ASSERT_TRUE(WriteFile(Path(relative), bytes));
  }
  QString m_Root;
};

}  // namespace lbtest
