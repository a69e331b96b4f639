// A settings object set up as the program sets up its catalogue (exclusive
// access) with an error hook that records and then clears every error, as
// the program's own hook does: a handler that trusted the error code would
// take every failure for a success here. Each test gets a data folder of its
// own and the three handlers on it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "catalog/Dbfiledatahandler.h"
#include "catalog/Dbidhandler.h"
#include "catalog/Dbsupportdatahandler.h"
#include "engine/storage/code4.h"
#include "tests/support/error_recorder.h"

namespace testing_support {

struct Catalogue {
  Catalogue(CODE4& c, const std::string& folder)
      : ids(c, folder), files(c, folder, &ids), supports(c, folder, &ids) {}
  void open() {
    ids.Open();
    files.Open();
    supports.Open();
  }
  void close() {
    ids.Close();
    files.Close();
    supports.Close();
  }
  const TDBDataHandler& table(const std::string& name) const {
    if (name == "DBFILES") return files;
    if (name == "DBSUPPORT") return supports;
    return ids;
  }
  int32_t addFile(int32_t id, const std::string& name = "a.txt", int32_t support = 1) {
    const int32_t rc =
        files.AppendFile(id, name, "txt", "/", support, "", -1, "", "", 45000.5, 10, 32, "");
    return rc == 0 ? id : rc;
  }
  int32_t addSupport(int32_t id = -1) {
    const int32_t rc =
        supports.AppendSupport(id, "CD/DVD", 100, "VOL", 1234, 1, "disc", 45000.0, "");
    return rc == 0 ? id : rc;
  }

  TIDHandler ids;
  TFileDataHandler files;
  TSupportDataHandler supports;
};

class CatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
    c.accessMode = 1;
    folder = std::string("data_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(folder);
    catalogue.emplace(c, folder);
  }
  void TearDown() override {
    catalogue.reset();
    code4initUndo(&c);
    std::filesystem::remove_all(folder);
  }

  std::string file(const std::string& name) const { return folder + "/" + name; }
  // The names in the data folder, sorted.
  std::vector<std::string> folderNames() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // Closes and reopens every table, as a restart of the program does.
  void restart() {
    catalogue->close();
    catalogue->open();
  }

  ErrorRecorder recorder{true};
  CODE4 c;
  std::string folder;
  std::optional<Catalogue> catalogue;
};

}  // namespace testing_support
