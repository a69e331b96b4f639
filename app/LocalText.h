// The interface texts of the current language for the forms: each text is
// asked by its id with the program's own text as the fallback, through the
// application context (TfrmData); without one, the fallback stands.
#pragma once

#include <QString>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "app/TextFormat.h"

// The text of `id`, or `fallback` (for a caption, the control's current
// caption).
QString LocalText(int32_t id, const QString& fallback);

// The format text of `id` filled with `args`; `builtIn` is the program's
// own format, UTF-8, used when the language has no text for `id` or one
// whose conversions differ from it. Text values are Windows-1252 bytes.
QString LocalFormat(int32_t id, std::string_view builtIn, std::initializer_list<FormatArg> args);
