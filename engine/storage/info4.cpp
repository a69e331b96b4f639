#include "engine/storage/info4.h"

#include <cstring>

#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "engine/storage/memory4.h"

namespace {

constexpr int32_t kLocTagNoCode = 60224;
constexpr size_t kNameSize = 11;

// A copy of `name` cut before its first blank and to ten characters, upper
// case; null when memory ran out.
char* copyName(CODE4* c, const char* name) {
  auto* copy = static_cast<char*>(memory4allocOrError(c, kNameSize));
  if (copy == nullptr) return nullptr;
  size_t n = 0;
  for (; name != nullptr && name[n] != '\0' && name[n] != ' ' && n < kNameSize - 1; n++) {
    const char ch = name[n];
    copy[n] = ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 32) : ch;
  }
  copy[n] = '\0';
  return copy;
}

char* copyText(CODE4* c, const char* text) {
  const size_t length = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(memory4allocOrError(c, static_cast<int64_t>(length)));
  if (copy != nullptr) std::memcpy(copy, text, length);
  return copy;
}

// Grows the entry array to hold `count` entries and the zeroed one after
// them; the grown part is zero-filled.
template <class Entry>
bool makeRoom(CODE4* c, Entry*& entries, uint32_t& size, int count) {
  char* bytes = reinterpret_cast<char*>(entries);
  const uint32_t wanted = static_cast<uint32_t>((count + 1) * sizeof(Entry));
  if (memory4grow(c, &bytes, &size, wanted) != 0) return false;
  entries = reinterpret_cast<Entry*>(bytes);
  return true;
}

}  // namespace

Field4info::Field4info(CODE4& c) : c_(&c) {}

Field4info::~Field4info() { free(); }

int Field4info::add(const char* name, int16_t type, uint16_t length, int16_t decimals,
                    uint16_t nulls) {
  if (!makeRoom(c_, entries_, size_, count_ + 1)) return -1;
  char* copy = copyName(c_, name);
  if (copy == nullptr) return -1;
  entries_[count_] = FIELD4INFO{copy, type, length, decimals, nulls};
  count_++;
  return 0;
}

void Field4info::free() {
  for (int i = count_ - 1; i >= 0; i--) memory4freeBlock(const_cast<char*>(entries_[i].name));
  memory4freeBlock(entries_);
  entries_ = nullptr;
  count_ = 0;
  size_ = 0;
}

Tag4info::Tag4info(CODE4& c) : c_(&c) {}

Tag4info::~Tag4info() { free(); }

int Tag4info::add(const char* name, const char* expression, const char* filter, int16_t unique,
                  uint16_t descending) {
  if (c_ == nullptr) return error4(nullptr, e4object, kLocTagNoCode);
  if (!makeRoom(c_, entries_, size_, count_ + 1)) return -1;
  // Each copy is checked as it is made: a pending error says nothing once
  // the program's hook has cleared it.
  char* nameCopy = copyName(c_, name);
  char* expressionCopy = nameCopy != nullptr && expression != nullptr ? copyText(c_, expression) : nullptr;
  char* filterCopy = filter != nullptr && expressionCopy != nullptr ? copyText(c_, filter) : nullptr;
  if (nameCopy == nullptr || expressionCopy == nullptr || (filter != nullptr && filterCopy == nullptr)) {
    memory4freeBlock(nameCopy);
    memory4freeBlock(expressionCopy);
    memory4freeBlock(filterCopy);
    entries_[count_] = TAG4INFO{};
    return -1;
  }
  entries_[count_] = TAG4INFO{nameCopy, expressionCopy, filterCopy, unique, descending};
  count_++;
  return 0;
}

void Tag4info::free() {
  for (int i = count_ - 1; i >= 0; i--) {
    memory4freeBlock(const_cast<char*>(entries_[i].name));
    memory4freeBlock(const_cast<char*>(entries_[i].expression));
    memory4freeBlock(const_cast<char*>(entries_[i].filter));
  }
  memory4freeBlock(entries_);
  entries_ = nullptr;
  count_ = 0;
  size_ = 0;
}
