// Finding where the missing songs of a list went: one walk of the chosen folders
// indexes every music file that no list of the repository names (by lower-cased file
// name; the tags of a file are read only when a missing song needs them), then each
// missing song gets its candidates ranked by the tags its list's data file still
// keeps and by its file name.
#pragma once

#include "CheckList.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <vector>

class IRepositoryLists;

namespace lb {

// The folders searched for moved files, remembered like the forgotten-files folders.
inline constexpr const char* kRelinkDirsSection = "MovedFilesDirs";

// Scores of a candidate: the same title and artist with the same file name, the same
// tags alone, the same file name alone (lower when both sides have tags that differ),
// and at most kSimilarMax by how alike the names are.
inline constexpr int kScoreTagsAndName = 100;
inline constexpr int kScoreTags = 90;
inline constexpr int kScoreName = 70;
inline constexpr int kScoreNameOtherTags = 40;
inline constexpr int kScoreSimilarMax = 60;
// A match at least this good, and better than every other candidate, is sure.
inline constexpr int kScoreSure = kScoreName;

struct TRelinkCandidate {
  QString path;
  int score = 0;
};

// One missing file of the list (rows naming the same file share it).
struct TRelinkSong {
  QString oldPath;                           // full path
  std::vector<TRelinkCandidate> candidates;  // best first
  bool bSure = false;
};

class TRelinkSearch : public TForgottenFiles {
 public:
  enum TRunResult { rrDone, rrStopped, rrBadExtensions };
  // The walk with its progress window: the known paths of every list, the index of
  // the folders, then the candidates of the document's missing songs. "Прервано
  // пользователем" is told when the user stopped; nothing is changed anyway.
  TRunResult Run(IRepositoryLists& lists, const QStringList& folders, const TSlDocument& document);

  // Puts a music file into the index (the walk calls it for each unknown file).
  void AddSong(const TSlSong& song) override;
  void AddFile(const QString& fullPath);
  int FileCount() const { return int(m_Files.size()); }

  // Ranks the candidates of the document's songs whose file is missing; false when
  // the user stopped.
  bool Match(const TSlDocument& document);
  // The same for songs given directly (their full path and cached tags).
  bool MatchSongs(const std::vector<const TSlSong*>& missing);

  std::vector<TRelinkSong> m_Songs;

  static constexpr int kMaxCandidates = 5;

 private:
  struct TFile {
    QString path;
    QString name;  // lower-cased file name
    bool bTagsRead = false;
    QStringList tagKeys;
  };
  void ReadTags(TFile& file);
  // Reads the tags of every file not read yet and indexes them; false when stopped.
  bool IndexTags();
  void IndexTrigrams();
  void AddSimilar(const QString& name, QHash<int, int>& scores);
  bool Paced();

  std::vector<TFile> m_Files;
  QHash<QString, std::vector<int>> m_ByName;
  QHash<QString, std::vector<int>> m_ByTags;
  bool m_bTagsIndexed = false;
  QHash<quint64, std::vector<int>> m_ByTrigram;
  std::vector<int> m_TrigramCount;
  bool m_bTrigramsIndexed = false;
  int m_nUnpaced = 0;
};

// The title-and-artist keys of a song's records (ID3v2, then ID3v1; none without a
// title), compared without regard to case and spacing.
QStringList RelinkTagKeys(const TSlSong& song);

// For each song its best candidate when the match is sure, -1 otherwise.
std::vector<int> SureChoices(const std::vector<TRelinkSong>& songs);
// The path pairs (old full path, new full path, ...) of the chosen candidates (choice
// -1: the song stays missing). A file chosen for an earlier song is not given again.
QStringList RelinkPairs(const std::vector<TRelinkSong>& songs, const std::vector<int>& choices);

}  // namespace lb
