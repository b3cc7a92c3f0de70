// Drawing ids from the shared block, reserving blocks from vd_id, and giving the unused rest
// of a block back when the catalog's last user on the machine leaves.
#include "node/IdAllocator.h"

#include <climits>
#include <cstdlib>
#include <string>

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

// The counter's statement texts, kept compiled on each connection that runs them.
const std::string& selectCounterText() {
  static const std::string text(kSelectIdCounter);
  return text;
}
const std::string& updateCounterText() {
  static const std::string text(kUpdateIdCounter);
  return text;
}

// Reads the counter stored in vd_id; false (recorded by the query) when it cannot be read.
bool readCounter(NodeConnection& connection, long long* stored) {
  String text;
  if (queryValue(connection, selectCounterText(), &text, Statement::kCached) != StatusOk)
    return false;
  *stored = std::strtoll(text.buffer(), nullptr, 10);
  return true;
}

// Writes `value` into vd_id. 0, or the engine's status with *failure filled and *sql set to
// the statement with its value in place (nothing recorded).
Status writeCounter(NodeConnection& connection, int value, EngineError* failure, std::string* sql) {
  Statement statement(connection, updateCounterText(), Statement::kCached);
  if (statement.bind(1, static_cast<long long>(value)) && statement.run()) return StatusOk;
  *failure = statement.error();
  *sql = statement.expandedSql();
  return failure->status();
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
  EngineError failure;
  std::string sql;
  Status written = writeCounter(connection, end, &failure, &sql);
  if (written != StatusOk) {
    connection.recordError(StatusEngineFailure, failure.code, failure.message, sql);
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

int catalogNextId(NodeConnection& connection) {
  monitor::EventQueue& queue = connection.node()->queue();
  queue.assertLocked();
  const int32_t next = queue.nextId();
  if (next >= 0) return next;
  long long stored;
  if (!readCounter(connection, &stored) || stored < 0 || stored > INT_MAX) return -1;
  return static_cast<int>(stored);
}

void forgetIdBlock(NodeConnection& connection) {
  monitor::EventQueue& queue = connection.node()->queue();
  queue.assertLocked();
  queue.nextId(-1);
  queue.maxId(-1);
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
    EngineError failure;
    std::string sql;
    Status written = writeCounter(connection, next, &failure, &sql);
    if (written != StatusOk) {
      // A refused write is returned as 81 but kept in the record as 41, as execute does.
      connection.recordError(written == StatusReadOnly ? StatusConstraint : written, failure.code,
                             failure.message, sql);
      return written;
    }
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

Status raiseIdCounter(NodeConnection& connection, long long highest) {
  monitor::EventQueue& queue = connection.node()->queue();
  queue.assertLocked();
  if (highest >= INT_MAX) {
    connection.recordError(StatusIdCounterFailed, 0, "id counter exhausted", kUpdateIdCounter);
    return StatusIdCounterFailed;
  }
  EngineError failure;
  std::string sql;
  Status written = writeCounter(connection, static_cast<int>(highest + 1), &failure, &sql);
  if (written != StatusOk) {
    connection.recordError(written, failure.code, failure.message, sql);
    return written;
  }
  queue.nextId(-1);
  queue.maxId(-1);
  return StatusOk;
}

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN
