#include "engine/storage/text4.h"

#include <cstring>

#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocCopyBounded = 90340;

char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

int32_t trimFrom(char* text, size_t length) {
  while (length > 0 && text[length - 1] == ' ') --length;
  text[length] = '\0';
  return static_cast<int32_t>(length);
}

}  // namespace

int32_t text4trimLength(char* text, int32_t size) {
  if (text == nullptr || size < 1) return 0;
  const size_t limit = static_cast<size_t>(size);
  size_t length = strnlen(text, limit);
  if (length == limit) length = limit - 1;
  return trimFrom(text, length);
}

int32_t text4trim(char* text) {
  if (text == nullptr) return 0;
  return trimFrom(text, std::strlen(text));
}

void text4upper(char* text) {
  for (; text != nullptr && *text != '\0'; ++text) *text = asciiUpper(*text);
}

void text4lower(char* text) {
  for (; text != nullptr && *text != '\0'; ++text) *text = asciiLower(*text);
}

int32_t text4copyBounded(char* destination, const char* source, int32_t size) {
  if (destination == nullptr || source == nullptr) {
    return error4(nullptr, e4parmNull, kLocCopyBounded);
  }
  if (size < 1) return error4(nullptr, e4parm, kLocCopyBounded);
  const size_t length = strnlen(source, static_cast<size_t>(size) - 1);
  std::memmove(destination, source, length);
  destination[length] = '\0';
  return static_cast<int32_t>(length);
}

int text4compareNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const auto x = static_cast<unsigned char>(asciiLower(*a));
    const auto y = static_cast<unsigned char>(asciiLower(*b));
    if (x != y || x == 0) return x - y;
  }
}

int text4isIdentifierChar(int character) {
  const bool letter =
      (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z');
  const bool digit = character >= '0' && character <= '9';
  return letter || digit || character == '_' ? 1 : 0;
}

void text4encode(char* output, const char* source, const char* picture, const char* pattern) {
  std::strcpy(output, picture);
  for (size_t s = 0; pattern[s] != '\0';) {
    const char letter = pattern[s];
    const char* found = std::strchr(picture, letter);
    if (found == nullptr) {
      ++s;
      continue;
    }
    size_t at = static_cast<size_t>(found - picture);
    output[at++] = source[s++];
    for (; pattern[s] == letter; ++s) {
      if (picture[at] == letter) output[at++] = source[s];
    }
  }
}
