// A fixture for sort tests: the engine with its temporary folder pointed at
// a folder of the test's own, so that the sort's work file can be watched,
// and helpers that feed a sort and drain it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engine/index/sort4.h"
#include "engine/storage/error4.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fake_os.h"

namespace sort_testing {

struct Entry {
  std::string key;
  uint32_t record;
  std::string extra;
  bool operator==(const Entry&) const = default;
};

// The order the sort promises: key bytes unsigned, then record number.
inline std::vector<Entry> modelSorted(std::vector<Entry> entries) {
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    const int byKey = std::memcmp(a.key.data(), b.key.data(), a.key.size());
    return byKey != 0 ? byKey < 0 : a.record < b.record;
  });
  return entries;
}

// n entries with keys from a small set (many ties), bytes above 0x7F
// among them, distinct shuffled record numbers, and extra bytes made from
// the record so that they can be checked against it.
inline std::vector<Entry> randomEntries(size_t n, size_t keyLength, size_t extraLength,
                                        unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint32_t> records(n);
  for (size_t i = 0; i < n; i++) records[i] = static_cast<uint32_t>(i + 1);
  std::shuffle(records.begin(), records.end(), random);
  const char alphabet[] = {'A', 'B', ' ', '\x01', '\xE9', '\xFF'};
  std::vector<Entry> entries;
  for (uint32_t record : records) {
    std::string key(keyLength, ' ');
    for (size_t i = 0; i < std::min<size_t>(keyLength, 3); i++)
      key[i] = alphabet[random() % sizeof alphabet];
    std::string extra(extraLength, '\0');
    for (size_t i = 0; i < extraLength; i++) extra[i] = static_cast<char>(record >> (8 * (i % 4)));
    entries.push_back({key, record, extra});
  }
  return entries;
}

class SortTest : public testing_support::EngineTest {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(workFolder);
    fake.environmentVariables = std::map<std::string, std::string>{{"TMPDIR", workFolder.string()}};
    EngineTest::SetUp();
  }

  // Puts every entry: the first failure, or 0.
  int32_t putAll(SORT4& s, const std::vector<Entry>& entries) {
    for (const Entry& e : entries) {
      const int32_t rc = sort4put(&s, static_cast<int32_t>(e.record), e.key.data(),
                                  e.extra.empty() ? nullptr : e.extra.data());
      if (rc != 0) return rc;
    }
    return 0;
  }

  // Gets entries until 210 (or a failure, returned in `rc`).
  std::vector<Entry> drain(SORT4& s, int32_t* rc = nullptr) {
    std::vector<Entry> out;
    const size_t keyLength = s.keyLength;
    const size_t extraLength = s.extraLength;
    for (;;) {
      int32_t record = -1;
      const char* key = nullptr;
      const char* extra = nullptr;
      const int32_t got = sort4get(&s, &record, &key, &extra);
      if (got != 0) {
        if (rc != nullptr) *rc = got;
        EXPECT_TRUE(rc != nullptr || got == r4done) << got;
        return out;
      }
      out.push_back({std::string(key, keyLength), static_cast<uint32_t>(record),
                     std::string(extra, extraLength)});
    }
  }

  // Names in the temporary folder: the sort's work file while there is one.
  std::vector<std::string> workFiles() const {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(workFolder))
      names.push_back(item.path().filename().string());
    return names;
  }

  std::tuple<int32_t, int32_t> lastRaised() {
    const auto error = lastError();
    return {error.code, error.location};
  }

  std::filesystem::path workFolder = std::filesystem::current_path() / "tmp";
  testing_support::FakeOs fake;
  platform::ScopedOs scoped{fake};
};

}  // namespace sort_testing
