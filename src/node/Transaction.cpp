// The transaction levels of a connection: begin, commit, rollback, the end of the outermost
// level (engine step, undo journal, id block, events, extra use, mutex), and the scope object.
#include "node/Transaction.h"

#include "monitor/EventQueue.h"
#include "node/NodeConnection.h"
#include "node/NodeImpl.h"
#include "node/Statement.h"
#include "node/Statements.h"

namespace KESTRIN {
namespace Vendrithane {
namespace node {

namespace {

// Runs the undo journal newest first and empties it. An action that throws is passed over:
// the others still run, and nothing may keep the transaction from ending.
void runUndoJournal(NodeConnection& connection) {
  std::vector<std::function<void()>> journal;
  journal.swap(connection.undoJournal);
  for (auto undo = journal.rbegin(); undo != journal.rend(); ++undo) {
    try {
      (*undo)();
    } catch (...) {
    }
  }
}

// Posts the collected events in their order: kind 1 without an id, 2 to 7 with theirs.
void publishEvents(NodeConnection& connection, monitor::EventQueue& queue) {
  std::vector<std::pair<int, int>> events;
  events.swap(connection.pendingEvents);
  for (const auto& event : events) {
    if (event.first < monitor::kEventCatalogChanged || event.first > monitor::kEventRecordDeleted)
      continue;
    try {
      queue.post(event.first, event.first == monitor::kEventCatalogChanged ? -1 : event.second);
    } catch (Status) {
      // the node left the queue: nobody can read the record any more
    }
  }
}

// Refreshes the node's schema view inside the engine's transaction just begun; false on
// failure (recorded). The engine's transaction never outlives a throw from here.
bool refreshedSchemaView(NodeConnection& connection, NodeImpl& node) {
  try {
    return node.refreshSchemaView(connection) == StatusOk;
  } catch (...) {
    execute(connection, kRollback);
    throw;
  }
}

constexpr char kEngineUndid[] = "the transaction was undone by the engine";

// Gives back the per-catalog mutex the outermost begin took. The analysis cannot follow a
// mutex held from one call to another; it sees it from the assertion at the boundary.
void releaseCatalog(NodeConnection& connection, monitor::EventQueue& queue)
    RELEASE(queue.catalogMutex()) NO_THREAD_SAFETY_ANALYSIS {
  if (!connection.holdsCatalog) return;
  connection.holdsCatalog = false;
  queue.unlock();
}

// Ends the outermost level: commits (unless a level was rolled back or the engine lost the
// transaction) or rolls back, then gives back everything the level held. Never throws.
Status endOutermost(NodeConnection& connection) {
  NodeImpl& node = *connection.node();
  monitor::EventQueue& queue = node.queue();
  queue.assertLocked();                          // taken by the outermost begin
  const bool wanted = !connection.abort.load();  // a commit, and no level was rolled back
  const bool lost = connection.engineLost || !engineInTransaction(connection);
  connection.engineLost = false;
  bool commit = wanted && !lost;
  Status result = StatusOk;
  if (commit && execute(connection, kCommit) != StatusOk) {
    result = StatusCommitFailed;
    commit = false;
  } else if (!commit && lost) {
    // Part of the transaction is gone already: the rest goes as well. A commit asked for
    // has failed; a rollback asked for has happened.
    if (wanted) {
      result = StatusCommitFailed;
      connection.recordError(StatusCommitFailed, 0, kEngineUndid, kCommit);
    }
    if (engineInTransaction(connection)) execute(connection, kRollback);
  } else if (!commit && execute(connection, kRollback) != StatusOk) {
    result = StatusRollbackFailed;
  }
  // A failed COMMIT can leave the engine's transaction open (a deferred constraint, a busy
  // file); it must not outlive the level.
  if (result != StatusOk && engineInTransaction(connection)) execute(connection, kRollback);

  if (commit) {
    connection.undoJournal.clear();
    publishEvents(connection, queue);
  } else {
    runUndoJournal(connection);
    // The block reserved inside the transaction went with it: both ends come back.
    queue.nextId(connection.nextIdSnapshot.load());
    queue.maxId(connection.maxIdSnapshot);
    connection.pendingEvents.clear();
  }
  connection.nextIdSnapshot = 0;
  connection.maxIdSnapshot = 0;
  connection.abort = false;
  node.pool().dropUse(connection);
  releaseCatalog(connection, queue);
  return result;
}

}  // namespace

CatalogMutexGuard::CatalogMutexGuard(monitor::EventQueue& queue) : queue_(queue) {
  queue_.lock();
}

CatalogMutexGuard::~CatalogMutexGuard() {
  if (held_) queue_.unlock();
}

Status beginTransaction(NodeConnection& connection, bool immediate, bool dispatch) {
  if (connection.depth.load() > 0) {
    if (keepEngineTransaction(connection) != 0) return StatusBeginFailed;
    ++connection.depth;
    return StatusOk;
  }
  NodeImpl& node = *connection.node();
  monitor::EventQueue& queue = node.queue();
  CatalogMutexGuard hold(queue);
  if (dispatch && !node.dispatching()) node.dispatchPendingEvents();
  connection.abort = false;
  if (execute(connection, immediate ? kBeginImmediate : kBeginDeferred) != StatusOk)
    return StatusBeginFailed;
  // Other nodes change the schema without a change event: the view follows it here, where
  // nobody else can change it until the transaction ends.
  if (dispatch && !refreshedSchemaView(connection, node)) {
    execute(connection, kRollback);
    return StatusBeginFailed;
  }
  connection.nextIdSnapshot = queue.nextId();
  connection.maxIdSnapshot = queue.maxId();
  node.pool().addUse(connection);
  connection.undoJournal.clear();
  connection.pendingEvents.clear();
  connection.collecting = true;
  connection.holdsCatalog = true;
  hold.release();  // held until the outermost level ends
  connection.depth = 1;
  return StatusOk;
}

Status commitTransaction(NodeConnection& connection) {
  if (connection.depth.load() <= 0) {
    connection.depth = 0;
    return StatusNoTransaction;
  }
  if (--connection.depth > 0) return StatusOk;
  return endOutermost(connection);
}

Status rollbackTransaction(NodeConnection& connection) {
  connection.abort = true;
  if (connection.depth.load() <= 0) {
    connection.depth = 0;
    return StatusNoTransaction;
  }
  if (--connection.depth > 0) return StatusOk;
  return endOutermost(connection);
}

Status transactionState(const NodeConnection& connection) {
  if (connection.depth.load() <= 0) return StatusNoTransaction;
  return connection.abort.load() ? StatusMarkedForRollback : StatusInTransaction;
}

void journalUndo(NodeConnection& connection, std::function<void()> undo) {
  if (connection.depth.load() > 0 && undo) connection.undoJournal.push_back(std::move(undo));
}

void queueEvent(NodeConnection& connection, int kind, int id) {
  if (kind < monitor::kEventCatalogChanged || kind > monitor::kEventRecordDeleted) return;
  NodeImpl& node = *connection.node();
  if (node.dispatching()) return;  // applying other nodes' changes, not making our own
  if (connection.depth.load() <= 0) {
    node.queue().post(kind, kind == monitor::kEventCatalogChanged ? -1 : id);
    return;
  }
  if (!connection.collecting) return;
  if (kind == monitor::kEventCatalogChanged) {
    connection.pendingEvents.clear();
    connection.collecting = false;  // everything is rebuilt anyway
  }
  connection.pendingEvents.emplace_back(kind, id);
}

TransactionScope::TransactionScope(NodeConnection& connection, bool dispatch)
    : connection_(connection) {
  Status begun = beginTransaction(connection_, true, dispatch);
  if (begun != StatusOk) throw begun;
  active_ = true;
}

TransactionScope::TransactionScope(NodeConnection& connection, Status* begun, bool dispatch)
    : connection_(connection) {
  *begun = beginTransaction(connection_, true, dispatch);
  active_ = *begun == StatusOk;
}

TransactionScope::~TransactionScope() {
  if (active_) rollbackTransaction(connection_);
}

Status TransactionScope::commit() {
  if (!active_) return StatusNoTransaction;
  active_ = false;
  return commitTransaction(connection_);
}

Status TransactionScope::rollback() {
  if (!active_) return StatusNoTransaction;
  active_ = false;
  return rollbackTransaction(connection_);
}

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN
