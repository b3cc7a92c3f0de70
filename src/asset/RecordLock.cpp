// The recursive record lock, its pool and the process-wide default lock.
#include "asset/RecordLock.h"

#include <cassert>

#include "platform/Mutex.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

// Locks whose last reference went, ready for reuse. Never destroyed: handles in the host's
// static storage may still be released at exit.
struct LockPool {
  platform::Mutex mutex{platform::LockRank::kRecordPool, "record-lock pool lock"};  // the list
  RecordLock* free = nullptr;  // first pooled lock, linked through m_nextFree
};

LockPool& pool() {
  static LockPool* p = new LockPool;
  return *p;
}

}  // namespace

void RecordLock::dropRef() {
  if (m_refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  LockPool& p = pool();
  platform::MutexLock hold(p.mutex);
  m_nextFree = p.free;
  p.free = this;
}

RecordLock* takePooledLock() {
  LockPool& p = pool();
  platform::MutexLock hold(p.mutex);
  RecordLock* lock = p.free;
  if (lock != nullptr) {
    p.free = lock->m_nextFree;
    lock->m_nextFree = nullptr;
  }
  return lock;
}

LockRef newRecordLock() {
  RecordLock* lock = takePooledLock();
  return LockRef(lock != nullptr ? lock : new RecordLock);
}

const LockRef& defaultRecordLock() {
  static const LockRef* lock = new LockRef(newRecordLock());
  return *lock;
}

void LockSlot::store(const LockRef& lock) {
  lock->addRef();
  m_lock.exchange(lock.get(), std::memory_order_acq_rel)->dropRef();
}

HeldLock::HeldLock(const LockSlot& slot) {
  for (;;) {
    RecordLock* lock = slot.peek();
    lock->lock();
    if (slot.peek() == lock) {
      m_lock = lock;
      return;
    }
    lock->unlock();
  }
}

}  // namespace Vendrithane
}  // namespace KESTRIN
