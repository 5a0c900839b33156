// The main of the Qt test programs: GoogleTest inside a QApplication on Qt's offscreen platform
// (unless QT_QPA_PLATFORM says otherwise), so that no display is needed. Windows the tests close
// must not end the application: the tests decide when the loop ends.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
