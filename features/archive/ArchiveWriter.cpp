#include "features/archive/ArchiveWriter.h"

#include <algorithm>
#include <string>

#include "features/archive/ArchiveFormat.h"
#include "features/archive/ArchiveNumbers.h"

namespace archive {

namespace {

// Starts the line "key=" in the output's buffer and returns the buffer, for
// the value to be appended in place.
std::string& keyLine(ArchiveOutput& out, std::string_view key) {
  std::string& line = out.LineBuffer();
  line.append(key);
  line.push_back('=');
  return line;
}

void writeText(ArchiveOutput& out, std::string_view key, std::string_view value) {
  std::string& line = keyLine(out, key);
  const size_t start = line.size();
  line.append(value);
  std::replace_if(
      line.begin() + static_cast<std::ptrdiff_t>(start), line.end(),
      [](char c) { return c == '\r' || c == '\n'; }, ' ');
  out.EndLine();
}

void writeNumber(ArchiveOutput& out, std::string_view key, int64_t value) {
  AppendDecimal(keyLine(out, key), value);
  out.EndLine();
}

void writeDays(ArchiveOutput& out, std::string_view key, double days) {
  AppendSixDecimals(keyLine(out, key), days);
  out.EndLine();
}

// The length of the line starting `text` and of its break (0 at the end).
std::pair<size_t, size_t> nextLine(std::string_view text) {
  const size_t end = text.find_first_of("\r\n");
  if (end == std::string_view::npos) return {text.size(), 0};
  const bool crLf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
  return {end, crLf ? 2 : 1};
}

}  // namespace

void WriteArchiveHeader(ArchiveOutput& out, int32_t supportCount) {
  writeNumber(out, kTotalSupportKey, supportCount);
  writeNumber(out, kFormatKey, kFormatNumber);
}

void WriteVolumeBlock(ArchiveOutput& out, const TSupportRecord& s) {
  out.WriteLine(kVolumeBlockStart);
  writeNumber(out, kVolumeKeys[0], s.id);
  writeText(out, kVolumeKeys[1], s.type);
  writeNumber(out, kVolumeKeys[2], s.size);
  writeText(out, kVolumeKeys[3], s.volume);
  writeNumber(out, kVolumeKeys[4], static_cast<uint32_t>(s.volumeSerial));
  writeNumber(out, kVolumeKeys[5], s.fileCount);
  writeText(out, kVolumeKeys[6], s.userId);
  writeDays(out, kVolumeKeys[7], s.dateRecorded);
  WriteMultiLineValue(out, kVolumeCommentKey, s.text);
  out.WriteLine(kBlockEnd);
}

void WriteFileBlock(ArchiveOutput& out, const TFileRecord& f) {
  out.WriteLine(kFileBlockStart);
  writeNumber(out, kFileKeys[0], f.id);
  writeText(out, kFileKeys[1], f.name);
  writeText(out, kFileKeys[2], f.ext);
  writeText(out, kFileKeys[3], f.path);
  writeNumber(out, kFileKeys[4], f.supportId);
  writeText(out, kFileKeys[5], f.comment);
  writeNumber(out, kFileKeys[6], f.category);
  writeText(out, kFileKeys[7], f.crc);
  writeText(out, kFileKeys[8], f.md5);
  writeDays(out, kFileKeys[9], f.date);
  writeNumber(out, kFileKeys[10], f.size);
  writeNumber(out, kFileKeys[11], f.attributes);
  WriteMultiLineValue(out, kFileCommentKey, f.text);
  out.WriteLine(kBlockEnd);
}

void WriteMultiLineValue(ArchiveOutput& out, std::string_view key, std::string_view text) {
  int64_t count = 0;
  for (std::string_view rest = text; !rest.empty(); count++) {
    const auto [length, breakLength] = nextLine(rest);
    rest.remove_prefix(length + breakLength);
  }
  std::string& countLine = out.LineBuffer();
  countLine.append(key).append(kLineCountSuffix).push_back('=');
  AppendDecimal(countLine, count);
  out.EndLine();
  int64_t number = 0;
  for (std::string_view rest = text; !rest.empty(); number++) {
    const auto [length, breakLength] = nextLine(rest);
    std::string& line = out.LineBuffer();
    line.append(key).append(kLineSuffix);
    AppendDecimal(line, number);
    line.push_back('=');
    line.append(rest.substr(0, length));
    out.EndLine();
    rest.remove_prefix(length + breakLength);
  }
}

}  // namespace archive
