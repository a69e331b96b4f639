// Writes seed inputs for index4open_fuzz into the folder given: the
// production index of the fuzzed table, made by the engine, the same file
// with its first tag's header claiming to be the tag of tags, and the same
// index with its nodes shaped as another writer shapes them.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz/foreign_nodes.h"
#include "fuzz/index4_table.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  CODE4 c;
  if (code4initLow(&c, nullptr, code4libraryVersion, code4structSize, 1) != 0) return 1;
  const std::string table = std::string(argv[1]) + "/seed-table";
  const bool made = fuzz4makeTable(&c, table);
  code4initUndo(&c);
  if (!made) return 1;
  std::ifstream in(table + ".cdx", std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  std::ofstream(std::string(argv[1]) + "/seed-index", std::ios::binary) << bytes;
  std::string damaged = bytes;
  if (damaged.size() > 1024 + 14) damaged[1024 + 14] = static_cast<char>(0xE0);
  std::ofstream(std::string(argv[1]) + "/seed-tag-header", std::ios::binary) << damaged;
  const std::vector<unsigned char> shaped =
      fuzz4foreignShaped({bytes.begin(), bytes.end()}, std::size(kFuzzTags) - 1);
  std::ofstream(std::string(argv[1]) + "/seed-index-foreign", std::ios::binary)
      .write(reinterpret_cast<const char*>(shaped.data()),
             static_cast<std::streamsize>(shaped.size()));
  std::remove((table + ".cdx").c_str());
  std::remove((table + ".dbf").c_str());
  return 0;
}
