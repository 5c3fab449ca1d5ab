// Shared by the shell extension tests: the server registered in the test's registry and
// an object of its class.
#pragma once

#include "TestEnv.h"
#include "shellext/ShellHostObjects.h"

#include <QFileInfo>
#include <QLibrary>
#include <gtest/gtest.h>

namespace shelltest {

inline QString ServerPath() {
  return lbtest::BinDir() + "/libLBShellExtention.so";
}

// Registers the server through its own entry point.
inline ::testing::AssertionResult RegisterServer() {
  QLibrary library(ServerPath());
  auto entry = reinterpret_cast<PFN_DllRegisterServer>(library.resolve("DllRegisterServer"));
  if (!entry) return ::testing::AssertionFailure() << library.errorString().toStdString();
  const HRESULT hr = entry();
  if (FAILED(hr)) return ::testing::AssertionFailure() << "DllRegisterServer gave " << hr;
  return ::testing::AssertionSuccess();
}

struct TExtension {
  ComPtr<IShellExtInit> init;
  ComPtr<IContextMenu> menu;

  static TExtension Create() {
    TExtension e;
    EXPECT_EQ(CoCreateInstance(CLSID_LBShellExtentionClass, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IShellExtInit, e.init.PutVoid()),
              S_OK);
    if (e.init) {
      EXPECT_EQ(e.init->QueryInterface(IID_IContextMenu, e.menu.PutVoid()), S_OK);
    }
    return e;
  }
  HRESULT Initialize(const QStringList& paths) {
    ComPtr<TShellDataObject> data;
    data.Attach(new TShellDataObject(paths));
    return init->Initialize(nullptr, data.Get(), nullptr);
  }
  HRESULT Invoke() {
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof info;
    return menu->InvokeCommand(&info);
  }
};

}  // namespace shelltest
