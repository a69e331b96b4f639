// Pictures of windows for a person to look at: PNG files under the build
// folder's artifacts/, never compared by the tests.
#pragma once

#include <string>

class QPixmap;
class QWidget;

// Shows `window`, waits until it is on the screen and saves what it shows
// as artifacts/<name>.png; the path written, or empty on failure.
std::string SaveScreenshot(QWidget& window, const std::string& name);
// Saves a picture taken otherwise (of another program's window) the same
// way.
std::string SaveScreenshot(const QPixmap& picture, const std::string& name);
