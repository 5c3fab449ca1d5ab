#include "ID3ComAccess.h"

#include "platform/FileSystem.h"
#include "platform/UiServices.h"

#include <QLibrary>

namespace lb {

namespace {
// Releases the thread's pointer when the thread ends.
struct TThreadSlot {
  IID3ComTag* tag = nullptr;
  ~TThreadSlot() {
    if (tag) tag->Release();
  }
};
thread_local TThreadSlot t_Slot;

HRESULT CreateObject(IID3ComTag** tag) {
  return CoCreateInstance(CLSID_ID3ComTag, nullptr, CLSCTX_INPROC_SERVER, IID_IID3ComTag,
                          reinterpret_cast<void**>(tag));
}
}  // namespace

std::recursive_mutex& ID3ComLock() {
  static std::recursive_mutex lock;
  return lock;
}

IID3ComTag* ThreadID3Com() {
  return t_Slot.tag;
}

void SetThreadID3Com(IID3ComTag* tag) {
  if (tag) tag->AddRef();
  if (t_Slot.tag) t_Slot.tag->Release();
  t_Slot.tag = tag;
}

HRESULT CreateID3Com(IID3ComTag** tag) {
  HRESULT hr = CreateObject(tag);
  if (hr != REGDB_E_CLASSNOTREG) return hr;
  const QString library = ExecutableFolder() + "/" + kID3ComLibraryName;
  if (!FileExists(library)) return hr;
  if (UiServices::Instance().MessageBox(
          "Библиотека для работы с ID3v2-тэгами не зарегистрирована.\nПопробовать "
          "зарегистрировать ?",
          UiServices::kCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
    return hr;
  QLibrary lib(library);
  auto reg = reinterpret_cast<PFN_DllRegisterServer>(lib.resolve("DllRegisterServer"));
  if (!reg) return hr;
  HRESULT regResult = reg();
  lib.unload();
  return SUCCEEDED(regResult) ? CreateObject(tag) : hr;
}

HRESULT AttachCurrentThreadToNewID3Com() {
  HRESULT hr = CoInitialize(nullptr);
  if (FAILED(hr)) return hr;
  ComPtr<IID3ComTag> tag;
  hr = CreateID3Com(tag.Put());
  if (SUCCEEDED(hr)) SetThreadID3Com(tag.Get());
  return hr;
}

}  // namespace lb
