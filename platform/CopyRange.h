// Copying a range of bytes from one open file into another: inside the system
// (copy_file_range: no buffer of ours, and shared blocks where the file system can)
// wherever it can, otherwise by reading and writing blocks of up to a megabyte. Every
// writer that carries file content over (a copy of a song, a tag rewrite through a
// temporary file, a rewrite in place with its backup) uses it.
#pragma once

#include <cstdint>
#include <functional>
#include <sys/types.h>

namespace lb {

// Writes size bytes of data at offset of fd, as ::pwrite does. A test gives its own to
// make a write fail or stop the process; every block then goes through it (nothing is
// copied inside the system).
using TWriteAtFunction =
    std::function<ssize_t(int fd, const void* data, size_t size, off_t offset)>;

// Copies count bytes from offset fromOffset of from to offset toOffset of to; a negative
// count copies up to the end of from. from and to may be the same file: a range that
// overlaps its new place moves whole, either way (the rest of a file moved toward its
// end stops at the end it had). The descriptors' positions are neither used nor moved.
// Returns the number of bytes copied, or -1 with errno set: the error of a read or a
// write, or EIO when from ends before count bytes. Every step is checked.
int64_t CopyRange(int from, int64_t fromOffset, int to, int64_t toOffset, int64_t count,
                  const TWriteAtFunction& write = {});

}  // namespace lb
