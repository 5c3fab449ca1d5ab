// A real server library end to end: lbregsvr registers it in another process, objects
// are created by CLSID and ProgID, the categories manager lists it, and unregistration
// takes it away again. Broken registrations fail with their codes and never crash.
#include "com/Categories.h"
#include "com/Com.h"
#include "fixture/Greeter.h"
#include "platform/Registry.h"

#include "support/TestEnv.h"

#include <QFileInfo>
#include <QLibrary>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

struct RunResult {
  int exitCode;
  QString output;
};

RunResult RunRegsvr(const QStringList& args,
                    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
  QProcess p;
  p.setProcessEnvironment(env);
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(LB_REGSVR, args);
  if (!p.waitForFinished(30000)) return {-1, "timeout"};
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2,
          QString::fromLocal8Bit(p.readAll())};
}

const QString kClassKey = "\\CLSID\\" + lb::GuidToString(CLSID_LbTestGreeter);

TEST(ComServer, RegisterCreateListAndUnregister) {
  RunResult reg = RunRegsvr({LB_FIXTURE_SERVER});
  ASSERT_EQ(reg.exitCode, 0) << reg.output.toStdString();

  TRegistry r(HKEY_CLASSES_ROOT);
  ASSERT_TRUE(r.OpenKeyReadOnly(kClassKey + "\\InprocServer32"));
  EXPECT_EQ(r.ReadString(""), QFileInfo(LB_FIXTURE_SERVER).canonicalFilePath());
  EXPECT_EQ(r.ReadString("ThreadingModel"), "Apartment");
  ASSERT_TRUE(r.OpenKeyReadOnly("\\LBTest.Greeter\\CLSID"));
  EXPECT_EQ(r.ReadString(""), lb::GuidToString(CLSID_LbTestGreeter));

  // By CLSID.
  ComPtr<ILbTestGreeter> greeter;
  ASSERT_EQ(CoCreateInstance(CLSID_LbTestGreeter, nullptr, CLSCTX_INPROC_SERVER, IID_ILbTestGreeter,
                             greeter.PutVoid()),
            S_OK);
  BSTR name = lb::BstrFromQString("Мир");
  BSTR out = nullptr;
  ASSERT_EQ(greeter->Greet(name, &out), S_OK);
  EXPECT_EQ(lb::QStringFromBstr(out), "Привет, Мир!");
  SysFreeString(out);  // allocated in the server, freed here: one allocator
  SysFreeString(name);
  // The server's error object reaches the caller's thread.
  EXPECT_EQ(greeter->Greet(nullptr, &out), E_INVALIDARG);
  EXPECT_EQ(lb::TakeErrorDescription(), "Имя не задано");
  // Interfaces the class lacks.
  ComPtr<IClassFactory> notThere;
  EXPECT_EQ(greeter->QueryInterface(IID_IClassFactory, notThere.PutVoid()), E_NOINTERFACE);

  // By ProgID.
  CLSID byName{};
  ASSERT_EQ(CLSIDFromProgID(kGreeterProgId, &byName), S_OK);
  EXPECT_EQ(byName, CLSID_LbTestGreeter);
  ComPtr<ILbTestGreeter> second;
  ASSERT_EQ(CoCreateInstance(byName, nullptr, CLSCTX_ALL, IID_ILbTestGreeter, second.PutVoid()),
            S_OK);
  LONG sum = 0;
  EXPECT_EQ(second->Add(40, 2, &sum), S_OK);
  EXPECT_EQ(sum, 42);
  LPOLESTR progId = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(CLSID_LbTestGreeter, &progId), S_OK);
  EXPECT_EQ(lb::QStringFromBstr(progId), QString::fromUtf16(kGreeterProgId));
  SysFreeString(progId);

  // Only in-process servers exist.
  ComPtr<ILbTestGreeter> remote;
  EXPECT_EQ(CoCreateInstance(CLSID_LbTestGreeter, nullptr, CLSCTX_LOCAL_SERVER, IID_ILbTestGreeter,
                             remote.PutVoid()),
            REGDB_E_CLASSNOTREG);

  // The category lists the class, from the registry alone.
  EXPECT_EQ(lb::ClassesOfCategory(CATID_LbTestCategory), QList<CLSID>{CLSID_LbTestGreeter});
  ComPtr<ICatInformation> cats;
  ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                             IID_ICatInformation, cats.PutVoid()),
            S_OK);
  CATID want = CATID_LbTestCategory;
  ComPtr<IEnumGUID> classes;
  ASSERT_EQ(cats->EnumClassesOfCategories(1, &want, 0, nullptr, classes.Put()), S_OK);
  GUID found[4];
  ULONG fetched = 0;
  EXPECT_EQ(classes->Next(4, found, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(found[0], CLSID_LbTestGreeter);
  ASSERT_TRUE(
      r.OpenKeyReadOnly("\\Component Categories\\" + lb::GuidToString(CATID_LbTestCategory)));
  EXPECT_EQ(r.ReadString("409"), "Тестовая категория");
  BSTR desc = nullptr;  // asked in Russian, answered from the English (409) value
  ASSERT_EQ(cats->GetCategoryDesc(CATID_LbTestCategory, 0x419, &desc), S_OK);
  EXPECT_EQ(lb::QStringFromBstr(desc), "Тестовая категория");
  SysFreeString(desc);

  // DllCanUnloadNow counts this server's objects only.
  QLibrary lib(LB_FIXTURE_SERVER);
  ASSERT_TRUE(lib.load());
  auto canUnload = reinterpret_cast<PFN_DllCanUnloadNow>(lib.resolve("DllCanUnloadNow"));
  ASSERT_NE(canUnload, nullptr);
  EXPECT_EQ(canUnload(), S_FALSE);
  greeter.Reset();
  second.Reset();
  EXPECT_EQ(canUnload(), S_OK);

  // Leaving the last category removes the emptied "Implemented Categories" key.
  ComPtr<ICatRegister> catReg;
  ASSERT_EQ(cats->QueryInterface(IID_ICatRegister, catReg.PutVoid()), S_OK);
  ASSERT_EQ(catReg->UnRegisterClassImplCategories(CLSID_LbTestGreeter, 1, &want), S_OK);
  EXPECT_FALSE(r.KeyExists(kClassKey + "\\Implemented Categories"));
  EXPECT_TRUE(r.KeyExists(kClassKey + "\\InprocServer32"));
  EXPECT_EQ(cats->IsClassOfCategories(CLSID_LbTestGreeter, 1, &want, 0, nullptr), S_FALSE);

  RunResult unreg = RunRegsvr({"-u", LB_FIXTURE_SERVER});
  ASSERT_EQ(unreg.exitCode, 0) << unreg.output.toStdString();
  EXPECT_FALSE(r.KeyExists(kClassKey));
  EXPECT_FALSE(r.KeyExists("\\LBTest.Greeter"));
  ComPtr<ILbTestGreeter> gone;
  EXPECT_EQ(CoCreateInstance(CLSID_LbTestGreeter, nullptr, CLSCTX_INPROC_SERVER, IID_ILbTestGreeter,
                             gone.PutVoid()),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(gone.Get(), nullptr);
  EXPECT_EQ(CLSIDFromProgID(kGreeterProgId, &byName), CO_E_CLASSSTRING);
  EXPECT_TRUE(lb::ClassesOfCategory(CATID_LbTestCategory).isEmpty());
}

// A class whose registration points at a library that is missing or is no server.
void RegisterBroken(const CLSID& clsid, const QString& path) {
  TRegistry r(HKEY_CLASSES_ROOT);
  ASSERT_TRUE(r.OpenKey("\\CLSID\\" + lb::GuidToString(clsid) + "\\InprocServer32", true));
  ASSERT_TRUE(r.WriteString("", path));
}

TEST(ComServer, BrokenRegistrationsFailCleanly) {
  const CLSID missing = {0x0BADF00D, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
  RegisterBroken(missing, lbtest::NewTempDir() + "/libgone.so");
  ComPtr<IUnknown> obj;
  EXPECT_EQ(CoCreateInstance(missing, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, obj.PutVoid()),
            CO_E_DLLNOTFOUND);

  // A file that is no library at all.
  const CLSID garbage = {0x0BADF00D, 1, 2, {3, 4, 5, 6, 7, 8, 9, 11}};
  QString junk = lbtest::NewTempDir() + "/libjunk.so";
  ASSERT_TRUE(lbtest::WriteFile(junk, QByteArray(4096, 'x')));
  RegisterBroken(garbage, junk);
  EXPECT_EQ(CoCreateInstance(garbage, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, obj.PutVoid()),
            CO_E_DLLNOTFOUND);

  // A real library without the entry points.
  const CLSID noEntry = {0x0BADF00D, 1, 2, {3, 4, 5, 6, 7, 8, 9, 12}};
  RegisterBroken(noEntry, LB_LIBRARY_WITHOUT_ENTRIES);
  EXPECT_EQ(CoCreateInstance(noEntry, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, obj.PutVoid()),
            CO_E_ERRORINDLL);

  // A class key without InprocServer32, and no key at all.
  const CLSID bare = {0x0BADF00D, 1, 2, {3, 4, 5, 6, 7, 8, 9, 13}};
  TRegistry r(HKEY_CLASSES_ROOT);
  ASSERT_TRUE(r.OpenKey("\\CLSID\\" + lb::GuidToString(bare), true));
  EXPECT_EQ(CoCreateInstance(bare, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, obj.PutVoid()),
            REGDB_E_CLASSNOTREG);
  const CLSID unknown = {0x0BADF00D, 1, 2, {3, 4, 5, 6, 7, 8, 9, 14}};
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, obj.PutVoid()),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr),
            E_POINTER);
}

