#include "catalog/Dbidtablehandler.h"

#include <algorithm>
#include <limits>

#include "catalog/Dbfieldvalues.h"
#include "catalog/Dbidhandler.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4tag.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4value.h"

TIdTableHandler::TIdTableHandler(CODE4& code, std::string path, std::string tableName,
                                 TIDHandler* ids, size_t idField, const char* idTagName)
    : TDBDataHandler(code, std::move(path), std::move(tableName)),
      ids_(ids),
      idField_(idField),
      idTagName_(idTagName) {}

void TIdTableHandler::SetIdHandler(TIDHandler* ids) {
  ids_ = ids;
  counterChecked_ = false;
}

bool TIdTableHandler::Close() {
  idTag_ = nullptr;
  counterChecked_ = false;
  return TDBDataHandler::Close();
}

bool TIdTableHandler::DeleteCurrent() { return Handle() && data4delete(Handle()) == 0; }

bool TIdTableHandler::FinishOpen(std::span<const TDBFieldDef> fields) {
  const bool bound = BindFields(fields);
  idTag_ = data4tag(Handle(), MakeTagName(idTagName_).c_str());
  // A counter behind the table's ids is raised when the table can be
  // written; a table only read draws none.
  if (bound && ids_ != nullptr && !ReadOnly()) checkCounter();
  data4top(Handle());
  return bound && idTag_ != nullptr;
}

bool TIdTableHandler::checkCounter() {
  if (counterChecked_) return true;
  DATA4* d = Handle();
  if (d == nullptr || ids_ == nullptr || idTag_ == nullptr || !FieldsBound()) return false;
  TAG4* selected = data4tagSelected(d);
  data4tagSelect(d, idTag_);
  const int32_t rc = data4bottom(d);
  const int64_t largest = rc == r4success ? catalog::fieldInt64(BoundField(idField_)) : 0;
  data4tagSelect(d, selected);
  if (rc != r4success && rc != r4eof && rc != r4bof) return false;
  constexpr int64_t kLimit = std::numeric_limits<int32_t>::max();
  counterChecked_ =
      ids_->RaiseCounter(TableName(), static_cast<int32_t>(std::min(largest, kLimit)));
  return counterChecked_;
}

int32_t TIdTableHandler::DrawId() {
  if (Handle() == nullptr || !checkCounter()) return -3;
  const int32_t id = ids_->NextId(TableName());
  return id < 0 ? -3 : id;
}

int32_t TIdTableHandler::BeginAppend(int32_t& id) {
  DATA4* d = Handle();
  if (d == nullptr || !FieldsBound()) return -1;
  // Before the append starts: the check moves the handle.
  const bool drawing = id < 0;
  if (drawing && !checkCounter()) return -3;
  if (data4appendStart(d, 0) != 0) return -1;
  if (drawing) {
    id = ids_->NextId(TableName());
    if (id < 0) return -3;
  }
  data4blank(d);
  field4assignLong(BoundField(idField_), id);
  return 0;
}

int32_t TIdTableHandler::EndAppend() { return data4append(Handle()) == 0 ? 0 : -2; }

bool TIdTableHandler::DiscardChanges() {
  DATA4* d = Handle();
  if (d == nullptr) return false;
  data4changed(d, 0);
  const int32_t record = data4recNo(d);
  return record < 1 || data4go(d, record) == 0;
}
