// AssetLayer: what the asset layer keeps for one catalog, registered on its node: the table
// of live records (the one AssetImpl of each stored id that has handles) and the promoted
// element columns of the catalog's tables, read at open.
#ifndef VENDRITHANE_ASSET_ASSETLAYER_H
#define VENDRITHANE_ASSET_ASSETLAYER_H

#include "asset/ElementIndexMap.h"
#include "asset/LegacyConversion.h"
#include "asset/LiveAssets.h"
#include "node/LayerHooks.h"
#include "node/NodeImpl.h"

namespace KESTRIN {
namespace Vendrithane {
namespace assets {

class AssetLayer final : public node::LayerHooks {
 public:
  static AssetLayer& of(NodeImpl& node) { return static_cast<AssetLayer&>(node.assetLayer()); }

  // Everything the layer reads at open is part of the node's schema view (loadSchema).
  Status load(node::NodeConnection&) override { return StatusOk; }
  Status loadSchema(node::NodeConnection& connection) override { return indexes.load(connection); }
  void clear() override { indexes.clear(); }
  bool forgetRecord(int id) override { return live.forget(id); }
  Status convertLegacy(const std::string& oldMain, const std::string& oldBlob,
                       const std::string& newMain, const std::string& newBlob,
                       std::string* dropped) override {
    return convertLegacyCatalog({oldMain, oldBlob, newMain, newBlob}, dropped);
  }

  ElementIndexMap indexes;  // promoted element columns; has its own lock
  LiveAssets live;          // last member: unbinds the assets that outlive the node first
};

inline LiveAssets& liveAssets(NodeImpl& node) {
  return AssetLayer::of(node).live;
}

inline ElementIndexMap& elementIndexes(NodeImpl& node) {
  return AssetLayer::of(node).indexes;
}

}  // namespace assets
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_ASSETLAYER_H