TEST(ComServer, RegsvrReportsFailures) {
  RunResult none = RunRegsvr({});
  EXPECT_NE(none.exitCode, 0);
  EXPECT_TRUE(none.output.contains("Использование: lbregsvr"));

  RunResult missing = RunRegsvr({lbtest::NewTempDir() + "/libnothing.so"});
  EXPECT_EQ(missing.exitCode, 3);
  EXPECT_TRUE(missing.output.contains("Файл не найден")) << missing.output.toStdString();

  QString junk = lbtest::NewTempDir() + "/libjunk.so";
  ASSERT_TRUE(lbtest::WriteFile(junk, "not an ELF file"));
  RunResult notLib = RunRegsvr({junk});
  EXPECT_EQ(notLib.exitCode, 3);
  EXPECT_TRUE(notLib.output.contains("Библиотека не загружается")) << notLib.output.toStdString();

  RunResult noEntry = RunRegsvr({LB_LIBRARY_WITHOUT_ENTRIES});
  EXPECT_EQ(noEntry.exitCode, 4);
  EXPECT_TRUE(noEntry.output.contains("DllRegisterServer")) << noEntry.output.toStdString();

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("LB_FIXTURE_FAIL_REGISTER", "1");
  RunResult refused = RunRegsvr({LB_FIXTURE_SERVER}, env);
  EXPECT_EQ(refused.exitCode, 5);
  EXPECT_TRUE(refused.output.contains("0x80070005")) << refused.output.toStdString();
  TRegistry r(HKEY_CLASSES_ROOT);
  EXPECT_FALSE(r.KeyExists(kClassKey));
}

}  // namespace
