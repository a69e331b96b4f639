// Reads a pending change's note that is the fuzzer's input: any bytes must
// read without a crash, and a note taken for one says, written again, what
// it said (a note of the last version's layout is written in the new one).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "catalog/Pendingchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  TPendingNote note;
  if (!DecodePendingNote(bytes, note)) return 0;
  const std::string written = EncodePendingNote(note);
  TPendingNote again;
  if (!DecodePendingNote(written, again) || EncodePendingNote(again) != written) std::abort();
  return 0;
}
