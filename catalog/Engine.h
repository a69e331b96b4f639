// The one engine settings object of the program, made ready before the
// program's windows exist and undone when the catalogue closes.
#pragma once

struct CODE4;

// The program's settings object.
CODE4& GlobalCode4();

// Initialises the settings object with the workers started and installs
// the catalogue's error hook; once per process (later calls do nothing).
// The program calls it first thing in main, on the thread that will show
// database errors.
void InitEngine();
// Undoes it when it is ready.
void DoneEngine();
// True between a successful InitEngine and DoneEngine.
bool EngineReady();

// Undoes the engine and allows InitEngine again: for tests, which start
// and end the catalogue many times in one process.
void ResetEngineForTests();
