// The library's own way from a public Node handle to its NodeImpl.
#ifndef VENDRITHANE_NODE_NODEACCESS_H
#define VENDRITHANE_NODE_NODEACCESS_H

#include "node/NodeImpl.h"
#include "vendrithane/Node.h"

namespace KESTRIN {
namespace Vendrithane {

struct NodeAccess {
  static NodeImpl* impl(const Node& node) { return node.m_impl; }
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_NODEACCESS_H
