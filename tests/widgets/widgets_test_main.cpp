// The widget tests run on Qt's offscreen platform: real widgets, painted into real backing stores,
// with a pointer position that QCursor::setPos moves.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  // CTest sets the platform for every test; the fallback lets the program also run by hand and
  // list its tests without a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
