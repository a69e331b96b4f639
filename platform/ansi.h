// The Windows-1252 ("ANSI") code page, in which the catalogue stores every
// text, and its conversion to and from Unicode.
//
// Text meets the system at two edges only: names read from the Linux file
// system arrive as UTF-8 and are stored as Windows-1252; stored bytes become
// Unicode when shown and go back when typed. Everything between handles the
// bytes as they are. A character with no Windows-1252 form becomes '?', as
// the Windows ANSI services make it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The Unicode code point of a Windows-1252 byte. The five bytes the code
// page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1
// control of the same value, as Windows does, so every byte round-trips.
char32_t ansiToUnicode(uint8_t byte);

// The Windows-1252 byte of a code point, or -1 when it has none.
int unicodeToAnsi(char32_t codePoint);

// UTF-8 to Windows-1252. Characters without a Windows-1252 form, and bytes
// that are not well-formed UTF-8, become '?' (one per character or per
// malformed byte).
std::string utf8ToAnsi(std::string_view utf8);

// Windows-1252 to UTF-8; never fails.
std::string ansiToUtf8(std::string_view ansi);

}  // namespace platform
