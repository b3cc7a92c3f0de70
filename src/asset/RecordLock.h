// The recursive lock that guards an asset, its elements and their attributes, and the
// process-wide default lock of elements and attributes that have no asset. It is an object
// lock of the lock order (platform/LockOrder.h): taken after the per-catalog mutex.
//
// Elements and attributes hold the lock that guards them through a slot that can be
// re-pointed (at the default lock, when their asset goes or lets them go) while another
// thread waits for it. HeldLock therefore locks whatever the slot designates, then checks
// that the slot still designates it, and tries again otherwise.
//
// Locks are counted by the references on them (LockRef, and one per slot designating the
// lock) and are never freed: a lock whose last reference goes is kept for reuse. A thread
// that read a slot can therefore always lock what it read, even if the slot was re-pointed
// and the lock reused meanwhile (the check after locking sees the change); reading a slot
// costs one atomic load, with no reference counting on the way.
#ifndef VENDRITHANE_ASSET_RECORDLOCK_H
#define VENDRITHANE_ASSET_RECORDLOCK_H

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/LockOrder.h"

namespace KESTRIN {
namespace Vendrithane {

class RecordLock {
 public:
  RecordLock() = default;
  RecordLock(const RecordLock&) = delete;
  RecordLock& operator=(const RecordLock&) = delete;

  // Inline: taken several times for every element a host sets or a record holds.
  void lock() {
    const std::thread::id self = std::this_thread::get_id();
    // Only this thread stores its own id, so a match cannot be stale.
    if (m_owner.load(std::memory_order_relaxed) != self) {
      platform::lockOrderCheck(platform::LockRank::kObject, this, "record lock", nullptr);
      m_mutex.lock();
      m_owner.store(self, std::memory_order_relaxed);
      platform::lockOrderHeld(platform::LockRank::kObject, this, "record lock", nullptr);
    }
    m_depth.store(m_depth.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  }
  void unlock() {
    const int depth = m_depth.load(std::memory_order_relaxed) - 1;
    m_depth.store(depth, std::memory_order_relaxed);
    if (depth != 0) return;
    platform::lockOrderReleased(this);
    m_owner.store(std::thread::id(), std::memory_order_relaxed);
    m_mutex.unlock();
  }
  bool heldByCurrentThread() const {
    return m_owner.load(std::memory_order_relaxed) == std::this_thread::get_id();
  }
  int depth() const { return m_depth.load(); }  // entries held, by whichever thread

  // Reference counting of pooled locks (see above); blobs embed a lock and never use these.
  void addRef() { m_refs.fetch_add(1, std::memory_order_relaxed); }
  void dropRef();

 private:
  friend RecordLock* takePooledLock();

  std::mutex m_mutex;                      // taken by the first entry of the owner
  std::atomic<std::thread::id> m_owner{};  // the holding thread; none when free
  std::atomic<int> m_depth{0};             // entries held by the owner (it alone changes it)
  std::atomic<int> m_refs{0};              // references while in use; 0 in the pool
  RecordLock* m_nextFree = nullptr;        // the pool's list link
};

// A counted reference on a pooled lock.
class LockRef {
 public:
  LockRef() = default;
  explicit LockRef(RecordLock* lock) : m_lock(lock) {
    if (m_lock != nullptr) m_lock->addRef();
  }
  LockRef(const LockRef& other) : LockRef(other.m_lock) {}
  LockRef(LockRef&& other) noexcept : m_lock(other.m_lock) { other.m_lock = nullptr; }
  LockRef& operator=(LockRef other) noexcept {
    std::swap(m_lock, other.m_lock);
    return *this;
  }
  ~LockRef() {
    if (m_lock != nullptr) m_lock->dropRef();
  }
  RecordLock* get() const { return m_lock; }
  RecordLock& operator*() const { return *m_lock; }
  RecordLock* operator->() const { return m_lock; }

 private:
  RecordLock* m_lock = nullptr;  // the lock; null for none
};

// A lock from the pool (or a new one), with a first reference.
LockRef newRecordLock();
// The lock of elements and attributes that belong to no asset; lives as long as the process.
const LockRef& defaultRecordLock();

// The re-pointable designation of the lock that guards an element or attribute; it holds
// one reference on the lock it designates.
class LockSlot {
 public:
  explicit LockSlot(const LockRef& lock) : m_lock(lock.get()) { m_lock.load()->addRef(); }
  ~LockSlot() { m_lock.load()->dropRef(); }
  LockSlot(const LockSlot&) = delete;
  LockSlot& operator=(const LockSlot&) = delete;

  // The lock designated now, without a reference: it may be re-pointed at any time unless
  // the caller holds it.
  RecordLock* peek() const { return m_lock.load(std::memory_order_acquire); }
  // A reference on the lock designated now. The caller holds that lock, so that the slot
  // cannot be re-pointed meanwhile.
  LockRef ref() const { return LockRef(peek()); }
  // Re-points the slot at `lock`. The caller holds the lock designated until now.
  void store(const LockRef& lock);

 private:
  std::atomic<RecordLock*> m_lock;  // never null
};

// Holds the lock a slot designates for its lifetime, following re-pointing (see above).
class HeldLock {
 public:
  explicit HeldLock(const LockSlot& slot);
  ~HeldLock() { m_lock->unlock(); }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;

 private:
  RecordLock* m_lock;  // the lock taken (pooled locks stay valid for ever)
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_RECORDLOCK_H
