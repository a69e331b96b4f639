// Builders of the field list and the tag list handed to table creation.
// Each keeps its entries followed by one zeroed entry, which ends the list.
#pragma once

#include <cstdint>

#include "engine/storage/data4create.h"

struct CODE4;

class Field4info {
 public:
  explicit Field4info(CODE4& c);
  ~Field4info();
  Field4info(const Field4info&) = delete;
  Field4info& operator=(const Field4info&) = delete;

  // The name is cut before its first blank and to ten characters, and
  // upper-cased. 0, or -1 when memory ran out (nothing added).
  int add(const char* name, int16_t type, uint16_t length = 0, int16_t decimals = 0,
          uint16_t nulls = 0);
  void free();

  const FIELD4INFO* fields() const { return entries_; }
  int numFields() const { return count_; }

 private:
  CODE4* c_;
  FIELD4INFO* entries_ = nullptr;
  int count_ = 0;
  uint32_t size_ = 0;  // bytes allocated for entries_
};

class Tag4info {
 public:
  explicit Tag4info(CODE4& c);
  ~Tag4info();
  Tag4info(const Tag4info&) = delete;
  Tag4info& operator=(const Tag4info&) = delete;

  // As Field4info::add for the name; the expression and the filter (none
  // when null) are copied. 0, or -1 when memory ran out (nothing added).
  int add(const char* name, const char* expression, const char* filter = nullptr,
          int16_t unique = 0, uint16_t descending = 0);
  void free();

  const TAG4INFO* tags() const { return entries_; }
  int numTags() const { return count_; }

 private:
  CODE4* c_;
  TAG4INFO* entries_ = nullptr;
  int count_ = 0;
  uint32_t size_ = 0;
};
