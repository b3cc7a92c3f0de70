// The recursive record lock and the process-wide default lock.
#include "asset/RecordLock.h"

namespace KESTRIN {
namespace Vendrithane {

void RecordLock::lock() {
  m_mutex.lock();
  m_owner.store(std::this_thread::get_id());
  m_depth.fetch_add(1);
}

void RecordLock::unlock() {
  if (m_depth.fetch_sub(1) == 1) m_owner.store(std::thread::id());
  m_mutex.unlock();
}

LockRef newRecordLock() {
  return std::make_shared<RecordLock>();
}

const LockRef& defaultRecordLock() {
  // Never destroyed: handles in the host's static storage may still be released at exit.
  static const LockRef* lock = new LockRef(newRecordLock());
  return *lock;
}

HeldLock::HeldLock(const LockRef& slot) {
  for (;;) {
    LockRef lock = loadLock(slot);
    lock->lock();
    if (loadLock(slot) == lock) {
      m_lock = std::move(lock);
      return;
    }
    lock->unlock();
  }
}

}  // namespace Vendrithane
}  // namespace KESTRIN
