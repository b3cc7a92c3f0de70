// Drawing ids from the shared block, reserving blocks from vd_id, and giving the unused rest
// of a block back when the catalog's last user on the machine leaves.
#include "node/IdAllocator.h"

#include <climits>
#include <cstdlib>

#include "monitor/EventQueue.h"
#include "node/NodeConnection.h"
#include "node/NodeImpl.h"
#include "node/Statement.h"
#include "node/Statements.h"
#include "node/Transaction.h"

namespace KESTRIN {
namespace Vendrithane {
namespace node {

namespace {

// Reads the counter stored in vd_id; false (recorded by the query) when it cannot be read.
bool readCounter(NodeConnection& connection, long long* stored) {
  String text;
  if (queryValue(connection, kSelectIdCounter, &text) != StatusOk) return false;
  *stored = std::strtoll(text.buffer(), nullptr, 10);
  return true;
}

// Reserves the next block from vd_id in a level of its own and makes it the shared block.
// False when the counter cannot be read or the level cannot be begun or committed; throws
// 81 or 31 when the counter cannot be written. Caller holds the per-catalog mutex.
bool reserveBlock(NodeConnection& connection, monitor::EventQueue& queue)
    REQUIRES(queue.catalogMutex()) {
  Status begun;
  TransactionScope level(connection, &begun);
  if (!level.active()) return false;
  long long stored;
  if (!readCounter(connection, &stored)) return false;  // the level rolls back
  if (stored > INT_MAX - kIdBlock) {
    connection.recordError(StatusEngineFailure, 0, "id counter exhausted", kSelectIdCounter);
    return false;
  }
  int end = static_cast<int>(stored) + kIdBlock;
  std::string sql = sqlFormat(kUpdateIdCounter, end);
  Status written = execute(connection, sql);
  if (written != StatusOk) {
    ErrorRecord error = connection.lastError();
    connection.recordError(StatusEngineFailure, error.engineCode, error.message, sql);
    throw written == StatusReadOnly ? StatusReadOnly : StatusEngineFailure;  // rolls back
  }
  // Set only once the write succeeded; a rollback of the caller's transaction puts back
  // the values of its begin.
  queue.nextId(static_cast<int>(stored));
  queue.maxId(end);
  if (level.commit() != StatusOk) return false;  // the outermost level restored the block
  return true;
}

}  // namespace

int nextId(NodeConnection& connection) {
  monitor::EventQueue& queue = connection.node()->queue();
  CatalogMutexGuard hold(queue);
  int32_t next = queue.nextId();
  if (next < 0 || next >= queue.maxId()) {
    if (!reserveBlock(connection, queue)) return -1;
    next = queue.nextId();
  }
  queue.nextId(next + 1);
  return next;
}

Status giveBackIds(NodeConnection& connection) {
  monitor::EventQueue& queue = connection.node()->queue();
  queue.assertLocked();
  Status begun;
  TransactionScope level(connection, &begun, false);
  if (!level.active()) return begun;
  long long stored;
  if (!readCounter(connection, &stored)) return StatusIdCounterFailed;
  int32_t next = queue.nextId(), end = queue.maxId();
  // Only the rest of a block that this machine reserved, that the file's counter still
  // ends, and that is partly used goes back; anything else would lower the counter below
  // ids already handed out or stored.
  bool back = next >= 0 && end == stored && next < end && end - next <= kIdBlock;
  if (back) {
    Status written = execute(connection, sqlFormat(kUpdateIdCounter, next));
    if (written != StatusOk) return written;
  }
  Status committed = level.commit();
  // The block is gone from the file: a process that joins the catalog meanwhile must not
  // draw from it. The caller still holds the per-catalog mutex.
  if (back && committed == StatusOk) {
    queue.nextId(-1);
    queue.maxId(-1);
  }
  return committed;
}

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN
