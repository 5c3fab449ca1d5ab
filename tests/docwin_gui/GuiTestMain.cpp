// Test main for the widget tests: a QApplication on the offscreen platform, a private
// registry, settings file and scratch folder, then GoogleTest.
#include "TestEnv.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QString run = lbtest::RunDir();
  qputenv("LBTOOLS_REGISTRY_DIR", (run + "/registry").toLocal8Bit());
  qputenv("LBTOOLS_INI", (run + "/lbtools3.ini").toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", (run + "/config").toLocal8Bit());
  qputenv("XDG_DATA_HOME", (run + "/data").toLocal8Bit());
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
