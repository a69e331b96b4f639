// The engine's value objects: Str4, a text value with a fixed set of
// virtual operations; Field4, a Str4 over one field of an open table; and
// Field4memo, a Field4 over a memo field. A Field4 built for a name the
// table lacks has no field: its operations raise -970 and change nothing.
#pragma once

#include <cstdint>

struct DATA4;
struct FIELD4;

class Str4 {
 public:
  Str4() = default;
  Str4(const Str4&) = delete;
  Str4& operator=(const Str4&) = delete;
  virtual ~Str4();

  virtual int32_t toLong();
  virtual int changed();
  virtual int decimals();
  virtual int isBinary();
  virtual uint32_t len();
  virtual uint32_t lenMaximum();
  virtual int lockCheck();
  virtual uint32_t size();
  virtual char* ptr() = 0;              // the value's bytes, for writing
  virtual const char* ptrConst() = 0;   // the value's bytes, for reading
  virtual const char* str();            // the value as NUL-terminated text
  virtual int setLen(uint32_t n);
  virtual int unsupported();

  int assign(const char* text);
  // -1 when the bytes were cut to the value's length.
  int assignN(const char* bytes, uint32_t n);
  int assignDouble(double value, int newLength = -1, int decimalsWanted = -1);
  int assignLong(int32_t value, int newLength = -1, int zeroFill = 0);
  int set(char character);
  // Copies the value and a NUL into `buffer`, cut to size - 1 bytes.
  uint32_t copyTo(char* buffer, uint32_t size);

 protected:
  // The field a value object serves, when it serves one.
  virtual FIELD4* fieldOf() { return nullptr; }
  // The 257-byte text buffer, allocated on first use.
  char* textBuffer();

 private:
  char* text_ = nullptr;
};

class Field4 : public Str4 {
 public:
  Field4(DATA4& data, const char* name);

  int32_t toLong() override;
  int changed() override;
  int decimals() override;
  int isBinary() override;
  uint32_t len() override;
  uint32_t lenMaximum() override;
  int lockCheck() override;
  uint32_t size() override;
  char* ptr() override;
  const char* ptrConst() override;
  const char* str() override;

  FIELD4* field() const { return field_; }

 protected:
  FIELD4* fieldOf() override { return field_; }

  FIELD4* field_;
};

class Field4memo : public Field4 {
 public:
  Field4memo(DATA4& data, const char* name);

  int changed() override;
  uint32_t len() override;
  uint32_t lenMaximum() override;
  uint32_t size() override;
  char* ptr() override;
  const char* ptrConst() override;
  const char* str() override;
  // Sets the value's length keeping its bytes.
  int setLen(uint32_t n) override;
};
