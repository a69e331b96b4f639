#include "catalog/Dbidhandler.h"

#include <algorithm>
#include <limits>

#include "catalog/Dbfieldvalues.h"
#include "catalog/Dbschema.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4tag.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4.h"
#include "engine/storage/field4value.h"

TIDHandler::TIDHandler(CODE4& code, std::string path)
    : TDBDataHandler(code, std::move(path), kIdTableName) {}

bool TIDHandler::CreateTable() { return CreateDBTable(kIdFields, kIdTags); }

std::span<const TDBTagDef> TIDHandler::DeclaredTags() const { return kIdTags; }

bool TIDHandler::Open() {
  if (!TDBDataHandler::Open()) return false;
  const bool bound = BindFields(kIdFields);
  nameTag_ = data4tag(Handle(), MakeTagName(kIdNameTag).c_str());
  if (nameTag_ != nullptr) data4tagSelect(Handle(), nameTag_);
  return bound && nameTag_ != nullptr;
}

bool TIDHandler::Close() {
  nameTag_ = nullptr;
  drawnRow_ = -1;
  return TDBDataHandler::Close();
}

TIDHandler::Seek TIDHandler::seekCounter(const std::string& tableName) {
  DATA4* d = Handle();
  if (d == nullptr || nameTag_ == nullptr || !FieldsBound()) return Seek::kFailed;
  data4tagSelect(d, nameTag_);
  std::string key = tableName.substr(0, field4len(BoundField(dbid::kTblName)));
  key.resize(field4len(BoundField(dbid::kTblName)), ' ');
  switch (data4seekN(d, key.data(), static_cast<int16_t>(key.size()))) {
    case r4success:
      return Seek::kFound;
    case r4after:
    case r4eof:
      return Seek::kAbsent;
    default:
      return Seek::kFailed;
  }
}

bool TIDHandler::appendCounter(const std::string& tableName, int32_t value) {
  DATA4* d = Handle();
  if (data4appendStart(d, 0) != 0) return false;
  data4blank(d);
  catalog::assignText(BoundField(dbid::kTblName), tableName);
  field4assignLong(BoundField(dbid::kIdInc), value);
  return data4append(d) == 0;
}

int32_t TIDHandler::drawFromCurrent(const std::string& tableName) {
  FIELD4* counter = BoundField(dbid::kIdInc);
  const int64_t last = std::max<int64_t>(catalog::fieldInt64(counter), 0);
  if (last >= std::numeric_limits<int32_t>::max()) return -1;
  const auto next = static_cast<int32_t>(last + 1);
  if (field4assignLong(counter, next) != 0) return -1;
  if (drawnTable_ != tableName) drawnTable_ = tableName;
  drawnRow_ = data4recNo(Handle());
  return next;
}

int32_t TIDHandler::NextId(const std::string& tableName) {
  if (Handle() != nullptr && drawnRow_ > 0 && data4recNo(Handle()) == drawnRow_ &&
      tableName == drawnTable_)
    return drawFromCurrent(tableName);
  drawnRow_ = -1;
  switch (seekCounter(tableName)) {
    case Seek::kFound:
      return drawFromCurrent(tableName);
    case Seek::kAbsent:
      return appendCounter(tableName, 1) ? 1 : -1;
    case Seek::kFailed:
      break;
  }
  return -1;
}

int32_t TIDHandler::LastId(const std::string& tableName) {
  drawnRow_ = -1;
  switch (seekCounter(tableName)) {
    case Seek::kFound: {
      const int64_t last = catalog::fieldInt64(BoundField(dbid::kIdInc));
      return last < 0 || last > std::numeric_limits<int32_t>::max() ? -1
                                                                    : static_cast<int32_t>(last);
    }
    case Seek::kAbsent:
      return 0;
    case Seek::kFailed:
      break;
  }
  return -1;
}

bool TIDHandler::RaiseCounter(const std::string& tableName, int32_t lastIdInUse) {
  drawnRow_ = -1;
  switch (seekCounter(tableName)) {
    case Seek::kFound: {
      FIELD4* counter = BoundField(dbid::kIdInc);
      if (catalog::fieldInt64(counter) >= lastIdInUse) return true;
      return field4assignLong(counter, lastIdInUse) == 0 && data4flush(Handle()) == 0;
    }
    case Seek::kAbsent:
      // No row yet: NextId starts at 1, which is right while no id is used.
      if (lastIdInUse <= 0) return true;
      return appendCounter(tableName, lastIdInUse) && data4flush(Handle()) == 0;
    case Seek::kFailed:
      break;
  }
  return false;
}
