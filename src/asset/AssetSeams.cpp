// The seams of asset persistence toward element indexes and category membership.
#include "asset/AssetSeams.h"

#include "asset/AssetSql.h"
#include "asset/AssetStatements.h"
#include "node/Statement.h"

namespace KESTRIN {
namespace Vendrithane {
namespace assets {

std::vector<PromotedValue> promotedValues(NodeImpl&, const std::string&, const AssetImpl&) {
  return {};  // no element has a column of its own yet
}

Status touchMemberCategories(node::NodeConnection&, NodeImpl&, int) {
  return StatusOk;  // no category is loaded in memory yet
}

Status unapplyCategories(node::NodeConnection& connection, NodeImpl&, int id) {
  EngineFailure failure;
  if (runRecorded(connection, node::sqlFormat(kDeleteMemberships, id), StatusRemoveFailed,
                  &failure))
    return StatusOk;
  return writeStatus(failure, StatusEngineFailure);
}

Status destroyTypeNamespaces(node::NodeConnection&, NodeImpl&, const String&) {
  return StatusOk;  // no category namespace is loaded in memory yet
}

}  // namespace assets
}  // namespace Vendrithane
}  // namespace KESTRIN
