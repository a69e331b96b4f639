// The code pages of the expression functions, fixed so that no result
// depends on the process locale: upper case of text (UPPER) and wide text
// made 8-bit (STR of a W field).
#pragma once

#include <cstdint>

// The code-page byte of a DBF header that marks Windows ANSI text.
inline constexpr int32_t expr4codePageWindowsAnsi = 3;

// Upper-cases `length` bytes in place: a-z only, or with `windowsAnsi` the
// letters of Windows-1252 as well (accented letters, and the pairs
// 0x9A/0x8A, 0x9C/0x8C, 0x9E/0x8E and 0xFF/0x9F). Bytes without an upper
// case of their own in the code page (0xDF, 0xB5) stay.
void expr4upper(char* text, int32_t length, bool windowsAnsi);

// The byte of OEM code page 850 for a UTF-16 code unit; '?' for a
// character that code page lacks.
char expr4oemFromWide(uint16_t unit);
