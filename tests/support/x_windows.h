// For the tests that start the real program on the virtual X display: find
// its window and ask it to close as a window manager does.
#pragma once

#include <cstdint>
#include <string>

// The viewable top-level window of process `pid` whose title begins with
// `title`; waits up to `timeoutMillis` for it. 0 when none came.
uint32_t WaitForProgramWindow(int64_t pid, const std::string& title, int timeoutMillis);

// Sends the window the WM_DELETE_WINDOW message of the window-manager
// protocol: the close button of its frame. True when it was sent.
bool AskWindowToClose(uint32_t window);
