// A document window without a window: a list document and a fixed selection, for
// handing a list to the player from the command line (and the tests' stand-in for a
// list window, tests/support/NullDocumentWindow.h).
#pragma once

#include "lbtools3/model/M3uList.h"
#include "lbtools3/ui/IDocumentWindow.h"

class TPlayerListWindow : public IDocumentWindow {
 public:
  TSlDocument& Document() override { return m_Document; }
  bool LoadFailed() const override { return false; }
  Placement GetPlacement() const override { return {}; }
  void SetPlacement(const Placement&) override {}
  TColumnLayout Columns() const override { return {}; }
  void SetColumns(const TColumnLayout&) override {}
  void SetCaption(const QString&) override {}
  void ShowWindow() override {}
  void Activate() override {}
  bool CloseWindow() override { return true; }
  bool ClosingForExit() const override { return false; }

  void SelectSongs(const std::vector<int>& rows) override { m_Selected = rows; }
  std::vector<int> SelectedRows() const override { return m_Selected; }
  bool ChangedSinceSent() const override { return m_bChanged; }
  void SetChangedSinceSent(bool changed) override { m_bChanged = changed; }

  TSlDocument m_Document;
  std::vector<int> m_Selected;
  bool m_bChanged = true;
};
