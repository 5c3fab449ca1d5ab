// Test main: a private registry and settings file for the run, then GoogleTest.
#include "TestEnv.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  lbtest::PrepareEnvironment();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
