// The repository's rows as plain list paths, each with its mark and, when the list is
// open, its window; the rows shown during a walk are recorded.
#pragma once

#include "lbtools3/ui/IRepositoryLists.h"

#include <QList>
#include <QString>
#include <algorithm>

namespace lbtest {

class PathLists : public IRepositoryLists {
 public:
  struct Row {
    QString path;
    bool marked = false;
    IDocumentWindow* window = nullptr;
  };
  QList<Row> rows;
  QList<int> shown;

  int Count() const override { return int(rows.size()); }
  QString Path(int row) const override { return rows[row].path; }
  bool IsOpen(int row) const override { return rows[row].window; }
  IDocumentWindow* Child(int row) const override { return rows[row].window; }
  bool IsSelected(int row) const override { return rows[row].marked; }
  int SelectedCount() const override {
    return int(std::count_if(rows.begin(), rows.end(), [](const Row& r) { return r.marked; }));
  }
  void BeginBulk() override {}
  void MarkRow(int row) override { shown << row; }
  void EndBulk() override {}
};

}  // namespace lbtest
