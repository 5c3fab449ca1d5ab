// Turns dropped files and folders, or one folder to scan, into songs: walks folders
// recursively, keeps the files with a music extension, follows symbolic links (the
// shortcuts of this platform) when allowed, takes in the songs of the lists it meets
// (after asking) and offers lists the repository does not know yet.
#pragma once

#include "M3uList.h"
#include "platform/FileSystem.h"
#include "platform/MusicFormats.h"
#include "platform/Pace.h"

#include <QCollator>
#include <QSet>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The repository as the scan sees it.
class IInsertListRepository {
 public:
  virtual ~IInsertListRepository() = default;
  virtual bool IsListKnown(const QString& path) = 0;
  virtual void AddList(const QString& path) = 0;
};

// The forgotten-files dialog as the scan sees it (mode 2).
class IForgottenFilesSink {
 public:
  virtual ~IForgottenFilesSink() = default;
  // Whether a list names the file (the dialog decides how paths compare).
  virtual bool IsKnownPath(const QString& fullPath) = 0;
  // Appends a song for the file to the dialog's result document.
  virtual void AddSong(const TSlSong& song) = 0;
};

// Kinds of Classify.
enum TSlPathKind { pkSkip = 0, pkMusic = 1, pkList = 2, pkFolder = 3, pkUnreadable = 4 };

// Modes: what happens with a music file.
enum TSlInsertMode : uint8_t {
  imInsert = 0,     // collected as a new song
  imLists = 1,      // ignored: only lists matter
  imForgotten = 2,  // added to the forgotten-files dialog unless a list names it
};

class TSlInsertFilesManager {
 public:
  // For a drop: the working extensions (Edit/Extentions) and Settings/ScanUseLinks
  // from the settings file, mode 0.
  explicit TSlInsertFilesManager(const QStringList& dropped);
  // From an extension text only (validating typed extensions, shell registration).
  explicit TSlInsertFilesManager(const QString& extensions);
  ~TSlInsertFilesManager() = default;

  // The music files of every format whose tags the program follows.
  static constexpr const char* kDefaultExtensions = lb::kDefaultMusicExtensions;

  int GetExtensionCount() const;
  QString GetExtension(int i) const;
  bool BadExtensions() const { return m_bBadExtensions; }

  // Each returns false when the user cancelled or stopped; what was collected stays.
  bool InsertFromDrop();
  bool ScanFolder(const QString& folder);
  // Scans the folders in turn as one operation: what they left out is told once, at
  // the end, and the songs follow the folders' order.
  bool ScanFolders(const QStringList& folders);
  bool ProcessPath(const QString& path, bool bFromDrop);
  TSlPathKind Classify(const QString& path, bool bFromDrop);
  bool InsertList(const QString& path);
  // The target of a symbolic link, absolute; false when it cannot be read.
  static bool ResolveLink(const QString& linkPath, QString* target);
  // Files and folders the scans left out so far because no list can hold them or they
  // cannot be read: names that are not UTF-8 or hold a line break, paths longer than
  // the system takes, folders that do not open. The user is told once, at the end of
  // each public operation (a drop, a scan of one or several folders).
  int SkippedCount() const { return m_nSkipped; }

  bool m_bNoToAllFolderLinks = false;
  bool m_bYesToAllLists = false, m_bNoToAllLists = false;
  bool m_bYesToAllRepository = false, m_bNoToAllRepository = false;
  bool m_bBadExtensions = true;
  uint8_t m_Mode = imInsert;
  bool m_bScanUseLinks = true;
  // A dropped music file that cannot be reached (a volume not mounted) still becomes a
  // song; otherwise a drop leaves out what is not there.
  bool m_bKeepMissingSongs = false;
  QStringList m_Extensions;      // each with its leading dot, in the order given
  QStringList m_Folders;         // folders scanned or queued
  std::vector<QString> m_Lists;  // lists met (sorted, no duplicates)
  IForgottenFilesSink* m_DeadFilesDlg = nullptr;
  IInsertListRepository* m_Repository = nullptr;  // none: lists are not offered
  TSlSongVector m_FoundSongs;

