// Two users of one log in two processes: their slots, the append lock that
// keeps their transactions apart, and the clean end only the last user
// to leave writes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4record.h"
#include "engine/storage/field4value.h"
#include "engine/storage/tran4.h"
#include "tests/engine/storage/log4decoded.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"

using namespace testing_support;

namespace {

constexpr int kWaitMillis = 20000;  // no step of a working engine comes near this

// Messages between the processes.
enum : uint32_t { kGo = 1, kStarted, kCommit, kCommitted, kLeave, kLeft };

const FIELD4INFO kFields[] = {{"ID", 'N', 6, 0, 0}, {nullptr, 0, 0, 0, 0}};

class LogUsersTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
    c.accessMode = 1;
    c.lockDelay = 1;  // 10 ms between attempts at a lock
    ASSERT_EQ(pipe(toParent), 0);
    ASSERT_EQ(pipe(toChild), 0);
  }
  void TearDown() override {
    if (child > 0) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
    for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]})
      if (fd >= 0) close(fd);
    EngineTest::TearDown();
  }

  // Runs `body` in a child process with a settings object of its own; the
  // child ends with the body's result as exit code.
  template <class Body>
  void startChild(Body&& body) {
    child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(toParent[0]);
      close(toChild[1]);
      CODE4 own;
      int rc = code4initLow(&own, nullptr, 6502, 1611, 1) == 0 ? 0 : 90;
      own.accessMode = 1;
      own.lockDelay = 1;
      if (rc == 0) rc = body(own);
      if (code4initUndo(&own) != 0 && rc == 0) rc = 91;
      _exit(rc);
    }
    close(toParent[1]);
    close(toChild[0]);
    toParent[1] = toChild[0] = -1;
  }

  static bool send(int fd, uint32_t message) {
    return write(fd, &message, sizeof message) == sizeof message;
  }
  // The next message, waiting up to kWaitMillis; 0 when none came.
  static uint32_t receive(int fd) {
    pollfd p{fd, POLLIN, 0};
    uint32_t message = 0;
    if (poll(&p, 1, kWaitMillis) <= 0 || (p.revents & POLLIN) == 0) return 0;
    return read(fd, &message, sizeof message) == sizeof message ? message : 0;
  }
  // In the child: waits for `message` from the parent.
  bool await(uint32_t message) const { return receive(toChild[0]) == message; }
  bool tellParent(uint32_t message) const { return send(toParent[1], message); }
  bool tellChild(uint32_t message) const { return send(toChild[1], message); }
  uint32_t fromChild() const { return receive(toParent[0]); }

  // The child's exit code once it closed its end of the pipe (it ends
  // then), or -1 when it did not within the bound.
  int childExit() {
    pollfd p{toParent[0], POLLIN, 0};
    for (;;) {
      if (poll(&p, 1, kWaitMillis) <= 0) return -1;
      uint32_t ignored = 0;
      if (read(toParent[0], &ignored, sizeof ignored) <= 0) break;
    }
    int status = 0;
    waitpid(child, &status, 0);
    child = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Indexes of the entries of `kind` written from `slot`.
  static std::vector<size_t> find(const DecodedLog& log, const std::string& kind, int slot) {
    std::vector<size_t> at;
    for (size_t i = 0; i < log.entries.size(); i++)
      if (log.entries[i].at("kind") == kind && log.number(i, "slot") == slot) at.push_back(i);
    return at;
  }

  int toParent[2] = {-1, -1};
  int toChild[2] = {-1, -1};
  pid_t child = -1;
};

