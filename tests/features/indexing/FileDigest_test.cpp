#include "features/indexing/FileDigest.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <random>

namespace {

// What md5sum says of a file: the first 32 characters of its line.
std::string md5sum(const std::string& path) {
  std::FILE* pipe = popen(("md5sum '" + path + "'").c_str(), "r");
  if (pipe == nullptr) return "(md5sum did not start)";
  char line[128] = {};
  const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
  pclose(pipe);
  return read ? std::string(line, 32) : "(md5sum failed)";
}

TEST(FileDigestTest, EqualsMd5sumForFilesOfEverySize) {
  std::mt19937 random(29);
  // Empty, one byte, the RFC's "abc", around the read chunk of 64 KiB, and
  // several chunks.
  const size_t sizes[] = {0, 1, 3, 55, 64, 65535, 65536, 65537, 300000};
  for (const size_t size : sizes) {
    std::string content(size, '\0');
    for (char& c : content) c = static_cast<char>(random());
    if (size == 3) content = "abc";
    const std::string name = "file-" + std::to_string(size);
    std::ofstream(name, std::ios::binary) << content;
    EXPECT_EQ(GetFileMD5(name), md5sum(name)) << size;
  }
  EXPECT_EQ(GetFileMD5("file-3"), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(FileDigestTest, OnlyRegularFilesThatExistHaveADigest) {
  ASSERT_EQ(mkfifo("pipe", 0600), 0);  // opened for reading, it would wait for a writer
  ASSERT_EQ(mkdir("folder", 0700), 0);
  for (const char* name : {"pipe", "folder", "missing", "/dev/zero"})
    EXPECT_EQ(GetFileMD5(name), "") << name;
}

}  // namespace
