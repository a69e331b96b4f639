#include <gtest/gtest.h>
#include <unistd.h>

#include "app/SingleInstanceMessage.h"
#include "app/SingleInstanceNames.h"
#include "tests/support/fake_os.h"

namespace {

using single_instance::CopyDataReader;
using State = CopyDataReader::State;

std::string lockWith(const char* runtimeFolder, const std::string& marker) {
  testing_support::FakeOs fake;
  fake.environmentVariables.emplace();
  if (runtimeFolder != nullptr) (*fake.environmentVariables)["XDG_RUNTIME_DIR"] = runtimeFolder;
  platform::ScopedOs scoped(fake);
  const SingleInstanceNames names = SingleInstanceNamesFor(marker);
  EXPECT_LE(names.socketPath.size(), kMaxSocketPath);
  EXPECT_EQ(names.socketPath, names.lockPath.substr(0, names.lockPath.size() - 5) + ".socket");
  return names.lockPath;
}

TEST(SingleInstanceNames, AreTheMarkersOwnPerUserAndWithinTheSocketLimit) {
  const std::string user = std::to_string(getuid());
  const struct {
    const char* runtimeFolder;
    std::string marker;
    std::string lock;
  } cases[] = {
      {"/run/user/7", "/opt/cat/vantrelodisk",
       "/run/user/7/instance-%2Fopt%2Fcat%2Fvantrelodisk.lock"},
      // A shared folder: the user's id keeps users apart.
      {nullptr, "/a/b", "/tmp/instance-" + user + "-%2Fa%2Fb.lock"},
      {"relative/run", "/a/b", "/tmp/instance-" + user + "-%2Fa%2Fb.lock"},
      // Markers that differ only in '/', '_' or '%' stay apart.
      {"/r", "/a_b", "/r/instance-%2Fa_b.lock"},
      {"/r", "/a%2Fb", "/r/instance-%2Fa%252Fb.lock"},
  };
  for (const auto& c : cases) EXPECT_EQ(lockWith(c.runtimeFolder, c.marker), c.lock) << c.marker;

  // Too long for a socket: a hash of the marker, the same at every start.
  const std::string longMarker = "/opt/" + std::string(150, 'x') + "/vantrelodisk";
  const std::string hashed = lockWith("/run/user/7", longMarker);
  EXPECT_EQ(hashed.rfind("/run/user/7/instance-", 0), 0u);
  EXPECT_EQ(hashed, lockWith("/run/user/7", longMarker));
  EXPECT_NE(hashed, lockWith("/run/user/7", longMarker + "2"));
}

TEST(SingleInstanceMessage, IsReadWhicheverWayItsBytesArriveAndRefusedWhenTooLong) {
  const std::string line("vantrelodisk -x\0", 16);
  const std::string whole = single_instance::EncodeCopyData(7, line);
  EXPECT_EQ(whole, std::string("\x07\0\0\0\x10\0\0\0", 8) + line);
  for (size_t piece : {whole.size(), size_t{1}, size_t{5}}) {
    CopyDataReader reader;
    const std::string bytes = whole + "bytes past the end";
    for (size_t at = 0; at < bytes.size(); at += piece) reader.Feed(bytes.substr(at, piece));
    ASSERT_EQ(reader.Current(), State::kComplete) << piece;
    EXPECT_EQ(reader.Message().dataWord, 7u);
    EXPECT_EQ(reader.Message().data, line);
  }
  EXPECT_EQ(CopyDataReader().Feed(single_instance::EncodeCopyData(0, "")), State::kComplete);
  CopyDataReader hostile;
  EXPECT_EQ(hostile.Feed(std::string("\0\0\0\0\xFF\xFF\xFF\x7F", 8)), State::kRefused);
  EXPECT_EQ(hostile.Feed("text"), State::kRefused);
}

}  // namespace
