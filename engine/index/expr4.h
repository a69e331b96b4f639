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
// Thread rule: an EXPR4 is used by one thread at a time; evaluations (and
// key building) run under memory4evaluationLock(), which guards the work
// area and the key buffer of every expression.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CODE4;
struct DATA4;
struct DATA4FILE;
struct EXPR4INFO;
struct Expr4Eval;
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

// A step routine of the evaluator: computes `step` from the operands on the
// evaluation's stack (expr4steps.h). The state belongs to the one
// evaluation that runs the routine.
using Expr4Routine = void (*)(Expr4Eval& eval, const EXPR4INFO& step);

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
  // Where expr4key builds this expression's keys: expr4keyRoom(len) bytes,
  // sized when parsed, so that building a key never allocates.
  char* key = nullptr;

  // The storage behind the pointers above; not resized after parsing.
  std::vector<EXPR4INFO> stepStore;
  std::vector<char> constantStore;
  std::string textStore;
  std::vector<char> workStore;
  std::vector<char> keyStore;
};

// Compiles `text` for the handle `data`. `tag` is given for a tag's key or
// filter expression: its fields then read `tagRecord`, and no other handle
// may be named. Null on failure, the code raised with its location when
// the settings object reports expression errors (-510 always; -935 for a
// null argument without a settings object). Null at once while the
// settings object holds a negative error code.
EXPR4* expr4parseLow(DATA4* data, const char* text, TAG4FILE* tag);

// Upper-cases `length` bytes of `text` in place as UPPER does in the
// expressions of `data`'s table: the letters of Windows-1252 when its
// code-page byte says Windows ANSI, a-z alone otherwise. For keys built
// outside an expression that must meet a tag's.
void expr4upperAsTable(const DATA4* data, char* text, int32_t length);

// Frees an expression made by expr4parseLow, its work area included.
// Null is allowed. The owner (the tag, or whoever parsed it) calls this.
void expr4free(EXPR4* expr);

// A double as a 32-bit integer for folded arguments and evaluated
// conversions: truncated toward zero, saturated at the type's limits, NaN
// as 0.
int32_t expr4doubleToInt(double value);

// ---- Evaluation (expr4eval.cpp) and keys (expr4key.cpp) ----
//
// Which record an expression reads: the record buffer of the handle it is
// bound to (its parsing handle until expr4context binds another handle of
// the same data file), or that handle's old-record buffer after
// expr4contextOld. Whoever evaluates a tag expression binds it first, so
// that a key is never built from another handle's record. An evaluation
// refuses a handle that has been closed: a tag expression then binds to a
// live handle of its data file, and any other expression, or one whose
// fields reach a closed handle through an alias, fails with -930.

// Evaluates `expr` on the bound record: the result's length, with
// `*result` pointing at its bytes (in the record or the work area) until
// the next evaluation of `expr`. -935 for a null argument (at 90104,
// without a settings object for a null expression); -1 at once while the
// settings object holds an error; -1 when a memo value cannot be read;
// -930 (raised) when the bound handle or an aliased one has been closed.
int32_t expr4vary(EXPR4* expr, char** result);

// 1 or 0 for a logical expression; -1 when the evaluation fails; -950
// raised at 80021 with the text for an expression of another type.
int32_t expr4true(EXPR4* expr);

// The text of the expression; "" for null.
const char* expr4source(const EXPR4* expr);

// Binds the expression to `data`, a handle of the same data file, reading
// its record buffer (expr4context) or its old-record buffer
// (expr4contextOld). The expression's own fields are taken from `data` by
// their numbers; fields of aliased handles stay. A memo field read as text
// gives the handle's memo value, that of its current record, whichever
// buffer is bound. 0; -935 for a null argument; -930 raised at 90102 for a
// closed handle or one of another data file.
int32_t expr4context(EXPR4* expr, DATA4* data);
int32_t expr4contextOld(EXPR4* expr, DATA4* data);

// Evaluates and converts the result to the key bytes of `tag` (its
// collation for text, the sort-key encodings for the other types), with
// the null prefix when the expression reads nullable fields: the key
// length, `*key` pointing at the key followed by a zero byte, valid until
// the next key of `expr`. A null tag builds machine-order keys. -935 for
// a null expression or key pointer (at 90101); -1 while the settings
// object holds an error; a failed evaluation's code; -1090 when the tag's
// collation cannot be used.
int32_t expr4key(EXPR4* expr, char** key, TAG4FILE* tag);

// The length of the keys a tag on this expression holds: the null prefix
// (0 or 1) plus 8 for D, N, n, d, T, Y and '1', 4 for I, P, Q and R, 1 for
// L, 6 and 16 for the parts types, and for text its length, doubled under
// the collation of the expression's tag when that collation has sub-sort
// values or expansions.
int32_t expr4keyLen(EXPR4* expr);

// Mode 0: 1 when the expression reads a nullable field, unless it belongs
// to a tag that refuses null keys (option 0x04); else 0. Mode 1: 1 when
// one of those fields is null in the bound record.
int32_t expr4nullLow(EXPR4* expr, int32_t mode);

// Always 0: numeric keys are built as doubles.
int32_t expr4keyFlag(EXPR4* expr);

// The bytes of the key buffer an expression with results of `resultLen`
// bytes needs: its widest key (collated text takes two bytes a
// character), the null prefix and the closing zero byte.
int32_t expr4keyRoom(int32_t resultLen);
