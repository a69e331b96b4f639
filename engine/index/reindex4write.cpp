// The bulk writer's file side: nodes appended through the sequential writer,
// the right pointers of branches set in place, the header blocks and the
// file length.
#include "engine/index/reindex4write.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/index/block4.h"
#include "engine/index/index4file.h"
#include "engine/storage/code4.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocNoMemory = 90198;
constexpr int32_t kLocFileTooLong = 90199;
constexpr int32_t kLocExpressions = 80196;
constexpr uint32_t kBufferMin = 1024;
constexpr int kRightPointer = 8;

}  // namespace

Reindex4Writer::Reindex4Writer(CODE4* c, const INDEX4FILE* geometry, FILE4* target,
                               Code4ReindexProgress* progress)
    : c_(c), geometry_(geometry), file_(target), progress_(progress) {}

Reindex4Writer::~Reindex4Writer() {
  // No half of the buffer may still be in the worker's hands when it goes.
  if (writing_) file4seqWriteFlush(&writer_);
}

int32_t Reindex4Writer::start(uint32_t firstBlock) {
  const uint32_t size =
      std::max<uint32_t>(static_cast<uint32_t>(std::max(c_->memSizeBuffer, 0)), kBufferMin);
  buffer_.reset(new (std::nothrow) char[size]);
  if (buffer_ == nullptr) return error4(c_, e4memory, kLocNoMemory);
  next_ = firstBlock;
  links_.clear();
  const int32_t rc = file4seqWriteInit(&writer_, file_, block4toOffset(geometry_, firstBlock),
                                       buffer_.get(), size);
  writing_ = rc == 0;
  return rc;
}

int32_t Reindex4Writer::emit(const unsigned char* node, uint32_t* block) {
  const uint32_t after = block4add(geometry_, next_, 1);
  if (after == block4none)
    return error4describe(c_, e4index, kLocFileTooLong, file_->name, nullptr, nullptr);
  *block = next_;
  next_ = after;
  return file4seqWrite(&writer_, node, geometry_->blockSize);
}

void Reindex4Writer::countKey() {
  if (progress_ != nullptr) code4reindexCount(*progress_);
}

int32_t Reindex4Writer::finishNodes() {
  int32_t rc = 0;
  if (writing_) {
    writing_ = false;
    rc = file4seqWriteFlush(&writer_);
  }
  buffer_.reset();
  if (rc < 0) return rc;
  // In block order, so the pointer writes move forward through the file.
  std::sort(links_.begin(), links_.end());
  for (const auto& [block, right] : links_) {
    unsigned char bytes[4];
    endian4::writeLe32(bytes, right);
    rc = file4write(file_, block4toOffset(geometry_, block) + kRightPointer, bytes, sizeof bytes);
    if (rc < 0) return rc;
  }
  links_.clear();
  return 0;
}

int32_t Reindex4Writer::writeHeaders(std::vector<Reindex4Header>& headers) {
  if (headers.empty()) return 0;
  uint64_t end = 0;
  for (const Reindex4Header& h : headers)
    end = std::max(end, block4toOffset(geometry_, h.block) + cdx4headerSize);
  std::vector<unsigned char> area(end, 0);
  for (Reindex4Header& h : headers) {
    unsigned char* block = area.data() + block4toOffset(geometry_, h.block);
    const char* filter = h.filter.empty() ? nullptr : h.filter.c_str();
    const char* keyExpr = h.keyExpr.empty() ? nullptr : h.keyExpr.c_str();
    if (!cdx4headerEncode(&h.header, keyExpr, filter, block))
      return error4describe(c_, e4tagInfo, kLocExpressions, file_->name, keyExpr, filter);
  }
  // The headers name the nodes as roots: the nodes are on the disk first,
  // so that a power cut never leaves headers that point at nodes it lost.
  int32_t rc = file4lenSetLow(file_, block4toOffset(geometry_, next_));
  if (rc == 0) rc = file4flush(file_);
  if (rc == 0) rc = file4write(file_, 0, area.data(), static_cast<uint32_t>(area.size()));
  if (rc == 0) rc = file4flush(file_);
  return rc;
}
