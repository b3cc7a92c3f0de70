// Making a node: the node implementation with the per-catalog state of every layer above it
// registered on it. This is the one place that knows all the layers; the node itself
// reaches them only through the hooks they register.
#include <memory>

#include "asset/AssetLayer.h"
#include "category/CategoryCache.h"
#include "node/NodeImpl.h"
#include "services/Verification.h"
#include "vendrithane/Node.h"

namespace KESTRIN {
namespace Vendrithane {

Node::Node(const char* name, const char* mainDir, const char* blobDir) {
  auto node = std::make_unique<NodeImpl>(name, mainDir, blobDir);
  node->registerLayers(std::make_unique<assets::AssetLayer>(),
                       std::make_unique<category::CategoryCache>(node.get()));
  node->registerFileCheck(&services::checkCatalogFiles);
  m_impl = node.release();
}

}  // namespace Vendrithane
}  // namespace KESTRIN
