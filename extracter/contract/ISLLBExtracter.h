// The extracter contract shared by the program and every extracter server: the type
// library identity, the interface ISLLBExtracter with its slots, the two tag records
// with their exact layouts, the extracter category and the fields mask.
//
// Results of the members:
//   S_OK     the extracter answers: Recognize knows the folder as the root of one of
//            its discs; GetSongInfo has written the song's information into the records.
//   S_FALSE  a normal "no": the folder is not one of its discs / nothing is known about
//            the song (outside the root, not covered by the catalog, catalog missing).
//            Callers compare with S_OK exactly and discard both records on anything else.
//   < 0      a failure: E_POINTER for a null pointer where a member must write;
//            DISP_E_EXCEPTION for an internal error, with the thread's error information
//            set (description = the error's message, interface = IID_ISLLBExtracter,
//            source = the class's ProgID).
#pragma once

#include "com/Com.h"

#include <cstddef>
#include <cstdint>

// Type library "LBCOMExtracter" ("LBCOMExtracter Library"), version 1.0, locale 0x409.
// {F5887D62-FAF7-4C47-85DD-181D51CFB098}
inline constexpr GUID LIBID_LBCOMExtracter = {
    0xF5887D62, 0xFAF7, 0x4C47, {0x85, 0xDD, 0x18, 0x1D, 0x51, 0xCF, 0xB0, 0x98}};
inline constexpr const char* kLBCOMExtracterLibName = "LBCOMExtracter";
inline constexpr const char* kLBCOMExtracterLibHelp = "LBCOMExtracter Library";
inline constexpr const char* kLBCOMExtracterLibVersion = "1.0";
inline constexpr LCID kLBCOMExtracterLibLcid = 0x409;

// {BAB58844-B4AF-4493-A42E-2071540627E2}
inline constexpr IID IID_ISLLBExtracter = {
    0xBAB58844, 0xB4AF, 0x4493, {0xA4, 0x2E, 0x20, 0x71, 0x54, 0x06, 0x27, 0xE2}};
inline constexpr const char* kISLLBExtracterName = "ISLLBExtracter";
inline constexpr const char* kISLLBExtracterHelp = "Dispatch interface for LBExtracterType1 Object";

// The three classes of the extracter library.
// {06B39E35-79D1-4403-83CE-7B7487C53769}
inline constexpr CLSID CLSID_LBExtracterType1 = {
    0x06B39E35, 0x79D1, 0x4403, {0x83, 0xCE, 0x7B, 0x74, 0x87, 0xC5, 0x37, 0x69}};
// {D3CA20D6-8E6C-46A1-B857-3F7A00952DAF}
inline constexpr CLSID CLSID_LBExtracterType2 = {
    0xD3CA20D6, 0x8E6C, 0x46A1, {0xB8, 0x57, 0x3F, 0x7A, 0x00, 0x95, 0x2D, 0xAF}};
// {46D5613F-DD8F-4898-B172-1E8FBEB8DA9D}
inline constexpr CLSID CLSID_LBExtracterType3 = {
    0x46D5613F, 0xDD8F, 0x4898, {0xB1, 0x72, 0x1E, 0x8F, 0xBE, 0xB8, 0xDA, 0x9D}};

// Records of the type library.
// {7DFF3EF3-1576-479E-8BE0-6EFD5C666956}
inline constexpr GUID GUID_LBSongTagID3v1 = {
    0x7DFF3EF3, 0x1576, 0x479E, {0x8B, 0xE0, 0x6E, 0xFD, 0x5C, 0x66, 0x69, 0x56}};
// {A618337F-7113-4E67-B53E-29A8EC4656EE}
inline constexpr GUID GUID_LBSongTagID3v2 = {
    0xA618337F, 0x7113, 0x4E67, {0xB5, 0x3E, 0x29, 0xA8, 0xEC, 0x46, 0x56, 0xEE}};

// The category that marks a class as an extracter.
// {993E4F6E-7D83-4C75-BB22-63A118CD3CAB}
inline constexpr CATID CATID_LBExtracter = {
    0x993E4F6E, 0x7D83, 0x4C75, {0xBB, 0x22, 0x63, 0xA1, 0x18, 0xCD, 0x3C, 0xAB}};
inline constexpr LCID kExtracterCategoryLcid = 0x409;
inline constexpr const char* kExtracterCategoryDescription =
    "Extracter components for LBTools program";

// The fields mask carries no per-bit meaning: Recognize reports all bits set and
// callers pass all bits set to GetSongInfo, which ignores it.
inline constexpr uint32_t kAllFieldsMask = 0xFFFFFFFFu;

// Width of the text fields of the ID3v1 record. The texts are in the tag code page
// (lb::ToTagCodePage, one byte a character). A shorter text ends with a NUL; a text of
// the full width has no terminator. Readers take at most the width and stop at a NUL.
inline constexpr int kID3v1TextWidth = 30;
inline constexpr int kYearWidth = 4;

