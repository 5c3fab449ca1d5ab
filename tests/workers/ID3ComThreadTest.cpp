// The ID3Com apartment thread: one object shared by every attached thread, the
// program-wide lock keeping concurrent tag operations apart, the registration
// question, and requests to a thread that does not answer.
#include "model/ModelTestUtil.h"
#include "TestEnv.h"
#include "lbtools3/model/ID3ComAccess.h"
#include "lbtools3/model/M3uList.h"
#include "platform/ScriptedUiServices.h"

#include <QLibrary>
#include <gtest/gtest.h>
#include <thread>

namespace {

bool RegisterID3Com() {
  QLibrary lib(lbtest::BinDir() + "/libid3com.so");
  auto reg = reinterpret_cast<PFN_DllRegisterServer>(lib.resolve("DllRegisterServer"));
  return reg && SUCCEEDED(reg());
}

bool ClassRegistered() {
  ComPtr<IID3ComTag> tag;
  return SUCCEEDED(CoCreateInstance(CLSID_ID3ComTag, nullptr, CLSCTX_INPROC_SERVER, IID_IID3ComTag,
                                    tag.PutVoid()));
}

const char* kRegisterQuestion =
    "Библиотека для работы с ID3v2-тэгами не зарегистрирована.\nПопробовать зарегистрировать ?";

TEST(ID3ComThread, AttachedThreadsShareTheOneObject) {
  ASSERT_TRUE(RegisterID3Com());
  TID3COMThread apartment;
  apartment.Start();
  ASSERT_TRUE(apartment.WaitForStart());
  EXPECT_EQ(apartment.m_ErrorCode, 0);
  ASSERT_EQ(lb::AttachThreadToID3Com(&apartment), S_OK);
  IID3ComTag* mine = lb::ThreadID3Com();
  ASSERT_NE(mine, nullptr);
  IID3ComTag* theirs = nullptr;
  std::thread([&] {
    CoInitialize(nullptr);
    if (SUCCEEDED(lb::AttachThreadToID3Com(&apartment))) theirs = lb::ThreadID3Com();
    lb::DetachThreadFromID3Com();
    CoUninitialize();
  }).join();
  EXPECT_EQ(theirs, mine);
  lb::DetachThreadFromID3Com();
  EXPECT_EQ(lb::ThreadID3Com(), nullptr);
}

TEST(ID3ComThread, ConcurrentTagWritesStayApart) {
  ASSERT_TRUE(RegisterID3Com());
  TID3COMThread apartment;
  apartment.Start();
  ASSERT_TRUE(apartment.WaitForStart());
  const QString dir = lbtest::NewTempDir();
  const QString a = modeltest::MakeMp3(dir + "/a.mp3"), b = modeltest::MakeMp3(dir + "/b.mp3");
  auto writer = [&](const QString& path, const QString& title, bool* ok) {
    CoInitialize(nullptr);
    *ok = SUCCEEDED(lb::AttachThreadToID3Com(&apartment));
    TSlSong song(nullptr, path, QString());
    for (int i = 0; i < 25 && *ok; ++i) {
      song.m_Tag2.SetTitle(title + QString::number(i));
      song.m_Tag2.SetArtist(title);
      *ok = song.m_Tag2.WriteToFile(false);
    }
    lb::DetachThreadFromID3Com();
    CoUninitialize();
  };
  bool okA = false, okB = false;
  std::thread ta(writer, a, "A", &okA), tb(writer, b, "B", &okB);
  ta.join();
  tb.join();
  ASSERT_TRUE(okA && okB);
  ASSERT_EQ(lb::AttachThreadToID3Com(&apartment), S_OK);
  TSlSong sa(nullptr, a, QString()), sb(nullptr, b, QString());
  ASSERT_TRUE(sa.m_Tag2.ReadFromFile());
  ASSERT_TRUE(sb.m_Tag2.ReadFromFile());
  EXPECT_EQ(sa.m_Tag2.Title, "A24");
  EXPECT_EQ(sa.m_Tag2.Artist, "A");
  EXPECT_EQ(sb.m_Tag2.Title, "B24");
  EXPECT_EQ(sb.m_Tag2.Artist, "B");
  lb::DetachThreadFromID3Com();
}

TEST(ID3ComThread, RequestsToAThreadThatDoesNotRunFailAtOnce) {
  ASSERT_TRUE(RegisterID3Com());
  TID3COMThread never;
  EXPECT_TRUE(FAILED(lb::AttachThreadToID3Com(&never)));
  EXPECT_FALSE(never.WaitForStart());

  TID3COMThread ended;
  ended.Start();
  ASSERT_TRUE(ended.WaitForStart());
  ended.Quit();
  EXPECT_TRUE(FAILED(lb::AttachThreadToID3Com(&ended)));
  EXPECT_EQ(lb::ThreadID3Com(), nullptr);
}

TEST(ID3ComThread, UnregisteredClassAsksAndNoLeavesTheError) {
  if (ClassRegistered()) GTEST_SKIP() << "registered earlier in this process";
  ScriptedUiServices ui;
  ui.Answer(IDNO);
  TID3COMThread apartment;
  apartment.Start();
  EXPECT_FALSE(apartment.WaitForStart());
  EXPECT_EQ(apartment.m_ErrorCode, REGDB_E_CLASSNOTREG);
  ASSERT_EQ(ui.Messages().size(), 1);
  EXPECT_EQ(ui.Messages()[0].text, kRegisterQuestion);
  EXPECT_EQ(ui.Messages()[0].flags, unsigned(MB_YESNO | MB_ICONQUESTION));
  EXPECT_TRUE(FAILED(lb::AttachThreadToID3Com(&apartment)));
}

TEST(ID3ComThread, UnregisteredClassYesRegistersAndStarts) {
  if (ClassRegistered()) GTEST_SKIP() << "registered earlier in this process";
  ScriptedUiServices ui;
  ui.Answer(IDYES);
  TID3COMThread apartment;
  apartment.Start();
  ASSERT_TRUE(apartment.WaitForStart());
  EXPECT_EQ(ui.Texts(), QStringList{kRegisterQuestion});
  EXPECT_EQ(lb::AttachThreadToID3Com(&apartment), S_OK);
  lb::DetachThreadFromID3Com();
}

}  // namespace
