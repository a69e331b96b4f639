#include "tests/support/test_catalogue.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/DBWrapperGlobal.h"
#include "catalog/Engine.h"
#include "engine/storage/code4.h"
#include "tests/support/catalogue_rows.h"

TestCatalogue::TestCatalogue() {
  std::filesystem::create_directory(folder_);
  Open();
}

TestCatalogue::~TestCatalogue() { Close(); }

void TestCatalogue::Open() {
  InitEngine();
  EXPECT_TRUE(EngineReady());
  db_ = std::make_unique<TDBWrapper>(GlobalCode4(), folder_);
  GlobalCode4().singleOpen = 0;
  dbWrapper = db_.get();
}

void TestCatalogue::Close() {
  dbWrapper = nullptr;
  db_.reset();
  ResetEngineForTests();
}

void TestCatalogue::Reopen() {
  Close();
  Open();
}

int32_t TestCatalogue::AddSupport(const std::string& volume, uint32_t serial,
                                  const std::vector<std::string>& files) {
  TSupportRecord support;
  support.type = "CD/DVD";
  support.volume = volume;
  support.volumeSerial = static_cast<int32_t>(serial);
  support.fileCount = static_cast<int32_t>(files.size());
  support.size = 10 * static_cast<int64_t>(files.size());
  const int32_t id = db_->AddSupportRecord(support);
  for (const std::string& file : files) {
    const size_t cut = file.rfind('\\');
    if (cut == std::string::npos) {
      AddRow(id, "\\", file);
    } else {
      AddRow(id, "\\" + file.substr(0, cut + 1), file.substr(cut + 1));
    }
  }
  db_->FlushAll();
  db_->CountSupports();
  return id;
}

int32_t TestCatalogue::AddRow(int32_t supportId, const std::string& path, const std::string& name,
                              int64_t size, double date, bool folder) {
  TFileRecord row = testing_support::FileRow(supportId, path, name, size, date, folder);
  return db_->AddFileRecord(row);
}
