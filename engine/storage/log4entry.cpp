#include "engine/storage/log4entry.h"

#include "engine/storage/endian4.h"

namespace {

constexpr int kTransaction = 0;
constexpr int kUser = 4;
constexpr int kDataId = 8;
constexpr int kDataId2 = 12;
constexpr int kType = 16;
constexpr int kLength = 18;
constexpr int kYear = 22;
constexpr int kMonth = 26;
constexpr int kDay = 27;
constexpr int kSeconds = 28;

}  // namespace

void log4encodeHeader(const Log4Header& h, unsigned char* bytes) {
  endian4::writeLe32(bytes + kTransaction, static_cast<uint32_t>(h.transactionId));
  endian4::writeLe32(bytes + kUser, static_cast<uint32_t>(h.userId));
  endian4::writeLe32(bytes + kDataId, h.dataId);
  endian4::writeLe32(bytes + kDataId2, h.dataId2);
  endian4::writeLe16(bytes + kType, h.type);
  endian4::writeLe32(bytes + kLength, h.payloadLength);
  endian4::writeLe32(bytes + kYear, h.year);
  bytes[kMonth] = h.month;
  bytes[kDay] = h.day;
  endian4::writeLe32(bytes + kSeconds, h.seconds);
}

Log4Header log4decodeHeader(const unsigned char* bytes) {
  Log4Header h;
  h.transactionId = static_cast<int32_t>(endian4::readLe32(bytes + kTransaction));
  h.userId = static_cast<int32_t>(endian4::readLe32(bytes + kUser));
  h.dataId = endian4::readLe32(bytes + kDataId);
  h.dataId2 = endian4::readLe32(bytes + kDataId2);
  h.type = endian4::readLe16(bytes + kType);
  h.payloadLength = endian4::readLe32(bytes + kLength);
  h.year = endian4::readLe32(bytes + kYear);
  h.month = bytes[kMonth];
  h.day = bytes[kDay];
  h.seconds = endian4::readLe32(bytes + kSeconds);
  return h;
}

bool log4lengthFits(uint32_t lengthWord, uint64_t available) {
  return lengthWord >= log4overhead && lengthWord <= available;
}