#pragma pack(push, 1)
struct LBSongTagID3v1 {
  char szTitle[30];
  char szArtist[30];
  char szAlbum[30];
  char szComment[30];
  char szYear[4];
  uint8_t ucGenre;
};
#pragma pack(pop)
static_assert(sizeof(LBSongTagID3v1) == 125);
static_assert(alignof(LBSongTagID3v1) == 1);
static_assert(offsetof(LBSongTagID3v1, szTitle) == 0);
static_assert(offsetof(LBSongTagID3v1, szArtist) == 30);
static_assert(offsetof(LBSongTagID3v1, szAlbum) == 60);
static_assert(offsetof(LBSongTagID3v1, szComment) == 90);
static_assert(offsetof(LBSongTagID3v1, szYear) == 120);
static_assert(offsetof(LBSongTagID3v1, ucGenre) == 124);

// The field order of the type library; BSTR fields are 8 bytes on this 64-bit platform,
// so the record is 88 bytes with natural alignment (48 on 32-bit Windows). A null BSTR
// is an empty text. The caller owns every BSTR; an extracter that changes a field
// frees the old string and stores a new one from SysAllocString.
struct LBSongTagID3v2 {
  BSTR bstrTitle;
  BSTR bstrArtist;
  BSTR bstrAlbum;
  BSTR bstrComment;
  char szYear[4];
  uint32_t ulGenre;
  BSTR bstrComposer;
  BSTR bstrOrigArtist;
  BSTR bstrCopyright;
  BSTR bstrURL;
  BSTR bstrEncodedBy;
  uint32_t ulTrack;
};
static_assert(sizeof(BSTR) == 8, "the record layout below assumes 64-bit pointers");
static_assert(offsetof(LBSongTagID3v2, bstrTitle) == 0);
static_assert(offsetof(LBSongTagID3v2, bstrArtist) == 8);
static_assert(offsetof(LBSongTagID3v2, bstrAlbum) == 16);
static_assert(offsetof(LBSongTagID3v2, bstrComment) == 24);
static_assert(offsetof(LBSongTagID3v2, szYear) == 32);
static_assert(offsetof(LBSongTagID3v2, ulGenre) == 36);
static_assert(offsetof(LBSongTagID3v2, bstrComposer) == 40);
static_assert(offsetof(LBSongTagID3v2, bstrOrigArtist) == 48);
static_assert(offsetof(LBSongTagID3v2, bstrCopyright) == 56);
static_assert(offsetof(LBSongTagID3v2, bstrURL) == 64);
static_assert(offsetof(LBSongTagID3v2, bstrEncodedBy) == 72);
static_assert(offsetof(LBSongTagID3v2, ulTrack) == 80);
static_assert(sizeof(LBSongTagID3v2) == 88);

// DISPIDs of the members (the IDispatch side of the dual interface).
enum : DISPID {
  DISPID_LBExtracter_Author = 1,
  DISPID_LBExtracter_Description = 2,
  DISPID_LBExtracter_Recognize = 3,
  DISPID_LBExtracter_GetSongInfo = 4,
  DISPID_LBExtracter_GetSongText = 5,
  DISPID_LBExtracter_Version = 6,
};

// Dual interface; its six members take vtable slots 7 to 12, after the three IUnknown
// and four IDispatch slots.
//
// Calling order: create by CLSID, read Author/Description/Version at any time, call
// Recognize with the disc's root folder (ending with a separator), then GetSongInfo for
// any song below it, any number of times, in any order.
class ISLLBExtracter : public IDispatch {
 public:
  // Slot 7. A constant string owned by the extracter, valid while its server is
  // loaded: the caller copies it and never frees it.
  virtual HRESULT STDMETHODCALLTYPE get_Author(LPOLESTR* Value) = 0;
  // Slot 8. The same for the one-line description of the discs the extracter knows.
  virtual HRESULT STDMETHODCALLTYPE get_Description(LPOLESTR* Value) = 0;
  // Slot 9. S_OK when pwszPath is the root of one of the extracter's discs: it then
  // keeps the folder as its disc root and sets *pulFieldsMask to kAllFieldsMask.
  virtual HRESULT STDMETHODCALLTYPE Recognize(LPOLESTR pwszPath, LONG* pulFieldsMask) = 0;
  // Slot 10. S_OK when the extracter knows the song: the fields it knows are written,
  // every other field is left exactly as it came in. S_FALSE before any successful
  // Recognize and for songs it knows nothing about.
  virtual HRESULT STDMETHODCALLTYPE GetSongInfo(LPOLESTR pwszSongPath, LBSongTagID3v1* TagID3v1,
                                                LBSongTagID3v2* TagID3v2, LONG* pulFieldsMask) = 0;
  // Slot 11. No extracter has song texts: *bstrText is left untouched.
  virtual HRESULT STDMETHODCALLTYPE GetSongText(LPOLESTR pwszSongPath, BSTR* bstrText) = 0;
  // Slot 12. Bits 8-15 the major, bits 0-7 the minor version (0x100 is 1.0).
  virtual HRESULT STDMETHODCALLTYPE get_Version(UINT* Value) = 0;
};
