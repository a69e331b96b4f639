#include "tests/support/screenshot.h"

#include <QApplication>
#include <QPixmap>
#include <QTest>
#include <QWidget>
#include <filesystem>

std::string SaveScreenshot(QWidget& window, const std::string& name) {
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return {};
  QApplication::processEvents();
  return SaveScreenshot(window.grab(), name);
}

std::string SaveScreenshot(const QPixmap& picture, const std::string& name) {
  std::error_code error;
  std::filesystem::create_directories(ARTIFACTS_FOLDER, error);
  const std::string path = std::string(ARTIFACTS_FOLDER) + "/" + name + ".png";
  return picture.save(QString::fromStdString(path), "PNG") ? path : std::string();
}
