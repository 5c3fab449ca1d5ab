// How a list window shows the song fields as columns: the image a cell paints and the
// column set of a window without a stored layout.
#pragma once

#include "lbtools3/model/SongFields.h"
#include "lbtools3/ui/IDocumentWindow.h"

class TSlSong;

namespace lb {

// Images of the main window's image list used by the list view.
enum TColumnImage { ciNone = -1, ciPlaying = 24, ciSync1 = 32, ciSync2 = 33 };

// The image a cell shows (ciNone for most kinds); bPlaying: the player reports this
// row of this window as the song playing.
int ColumnImage(const TSlSong& song, int kind, bool bPlaying);

// The tooltip of a cell: on the second record's columns of a file whose main tag is
// not ID3v2 (and on the name column of a file without ID3v1), the kind of that tag
// ("Тэг: Vorbis comment"), told by the extension alone (no file is read); empty
// elsewhere.
QString ColumnToolTip(const TSlSong& song, int kind);

// The column set of a window without a stored layout.
TColumnLayout DefaultColumnLayout();

}  // namespace lb
