// Forms build their controls in code; each control carries its design
// name as objectName, so that tests find it with findChild.
#pragma once

#include <QString>

template <class Widget>
Widget* Named(Widget* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}
