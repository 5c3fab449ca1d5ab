// Every test process runs against a private registry, settings file and scratch folder.
#pragma once

#include <QByteArray>
#include <QString>

namespace lbtest {
// A fresh empty folder below the run's temporary folder.
QString NewTempDir();
// The run's temporary folder (registry and settings live there).
QString RunDir();
// The folder that holds the built programs and servers.
QString BinDir();
// Writes bytes to a file (creating folders); false on failure.
bool WriteFile(const QString& path, const QByteArray& bytes);
QByteArray ReadFile(const QString& path);
}  // namespace lbtest
