#include "platform/elf_image.h"

#include <elf.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace platform {
namespace {

using Header = ElfW(Ehdr);
using ProgramHeader = ElfW(Phdr);

bool readAt(int fd, void* buffer, size_t size, uint64_t offset) {
  return ::pread(fd, buffer, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
}

bool reachesPast(uint64_t offset, uint64_t length, uint64_t fileSize) {
  return offset > fileSize || length > fileSize - offset;
}

}  // namespace

bool ElfSegmentsWithinFile(int fd) {
  struct stat status {};
  Header header{};
  if (::fstat(fd, &status) != 0 || !readAt(fd, &header, sizeof header, 0) ||
      std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) ||
      header.e_phentsize != sizeof(ProgramHeader)) {
    return true;
  }
  const auto fileSize = static_cast<uint64_t>(status.st_size);
  const uint64_t tableSize = uint64_t{header.e_phnum} * sizeof(ProgramHeader);
  if (reachesPast(header.e_phoff, tableSize, fileSize)) return false;
  std::vector<ProgramHeader> segments(header.e_phnum);
  if (!readAt(fd, segments.data(), tableSize, header.e_phoff)) return false;
  for (const ProgramHeader& segment : segments) {
    if (reachesPast(segment.p_offset, segment.p_filesz, fileSize)) return false;
  }
  return true;
}

}  // namespace platform
