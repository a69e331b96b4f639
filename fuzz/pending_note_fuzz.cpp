// Reads a pending change's note that is the fuzzer's input: any bytes must
// read without a crash, and only a note that writes back to the very same
// bytes is taken for one (a single damaged byte never passes its check).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "catalog/Pendingchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  TPendingNote note;
  if (DecodePendingNote(bytes, note) && EncodePendingNote(note) != bytes) std::abort();
  return 0;
}
