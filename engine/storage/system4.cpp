#include "engine/storage/system4.h"

#include "engine/storage/error4.h"
#include "platform/os.h"

namespace {

constexpr int32_t kLocEnvironmentMissing = 80179;
constexpr int32_t kLocEnvironment = 90341;
constexpr int32_t kLocRemove = 90339;

}  // namespace

const char* environment4get(const char* name, int required) {
  if (name == nullptr) {
    error4(nullptr, e4parmNull, kLocEnvironment);
    return nullptr;
  }
  const char* value = platform::os().environment(name);
  if (value == nullptr && required) {
    error4describe(nullptr, e4info, kLocEnvironmentMissing, name, nullptr, nullptr);
  }
  return value;
}

void time4delay(int32_t hundredths) {
  if (hundredths > 0) platform::os().sleepMillis(int64_t{hundredths} * 10);
}

int32_t file4remove(const char* name) {
  if (name == nullptr) return error4(nullptr, e4parmNull, kLocRemove);
  return platform::os().removeFile(name) == 0 ? 0 : -1;
}
