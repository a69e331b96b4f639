// A version-0x30 table with a field of every type the field operations
// read and write, open on the engine fixture, and byte helpers for field
// values.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>

#include "engine/storage/data4.h"
#include "engine/storage/data4create.h"
#include "tests/support/engine_fixture.h"

namespace testing_support {

inline const FIELD4INFO kEveryTypeFields[] = {
    {"NAME", 'C', 10, 0, 0},
    {"BIN", 'Z', 6, 0, 0},
    {"AMOUNT", 'N', 5, 0, 0},
    {"PRICE", 'N', 8, 2, 0},
    {"RATE", 'F', 20, 10, 0},
    {"DAY", 'D', 8, 0, 0},
    {"FLAG", 'L', 1, 0, 0},
    {"NOTE", 'M', 4, 0, 0},
    {"BLOB", 'X', 4, 0, 0},
    {"RATIO", 'B', 8, 2, 0},
    {"STAMP", 'T', 8, 0, 0},
    {"COST", 'Y', 8, 4, 0},
    {"COUNT", 'I', 4, 0, 0},
    {"PCOUNT", 'P', 4, 0, 0},
    {"SMALL", 'Q', 2, 0, 0},
    {"USMALL", 'R', 2, 0, 0},
    {"PARTS", '2', 6, 0, 0},
    {"OPT", 'C', 5, 0, field4nullable},
    {"OPTN", 'N', 5, 0, field4nullable},
    {nullptr, 0, 0, 0, 0},
};

class FieldTableTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
    c.compatibility = 30;
    d = data4create(&c, "values", kEveryTypeFields, nullptr);
    ASSERT_NE(d, nullptr);
    d->recordChanged = 0;
  }
  void TearDown() override {
    if (d != nullptr) {
      d->recNum = -1;  // nothing of the record buffer goes to the file
      data4close(d);
    }
    EngineTest::TearDown();
  }

  // By name; "_NullFlags" is the null-flags field, which lookups by name
  // do not find.
  FIELD4* field(const char* name) {
    if (std::strcmp(name, "_NullFlags") == 0) return d->nullFlags;
    FIELD4* f = data4field(d, name);
    EXPECT_NE(f, nullptr) << name;
    return f;
  }
  std::string stored(const char* name) {
    FIELD4* f = field(name);
    return std::string(d->record + f->offset, f->length);
  }
  void put(const char* name, const std::string& bytes) {
    FIELD4* f = field(name);
    ASSERT_EQ(bytes.size(), f->length) << name;
    std::memcpy(d->record + f->offset, bytes.data(), bytes.size());
  }
  std::string record() const { return std::string(d->record, d->dataFile->recordLength); }

  DATA4* d = nullptr;
};

// Little-endian images of stored binary values.
inline std::string littleEndian(uint64_t value, int bytes) {
  std::string out(static_cast<size_t>(bytes), '\0');
  for (int i = 0; i < bytes; i++) out[static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
  return out;
}
inline std::string le16(int32_t v) { return littleEndian(static_cast<uint16_t>(v), 2); }
inline std::string le32(int32_t v) { return littleEndian(static_cast<uint32_t>(v), 4); }
inline std::string le64(int64_t v) { return littleEndian(static_cast<uint64_t>(v), 8); }
inline std::string doubleBytes(double v) { return littleEndian(std::bit_cast<uint64_t>(v), 8); }
inline std::string dateTimeBytes(int32_t day, int32_t ms) { return le32(day) + le32(ms); }

}  // namespace testing_support
