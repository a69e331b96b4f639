// Opens a table whose DBF file is the fuzzer's input and puts its first
// record (or what there is of it) into the record buffer, then reads and
// assigns every field with every value operation: descriptors and record
// bytes from a damaged file must end in refusals or odd values, never in a
// read or write outside the record.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/storage/code4.h"
#include "fuzz/fuzz_input.h"
#include "engine/storage/data4.h"
#include "engine/storage/field4value.h"

namespace {

void exercise(CODE4& c, FIELD4* f) {
  field4str(f);
  field4true(f);
  field4null(f);
  field4double(f);
  field4long(f);
  field4int(f);
  field4currency(f, 4);
  field4dateTime(f);
  field4typeExpr(f);
  c.errorCode = 0;
  field4assignDouble(f, -1234.5678);
  field4assignLong(f, -42);
  field4assignInt(f, 70000);
  field4assignCurrency(f, "-922337203685477.5808");
  field4assign(f, "12345678901234567890");
  field4assignNotNull(f);
  field4blank(f);
  c.errorCode = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name = fuzz4writeInput("input.dbf", data, size);
  if (name.empty()) return 0;

  CODE4 c;
  code4initLow(&c, nullptr, 6502, 1611, 1);
  c.autoOpen = 0;
  c.accessMode = 1;
  if (DATA4* d = data4open(&c, name.c_str())) {
    const size_t start = d->dataFile->header.headerLength;
    if (start < size) {
      const size_t n = std::min<size_t>(size - start, d->dataFile->recordLength);
      std::memcpy(d->record, data + start, n);
    }
    for (FIELD4& f : d->fields) exercise(c, &f);
    d->recordChanged = 0;  // the input file is left as it was
    data4close(d);
  }
  c.errorCode = 0;
  code4initUndo(&c);
  return 0;
}
