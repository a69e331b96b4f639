#include "tests/support/damaged_library.h"

#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace testing_support {
namespace {

template <class T>
T at(const std::string& image, size_t offset) {
  T value{};
  if (offset <= image.size() && sizeof(T) <= image.size() - offset)
    std::memcpy(&value, image.data() + offset, sizeof(T));
  return value;
}

template <class T>
void put(std::string& image, size_t offset, const T& value) {
  std::memcpy(image.data() + offset, &value, sizeof(T));
}

// The first relocation of the image's first relocation table.
size_t firstRelocation(const std::string& image) {
  for (const ImagePart& part : DamageableParts(image)) {
    if (part.name.rfind(".rela", 0) == 0 && part.size >= sizeof(Elf64_Rela)) return part.offset;
  }
  ADD_FAILURE() << "no relocation table";
  return 0;
}

}  // namespace

std::vector<ImagePart> DamageableParts(const std::string& image) {
  const auto header = at<Elf64_Ehdr>(image, 0);
  std::vector<ImagePart> parts = {
      {"ELF header", 0, sizeof(Elf64_Ehdr)},
      {"program headers", header.e_phoff, size_t{header.e_phnum} * sizeof(Elf64_Phdr)},
  };
  const auto names = at<Elf64_Shdr>(image, header.e_shoff + header.e_shstrndx * sizeof(Elf64_Shdr));
  for (size_t i = 0; i < header.e_shnum; i++) {
    const auto section = at<Elf64_Shdr>(image, header.e_shoff + i * sizeof(Elf64_Shdr));
    const size_t nameOffset = names.sh_offset + section.sh_name;
    const std::string name =
        nameOffset < image.size() ? std::string(image.c_str() + nameOffset) : std::string();
    if (section.sh_type == SHT_DYNAMIC || section.sh_type == SHT_RELA || name == ".text")
      parts.push_back({name, section.sh_offset, section.sh_size});
  }
  for (const char* needed : {".dynamic", ".text"}) {
    bool found = false;
    for (const ImagePart& part : parts) found = found || part.name == needed;
    EXPECT_TRUE(found) << needed;
  }
  return parts;
}

std::vector<ByteChange> SampleByteChanges(const std::vector<ImagePart>& parts, size_t wholeBelow,
                                          size_t perLargePart) {
  std::mt19937 random(20240611);
  std::vector<ByteChange> changes;
  for (const ImagePart& part : parts) {
    const bool whole = part.size < wholeBelow;
    for (size_t i = 0; i < (whole ? part.size : perLargePart); i++) {
      const size_t offset = part.offset + (whole ? i : random() % part.size);
      changes.push_back({part.name, offset, static_cast<uint8_t>(1 + random() % 255)});
    }
  }
  return changes;
}

std::string Changed(std::string image, const ByteChange& change) {
  image.at(change.offset) = static_cast<char>(image.at(change.offset) ^ change.mask);
  return image;
}

std::string WithRelocationOutside(const std::string& image) {
  std::string damaged = image;
  const size_t first = firstRelocation(image);
  put(damaged, first + offsetof(Elf64_Rela, r_offset), uint64_t{1} << 55);
  return damaged;
}

std::string WithRelativeRelocationRetyped(const std::string& image) {
  std::string damaged = image;
  const size_t first = firstRelocation(image);
  const auto relocation = at<Elf64_Rela>(image, first);
  EXPECT_EQ(ELF64_R_TYPE(relocation.r_info), uint32_t{R_X86_64_RELATIVE});
  put(damaged, first + offsetof(Elf64_Rela, r_info), ELF64_R_INFO(0, R_X86_64_64));
  return damaged;
}

}  // namespace testing_support
