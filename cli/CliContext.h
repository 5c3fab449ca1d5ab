// What every command of the command-line tool shares: its output streams, the answer
// it gives to questions, and the console implementation of the user-interface seam.
#pragma once

#include "platform/UiServices.h"

#include <QStringList>
#include <QTextStream>
#include <functional>
#include <vector>

struct CliContext {
  QTextStream& out;
  QTextStream& err;
  bool bYes = false;  // answer Yes to every question (default: No)
};

// Message boxes become lines on the error stream; questions get the context's answer.
class CliUiServices : public CoreUiServices {
 public:
  explicit CliUiServices(CliContext& context) : m_Context(context) {}
  int MessageBox(const QString& text, const QString& caption, unsigned flags) override;
  int AskButtons(const QString& text, const QString& caption, unsigned buttons,
                 unsigned icon) override;

 private:
  CliContext& m_Context;
};

using CliCommand = std::function<int(CliContext&, const QStringList& args)>;
struct CliCommandInfo {
  QString name;   // "list show"
  QString usage;  // "LIST"
  QString help;
  CliCommand run;
};

// The commands each part of the tool adds.
QList<CliCommandInfo> ListCommands();
QList<CliCommandInfo> TagCommands();
QList<CliCommandInfo> TagEditCommands();
QList<CliCommandInfo> ScanCommands();
QList<CliCommandInfo> ExtractCommands();
QList<CliCommandInfo> SettingsCommands();
QList<CliCommandInfo> RepoCommands();
QList<CliCommandInfo> MaintenanceCommands();
QList<CliCommandInfo> PlayerCommands();
QList<CliCommandInfo> FindSortCommands();
QList<CliCommandInfo> FileCommands();
QList<CliCommandInfo> RecognizeCommands();
QList<CliCommandInfo> RelinkCommands();
QList<CliCommandInfo> TagCoverCommands();

// Helpers shared by the commands.
class TSlDocument;
// The path made absolute and clean.
QString CliAbsolutePath(const QString& path);
// The folders named by the arguments, made absolute; false (after saying which is
// missing) when one is not a folder.
bool CliFolders(CliContext& c, const QStringList& args, QStringList* folders);
// Loads the list named by the argument (made absolute); prints why when it cannot.
bool CliLoadList(CliContext& c, const QString& path, TSlDocument& doc);
bool CliSaveList(CliContext& c, TSlDocument& doc);
// Rows "N,M-K" numbered from 1 into 0-based rows, ascending and without repeats (empty
// text: every row); false (after saying why) when one is not a row of a list of count
// songs.
bool CliParseRows(CliContext& c, const QString& text, int count, std::vector<int>* rows);
int CliUsageError(CliContext& c, const QString& text);
// Creates the tag component for this thread; prints the reason and returns false when
// it cannot be created.
bool CliAttachID3Com(CliContext& c);
