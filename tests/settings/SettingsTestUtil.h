// What the settings tests share: a fresh settings file, registry and data folder per
// test, a recording stand-in for the main window, and a fake player on PATH.
#pragma once

#include "TestEnv.h"
#include "lbtools3/settings/Settings.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

namespace settingstest {

// Points the settings file, the registry and $XDG_DATA_HOME at a new folder.
class FreshEnvironment {
 public:
  FreshEnvironment() : m_Dir(lbtest::NewTempDir()) {
    qputenv("LBTOOLS_INI", (m_Dir + "/lbtools3.ini").toLocal8Bit());
    qputenv("LBTOOLS_REGISTRY_DIR", (m_Dir + "/registry").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (m_Dir + "/data").toLocal8Bit());
  }
  QString Dir() const { return m_Dir; }
  QString IniPath() const { return m_Dir + "/lbtools3.ini"; }
  QString DataHome() const { return m_Dir + "/data"; }

 private:
  QString m_Dir;
};

// Records what the dialog did to the main window, in order.
class RecordingEffects : public ISettingsEffects {
 public:
  QStringList calls;
  THotKeySlots applied{};
  bool editorPathUsed = false;
  bool hookLibrary = false;

  void RetitleAllDocuments() override { calls << "Retitle"; }
  void SetEditorPathUsed(bool used) override {
    calls << "EditorPathUsed";
    editorPathUsed = used;
  }
  void ReinitPlayer() override { calls << "ReinitPlayer"; }
  void ApplyHotKeys(const THotKeySlots& hotKeys) override {
    calls << "ApplyHotKeys";
    applied = hotKeys;
  }
  bool HookLibraryLoaded() const override { return hookLibrary; }
  void InstallHook() override { calls << "InstallHook"; }
};

// Replaces PATH for the life of the object; with a player the folder holds an
// executable "audacious".
class FakePath {
 public:
  explicit FakePath(bool withPlayer) : m_Old(qgetenv("PATH")), m_Dir(lbtest::NewTempDir()) {
    if (withPlayer) {
      m_Player = m_Dir + "/audacious";
      lbtest::WriteFile(m_Player, "#!/bin/sh\n");
      QFile::setPermissions(m_Player, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    qputenv("PATH", m_Dir.toLocal8Bit());
  }
  ~FakePath() { qputenv("PATH", m_Old); }
  QString Player() const { return m_Player; }

 private:
  QByteArray m_Old;
  QString m_Dir, m_Player;
};

// An existing file to name as a program.
inline QString MakeProgram(const QString& name) {
  QString path = lbtest::NewTempDir() + "/" + name;
  lbtest::WriteFile(path, "#!/bin/sh\n");
  return path;
}

}  // namespace settingstest
