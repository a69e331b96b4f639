// The rows the feature and form tests put in a catalogue, with exactly the
// values a test needs.
#pragma once

#include <cstdint>
#include <string>

#include "catalog/Udbwrapper.h"

namespace testing_support {

// A file row of a support (or, with `folder`, a directory row) stored with
// the directory `path` ("\sub\"); a file's extension is its name's from
// the last '.'.
inline TFileRecord FileRow(int32_t support, const std::string& path, const std::string& name,
                           int64_t size = 10, double date = 45000.5, bool folder = false) {
  TFileRecord row;
  row.name = name;
  row.path = path;
  const size_t dot = name.rfind('.');
  if (!folder && dot != std::string::npos) row.ext = name.substr(dot);
  row.supportId = support;
  row.category = -1;
  row.size = size;
  row.date = date;
  row.attributes = folder ? 0x10 : 0x20;
  return row;
}

// A support of `files` files sized 0, 1, 2, ... as a scan stores it
// (volume `name`, serial 7, a CD): its id, or -1 from the first refusal,
// after which the support takes the count and size of the files stored.
inline int32_t AddScannedSupport(TDBWrapper& db, const std::string& name, int files) {
  TVolumeInfo volume;
  volume.volumeName = name;
  volume.serialNumber = 7;
  volume.cdRom = true;
  const int64_t size = int64_t{files} * (files - 1) / 2;
  const int32_t id = db.AddScannedSupport(name, std::string(300, 'x'), size, files, volume);
  for (int i = 0; id >= 0 && i < files; i++) {
    TFileEntry entry;
    entry.name = name + std::to_string(i) + ".txt";
    entry.extension = ".txt";
    entry.directory = "\\" + name + "\\";
    entry.attributes = 32;
    entry.size = i;
    entry.date = 45000.5;
    if (db.AddScannedFile(id, entry, nullptr) < 0) {
      db.UpdateSupportTotals(id, int64_t{i} * (i - 1) / 2, i);
      return -1;
    }
  }
  return id;
}

}  // namespace testing_support
