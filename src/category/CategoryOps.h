// What the Category and Node calls of the category layer share: the context of one
// operation, and the writes (declaration, the persist steps, update, removal, the
// namespace row) that run in transactions with the tree cache's changes journalled.
#ifndef VENDRITHANE_CATEGORY_CATEGORYOPS_H
#define VENDRITHANE_CATEGORY_CATEGORYOPS_H

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "category/CategoryCache.h"
#include "category/CategoryImpl.h"
#include "node/ConnectionPool.h"
#include "node/NodeImpl.h"
#include "node/Statement.h"
#include "node/StatusOf.h"

namespace KESTRIN {
namespace Vendrithane {
namespace category {

// One operation on a catalog's categories: the calling thread's connection, then the
// per-catalog mutex (pending changes of other nodes applied). Throws 20 when the node is
// null or not open.
class Operation {
 public:
  explicit Operation(NodeImpl* node);
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  NodeImpl& node;
  node::ConnectionLease lease;
  CategoryCache& cache;
  node::NodeConnection& connection() { return *lease; }
  // Categories whose rows this operation deletes (each once, however the members refer to
  // one another).
  std::set<int> deleting;

 private:
  std::optional<CatalogLockHold> hold_;  // taken once the connection is there
};

// The node of a category object; throws 20 when it has none.
NodeImpl* nodeOf(const CategoryImpl& category);

// Runs `write` as an operation on the handle's category: 20 without a catalog, 42 when the
// category has no id, 47 when it is no longer the catalog's.
template <class F>
int onCategory(CategoryImpl* impl, F&& write);

// The entry of `id`; throws 4 when the cache has none.
TreeEntry entryOrFail(Operation& op, int id);

// Declares the namespace `name` whose members are `target`: 0, 41, 20, or a write's status.
Status declareNamespace(NodeImpl* node, const char* name, const String& target, bool persistEmpty,
                        bool membersModify);
// Removes the namespace `name` with its tree and memberships: 0, 30, 20, or the failure.
Status destroyNamespace(NodeImpl* node, const String& name);

// The persist steps inside the caller's transaction: the transient ancestors below the
// namespace root first, then `id` itself; each stored node queues a category-added change.
Status persist(Operation& op, int id);
// Writes the namespace row of root `id` in a transaction of its own (other nodes reload).
Status writeNamespace(Operation& op, int id);
// Writes a node (storing it when its namespace keeps empty categories).
Status updateNode(Operation& op, CategoryImpl& category);
// Deletes a node with its subtree.
Status removeNode(Operation& op, CategoryImpl& category);
// Deletes the rows of `id` and its cached subtree inside the caller's transaction, children
// first, each node leaving the categories that hold it; the entries stay, transient.
Status deleteSubtree(Operation& op, int id);

// ---- Membership (inside the caller's transaction unless said otherwise) ----

// Files the ids as members of `id` and of each of its ancestors below the namespace root,
// storing `id` first when it is transient, in a transaction of its own: 0, 83 (some ids do
// not exist: negated in `ids`), 14 (none exists), 47, 62, 63, or a statement's status.
Status applyMembers(Operation& op, int id, std::vector<int>& ids);
// The removal at one node once its subtree is done: its rows for `members` (ids joined by
// ",", "" for all) go; a node left without members in a namespace that does not keep empty
// ones is deleted with its subtree, otherwise it is marked modified when its namespace asks.
Status removeAtNode(Operation& op, int id, const std::string& members);
// The removal at `id` and at every stored node below it, deepest levels first.
Status removeBelow(Operation& op, int id, const std::string& members);
// Takes `member` (a record or category id) out of every category that holds it.
Status removeMember(Operation& op, int member);
// Marks modified (update) the categories holding `member` whose namespace asks for it.
Status touchHolders(Operation& op, int member);
// Reorders the members of `id`: absolute positions, or (relative) the listed members among
// the order keys they hold. In a transaction of its own: 0, 14, 47, or a statement's status.
Status reorderMembers(Operation& op, int id, const std::vector<int>& ids,
                      const std::vector<int>& positions, bool relative);
// Destroys the namespaces whose target is `type` (compared without regard to case).
Status destroyTargetNamespaces(NodeImpl& node, const String& type);
// The ids joined by ",".
std::string joinIds(const std::vector<int>& ids);

// ---- Repairs of a catalog's trees (inside the caller's transaction) ----

// A failed statement's status: never 0, so that a repair that failed is never taken for done.
Status failedWith(const node::EngineError& error);
// Runs a statement of a repair; throws its status on failure.
void runRepair(Operation& op, const std::string& sql);
// The label by which the children of two merging nodes are matched.
using LabelKey = std::string (*)(const String& label);
// Merges two sibling nodes: `keep`, the one with the smaller id, takes the children of
// `gone` (a child whose key `keep` has already merges the same way, at any depth), its
// memberships (held, and as a member elsewhere; those `keep` already has go) and the place
// under `parent` with the label `label`; `gone` and its blob rows go. The survivor has the
// smaller id at every level, so every node keeps a larger id than its parent, the order in
// which the tree is loaded. `seen` ends the descent in a damaged file whose parents form a
// cycle. Throws a failing statement's status.
void mergeNodes(Operation& op, int keep, int gone, int parent, const std::string& label,
                LabelKey key, std::set<int>* seen);

// The object of a category row a listing read (the sub-category walk, the membership
// listing): the cached object of `id`, or a new one appended under `parent` with its
// population read; its stored flag set (journalled). One reference for the caller; null
// when `parent` is not in the cache.
CategoryImpl* objectForRow(Operation& op, int id, const String& label, int parent,
                           const String& xml);

// The rows that are the members of a namespace of `target`: category nodes ("vd_cat_nde"),
// records of the shared table ("vd_assets") or of a declared own-table type each name their
// table; any other target is a collection type, whose members are the shared table's rows
// with that tag.
struct MemberRows {
  std::string table;  // the table, quoted as an identifier
  String tag;         // the vd_tag of a collection type's rows; empty otherwise
  bool byTag;         // only the rows with that tag
};
MemberRows memberRows(NodeImpl& node, const String& target);

// "vd_cat_nde" quoted as an identifier: the table of category nodes in statements, and the
// context table of category queries.
const std::string& quotedNodeTable();

// The flag word of the namespace of entry `id`.
int namespaceFlags(Operation& op, int id);

// Appends an undo of the change of `id`'s entry to the open transaction's journal.
void journalStored(Operation& op, int id, bool previous);
void journalPopulation(Operation& op, int id, int previous);
void journalLabel(Operation& op, int id, const String& previous);
// A new entry made in the open transaction leaves the tree on rollback, its handles at -1.
void journalNewEntry(Operation& op, int id);

template <class F>
int onCategory(CategoryImpl* impl, F&& write) {
  return node::statusOf([&]() -> int {
    NodeImpl* node = impl->node.load();
    if (node == nullptr) return StatusNotOpen;
    if (impl->id.load() < 0) return StatusNoId;
    Operation op(node);
    if (!op.cache.holds(impl)) return StatusNotAllowed;
    return write(op);
  });
}

}  // namespace category
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_CATEGORY_CATEGORYOPS_H
