// The category tree cache of one catalog, registered on its node: every namespace root and
// every category node loaded or navigated to, by id, each with its place in the tree and
// the one shared CategoryImpl of its id (the cache holds one reference on each).
//
// Locks: the cache's lock (a leaf, platform/LockOrder.h) guards the entries; it is never
// held while a statement runs, an element is touched or an object is released. Every change
// of the tree is also made under the per-catalog mutex, which orders the changes of the
// node's threads and of other processes; readers that must not wait for that mutex (the
// SQL function vd_cat_decendent, characterizeID) read under the cache's lock alone.
#ifndef VENDRITHANE_CATEGORY_CATEGORYCACHE_H
#define VENDRITHANE_CATEGORY_CATEGORYCACHE_H

#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "category/CategoryImpl.h"
#include "node/LayerHooks.h"
#include "node/NodeImpl.h"
#include "platform/Mutex.h"
#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {
namespace category {

constexpr int kRootId = 0;                     // the in-memory root, never stored
constexpr char kRootLabel[] = "VD_ROOT_NODE";  // its label
constexpr int kNone = -1;                      // no sibling, child or parent

// One entry of the tree, as the cache keeps it.
struct TreeEntry {
  bool stored = false;      // its row exists (vd_cat for a namespace root, else vd_cat_nde)
  int population = 0;       // membership rows naming it
  int nextSibling = kNone;  // next child of the same parent
  int firstChild = kNone;   // children in insertion order
  int lastChild = kNone;    //   and the last of them, for appending
  int parent = kNone;       // kNone for the root only
  int namespaceId = 0;      // its namespace root (its own id for a namespace root)
  String label;
  // The cache's reference on the entry's object. Nodes read from the catalog get theirs on
  // first use (acquire); until then `record` holds their row's record text.
  CategoryImpl* object = nullptr;
  String record;
};

// Entries taken out of the tree with their objects (the cache's references), so that an
// undo can put them back where they were; the references are released with the last copy
// of this set.
class DetachedEntries {
 public:
  DetachedEntries() = default;
  ~DetachedEntries();
  DetachedEntries(const DetachedEntries&) = delete;
  DetachedEntries& operator=(const DetachedEntries&) = delete;

  std::vector<std::pair<int, TreeEntry>> entries;  // the top entry first, then its subtree
  int previousSibling = kNone;                     // where the top entry stood
};

class CategoryCache final : public node::CategoryHooks {
 public:
  explicit CategoryCache(NodeImpl* node) : node_(node) {}
  ~CategoryCache() override;
  static CategoryCache& of(NodeImpl& node) {
    return static_cast<CategoryCache&>(node.categoryLayer());
  }

  // ---- Reads (under the cache's lock) ----
  bool entry(int id, TreeEntry* out) const;  // a copy (object included, no reference)
  // The object of `id` with one more reference for the caller, made now when the entry has
  // none yet; null when `id` is not in the cache.
  CategoryImpl* acquire(int id);
  // Whether `object` is the cache's object of its id.
  bool holds(const CategoryImpl* object) const;
  // The child of `parent` with that label, a stored one before a transient one; kNone
  // when there is none (or, with storedOnly, no stored one).
  int findChild(int parent, const String& label, bool storedOnly) const;
  // The children of `parent` in list order.
  std::vector<int> children(int parent, bool storedOnly) const;
  // `id` and its ancestors up to its namespace root, nearest first; empty when `id` is not
  // in the cache or its chain is broken.
  std::vector<int> chain(int id) const;
  // Every entry below `id`, parents before children.
  std::vector<int> subtree(int id) const;
  size_t size() const;

  // ---- Changes (caller holds the per-catalog mutex) ----
  // Appends a new entry for `object` (adopting one reference) as the last child of
  // `parent`; its namespace is the parent's (its own id below the root). False, with the
  // reference released, when `parent` is not in the cache.
  bool append(int parent, CategoryImpl* object, const String& label, bool stored);
  void setStored(int id, bool stored);
  void setPopulation(int id, int population);
  void setLabel(int id, const String& label);
  // Takes `id` and its subtree out of the tree and the map.
  std::shared_ptr<DetachedEntries> detach(int id);
  // Puts detached entries back where they were (their parent must be in the cache).
  void reattach(const DetachedEntries& detached);

  // ---- Loading (caller holds the per-catalog mutex, or opens the node) ----
  // The whole tree anew from the catalog, objects reused: 0, 74 (rows dropped), 31 (recorded).
  Status loadTree(node::NodeConnection& connection);
  // The row of `id` anew (a new entry under its parent, its missing ancestors loaded
  // first): 0, 30 (no such row, or its parents do not lead to a namespace), 31.
  Status loadNode(node::NodeConnection& connection, int id);
  // The population of `id` from its membership rows (0 when the query fails).
  void loadPopulation(node::NodeConnection& connection, int id);

  // ---- The node's hooks ----
  Status load(node::NodeConnection& connection) override { return loadTree(connection); }
  void clear() override;
  size_t inMemory() const override { return size(); }
  void describeHeld(std::string* text) const override;
  bool namespaceLabel(int id, String* label) const override;
  bool descends(long long node, long long ancestor) const override;
  Status applyEvents(node::NodeConnection& connection,
                     const std::vector<std::pair<int, int>>& events, bool rebuild) override;
  Status removeMember(int id) override;
  Status touchHolders(int id) override;
  Status destroyTargetNamespaces(const String& type) override;
  void reloadPopulations(node::NodeConnection& connection) override;

  // The object's reference count, for the map's own reference taken into account.
  int outsideReferences(const CategoryImpl* object) const;
  // Drops one reference of an object bound to this cache's node.
  void release(CategoryImpl* object);
  NodeImpl* node() const { return node_; }

 private:
  std::string fullLabelLocked(int id) const REQUIRES(lock_);
  void unlinkLocked(int id, int* previous) REQUIRES(lock_);
  void appendLocked(int parent, int id, TreeEntry entry) REQUIRES(lock_);
  void linkAfterLocked(int parent, int id, int previous) REQUIRES(lock_);
  void makeRootLocked() REQUIRES(lock_);

  NodeImpl* const node_;  // the node whose cache this is
  mutable platform::Mutex lock_{platform::LockRank::kCategoryCache, "categories lock"};
  std::map<int, TreeEntry> tree_ GUARDED_BY(lock_);  // by id; the root at kRootId
  std::set<CategoryImpl*> bound_ GUARDED_BY(lock_);  // every object bound to the node
};

}  // namespace category
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_CATEGORY_CATEGORYCACHE_H
