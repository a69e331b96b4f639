#include "engine/storage/list4.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/storage/error4.h"
#include "tests/support/error_recorder.h"

using testing_support::ErrorRecorder;

namespace {

struct Item {
  LINK4 link;
  int value;
};

std::vector<int> valuesOf(const LIST4& list) {
  std::vector<int> values;
  for (auto* item = list4firstAs<Item>(&list); item != nullptr; item = list4nextAs(&list, item))
    values.push_back(item->value);
  return values;
}

std::vector<int> valuesBackwards(const LIST4& list) {
  std::vector<int> values;
  for (LINK4* link = list4last(&list); link != nullptr; link = list4prev(&list, link))
    values.push_back(reinterpret_cast<Item*>(link)->value);
  return values;
}

class ListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 5; i++) items[i].value = i;
  }
  LIST4 list;
  Item items[5];
};

TEST_F(ListTest, InsertionsKeepTheRingInOrderBothWays) {
  list4add(&list, &items[1].link);
  list4add(&list, &items[3].link);
  list4addAfter(&list, &items[1].link, &items[2].link);
  list4addBefore(&list, &items[1].link, &items[0].link);  // new first
  list4addAfter(&list, &items[3].link, &items[4].link);   // new last
  EXPECT_EQ(valuesOf(list), (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(valuesBackwards(list), (std::vector<int>{4, 3, 2, 1, 0}));
  EXPECT_EQ(list.nLink, 5u);
  EXPECT_EQ(list4last(&list), &items[4].link);
  EXPECT_EQ(list4check(&list), 0);
}

TEST_F(ListTest, AddBeforeTheFirstLinkLeavesTheLastInPlace) {
  list4add(&list, &items[1].link);
  list4add(&list, &items[2].link);
  list4addBefore(&list, list4first(&list), &items[0].link);
  EXPECT_EQ(list4first(&list), &items[0].link);
  EXPECT_EQ(list4last(&list), &items[2].link);
}

TEST_F(ListTest, RemovingMovesTheSelectionBack) {
  for (auto& item : items) list4add(&list, &item.link);
  list.selected = &items[2].link;
  EXPECT_EQ(list4remove(&list, &items[2].link), &items[2].link);
  EXPECT_EQ(list.selected, &items[1].link);
  EXPECT_EQ(list4remove(&list, &items[4].link), &items[4].link);  // the last
  EXPECT_EQ(list4last(&list), &items[3].link);
  EXPECT_EQ(list4pop(&list), &items[3].link);
  EXPECT_EQ(valuesOf(list), (std::vector<int>{0, 1}));
  EXPECT_EQ(items[2].link.next, nullptr);

  LIST4 single;
  list4add(&single, &items[2].link);
  single.selected = &items[2].link;
  list4remove(&single, &items[2].link);
  EXPECT_EQ(single.selected, nullptr);
  EXPECT_EQ(list4first(&single), nullptr);
  EXPECT_EQ(single.nLink, 0u);
}

TEST_F(ListTest, AddingALinkTwiceFailsAndChangesNothing) {
  ErrorRecorder recorder;
  list4add(&list, &items[0].link);
  list4add(&list, &items[1].link);
  EXPECT_EQ(list4add(&list, &items[0].link), e4info);
  EXPECT_EQ(list4addBefore(&list, &items[1].link, &items[1].link), e4info);

  LIST4 other;
  EXPECT_EQ(list4add(&other, &items[1].link), e4info);  // held by another list
  EXPECT_EQ(other.nLink, 0u);
  EXPECT_EQ(valuesOf(list), (std::vector<int>{0, 1}));
  EXPECT_EQ(list4check(&list), 0);
  EXPECT_EQ(recorder.errors().size(), 3u);
}

TEST_F(ListTest, ForeignLinksAndNullArgumentsAreRefused) {
  ErrorRecorder recorder;
  list4add(&list, &items[0].link);
  EXPECT_EQ(list4next(&list, &items[3].link), nullptr);
  EXPECT_EQ(list4remove(&list, &items[3].link), nullptr);
  EXPECT_EQ(list4addAfter(&list, &items[3].link, &items[4].link), e4info);
  EXPECT_EQ(list4add(nullptr, &items[1].link), e4parmNull);
  EXPECT_EQ(list4first(nullptr), nullptr);
  auto errors = recorder.errors();
  ASSERT_EQ(errors.size(), 5u);
  EXPECT_EQ(errors[0].code, e4parmNull);
  EXPECT_EQ(errors[0].location, 80229);
  EXPECT_EQ(list.nLink, 1u);
}

TEST_F(ListTest, TheCheckFindsABrokenRing) {
  ErrorRecorder recorder;
  for (auto& item : items) list4add(&list, &item.link);
  list.nLink = 4;  // the ring is longer than the count says
  EXPECT_EQ(list4check(&list), e4info);
  list.nLink = 6;
  EXPECT_EQ(list4check(&list), e4info);
  list.nLink = 5;
  items[2].link.prev = &items[0].link;
  EXPECT_EQ(list4check(&list), e4info);
  ASSERT_FALSE(recorder.errors().empty());
  EXPECT_EQ(recorder.errors()[0].location, 80228);
}

}  // namespace
