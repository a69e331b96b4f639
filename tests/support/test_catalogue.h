// For form tests: the program's catalogue, opened as the main window opens
// it (the engine's global settings object, the data folder "data" in the
// test's own folder) and published in the global `dbWrapper` for the life
// of the object.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "catalog/Udbwrapper.h"

class TestCatalogue {
 public:
  TestCatalogue();
  ~TestCatalogue();
  TestCatalogue(const TestCatalogue&) = delete;
  TestCatalogue& operator=(const TestCatalogue&) = delete;

  TDBWrapper& Db() { return *db_; }
  const std::string& DataFolder() const { return folder_; }

  // Closes the catalogue and opens it again, as a restart of the program.
  void Reopen();

  // A support with one file row per name (names with '\' are stored with
  // their folder: "sub\c.txt" lies in \sub\). Returns the support's id.
  int32_t AddSupport(const std::string& volume, uint32_t serial,
                     const std::vector<std::string>& files = {});
  // One row of a support: a file, or with `folder` a directory, stored
  // with the directory `path` ("\sub\"). Returns its F_ID.
  int32_t AddRow(int32_t supportId, const std::string& path, const std::string& name,
                 int64_t size = 10, double date = 45000.5, bool folder = false);

 private:
  void Open();
  void Close();

  std::string folder_ = "data";
  std::unique_ptr<TDBWrapper> db_;
};
