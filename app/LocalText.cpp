#include "app/LocalText.h"

#include "app/QtText.h"
#include "app/TfrmData.h"
#include "platform/ansi.h"

QString LocalText(int32_t id, const QString& fallback) {
  if (frmData == nullptr) return fallback;
  const std::string own = toAnsi(fallback);
  const std::string text = frmData->Texts().GetString(id, own);
  // The fallback as given: a character it has beyond Windows-1252 stays.
  return text == own ? fallback : fromAnsi(text);
}

QString LocalFormat(int32_t id, std::string_view builtIn, std::initializer_list<FormatArg> args) {
  const std::string own = platform::utf8ToAnsi(builtIn);
  const std::string text = frmData != nullptr ? frmData->Texts().GetString(id, own) : own;
  return fromAnsi(FormatTranslated(text, own, args));
}
