// A document window that only holds its document: it accepts every request and does
// nothing with it. Tests derive from it to record what the code under test asks.
#pragma once

#include "lbtools3/model/M3uList.h"
#include "lbtools3/ui/IDocumentWindow.h"

namespace lbtest {

class NullDocumentWindow : public IDocumentWindow {
 public:
  NullDocumentWindow() = default;
  explicit NullDocumentWindow(const QString& path) { m_Document.SetFileName(path); }

  TSlDocument& Document() override { return m_Document; }
  bool LoadFailed() const override { return false; }
  Placement GetPlacement() const override { return {}; }
  void SetPlacement(const Placement&) override {}
  TColumnLayout Columns() const override { return {}; }
  void SetColumns(const TColumnLayout&) override {}
  void SetCaption(const QString&) override {}
  void ShowWindow() override {}
  void Activate() override {}
  void SelectSongs(const std::vector<int>&) override {}
  bool CloseWindow() override { return true; }
  bool ClosingForExit() const override { return false; }

  TSlDocument m_Document;
};

}  // namespace lbtest
