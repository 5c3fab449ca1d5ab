// Saving a list nobody else holds (a list file changed behind its closed window) from a
// long job on the main thread: while a TListFlushOffMainThread lives, the end of each
// list-file write (the last bytes, the flush to the disk and the rename into place) runs
// on a thread of its own while the windows keep turning. The caller makes sure that
// nothing the turning windows do touches the document being saved.
#pragma once

class TListFlushOffMainThread {
 public:
  TListFlushOffMainThread();
  ~TListFlushOffMainThread();
  TListFlushOffMainThread(const TListFlushOffMainThread&) = delete;
  TListFlushOffMainThread& operator=(const TListFlushOffMainThread&) = delete;

 private:
  bool m_bWas;
};
