#include "features/archive/ArchiveReader.h"

#include <algorithm>
#include <array>
#include <utility>

#include "features/archive/ArchiveFormat.h"
#include "features/archive/ArchiveNumbers.h"

namespace archive {

namespace {

bool isWhiteSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool isDigit(int c) { return c >= '0' && c <= '9'; }

char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); i++) {
    if (asciiUpper(text[i]) != asciiUpper(prefix[i])) return false;
  }
  return true;
}

// The opening line of a block, which only the import's line loop takes: a
// block reader that meets one gives it back.
bool putBackBlockStart(ArchiveInput& in, std::string& line) {
  if (!IsVolumeBlockStart(line) && !IsFileBlockStart(line)) return false;
  in.PutBack(std::move(line));
  return true;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && startsWithIgnoringCase(a, b);
}

bool scanLiteral(ArchiveInput& in, std::string_view literal) {
  for (char c : literal) {
    if (in.Peek() != static_cast<unsigned char>(c)) return false;
    in.Advance();
  }
  return true;
}

// scanf's "<key>=%d\n" over the input; 0 when it does not fit.
int32_t scanNumberLine(ArchiveInput& in, std::string_view key) {
  if (!scanLiteral(in, key) || !scanLiteral(in, "=")) return 0;
  while (isWhiteSpace(in.Peek())) in.Advance();
  bool negative = false;
  if (in.Peek() == '-' || in.Peek() == '+') {
    negative = in.Peek() == '-';
    in.Advance();
  }
  if (!isDigit(in.Peek())) return 0;
  int64_t magnitude = 0;
  for (; isDigit(in.Peek()); in.Advance()) {
    magnitude = std::min<int64_t>(magnitude * 10 + (in.Peek() - '0'), int64_t{1} << 32);
  }
  while (isWhiteSpace(in.Peek())) in.Advance();
  return static_cast<int32_t>(
      std::clamp<int64_t>(negative ? -magnitude : magnitude, INT32_MIN, INT32_MAX));
}

// Reads a block's run of key lines into work[0..N): true when all N came.
template <size_t N>
bool readKeyRun(ArchiveInput& in, char letter, std::vector<std::string>& work) {
  if (work.size() < N) work.resize(N);
  for (size_t count = 0; count < N; count++) {
    std::string& line = work[count];
    if (!ReadArchiveLine(in, line)) return false;
    if (line.empty() || line[0] != letter) {
      putBackBlockStart(in, line);
      return false;
    }
  }
  return true;
}

// The value of each of `keys` in a complete run: that of the first line
// holding the key, empty when none does.
template <size_t N>
std::array<std::string_view, N> keyValues(const std::array<std::string_view, N>& keys,
                                          const std::vector<std::string>& work) {
  std::array<std::string_view, N> values{};
  std::array<bool, N> found{};
  for (size_t i = 0; i < N; i++) {
    const std::string_view line = work[i];
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = line.substr(0, equals);
    // Lines written in order hold key i; try that one first.
    for (size_t step = 0; step < N; step++) {
      const size_t k = (i + step) % N;
      if (equalsIgnoringCase(key, keys[k])) {
        if (!found[k]) values[k] = line.substr(equals + 1);
        found[k] = true;
        break;
      }
    }
  }
  return values;
}

// The value of `line` when its key is "<key><suffix>".
bool suffixedKeyValue(std::string_view line, std::string_view key, std::string_view suffix,
                      std::string_view& rest) {
  if (!startsWithIgnoringCase(line, key) ||
      !startsWithIgnoringCase(line.substr(key.size()), suffix))
    return false;
  rest = line.substr(key.size() + suffix.size());
  return true;
}

// The line number and value of a line keyed "<key>.LINE.<i>", with <i>
// written as "%d" writes it (no sign, no leading zero).
bool numberedLine(std::string_view line, std::string_view key, int64_t& number,
                  std::string_view& value) {
  std::string_view rest;
  if (!suffixedKeyValue(line, key, kLineSuffix, rest)) return false;
  const size_t equals = rest.find('=');
  if (equals == std::string_view::npos || equals == 0 || equals > 18) return false;
  if (rest[0] == '0' && equals > 1) return false;
  number = 0;
  for (size_t i = 0; i < equals; i++) {
    if (!isDigit(rest[i])) return false;
    number = number * 10 + (rest[i] - '0');
  }
  value = rest.substr(equals + 1);
  return true;
}

}  // namespace

ArchiveHeader ReadArchiveHeader(ArchiveInput& in) {
  ArchiveHeader header;
  header.supportTotal = scanNumberLine(in, kTotalSupportKey);
  header.format = scanNumberLine(in, kFormatKey);
  return header;
}

bool ReadVolumeBlock(ArchiveInput& in, TSupportRecord& s, std::vector<std::string>& work) {
  const bool complete = readKeyRun<kVolumeKeys.size()>(in, 'S', work);
  if (complete) {
    const auto v = keyValues(kVolumeKeys, work);
    s.id = ParseInt32(v[0]);
    s.type = v[1];
    s.size = ParseInt64(v[2]);
    s.volume = v[3];
    s.volumeSerial = static_cast<int32_t>(ParseSerial(v[4]));
    s.fileCount = ParseInt32(v[5]);
    s.userId = v[6];
    s.dateRecorded = ParseDouble(v[7]);
  }
  ReadMultiLineValue(in, kVolumeCommentKey, s.text);
  return complete;
}

bool ReadFileBlock(ArchiveInput& in, TFileRecord& f, std::vector<std::string>& work) {
  const bool complete = readKeyRun<kFileKeys.size()>(in, 'F', work);
  if (complete) {
    const auto v = keyValues(kFileKeys, work);
    f.id = ParseInt32(v[0]);
    f.name = v[1];
    f.ext = v[2];
    f.path = v[3];
    f.supportId = ParseInt32(v[4]);
    f.comment = v[5];
    f.category = ParseInt32(v[6]);
    f.crc = v[7];
    f.md5 = v[8];
    f.date = NearestSecond(ParseDouble(v[9]));
    f.size = ParseInt64(v[10]);
    f.attributes = ParseInt32(v[11]);
  }
  ReadMultiLineValue(in, kFileCommentKey, f.text);
  return complete;
}

void ReadMultiLineValue(ArchiveInput& in, std::string_view key, std::string& text) {
  text.clear();
  std::string line;
  if (!ReadArchiveLine(in, line) || putBackBlockStart(in, line)) return;
  std::string_view rest;
  int64_t count = 0;
  if (suffixedKeyValue(line, key, kLineCountSuffix, rest) && !rest.empty() && rest[0] == '=')
    count = ParseInt64(rest.substr(1));

  // Each numbered line with where it stood, so that the first of a number wins.
  std::vector<std::pair<int64_t, std::string>> numbered;
  int64_t read = 0;
  for (; read < count && ReadArchiveLine(in, line); read++) {
    if (putBackBlockStart(in, line)) break;
    int64_t number = 0;
    std::string_view value;
    if (numberedLine(line, key, number, value)) numbered.emplace_back(number, value);
  }
  std::stable_sort(numbered.begin(), numbered.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });

  // Lines beyond those read stand for a count the input did not hold.
  auto next = numbered.begin();
  for (int64_t i = 0; i < read; i++) {
    while (next != numbered.end() && next->first < i) ++next;
    const bool present = next != numbered.end() && next->first == i;
    if (!text.empty()) text.append(kLineEnd);
    if (present) text.append(next->second);
  }
}

}  // namespace archive
