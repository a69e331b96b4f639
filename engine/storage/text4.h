// Text helpers over NUL-terminated byte strings in the Windows-1252 code
// page: trimming, case, bounded copies, name comparison, and the picture
// encoding under date formatting.
//
// Case changes and comparisons here map the ASCII letters a-z and A-Z only,
// whatever the process locale: names and keys must compare the same on
// every machine, and bytes above 127 are never touched.
#pragma once

#include <cstdint>

// Cuts `text` at its first NUL within `size` bytes, or writes a NUL at
// position size - 1, then removes trailing blanks. Returns the length left;
// a size below 1 writes nothing and returns 0.
int32_t text4trimLength(char* text, int32_t size);

// Removes trailing blanks; returns the length left.
int32_t text4trim(char* text);

void text4upper(char* text);
void text4lower(char* text);

// Copies at most size - 1 bytes of `source` and always terminates; returns
// the number copied. A size below 1 raises -930 (a null text -935) at 90340
// without a settings object and copies nothing.
int32_t text4copyBounded(char* destination, const char* source, int32_t size);

// Compares two texts with ASCII letters folded to lower case, as unsigned
// bytes: below 0, 0 or above 0. Every lookup of tables, aliases and file
// names by name goes through this.
int text4compareNoCase(const char* a, const char* b);

// 1 for A-Z, a-z, 0-9 and '_', else 0.
int text4isIdentifierChar(int character);

// Lays the `source` characters into a copy of `picture` according to
// `pattern`, which names the source's characters (for dates "CCYYMMDD").
// `output` receives the picture, terminator included, so it must hold
// strlen(picture) + 1 bytes; `source` must hold strlen(pattern) bytes.
// For each run of one letter in the pattern, the letter's first run in the
// picture takes the run's source characters in order: a longer picture run
// keeps its surplus letters, a shorter one drops the surplus characters. A
// letter missing from the picture drops its characters.
void text4encode(char* output, const char* source, const char* picture, const char* pattern);
