// Engine result codes and error raising.
//
// Every engine operation answers with one integer: 0 for success, a
// positive status for an expected outcome, a negative code for a failure.
// Failures are raised through `error4report`, which stores the code and a
// five-digit location in the settings object (when there is one) and hands
// both, with up to three describing texts, to the installed error hook. A
// failure with a settings object raised off its owner's thread waits for
// that thread (error4code).
#pragma once

#include <cstdint>

struct CODE4;

// Status codes: expected outcomes, never raised.
enum : int32_t {
  r4success = 0,
  r4after = 2,          // a seek stopped on the next greater key
  r4eof = 3,            // positioned at end of file
  r4bof = 4,            // positioned before the first record
  r4entry = 5,          // tag entry not found; go to a missing record (quiet)
  r4queued = 7,         // a transfer was queued for a worker
  r4uniqueNoNull = 15,  // unique mode: duplicate or null key refuses quietly
  r4unique = 20,        // unique mode: duplicate key refuses the record quietly
  r4uniqueContinue = 25,  // unique mode: record kept, duplicate key left out
  r4locked = 50,        // a lock is held elsewhere and the attempts are used up
  r4noCreate = 60,      // a create failed while create errors are off
  r4noOpen = 70,        // an open failed while open errors are off
  r4noTag = 80,         // a seek without a selected tag
  r4logOpen = 170,      // the transaction log is already open
  r4done = 210,         // a sort has handed out every entry
};

// Error codes: failures, raised through error4report.
enum : int32_t {
  e4close = -10,
  e4create = -20,
  e4len = -30,
  e4lenSet = -40,
  e4lock = -50,
  e4open = -60,
  e4permiss = -61,
  e4numFiles = -63,
  e4fileFind = -64,
  e4createIndex = -65,
  e4instance = -69,
  e4read = -70,
  e4remove = -80,
  e4unlock = -110,
  e4write = -120,
  e4data = -200,
  e4fieldName = -210,
  e4fieldType = -220,
  e4recordLen = -230,
  e4tagNotNumeric = -250,
  e4index = -310,
  e4tagName = -330,
  e4unique = -340,
  e4tagInfo = -350,
  e4candidate = -360,
  e4commaExpected = -400,
  e4complete = -410,
  e4dataName = -420,
  e4constParm = -425,
  e4numParms = -430,
  e4overflow = -440,
  e4rightMissing = -450,
  e4typeSub = -460,
  e4unrecFunction = -470,
  e4unrecOperator = -480,
  e4unrecValue = -490,
  e4unterminated = -500,
  e4tagExpr = -510,
  e4optRead = -610,
  e4optFlush = -630,
  e4cacheSuspend = -620,
  e4info = -910,
  e4memory = -920,
  e4parm = -930,
  e4parmNull = -935,
  e4result = -950,
  e4struct = -960,
  e4object = -970,
  e4collate = -1090,
  e4version = -1095,
  e4transViolation = -1200,
  e4log = -1210,
  e4rollback = -1220,
  e4commit = -1230,
  e4logWrite = -1240,
  e4transStatus = -1250,
  e4userCount = -1400,
  e4name = -1420,
};

// Kinds of structure known to structure4check.
enum : int {
  structure4index = 0,
  structure4code = 1,
  structure4data = 2,
  structure4field = 3,
  structure4tag = 4,
};

// Every valid engine structure carries this value in its marker field.
inline constexpr int32_t validity4marker = 21121;

// The program's error hook. `c` is null for errors raised without a settings
// object; the texts that were not given are null. With a settings object the
// program's hook shows the error and clears the code and location again.
// It may be called from any thread that raises.
using Error4Hook = void (*)(CODE4* c, int32_t code, int32_t location,
                            const char* text1, const char* text2, const char* text3);

// Installs the hook (null: none) and returns the one it replaces.
Error4Hook error4hookSet(Error4Hook hook);

int32_t error4report(CODE4* c, int32_t code, int32_t location, const char* text1,
                     const char* text2, const char* text3);
int32_t error4(CODE4* c, int32_t code, int32_t location);
int32_t error4describe(CODE4* c, int32_t code, int32_t location, const char* text1,
                       const char* text2, const char* text3);

// Stores a code or location without raising; both return the previous value.
int32_t error4set(CODE4* c, int32_t code);
int32_t error4setLocation(CODE4* c, int32_t location);

// The failure that a sequence of steps running on past failures (a close,
// a release, an undo) reports, and whether the sequence may leave it in the
// settings object when it ends. It may not when the hook showed and cleared
// the error behind it while its step ran: stored again, the code would
// refuse every later engine call although the program has dealt with it.
// A hook that leaves codes pending sees the failure stored as before.
class Error4Steps {
 public:
  enum Keep { keepFirst, keepLast };
  explicit Error4Steps(const CODE4* c, Keep keep = keepLast);
  // Takes the result of the step run since the previous note (or since
  // construction).
  void note(int32_t rc);
  // The failure kept; 0 when every step succeeded.
  int32_t failure() const { return failure_; }
  // True when there is a failure the hook has not cleared.
  bool mayLeave() const { return failure_ < 0 && !cleared_; }

 private:
  const CODE4* c_;
  Keep keep_;
  uint32_t clearedBefore_;
  int32_t failure_ = 0;
  bool cleared_ = false;
};

// The current code, read without a lock. Called on the settings object's
// owner thread (the one that initialised it), it first raises there, oldest
// first, the errors other threads raised meanwhile (see CODE4::ownerThread):
// every engine call, and a program's pump, delivers them this way.
int32_t error4code(const CODE4* c);

// 0 when `structure` is a valid structure of `kind`, else the raised -930.
int32_t structure4check(const void* structure, int kind, int32_t location);
