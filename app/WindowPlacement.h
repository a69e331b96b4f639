// A window's placement in the ini file (see FormPlacement.h for the keys).
// A window's left and top are those of its frame and its width and height
// those of its inside, as Qt moves and sizes a window, so that a placement
// written here is restored exactly.
#pragma once

#include <string_view>

class QWidget;
class TIniFile;

// Moves and sizes `form` as `section` says (position and size each when
// asked), kept within reach on the screens (KeepOnScreens); true when the
// ini file's placement differed from the form's.
bool LoadFormPlacement(QWidget& form, const TIniFile& ini, std::string_view section, bool position,
                       bool size);

// Writes the form's position and size (each when asked) into `section`.
void SaveFormPlacement(const QWidget& form, TIniFile& ini, std::string_view section, bool position,
                       bool size);
