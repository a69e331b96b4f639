// EXPR4: a compiled dBase expression (a tag's key or filter, or any other
// expression over one table), and EXPR4INFO, one step of it.
//
// `expr4parseLow` turns the text into a postfix list of steps. Every step
// names its row of the function table (expr4table.h), which fixes what the
// step computes and the type of its result; the parser has already chosen
// the row variant for the operand types, folded constant arguments into
// the step, and laid out where each step writes its result in the work
// area. Evaluating is walking the steps in order with an operand stack.
//
// Layout contract for the evaluator:
// - A step's operands are the values of the steps before it: the last
//   operand is step i - 1, the one before it ends at step i - 1 -
//   (entryCount of step i - 1), and so on. entryCount counts the steps
//   that make up a value, the step itself included.
// - Every step writes its result at `resultPos` in the work area, `len`
//   bytes; a step with operands writes where its first operand lies.
//   Fields read in place (the "read" rows) write nothing: their value is
//   the record pointer (*ref.record) + p1.
// - Operands of "+" and "-" of text lie side by side: the second starts at
//   resultPos + p1 of the step. Values of type N, D and I keep 8 bytes
//   behind their position free, so a field converted to a double in place
//   never overwrites the next value. workLen covers every such double.
// - Constants live in the constants area: number constants as 8 raw
//   bytes of a double at p1; text constants as their bytes at p1, without
//   quotes or terminator, `len` long; DTOC and CTOD keep at p1 the date
//   picture of the settings object, with its terminating zero, as it stood
//   when the expression was parsed.
//
// Thread rule: an EXPR4 is used by one thread at a time (evaluations are
// serialised by memory4evaluationLock()).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CODE4;
struct DATA4;
struct DATA4FILE;
struct FIELD4;
struct TAG4FILE;

// The type letters of expression values. Widths are those of the value in
// the work area.
enum : int32_t {
  expr4typeText = 'C',           // fixed-length text, blank padded
  expr4typeWide = 'W',           // 2 bytes per character
  expr4typeWideTail = 'O',       // wide text whose last 2 bytes are no part of it
  expr4typeLogical = 'L',        // 32-bit 0 or 1
  expr4typeDateText = 'D',       // "CCYYMMDD", blank = 8 blanks
  expr4typeDate = 'd',           // double day number, 0 = blank
  expr4typeNumberText = 'N',     // numeric text of an N or F field
  expr4typeNumber = 'n',         // double
  expr4typeInt = 'I',            // signed 32-bit
  expr4typeUnsigned = 'P',       // unsigned 32-bit
  expr4typeShort = 'Q',          // signed 16-bit, 4 bytes in the work area
  expr4typeUnsignedShort = 'R',  // unsigned 16-bit, 4 bytes in the work area
  expr4typeDateTime = 'T',       // 32-bit day number, 32-bit milliseconds
  expr4typeCurrency = 'Y',       // signed 64-bit, 4 implied decimals
  expr4typeInt64 = '1',
  expr4typeDateParts = '2',      // year, month, day as 16-bit parts
  expr4typeTimeParts = '3',      // three 16-bit time parts
  expr4typeDateTimeParts = '4',  // six 16-bit parts and one 32-bit part
};

// A step routine of the evaluator. The evaluation state (operand stack,
// current expression and step, constants, work area) is process-wide and
// guarded by memory4evaluationLock().
using Expr4Routine = void (*)();

// What a step refers to; which member is meant follows from the row.
union Expr4Reference {
  // Field rows, DEL and DELETED: the address of the record-buffer pointer
  // the step reads (the data handle's record member, or for a tag
  // expression the EXPR4's tagRecord).
  char** record;
  // ">" and "<" of text: the answer when the compared bytes are equal.
  int32_t tie;
  // RECCOUNT: the data file whose record count is wanted.
  DATA4FILE* dataFile;
};

struct EXPR4INFO {
  uint16_t fieldNumber = 0;  // 1-based position of the field; 0 when no field
  FIELD4* field = nullptr;
  int32_t sameData = 0;  // 1 when the field is of the expression's own handle
  Expr4Reference ref{nullptr};
  int32_t len = 0;         // bytes of this step's result
  int32_t entryCount = 0;  // steps making up this value, itself included
  int32_t parmCount = 0;   // operands taken from the stack
  int32_t resultPos = 0;   // offset in the work area
  // Integer parameter 1: the field's offset in the record; the constant's
  // offset in the constants area; the decimals of STR; the start of
  // SUBSTR, LEFT and RIGHT; the pad count of PADL and PADR; the number of
  // bytes compared by comparisons (the shorter text, 8 for n, d, Y and T,
  // 4 for L); the first operand's length for "+" and "-" of text; the
  // length of IIF's second operand; the milliseconds of DATETIME; the
  // picture's offset for DTOC and CTOD.
  int32_t p1 = 0;
  int32_t p2 = 0;                  // the length of IIF's third operand
  int32_t row = 0;                 // row of the function table
  Expr4Routine routine = nullptr;  // the row's routine, copied at the end
};

struct EXPR4 {
  EXPR4INFO* steps = nullptr;  // the steps, in postfix order
  int32_t stepCount = 0;
  const char* text = nullptr;  // the text, NUL-terminated
  const char* constants = nullptr;
  int32_t len = 0;          // length of the result
  int32_t type = 0;         // type letter of the result
  TAG4FILE* tag = nullptr;  // the tag whose key or filter this is, or null
  DATA4* data = nullptr;    // the handle the expression is bound to
  DATA4FILE* dataFile = nullptr;
  CODE4* codeBase = nullptr;
  int32_t workLen = 0;  // bytes an evaluation writes into the work area
  // 1 when some step yields text padded with zero bytes (TRIM, LTRIM,
  // ALLTRIM, a memo field): a key of such text has them turned to blanks.
  int32_t varLength = 0;
  char* work = nullptr;  // workLen + 1 bytes, zeroed
  // The record pointer that the fields of a tag expression read; set to
  // the handle's record buffer when parsed, rebound by the evaluator. Null
  // for other expressions.
  char* tagRecord = nullptr;
  // Bytes the settings object's key buffer needs for keys of this
  // expression: the largest step length + 2, and 10 for D, N and n values.
  int32_t keyBufferNeed = 0;

  // The storage behind the pointers above; not resized after parsing.
  std::vector<EXPR4INFO> stepStore;
  std::vector<char> constantStore;
  std::string textStore;
  std::vector<char> workStore;
};

// Compiles `text` for the handle `data`. `tag` is given for a tag's key or
// filter expression: its fields then read `tagRecord`, and no other handle
// may be named. Null on failure, the code raised with its location when
// the settings object reports expression errors (-510 always; -935 for a
// null argument without a settings object). Null at once while the
// settings object holds a negative error code.
EXPR4* expr4parseLow(DATA4* data, const char* text, TAG4FILE* tag);

// Frees an expression made by expr4parseLow, its work area included.
// Null is allowed. The owner (the tag, or whoever parsed it) calls this.
void expr4free(EXPR4* expr);

// A double as a 32-bit integer for folded arguments and evaluated
// conversions: truncated toward zero, saturated at the type's limits, NaN
// as 0.
int32_t expr4doubleToInt(double value);
