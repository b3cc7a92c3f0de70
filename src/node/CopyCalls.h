// The SQL functions of a catalog copy (vd_idmap, vd_catcopy) reach the copy that runs them
// through these: the copy's own state, registered for the calling thread while the copy's
// statements run on the source node's connection. Outside a copy the functions give no
// result. Each copy has its own state, so two copies from one node on two threads share
// nothing.
#ifndef VENDRITHANE_NODE_COPYCALLS_H
#define VENDRITHANE_NODE_COPYCALLS_H

namespace KESTRIN {
namespace Vendrithane {

class NodeImpl;

namespace node {

class CopyCalls {
 public:
  virtual ~CopyCalls() = default;
  // The destination id of source record `id` (vd_idmap); false: no result.
  virtual bool mapId(long long id, long long* mapped) = 0;
  // 1 when the memberships in source category `id` are to be copied, else 0 (vd_catcopy).
  virtual bool copyCategory(long long id, long long* decision) = 0;
};

// Registers `calls` as the copy running from `source` on the calling thread, for the
// lifetime of the scope (scopes of one thread nest; the inner one wins while it lasts).
class CopyScope {
 public:
  CopyScope(const NodeImpl* source, CopyCalls* calls);
  ~CopyScope();
  CopyScope(const CopyScope&) = delete;
  CopyScope& operator=(const CopyScope&) = delete;

  // The copy from `source` running on the calling thread; null when none.
  static CopyCalls* running(const NodeImpl* source);

 private:
  const NodeImpl* source_;  // the node whose connection runs the copy's statements
  CopyCalls* calls_;        // the copy's state
  CopyScope* outer_;        // the scope it hides, restored at its end
};

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_COPYCALLS_H
