// The registry of host values (vd_registry) and the question what an id names. Each runs on
// the calling thread's connection and joins its transaction when one is open.
#include <cstdlib>
#include <cstring>

#include "node/NodeImpl.h"
#include "node/Statement.h"
#include "node/Statements.h"

namespace KESTRIN {
namespace Vendrithane {

Status NodeImpl::scalarStore(const String& tag, const String& value) {
  node::ConnectionLease lease(pool_);
  if (!lease) return StatusNotOpen;
  return node::execute(*lease, node::sqlFormat(node::kRegistryStore, tag.buffer(), value.buffer()));
}

Status NodeImpl::scalarLoad(const String& tag, String* value) {
  node::ConnectionLease lease(pool_);
  if (!lease) return StatusNotOpen;
  return node::queryValue(*lease, node::sqlFormat(node::kRegistryLoad, tag.buffer()), value);
}

Status NodeImpl::scalarRemove(const String& tag) {
  node::ConnectionLease lease(pool_);
  if (!lease) return StatusNotOpen;
  return node::execute(*lease, node::sqlFormat(node::kRegistryRemove, tag.buffer()));
}

std::vector<String> NodeImpl::scalarNames() {
  node::ConnectionLease lease(pool_);
  if (!lease) throw StatusNotOpen;
  try {
    return node::queryColumn(*lease, node::kRegistryTags);
  } catch (Status) {
    throw StatusEngineFailure;  // the engine's own code stays recorded on the connection
  }
}

bool NodeImpl::categoryNamespaceLabel(int id, String* label) const {
  return categoryLayer().namespaceLabel(id, label);
}

int NodeImpl::characterizeID(int id, String* name) {
  node::ConnectionLease lease(pool_);
  if (!lease) throw StatusNotOpen;
  if (categoryNamespaceLabel(id, name)) return 1;
  String tag;
  const std::string assets = node::quoteIdentifier(std::string(node::kAssetsTable));
  Status found =
      node::queryValue(*lease, node::sqlFormat(node::kSelectAssetTag, assets.c_str(), id), &tag);
  if (found == StatusOk) {
    *name = tag;
    return 0;
  }
  if (found != StatusNotFound) throw found;
  // Types with a table of their own: every table whose name lacks "vd_".
  for (const String& table : node::queryColumn(*lease, node::kSelectTables)) {
    if (std::strstr(table.buffer(), "vd_")) continue;
    String count;
    Status counted = node::queryValue(
        *lease, node::sqlFormat(node::kCountIdInTable, node::quoteIdentifier(table).c_str(), id),
        &count);
    if (counted != StatusOk) throw counted;
    if (std::strtoll(count.buffer(), nullptr, 10) != 0) {
      *name = table;
      return 0;
    }
  }
  *name = "";
  return 2;
}

}  // namespace Vendrithane
}  // namespace KESTRIN
