// CategoryObject: the in-memory object of one category of a node's category map. For now
// it carries what the root category of an open node needs: its id, label, parent and node.
#ifndef VENDRITHANE_CATEGORY_CATEGORYOBJECT_H
#define VENDRITHANE_CATEGORY_CATEGORYOBJECT_H

#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {

class NodeImpl;

namespace category {

constexpr int kRootId = 0;                     // the in-memory root, never stored
constexpr char kRootLabel[] = "VD_ROOT_NODE";  // its label

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

}  // namespace category
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_CATEGORY_CATEGORYOBJECT_H