// The second user takes slot 2. A user leaving while the other stays
// writes no clean end, and meanwhile a user rejoining finds the log
// accepted as it stands; the last to leave ends it clean for the next.
TEST_F(LogUsersTest, OnlyTheLastUserToLeaveEndsTheLogClean) {
  writeDiskFile("C4.log", minimalLog());
  startChild([this](CODE4& own) {
    if (!await(kGo)) return 10;
    if (code4logOpen(&own, "C4.log", "CHILD") != 0 || !own.transaction.enabled) return 11;
    if (!tellParent(static_cast<uint32_t>(own.transaction.log.userSlot))) return 12;
    if (!await(kLeave)) return 13;
    code4logClose(&own);
    return tellParent(kLeft) ? 0 : 14;
  });
  ASSERT_EQ(code4logOpen(&c, "C4.log", "PARENT"), 0);
  ASSERT_EQ(c.transaction.log.userSlot, 1);
  ASSERT_TRUE(tellChild(kGo));
  ASSERT_EQ(fromChild(), 2u);

  code4logClose(&c);
  DecodedLog log = decodeLog("C4.log");
  ASSERT_EQ(log.status, 0) << log.output;
  std::vector<std::string> kinds = {"clean-end", "clean-end", "user-open", "user-open",
                                    "user-close"};
  ASSERT_EQ(log.kinds(), kinds) << log.output;
  EXPECT_EQ(log.entries[2].at("userid"), "PARENT");
  EXPECT_EQ(log.number(2, "slot"), 1);
  EXPECT_EQ(log.entries[3].at("userid"), "CHILD");
  EXPECT_EQ(log.number(3, "slot"), 2);
  EXPECT_EQ(log.number(4, "slot"), 1);

  // The log does not end clean, but the child holds it: it is taken as it is.
  ASSERT_EQ(code4logOpen(&c, "C4.log", "AGAIN"), 0);
  ASSERT_TRUE(c.transaction.enabled);
  EXPECT_EQ(c.transaction.log.userSlot, 1);
  code4logClose(&c);

  ASSERT_TRUE(tellChild(kLeave));
  ASSERT_EQ(fromChild(), kLeft);
  ASSERT_EQ(childExit(), 0);
  log = decodeLog("C4.log");
  ASSERT_EQ(log.status, 0) << log.output;
  kinds.insert(kinds.end(), {"user-open", "user-close", "user-close", "clean-end"});
  ASSERT_EQ(log.kinds(), kinds) << log.output;
  EXPECT_EQ(log.number(7, "slot"), 2);

  // Clean again: a fresh first user opens it and takes slot 1.
  ASSERT_EQ(code4logOpen(&c, "C4.log", nullptr), 0);
  ASSERT_TRUE(c.transaction.enabled);
  EXPECT_EQ(c.transaction.log.userSlot, 1);
  code4logClose(&c);
  EXPECT_EQ(decodeLog("C4.log").kinds().back(), "clean-end");
  EXPECT_TRUE(recorder.errors().empty());
}

