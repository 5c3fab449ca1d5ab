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

// The command line that makes a music file of this kind from a WAV file, %1 standing
// for the WAV and %2 for the file made.
inline QStringList EncoderOf(const QString& extension) {
  const QStringList ffmpeg{"ffmpeg", "-v", "error", "-i", "%1"};
  if (extension == "mp3") return ffmpeg + QStringList{"%2"};
  if (extension == "m4a") return ffmpeg + QStringList{"-c:a", "aac", "%2"};
  if (extension == "wma") return ffmpeg + QStringList{"-c:a", "wmav2", "%2"};
  if (extension == "tta") return ffmpeg + QStringList{"-c:a", "tta", "%2"};
  if (extension == "flac") return {"flac", "-s", "-o", "%2", "%1"};
  if (extension == "oga") return {"flac", "-s", "--ogg", "-o", "%2", "%1"};
  if (extension == "ogg") return {"oggenc", "-Q", "-o", "%2", "%1"};
  if (extension == "opus") return {"opusenc", "--quiet", "%1", "%2"};
  if (extension == "spx") return {"speexenc", "%1", "%2"};
  if (extension == "wv") return {"wavpack", "-q", "%1", "-o", "%2"};
  if (extension == "mpc") return {"mpcenc", "--silent", "%1", "%2"};
  if (extension == "aiff" || extension == "wav") return {"sox", "%1", "%2"};
  ADD_FAILURE() << "no encoder for " << extension.toStdString();
  return {"false"};
}

// Makes the music file path of its extension's kind from the sound file source.
inline void EncodeAs(const QString& source, const QString& path) {
  Encode(EncoderOf(path.mid(path.lastIndexOf('.') + 1)), source, path);
}

// A sine tone of the given length in seconds, written by sox into a 16-bit WAV file.
inline void MakeTone(const QString& path, const QString& seconds, int rate = 44100,
                     int channels = 2) {
  Tool("sox", {"-n", "-r", QString::number(rate), "-c", QString::number(channels), "-b", "16", path,
               "synth", seconds, "sine", "440"});
}

// Runs the command-line tool, which must succeed; its output.
inline QString CliOk(const QStringList& args) {
  const lbtest::CliRun run = lbtest::RunCli(args);
  EXPECT_EQ(run.code, 0) << args.join(' ').toStdString() << ": " << run.err.toStdString();
  return run.out;
}

}  // namespace peertest
