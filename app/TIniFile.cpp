#include "app/TIniFile.h"

#include <fcntl.h>

#include <cerrno>
#include <charconv>
#include <utility>

#include "platform/os.h"

namespace {

constexpr size_t npos = std::string::npos;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// The name of the section a line opens; false when it opens none.
bool sectionName(std::string_view line, std::string_view& name) {
  line = trimmed(line);
  if (line.empty() || line.front() != '[') return false;
  const size_t close = line.find(']');
  name = trimmed(line.substr(1, close == npos ? npos : close - 1));
  return true;
}

// The key and value of a line; false when it holds no '='.
bool keyAndValue(std::string_view line, std::string_view& key, std::string_view& value) {
  const size_t equals = line.find('=');
  if (equals == npos) return false;
  key = trimmed(line.substr(0, equals));
  value = trimmed(line.substr(equals + 1));
  return true;
}

bool hasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != npos; }

// Reads the whole file: 0, or the errno that stopped it. An entry that is
// not a regular file (a named pipe would block the start for good) holds
// no settings: it answers ENOENT, as a missing file does.
int readWholeFile(const std::string& name, std::string& content) {
  platform::Os& os = platform::os();
  const int fd = platform::openRegularFile(name.c_str());
  if (fd == -EINVAL) return ENOENT;
  if (fd < 0) return -fd;
  uint64_t size = 0;
  int error = -os.fileSize(fd, size);
  if (error == 0 && size > TIniFile::kMaxBytes) error = EFBIG;
  if (error == 0) {
    content.resize(size);
    const int64_t got = platform::readFully(fd, content.data(), size, 0);
    if (got != static_cast<int64_t>(size)) error = got < 0 ? static_cast<int>(-got) : EIO;
  }
  os.closeFile(fd);
  return error;
}

// Writes `bytes` from the start of the file: 0 or -errno. A write the disk
// cuts short is asked for the rest, which tells why.
int writeWhole(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const int64_t put = platform::writeFully(fd, bytes.data() + done, bytes.size() - done, done);
    if (put < 0) return static_cast<int>(put);
    if (put == 0) return -ENOSPC;
    done += static_cast<size_t>(put);
  }
  return 0;
}

// The folder of `name`, as syncFolder takes it ("" for the current one).
std::string folderOf(const std::string& name) {
  const size_t slash = name.rfind('/');
  return slash == npos ? std::string() : name.substr(0, slash + 1);
}

// Puts `content` in place of the file `name`: 0 or -errno. Until the
// rename the old file is untouched, and a failure removes the work file;
// the folder's sync makes the rename itself outlast a power cut.
int replaceFile(const std::string& name, std::string_view content) {
  platform::Os& os = platform::os();
  const std::string work = name + ".new";
  const int fd = os.openFile(work.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) return fd;
  int rc = writeWhole(fd, content);
  if (rc == 0) rc = os.syncFile(fd);
  const int closed = os.closeFile(fd);
  if (rc == 0) rc = closed;
  if (rc == 0) rc = os.renameFile(work.c_str(), name.c_str());
  if (rc != 0) {
    os.removeFile(work.c_str());
    return rc;
  }
  rc = os.syncFolder(folderOf(name).c_str());
  // A file system that cannot sync a folder (EINVAL) keeps no entry back.
  return rc == -EINVAL ? 0 : rc;
}

}  // namespace

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {
  std::string content;
  readError_ = readWholeFile(fileName_, content);
  if (readError_ == 0) {
    parse(content);
  } else {
    readable_ = readError_ == ENOENT;
  }
}

TIniFile::~TIniFile() { UpdateFile(); }

void TIniFile::parse(std::string_view content) {
  size_t start = 0;
  while (start < content.size()) {
    const size_t stop = content.find_first_of("\r\n", start);
    Line line;
    if (stop == npos) {
      line.text = content.substr(start);
      start = content.size();
    } else {
      line.text = content.substr(start, stop - start);
      const bool crlf =
          content[stop] == '\r' && stop + 1 < content.size() && content[stop + 1] == '\n';
      line.end = content.substr(stop, crlf ? 2 : 1);
      start = stop + line.end.size();
    }
    lines_.push_back(std::move(line));
  }
}

bool TIniFile::findSection(std::string_view section, SectionRange& range) const {
  section = trimmed(section);
  for (size_t i = 0; i < lines_.size(); i++) {
    std::string_view name;
    if (!sectionName(lines_[i].text, name) || !sameName(name, section)) continue;
    range.header = i;
    range.end = i + 1;
    while (range.end < lines_.size() && !sectionName(lines_[range.end].text, name)) range.end++;
    return true;
  }
  return false;
}

size_t TIniFile::findKey(const SectionRange& range, std::string_view key) const {
  key = trimmed(key);
  for (size_t i = range.header + 1; i < range.end; i++) {
    std::string_view name;
    std::string_view value;
    if (keyAndValue(lines_[i].text, name, value) && sameName(name, key)) return i;
  }
  return npos;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 const std::string& fallback) const {
  SectionRange range{};
  if (!findSection(section, range)) return fallback;
  const size_t at = findKey(range, key);
  if (at == npos) return fallback;
  std::string_view name;
  std::string_view value;
  keyAndValue(lines_[at].text, name, value);
  return std::string(value);
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                              int32_t fallback) const {
  const std::string text = ReadString(section, key, std::string());
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  int32_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
    return fallback;
  return value;
}

std::string TIniFile::newline() const {
  for (const Line& line : lines_) {
    if (!line.end.empty()) return line.end;
  }
  return "\n";
}

void TIniFile::insertLine(size_t at, std::string text) {
  const std::string end = newline();
  if (at > 0 && lines_[at - 1].end.empty()) lines_[at - 1].end = end;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), Line{std::move(text), end});
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  section = trimmed(section);
  key = trimmed(key);
  if (key.empty() || hasLineBreak(section) || hasLineBreak(key) || section.find(']') != npos ||
      key.find('=') != npos) {
    return;
  }
  if (!readable_) {
    changed_ = true;  // a change that UpdateFile refuses to write
    return;
  }
  value = value.substr(0, value.find_first_of("\r\n"));
  SectionRange range{};
  if (!findSection(section, range)) {
    insertLine(lines_.size(), "[" + std::string(section) + "]");
    range = SectionRange{lines_.size() - 1, lines_.size()};
  }
  const size_t at = findKey(range, key);
  if (at == npos) {
    // After the section's last line that is not blank, so that blank lines
    // keep separating it from the next section.
    size_t after = range.end;
    while (after > range.header + 1 && trimmed(lines_[after - 1].text).empty()) after--;
    insertLine(after, std::string(key) + "=" + std::string(value));
    changed_ = true;
    return;
  }
  std::string& text = lines_[at].text;
  std::string_view oldKey;
  std::string_view oldValue;
  keyAndValue(text, oldKey, oldValue);
  if (oldValue == value) return;
  // The key keeps its spelling and the blanks around the '='.
  const size_t equals = text.find('=');
  size_t valueStart = equals + 1;
  while (valueStart < text.size() && isBlank(text[valueStart])) valueStart++;
  text = text.substr(0, valueStart) + std::string(value);
  changed_ = true;
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

bool TIniFile::UpdateFile() {
  writeError_ = 0;
  if (!changed_) return true;
  if (!readable_) {
    writeError_ = readError_;
    return false;
  }
  std::string content;
  for (const Line& line : lines_) content += line.text + line.end;
  writeError_ = -replaceFile(fileName_, content);
  if (writeError_ != 0) return false;
  changed_ = false;
  return true;
}
