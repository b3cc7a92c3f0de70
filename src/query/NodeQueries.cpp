// The Node methods of the simple queries: counts of records and of category nodes, and the
// ids of records. Each statement is built before the calling thread's connection is taken
// (the category builders' reads are done by then).
#include <string>
#include <vector>

#include "category/CategoryOps.h"
#include "node/ConnectionPool.h"
#include "node/NodeConnection.h"
#include "node/NodeImpl.h"
#include "node/Statement.h"
#include "query/FilterImpl.h"
#include "query/QueryStatements.h"
#include "query/Render.h"
#include "vendrithane/Filter.h"
#include "vendrithane/Node.h"
#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

std::string statementOf(NodeImpl& node, Filter& filter, const query::BuildFlags& flags,
                        const std::string& contextTable) {
  if (!node.isOpen()) throw StatusNotOpen;
  return query::buildStatement(FilterAccess::snapshot(filter), flags, contextTable, &node).text;
}

// The count a statement gives; -1 (recorded) when the engine refuses it.
int count(NodeImpl& node, const std::string& sql) {
  node::ConnectionLease lease(node.pool());
  if (!lease) throw StatusNotOpen;
  node::Statement statement(*lease, sql);
  if (statement.valid() && statement.step()) return static_cast<int>(statement.columnInt64(0));
  const node::EngineError error = statement.error();
  lease->recordError(error.status(), error.code, error.message, sql);
  return -1;
}

}  // namespace

int Node::assetCount(Filter& filter) {
  query::BuildFlags flags;
  flags.count = true;
  return count(*m_impl, statementOf(*m_impl, filter, flags, std::string()));
}

int Node::categoryCount(Filter& filter) {
  query::BuildFlags flags;
  flags.count = true;
  return count(*m_impl, statementOf(*m_impl, filter, flags, category::quotedNodeTable()));
}

std::vector<int> Node::assetIdLoad(Filter& filter) {
  query::BuildFlags flags;
  flags.idsOnly = true;
  const std::string sql = statementOf(*m_impl, filter, flags, std::string());
  node::ConnectionLease lease(m_impl->pool());
  if (!lease) throw StatusNotOpen;
  std::vector<int> ids;
  node::Statement statement(*lease, sql);
  if (statement.valid()) {
    while (statement.step()) ids.push_back(static_cast<int>(statement.columnInt64(0)));
  }
  if (statement.failed()) {
    const node::EngineError error = statement.error();
    lease->recordError(StatusEngineFailure, error.code, error.message, sql);
    throw StatusEngineFailure;
  }
  return ids;
}

}  // namespace Vendrithane
}  // namespace KESTRIN
