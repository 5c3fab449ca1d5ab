// What a document window needs of the main window, the list repository and the player
// controller. The main window implements it; tests use a stand-in. No widgets here.
#pragma once

#include "lbtools3/ui/IDocumentWindow.h"

#include <QIcon>
#include <QString>
#include <QStringList>

class IInsertListRepository;
class TIniFile;

class IDocumentHost {
 public:
  virtual ~IDocumentHost() = default;

  // ---- main window ----
  // Runs the main window's command of that name ("OptionsTagsEdit", "WinampPlay");
  // false when there is no such command or it is disabled.
  virtual bool ExecuteCommand(const QString& name) = 0;
  // The main window's Save of the window's document; false when it was not saved (the
  // save routine has told the user why).
  virtual bool SaveDocument(IDocumentWindow* window) = 0;
  // Removes the files' songs from every other open list (pairs of lines: old full
  // path, new full path; an empty new path removes the entry); skip is left alone.
  virtual void ChangePathsInAllLists(const QStringList& pairs, IDocumentWindow* skip) = 0;
  // The settings file.
  virtual TIniFile& Settings() = 0;
  // An image of the main window's image list (may be null).
  virtual QIcon Image(int index) = 0;
  // The program is exiting: windows are closed by it, not by the user.
  virtual bool Exiting() const = 0;

  // ---- repository ----
  // The repository as the insert-files manager sees it (lists met in dropped folders
  // are offered to it); null when lists are not offered.
  virtual IInsertListRepository* ListRepository() = 0;
  // A new list that was never saved goes: its entry is forgotten.
  virtual void ForgetList(const QString& path) = 0;
  // The window of a saved list goes: its layout and columns are stored and the list is
  // marked closed.
  virtual void WindowClosed(IDocumentWindow* window) = 0;
  // The column layout for new windows; empty for the built-in one.
  virtual TColumnLayout DefaultColumns() = 0;
  // Makes the window's column layout the default for new windows.
  virtual void StoreDefaultColumns(const TColumnLayout& columns) = 0;

  // ---- player controller ----
  // Whether the player follows this window's list.
  virtual bool PlayerFollows(IDocumentWindow* window) = 0;
  virtual void PlayerStopFollowing(IDocumentWindow* window) = 0;
  // The window's row that plays now, -1 when none.
  virtual int PlayerPlayingRow(IDocumentWindow* window) = 0;
  // Plays the window's list from row n.
  virtual void PlayerPlayFrom(IDocumentWindow* window, int n) = 0;
  // Row n of the window is about to go (the player stops following the window, and
  // stops playing when that row plays); row n went (the remembered row after it moves
  // up by one); the remembered row is forgotten.
  virtual void PlayerRowRemoving(IDocumentWindow* window, int n) = 0;
  virtual void PlayerRowRemoved(IDocumentWindow* window, int n) = 0;
  virtual void PlayerForgetRow(IDocumentWindow* window) = 0;
};
