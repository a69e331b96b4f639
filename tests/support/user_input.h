// Mouse gestures for form tests that QTest leaves incomplete.
#pragma once

#include <QPoint>
#include <QTest>
#include <QWidget>

// A double click as a window system delivers it: press, release, the
// double click, release (QTest::mouseDClick sends the double click alone,
// which item views ignore without the press before it).
inline void DoubleClick(QWidget* widget, QPoint at) {
  QTest::mousePress(widget, Qt::LeftButton, {}, at);
  QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
  QTest::mouseDClick(widget, Qt::LeftButton, {}, at);
  QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
}
