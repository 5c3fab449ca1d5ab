// The ID3v1 genre table: the 80 genres of the original tag format followed by the 68
// that Winamp added, as every player of the time showed them.
#include "Genres.h"

#include <QHash>
#include <iterator>

namespace {

const char* const kGenres[] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz",
    "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno",
    "Industrial", "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno",
    "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental",
    "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "AlternRock", "Bass", "Soul", "Punk",
    "Space", "Meditative", "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic", "Darkwave",
    "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy",
    "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American",
    "Cabaret", "New Wave", "Psychadelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal",
    "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock",
    // Winamp's extensions, 80 to 147.
    "Folk", "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival",
    "Celtic", "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock",
    "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour",
    "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus",
    "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad",
    "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "A Cappella",
    "Euro-House", "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror", "Indie",
    "BritPop", "Afro-Punk", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal",
    "Black Metal", "Crossover", "Contemporary Christian", "Christian Rock", "Merengue", "Salsa",
    "Thrash Metal", "Anime", "JPop", "Synthpop"};
static_assert(std::size(kGenres) == lb::kGenreCount);

// Other spellings of the same genres met in tags written by other programs.
const struct {
  const char* name;
  int number;
} kAliases[] = {
    {"Alternative Rock", 40}, {"Gangsta Rap", 59}, {"Psychedelic", 67},        {"A Capella", 123},
    {"Hardcore Techno", 129}, {"Negerpunk", 133},  {"Christian Gangsta", 136}, {"Trash Metal", 144},
    {"J-Pop", 146},           {"Synth-Pop", 147},
};

const QHash<QString, int>& Numbers() {
  static const QHash<QString, int> numbers = [] {
    QHash<QString, int> h;
    for (const auto& a : kAliases) h.insert(QString::fromLatin1(a.name).toCaseFolded(), a.number);
    for (int i = 0; i < lb::kGenreCount; ++i)
      h.insert(QString::fromLatin1(kGenres[i]).toCaseFolded(), i);
    return h;
  }();
  return numbers;
}

}  // namespace

namespace lb {

QString GenreName(int number) {
  if (number < 0 || number >= kGenreCount) return {};
  return QString::fromLatin1(kGenres[number]);
}

int GenreNumber(const QString& name) {
  return Numbers().value(name.trimmed().toCaseFolded(), -1);
}

}  // namespace lb
