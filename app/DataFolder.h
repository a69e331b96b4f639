// The catalogue's folder: "data" in the program folder, made at the first
// start. Paths are the file system's bytes.
#pragma once

#include <string>

// The program folder followed by "data", without a trailing '/'.
std::string DataFolderPath();

// Makes `folder` when it is not a folder yet. True when it is one now;
// false when something else stands in its place or it cannot be made.
bool EnsureDataFolder(const std::string& folder);
