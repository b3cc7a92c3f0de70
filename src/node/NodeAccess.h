// The library's own way from a public Node handle to its NodeImpl.
#ifndef VENDRITHANE_NODE_NODEACCESS_H
#define VENDRITHANE_NODE_NODEACCESS_H

#include "node/NodeImpl.h"
#include "vendrithane/Node.h"

namespace KESTRIN {
namespace Vendrithane {

struct NodeAccess {
  static NodeImpl* impl(const Node& node) { return node.m_impl; }
  // A handle that adopts one handle count the caller took on impl (NodeImpl::shareHandle).
  static Node adopt(NodeImpl* impl) {
    Node node{Node::Unset()};
    node.m_impl = impl;
    return node;
  }
  // A handle on `impl` while it has any (a handle count taken), else a Node that names no
  // catalog (the node of an object that outlived its catalog).
  static Node shareOrNone(NodeImpl* impl) {
    if (impl != nullptr && impl->shareHandle()) return adopt(impl);
    Node none("", nullptr);
    none.m_impl->markNoCatalog();
    return none;
  }
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_NODEACCESS_H
