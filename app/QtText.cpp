#include "app/QtText.h"

#include <QByteArray>

#include "platform/ansi.h"

QString fromAnsi(std::string_view ansi) {
  const std::string utf8 = platform::ansiToUtf8(ansi);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string toAnsi(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return platform::utf8ToAnsi(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

QString fromAnsiMemo(std::string_view ansi) {
  return fromAnsi(ansi).replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

std::string toAnsiMemo(const QString& text) {
  return toAnsi(QString(text).replace(QLatin1Char('\n'), QLatin1String("\r\n")));
}
