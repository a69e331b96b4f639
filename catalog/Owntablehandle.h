// TOwnTableHandle: a second, short-lived handle on one catalogue table, for
// the operations and windows that read a table without moving the current
// record of its long-lived handler (counts, reads by id, searches,
// listings, statistics). It opens the handler's table on the handler's
// settings object and closes it whatever happens.
//
// Second handles need the settings object's single-open check off, which
// TDBWrapper turns off once the catalogue is open. A handle that could not
// be opened is null: the engine has reported why through the error hook.
// So is one on a table whose handler is not open: the start said why it is
// not, and a second open would only fail again.
#pragma once

#include <string_view>

struct DATA4;
struct FIELD4;
struct TAG4;
class TDBDataHandler;

class TOwnTableHandle {
 public:
  explicit TOwnTableHandle(const TDBDataHandler& table);
  ~TOwnTableHandle();
  TOwnTableHandle(const TOwnTableHandle&) = delete;
  TOwnTableHandle& operator=(const TOwnTableHandle&) = delete;

  // Null when the open failed.
  DATA4* get() const { return d_; }
  // The field of that name; null when absent or the handle is null.
  FIELD4* field(const char* name) const;
  // Selects the tag of that declared name ("F_NAME" selects T_F_NAME): true
  // when the table has it. Otherwise the selection is left as it was.
  bool selectTag(std::string_view declaredName) const;

 private:
  DATA4* d_;
};
