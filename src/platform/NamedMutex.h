// NamedMutex: a machine-wide mutex, recursive per thread and robust against owners that
// die while holding it. Waits are unbounded. Each has a rank in the lock order
// (platform/LockOrder.h); the per-catalog ones are ordered among themselves by their keys.
#ifndef VENDRITHANE_PLATFORM_NAMEDMUTEX_H
#define VENDRITHANE_PLATFORM_NAMEDMUTEX_H

#include <string>

#include "platform/LockOrder.h"
#include "platform/SharedObject.h"
#include "platform/ThreadAnnotations.h"

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

class CAPABILITY("machine-wide mutex") NamedMutex {
 public:
  static constexpr size_t kObjectSize = 64;  // bytes of the object file (the pthread mutex)

  NamedMutex() = default;
  // Opens or makes the mutex called `name` ("Global\..." object name), not owned, with its
  // rank and (for per-catalog mutexes) the key that orders it. Throws
  // StatusSharedObjectFailed.
  explicit NamedMutex(const std::string& name, LockRank rank = LockRank::kCatalog,
                      const std::string& key = std::string());

  bool valid() const { return object_.valid(); }
  const std::string& path() const { return path_; }

  // Waits for the mutex without limit. Returns true when a previous owner died holding it:
  // the caller then owns it (count 1) and must treat what it guards as possibly half-changed.
  // Throws StatusMutexUnrecoverable when a dead owner left it unusable.
  bool lock() ACQUIRE();
  // Takes the mutex when no other thread holds it, else returns false at once (it never
  // waits, so the lock order does not apply). *abandoned as lock() returns it. Throws as
  // lock() does.
  bool tryLock(bool* abandoned) TRY_ACQUIRE(true);
  void unlock() RELEASE();  // the calling thread must own it
  void close() { object_.reset(); }
  // Tells the analysis (and, in checked builds, verifies) that this thread holds it: for
  // the per-catalog mutex, taken by an outermost transaction begin and released by its end.
  void assertHeld() const ASSERT_CAPABILITY(this);

 private:
  // The mutex came back from a lock call with `rc`: made consistent when its owner died, and
  // noted as held. Returns whether the owner had died; throws when the lock failed.
  bool taken(int rc);

  SharedObject object_;                 // the mapped mutex object
  std::string path_;                    // its file
  LockRank rank_ = LockRank::kCatalog;  // place in the lock order
  std::string key_;                     // order among mutexes of its rank
};

// Holds a NamedMutex for the lifetime of the guard.
class SCOPED_CAPABILITY NamedMutexHold {
 public:
  explicit NamedMutexHold(NamedMutex& mutex) ACQUIRE(mutex) : mutex_(mutex) {
    abandoned_ = mutex_.lock();
  }
  ~NamedMutexHold() RELEASE() { mutex_.unlock(); }
  NamedMutexHold(const NamedMutexHold&) = delete;
  NamedMutexHold& operator=(const NamedMutexHold&) = delete;
  bool abandoned() const { return abandoned_; }  // the previous owner had died holding it

 private:
  NamedMutex& mutex_;  // the held mutex
  bool abandoned_;     // result of the lock
};

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_PLATFORM_NAMEDMUTEX_H
