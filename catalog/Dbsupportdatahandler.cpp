#include "catalog/Dbsupportdatahandler.h"

#include "catalog/Dbfieldvalues.h"
#include "catalog/Dbschema.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4tag.h"
#include "engine/storage/field4value.h"
#include "engine/storage/memo4field.h"

using namespace dbsupport;

TSupportDataHandler::TSupportDataHandler(CODE4& code, std::string path, TIDHandler* ids)
    : TIdTableHandler(code, std::move(path), kSupportTableName, ids, kId, kSupportIdTag) {}

bool TSupportDataHandler::CreateTable() { return CreateDBTable(kSupportFields, kSupportTags); }

std::span<const TDBTagDef> TSupportDataHandler::DeclaredTags() const { return kSupportTags; }

bool TSupportDataHandler::Open() {
  if (!TDBDataHandler::Open()) return false;
  const bool complete = FinishOpen(kSupportFields);
  if (IdTag() != nullptr) data4tagSelect(Handle(), IdTag());
  return complete;
}

int32_t TSupportDataHandler::AppendSupport(int32_t& id, const std::string& type, int64_t size,
                                           const std::string& volume, int32_t volumeSerial,
                                           int32_t fileCount, const std::string& userId,
                                           double dateRecorded, const std::string& text) {
  if (const int32_t rc = BeginAppend(id); rc != 0) return rc;
  catalog::AssignResults results;
  catalog::assignText(BoundField(kType), type);
  results.Keep(catalog::assignInt64(BoundField(kSize), size));
  catalog::assignText(BoundField(kVol), volume);
  results.Keep(field4assignLong(BoundField(kVolId), volumeSerial));
  results.Keep(field4assignLong(BoundField(kFCount), fileCount));
  catalog::assignText(BoundField(kUsrId), userId);
  results.Keep(field4assignDouble(BoundField(kDateRec), dateRecorded));
  results.Keep(catalog::assignMemo(BoundField(kText), text));
  if (!results.AllFit()) {
    DiscardChanges();
    return -4;
  }
  return EndAppend();
}

int32_t TSupportDataHandler::ReadCurrent(int32_t& id, std::string& type, int64_t& size,
                                         std::string& volume, int32_t& volumeSerial,
                                         int32_t& fileCount, std::string& userId,
                                         double& dateRecorded, std::string& text) {
  if (Handle() == nullptr || !FieldsBound() || IsDeleted()) return -1;
  id = field4long(BoundField(kId));
  type = catalog::fieldText(BoundField(kType));
  size = catalog::fieldInt64(BoundField(kSize));
  volume = catalog::fieldText(BoundField(kVol));
  volumeSerial = field4long(BoundField(kVolId));
  fileCount = field4long(BoundField(kFCount));
  userId = catalog::fieldText(BoundField(kUsrId));
  dateRecorded = field4double(BoundField(kDateRec));
  return catalog::memoText(BoundField(kText), text) ? 0 : -1;
}

bool TSupportDataHandler::SeekById(int32_t id) { return FindById(id) == TFound::kRecord; }

TFound TSupportDataHandler::FindById(int32_t id) {
  DATA4* d = Handle();
  if (d == nullptr || IdTag() == nullptr) return TFound::kFailed;
  data4tagSelect(d, IdTag());
  const TFound found = FoundOf(data4seekDouble(d, id));
  // A deleted support keeps its key in the tag until the catalogue is
  // emptied; found, it would be deleted or edited once more.
  return found == TFound::kRecord && IsDeleted() ? TFound::kNone : found;
}

bool TSupportDataHandler::UpdateSizeAndCount(int32_t id, int64_t size, int32_t fileCount) {
  if (!FieldsBound() || !SeekById(id)) return false;
  catalog::AssignResults results;
  results.Keep(catalog::assignInt64(BoundField(kSize), size));
  results.Keep(field4assignLong(BoundField(kFCount), fileCount));
  if (!results.AllFit()) {
    DiscardChanges();
    return false;
  }
  return data4update(Handle()) == 0;
}

bool TSupportDataHandler::StoreLongComment(const std::string& text, int64_t& block) {
  return FieldsBound() && field4memoStore(BoundField(kText), text.data(),
                                          static_cast<uint32_t>(text.size()), &block) == 0;
}

bool TSupportDataHandler::IsSupportAt(int32_t record, int32_t id) {
  return FieldsBound() && GoTo(record) && !IsDeleted() && field4long(BoundField(kId)) == id;
}

bool TSupportDataHandler::HoldsComments(const std::string& shortComment, int64_t block) {
  FIELD4* text = BoundField(kText);
  return catalog::fieldText(BoundField(kUsrId)) ==
             catalog::trimmed(shortComment.substr(0, field4len(BoundField(kUsrId)))) &&
         memo4blockOf(text, Handle()->record) == block;
}

bool TSupportDataHandler::SetComments(int32_t record, int32_t id, const std::string& shortComment,
                                      int64_t block) {
  if (!IsSupportAt(record, id)) return false;
  catalog::assignText(BoundField(kUsrId), shortComment);
  if (field4memoSetBlock(BoundField(kText), block) != 0) {
    DiscardChanges();
    return false;
  }
  return data4flush(Handle()) == 0;
}
