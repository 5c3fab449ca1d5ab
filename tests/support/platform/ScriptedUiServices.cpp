#include "ScriptedUiServices.h"

#include <algorithm>
#include <utility>

namespace {

// Forwards to a plain view and copies every change into the record the test reads.
// The record lives in the services' deque, whose elements never move, so it stays
// readable after the view is gone; pressing Stop on a destroyed view does nothing.
class RecordingView : public IProgressView {
 public:
  RecordingView(std::unique_ptr<IProgressView> inner, ScriptedUiServices::ProgressRecord* record,
                std::shared_ptr<bool> alive)
      : m_Inner(std::move(inner)), m_Record(record), m_Alive(std::move(alive)) {}
  ~RecordingView() override { *m_Alive = false; }

  void SetAction(const QString& text) override {
    m_Inner->SetAction(text);
    // The list holds each action the window showed: setting the text it already
    // shows again adds nothing.
    if (m_Record->actions.isEmpty() || m_Record->action != text) m_Record->actions << text;
    m_Record->action = text;
  }
  void SetObject(const QString& text) override {
    m_Inner->SetObject(text);
    m_Record->object = m_Inner->Object();
  }
  void SetLine(const QString& prefix, const QString& text) override {
    m_Inner->SetLine(prefix, text);
    m_Record->line = m_Inner->Line();
  }
  void SetBarVisible(bool bar) override { m_Inner->SetBarVisible(bar); }
  bool BarVisible() const override { return m_Inner->BarVisible(); }
  void SetPosition(int percent) override {
    m_Inner->SetPosition(percent);
    m_Record->maxPosition = std::max(m_Record->maxPosition, m_Inner->Position());
    m_Record->positions.push_back(m_Inner->Position());
  }
  int Position() const override { return m_Inner->Position(); }
  QString Action() const override { return m_Inner->Action(); }
  QString Object() const override { return m_Inner->Object(); }
  QString Line() const override { return m_Inner->Line(); }
  void SetStopEnabled(bool enabled) override { m_Inner->SetStopEnabled(enabled); }
  bool StopEnabled() const override { return m_Inner->StopEnabled(); }

 private:
  std::unique_ptr<IProgressView> m_Inner;
  ScriptedUiServices::ProgressRecord* m_Record;
  std::shared_ptr<bool> m_Alive;
};

}  // namespace

ScriptedUiServices::ScriptedUiServices() {
  m_Previous = UiServices::Install(this);
}

ScriptedUiServices::~ScriptedUiServices() {
  UiServices::Install(m_Previous);
}

QStringList ScriptedUiServices::Texts() const {
  QStringList texts;
  for (const Message& m : m_Messages) texts << m.text;
  return texts;
}

int ScriptedUiServices::MessageBox(const QString& text, const QString& caption, unsigned flags) {
  m_Messages.append(Message{text, caption, flags});
  if (m_Answers.empty()) return DefaultAnswer(flags);
  int answer = m_Answers.front();
  m_Answers.pop_front();
  return answer;
}

int ScriptedUiServices::AskButtons(const QString& text, const QString& caption, unsigned buttons,
                                   unsigned icon) {
  m_Messages.append(Message{text, caption, buttons | (icon << 16)});
  if (m_Answers.empty()) return CoreUiServices::AskButtons(text, caption, buttons, icon);
  int answer = m_Answers.front();
  m_Answers.pop_front();
  return answer;
}

void ScriptedUiServices::ProcessMessages() {
  CoreUiServices::ProcessMessages();
  ++m_ProcessCount;
  if (m_StopAfter >= 0 && m_ProcessCount >= m_StopAfter && m_LastStop) {
    m_StopAfter = -1;  // one press
    m_LastStop();
  }
}

QStringList ScriptedUiServices::GetOpenFileNames(const QString&, const QString&, const QString&) {
  return std::exchange(m_OpenNames, {});
}

QString ScriptedUiServices::GetSaveFileName(const QString&, const QString& fileName,
                                            const QString&) {
  m_ProposedSaveName = fileName;
  return std::exchange(m_SaveName, {});
}

QString ScriptedUiServices::GetExistingFolder(const QString&, const QString&) {
  return std::exchange(m_Folder, {});
}

std::unique_ptr<IProgressView> ScriptedUiServices::CreateProgressView(
    std::function<void()> onStop) {
  auto alive = std::make_shared<bool>(true);
  m_Progress.emplace_back();
  ProgressRecord* record = &m_Progress.back();
  record->pressStop = [alive, onStop] {
    if (*alive && onStop) onStop();
  };
  m_LastStop = record->pressStop;
  return std::make_unique<RecordingView>(CoreUiServices::CreateProgressView(nullptr), record,
                                         alive);
}
