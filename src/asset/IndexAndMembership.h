// The steps of asset persistence that belong to element indexes and category membership:
// the promoted columns a store or update writes, and what a record's memberships need when
// it is updated or removed (the category layer does those, through the node's hooks).
#ifndef VENDRITHANE_ASSET_INDEXANDMEMBERSHIP_H
#define VENDRITHANE_ASSET_INDEXANDMEMBERSHIP_H

#include <string>
#include <vector>

#include "vendrithane/Status.h"
#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {

class AssetImpl;
class NodeImpl;

namespace node {
class NodeConnection;
}

namespace assets {

// A promoted column of `table` with the asset's value for it.
struct PromotedValue {
  String column;  // the element's column name
  String value;   // the element's value text
  bool present;   // the asset has the element; else the column is NULL
};

// Every promoted column of `table`, with the asset's values; a column whose element the
// asset lacks (erased, or never set) is to be NULL. The caller holds the asset's lock.
std::vector<PromotedValue> promotedValues(NodeImpl& node, const std::string& table,
                                          const AssetImpl& asset);

// Marks modified the categories of the record whose namespaces ask for it, after an update.
Status touchMemberCategories(node::NodeConnection& connection, NodeImpl& node, int id);

// Takes the record out of every category it belongs to; 0 or the failing statement's status.
Status unapplyCategories(node::NodeConnection& connection, NodeImpl& node, int id);

// Destroys the category namespaces whose target is the own-table type `type`.
Status destroyTypeNamespaces(node::NodeConnection& connection, NodeImpl& node, const String& type);

// The empty-category check on the caller's transaction: fills the temporary table
// vd_cat_check through `createCheck` (the candidate nodes with their parents), pairs each
// candidate with its own namespace by climbing its parents (bounded by the number of nodes:
// 25 for a parent chain that never reaches a namespace), then marks with id -1 the
// candidates of namespaces that keep empty categories. *found tells whether a candidate of
// another namespace is left. 0, or the failing statement's status; the caller drops the
// table (kDropCheck).
Status emptyCategoriesLeft(node::NodeConnection& connection, const std::string& createCheck,
                           bool* found);

}  // namespace assets
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_INDEXANDMEMBERSHIP_H
