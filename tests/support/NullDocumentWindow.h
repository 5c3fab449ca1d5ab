// A document window that only holds its document: the program's window-less one (the
// command line hands lists to the player through it), here also named by a path.
// Tests derive from it to record what the code under test asks.
#pragma once

#include "lbtools3/player/PlayerListWindow.h"

namespace lbtest {

class NullDocumentWindow : public TPlayerListWindow {
 public:
  NullDocumentWindow() = default;
  explicit NullDocumentWindow(const QString& path) { m_Document.SetFileName(path); }
};

}  // namespace lbtest
