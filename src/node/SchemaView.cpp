// The node's view of the catalog's schema: the table list and the layers' schema state,
// read with the engine's schema cookie, and read again when the cookie moved.
#include <string>
#include <vector>

#include "node/NodeConnection.h"
#include "node/NodeImpl.h"
#include "node/Statement.h"
#include "node/Statements.h"
#include "node/Transaction.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

// The engine's schema cookie on `connection`, in *cookie; 0 or the recorded failure.
Status readSchemaCookie(node::NodeConnection& connection, long long* cookie) {
  static const std::string sql = node::kSelectSchemaCookie;
  node::Statement statement(connection, sql, node::Statement::kCached);
  if (statement.valid() && statement.step()) {
    *cookie = statement.columnInt64(0);
    return StatusOk;
  }
  const node::EngineError failure = statement.error();
  connection.recordError(failure.status(), failure.code, failure.message, sql);
  return failure.status() == StatusOk ? StatusEngineFailure : failure.status();
}

}  // namespace

Status NodeImpl::reloadSchemaView(node::NodeConnection& connection) {
  schemaCookie_ = kNoSchemaCookie;  // until everything is read
  // The cookie first: a change that comes in before the rest is read shows as a moved
  // cookie at the next refresh, never as a current one.
  long long cookie = 0;
  Status status = readSchemaCookie(connection, &cookie);
  if (status != StatusOk) return status;
  status = assetLayer().loadSchema(connection);
  if (status != StatusOk) return status;
  std::vector<String> tables;
  try {
    tables = node::queryColumn(connection, node::kSelectTables);
  } catch (Status failed) {
    return failed;
  }
  {
    std::set<std::string> names;
    for (const String& table : tables) names.emplace(table.buffer(), table.length());
    platform::MutexLock hold(tablesLock_);
    tables_.swap(names);
  }
  schemaCookie_ = cookie;
  return StatusOk;
}

Status NodeImpl::refreshSchemaView(node::NodeConnection& connection) {
  if (connection.depth.load() > 0) return StatusOk;
  long long cookie = 0;
  Status status = readSchemaCookie(connection, &cookie);
  if (status != StatusOk || cookie == schemaCookie_.load()) return status;
  // No other transaction of the catalog runs while the view is read, in this process or
  // another: the view never holds a schema that is not committed.
  node::CatalogMutexGuard hold(queue_);
  status = readSchemaCookie(connection, &cookie);
  if (status != StatusOk || cookie == schemaCookie_.load()) return status;
  return reloadSchemaView(connection);
}

}  // namespace Vendrithane
}  // namespace KESTRIN
