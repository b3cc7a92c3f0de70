// Slot claiming, waiting, refreshing and closing of the connection pool.
#include "node/ConnectionPool.h"

#include <chrono>

#include "platform/SystemInfo.h"

namespace KESTRIN {
namespace Vendrithane {
namespace node {

void ConnectionPool::fill(const std::function<std::unique_ptr<NodeConnection>()>& make) {
  std::unique_ptr<NodeConnection> made[kSlots];
  for (auto& connection : made) connection = make();  // a throw destroys the ones made
  platform::MutexLock hold(lock_);
  for (int i = 0; i < kSlots; ++i) slots_[i] = std::move(made[i]);
  closing_ = false;
  closer_ = 0;
}

void ConnectionPool::clear() {
  std::unique_ptr<NodeConnection> dropped[kSlots];
  {
    platform::MutexLock hold(lock_);
    for (int i = 0; i < kSlots; ++i) dropped[i] = std::move(slots_[i]);
    closing_ = false;
    closer_ = 0;
  }
  released_.notify_all();  // waiters see the pool closed
}  // the connections close their handles here, outside the lock

bool ConnectionPool::isOpen() const {
  platform::MutexLock hold(lock_);
  return slots_[0] != nullptr;
}

NodeConnection* ConnectionPool::acquire(long thread) {
  NodeConnection* chosen = nullptr;
  {
    platform::MutexLock hold(lock_);
    for (;;) {
      if (!slots_[0]) return nullptr;
      chosen = nullptr;
      for (auto& slot : slots_) {
        if (!slot) continue;
        if (slot->owner_ == thread) {
          ++slot->useCount_;
          return slot.get();  // in use by this thread already: never refreshed under it
        }
        if (slot->owner_ == 0) chosen = slot.get();  // the last free slot seen
      }
      if (closing_ && thread != closer_) return nullptr;
      if (chosen) break;
      ++waiters_;
      released_.wait_for(hold, std::chrono::milliseconds(kWaitMs));
      --waiters_;
    }
    chosen->owner_ = thread;
    chosen->useCount_ = 1;
  }
  if (chosen->stamp() != generation_.load()) {
    try {
      chosen->refresh(generation_.load());
    } catch (...) {
      release(thread);
      throw;
    }
  }
  return chosen;
}

void ConnectionPool::release(long thread) {
  bool wake = false;
  {
    platform::MutexLock hold(lock_);
    for (int i = kSlots - 1; i >= 0; --i) {
      NodeConnection* slot = slots_[i].get();
      if (!slot || slot->owner_ != thread) continue;
      if (--slot->useCount_ <= 0) {
        slot->useCount_ = 0;
        slot->owner_ = 0;
        wake = waiters_ > 0;
      }
      break;
    }
  }
  if (wake) released_.notify_all();
}

void ConnectionPool::addUse(NodeConnection& connection) {
  platform::MutexLock hold(lock_);
  ++connection.useCount_;
}

void ConnectionPool::dropUse(NodeConnection& connection) {
  {
    platform::MutexLock hold(lock_);
    if (--connection.useCount_ > 0) return;
    connection.useCount_ = 0;
    connection.owner_ = 0;
    if (waiters_ == 0) return;
  }
  released_.notify_all();
}

NodeConnection* ConnectionPool::heldBy(long thread) const {
  platform::MutexLock hold(lock_);
  for (auto& slot : slots_)
    if (slot && slot->owner_ == thread) return slot.get();
  return nullptr;
}

void ConnectionPool::visitSlots(
    const std::function<void(int, const NodeConnection*)>& visit) const {
  platform::MutexLock hold(lock_);
  for (int i = 0; i < kSlots; ++i) visit(i, slots_[i].get());
}

void ConnectionPool::beginClose(long closer) {
  platform::MutexLock hold(lock_);
  closing_ = true;
  closer_ = closer;
  ++waiters_;
  released_.wait(hold, [&] {
    for (auto& slot : slots_)
      if (slot && slot->owner_ != 0 && slot->owner_ != closer) return false;
    return true;
  });
  --waiters_;
}

void ConnectionPool::schemaChanged(NodeConnection& connection) {
  connection.stamp(++generation_);
}

NodeConnection* ConnectionPool::slot(int i) const {
  platform::MutexLock hold(lock_);
  return i >= 0 && i < kSlots ? slots_[i].get() : nullptr;
}

int ConnectionPool::slotsInUse() const {
  platform::MutexLock hold(lock_);
  int used = 0;
  for (auto& slot : slots_) used += slot && slot->owner_ != 0;
  return used;
}

ConnectionLease::ConnectionLease(ConnectionPool& pool, long thread)
    : pool_(pool), thread_(thread ? thread : platform::threadId()), connection_(nullptr) {
  connection_ = pool_.acquire(thread_);
}

ConnectionLease::~ConnectionLease() {
  if (connection_) pool_.release(thread_);
}

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN
