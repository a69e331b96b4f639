// The archive of a catalogue of 1,000,000 files that the import benchmarks
// read: 500 supports of 2,000 files each, in folders of 500, names and
// sizes in no order, one file in 50 with a two-line comment. Drawn from a
// fixed seed, so every run reads the same rows.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "catalog/Udbwrapper.h"
#include "features/archive/ArchiveOutput.h"
#include "features/archive/ArchiveWriter.h"

namespace bench_support {

inline constexpr int32_t kArchiveSupports = 500;
inline constexpr int32_t kArchiveFilesPerSupport = 2000;
inline constexpr int64_t kArchiveFiles = int64_t{kArchiveSupports} * kArchiveFilesPerSupport;

// A new folder under /tmp, named after `prefix`.
inline std::string makeBenchFolder(const std::string& prefix) {
  std::string pattern = "/tmp/" + prefix + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern;
}

// The supports and files of the catalogue, in archive order.
template <class OnSupport, class OnFile>
void forEachArchiveRow(OnSupport onSupport, OnFile onFile) {
  std::mt19937 random(7);
  for (int32_t s = 1; s <= kArchiveSupports; s++) {
    TSupportRecord support;
    support.id = s;
    support.type = "CD/DVD";
    support.volume = "DISC_" + std::to_string(s);
    support.volumeSerial = static_cast<int32_t>(random());
    support.fileCount = kArchiveFilesPerSupport;
    support.userId = "photos " + std::to_string(s);
    support.dateRecorded = 38154.5 + s;
    onSupport(support);
    std::string path;
    for (int32_t f = 0; f < kArchiveFilesPerSupport; f++) {
      if (f % 500 == 0) path = "\\DCIM\\" + std::to_string(random() % 1000) + "CANON\\";
      TFileRecord file;
      file.id = (s - 1) * kArchiveFilesPerSupport + f + 1;
      file.name = "IMG_" + std::to_string(random() % 100000) + ".JPG";
      file.ext = ".JPG";
      file.path = path;
      file.supportId = s;
      file.category = -1;
      file.date = 38000.0 + (random() % 2000000) / 1000.0;
      file.size = static_cast<int64_t>(random()) * 2;
      file.attributes = 32;
      if (f % 50 == 0) file.text = "taken at the lake\r\nsecond copy on disc 7";
      onFile(file);
    }
  }
}

inline void writeMillionArchive(const std::string& path) {
  archive::ArchiveOutput out;
  if (out.Open(path) != 0) std::abort();
  archive::WriteArchiveHeader(out, kArchiveSupports);
  forEachArchiveRow([&](const TSupportRecord& s) { archive::WriteVolumeBlock(out, s); },
                    [&](const TFileRecord& f) { archive::WriteFileBlock(out, f); });
  if (out.Commit() != 0) std::abort();
}

// The archive, written once in a folder of its own under /tmp (named after
// `prefix`) and removed when the program ends.
inline std::string millionArchivePath(const std::string& prefix) {
  struct Archive {
    explicit Archive(const std::string& prefix) : folder(makeBenchFolder(prefix)) {
      writeMillionArchive(folder + "/million.cex");
    }
    ~Archive() { std::filesystem::remove_all(folder); }
    std::string folder;
  };
  static const Archive archive(prefix);
  return archive.folder + "/million.cex";
}

}  // namespace bench_support
