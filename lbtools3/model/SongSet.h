// The songs of a document as a set of addresses, for asking many times over whether a
// song is still one of the document's (an undo that waits while the list is edited).
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
