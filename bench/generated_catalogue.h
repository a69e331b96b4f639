// A catalogue generated for the benchmarks of the windows that read it: a
// temporary data folder with supports of scanned files, opened through the
// catalogue as the program opens it, and removed at the end.
//
// Names are a word, a running number and an extension (report123.doc),
// in directories of 100 entries, optionally all under one folder whose rows
// are not stored; sizes up to 5 GB and dates over twenty years, drawn from
// a fixed seed so every run reads the same catalogue.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <utility>

#include "catalog/Udbwrapper.h"
#include "engine/storage/code4.h"

namespace bench_support {

inline constexpr std::array<const char*, 20> kWords = {
    "report", "photo", "song",  "video", "setup",  "readme", "data",  "image", "backup", "notes",
    "letter", "movie", "track", "scan",  "driver", "manual", "table", "draft", "album",  "game"};
inline constexpr std::array<const char*, 10> kExtensions = {".doc", ".jpg", ".mp3", ".avi", ".exe",
                                                            ".txt", ".dat", ".png", ".iso", ".zip"};
// The first day of the dates: 1 January 2004.
inline constexpr double kFirstDay = 37987.0;
inline constexpr int kDays = 7300;

class GeneratedCatalogue {
 public:
  // `under`: the folder holding every directory, as \a\b (empty: the top).
  GeneratedCatalogue(int supports, int filesPerSupport, std::string under = "")
      : under_(std::move(under)) {
    char pattern[] = "/tmp/catalogue-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    folder_ = pattern;
    open();
    std::mt19937_64 random(2024);
    TVolumeInfo volume;
    volume.cdRom = true;
    int number = 0;
    for (int s = 0; s < supports; s++) {
      volume.volumeName = "DISC" + std::to_string(s);
      volume.serialNumber = static_cast<uint32_t>(random());
      const int32_t support = db_->AddScannedSupport("bench", "", 0, filesPerSupport, volume);
      TFileEntry entry;
      for (int f = 0; f < filesPerSupport; f++, number++) {
        if (f % 100 == 0) addDirectories(support, f);
        const size_t ext = random() % kExtensions.size();
        entry.name = kWords[random() % kWords.size()] + std::to_string(number) + kExtensions[ext];
        entry.extension = kExtensions[ext];
        entry.directory = directory_;
        entry.attributes = 32;
        entry.size = static_cast<int64_t>(random() % 5'000'000'000ULL);
        entry.date = kFirstDay + static_cast<double>(random() % (kDays * 86400ULL)) / 86400.0;
        db_->AddScannedFile(support, entry, nullptr);
      }
    }
    close();
  }
  ~GeneratedCatalogue() {
    close();
    std::filesystem::remove_all(folder_);
  }
  GeneratedCatalogue(const GeneratedCatalogue&) = delete;
  GeneratedCatalogue& operator=(const GeneratedCatalogue&) = delete;

  // Opens the catalogue as the program does; with `cold`, its files are
  // first dropped from the system's page cache.
  TDBWrapper& open(bool cold = false) {
    close();
    if (cold) dropFromPageCache();
    code4initLow(&code_, nullptr, code4libraryVersion, code4structSize, 0);
    db_ = std::make_unique<TDBWrapper>(code_, folder_);
    return *db_;
  }
  void close() {
    if (db_ == nullptr) return;
    db_.reset();
    code4initUndo(&code_);
  }
  TDBWrapper& db() { return *db_; }

 private:
  // The folder rows of files f to f + 99, <under>\dir<f/1000>\sub<f/100%10>\,
  // each before the rows inside it.
  void addDirectories(int32_t support, int f) {
    TFileEntry folder;
    folder.attributes = kDirectoryAttribute;
    folder.size = 0;
    folder.date = kFirstDay;
    const std::string top = "dir" + std::to_string(f / 1000);
    if (f % 1000 == 0) {
      folder.name = top;
      folder.directory = under_ + "\\";
      db_->AddScannedFile(support, folder, nullptr);
    }
    folder.name = "sub" + std::to_string(f / 100 % 10);
    folder.directory = under_ + "\\" + top + "\\";
    db_->AddScannedFile(support, folder, nullptr);
    directory_ = folder.directory + folder.name + "\\";
  }

  void dropFromPageCache() const {
    for (const auto& file : std::filesystem::directory_iterator(folder_)) {
      const int fd = ::open(file.path().c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      fdatasync(fd);
      posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
      ::close(fd);
    }
  }

  std::string folder_;
  std::string under_;
  std::string directory_;  // of the files being added
  CODE4 code_;
  std::unique_ptr<TDBWrapper> db_;
};

// The data sets the benchmarks share, each made once per program: two
// supports of 100,000 files (the browser's), the same under a folder whose
// path is longer than the path tag keeps, and 1,000,000 files on 500
// supports (the search's).
inline GeneratedCatalogue& TwoLargeSupports() {
  static GeneratedCatalogue generated(2, 100000);
  return generated;
}
// A folder of 55 characters, longer than the path tag keeps of a path.
inline constexpr const char* kLongFolder =
    "\\Backups\\2024-03-15 full backup\\Users\\someone\\Documents";
inline GeneratedCatalogue& TwoLargeSupportsDeep() {
  static GeneratedCatalogue generated(2, 100000, kLongFolder);
  return generated;
}
inline GeneratedCatalogue& MillionFiles() {
  static GeneratedCatalogue generated(500, 2000);
  return generated;
}

}  // namespace bench_support
