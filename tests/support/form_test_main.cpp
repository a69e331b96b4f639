// The main of the suites that test forms: one QApplication for every test.
// Without a platform named in QT_QPA_PLATFORM the forms are drawn
// offscreen, so the suite needs no display (ctest runs the screenshot
// tests under xvfb-run with the xcb platform instead).
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "tests/support/test_folders.h"

namespace {

QtMessageHandler defaultHandler = nullptr;

// The offscreen platform says, for every window shown, that it cannot do
// what only a real window system does; that says nothing about the test.
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith(QLatin1String("This plugin does not support"))) return;
  defaultHandler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
  defaultHandler = qInstallMessageHandler(quietHandler);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RunTestsInTemporaryFolders();
}
