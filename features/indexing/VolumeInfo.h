// The facts and the space of the volume that holds a drive's root.
#pragma once

#include <cstdint>
#include <string>

#include "catalog/Mediatypes.h"

// Fills `volume` with the facts of the volume that holds the folder `root`
// (a drive's mount point): label in Windows-1252 (at most 511 bytes),
// serial number, longest name, file-system flags and name, drive type and
// the twelve flags decoded from them. The record is cleared first; when the
// volume cannot be asked the result is false and only the drive type and
// its flags are filled.
bool GetVolumeInfo(const std::string& root, TVolumeInfo& volume);

// Bytes available to the caller and bytes in all on the volume that holds
// `path` (any path on it); false, both 0, when it cannot be asked.
bool GetDriveSpace(const std::string& path, uint64_t& freeBytes, uint64_t& totalBytes);
