#include "app/LanguageSnapshot.h"

#include <algorithm>

namespace language_snapshot {
namespace {

void putInt(std::string& out, int32_t value) {
  const auto bits = static_cast<uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(bits >> shift));
}

void putText(std::string& out, const std::string& text) {
  const size_t length = std::min(text.size(), kMaxText);
  out.push_back(static_cast<char>(length));
  out.append(text, 0, length);
}

// Reads from the front of the bytes it was given; once a read fails, every
// later one fails too.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}

  bool Int(int32_t& value) {
    if (rest_.size() < 4) return fail();
    uint32_t bits = 0;
    for (int i = 0; i < 4; i++) bits |= uint32_t{static_cast<uint8_t>(rest_[i])} << (8 * i);
    value = static_cast<int32_t>(bits);
    rest_.remove_prefix(4);
    return ok_;
  }

  // A count within 0..limit.
  bool Count(int32_t& value, int64_t limit) {
    return Int(value) && ((value >= 0 && value <= limit) || fail());
  }

  bool Byte(uint8_t& value) {
    if (rest_.empty()) return fail();
    value = static_cast<uint8_t>(rest_[0]);
    rest_.remove_prefix(1);
    return ok_;
  }

  bool Text(std::string& text) {
    uint8_t length = 0;
    if (!Byte(length) || rest_.size() < length) return fail();
    text.assign(rest_.data(), length);
    rest_.remove_prefix(length);
    return ok_;
  }

  // Whether at least `count` more items of at least `size` bytes each may
  // follow: checked before room is made for them.
  bool Holds(int64_t count, int64_t size) {
    return static_cast<int64_t>(rest_.size()) >= count * size || fail();
  }

  bool AtEnd() const { return ok_ && rest_.empty(); }

 private:
  bool fail() {
    ok_ = false;
    rest_ = {};
    return false;
  }

  std::string_view rest_;
  bool ok_ = true;
};

}  // namespace

const Language* Snapshot::Find(int32_t id) const {
  for (const Language& language : languages) {
    if (language.id == id) return &language;
  }
  return nullptr;
}

size_t EncodedSize(const Language& language, int32_t stringCount) {
  size_t size = 6 + std::min(language.name.size(), kMaxText);
  for (int32_t i = 0; i < stringCount; i++) {
    const size_t index = static_cast<size_t>(i);
    size +=
        1 +
        (index < language.strings.size() ? std::min(language.strings[index].size(), kMaxText) : 0);
  }
  return size;
}

std::string Encode(const Snapshot& snapshot) {
  std::string out;
  putInt(out, snapshot.defaultLanguage);
  putInt(out, static_cast<int32_t>(snapshot.entryIds.size()));
  for (int32_t id : snapshot.entryIds) putInt(out, id);
  putInt(out, snapshot.startEntry);
  putInt(out, snapshot.startEntryId);
  putInt(out, snapshot.stringCount);
  putInt(out, static_cast<int32_t>(snapshot.languages.size()));
  for (const Language& language : snapshot.languages) {
    putInt(out, language.id);
    out.push_back(language.named ? 1 : 0);
    putText(out, language.name);
    for (int32_t i = 0; i < snapshot.stringCount; i++) {
      const size_t index = static_cast<size_t>(i);
      putText(out, index < language.strings.size() ? language.strings[index] : std::string());
    }
  }
  return out;
}

bool Decode(std::string_view bytes, Snapshot& snapshot) {
  Reader in(bytes);
  int32_t entries = 0;
  if (!in.Int(snapshot.defaultLanguage) || !in.Count(entries, kMaxCount) || !in.Holds(entries, 4))
    return false;
  snapshot.entryIds.assign(static_cast<size_t>(entries), 0);
  for (int32_t& id : snapshot.entryIds) {
    if (!in.Int(id)) return false;
  }
  int32_t languages = 0;
  if (!in.Int(snapshot.startEntry) || !in.Int(snapshot.startEntryId) ||
      !in.Count(snapshot.stringCount, kMaxCount) || !in.Count(languages, int64_t{entries} + 2) ||
      !in.Holds(languages, 6 + int64_t{snapshot.stringCount})) {
    return false;
  }
  snapshot.languages.assign(static_cast<size_t>(languages), Language{});
  for (Language& language : snapshot.languages) {
    uint8_t named = 0;
    if (!in.Int(language.id) || !in.Byte(named) || named > 1 || !in.Text(language.name))
      return false;
    language.named = named == 1;
    language.strings.assign(static_cast<size_t>(snapshot.stringCount), std::string());
    for (std::string& text : language.strings) {
      if (!in.Text(text)) return false;
    }
  }
  return in.AtEnd();
}

}  // namespace language_snapshot
