// Every test runs inside a fresh temporary folder of its own, removed with
// the process's folder afterwards, so that tests can run in parallel (one
// process each under ctest) or all in one process, and leave nothing.
#pragma once

// Runs every test (after testing::InitGoogleTest) that way; the result of
// RUN_ALL_TESTS, or 2 when no temporary folder could be made.
int RunTestsInTemporaryFolders();
