// The binary contract between the program and the extracters: identities, result
// codes, slot order, record fields, error reporting and the object rules every class
// of both servers keeps.
#include "ExtracterTestSupport.h"
#include "extracter/contract/ExtracterServer.h"
#include "tagextracter/ITagExtracter.h"

#include <QLibrary>
#include <stdexcept>

using namespace lbtest;

namespace {

TEST(ExtracterContract, IdentitiesAndResultCodes) {
  EXPECT_EQ(lb::GuidToString(LIBID_LBCOMExtracter), "{F5887D62-FAF7-4C47-85DD-181D51CFB098}");
  EXPECT_EQ(lb::GuidToString(IID_ISLLBExtracter), "{BAB58844-B4AF-4493-A42E-2071540627E2}");
  EXPECT_EQ(lb::GuidToString(CLSID_LBExtracterType1), "{06B39E35-79D1-4403-83CE-7B7487C53769}");
  EXPECT_EQ(lb::GuidToString(CLSID_LBExtracterType2), "{D3CA20D6-8E6C-46A1-B857-3F7A00952DAF}");
  EXPECT_EQ(lb::GuidToString(CLSID_LBExtracterType3), "{46D5613F-DD8F-4898-B172-1E8FBEB8DA9D}");
  EXPECT_EQ(lb::GuidToString(GUID_LBSongTagID3v1), "{7DFF3EF3-1576-479E-8BE0-6EFD5C666956}");
  EXPECT_EQ(lb::GuidToString(GUID_LBSongTagID3v2), "{A618337F-7113-4E67-B53E-29A8EC4656EE}");
  EXPECT_EQ(lb::GuidToString(CATID_LBExtracter), "{993E4F6E-7D83-4C75-BB22-63A118CD3CAB}");
  EXPECT_EQ(lb::GuidToString(LIBID_ZULib), "{A549BEB2-02EF-46EC-970B-D69FD910E372}");
  EXPECT_EQ(lb::GuidToString(IID_ITagExtracter), "{19C10C0D-A3A6-4653-ADAE-85706925A5FE}");
  EXPECT_EQ(lb::GuidToString(CLSID_TagExtracter), "{D2AABEAE-2FDD-4A8E-B141-FA0ECBB22911}");
  EXPECT_EQ(S_FALSE, 1);
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
  EXPECT_EQ(static_cast<uint32_t>(DISP_E_EXCEPTION), 0x80020009u);
  EXPECT_TRUE(FAILED(DISP_E_EXCEPTION));
  EXPECT_EQ(lb::VersionText(0x100), "1.0");
  EXPECT_EQ(lb::VersionText(0x20C), "2.12");
}

TEST(ExtracterContract, FixedFieldsKeepTheirWidth) {
  char field[30];
  const QString thirty = QStringLiteral("Ровно тридцать символов в поле");
  ASSERT_EQ(thirty.size(), 30);
  lb::SetFixedText(field, 30, thirty);
  EXPECT_NE(field[29], '\0');
  EXPECT_EQ(lb::FixedText(field, 30), thirty);
  lb::SetFixedText(field, 30, thirty + "!");
  EXPECT_EQ(lb::FixedText(field, 30), thirty);
  lb::SetFixedText(field, 30, QStringLiteral("Коротко"));
  EXPECT_EQ(lb::FixedText(field, 30), "Коротко");
  EXPECT_EQ(field[7], '\0');
  // A record read from the wire: nothing after the field's width is taken.
  LBSongTagID3v1 v1;
  std::memset(&v1, 'x', sizeof v1);
  EXPECT_EQ(lb::FixedText(v1.szTitle, 30).size(), 30);
  EXPECT_EQ(lb::FixedText(v1.szYear, 4), "xxxx");
}

TEST(ExtracterContract, InternalErrorBecomesErrorInfoAndDispException) {
  HRESULT hr = lb::GuardedExtracterCall("LBCOMExtracter.LBExtracterType1", []() -> HRESULT {
    throw std::runtime_error("catalog too large");
  });
  EXPECT_EQ(hr, DISP_E_EXCEPTION);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.Put()), S_OK);
  GUID iid{};
  info->GetGUID(&iid);
  EXPECT_EQ(iid, IID_ISLLBExtracter);
  BSTR text = nullptr;
  info->GetDescription(&text);
  EXPECT_EQ(lb::QStringFromBstr(text), "catalog too large");
  SysFreeString(text);
  text = nullptr;
  info->GetSource(&text);
  EXPECT_EQ(lb::QStringFromBstr(text), "LBCOMExtracter.LBExtracterType1");
  SysFreeString(text);
  EXPECT_EQ(lb::GuardedExtracterCall("x", [] { return S_FALSE; }), S_FALSE);
}

class ExtracterObjects : public TExtracterFixture {};

// Calls slot n of the object's vtable, as a client built from the type library does.
template <class... Args>
HRESULT CallSlot(ISLLBExtracter* e, int slot, Args... args) {
  using Fn = HRESULT (*)(ISLLBExtracter*, Args...);
  Fn fn = (*reinterpret_cast<Fn**>(e))[slot];
  return fn(e, args...);
}

