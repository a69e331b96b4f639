#include "app/FormPlacement.h"

#include "app/TIniFile.h"

bool ReadFormPlacement(const TIniFile& ini, std::string_view section, bool position, bool size,
                       FormBounds& bounds) {
  FormBounds stored;
  stored.left = ini.ReadInteger(section, "Left", bounds.left);
  stored.top = ini.ReadInteger(section, "Top", bounds.top);
  stored.width = ini.ReadInteger(section, "Width", bounds.width);
  stored.height = ini.ReadInteger(section, "Height", bounds.height);
  const FormBounds before = bounds;
  if (position) {
    bounds.left = stored.left;
    bounds.top = stored.top;
  }
  if (size) {
    bounds.width = stored.width;
    bounds.height = stored.height;
  }
  return bounds != before;
}

void WriteFormPlacement(TIniFile& ini, std::string_view section, bool position, bool size,
                        const FormBounds& bounds) {
  if (position) {
    ini.WriteInteger(section, "Left", bounds.left);
    ini.WriteInteger(section, "Top", bounds.top);
  }
  if (size) {
    ini.WriteInteger(section, "Width", bounds.width);
    ini.WriteInteger(section, "Height", bounds.height);
  }
}
