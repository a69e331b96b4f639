#include "catalog/Dbfiledatahandler.h"

#include "catalog/Dbfieldvalues.h"
#include "catalog/Dbschema.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4tag.h"
#include "engine/storage/field4value.h"

using namespace dbfiles;

TFileDataHandler::TFileDataHandler(CODE4& code, std::string path, TIDHandler* ids)
    : TIdTableHandler(code, std::move(path), kFilesTableName, ids, kId, kFilesIdTag) {}

bool TFileDataHandler::CreateTable() { return CreateDBTable(kFilesFields, kFilesTags); }

std::span<const TDBTagDef> TFileDataHandler::DeclaredTags() const { return kFilesTags; }

bool TFileDataHandler::Open() { return TDBDataHandler::Open() && FinishOpen(kFilesFields); }

int32_t TFileDataHandler::AppendFile(int32_t& id, const std::string& name, const std::string& ext,
                                     const std::string& path, int32_t supportId,
                                     const std::string& comment, int32_t category,
                                     const std::string& crc, const std::string& md5, double date,
                                     int64_t size, int32_t attributes, const std::string& text) {
  if (const int32_t rc = BeginAppend(id); rc != 0) return rc;
  catalog::AssignResults results;
  catalog::assignText(BoundField(kName), name);
  catalog::assignText(BoundField(kExt), ext);
  catalog::assignText(BoundField(kPath), path);
  results.Keep(field4assignLong(BoundField(kSuppId), supportId));
  catalog::assignText(BoundField(kComment), comment);
  results.Keep(field4assignLong(BoundField(kCateg), category));
  catalog::assignText(BoundField(kCrc), crc);
  catalog::assignText(BoundField(kMd5), md5);
  results.Keep(field4assignDouble(BoundField(kDate), date));
  results.Keep(catalog::assignInt64(BoundField(kSize), size));
  results.Keep(field4assignLong(BoundField(kAttr), attributes));
  results.Keep(catalog::assignMemo(BoundField(kText), text));
  if (!results.AllFit()) {
    DiscardChanges();
    return -4;
  }
  return EndAppend();
}

int32_t TFileDataHandler::ReadCurrent(int32_t& id, std::string& name, std::string& ext,
                                      std::string& path, int32_t& supportId, std::string& comment,
                                      int32_t& category, std::string& crc, std::string& md5,
                                      double& date, int64_t& size, int32_t& attributes,
                                      std::string& text) {
  if (Handle() == nullptr || !FieldsBound()) return -1;
  id = field4long(BoundField(kId));
  name = catalog::fieldText(BoundField(kName));
  ext = catalog::fieldText(BoundField(kExt));
  path = catalog::fieldText(BoundField(kPath));
  supportId = field4long(BoundField(kSuppId));
  comment = catalog::fieldText(BoundField(kComment));
  category = field4long(BoundField(kCateg));
  crc = catalog::fieldText(BoundField(kCrc));
  md5 = catalog::fieldText(BoundField(kMd5));
  date = field4double(BoundField(kDate));
  size = catalog::fieldInt64(BoundField(kSize));
  attributes = field4long(BoundField(kAttr));
  return catalog::memoText(BoundField(kText), text) ? 0 : -1;
}

bool TFileDataHandler::SeekBySupport(int32_t supportId) {
  return FindBySupport(supportId) == TFound::kRecord;
}

int32_t TFileDataHandler::CurrentSupport() {
  return FieldsBound() ? field4long(BoundField(kSuppId)) : -1;
}

TFound TFileDataHandler::FindBySupport(int32_t supportId) {
  DATA4* d = Handle();
  if (d == nullptr) return TFound::kFailed;
  TAG4* tag = data4tag(d, MakeTagName(kFilesSupportTag).c_str());
  if (tag == nullptr) return TFound::kFailed;
  data4tagSelect(d, tag);
  return FoundOf(data4seekDouble(d, supportId));
}
