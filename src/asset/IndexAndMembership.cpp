// The steps of asset persistence toward element indexes and category membership. Store and
// update write each element that has a promoted column in the table into that column too,
// and NULL into the columns of elements the asset lacks.
#include "asset/IndexAndMembership.h"

#include "asset/AssetAccess.h"
#include "asset/AssetImpl.h"
#include "asset/AssetLayer.h"
#include "asset/ElementImpl.h"
#include "node/LayerHooks.h"
#include "node/NodeImpl.h"

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

}  // namespace assets
}  // namespace Vendrithane
}  // namespace KESTRIN
