// The implementation tests install: records every message box and question with its
// exact text, answers from a script, and keeps every progress view it made.
#pragma once

#include "platform/UiServices.h"

#include <QList>
#include <deque>
#include <vector>

class ScriptedUiServices : public CoreUiServices {
 public:
  struct Message {
    QString text;
    QString caption;
    unsigned flags = 0;  // MB_* for MessageBox; TAskButton set | icon << 16 for AskButtons
  };
  // A progress view as recorded: its texts, the highest position it was set to, and a
  // hook the test may use to press Stop.
  struct ProgressRecord {
    QString action, object, line;
    QStringList actions;  // every action text shown, in order
    int maxPosition = 0;
    std::vector<int> positions;  // every position set, in order
    std::function<void()> pressStop;
  };

  ScriptedUiServices();   // installs itself
  ~ScriptedUiServices();  // restores the previous implementation

  // Answers given to the next message boxes, in order; when the script is empty the
  // default answer of the box is given.
  void Answer(int result) { m_Answers.push_back(result); }
  const QList<Message>& Messages() const { return m_Messages; }
  QStringList Texts() const;
  void ClearMessages() { m_Messages.clear(); }

  // File dialogs return these once.
  void NextOpenFileNames(const QStringList& names) { m_OpenNames = names; }
  void NextSaveFileName(const QString& name) { m_SaveName = name; }
  void NextFolder(const QString& folder) { m_Folder = folder; }
  // The name the last save dialog proposed.
  const QString& ProposedSaveName() const { return m_ProposedSaveName; }

  // Presses Stop after the given number of ProcessMessages calls (-1: never).
  void StopAfterProcessMessages(int count) { m_StopAfter = count; }
  int ProcessMessagesCount() const { return m_ProcessCount; }

  const std::deque<ProgressRecord>& Progress() const { return m_Progress; }

  int MessageBox(const QString& text, const QString& caption, unsigned flags) override;
  int AskButtons(const QString& text, const QString& caption, unsigned buttons,
                 unsigned icon) override;
  void ProcessMessages() override;
  QStringList GetOpenFileNames(const QString&, const QString&, const QString&) override;
  QString GetSaveFileName(const QString&, const QString&, const QString&) override;
  QString GetExistingFolder(const QString&, const QString&) override;
  std::unique_ptr<IProgressView> CreateProgressView(std::function<void()> onStop) override;

 private:
  UiServices* m_Previous = nullptr;
  std::deque<int> m_Answers;
  QList<Message> m_Messages;
  QStringList m_OpenNames;
  QString m_SaveName, m_Folder, m_ProposedSaveName;
  int m_StopAfter = -1;
  int m_ProcessCount = 0;
  std::deque<ProgressRecord> m_Progress;
  std::function<void()> m_LastStop;
};
