#include "features/search/FileSearch.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "catalog/Owntablehandle.h"
#include "engine/index/expr4.h"
#include "engine/storage/convert4.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4scan.h"
#include "engine/storage/data4tag.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4value.h"
#include "features/search/MaskMatcher.h"

namespace {

// Visited records between two pauses of the search.
constexpr int32_t kPauseEvery = 50;

// A field of the current record: where its bytes stand in the handle's
// record buffer, which stays in place while the handle is open.
struct RecordField {
  explicit RecordField(const FIELD4* f)
      : field(f), bytes(field4ptr(f)), length(bytes == nullptr ? 0 : field4len(f)) {}

  // The bytes without the blanks and control characters at either end.
  // Text fields are padded with blanks to their width (250 for a name):
  // the padding is passed over eight bytes at a time.
  std::string_view trimmed() const {
    constexpr uint64_t kEightBlanks = 0x2020202020202020ULL;
    size_t end = length;
    for (uint64_t word = 0; end >= 8; end -= 8) {
      std::memcpy(&word, bytes + end - 8, 8);
      if (word != kEightBlanks) break;
    }
    std::string_view text(bytes, end);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) text.remove_suffix(1);
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) text.remove_prefix(1);
    return text;
  }

  // The integer the field's text begins with (the whole part of a number),
  // held at the 64-bit bounds.
  int64_t integer() const { return convert4textToInt64(bytes, static_cast<int32_t>(length)); }

  const FIELD4* field;
  const char* bytes;
  size_t length;
};

// One search over its own handle; lives for the duration of Run.
class SearchRun {
 public:
  SearchRun(const TOwnTableHandle& files, const SearchCriteria& criteria, SupportLookup& lookup,
            SearchObserver& observer)
      : d_(files.get()),
        name_(files.field("F_NAME")),
        date_(files.field("F_DATE")),
        size_(files.field("F_SIZE")),
        path_(files.field("F_PATH")),
        supportId_(files.field("F_SUPPID")),
        matcher_(criteria.mask),
        bounds_(criteria),
        prefix_(SeekPrefix(criteria.mask)),
        lookup_(lookup),
        observer_(observer) {
    // Without its tag the prefix cannot be sought; the whole table then is.
    if (!prefix_.empty() && !files.selectTag("F_NAME")) prefix_.clear();
    // The tag's keys are upper-cased as its table's UPPER does them.
    if (d_ != nullptr) upperAsKey(prefix_);
  }

  // Whether the table has every field the search reads.
  bool complete() const {
    return name_.bytes && date_.bytes && size_.bytes && path_.bytes && supportId_ != nullptr;
  }

  SearchOutcome run() {
    SearchOutcome outcome{SearchEnd::kExhausted, 0, 0};
    observer_.Started(data4recCount(d_));
    int rc = prefix_.empty() ? data4scanTop(&scan_, d_, kPauseEvery) : data4top(d_);
    if (!prefix_.empty() && rc == 0) rc = data4seek(d_, prefix_.c_str());
    for (;;) {
      if (outcome.hits >= observer_.HitLimit()) {
        outcome.end = SearchEnd::kLimit;
        break;
      }
      if (observer_.StopRequested()) {
        outcome.end = SearchEnd::kStopped;
        break;
      }
      if (rc != 0) {
        // A read the disk refused is no end of the records.
        if (rc < 0) outcome.end = SearchEnd::kUnreadable;
        break;
      }
      if (isHit()) addHit(++outcome.hits);
      rc = prefix_.empty() ? data4scanSkip(&scan_) : skipInPrefix();
      if (++outcome.visited % kPauseEvery == 0) {
        handOver();
        observer_.Pause(outcome.visited);
        // Other windows may have changed the table meanwhile.
        data4scanForget(&scan_);
      }
    }
    handOver();
    return outcome;
  }

 private:
  bool isHit() const {
    if (data4deleted(d_)) return false;
    if (!matcher_.Matches(name_.trimmed())) return false;
    // A number is read only for a bound that needs it; a date's whole day
    // is the integer part of its text.
    if (bounds_.HasDateBound() && !bounds_.AcceptsDay(date_.integer())) return false;
    return !bounds_.HasSizeBound() || bounds_.AcceptsSize(size_.integer());
  }

