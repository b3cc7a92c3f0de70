// Transactions on a catalog connection: nestable per thread, with the per-catalog mutex held
// from the outermost begin to the outermost end, the id block snapshotted at the outermost
// begin and put back by a rollback, an undo journal of in-memory changes run in reverse by a
// rollback, and the change events of the transaction published when it commits.
//
// Every function runs on the connection's owner thread; the connection belongs to an open
// node. No failure path leaves the mutex, a level or the extra connection use behind: a
// failing begin holds nothing, a failing COMMIT or ROLLBACK undoes the transaction and
// releases everything before it reports 55 or 56.
#ifndef VENDRITHANE_NODE_TRANSACTION_H
#define VENDRITHANE_NODE_TRANSACTION_H

#include <functional>

#include "monitor/EventQueue.h"
#include "platform/ThreadAnnotations.h"
#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {

namespace node {

class NodeConnection;

// Holds the per-catalog mutex (recursive for its owner thread) until destroyed or released.
// Throws as EventQueue::lock does.
class SCOPED_CAPABILITY CatalogMutexGuard {
 public:
  explicit CatalogMutexGuard(monitor::EventQueue& queue) ACQUIRE(queue.catalogMutex());
  ~CatalogMutexGuard() RELEASE();
  CatalogMutexGuard(const CatalogMutexGuard&) = delete;
  CatalogMutexGuard& operator=(const CatalogMutexGuard&) = delete;
  void release() { held_ = false; }  // the hold now belongs to someone else

 private:
  monitor::EventQueue& queue_;  // whose mutex is held
  bool held_ = true;            // unlock at destruction
};

// Begins a level. The outermost one takes the per-catalog mutex, applies pending change
// events of other nodes (when `dispatch` and no dispatch runs on the node), runs
// "BEGIN IMMEDIATE;" (or "BEGIN;"), refreshes the node's schema view (when `dispatch`;
// NodeImpl::refreshSchemaView), snapshots nextId and maxId, takes one extra use of the
// connection and starts an empty undo journal and event list. Returns 0, or 54 with nothing
// held; throws what the mutex throws.
Status beginTransaction(NodeConnection& connection, bool immediate = true, bool dispatch = true);
// Ends a level. The outermost commits (or rolls back when a level was rolled back) and then
// publishes the pending events. 0, 55 (COMMIT failed; undone), 56 (ROLLBACK failed), 58.
Status commitTransaction(NodeConnection& connection);
// Ends a level and marks the transaction for rollback; the outermost rolls back.
// 0, 56, 58.
Status rollbackTransaction(NodeConnection& connection);
// 57 open, 59 open and marked for rollback, 58 none.
Status transactionState(const NodeConnection& connection);

// Keeps the levels of the connection inside an engine transaction. A failing statement (an
// I/O error, a full disk, no memory) can make the engine undo the whole transaction by
// itself; what the levels run afterwards would then be committed statement by statement.
// When that has happened the transaction is noted as lost (its outermost commit reports 55,
// nothing of it is kept) and the engine's transaction is begun again to hold the rest until
// the outermost end rolls it back. Returns the engine's result of that begin (recorded when
// it fails), SQLITE_OK at once when no level is open or the engine's transaction is there.
int keepEngineTransaction(NodeConnection& connection);

// Adds an action that undoes an in-memory change of the open transaction; a rollback runs
// the actions newest first, a commit drops them. Without a transaction it is dropped.
void journalUndo(NodeConnection& connection, std::function<void()> undo);
// Queues a change event (kind 1 to 7) for publication at the outermost commit. A kind 1
// replaces everything queued before it and ends the collection; changes made while the node
// dispatches events are not collected. Without a transaction the event is posted at once.
void queueEvent(NodeConnection& connection, int kind, int id);

// One transaction level, rolled back by the destructor unless commit() or rollback() ended
// it first.
class TransactionScope {
 public:
  // Begins a level; throws the begin's status (54) on failure.
  explicit TransactionScope(NodeConnection& connection, bool dispatch = true);
  // Begins a level; on failure *begun holds the status and the scope is inactive.
  TransactionScope(NodeConnection& connection, Status* begun, bool dispatch = true);
  ~TransactionScope();
  TransactionScope(const TransactionScope&) = delete;
  TransactionScope& operator=(const TransactionScope&) = delete;

  bool active() const { return active_; }
  Status commit();    // ends the level as commitTransaction does
  Status rollback();  // ends the level as rollbackTransaction does

 private:
  NodeConnection& connection_;  // where the level was begun
  bool active_ = false;         // begun and not yet ended
};

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_TRANSACTION_H