 private:
  // Parses the extension text; false (m_bBadExtensions stays true) when invalid.
  bool ParseExtensions(const QString& text);
  bool IsMusicName(QStringView name) const;
  // A folder entry's name in the file system's bytes: 1 music, 2 list, 0 neither.
  int MatchName(const char* name, size_t length) const;
  // bTarget: the path was reached through a link; depth counts the links followed;
  // target receives the path to process (the link's final target). knownType is the
  // entry's type when the caller knows it (a dirent DT_* value), 0 otherwise.
  TSlPathKind ClassifyPath(const QString& path, bool bFromDrop, bool bTarget, int depth,
                           QString* target, int knownType = 0);
  bool ProcessClassified(QString path, TSlPathKind kind);
  // One entry of a folder that the scan takes further.
  struct TFolderEntry {
    QString path;
    int type;   // DT_DIR, DT_LNK or DT_REG
    int match;  // for DT_REG: 1 music, 2 list
  };
  // Takes a folder's entries in the order of their names: without case, numbers by
  // their value. bRecord: the folder is a subfolder met in a scan, recorded (and
  // skipped when known) as it is opened.
  bool ScanFolderImpl(const QString& folder, bool bRecord = false);
  // Sorts order[0..count), indices into entries.
  void SortByName(const QString& folder, const TFolderEntry* entries, size_t count, size_t* order);
  const QCollator& NameCollator();
  // Appends a key cheaper than the collator's for names of common characters
  // (printable ASCII, basic Russian letters) that orders them as the collator does;
  // false, with nothing appended, when the name holds another character.
  bool FastSortKey(QStringView name, std::string& key);
  bool OfferToRepository(const QString& path);
  // Records a folder; false when it was known already (by device and inode, so a
  // folder reached through links or under another name is still recognised).
  bool RecordFolder(const QString& folder, const lb::TFileId& id);
  // Counts skipped entries and keeps the line that tells the user about them.
  enum TSkipKind { skNotUtf8, skTooLong, skNotOpened, skLineBreak, skKinds };
  void NoteSkipped(TSkipKind kind, int count, const QString& line);
  // A path whose name holds a line break is left out (no list line can hold it) and
  // counted: true when so.
  bool LeftOutForLineBreak(const QString& path);
  // Counts a folder that did not open, unless it went away meanwhile.
  void NoteNotOpened(const QString& folder, int error);
  // Tells the user what the scan left out, once, and forgets it.
  void ReportSkipped();
  // Whether a collected song has this path (the index is brought up to date lazily:
  // only links ever ask).
  bool IsCollected(const QString& path);
  void ShowFoundCount();
  // Collected paths become songs in batches: one allocation for many songs instead of
  // the sequence growing (and copying every song) song by song.
  void FlushPending();
  // Marks a public operation; the outermost one flushes the pending songs at its end.
  struct TOperation {
    explicit TOperation(TSlInsertFilesManager* m) : m_p(m) { ++m_p->m_nActive; }
    ~TOperation() {
      if (--m_p->m_nActive > 0) return;
      m_p->FlushPending();
      m_p->ReportSkipped();
    }
    TSlInsertFilesManager* m_p;
  };
  size_t FoundCount() const { return m_FoundSongs.size() + m_PendingPaths.size(); }
  // Processes pending messages now and then; true when the user stopped.
  bool PaceAndCheckStop(bool bForce);

  QStringList m_Dropped;
  std::vector<QString> m_PendingPaths;
  int m_nActive = 0;                   // public operations under way (the outermost one flushes)
  std::vector<QByteArray> m_ExtBytes;  // lower-cased, in the file system's encoding
  bool m_bAsciiExtensions = true;
  QSet<lb::TFileId> m_FolderIds;  // hashed: a tree costs a cache miss a level
  // Folders behind links the user chose not to follow: not asked about again, but
  // scanned when the scan reaches them by their own path.
  QSet<lb::TFileId> m_DeclinedFolderIds;
  int m_nSkipped = 0;
  bool m_SkipKinds[skKinds] = {};
  QStringList m_SkipLines;  // the first few, for the user
  int m_nSkipLines = 0;
  QSet<QString> m_CollectedPaths;
  size_t m_nIndexed = 0;
  int m_nUnpaced = 0;
  lb::TPace m_Pace{20};  // pending messages are processed every 20 ms of a scan
  int m_nShownCount = -1;
  std::unique_ptr<QCollator> m_pCollator;  // made at the first folder with two entries
  std::vector<uint8_t> m_Ranks;            // of the characters FastSortKey covers
  // Reused from folder to folder: a folder is read and sorted before the scan goes
  // into its subfolders, so one of each serves the whole scan.
  std::vector<char> m_DirBuffer;
  std::vector<TFolderEntry> m_EntryStack;
  std::vector<size_t> m_OrderStack;
  std::string m_KeyBuffer;
  std::vector<std::pair<size_t, size_t>> m_KeySpans;
  std::vector<std::string_view> m_FastKeys;
};
