// The progress-window manager: one modeless progress window shared by nested long
// loops on the main thread (loading and saving lists, scans, searches). Each Open
// pushes the outer texts, each Close brings them back; the Stop flag is shared by all
// levels, so a stop pressed during an inner step also ends the outer loops.
#pragma once

#include "platform/UiServices.h"

#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

// Shortens a path-like text to a label's width, keeping its tail visible: when the
// text is wider than width, its first three characters become "..." and characters
// after the "..." are dropped until the text fits. measure gives a text's width in the
// label's font (negative when it cannot be measured, which ends the shortening).
QString ShortenPathText(const QString& text, int width,
                        const std::function<int(const QString&)>& measure);

class TSlInfoWindowManager {
 public:
  // Something disabled while the window exists (a tool bar, a list view...).
  using ExtraControl = std::function<void(bool enabled)>;

  // Opens a nesting level and returns the window. bProgress shows the bar, otherwise
  // the text line in its place.
  IProgressView* Open(const QString& action, const QString& object, bool bProgress,
                      ExtraControl extraControl = {}, bool bLeaveMainWindow = false);
  void SetAction(const QString& text);
  void SetObject(const QString& text);
  void SetLine(const QString& prefix, const QString& text);
  void SetProgress(int percent);
  void Close();

  int Depth() const { return m_Depth; }
  IProgressView* Window() const { return m_Window.get(); }

  // Set by the window's Stop button; cleared when the outermost level opens.
  bool m_bStop = false;
  // Lets the user interface react, then tells whether the user stopped.
  bool ProcessAndCheckStop();

  void SetStopEnabled(bool enabled);
  bool StopEnabled() const;

  // Runs fn once no job is under way: at a later turn of the event loop, after the
  // outermost level closed when a job is open now (requests from other processes wait
  // so, and the sender is answered at once). Dropped when context goes first.
  void WhenNoJob(QObject* context, std::function<void()> fn);

 private:
  struct SavedState {
    QString action, object, line;
    bool bar = true;
    int position = 0;
  };
  int m_Depth = 0;
  // The services the outermost level opened with: they disabled the main window and
  // give it back, even when other services are installed meanwhile (a termination
  // signal installs its own while a job runs).
  UiServices* m_pUi = nullptr;
  std::unique_ptr<IProgressView> m_Window;
  bool m_bMainTouched = false;
  bool m_bMainWasEnabled = true;
  ExtraControl m_ExtraControl;
  std::vector<SavedState> m_Saved;
  struct TAfterJob {
    QPointer<QObject> context;
    std::function<void()> fn;
  };
  std::vector<TAfterJob> m_AfterJob;
};

// The program-wide manager.
TSlInfoWindowManager& InfoWindowManager();

// Opens a level for the life of the object.
class TInfoWindowLevel {
 public:
  TInfoWindowLevel(const QString& action, const QString& object, bool bProgress) {
    InfoWindowManager().Open(action, object, bProgress);
  }
  ~TInfoWindowLevel() { InfoWindowManager().Close(); }
  TInfoWindowLevel(const TInfoWindowLevel&) = delete;
  TInfoWindowLevel& operator=(const TInfoWindowLevel&) = delete;
};

// Disables the window's Stop button for the life of the object (a list file is being
// written) and gives it back its previous state afterwards.
class TStopButtonLock {
 public:
  TStopButtonLock() : m_bWasEnabled(InfoWindowManager().StopEnabled()) {
    InfoWindowManager().SetStopEnabled(false);
  }
  ~TStopButtonLock() { InfoWindowManager().SetStopEnabled(m_bWasEnabled); }
  TStopButtonLock(const TStopButtonLock&) = delete;
  TStopButtonLock& operator=(const TStopButtonLock&) = delete;

 private:
  bool m_bWasEnabled;
};
