#include "app/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <vector>

#include "app/FormPlacement.h"

namespace {

FormBounds boundsOf(const QWidget& form) {
  return FormBounds{form.x(), form.y(), form.width(), form.height()};
}

// The parts of the screens that windows may cover.
std::vector<FormBounds> screenAreas() {
  std::vector<FormBounds> areas;
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect area = screen->availableGeometry();
    areas.push_back(FormBounds{area.x(), area.y(), area.width(), area.height()});
  }
  return areas;
}

}  // namespace

bool LoadFormPlacement(QWidget& form, const TIniFile& ini, std::string_view section, bool position,
                       bool size) {
  const FormBounds before = boundsOf(form);
  FormBounds bounds = before;
  if (!ReadFormPlacement(ini, section, position, size, bounds)) return false;
  KeepOnScreens(bounds, before, screenAreas());
  form.move(bounds.left, bounds.top);
  form.resize(bounds.width, bounds.height);
  return true;
}

void SaveFormPlacement(const QWidget& form, TIniFile& ini, std::string_view section, bool position,
                       bool size) {
  WriteFormPlacement(ini, section, position, size, boundsOf(form));
}
