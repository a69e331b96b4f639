// The archive reader over arbitrary bytes: the header, lines, volume and
// file blocks and their multi-line values, as the import takes them. The
// bytes reach the reader's buffer in pieces whose size follows from the
// input's length, so that line ends fall across buffer edges.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "features/archive/ArchiveFormat.h"
#include "features/archive/ArchiveInput.h"
#include "features/archive/ArchiveReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t chunk = size % 3 == 0 ? 65536 : 1 + size % 61;
  archive::ArchiveInput in(std::string(reinterpret_cast<const char*>(data), size), chunk);
  archive::ReadArchiveHeader(in);
  TSupportRecord support;
  TFileRecord file;
  std::vector<std::string> work;
  std::string line;
  while (archive::ReadArchiveLine(in, line)) {
    // A line never holds a line end, and never exceeds the limit.
    if (line.find_first_of("\r\n") != std::string::npos || line.size() > archive::kMaxLineBytes)
      std::abort();
    if (archive::IsVolumeBlockStart(line)) archive::ReadVolumeBlock(in, support, work);
    if (archive::IsFileBlockStart(line)) archive::ReadFileBlock(in, file, work);
  }
  // A comment is the lines of the input joined: never longer than it, but
  // for the CR LF put between lines that may have been empty.
  if (support.text.size() > 2 * size || file.text.size() > 2 * size) std::abort();
  return 0;
}
