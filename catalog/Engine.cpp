#include "catalog/Engine.h"

#include "catalog/Cberrorhook.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"

namespace {

bool ready = false;
bool initialisedOnce = false;

}  // namespace

CODE4& GlobalCode4() {
  static CODE4 code;
  return code;
}

void InitEngine() {
  if (initialisedOnce) return;
  initialisedOnce = true;
  error4hookSet(&error4hook);
  ready = code4initLow(&GlobalCode4(), nullptr, code4libraryVersion, code4structSize, 0) == 0;
}

void DoneEngine() {
  if (ready && code4initUndo(&GlobalCode4()) == 0) ready = false;
}

bool EngineReady() { return ready; }

void ResetEngineForTests() {
  DoneEngine();
  initialisedOnce = false;
}
