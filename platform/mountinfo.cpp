#include "platform/mountinfo.h"

#include <algorithm>
#include <charconv>

namespace platform {
namespace {

constexpr size_t kMountPointField = 4;
constexpr size_t kOptionsField = 5;
constexpr size_t kFirstOptionalField = 6;

bool isOctal(char c) { return c >= '0' && c <= '7'; }

std::string unescape(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) &&
        isOctal(field[i + 2]) && isOctal(field[i + 3])) {
      out += static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                               (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

std::vector<std::string_view> splitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (start <= line.size()) {
    const size_t space = std::min(line.find(' ', start), line.size());
    fields.push_back(line.substr(start, space - start));
    start = space + 1;
  }
  return fields;
}

bool parseNumber(std::string_view text, uint32_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

bool parseDevice(std::string_view text, uint32_t& major, uint32_t& minor) {
  const size_t colon = text.find(':');
  return colon != std::string_view::npos && parseNumber(text.substr(0, colon), major) &&
         parseNumber(text.substr(colon + 1), minor);
}

bool parseLine(std::string_view line, MountPoint& mount) {
  const std::vector<std::string_view> fields = splitFields(line);
  if (fields.size() < kFirstOptionalField + 3) return false;
  const auto separator = std::find(fields.begin() + kFirstOptionalField, fields.end(), "-");
  if (fields.end() - separator < 3) return false;
  if (!parseDevice(fields[2], mount.major, mount.minor)) return false;
  mount.path = unescape(fields[kMountPointField]);
  if (mount.path.empty() || mount.path[0] != '/') return false;
  const std::string_view options = fields[kOptionsField];
  mount.readOnly = options == "ro" || options.substr(0, 3) == "ro,";
  mount.fsType = unescape(separator[1]);
  mount.source = unescape(separator[2]);
  return true;
}

}  // namespace

std::vector<MountPoint> parseMountInfo(std::string_view text) {
  std::vector<MountPoint> mounts;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = std::min(text.find('\n', start), text.size());
    MountPoint mount;
    if (parseLine(text.substr(start, end - start), mount)) {
      const auto same = std::find_if(mounts.begin(), mounts.end(),
                                     [&](const MountPoint& m) { return m.path == mount.path; });
      if (same != mounts.end()) mounts.erase(same);
      mounts.push_back(std::move(mount));
    }
    start = end + 1;
  }
  return mounts;
}

bool isPseudoFileSystem(std::string_view fsType) {
  static constexpr std::string_view kPseudo[] = {
      "autofs", "binfmt_misc", "bpf",        "cgroup",     "cgroup2",   "configfs", "debugfs",
      "devpts", "devtmpfs",    "efivarfs",   "fusectl",    "hugetlbfs", "mqueue",   "nsfs",
      "proc",   "pstore",      "rpc_pipefs", "securityfs", "selinuxfs", "sysfs",    "tracefs",
  };
  return std::find(std::begin(kPseudo), std::end(kPseudo), fsType) != std::end(kPseudo);
}

const MountPoint* mountHolding(const std::vector<MountPoint>& mounts, std::string_view path) {
  const MountPoint* best = nullptr;
  for (const MountPoint& mount : mounts) {
    std::string_view prefix = mount.path;
    while (prefix.size() > 1 && prefix.back() == '/') prefix.remove_suffix(1);
    const bool holds = prefix == "/"
                           ? !path.empty() && path[0] == '/'
                           : path.substr(0, prefix.size()) == prefix &&
                                 (path.size() == prefix.size() || path[prefix.size()] == '/');
    if (holds && (best == nullptr || mount.path.size() > best->path.size())) best = &mount;
  }
  return best;
}

}  // namespace platform
