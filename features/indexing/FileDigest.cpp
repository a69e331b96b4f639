#include "features/indexing/FileDigest.h"

#include <fcntl.h>

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <crypto++/filters.h>
#include <crypto++/hex.h>
#include <crypto++/md5.h>

#include <vector>

#include "platform/descriptor.h"
#include "platform/os.h"

namespace {

constexpr size_t kChunk = 1 << 16;

}  // namespace

std::string GetFileMD5(const std::string& fileName) {
  // Opening a FIFO without O_NONBLOCK would wait for a writer.
  const platform::Descriptor file(
      platform::os().openFile(fileName.c_str(), O_RDONLY | O_NONBLOCK, 0));
  if (!file.valid()) return {};
  platform::EntryStatus status;
  if (platform::os().entryStatusAt(file.get(), "", status) != 0 ||
      status.kind != platform::EntryStatus::Kind::kFile)
    return {};
  std::string digest;
  try {
    CryptoPP::Weak::MD5 md5;
    CryptoPP::HashFilter filter(
        md5, new CryptoPP::HexEncoder(new CryptoPP::StringSink(digest), /*uppercase=*/false));
    std::vector<CryptoPP::byte> buffer(kChunk);
    uint64_t offset = 0;
    for (;;) {
      const int64_t got = platform::os().readAt(file.get(), buffer.data(), buffer.size(), offset);
      if (got < 0) return {};
      if (got == 0) break;
      filter.Put(buffer.data(), static_cast<size_t>(got));
      offset += static_cast<uint64_t>(got);
    }
    filter.MessageEnd();
  } catch (const CryptoPP::Exception&) {
    return {};
  }
  return digest;
}
