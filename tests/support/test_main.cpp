// The main of the suites that need no display.
#include <gtest/gtest.h>

#include "tests/support/test_folders.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RunTestsInTemporaryFolders();
}
