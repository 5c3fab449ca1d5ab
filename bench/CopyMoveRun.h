// Copying or moving songs by criteria for the benchmarks, as the organize command does.
#pragma once

#include "lbtools3/files/CopyMove.h"
#include "lbtools3/files/FileOperation.h"
#include "lbtools3/model/M3uList.h"

#include <cstdio>
#include <set>
#include <utility>

// Copies or moves the songs into root/ARTIST/ as the organize command does; a copy with
// bChangePaths points the songs at the copies.
inline bool CopyOrMove(TSlDocument& doc, const QString& root, bool bCopy, bool bChangePaths,
                       int count) {
  TCopyMoveThread::Options options;
  options.bCopy = bCopy;
  options.bChangePaths = bChangePaths;
  options.root = root;
  options.criteria = {2};
  std::set<int> rows;
  for (int n = 0; n < count; ++n) rows.insert(n);
  lb::TRowSelection selection(doc, std::move(rows));
  lb::TFileOperation operation(nullptr);
  TCopyMoveThread worker(&doc, options, &operation, nullptr);
  worker.m_pChild = &selection;
  worker.Resume();
  worker.WaitFor();
  if (worker.m_nProcessed == count && worker.m_nSkipped == 0) return true;
  std::fprintf(stderr, "%s: %d of %d done, %d skipped\n", bCopy ? "copy" : "move",
               worker.m_nProcessed, count, worker.m_nSkipped);
  return false;
}
