// Runs the built command-line tool as a user's script does and collects what it says.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace lbtest {

struct CliRun {
  int code = -1;
  QString out, err;
};

struct CliOptions {
  // The settings file the tool reads (LBTOOLS_INI); empty keeps the run's own.
  QString ini;
  // The folder the tool starts in; empty keeps the test's.
  QString workingDir;
  // Bytes on the tool's standard input (closed after them).
  QByteArray input;
  int timeoutMs = 60000;
};

// Runs lbtools3-cli with the arguments. A tool that cannot start, crashes or outlives
// the time limit fails the calling test (and is killed); its code is -1 then.
CliRun RunCli(const QStringList& args, const CliOptions& options = {});

}  // namespace lbtest
