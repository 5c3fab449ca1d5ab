// The main window, repository and player controller as a document window sees them,
// recording what the window asks of them.
#pragma once

#include "lbtools3/ui/IDocumentHost.h"
#include "platform/IniFile.h"

#include <QStringList>
#include <functional>

class FakeHost : public IDocumentHost {
 public:
  FakeHost() : ini(lb::SettingsFilePath()) {}

  bool ExecuteCommand(const QString& name) override {
    commands << name;
    return true;
  }
  bool SaveDocument(IDocumentWindow* window) override {
    ++saves;
    return saveResult && (!onSave || onSave(window));
  }
  void ChangePathsInAllLists(const QStringList& pairs, IDocumentWindow* skip) override {
    changedPaths << pairs;
    skipped = skip;
  }
  TIniFile& Settings() override { return ini; }
  QIcon Image(int) override { return QIcon(); }
  bool Exiting() const override { return false; }
  IInsertListRepository* ListRepository() override { return nullptr; }
  void ForgetList(const QString& path) override { events << "forget " + path; }
  void WindowClosed(IDocumentWindow*) override { events << "closed"; }
  TColumnLayout DefaultColumns() override { return defaultColumns; }
  void StoreDefaultColumns(const TColumnLayout& columns) override { storedDefault = columns; }
  bool PlayerFollows(IDocumentWindow*) override { return following; }
  void PlayerStopFollowing(IDocumentWindow*) override {
    following = false;
    ++stopFollowing;
  }
  int PlayerPlayingRow(IDocumentWindow*) override { return playingRow; }
  void PlayerPlayFrom(IDocumentWindow*, int n) override { playedFrom = n; }
  void PlayerRowRemoving(IDocumentWindow*, int n) override {
    events << QString("removing %1").arg(n);
  }
  void PlayerRowRemoved(IDocumentWindow*, int n) override {
    events << QString("removed %1").arg(n);
  }
  void PlayerForgetRow(IDocumentWindow*) override { events << "forget row"; }

  TIniFile ini;
  QStringList commands, changedPaths, events;
  IDocumentWindow* skipped = nullptr;
  int saves = 0;
  bool saveResult = true;
  std::function<bool(IDocumentWindow*)> onSave;
  TColumnLayout defaultColumns, storedDefault;
  bool following = true;
  int stopFollowing = 0;
  int playingRow = -1;
  int playedFrom = -1;
};
