// Splitting stored paths, and the tree a support's rows build, in the
// stored order and out of it.
#include "features/browser/SupportTree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "features/browser/PathSplit.h"

namespace {

using Parts = std::vector<std::string>;

TEST(PathSplitTest, FieldsWithAndWithoutTheEmptyOnes) {
  Parts parts{"stale"};
  EXPECT_EQ(SplitToList("\\sub\\deeper\\", "\\", parts, false), 2);
  EXPECT_EQ(parts, (Parts{"sub", "deeper"}));
  EXPECT_EQ(SplitToList("\\sub\\deeper\\", "\\", parts, true), 3);
  EXPECT_EQ(parts, (Parts{"", "sub", "deeper"}));
  EXPECT_EQ(SplitToList("a\\\\b", "\\", parts, true), 3);
  EXPECT_EQ(parts, (Parts{"a", "", "b"}));
  EXPECT_EQ(SplitToList("a;b,,c", ";,", parts, false), 3);
  EXPECT_EQ(SplitToList("\\\\", "\\", parts, false), 0);
  EXPECT_EQ(SplitToList("", "\\", parts, true), 0);

  std::string left = "x", right;
  EXPECT_TRUE(SplitAt("key=value=more", "=", left, right));
  EXPECT_EQ(left + "|" + right, "key|value=more");
  EXPECT_FALSE(SplitAt("plain", "=", left, right));
  EXPECT_EQ(left + "|" + right, "|plain");
}

// The tree as text: each node's path, depth first.
void describe(const SupportTreeNode& node, Parts& out) {
  for (const auto& child : node.Children()) {
    out.push_back(SupportTree::NodePath(*child));
    describe(*child, out);
  }
}

TEST(SupportTreeTest, RowsInStoredOrderNestAndOutOfOrderRowsFollowTheFixedRules) {
  SupportTree tree;
  tree.AddRow("\\", "sub");
  tree.AddRow("\\", "b.zip");
  tree.AddRow("\\sub\\", "deeper");
  tree.AddRow("\\sub\\", "Deeper");  // names keep their case
  tree.AddRow("\\sub\\deeper\\", "deepest");
  tree.AddRow("\\sub\\missing\\far\\", "lost");  // partial: "far" under sub
  tree.AddRow("\\nowhere\\x\\", "y");            // missing: "nowhere" at the top
  Parts paths;
  describe(tree.Root(), paths);
  EXPECT_EQ(paths, (Parts{"\\sub", "\\sub\\deeper", "\\sub\\deeper\\deepest", "\\sub\\Deeper",
                          "\\sub\\far", "\\b.zip", "\\nowhere"}));
  EXPECT_EQ(SupportTree::NodePath(tree.Root()), "\\");

  SupportTreeNode* deepest = nullptr;
  EXPECT_EQ(tree.FindNode({"sub", "deeper"}, &deepest)->Name(), "deeper");
  EXPECT_EQ(tree.FindNode({"sub", "DEEPER", "x"}, &deepest), nullptr);
  EXPECT_EQ(deepest->Name(), "sub");
  EXPECT_EQ(tree.FindNode({}, &deepest), &tree.Root());
}

}  // namespace
