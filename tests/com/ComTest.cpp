// Result codes, GUID text, BSTR layout and the per-thread error object.
#include "com/Com.h"

#include <gtest/gtest.h>
#include <cstring>
#include <thread>

namespace {

TEST(ComResults, ValuesMatchTheWin32Codes) {
  EXPECT_EQ(S_OK, 0);
  EXPECT_EQ(S_FALSE, 1);
  EXPECT_EQ(uint32_t(E_NOTIMPL), 0x80004001u);
  EXPECT_EQ(uint32_t(E_NOINTERFACE), 0x80004002u);
  EXPECT_EQ(uint32_t(E_POINTER), 0x80004003u);
  EXPECT_EQ(uint32_t(E_FAIL), 0x80004005u);
  EXPECT_EQ(uint32_t(E_INVALIDARG), 0x80070057u);
  EXPECT_EQ(uint32_t(E_ACCESSDENIED), 0x80070005u);
  EXPECT_EQ(uint32_t(REGDB_E_CLASSNOTREG), 0x80040154u);
  EXPECT_EQ(uint32_t(CLASS_E_NOAGGREGATION), 0x80040110u);
  EXPECT_EQ(uint32_t(DISP_E_EXCEPTION), 0x80020009u);
  EXPECT_EQ(uint32_t(CO_E_DLLNOTFOUND), 0x800401F8u);
  EXPECT_TRUE(SUCCEEDED(S_OK));
  EXPECT_TRUE(SUCCEEDED(S_FALSE));  // a success that says "no"
  EXPECT_FALSE(FAILED(S_FALSE));
  EXPECT_TRUE(FAILED(E_FAIL));
  EXPECT_TRUE(FAILED(REGDB_E_CLASSNOTREG));
  EXPECT_FALSE(SUCCEEDED(E_INVALIDARG));
}

TEST(ComGuid, TextRoundTripAndRejects) {
  const GUID g = {0x52E49DFD, 0x1341, 0x4979, {0x8B, 0xDA, 0x4B, 0x92, 0x12, 0x21, 0xC6, 0x2B}};
  EXPECT_EQ(lb::GuidToString(g), "{52E49DFD-1341-4979-8BDA-4B921221C62B}");
  GUID back{};
  ASSERT_TRUE(lb::GuidFromString(lb::GuidToString(g), &back));
  EXPECT_EQ(back, g);
  ASSERT_TRUE(lb::GuidFromString("52e49dfd-1341-4979-8bda-4b921221c62b", &back));
  EXPECT_EQ(back, g);
  EXPECT_NE(back, GUID_NULL);
  for (const char* bad :
       {"", "{}", "{52E49DFD-1341-4979-8BDA-4B921221C62}", "{52E49DFD-1341-4979-8BDA4B921221C62B}",
        "52E49DFD-1341-4979-8BDA-4B921221C62B}", "{52E49DFD-1341-4979-8BDA-4B921221C62G}",
        "{+2E49DFD-1341-4979-8BDA-4B921221C62B}"})
    EXPECT_FALSE(lb::GuidFromString(bad, &back)) << bad;
  CLSID fromText{};
  EXPECT_EQ(CLSIDFromString(u"{52E49DFD-1341-4979-8BDA-4B921221C62B}", &fromText), S_OK);
  EXPECT_EQ(fromText, g);
  EXPECT_EQ(CLSIDFromString(u"{nonsense}", &fromText), CO_E_CLASSSTRING);
}

TEST(ComBstr, LayoutLengthsAndContent) {
  BSTR s = SysAllocString(u"abc");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 3u);
  uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<char*>(s) - 4, 4);
  EXPECT_EQ(prefix, 6u);  // bytes, not characters
  EXPECT_EQ(s[3], u'\0');
  SysFreeString(s);

  // Embedded zeros count: the length comes from the prefix.
  const char16_t withZero[] = {u'a', 0, u'b'};
  BSTR z = SysAllocStringLen(withZero, 3);
  EXPECT_EQ(SysStringLen(z), 3u);
  EXPECT_EQ(lb::QStringFromBstr(z).size(), 3);
  EXPECT_EQ(z[2], u'b');
  SysFreeString(z);

  BSTR blank = SysAllocStringLen(nullptr, 4);
  EXPECT_EQ(SysStringLen(blank), 4u);
  EXPECT_EQ(blank[0], 0);
  EXPECT_EQ(blank[4], 0);
  SysFreeString(blank);

  const QString cyr = QStringLiteral("Кино — Группа крови");
  BSTR c = lb::BstrFromQString(cyr);
  EXPECT_EQ(SysStringLen(c), UINT(cyr.size()));
  EXPECT_EQ(lb::QStringFromBstr(c), cyr);
  SysFreeString(c);

  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_TRUE(lb::QStringFromBstr(nullptr).isEmpty());
  SysFreeString(nullptr);
}

TEST(ComErrorInfo, BelongsToOneThread) {
  lb::SetErrorInfoText("main failure", "src", IID_IUnknown);
  QString inOther = "unset";
  std::thread other([&] {
    inOther = lb::TakeErrorDescription();
    lb::SetErrorInfoText("other failure", "src", IID_IUnknown);
  });
  other.join();
  EXPECT_EQ(inOther, "");
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR text = nullptr;
  info->GetDescription(&text);
  EXPECT_EQ(lb::QStringFromBstr(text), "main failure");
  SysFreeString(text);
  info->Release();
  // Taken: the thread has none left.
  EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE);
  EXPECT_EQ(info, nullptr);
  EXPECT_EQ(lb::TakeErrorDescription(), "");
}

}  // namespace
