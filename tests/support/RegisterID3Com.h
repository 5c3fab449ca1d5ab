// Registering the tag component built beside the tests, once a process.
#pragma once

#include "TestEnv.h"
#include "com/Com.h"
#include "id3com/ID3Com.h"

#include <QLibrary>

namespace lbtest {

// False when the component cannot be loaded or refuses to register.
inline bool RegisterID3Com() {
  static const bool registered = [] {
    QLibrary lib(BinDir() + "/" + kID3ComLibraryName);
    auto reg = reinterpret_cast<PFN_DllRegisterServer>(lib.resolve("DllRegisterServer"));
    return reg && reg() == S_OK;
  }();
  return registered;
}

}  // namespace lbtest
