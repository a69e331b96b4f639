// A catalogue in the test's folder, as the program opens it, with the
// helpers the export and import tests share: supports and files added
// directly, and archive texts built line by line.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "catalog/Udbwrapper.h"
#include "engine/storage/code4.h"
#include "tests/support/error_recorder.h"

namespace testing_support {

// The lines, each ended with CR LF.
inline std::string crlf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

inline std::string header(int32_t total, int32_t format = 101) {
  return crlf(
      {"TOTAL_SUPPORT=" + std::to_string(total), "CATALOG_EXPORT=" + std::to_string(format)});
}

inline std::string volumeBlock(const std::string& name, uint32_t serial, int32_t fileCount = 0) {
  return crlf({"@VOLUME=(", "S_ID=1", "S_TYPE=CD/DVD", "S_SIZE=999", "S_VOLNAME=" + name,
               "S_VOLSN=" + std::to_string(serial), "S_FCOUNT=" + std::to_string(fileCount),
               "S_USRID=" + name + " disc", "S_DATEREC=38154.500000", "S_COMMENT.LINECOUNT=0",
               ")"});
}

inline std::string fileBlock(const std::string& name, int64_t size = 10,
                             const std::string& path = "\\") {
  return crlf({"@FILE=(", "F_ID=1", "F_NAME=" + name, "F_EXT=", "F_PATH=" + path, "F_SUPID=1",
               "F_COMMENT=", "F_CATEGORY=-1", "F_CRC=", "F_MD5=", "F_DATE=38154.250000",
               "F_SIZE=" + std::to_string(size), "F_ATTR=32", "F_LCOMMENT.LINECOUNT=0", ")"});
}

class ArchiveCatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
    std::filesystem::create_directory("data");
    db = std::make_unique<TDBWrapper>(c, "data");
    db->CountSupports();
  }
  void TearDown() override {
    db.reset();
    code4initUndo(&c);
  }

  // A support with `files` files named f0, f1, ... of sizes 1000, 1001, ...;
  // its size and count are those of its files, as a scan leaves them.
  int32_t addSupport(const std::string& name, uint32_t serial, int32_t files,
                     const std::string& text = "") {
    TSupportRecord s{.type = "CD/DVD",
                     .size = files * int64_t{1000} + files * (files - 1) / 2,
                     .volume = name,
                     .volumeSerial = static_cast<int32_t>(serial),
                     .fileCount = files,
                     .userId = name + " disc",
                     .dateRecorded = 38154.123456,
                     .text = text};
    const int32_t id = db->AddSupportRecord(s);
    for (int32_t i = 0; i < files; i++) {
      TFileRecord f{.name = "f" + std::to_string(i) + ".dat",
                    .ext = ".dat",
                    .path = "\\dir" + std::to_string(i % 3) + "\\",
                    .supportId = id,
                    .comment = "",
                    .category = -1,
                    .crc = "",
                    .md5 = "",
                    .date = 38000.5 + i,
                    .size = 1000 + i,
                    .attributes = 32,
                    .text = i == 1 ? "long\r\n\r\ncomment" : ""};
      db->AddFileRecord(f);
    }
    return id;
  }

  // The live supports by their record order.
  std::vector<TSupportRecord> supports() {
    std::vector<TSupportRecord> all;
    for (int32_t n = 1; db->GotoSupport(n); n++) {
      all.emplace_back();
      db->ReadCurrentSupport(all.back());
    }
    return all;
  }

  ErrorRecorder recorder{true};
  CODE4 c;
  std::unique_ptr<TDBWrapper> db;
};

}  // namespace testing_support
