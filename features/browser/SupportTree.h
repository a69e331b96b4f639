// The directory tree of one support, built once from its rows: a root
// named "\" holding the top of the medium, and one node per directory or
// ".zip" row, named as the row's F_NAME.
//
// Rows come in the order they were stored, which is the breadth-first
// order of the walk, so a directory's row comes before the rows inside it
// and each node lands under its parent. Rows out of that order follow
// fixed rules (AddRow). Node names compare exactly, letter case included;
// each node finds its children by name without scanning them.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class SupportTreeNode {
 public:
  SupportTreeNode(std::string name, SupportTreeNode* parent)
      : name_(std::move(name)), parent_(parent) {}
  SupportTreeNode(const SupportTreeNode&) = delete;
  SupportTreeNode& operator=(const SupportTreeNode&) = delete;

  const std::string& Name() const { return name_; }
  // Null for the root.
  SupportTreeNode* Parent() const { return parent_; }
  // In the order they were added.
  const std::vector<std::unique_ptr<SupportTreeNode>>& Children() const { return children_; }
  // The first child of that name; null when none.
  SupportTreeNode* Child(std::string_view name) const;

  SupportTreeNode* AddChild(std::string name);
  void RemoveChildren() {
    firstByName_.clear();
    children_.clear();
  }

 private:
  std::string name_;
  SupportTreeNode* parent_;
  std::vector<std::unique_ptr<SupportTreeNode>> children_;
  std::unordered_map<std::string, SupportTreeNode*> firstByName_;
};

class SupportTree {
 public:
  static constexpr char kRootName[] = "\\";

  SupportTree() : root_(kRootName, nullptr) {}

  SupportTreeNode& Root() { return root_; }
  const SupportTreeNode& Root() const { return root_; }

  // Adds the node of a directory or ".zip" row with that F_PATH and F_NAME
  // and returns it. The path's parts (SplitToList at '\', empty parts
  // dropped) lead from the root:
  // - no parts: a node `name` under the root;
  // - every part found: a node `name` under the last one;
  // - the first part not found: a node named after the first part under
  //   the root;
  // - some parts found: a node named after the last part under the deepest
  //   one found.
  SupportTreeNode* AddRow(std::string_view path, std::string_view name);
  // Back to the root alone.
  void Clear() { root_.RemoveChildren(); }

  // Walks from the root's children along `parts`: the node of the last part
  // when every part is found (the root itself for no parts), else null.
  // `deepest` receives the deepest node found (null when none; the root for
  // no parts).
  SupportTreeNode* FindNode(const std::vector<std::string>& parts,
                            SupportTreeNode** deepest = nullptr) const;

  // The directory a node stands for: "\" for the root, else each ancestor
  // below the root and the node itself after a '\' ("\sub\deeper").
  static std::string NodePath(const SupportTreeNode& node);

 private:
  SupportTreeNode root_;
};
