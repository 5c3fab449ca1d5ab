// What operations over many lists (finding text, reports) need of the main window:
// the lists of the repository with their open windows and marks, the repository's
// display of the list being worked on, and opening a list from a document already in
// memory. The main window implements it; tests use a stand-in. No widgets here.
#pragma once

#include "lbtools3/ui/IDocumentWindow.h"

#include <QList>
#include <QString>

class IListsHost {
 public:
  virtual ~IListsHost() = default;

  struct TListEntry {
    QString path;
    IDocumentWindow* window = nullptr;  // the open list's window; null when closed
    bool marked = false;                // selected in the repository
  };
  // Every list of the repository, in its order.
  virtual QList<TListEntry> KnownLists() = 0;

  // A pass over the lists: while it runs the repository shows the list being worked
  // on instead of the user's marks (which it keeps and gives back at the end).
  virtual void BeginListsPass() = 0;
  virtual void ShowListInPass(const QString& path) = 0;
  virtual void EndListsPass() = 0;

  // Opens the list in a new window; source, when given, becomes its document instead
  // of the file. Null when the list could not be opened.
  virtual IDocumentWindow* OpenList(const QString& path, const TSlDocument* source) = 0;
};
