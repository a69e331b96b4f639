// The edge between stored text and Qt: the catalogue, the ini file and the
// language library hold Windows-1252 bytes; Qt shows and edits QString.
// Every conversion between the two goes through here.
#pragma once

#include <QString>
#include <string>
#include <string_view>

// Windows-1252 bytes as Unicode; every byte has a character.
QString fromAnsi(std::string_view ansi);

// Unicode as Windows-1252 bytes; a character without a Windows-1252 form
// becomes '?'.
std::string toAnsi(const QString& text);

// Memo texts end their lines with CR LF, as stored; a Qt text editor ends
// them with LF. fromAnsiMemo shows each CR LF as LF; toAnsiMemo stores
// each LF as CR LF, so that an unchanged text goes back as it came.
QString fromAnsiMemo(std::string_view ansi);
std::string toAnsiMemo(const QString& text);
