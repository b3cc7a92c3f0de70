// The category layer's cache of one catalog, registered on its node: the map of categories
// in memory, by id. For now it holds what an open node needs, the in-memory root; the tree
// load fills it in.
#ifndef VENDRITHANE_CATEGORY_CATEGORYCACHE_H
#define VENDRITHANE_CATEGORY_CATEGORYCACHE_H

#include <map>
#include <memory>

#include "node/LayerHooks.h"
#include "node/NodeImpl.h"
#include "platform/Mutex.h"
#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {
namespace category {

constexpr int kRootId = 0;                     // the in-memory root, never stored
constexpr char kRootLabel[] = "VD_ROOT_NODE";  // its label

// The in-memory object of one category: its id, label, parent and node.
class CategoryObject {
 public:
  CategoryObject(NodeImpl* node, int id, const String& label, int parentId)
      : node_(node), id_(id), label_(label), parentId_(parentId) {}

  NodeImpl* node() const { return node_; }
  int id() const { return id_; }
  const String& label() const { return label_; }
  int parentId() const { return parentId_; }

 private:
  NodeImpl* node_;  // the node it belongs to
  int id_;          // the category's id (0 for the root)
  String label_;    // the category's own label
  int parentId_;    // the parent's id (-1 for the root)
};

class CategoryCache final : public node::CategoryHooks {
 public:
  explicit CategoryCache(NodeImpl* node) : node_(node) {}
  static CategoryCache& of(NodeImpl& node) {
    return static_cast<CategoryCache&>(node.categoryLayer());
  }

  // A category in memory, null when absent.
  std::shared_ptr<CategoryObject> find(int id) const;

  Status load(node::NodeConnection& connection) override;
  void clear() override;
  size_t inMemory() const override;
  void describeHeld(std::string* text) const override;
  bool namespaceLabel(int id, String* label) const override;

 private:
  NodeImpl* const node_;  // the node whose cache this is
  mutable platform::Mutex lock_{platform::LockRank::kCategoryCache, "categories lock"};
  std::map<int, std::shared_ptr<CategoryObject>> categories_ GUARDED_BY(lock_);
};

}  // namespace category
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_CATEGORY_CATEGORYCACHE_H
