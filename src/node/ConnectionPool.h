// ConnectionPool: the five connection slots of an open catalog. A thread acquires one slot
// per call (nested acquisitions reuse it with a use count); a sixth thread waits in 250 ms
// steps until a slot is released. A slot whose generation stamp differs from the node's is
// refreshed when a thread newly claims it. The node counts as open exactly while slot 0 is
// filled.
//
// Thread safety: every member is safe to call from any thread; the pool lock guards the
// slots' owner and use count and is never held while sleeping or running SQL.
#ifndef VENDRITHANE_NODE_CONNECTIONPOOL_H
#define VENDRITHANE_NODE_CONNECTIONPOOL_H

#include <atomic>
#include <functional>
#include <memory>

#include "node/NodeConnection.h"
#include "platform/Mutex.h"

namespace KESTRIN {
namespace Vendrithane {
namespace node {

class ConnectionPool {
 public:
  static constexpr int kSlots = 5;     // connections per catalog
  static constexpr int kWaitMs = 250;  // a thread without a slot waits this long per try

  ConnectionPool() = default;
  ~ConnectionPool() { clear(); }
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // Fills the five slots with connections made by `make`. When one throws, the ones made
  // so far are destroyed, every slot stays empty and the Status passes on.
  void fill(const std::function<std::unique_ptr<NodeConnection>()>& make);
  // Destroys every connection; the pool is then closed. Callers make sure no other thread
  // uses one (beginClose).
  void clear();
  bool isOpen() const;

  // The slot of `thread`: its own one again (use count + 1), or a free one newly claimed
  // and refreshed when its stamp is behind. Null when the pool is closed or closing (the
  // caller returns 20). A refresh failure gives the claim back and throws its Status.
  NodeConnection* acquire(long thread);
  // One use of `thread`'s slot ends; the slot is free when its use count reaches 0.
  void release(long thread);
  // One more use of a connection its owner holds (a transaction keeps its slot with it),
  // and one use less; the slot is free when the count reaches 0.
  void addUse(NodeConnection& connection);
  void dropUse(NodeConnection& connection);
  // The connection `thread` holds now, null when none; claims nothing.
  NodeConnection* heldBy(long thread) const;
  // Calls `visit` for each slot (null when empty) under the pool lock, so that no
  // connection goes away meanwhile; `visit` must not call back into the pool.
  void visitSlots(const std::function<void(int, const NodeConnection*)>& visit) const;
  // Closing: from now on only threads that hold a slot and `closer` acquire; waits until no
  // other thread holds one.
  void beginClose(long closer);

  int generation() const { return generation_.load(); }
  void generation(int value) { generation_ = value; }
  // A schema change through `connection`: the node's generation moves on and the changing
  // connection stays current; every other one is refreshed before its next use.
  void schemaChanged(NodeConnection& connection);

  // Diagnostics and tests: the connection in slot i (may be null) and the slots in use.
  NodeConnection* slot(int i) const;
  int slotsInUse() const;

 private:
  mutable platform::Mutex lock_{platform::LockRank::kPool, "pool lock"};
  platform::ConditionVariable released_;                             // a slot was given back
  std::unique_ptr<NodeConnection> slots_[kSlots] GUARDED_BY(lock_);  // the connections
  bool closing_ GUARDED_BY(lock_) = false;                           // close in progress
  long closer_ GUARDED_BY(lock_) = 0;                                // the closing thread
  int waiters_ GUARDED_BY(lock_) = 0;  // threads waiting for a slot: only they need a wake-up
  std::atomic<int> generation_{0};     // the node's connection generation
};

// Holds the calling thread's connection for the lifetime of the lease.
class ConnectionLease {
 public:
  // Acquires for `thread` (the calling thread when 0); may throw as acquire does.
  explicit ConnectionLease(ConnectionPool& pool, long thread = 0);
  ~ConnectionLease();
  ConnectionLease(const ConnectionLease&) = delete;
  ConnectionLease& operator=(const ConnectionLease&) = delete;

  NodeConnection* get() const { return connection_; }
  NodeConnection* operator->() const { return connection_; }
  NodeConnection& operator*() const { return *connection_; }
  explicit operator bool() const { return connection_ != nullptr; }

 private:
  ConnectionPool& pool_;        // where the connection came from
  long thread_;                 // the thread it is held for
  NodeConnection* connection_;  // null when the pool is closed
};

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_CONNECTIONPOOL_H
