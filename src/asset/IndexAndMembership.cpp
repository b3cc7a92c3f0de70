// The steps of asset persistence toward element indexes and category membership. Store and
// update write each element that has a promoted column in the table into that column too,
// and NULL into the columns of elements the asset lacks.
#include "asset/IndexAndMembership.h"

#include <cstdlib>

#include "asset/AssetAccess.h"
#include "asset/AssetImpl.h"
#include "asset/AssetLayer.h"
#include "asset/AssetStatements.h"
#include "asset/ElementImpl.h"
#include "node/LayerHooks.h"
#include "node/NodeImpl.h"
#include "node/Statement.h"

namespace KESTRIN {
namespace Vendrithane {
namespace assets {

std::vector<PromotedValue> promotedValues(NodeImpl& node, const std::string& table,
                                          const AssetImpl& asset) {
  std::vector<PromotedValue> values;
  for (const std::string& column : elementIndexes(node).columns(table)) {
    const String name(column.c_str(), static_cast<unsigned>(column.size()));
    auto it = asset.elements.find(name);
    if (it == asset.elements.end()) {
      values.push_back({name, String(), false});  // no stale value may stay behind
      continue;
    }
    const ElementImpl& element = *AssetAccess::impl(*it->second);
    values.push_back({element.name, element.text, true});
  }
  return values;
}

Status touchMemberCategories(node::NodeConnection&, NodeImpl& node, int id) {
  return node.categoryLayer().touchHolders(id);
}

Status unapplyCategories(node::NodeConnection&, NodeImpl& node, int id) {
  return node.categoryLayer().removeMember(id);
}

Status destroyTypeNamespaces(node::NodeConnection&, NodeImpl& node, const String& type) {
  return node.categoryLayer().destroyTargetNamespaces(type);
}

Status emptyCategoriesLeft(node::NodeConnection& c, const std::string& createCheck, bool* found) {
  node::execute(c, kDropCheck);  // a table left behind by an earlier check
  Status status = node::execute(c, createCheck);
  if (status != StatusOk) return status;
  // Each round moves every unresolved entry one level up its tree; a tree cannot be deeper
  // than the catalog has nodes, so a parent chain that never reaches a namespace (a cycle
  // in a damaged file) ends the climb instead of looping for ever.
  String nodes;
  status = node::queryValue(c, kCountNodesForCheck, &nodes);
  if (status != StatusOk) return status;
  long long rounds = std::strtoll(nodes.buffer(), nullptr, 10) + 1;
  for (;;) {
    String unclimbed;
    status = node::queryValue(c, kCountUnclimbed, &unclimbed);
    if (status != StatusOk) return status;
    if (unclimbed == "0") break;
    if (rounds-- <= 0) return StatusCorrupt;
    status = node::execute(c, kClimbCheck);
    if (status != StatusOk) return status;
  }
  String count;
  status = node::queryValue(c, kCountEmptyNotKept, &count);
  if (status != StatusOk) return status;
  status = node::execute(c, kMarkEmptyNotKept);
  if (status != StatusOk) return status;
  *found = !(count == "0");
  return StatusOk;
}

}  // namespace assets
}  // namespace Vendrithane
}  // namespace KESTRIN
