// The public transaction calls of a node, with the set of threads that have one open, the
// node-bound id function and the give-back of unused ids at the catalog's last detach.
#include "node/IdAllocator.h"
#include "node/NodeImpl.h"
#include "node/Transaction.h"
#include "platform/SystemInfo.h"

namespace KESTRIN {
namespace Vendrithane {

void NodeImpl::dropThreadEntry(long thread, bool all) {
  auto found = threadSet_.find(thread);
  if (found == threadSet_.end()) return;
  if (all) {
    threadSet_.erase(thread);
  } else {
    threadSet_.erase(found);
  }
}

// The thread enters the set before it looks at the node; a begin that fails takes its entry
// out again, so that a failed begin never keeps close() at 77.
Status NodeImpl::transactionBegin(bool noBlock) {
  long me = platform::threadId();
  platform::MutexLock threads(threadSetLock_);
  if (closing_) return StatusNotOpen;
  if (noBlock) {
    for (long other : threadSet_)
      if (other != me) return StatusBusy;
  }
  threadSet_.insert(me);
  // The catalog mutex is waited for without the set's lock: its holder may need the lock
  // (a level of its own on this node, the end of its transaction). Once this thread is in
  // the set, other no-wait begins answer 77 all the same.
  threads.unlock();
  Status status;
  try {
    node::ConnectionLease lease(pool_);
    status = lease ? node::beginTransaction(*lease) : StatusNotOpen;
  } catch (...) {
    threads.lock();
    dropThreadEntry(me, false);
    throw;
  }
  if (status != StatusOk) {
    threads.lock();
    dropThreadEntry(me, false);
  }
  return status;
}

// The thread leaves the set once its transaction has ended, not after a nested level: it
// keeps close() at 77 and transactionBeginNoBlock() of other threads at 77 while open.
Status NodeImpl::endTransactionLevel(Status (*end)(node::NodeConnection&)) {
  long me = platform::threadId();
  Status status;
  bool ended;
  {
    node::ConnectionLease lease(pool_, me);
    if (!lease) return StatusNotOpen;
    status = end(*lease);
    ended = lease->depth.load() == 0;
  }  // the slot goes back before the thread-set lock is taken
  if (ended) {
    platform::MutexLock threads(threadSetLock_);
    dropThreadEntry(me, true);
  }
  return status;
}

Status NodeImpl::transactionCommit() {
  return endTransactionLevel(node::commitTransaction);
}

Status NodeImpl::transactionRollback() {
  return endTransactionLevel(node::rollbackTransaction);
}

Status NodeImpl::transactionState() {
  node::ConnectionLease lease(pool_);
  if (!lease) return StatusNotOpen;
  return node::transactionState(*lease);
}

// vd_nextid(): an id drawn on the calling thread's connection. An id that cannot be had
// fails the statement rather than handing -1 to it.
int NodeImpl::functionNextId() {
  node::ConnectionLease lease(pool_);
  if (!lease) throw StatusNotOpen;
  int id = node::nextId(*lease);
  if (id < 0) throw StatusEngineFailure;
  return id;
}

Status NodeImpl::giveBackUnusedIds() {
  node::ConnectionLease lease(pool_);
  if (!lease) return StatusOk;  // no connection left: the ids stay reserved, a gap only
  return node::giveBackIds(*lease);
}

}  // namespace Vendrithane
}  // namespace KESTRIN
