// The songs of a document by address: as a set, for asking many times over whether a
// song is still one of the document's (an undo that waits while the list is edited),
// and a song's row.
#pragma once

#include "lbtools3/model/M3uList.h"

#include <QSet>

// The caller holds the document's lock.
inline QSet<const TSlSong*> SongSetOf(const TSlDocument& document) {
  QSet<const TSlSong*> songs;
  songs.reserve(document.m_Songs.size());
  for (int n = 0; n < document.m_Songs.size(); ++n) songs.insert(&document.m_Songs[n]);
  return songs;
}

// The song's row in the document, -1 when it is no longer one of the document's. The
// caller holds the document's lock.
inline int SongRow(const TSlDocument& document, const TSlSong* song) {
  for (int n = 0; n < document.m_Songs.size(); ++n)
    if (&document.m_Songs[n] == song) return n;
  return -1;
}
