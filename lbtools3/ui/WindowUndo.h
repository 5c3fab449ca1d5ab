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
  // Whether the change can still be undone as the window's list stands now. Asked for
  // the menu several times a second on the main thread, so it looks at the list alone,
  // never at the files.
  virtual bool Available(IDocumentWindow& window) = 0;
  // Whether the files still hold what the change left them (another program may have
  // changed them since): looked at once, when the user asks for the undo.
  virtual bool FilesUnchanged(IDocumentWindow&) { return true; }
  // Undoes it (its own progress and messages).
  virtual void Run(IDocumentWindow& window) = 0;
};

// The window's last change (null when none, or when the window is no QObject).
TWindowUndo* LastChange(IDocumentWindow* window);
// Keeps undo as the window's last change; null forgets it.
void SetLastChange(IDocumentWindow* window, std::unique_ptr<TWindowUndo> undo);
bool CanUndoLastChange(IDocumentWindow* window);
// Runs the last change's undo; when another program changed its files since, the undo
// is withdrawn instead and the user is told (kUndoWithdrawn).
void UndoLastChange(IDocumentWindow* window);
inline constexpr const char* kUndoWithdrawn =
    "Отменить последнее изменение уже нельзя: файлы песен с тех пор изменены другой "
    "программой.";
// The menu text for the window's last change ("" when none can be undone).
QString UndoText(IDocumentWindow* window);

}  // namespace lb
