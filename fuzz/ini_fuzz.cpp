// Reads and writes a settings file that is the fuzzer's input: any bytes
// must read without a crash, and a key written must read back while every
// byte before the line it changes stays as it was.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/TIniFile.h"
#include "fuzz/fuzz_input.h"

namespace {

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
  {
    TIniFile ini(name);
    const std::string value = ini.ReadString("Export", "DefaultDir", "none");
    ini.ReadInteger("MainForm", "Left", 220);
    ini.WriteString("Export", "DefaultDir", value);  // the value it has: no change
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
