// Damaged copies of a shared object, for the tests of the language
// library's check: the parts of the image the loader and the library's
// calls read, found through its section headers, and single bytes changed
// in them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// A byte range of an ELF image.
struct ImagePart {
  std::string name;  // "ELF header", "program headers", or the section's name
  size_t offset = 0;
  size_t size = 0;
};

// The ELF header, the program headers, the dynamic section, every
// relocation table and the code (.text) of a 64-bit ELF image; a failure
// when one is missing.
std::vector<ImagePart> DamageableParts(const std::string& image);

// One changed byte: the byte at `offset` XORed with `mask` (never 0).
struct ByteChange {
  std::string part;
  size_t offset = 0;
  uint8_t mask = 1;
};

// Every byte of the parts smaller than `wholeBelow` bytes, and
// `perLargePart` bytes drawn at random from each larger part (a fixed
// seed: the same changes at every run).
std::vector<ByteChange> SampleByteChanges(const std::vector<ImagePart>& parts, size_t wholeBelow,
                                          size_t perLargePart);

std::string Changed(std::string image, const ByteChange& change);

// Two damages whose effect does not depend on how the image was built:
// the first relocation made to write 2^55 bytes past the library (the
// loader crashes with SIGSEGV), and its type changed from relative to
// absolute while the dynamic section still counts it among the relative
// ones (the loader stops on an assertion, exit code 127).
std::string WithRelocationOutside(const std::string& image);
std::string WithRelativeRelocationRetyped(const std::string& image);

}  // namespace testing_support