// While the child's transaction is open, the parent's start waits on the
// append lock; it goes on once the child has committed, and the log holds
// the two transactions one after the other, never interleaved.
TEST_F(LogUsersTest, ThreadsOfTwoUsersTakeTurnsAtTheAppendLock) {
  // The tables exist before the log does: making them logs nothing.
  for (const char* name : {"parent", "child"}) {
    DATA4* d = data4create(&c, name, kFields, nullptr);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(data4close(d), 0);
  }
  ASSERT_FALSE(c.transaction.enabled);
  writeDiskFile("C4.log", minimalLog());
  const auto append = [](DATA4* d, int id) {
    data4appendStart(d, 0);
    field4assignLong(data4field(d, "ID"), id);
    return data4append(d);
  };
  startChild([&](CODE4& own) {
    if (!await(kGo)) return 10;
    DATA4* d = data4open(&own, "child");
    if (d == nullptr || own.transaction.log.userSlot != 2) return 11;
    if (code4transactionStart(&own) != 0 || append(d, 20) != 0) return 12;
    if (!tellParent(kStarted) || !await(kCommit)) return 13;
    if (code4transactionCommit(&own) != 0 || !tellParent(kCommitted)) return 14;
    if (!await(kLeave)) return 15;
    if (data4close(d) != 0) return 16;
    code4logClose(&own);
    return tellParent(kLeft) ? 0 : 17;
  });
  DATA4* d = data4open(&c, "parent");
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(c.transaction.log.userSlot, 1);
  ASSERT_TRUE(tellChild(kGo));
  ASSERT_EQ(fromChild(), kStarted);

  // The engine is driven from one thread at a time: this one only waits.
  std::atomic<bool> started{false};
  auto start = std::async(std::launch::async, [&] {
    const int32_t rc = code4transactionStart(&c);
    started = true;
    return rc;
  });
  EXPECT_EQ(start.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  EXPECT_FALSE(started);
  ASSERT_TRUE(tellChild(kCommit));
  ASSERT_EQ(fromChild(), kCommitted);
  ASSERT_EQ(start.wait_for(std::chrono::milliseconds(kWaitMillis)), std::future_status::ready);
  ASSERT_EQ(start.get(), 0);
  ASSERT_EQ(append(d, 10), 0);
  ASSERT_EQ(code4transactionCommit(&c), 0);

  // The child leaves first; the parent, last, ends the log clean.
  ASSERT_TRUE(tellChild(kLeave));
  ASSERT_EQ(fromChild(), kLeft);
  ASSERT_EQ(childExit(), 0);
  const DecodedLog between = decodeLog("C4.log");
  ASSERT_EQ(between.status, 0) << between.output;
  EXPECT_NE(between.kinds().back(), "clean-end") << between.output;
  ASSERT_EQ(data4close(d), 0);
  code4logClose(&c);
  EXPECT_TRUE(recorder.errors().empty());

  const DecodedLog log = decodeLog("C4.log");
  ASSERT_EQ(log.status, 0) << log.output;
  // Each transaction's entries lie together, the child's first.
  const std::vector<std::string> transaction = {"start", "append", "commit-one", "commit-two"};
  size_t childStart = 0;
  size_t parentStart = 0;
  for (int slot : {2, 1}) {
    const std::vector<size_t> starts = find(log, "start", slot);
    ASSERT_EQ(starts.size(), 1u) << log.output;
    const long long id = log.number(starts[0], "txn");
    EXPECT_EQ(id % 1000, slot);
    for (size_t k = 0; k < transaction.size(); k++) {
      const size_t i = starts[0] + k;
      ASSERT_LT(i, log.entries.size());
      EXPECT_EQ(log.entries[i].at("kind"), transaction[k]) << log.output;
      EXPECT_EQ(log.number(i, "slot"), slot) << log.output;
      EXPECT_EQ(log.number(i, "txn"), id) << log.output;
    }
    (slot == 2 ? childStart : parentStart) = starts[0];
  }
  EXPECT_LT(childStart, parentStart);
  EXPECT_EQ(log.number(childStart + 1, "record"), 1);
  EXPECT_EQ(log.number(parentStart + 1, "record"), 1);
  // The child's leaving wrote no clean end; only the last entry is one.
  const std::vector<std::string> kinds = log.kinds();
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "clean-end"), 3) << log.output;
  EXPECT_EQ(log.kinds().back(), "clean-end");
  const size_t childClose = find(log, "user-close", 2).at(0);
  EXPECT_EQ(log.entries[childClose + 1].at("kind"), "close") << log.output;
  ASSERT_EQ(code4logOpen(&c, "C4.log", nullptr), 0);
  EXPECT_TRUE(c.transaction.enabled);
}

// With slots 1 to 999 held (by another open of the file standing in for
// their users), a user gets the last slot, 1000, whose ids are multiples
// of 1000, and its next session continues them past the last one logged
// rather than taking an entry outside any transaction (id 0) for its own.
// Slot 1000 is probed and taken like the others. Its ids are the multiples
// of 1000, which entries outside transactions (id 0) share: a new session
// may start again from 1000.
TEST_F(LogUsersTest, TheLastSlotIsTakenWhenEveryOtherIsHeld) {
  writeDiskFile("C4.log", minimalLog());
  const int others = open("C4.log", O_RDWR);
  ASSERT_GE(others, 0);
  for (int64_t slot = 1; slot < log4lockSlotCount; slot++) {
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = log4lockSlotBase + slot;
    range.l_len = 1;
    ASSERT_EQ(fcntl(others, F_OFD_SETLK, &range), 0) << slot;
  }
  for (int session = 0; session < 2; session++) {
    ASSERT_EQ(code4logOpen(&c, "C4.log", "LAST"), 0);
    ASSERT_EQ(c.transaction.log.userSlot, 1000);
    ASSERT_EQ(code4transactionStart(&c), 0);
    ASSERT_EQ(code4transactionCommit(&c), 0);
    code4logClose(&c);
  }
  close(others);
  EXPECT_TRUE(recorder.errors().empty());

  const DecodedLog log = decodeLog("C4.log");
  ASSERT_EQ(log.status, 0) << log.output;
  const std::vector<size_t> starts = find(log, "start", 1000);
  ASSERT_EQ(starts.size(), 2u) << log.output;
  for (size_t start : starts) {
    EXPECT_GT(log.number(start, "txn"), 0) << log.output;
    EXPECT_EQ(log.number(start, "txn") % 1000, 0) << log.output;
  }
}

}  // namespace
