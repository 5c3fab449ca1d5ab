#include "Relink.h"

#include "lbtools3/files/FileNames.h"
#include "lbtools3/model/ID3ComAccess.h"
#include "lbtools3/model/InfoWindowManager.h"
#include "platform/FileSystem.h"
#include "platform/UiServices.h"

#include <QSet>
#include <algorithm>
#include <mutex>

namespace lb {

namespace {

// Messages are processed after this many steps of matching or tag reading.
constexpr int kStepsPerRefresh = 64;
// Names alike by less than this (the share of common letter triples) are no match.
constexpr double kMinSimilarity = 0.5;

// The name of a missing file: a path stored on Windows (an unmapped drive letter) keeps
// its backslashes, so the one file-name routine takes either separator.
QString LowerName(const QString& path) {
  return lb::FileNamePart(path).toLower();
}

QString TagKey(const QString& title, const QString& artist) {
  const QString t = title.simplified().toLower();
  if (t.isEmpty()) return QString();
  return t + QChar(0x1f) + artist.simplified().toLower();
}

// The name without its extension, letters and digits only, words single-spaced.
QString NameStem(const QString& lowerName) {
  const int dot = lowerName.lastIndexOf('.');
  QString stem = dot > 0 ? lowerName.left(dot) : lowerName;
  for (QChar& c : stem)
    if (!c.isLetterOrNumber()) c = u' ';
  return ' ' + stem.simplified() + ' ';
}

std::vector<quint64> Trigrams(const QString& stem) {
  std::vector<quint64> grams;
  for (qsizetype i = 0; i + 2 < stem.size(); ++i)
    grams.push_back(quint64(stem[i].unicode()) << 32 | quint64(stem[i + 1].unicode()) << 16 |
                    stem[i + 2].unicode());
  std::sort(grams.begin(), grams.end());
  grams.erase(std::unique(grams.begin(), grams.end()), grams.end());
  return grams;
}

}  // namespace

QStringList RelinkTagKeys(const TSlSong& song) {
  QStringList keys;
  if (song.m_Tag2.m_bExists) keys << TagKey(song.m_Tag2.Title, song.m_Tag2.Artist);
  if (song.m_Tag1.m_bExists) keys << TagKey(song.m_Tag1.GetTitle(), song.m_Tag1.GetArtist());
  keys.removeAll(QString());
  keys.removeDuplicates();
  return keys;
}

void TRelinkSearch::AddSong(const TSlSong& song) {
  AddFile(song.m_Path);
}

void TRelinkSearch::AddFile(const QString& fullPath) {
  TFile file;
  file.path = fullPath;
  file.name = LowerName(fullPath);
  m_ByName[file.name].push_back(int(m_Files.size()));
  m_Files.push_back(std::move(file));
  m_bTagsIndexed = m_bTrigramsIndexed = false;
}

bool TRelinkSearch::Paced() {
  if (++m_nUnpaced < kStepsPerRefresh) return false;
  m_nUnpaced = 0;
  return InfoWindowManager().ProcessAndCheckStop();
}

void TRelinkSearch::ReadTags(TFile& file) {
  if (file.bTagsRead) return;
  file.bTagsRead = true;
  // The records of a detached song read the file's tags; nothing is written.
  TSlSong probe(nullptr, file.path, QString());
  probe.m_Tag1.ReadFromFile();
  if (IsTaggedPath(file.path)) {
    std::lock_guard<std::recursive_mutex> id3(ID3ComLock());
    probe.m_Tag2.ReadFromFile();
  }
  file.tagKeys = RelinkTagKeys(probe);
}

bool TRelinkSearch::IndexTags() {
  if (m_bTagsIndexed) return true;
  TInfoWindowLevel level("Чтение тэгов найденных файлов", QString(), true);
  m_ByTags.clear();
  for (size_t n = 0; n < m_Files.size(); ++n) {
    ReadTags(m_Files[n]);
    for (const QString& key : m_Files[n].tagKeys) m_ByTags[key].push_back(int(n));
    if (n % kStepsPerRefresh == 0) InfoWindowManager().SetProgress(int(100 * n / m_Files.size()));
    if (Paced()) return false;
  }
  m_bTagsIndexed = true;
  return true;
}

void TRelinkSearch::IndexTrigrams() {
  if (m_bTrigramsIndexed) return;
  m_ByTrigram.clear();
  m_TrigramCount.assign(m_Files.size(), 0);
  for (size_t n = 0; n < m_Files.size(); ++n) {
    const std::vector<quint64> grams = Trigrams(NameStem(m_Files[n].name));
    m_TrigramCount[n] = int(grams.size());
    for (quint64 g : grams) m_ByTrigram[g].push_back(int(n));
  }
  m_bTrigramsIndexed = true;
}

void TRelinkSearch::AddSimilar(const QString& name, QHash<int, int>& scores) {
  IndexTrigrams();
  const std::vector<quint64> grams = Trigrams(NameStem(name));
  if (grams.empty()) return;
  QHash<int, int> shared;
  for (quint64 g : grams) {
    const auto it = m_ByTrigram.constFind(g);
    if (it == m_ByTrigram.cend()) continue;
    for (int n : *it) ++shared[n];
  }
  for (auto it = shared.cbegin(); it != shared.cend(); ++it) {
    const double dice = 2.0 * it.value() / double(grams.size() + m_TrigramCount[it.key()]);
    if (dice < kMinSimilarity) continue;
    int& score = scores[it.key()];
    score = std::max(score, std::min(kScoreSimilarMax - 1, int(kScoreSimilarMax * dice)));
  }
}

bool TRelinkSearch::Match(const TSlDocument& document) {
  // Detached copies with full paths: the document is not held while the user may stop.
  TSlSongVector missing;
  {
    QSet<QString> seen;
    std::lock_guard<std::recursive_mutex> lock(document.m_Lock);
    for (int n = 0; n < document.m_Songs.size(); ++n) {
      const TSlSong& song = document.m_Songs[n];
      const QString path = song.GetPath(true);
      if (seen.contains(path) || SongFileOf(path) != TSongFile::Missing) continue;
      seen.insert(path);
      missing.push_back(song);
      missing.back().m_Parent = nullptr;
      missing.back().m_Path = path;
    }
  }
  std::vector<const TSlSong*> songs;
  for (const TSlSong& song : missing) songs.push_back(&song);
  return MatchSongs(songs);
}

bool TRelinkSearch::MatchSongs(const std::vector<const TSlSong*>& missing) {
  m_Songs.clear();
  TInfoWindowLevel level("Подбор перемещённых файлов", QString(), true);
  for (size_t s = 0; s < missing.size(); ++s) {
    const TSlSong& song = *missing[s];
    TRelinkSong result;
    result.oldPath = song.GetPath(true);
    const QString name = LowerName(result.oldPath);
    const QStringList keys = RelinkTagKeys(song);
    auto sameTags = [&keys](const TFile& file) {
      for (const QString& key : file.tagKeys)
        if (keys.contains(key)) return true;
      return false;
    };
    QHash<int, int> scores;  // file → score
    bool bTagMatch = false;
    if (const auto it = m_ByName.constFind(name); it != m_ByName.cend()) {
      for (int n : *it) {
        TFile& file = m_Files[n];
        ReadTags(file);
        const bool same = sameTags(file);
        bTagMatch |= same;
        scores[n] = same                                         ? kScoreTagsAndName
                    : !keys.isEmpty() && !file.tagKeys.isEmpty() ? kScoreNameOtherTags
                                                                 : kScoreName;
      }
    }
    if (!keys.isEmpty() && !bTagMatch) {
      if (!IndexTags()) return false;
      for (const QString& key : keys)
        for (int n : m_ByTags.value(key)) {
          int& score = scores[n];
          score = std::max(score, kScoreTags);
          bTagMatch = true;
        }
    }
    if (scores.isEmpty()) AddSimilar(name, scores);
    for (auto it = scores.cbegin(); it != scores.cend(); ++it)
      result.candidates.push_back({m_Files[it.key()].path, it.value()});
    std::sort(result.candidates.begin(), result.candidates.end(),
              [](const TRelinkCandidate& a, const TRelinkCandidate& b) {
                return a.score != b.score ? a.score > b.score : a.path < b.path;
              });
    if (result.candidates.size() > size_t(kMaxCandidates)) result.candidates.resize(kMaxCandidates);
    const auto& c = result.candidates;
    result.bSure =
        !c.empty() && c[0].score >= kScoreSure && (c.size() == 1 || c[1].score < c[0].score);
    m_Songs.push_back(std::move(result));
    if (s % kStepsPerRefresh == 0) InfoWindowManager().SetProgress(int(100 * s / missing.size()));
    if (Paced()) return false;
  }
  // A file that is the sure match of two songs is sure for neither.
  QHash<QString, int> sureCount;
  for (const TRelinkSong& song : m_Songs)
    if (song.bSure) ++sureCount[song.candidates[0].path];
  for (TRelinkSong& song : m_Songs)
    if (song.bSure && sureCount.value(song.candidates[0].path) > 1) song.bSure = false;
  return true;
}

TRelinkSearch::TRunResult TRelinkSearch::Run(IRepositoryLists& lists, const QStringList& folders,
                                             const TSlDocument& document) {
  TRunResult result = rrStopped;
  {
    TInfoWindowLevel level("Поиск перемещённых файлов...", QString(), false);
    CollectKnown(lists, false);
    // The repaired list counts even when the repository does not hold it.
    AddKnown(document);
    if (!InfoWindowManager().m_bStop) {
      switch (Scan(folders)) {
        case srDone:
          result = Match(document) ? rrDone : rrStopped;
          break;
        case srBadExtensions:
          result = rrBadExtensions;
          break;
        case srStopped:
          break;
      }
    }
  }
  if (result == rrStopped) {
    m_Songs.clear();
    UiServices::Instance().MessageBox("Прервано пользователем", UiServices::kCaption,
                                      MB_OK | MB_ICONWARNING);
  }
  return result;
}

std::vector<int> SureChoices(const std::vector<TRelinkSong>& songs) {
  std::vector<int> choices;
  for (const TRelinkSong& song : songs) choices.push_back(song.bSure ? 0 : -1);
  return choices;
}

QStringList RelinkPairs(const std::vector<TRelinkSong>& songs, const std::vector<int>& choices) {
  QStringList pairs;
  QSet<QString> taken;
  for (size_t s = 0; s < songs.size() && s < choices.size(); ++s) {
    const int c = choices[s];
    if (c < 0 || c >= int(songs[s].candidates.size())) continue;
    const QString& path = songs[s].candidates[c].path;
    if (taken.contains(path)) continue;
    taken.insert(path);
    pairs << songs[s].oldPath << path;
  }
  return pairs;
}

}  // namespace lb
