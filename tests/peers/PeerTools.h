// Running the other programs the peer tests check against (encoders, mutagen) and the
// command-line tool.
#pragma once

#include "CliRun.h"

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

namespace peertest {

// Runs a program that must succeed; its output.
inline QString Tool(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  p.waitForFinished(120000);
  EXPECT_TRUE(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
      << program.toStdString() << ": " << p.readAllStandardError().toStdString();
  return QString::fromUtf8(p.readAllStandardOutput());
}

// Makes the music file path from the sound file source with an encoder's command line,
// in which %1 stands for the source and %2 for the file made.
inline void Encode(QStringList command, const QString& source, const QString& path) {
  for (QString& a : command) a.replace("%1", source).replace("%2", path);
  Tool(command.takeFirst(), command);
}

// Runs the command-line tool, which must succeed; its output.
inline QString CliOk(const QStringList& args) {
  const lbtest::CliRun run = lbtest::RunCli(args);
  EXPECT_EQ(run.code, 0) << args.join(' ').toStdString() << ": " << run.err.toStdString();
  return run.out;
}

}  // namespace peertest
