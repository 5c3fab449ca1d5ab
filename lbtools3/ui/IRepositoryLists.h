// The repository's rows as the operations that walk every list see them (reports,
// the forgotten-files search): the list path of each row, its document window when it
// is open, the user's marks, and the bulk mode that shows which row is being worked.
// The repository implements it; the command-line tool and tests use their own.
#pragma once

#include <QString>

class IDocumentWindow;

class IRepositoryLists {
 public:
  virtual ~IRepositoryLists() = default;

  virtual int Count() const = 0;
  virtual QString Path(int row) const = 0;
  virtual bool IsOpen(int row) const = 0;
  // The open row's window (null while it is still being created).
  virtual IDocumentWindow* Child(int row) const = 0;
  // The user's mark of the row (during a bulk operation: the mark it had before).
  virtual bool IsSelected(int row) const = 0;
  virtual int SelectedCount() const = 0;
  // A walk over the rows: each reached row is shown; the marks come back at the end.
  virtual void BeginBulk() = 0;
  virtual void MarkRow(int row) = 0;
  virtual void EndBulk() = 0;
};
