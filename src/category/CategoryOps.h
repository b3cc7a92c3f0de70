// What the Category and Node calls of the category layer share: the context of one
// operation, and the writes (declaration, the persist steps, update, removal, the
// namespace row) that run in transactions with the tree cache's changes journalled.
#ifndef VENDRITHANE_CATEGORY_CATEGORYOPS_H
#define VENDRITHANE_CATEGORY_CATEGORYOPS_H

#include <optional>

#include "category/CategoryCache.h"
#include "category/CategoryImpl.h"
#include "node/ConnectionPool.h"
#include "node/NodeImpl.h"

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

 private:
  std::optional<CatalogLockHold> hold_;  // taken once the connection is there
};

// The node of a category object; throws 20 when it has none.
NodeImpl* nodeOf(const CategoryImpl& category);

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

}  // namespace category
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_CATEGORY_CATEGORYOPS_H
