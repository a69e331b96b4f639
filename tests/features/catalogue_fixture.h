// A catalogue opened as the program opens it, in a data folder of the
// test's own, with an error hook that records and clears every engine error
// as the program's hook does; and helpers that add supports and rows with
// exactly the values a test needs.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "catalog/Udbwrapper.h"
#include "engine/storage/code4.h"
#include "tests/support/catalogue_rows.h"
#include "tests/support/error_recorder.h"

namespace testing_support {

class FeatureCatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
    std::filesystem::create_directory("data");
    db = std::make_unique<TDBWrapper>(c, "data");
  }
  void TearDown() override {
    db.reset();
    code4initUndo(&c);
  }

  // The catalogue made anew with tables whose header says `codePage`, as
  // another tool may have written them (3: Windows ANSI).
  void recreateWithCodePage(int16_t codePage) {
    db.reset();
    std::filesystem::remove_all("data");
    std::filesystem::create_directory("data");
    c.codePage = codePage;
    db = std::make_unique<TDBWrapper>(c, "data");
  }
  int32_t addSupport(const std::string& volume, uint32_t serial = 0x12345678, int32_t id = -1) {
    TSupportRecord support;
    support.id = id;
    support.type = "CD/DVD";
    support.volume = volume;
    support.volumeSerial = static_cast<int32_t>(serial);
    return db->AddSupportRecord(support);
  }
  // A file (or, with `folder`, a directory) row of a support.
  int32_t addRow(int32_t support, const std::string& path, const std::string& name,
                 int64_t size = 10, double date = 45000.5, bool folder = false) {
    TFileRecord row = FileRow(support, path, name, size, date, folder);
    return db->AddFileRecord(row);
  }

  ErrorRecorder recorder{true};
  CODE4 c;
  std::unique_ptr<TDBWrapper> db;
};

}  // namespace testing_support
