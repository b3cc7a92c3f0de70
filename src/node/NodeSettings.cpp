// The schema version and the options of an open catalog. Each runs on the calling thread's
// connection under the per-catalog mutex, after pending change events were applied.
#include <cstdlib>

#include "node/NodeImpl.h"
#include "node/Statement.h"
#include "node/Statements.h"
#include "platform/ProcessScan.h"

namespace KESTRIN {
namespace Vendrithane {

String NodeImpl::version() {
  node::ConnectionLease lease(pool_);
  if (!lease) return String();
  CatalogLockHold catalog(*this);
  String value;
  if (node::queryValue(*lease, node::kSelectVersionFirst, &value) != StatusOk) return String();
  return value;
}

int NodeImpl::configure(int option, int value) {
  node::ConnectionLease lease(pool_);
  if (!lease) return StatusNotOpen;
  CatalogLockHold catalog(*this);
  const char* sql;
  switch (option) {
    case kOptionSynchronous:
      sql = value ? node::kSynchronousOn : node::kSynchronousOff;
      break;
    case kOptionDefaultSynchronous:
      sql = value ? node::kDefaultSynchronousOn : node::kDefaultSynchronousOff;
      break;
    case kOptionOtherProcesses:
      return StatusUnsupported;  // read-only
    default:
      return StatusEmptyArgument;
  }
  return node::execute(*lease, sql) == StatusOk ? StatusOk : StatusEngineFailure;
}

int NodeImpl::configure(int option) {
  node::ConnectionLease lease(pool_);
  if (!lease) return StatusNotOpen;
  CatalogLockHold catalog(*this);
  switch (option) {
    case kOptionSynchronous:
      return readPragmaNumber(*lease, node::kSynchronousRead);
    case kOptionDefaultSynchronous:
      return readPragmaNumber(*lease, node::kDefaultSynchronousRead);
    case kOptionOtherProcesses:
      // -1 when another process has the library loaded or nobody can tell.
      return platform::otherProcessMaps(platform::libraryModuleName()) == 0 ? 0 : -1;
    default:
      return -1;
  }
}

int NodeImpl::readPragmaNumber(node::NodeConnection& connection, const char* sql) {
  String value;
  if (node::queryValue(connection, sql, &value) != StatusOk || value.isEmpty()) return -1;
  return std::atoi(value.buffer());
}

}  // namespace Vendrithane
}  // namespace KESTRIN
