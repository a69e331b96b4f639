// The main of the suites that need no display.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>

#include "tests/support/test_folders.h"

int main(int argc, char** argv) {
  // The program runs under the user's locale (its toolkit adopts the
  // environment's at start); so does every test, or a run under another
  // locale would prove nothing.
  if (std::setlocale(LC_ALL, "") == nullptr) {
    std::fprintf(stderr, "the environment's locale is not installed\n");
    return 2;
  }
  testing::InitGoogleTest(&argc, argv);
  return RunTestsInTemporaryFolders();
}
