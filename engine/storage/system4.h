// The engine's few calls into the operating system outside the file layer:
// environment lookup, pausing, and removing a file by name. Each goes
// through platform::os(), so tests can answer for the system.
#pragma once

#include <cstdint>

// The value of the environment variable `name`, or null when it is not
// set. A missing variable that is `required` raises -910 at 80179 with the
// name as text; a null name raises -935 at 90341. Neither names a settings
// object, so nothing is shown.
const char* environment4get(const char* name, int required);

// Pauses the calling thread for `hundredths` x 10 milliseconds.
void time4delay(int32_t hundredths);

// Deletes the named file (never a folder). Returns 0, or -1 when the
// system refuses; the caller decides what to raise (closing a temporary
// file raises -80). A null name raises -935 at 90339.
int32_t file4remove(const char* name);
