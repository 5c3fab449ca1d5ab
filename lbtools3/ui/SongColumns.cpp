#include "SongColumns.h"

#include "lbtools3/model/M3uList.h"
#include "platform/MusicFormats.h"

namespace lb {

int ColumnImage(const TSlSong& song, int kind, bool bPlaying) {
  switch (kind) {
    case ckNumber:
      return bPlaying ? ciPlaying : ciNone;
    case ckSync1:
      return song.m_Tag1.bTagSync ? ciSync1 : ciNone;
    case ckSync2:
      return song.m_Tag2.bTagSync ? ciSync2 : ciNone;
    default:
      return ciNone;
  }
}

QString ColumnToolTip(const TSlSong& song, int kind) {
  // The name column shows the main tag's name of a file without ID3v1.
  const bool tag2 = (kind >= ckName2 && kind <= ckTrack2) || kind == ckSync2 ||
                    (kind == ckName1 && !CarriesTag1(song.m_Path));
  if (!tag2 || song.IsStream()) return QString();  // an address has no tag, whatever its name
  const QString tagKind = TagKindOf(MusicFormatOf(song.m_Path));
  return tagKind.isEmpty() || tagKind == "ID3v2" ? QString() : "Тэг: " + tagKind;
}

TColumnLayout DefaultColumnLayout() {
  TColumnLayout layout;
  for (int kind : {ckNumber, ckName1, ckPath, ckSync1, ckSync2})
    layout.append({kind, ColumnDefaultWidth(kind)});
  return layout;
}

}  // namespace lb
