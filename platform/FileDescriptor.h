// An open file descriptor with one owner, and the loops that read and write a range of
// an open file whole: shared by every writer that works on descriptors.
#pragma once

#include <cstdint>

namespace lb {

class TFileDescriptor {
 public:
  explicit TFileDescriptor(int fd = -1) : m_Fd(fd) {}
  ~TFileDescriptor() { Reset(); }
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;

  int Get() const { return m_Fd; }
  // Closes the descriptor held (if any) and takes fd.
  void Reset(int fd = -1);
  // Closes now and tells whether the close succeeded (it reports late write errors).
  bool Close();

 private:
  int m_Fd;
};

// pread of exactly count bytes at offset (false on an error or an early end of file).
bool ReadAllAt(int fd, char* data, int64_t count, int64_t offset);
// pwrite of every byte (false on any failure).
bool WriteAllAt(int fd, const char* data, int64_t count, int64_t offset);

}  // namespace lb
