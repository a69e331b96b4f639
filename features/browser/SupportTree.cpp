#include "features/browser/SupportTree.h"

#include "features/browser/PathSplit.h"

SupportTreeNode* SupportTreeNode::Child(std::string_view name) const {
  const auto found = firstByName_.find(std::string(name));
  return found == firstByName_.end() ? nullptr : found->second;
}

SupportTreeNode* SupportTreeNode::AddChild(std::string name) {
  children_.push_back(std::make_unique<SupportTreeNode>(std::move(name), this));
  SupportTreeNode* child = children_.back().get();
  firstByName_.emplace(child->Name(), child);
  return child;
}

SupportTreeNode* SupportTree::AddRow(std::string_view path, std::string_view name) {
  std::vector<std::string> parts;
  if (SplitToList(path, "\\", parts, false) == 0) return root_.AddChild(std::string(name));
  SupportTreeNode* deepest = nullptr;
  if (SupportTreeNode* whole = FindNode(parts, &deepest)) return whole->AddChild(std::string(name));
  if (deepest == nullptr) return root_.AddChild(parts.front());
  return deepest->AddChild(parts.back());
}

SupportTreeNode* SupportTree::FindNode(const std::vector<std::string>& parts,
                                       SupportTreeNode** deepest) const {
  auto* node = const_cast<SupportTreeNode*>(&root_);
  SupportTreeNode* found = parts.empty() ? node : nullptr;
  for (const std::string& part : parts) {
    node = node->Child(part);
    if (node == nullptr) break;
    found = node;
  }
  if (deepest != nullptr) *deepest = found;
  return node;
}

std::string SupportTree::NodePath(const SupportTreeNode& node) {
  if (node.Parent() == nullptr) return kRootName;
  std::vector<const std::string*> names;
  for (const SupportTreeNode* n = &node; n->Parent() != nullptr; n = n->Parent())
    names.push_back(&n->Name());
  std::string path;
  for (auto name = names.rbegin(); name != names.rend(); ++name) path += "\\" + **name;
  return path;
}
