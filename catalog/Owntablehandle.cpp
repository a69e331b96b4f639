#include "catalog/Owntablehandle.h"

#include "catalog/Dbdatahandler.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4tag.h"

TOwnTableHandle::TOwnTableHandle(const TDBDataHandler& table)
    : d_(table.Handle() == nullptr
             ? nullptr
             : data4open(&table.Code(), table.GetFileName(true, false).c_str())) {}

TOwnTableHandle::~TOwnTableHandle() {
  if (d_ != nullptr) data4close(d_);
}

FIELD4* TOwnTableHandle::field(const char* name) const {
  return d_ == nullptr ? nullptr : data4field(d_, name);
}

bool TOwnTableHandle::selectTag(std::string_view declaredName) const {
  if (d_ == nullptr) return false;
  TAG4* tag = data4tag(d_, TDBDataHandler::MakeTagName(declaredName).c_str());
  if (tag == nullptr) return false;
  data4tagSelect(d_, tag);
  return true;
}
