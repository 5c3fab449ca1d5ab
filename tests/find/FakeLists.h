// The repository's lists and their windows as finding sees them, recording what is
// asked of them.
#pragma once

#include "NullDocumentWindow.h"
#include "lbtools3/ui/IListsHost.h"

#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace findtest {

class FakeWindow : public lbtest::NullDocumentWindow {
 public:
  explicit FakeWindow(const QString& path) : NullDocumentWindow(path) {}
  // Appends songs with these ID3v2 titles.
  void Add(const QStringList& titles) {
    for (const QString& title : titles) {
      TSlSong song(nullptr, "/m/" + title + ".mp3", QString());
      song.m_Tag2.SetTitle(title);
      m_Document.InsertSong(song, -1);
    }
  }
  void Activate() override { ++activations; }
  void SelectSongs(const std::vector<int>& rows) override { selected = rows; }

  int activations = 0;
  std::vector<int> selected;
};

class FakeLists : public IListsHost {
 public:
  FakeWindow& AddOpen(const QString& path, bool marked = false) {
    windows.push_back(std::make_unique<FakeWindow>(path));
    entries.append({path, windows.back().get(), marked});
    return *windows.back();
  }
  void AddClosed(const QString& path, bool marked) { entries.append({path, nullptr, marked}); }

  QList<TListEntry> KnownLists() override { return entries; }
  void BeginListsPass() override { passEvents << "begin"; }
  void ShowListInPass(const QString& path) override {
    passEvents << "show " + path;
    if (onShow) onShow(path);
  }
  void EndListsPass() override { passEvents << "end"; }
  IDocumentWindow* OpenList(const QString& path, const TSlDocument* source) override {
    opened << path;
    openedSources.push_back(source);
    windows.push_back(std::make_unique<FakeWindow>(path));
    if (source) windows.back()->m_Document = *source;
    for (TListEntry& entry : entries)
      if (entry.path == path) entry.window = windows.back().get();
    return windows.back().get();
  }

  QList<TListEntry> entries;
  std::vector<std::unique_ptr<FakeWindow>> windows;
  QStringList passEvents, opened;
  std::function<void(const QString&)> onShow;  // called as a list's search begins
  std::vector<const TSlDocument*> openedSources;
};

}  // namespace findtest
