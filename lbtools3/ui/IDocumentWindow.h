// What the repository and the main window's operations need of a document window (the
// window that shows and edits one list), and of whoever creates such windows. No
// widgets here: the repository and the operations are tested with stand-ins.
#pragma once

#include <QList>
#include <QString>
#include <utility>
#include <vector>

class IDocumentHost;
class TSlDocument;

// One column of a document's list view: its kind (the column's tag) and its width.
using TColumnLayout = QList<std::pair<int, int>>;

class IDocumentWindow {
 public:
  virtual ~IDocumentWindow() = default;

  virtual TSlDocument& Document() = 0;
  // The list named at creation could not be loaded (the window shows nothing and goes
  // away by itself).
  virtual bool LoadFailed() const = 0;

  // Window state (0 normal, 1 minimised, 2 maximised) and the normal placement.
  struct Placement {
    int state = 0;
    int left = 0, top = 0, width = 0, height = 0;
  };
  virtual Placement GetPlacement() const = 0;
  virtual void SetPlacement(const Placement& placement) = 0;

  // Columns in display order; an empty layout gives the default column set.
  virtual TColumnLayout Columns() const = 0;
  virtual void SetColumns(const TColumnLayout& columns) = 0;

  virtual void SetCaption(const QString& caption) = 0;
  virtual void ShowWindow() = 0;
  // Brings the window to the front, restoring it when minimised.
  virtual void Activate() = 0;
  // Selects exactly the listed rows (ascending); rows not below the song count are
  // ignored.
  virtual void SelectSongs(const std::vector<int>& rows) = 0;
  // Asks the window to close (it asks about unsaved changes); false when it stays open.
  virtual bool CloseWindow() = 0;
  // The window is being destroyed because the program exits (not closed by the user).
  virtual bool ClosingForExit() const = 0;

  // ---- what the player control needs ----
  // Selected rows, ascending.
  virtual std::vector<int> SelectedRows() const { return {}; }
  // The list changed since it was last sent to the player (true for a new window).
  virtual bool ChangedSinceSent() const { return true; }
  virtual void SetChangedSinceSent(bool) {}
  // Scrolls the list so that the row is visible; redraws one row.
  virtual void EnsureRowVisible(int) {}
  virtual void RedrawRow(int) {}

  // ---- what the rename and copy/move dialogs need ----
  // (besides Document, SelectedRows, SetChangedSinceSent, EnsureRowVisible, RedrawRow)
  // The host of the window: its settings file, the other lists, the player. A stand-in
  // without one answers null, and the dialogs are not opened over it.
  virtual IDocumentHost* Host() const { return nullptr; }
};

class IDocumentWindowFactory {
 public:
  virtual ~IDocumentWindowFactory() = default;
  // A new, unnamed document window for the path (nothing is written until it is
  // saved); source, when given, supplies its first songs.
  virtual IDocumentWindow* CreateNewDocumentWindow(const QString& path,
                                                   const TSlDocument* source) = 0;
  // A document window that loads the list file; check LoadFailed() on the result.
  virtual IDocumentWindow* CreateListWindow(const QString& path, const TSlDocument* source) = 0;
};
