#include "engine/storage/data4autoincrement.h"

#include <bit>

#include "engine/storage/data4.h"
#include "engine/storage/dbf4header.h"
#include "engine/storage/endian4.h"
#include "engine/storage/file4.h"

namespace {

constexpr int kHeaderCounter = 20;  // the double in header bytes 20-27
constexpr int kCounterBytes = 4;    // a descriptor's next value

bool inDescriptor(const DATA4FILE* df) { return df->autoIncrementDescriptor >= 0; }

Dbf4Descriptor& counterDescriptor(DATA4FILE* df) {
  return df->descriptors[static_cast<size_t>(df->autoIncrementDescriptor)];
}

uint64_t descriptorCounterOffset(const DATA4FILE* df) {
  return dbf4headerSize + static_cast<uint64_t>(df->autoIncrementDescriptor) * dbf4descriptorSize +
         dbf4autoIncrementNextOffset;
}

}  // namespace

void data4autoIncrementAssign(DATA4* d) {
  DATA4FILE* df = d->dataFile;
  if (!df->autoIncrement || d->autoIncrementField == nullptr) return;
  auto* bytes = reinterpret_cast<unsigned char*>(d->record + d->autoIncrementField->offset);
  if (inDescriptor(df)) {
    endian4::writeLe32(bytes, counterDescriptor(df).autoIncrementNext);
  } else {
    endian4::writeLe(bytes, std::bit_cast<uint64_t>(dbf4autoIncrementValue(df->header)), 8);
  }
}

void datafile4autoIncrementAdvance(DATA4FILE* df) {
  if (!df->autoIncrement) return;
  if (inDescriptor(df)) {
    Dbf4Descriptor& d = counterDescriptor(df);
    d.autoIncrementNext += d.autoIncrementStep;  // a 32-bit counter wraps
  } else {
    dbf4setAutoIncrement(df->header, dbf4autoIncrementValue(df->header) + 1.0);
  }
}

void datafile4autoIncrementReload(DATA4FILE* df) {
  if (!df->autoIncrement) return;
  if (inDescriptor(df)) {
    unsigned char bytes[kCounterBytes + 1];
    if (file4readAll(&df->file, descriptorCounterOffset(df), bytes, sizeof bytes) != 0) return;
    Dbf4Descriptor& d = counterDescriptor(df);
    d.autoIncrementNext = endian4::readLe32(bytes);
    d.autoIncrementStep = bytes[kCounterBytes];
    return;
  }
  unsigned char value[8];
  if (file4readAll(&df->file, kHeaderCounter, value, sizeof value) == 0)
    for (int i = 0; i < 8; i++) df->header.extra[8 + i] = value[i];
}

int32_t datafile4autoIncrementWrite(DATA4FILE* df) {
  if (!df->autoIncrement || !inDescriptor(df)) return 0;
  unsigned char bytes[kCounterBytes];
  endian4::writeLe32(bytes, counterDescriptor(df).autoIncrementNext);
  return file4write(&df->file, descriptorCounterOffset(df), bytes, sizeof bytes) < 0 ? -1 : 0;
}
