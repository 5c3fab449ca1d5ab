// The last change of a document window that can be undone (a tags edit, a rename of
// the songs' files), kept with the window: one "Отменить" serves them all, and a newer
// change replaces the one kept before it.
#pragma once

#include <QString>
#include <memory>

class IDocumentWindow;

namespace lb {

class TWindowUndo {
 public:
  virtual ~TWindowUndo() = default;
  // The menu text that offers the undo ("Отменить изменение тэгов").
  virtual QString Text() const = 0;
  // Whether the change can still be undone as the window's list stands now.
  virtual bool Available(IDocumentWindow& window) = 0;
  // Undoes it (its own progress and messages).
  virtual void Run(IDocumentWindow& window) = 0;
};

// The window's last change (null when none, or when the window is no QObject).
TWindowUndo* LastChange(IDocumentWindow* window);
// Keeps undo as the window's last change; null forgets it.
void SetLastChange(IDocumentWindow* window, std::unique_ptr<TWindowUndo> undo);
bool CanUndoLastChange(IDocumentWindow* window);
void UndoLastChange(IDocumentWindow* window);
// The menu text for the window's last change ("" when none can be undone).
QString UndoText(IDocumentWindow* window);

}  // namespace lb
