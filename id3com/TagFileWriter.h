// Puts a new ID3v2 tag in front of a music file's audio without holding the file in
// memory and without taking the file away from its owner.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <sys/stat.h>

#include "com/Com.h"

#include <taglib/tbytevector.h>

namespace id3 {

// Replaces the first oldSize bytes of the file (its old tag; 0 when it had none) with
// head. When head is as long as the old tag, it is written over it in place. Otherwise
// the file is rewritten in chunks: into a temporary file beside it that then takes its
// place, when the folder allows one and the file has a single link whose owner, group
// and mode the new file can take over; else the same inode is rewritten in place, with
// a backup of the old content kept meanwhile from which the file is restored when a
// write fails or, after a crash, on its next access (lb::ReplaceHeadInPlace). A link
// is followed: the file it leads to is written in its own folder. While a batch is open
// (lb::TWriteBatch) the temporary file takes the file's place with the batch's next
// group of copies, and a copy waiting for its file is placed before the file is written
// again. False when the file could not be changed; the file then holds its old content.
// With `read`, the file as the caller read its tag (lb::SameContent): when the file no
// longer is that one under the lock (another writer changed it since), nothing is
// written and *changed is set, so that the caller reads the tag again.
bool ReplaceFileHead(const QString& path, int64_t oldSize, const QByteArray& head,
                     const struct stat* read = nullptr, bool* changed = nullptr);

// Changes a file through a new copy of it, holding the file's lock (flock) meanwhile:
// edit reads the file through fd (open, locked, size bytes long) and puts its whole new
// content into *content, which is written once into a hidden partial file beside it
// (lb::CreatePartialFile) that then takes the file's place as ReplaceFileHead's copy
// does (owner, group and mode kept, a link followed); a file with several links, or one
// whose folder or owner refuses the copy, is rewritten on its own inode. The file stays
// as it was when any step fails; the answer is edit's failure, or E_FAIL.
using TContentEdit = std::function<HRESULT(int fd, int64_t size, TagLib::ByteVector* content)>;
HRESULT EditThroughCopy(const QString& path, const TContentEdit& edit);

// The size of the chunks a rewrite moves at a time.
inline constexpr int64_t kCopyChunk = 1 << 20;

}  // namespace id3
