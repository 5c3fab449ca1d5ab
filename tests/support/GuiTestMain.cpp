// Test main for widget tests: a QApplication on the offscreen platform (also when the
// test list is read without the tests' environment), then the run's private
// configuration and GoogleTest.
#include "TestEnv.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  lbtest::PrepareEnvironment();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
