#include "CliRun.h"

#include "TestEnv.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace lbtest {

CliRun RunCli(const QStringList& args, const CliOptions& options) {
  QProcess process;
  if (!options.ini.isEmpty()) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LBTOOLS_INI", options.ini);
    process.setProcessEnvironment(env);
  }
  if (!options.workingDir.isEmpty()) process.setWorkingDirectory(options.workingDir);
  const QString what = "lbtools3-cli " + args.join(' ');
  process.start(BinDir() + "/lbtools3-cli", args);
  CliRun run;
  if (!process.waitForStarted()) {
    ADD_FAILURE() << what.toStdString() << ": " << process.errorString().toStdString();
    return run;
  }
  if (!options.input.isEmpty()) process.write(options.input);
  process.closeWriteChannel();
  if (!process.waitForFinished(options.timeoutMs)) {
    process.kill();
    process.waitForFinished();
    ADD_FAILURE() << what.toStdString() << ": no end within " << options.timeoutMs << " ms";
    return run;
  }
  run.out = QString::fromUtf8(process.readAllStandardOutput());
  run.err = QString::fromUtf8(process.readAllStandardError());
  if (process.exitStatus() != QProcess::NormalExit) {
    ADD_FAILURE() << what.toStdString() << ": crashed\n" << run.err.toStdString();
    return run;
  }
  run.code = process.exitCode();
  return run;
}

}  // namespace lbtest
