#include "app/WindowPlacement.h"

#include <QWidget>

#include "app/FormPlacement.h"

namespace {

FormBounds boundsOf(const QWidget& form) {
  return FormBounds{form.x(), form.y(), form.width(), form.height()};
}

}  // namespace

bool LoadFormPlacement(QWidget& form, const TIniFile& ini, std::string_view section, bool position,
                       bool size) {
  FormBounds bounds = boundsOf(form);
  if (!ReadFormPlacement(ini, section, position, size, bounds)) return false;
  form.move(bounds.left, bounds.top);
  form.resize(bounds.width, bounds.height);
  return true;
}

void SaveFormPlacement(const QWidget& form, TIniFile& ini, std::string_view section, bool position,
                       bool size) {
  WriteFormPlacement(ini, section, position, size, boundsOf(form));
}
