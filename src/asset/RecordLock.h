// The recursive lock that guards an asset, its elements and their attributes, and the
// process-wide default lock of elements and attributes that have no asset.
//
// Elements and attributes hold the lock that guards them through a shared reference that
// can be re-pointed (at the default lock, when their asset goes or lets them go) while
// another thread waits for it. HeldLock therefore locks whatever the slot designates, then
// checks that the slot still designates it, and tries again otherwise; the shared
// reference keeps the lock alive while a thread waits on it.
#ifndef VENDRITHANE_ASSET_RECORDLOCK_H
#define VENDRITHANE_ASSET_RECORDLOCK_H

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

namespace KESTRIN {
namespace Vendrithane {

class RecordLock {
 public:
  void lock();
  void unlock();
  bool heldByCurrentThread() const { return m_owner.load() == std::this_thread::get_id(); }
  int depth() const { return m_depth.load(); }  // entries held, by whichever thread

 private:
  std::recursive_mutex m_mutex;            // the lock itself
  std::atomic<std::thread::id> m_owner{};  // the holding thread; none when free
  std::atomic<int> m_depth{0};             // entries held by the owner
};

using LockRef = std::shared_ptr<RecordLock>;

LockRef newRecordLock();
// The lock of elements and attributes that belong to no asset; lives as long as the process.
const LockRef& defaultRecordLock();

// Reads and re-points a lock slot; every access to a slot goes through these two.
inline LockRef loadLock(const LockRef& slot) {
  return std::atomic_load(&slot);
}
inline void storeLock(LockRef& slot, const LockRef& lock) {
  std::atomic_store(&slot, lock);
}

// Holds the lock a slot designates for its lifetime, following re-pointing (see above).
class HeldLock {
 public:
  explicit HeldLock(const LockRef& slot);
  ~HeldLock() { m_lock->unlock(); }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;

 private:
  LockRef m_lock;  // the lock taken
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_RECORDLOCK_H
