#include "tests/support/test_catalogue.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/DBWrapperGlobal.h"
#include "catalog/Engine.h"
#include "engine/storage/code4.h"

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
    TFileRecord row;
    const size_t cut = file.rfind('\\');
    row.name = cut == std::string::npos ? file : file.substr(cut + 1);
    row.path = cut == std::string::npos ? "\\" : "\\" + file.substr(0, cut + 1);
    const size_t dot = row.name.rfind('.');
    if (dot != std::string::npos) row.ext = row.name.substr(dot);
    row.supportId = id;
    row.category = -1;
    row.size = 10;
    row.date = 45000.5;
    row.attributes = 0x20;
    db_->AddFileRecord(row);
  }
  db_->FlushAll();
  db_->CountSupports();
  return id;
}
