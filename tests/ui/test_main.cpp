// The window tests run on Qt's offscreen platform. Every test process writes its AT traffic logs
// into a folder of its own, so that tests running in parallel never share a log file.
#include <gtest/gtest.h>

#include <QApplication>

#include "engine/at_log.h"
#include "tests/support/temp_dir.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  testing_support::TempDir logs;
  engine::set_at_log_directory(logs.str());
  return RUN_ALL_TESTS();
}
