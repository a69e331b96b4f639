// Finding a form's controls by their design names, clicking them as a user
// does, and reading what they show.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QListWidget>
#include <QStringList>
#include <QTest>
#include <QWidget>
#include <ostream>

// Texts in a failure's message as text, not as arrays of code units.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

template <class Widget>
Widget* Child(QWidget& form, const char* name) {
  Widget* widget = form.findChild<Widget*>(QString::fromLatin1(name));
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}

inline void Click(QWidget& form, const char* name) {
  QTest::mouseClick(Child<QAbstractButton>(form, name), Qt::LeftButton);
}

// A double click as a window system delivers it: press, release, the
// double click, release (QTest::mouseDClick sends the double click alone,
// which item views ignore without the press before it).
inline void DoubleClick(QWidget* widget, QPoint at) {
  QTest::mousePress(widget, Qt::LeftButton, {}, at);
  QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
  QTest::mouseDClick(widget, Qt::LeftButton, {}, at);
  QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
}

// The lines of the list box `name`.
inline QStringList ListLines(QWidget& form, const char* name) {
  QStringList lines;
  if (auto* list = Child<QListWidget>(form, name)) {
    for (int i = 0; i < list->count(); i++) lines << list->item(i)->text();
  }
  return lines;
}
