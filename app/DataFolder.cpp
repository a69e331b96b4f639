#include "app/DataFolder.h"

#include "app/ProgramFolder.h"
#include "platform/os.h"

std::string DataFolderPath() { return ProgramFolder() + "data"; }

bool EnsureDataFolder(const std::string& folder) {
  platform::Os& os = platform::os();
  if (os.isFolder(folder.c_str())) return true;
  // Another start may make it in between: only the end state counts.
  os.makeFolder(folder.c_str());
  return os.isFolder(folder.c_str());
}
