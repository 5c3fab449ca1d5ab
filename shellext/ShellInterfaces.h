// The file manager's side of a context-menu handler: the interfaces a handler offers
// (IShellExtInit, IContextMenu) and the two objects the file manager hands to it (the
// selection and the menu). Interfaces are classes of pure virtual functions in slot
// order, like every interface of the COM layer.
#pragma once

#include "com/Com.h"

#include <cstdint>

using UINT_PTR = uintptr_t;
// A window is a message port here (0: none).
using HWND = int64_t;

// The clipboard format of a list of dropped files.
inline constexpr UINT CF_HDROP = 15;

// The selection. GetData answers in the dropped-files format only: the paths as UTF-16,
// each followed by one NUL, then one more NUL, in one BSTR the caller frees.
class IShellDataObject : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE GetData(UINT format, BSTR* data) = 0;
};

// The context menu being built. InsertMenuItem puts a string item before the given
// position (past the end: at the end).
class IShellMenu : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE InsertMenuItem(UINT position, UINT commandId,
                                                   LPCOLESTR text) = 0;
};

class IShellExtInit : public IUnknown {
 public:
  // folder and programKey are not used by handlers of selected files (null here).
  virtual HRESULT STDMETHODCALLTYPE Initialize(const void* folder, IShellDataObject* dataObject,
                                               const void* programKey) = 0;
};

// Flags of QueryContextMenu and GetCommandString.
inline constexpr UINT CMF_NORMAL = 0x0;
inline constexpr UINT CMF_DEFAULTONLY = 0x1;
inline constexpr UINT GCS_VERBA = 0x0;
inline constexpr UINT GCS_HELPTEXTA = 0x1;
inline constexpr UINT GCS_VALIDATEA = 0x2;
inline constexpr UINT GCS_UNICODE = 0x4;
inline constexpr UINT GCS_HELPTEXTW = GCS_HELPTEXTA | GCS_UNICODE;

// What the file manager passes when the user chooses an item. lpVerb is either a
// verb text or, when its value is below 0x10000, the item's offset from the first
// command id.
struct CMINVOKECOMMANDINFO {
  DWORD cbSize;
  DWORD fMask;
  HWND hwnd;
  const char* lpVerb;
  const char* lpParameters;
  const char* lpDirectory;
  int nShow;
  DWORD dwHotKey;
  void* hIcon;
};

class IContextMenu : public IUnknown {
 public:
  // Success codes carry the number of command ids used in their low 16 bits.
  virtual HRESULT STDMETHODCALLTYPE QueryContextMenu(IShellMenu* menu, UINT indexMenu,
                                                     UINT idCmdFirst, UINT idCmdLast,
                                                     UINT flags) = 0;
  virtual HRESULT STDMETHODCALLTYPE InvokeCommand(CMINVOKECOMMANDINFO* info) = 0;
  // buffer holds bufferSize characters: char16_t when flags has GCS_UNICODE, else char.
  virtual HRESULT STDMETHODCALLTYPE GetCommandString(UINT_PTR idCmd, UINT flags, UINT* reserved,
                                                     char* buffer, UINT bufferSize) = 0;
};

inline constexpr IID IID_IShellExtInit = {
    0x000214E8, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IContextMenu = {
    0x000214E4, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// Our own identifiers: these two are shaped for this platform.
inline constexpr IID IID_IShellDataObject = {
    0x5E0C7E41, 0x2B7A, 0x4C8E, {0x9D, 0x61, 0x3F, 0x0A, 0x7B, 0x52, 0xC4, 0x19}};
inline constexpr IID IID_IShellMenu = {
    0x5E0C7E42, 0x2B7A, 0x4C8E, {0x9D, 0x61, 0x3F, 0x0A, 0x7B, 0x52, 0xC4, 0x19}};

// The extension's class and its type library.
inline constexpr GUID LIBID_LBShellExtention = {
    0x9ADBD772, 0x7C66, 0x4521, {0x8B, 0x96, 0x5B, 0xA0, 0xBD, 0x18, 0x8C, 0x48}};
inline constexpr IID IID_ILBShellExtentionClass = {
    0x8D7C7DD5, 0x6B76, 0x474C, {0xBF, 0xC7, 0xA1, 0x18, 0x45, 0xC5, 0x47, 0xE5}};
inline constexpr CLSID CLSID_LBShellExtentionClass = {
    0xABAAD706, 0x08C2, 0x4290, {0xA3, 0xA7, 0xA6, 0xE7, 0xCE, 0x36, 0xA4, 0x33}};
inline constexpr const char* kLBShellExtentionProgId = "LBShellExtention.LBShellExtentionClass";

class ILBShellExtentionClass : public IUnknown {};