  void addHit(int32_t number) {
    SearchHit& hit = batch_.emplace_back();
    hit.number = number;
    hit.name = std::string(name_.trimmed());
    hit.path = std::string(path_.trimmed());
    hit.date = field4double(date_.field);
    hit.size = size_.integer();
    hit.supportId = field4long(supportId_);
    if (hit.supportId != cachedId_) {
      cachedId_ = hit.supportId;
      cachedFound_ = lookup_.Read(hit.supportId, cached_);
    }
    hit.supportFound = cachedFound_;
    if (cachedFound_) {
      hit.volume = cached_.volume;
      hit.volumeSerial = static_cast<uint32_t>(cached_.volumeSerial);
    }
  }

  // The next record in the file-name tag, while its key still begins with
  // the prefix: what a seek of the next occurrence gives, without placing
  // the tag anew at every record. 0, r4eof past the prefix, or negative.
  int skipInPrefix() {
    if (const int rc = data4skip(d_, 1); rc != 0) return rc;
    if (name_.length < prefix_.size()) return r4eof;
    head_.assign(name_.bytes, prefix_.size());
    upperAsKey(head_);
    return head_ == prefix_ ? 0 : r4eof;
  }

  void upperAsKey(std::string& text) const {
    expr4upperAsTable(d_, text.data(), static_cast<int32_t>(text.size()));
  }

  void handOver() {
    if (batch_.empty()) return;
    observer_.HitsFound(batch_);
    batch_.clear();
  }

  DATA4* d_;
  RecordField name_;
  RecordField date_;
  RecordField size_;
  RecordField path_;
  FIELD4* supportId_;
  MaskMatcher matcher_;
  SearchBounds bounds_;
  std::string prefix_;
  std::string head_;  // a name's first bytes, upper-cased as the prefix
  // Record order reads the records between two pauses at once.
  DATA4SCAN scan_;
  SupportLookup& lookup_;
  SearchObserver& observer_;
  std::vector<SearchHit> batch_;
  // The support of the latest hit.
  int32_t cachedId_ = -1;
  bool cachedFound_ = false;
  TSupportRecord cached_;
};

// Clears a flag when the scope ends, however it ends.
class RunningFlag {
 public:
  explicit RunningFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~RunningFlag() { flag_ = false; }
  RunningFlag(const RunningFlag&) = delete;
  RunningFlag& operator=(const RunningFlag&) = delete;

 private:
  bool& flag_;
};

}  // namespace

std::array<std::string, 8> SearchHitCells(const SearchHit& hit, std::string dateText) {
  std::array<std::string, 8> cells;
  cells[0] = std::to_string(hit.number);
  cells[1] = hit.name;
  cells[3] = std::move(dateText);
  cells[4] = std::to_string(hit.size);
  cells[5] = hit.path;
  if (hit.supportFound) {
    cells[2] = hit.volume;
    cells[6] = TDBWrapper::FormatVolumeSerial(hit.volumeSerial);
    char id[16];
    std::snprintf(id, sizeof id, "%05d", hit.supportId);
    cells[7] = id;
  }
  return cells;
}

bool WrapperSupportLookup::Read(int32_t supportId, TSupportRecord& support) {
  if (!db_.SeekSupport(supportId)) return false;
  // A deleted support is still in the id tag but reads as nothing.
  TSupportRecord read;
  db_.ReadCurrentSupport(read);
  if (read.id != supportId) return false;
  support = std::move(read);
  return true;
}

FileSearch::FileSearch(TDBWrapper& db) : db_(db), ownLookup_(db), lookup_(ownLookup_) {}

FileSearch::FileSearch(TDBWrapper& db, SupportLookup& lookup)
    : db_(db), ownLookup_(db), lookup_(lookup) {}

SearchOutcome FileSearch::Run(const SearchCriteria& criteria, SearchObserver& observer) {
  if (criteria.mask.empty()) return {SearchEnd::kEmptyMask, 0, 0};
  if (running_) return {SearchEnd::kBusy, 0, 0};
  RunningFlag running(running_);
  const TOwnTableHandle files(db_.Files());
  if (files.get() == nullptr) return {SearchEnd::kNoTable, 0, 0};
  SearchRun search(files, criteria, lookup_, observer);
  if (!search.complete()) return {SearchEnd::kNoTable, 0, 0};
  return search.run();
}
