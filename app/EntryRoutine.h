// The program from its first form to its last.
#pragma once

#include <functional>

// Creates the program's forms in their fixed order (the main window first,
// the support list shown inside it), shows the main window, runs
// `messageLoop` (the application's event loop when empty) and destroys the
// forms in the reverse order, the main window last; database errors are
// shown in boxes meanwhile. A request to end the process (SIGTERM) ends
// the loop whatever box or dialog is open, and the main window is then
// closed as a user closes it (TerminationRequests). Returns the loop's exit code; 1 when the data
// folder cannot be made (told by the main window) or an exception escaped
// (shown here, once the forms are gone).
int RunEntryRoutine(const std::function<int()>& messageLoop = {});
