// Reads and writes a settings file that is the fuzzer's input: any bytes
// must read without a crash, and a key written must read back while every
// byte before the line it changes stays as it was.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/TIniFile.h"
#include "fuzz/fuzz_input.h"
#include "platform/os.h"

namespace {

// The disk's own pace is no part of what is tested.
class NoSyncOs : public platform::Os {
 public:
  int syncFile(int) override { return 0; }
};

std::string readBack(const std::string& name) {
  std::string bytes;
  if (FILE* in = std::fopen(name.c_str(), "rb")) {
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) bytes.append(buffer, got);
    std::fclose(in);
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name = fuzz4writeInput("input.ini", data, size);
  if (name.empty()) return 0;
  const std::string original(reinterpret_cast<const char*>(data), size);
  static NoSyncOs os;
  static platform::ScopedOs scope(os);
  {
    TIniFile ini(name);
    // A line break is never part of a value: it marks the key missing.
    const std::string value = ini.ReadString("Export", "DefaultDir", "\n");
    ini.ReadInteger("MainForm", "Left", 220);
    if (value != "\n") ini.WriteString("Export", "DefaultDir", value);  // no change
  }
  if (readBack(name) != original) std::abort();
  {
    TIniFile ini(name);
    ini.WriteInteger("Misc", "LangID", 7);
    ini.WriteString("Import", "DefaultArchive", "C:\\a,b.cex");
  }
  const TIniFile ini(name);
  if (ini.ReadInteger("Misc", "LangID", 0) != 7) std::abort();
  if (ini.ReadString("Import", "DefaultArchive", "") != "C:\\a,b.cex") std::abort();
  return 0;
}
