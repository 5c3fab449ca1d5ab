// Registration of both servers through lbregsvr into the test's private registry, and
// finding the extracters through the category afterwards.
#include "ExtracterTestSupport.h"
#include "extracter/client/Extracters.h"
#include "com/Categories.h"
#include "com/Server.h"
#include "platform/Registry.h"
#include "tagextracter/ITagExtracter.h"

#include <algorithm>

using namespace lbtest;

namespace {

QList<CLSID> CategoryClasses() {
  ComPtr<ICatInformation> info;
  EXPECT_EQ(lb::CreateCategoriesManager(IID_ICatInformation, info.PutVoid()), S_OK);
  CATID catid = CATID_LBExtracter;
  ComPtr<IEnumGUID> classes;
  QList<CLSID> found;
  if (FAILED(info->EnumClassesOfCategories(1, &catid, 0, nullptr, classes.Put()))) return found;
  GUID clsid;
  ULONG fetched = 0;
  while (classes->Next(1, &clsid, &fetched) == S_OK && fetched == 1) found << clsid;
  return found;
}

QString CategoryDescription() {
  ComPtr<ICatInformation> info;
  lb::CreateCategoriesManager(IID_ICatInformation, info.PutVoid());
  LPOLESTR text = nullptr;
  if (FAILED(info->GetCategoryDesc(CATID_LBExtracter, 0x409, &text)) || !text) return {};
  QString result = QString::fromUtf16(text);
  SysFreeString(text);
  return result;
}

QString ReadValue(const QString& key, const QString& name = QString()) {
  TRegistry reg(HKEY_CLASSES_ROOT);
  if (!reg.OpenKeyReadOnly(key)) return QStringLiteral("<missing>");
  return reg.ValueExists(name) ? reg.ReadString(name) : QStringLiteral("<no value>");
}

bool KeyExists(const QString& key) {
  return TRegistry(HKEY_CLASSES_ROOT).KeyExists(key);
}

const QString kType1Key = "\\CLSID\\{06B39E35-79D1-4403-83CE-7B7487C53769}";
const QString kZuKey = "\\CLSID\\{D2AABEAE-2FDD-4A8E-B141-FA0ECBB22911}";
const QString kLibKey = "\\TypeLib\\{F5887D62-FAF7-4C47-85DD-181D51CFB098}";
const QString kZuLibKey = "\\TypeLib\\{A549BEB2-02EF-46EC-970B-D69FD910E372}";

class ExtracterRegistration : public ::testing::Test {
 protected:
  void SetUp() override { CoInitialize(nullptr); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(ExtracterRegistration, RoundTripListsExactlyTheFourClassesThenNone) {
  ASSERT_EQ(RunRegSvr(LibraryServer()), 0);
  ASSERT_EQ(RunRegSvr(ZuServer()), 0);

  QList<CLSID> classes = CategoryClasses();
  QList<CLSID> want = {CLSID_LBExtracterType1, CLSID_LBExtracterType2, CLSID_LBExtracterType3,
                       CLSID_TagExtracter};
  auto byText = [](const CLSID& a, const CLSID& b) {
    return lb::GuidToString(a) < lb::GuidToString(b);
  };
  std::sort(classes.begin(), classes.end(), byText);
  std::sort(want.begin(), want.end(), byText);
  EXPECT_EQ(classes, want);
  EXPECT_EQ(CategoryDescription(), "Extracter components for LBTools program");

  // The library's classes: threading model Single, ProgID both ways, type library.
  EXPECT_EQ(ReadValue(kType1Key), "Extracter of info type 1 for LBTools program");
  EXPECT_EQ(ReadValue(kType1Key + "\\InprocServer32"), LibraryServer());
  EXPECT_EQ(ReadValue(kType1Key + "\\InprocServer32", "ThreadingModel"), "Single");
  EXPECT_EQ(ReadValue(kType1Key + "\\ProgID"), "LBCOMExtracter.LBExtracterType1");
  EXPECT_EQ(ReadValue("\\LBCOMExtracter.LBExtracterType1\\CLSID"),
            "{06B39E35-79D1-4403-83CE-7B7487C53769}");
  EXPECT_EQ(ReadValue(kType1Key + "\\TypeLib"), "{F5887D62-FAF7-4C47-85DD-181D51CFB098}");
  EXPECT_EQ(ReadValue(kLibKey + "\\1.0"), "LBCOMExtracter Library");
  EXPECT_EQ(ReadValue("\\Interface\\{BAB58844-B4AF-4493-A42E-2071540627E2}\\TypeLib"),
            "{F5887D62-FAF7-4C47-85DD-181D51CFB098}");

  // zu: two ProgIDs, no threading model, Programmable, its own type library.
  EXPECT_EQ(ReadValue(kZuKey), "TagExtracter Class");
  EXPECT_EQ(ReadValue(kZuKey + "\\InprocServer32"), ZuServer());
  EXPECT_EQ(ReadValue(kZuKey + "\\InprocServer32", "ThreadingModel"), "<no value>");
  EXPECT_EQ(ReadValue(kZuKey + "\\ProgID"), "Zu.TagExtracter.1");
  EXPECT_EQ(ReadValue(kZuKey + "\\VersionIndependentProgID"), "Zu.TagExtracter");
  EXPECT_TRUE(KeyExists(kZuKey + "\\Programmable"));
  EXPECT_EQ(ReadValue(kZuKey + "\\TypeLib"), "{A549BEB2-02EF-46EC-970B-D69FD910E372}");
  EXPECT_EQ(ReadValue("\\Zu.TagExtracter\\CurVer"), "Zu.TagExtracter.1");
  EXPECT_EQ(ReadValue("\\Zu.TagExtracter.1\\CLSID"), "{D2AABEAE-2FDD-4A8E-B141-FA0ECBB22911}");
  EXPECT_EQ(ReadValue(kZuLibKey + "\\1.0"), "zu 1.0 Type Library");
  CLSID byProgId{};
  EXPECT_EQ(CLSIDFromProgID(u"Zu.TagExtracter", &byProgId), S_OK);
  EXPECT_EQ(byProgId, CLSID_TagExtracter);

  ASSERT_EQ(RunRegSvr(ZuServer(), true), 0);
  ASSERT_EQ(RunRegSvr(LibraryServer(), true), 0);
  EXPECT_TRUE(CategoryClasses().isEmpty());
  EXPECT_EQ(CategoryDescription(), "");
  for (const QString& gone :
       {kType1Key, kZuKey, kLibKey, kZuLibKey, QString("\\LBCOMExtracter.LBExtracterType1"),
        QString("\\Zu.TagExtracter"), QString("\\Zu.TagExtracter.1"),
        QString("\\Interface\\{BAB58844-B4AF-4493-A42E-2071540627E2}")})
    EXPECT_FALSE(KeyExists(gone)) << gone.toStdString();
  EXPECT_TRUE(KeyExists("\\CLSID"));

  // Registering again after unregistration works as the first time.
  ASSERT_EQ(RunRegSvr(LibraryServer()), 0);
  EXPECT_EQ(CategoryClasses().size(), 3);
  ASSERT_EQ(RunRegSvr(ZuServer()), 0);
  EXPECT_EQ(CategoryClasses().size(), 4);
}

TEST_F(ExtracterRegistration, ClassWithMissingLibraryIsSkipped) {
  EnsureServersRegistered();
  // {6F1B0C52-3D2E-4C8A-9E57-1A2B3C4D5E6F}: a class whose server file has gone.
  const CLSID ghost = {
      0x6F1B0C52, 0x3D2E, 0x4C8A, {0x9E, 0x57, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F}};
  lb::ClassRegistration reg;
  reg.clsid = ghost;
  reg.description = "Ghost";
  ASSERT_EQ(lb::RegisterInprocClass(reg, NewTempDir() + "/libgone.so"), S_OK);
  ComPtr<ICatRegister> categories;
  ASSERT_EQ(lb::CreateCategoriesManager(IID_ICatRegister, categories.PutVoid()), S_OK);
  CATID catid = CATID_LBExtracter;
  ASSERT_EQ(categories->RegisterClassImplCategories(ghost, 1, &catid), S_OK);

  QStringList failures;
  std::vector<lb::TExtracterHandle> extracters = lb::CreateCategoryExtracters(&failures);
  EXPECT_EQ(extracters.size(), 4u);
  ASSERT_EQ(failures.size(), 1);
  EXPECT_TRUE(failures[0].contains("«Ghost»")) << failures[0];
  for (const lb::TExtracterHandle& h : extracters) {
    EXPECT_NE(h.clsid, ghost);
    EXPECT_EQ(h.version, 0x100u);
    EXPECT_FALSE(h.description.isEmpty());
  }
}

}  // namespace
