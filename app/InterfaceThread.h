// Calls from other threads onto the interface thread, which alone touches
// widgets (and the catalogue).
//
// A call posted runs on the interface thread at a later turn of its event
// loop, outside every lock, in the order posted. It never runs once the
// application object is being destroyed: it is then destroyed unrun, on
// the interface thread. Everything a call carries passes through one
// mutex, so a worker's writes are seen by the call.
#pragma once

#include <functional>

// Makes the interface thread ready to take calls. Called there, while the
// application object exists, before another thread posts; again for a new
// application object. Without it, calls are dropped.
void PrepareInterfaceCalls();

// Queues `call` for the interface thread. Safe from any thread.
void PostToInterfaceThread(std::function<void()> call);