TEST_F(ExtracterObjects, EveryClassAnswersThroughTheContractSlots) {
  const struct {
    CLSID clsid;
    QString description;
  } classes[] = {
      {CLSID_LBExtracterType1, "Для дисков, где есть папки \"musi\" и \"set\""},
      {CLSID_LBExtracterType2, "Для дисков, где есть папки \"setup\" и \"mus&song\""},
      {CLSID_LBExtracterType3, "Для дисков с характерным файлом \"tracker.ini\" в корне"},
      {CLSID_TagExtracter, "Для дисков, имеющих характерные папки Winamp, Sounds и Texts в корне"}};
  for (const auto& cls : classes) {
    ComPtr<ISLLBExtracter> e = CreateExtracter(cls.clsid);
    ASSERT_TRUE(e);
    LPOLESTR author = nullptr, description = nullptr;
    UINT version = 0;
    ASSERT_EQ(CallSlot(e.Get(), 7, &author), S_OK);
    ASSERT_EQ(CallSlot(e.Get(), 8, &description), S_OK);
    ASSERT_EQ(CallSlot(e.Get(), 12, &version), S_OK);
    EXPECT_EQ(QString::fromUtf16(author), "Corvane");
    EXPECT_EQ(QString::fromUtf16(description), cls.description);
    EXPECT_EQ(version, 0x100u);

    // Before any Recognize: no answer, records as they were.
    TRecords r;
    EXPECT_EQ(r.Ask(e.Get(), Path("a/b/c.mp3")), S_FALSE);
    EXPECT_EQ(r.Title2(), "old title");

    // Null pointers where a member writes are refused, not followed.
    std::u16string path = Wide(m_Root);
    LONG mask = 0;
    EXPECT_EQ(e->get_Author(nullptr), E_POINTER);
    EXPECT_EQ(e->get_Version(nullptr), E_POINTER);
    EXPECT_EQ(e->Recognize(path.data(), nullptr), E_POINTER);
    EXPECT_EQ(e->GetSongInfo(path.data(), nullptr, &r.v2, &mask), E_POINTER);
    EXPECT_EQ(e->GetSongInfo(path.data(), &r.v1, nullptr, &mask), E_POINTER);

    // GetSongText leaves its output alone.
    BSTR text = reinterpret_cast<BSTR>(0x1234);
    HRESULT hr = e->GetSongText(path.data(), &text);
    EXPECT_EQ(hr, cls.clsid == CLSID_TagExtracter ? S_FALSE : S_OK);
    EXPECT_EQ(text, reinterpret_cast<BSTR>(0x1234));

    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(e->QueryInterface(IID_IDispatch, dispatch.PutVoid()), S_OK);
    std::u16string name = u"getsonginfo";
    LPOLESTR names[] = {name.data()};
    DISPID id = 0;
    EXPECT_EQ(e->GetIDsOfNames(GUID_NULL, names, 1, 0x409, &id), S_OK);
    EXPECT_EQ(id, DISPID_LBExtracter_GetSongInfo);
  }
}

// An outer object that counts the references its inner part hands to it.
class TOuter : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  ULONG refs = 1;
};

TEST_F(ExtracterObjects, LibraryClassesCanBeAggregated) {
  TOuter outer;
  ComPtr<IUnknown> inner;
  EXPECT_EQ(CoCreateInstance(CLSID_LBExtracterType2, &outer, CLSCTX_ALL, IID_ISLLBExtracter,
                             inner.PutVoid()),
            CLASS_E_NOAGGREGATION);
  ASSERT_EQ(
      CoCreateInstance(CLSID_LBExtracterType2, &outer, CLSCTX_ALL, IID_IUnknown, inner.PutVoid()),
      S_OK);
  ISLLBExtracter* e = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_ISLLBExtracter, reinterpret_cast<void**>(&e)), S_OK);
  EXPECT_EQ(outer.refs, 2u) << "the interface's reference belongs to the outer object";
  UINT version = 0;
  EXPECT_EQ(e->get_Version(&version), S_OK);
  e->Release();
  EXPECT_EQ(outer.refs, 1u);
}

TEST_F(ExtracterObjects, ServersCanUnloadOnlyWithoutObjectsOrLocks) {
  for (const auto& [server, clsid] : {std::pair{LibraryServer(), CLSID_LBExtracterType1},
                                      std::pair{ZuServer(), CLSID_TagExtracter}}) {
    ComPtr<ISLLBExtracter> e = CreateExtracter(clsid);
    // The same module the layer loaded: a second load hands back the same library.
    QLibrary lib(server);
    ASSERT_TRUE(lib.load());
    auto canUnload = reinterpret_cast<PFN_DllCanUnloadNow>(lib.resolve("DllCanUnloadNow"));
    ASSERT_TRUE(canUnload);
    EXPECT_EQ(canUnload(), S_FALSE);
    e.Reset();
    EXPECT_EQ(canUnload(), S_OK);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.PutVoid()),
              S_OK);
    factory->LockServer(1);
    factory.Reset();
    EXPECT_EQ(canUnload(), S_FALSE);
    ASSERT_EQ(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.PutVoid()),
              S_OK);
    factory->LockServer(0);
    factory.Reset();
    EXPECT_EQ(canUnload(), S_OK);
  }
}

}  // namespace
