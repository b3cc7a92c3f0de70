// Mutex and SharedMutex: the library's process-local locks. Each has a rank in the lock
// order (platform/LockOrder.h) and a name for reports; clang's thread-safety analysis sees
// them as capabilities, and debug builds check the order at run time. MutexLock,
// ReaderLock and WriterLock hold one for a scope.
#ifndef VENDRITHANE_PLATFORM_MUTEX_H
#define VENDRITHANE_PLATFORM_MUTEX_H

#include <cassert>
#include <condition_variable>
#include <mutex>
#include <shared_mutex>

#include "platform/LockOrder.h"
#include "platform/ThreadAnnotations.h"

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex(LockRank rank, const char* name) : rank_(rank), name_(name) {}
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ACQUIRE() {
    lockOrderCheck(rank_, this, name_, nullptr);
    mutex_.lock();
    lockOrderHeld(rank_, this, name_, nullptr);
  }
  bool try_lock() TRY_ACQUIRE(true) {
    if (!mutex_.try_lock()) return false;
    lockOrderHeld(rank_, this, name_, nullptr);
    return true;
  }
  void unlock() RELEASE() {
    lockOrderReleased(this);
    mutex_.unlock();
  }
  // Tells the analysis (and, in checked builds, verifies) that the caller holds the lock.
  void assertHeld() const ASSERT_CAPABILITY(this) { assert(lockOrderHolds(this)); }

 private:
  std::mutex mutex_;
  const LockRank rank_;  // place in the lock order
  const char* name_;     // for reports
};

// A Mutex its owner may take again (each lock() needs its unlock()).
class CAPABILITY("mutex") RecursiveMutex {
 public:
  RecursiveMutex(LockRank rank, const char* name) : rank_(rank), name_(name) {}
  RecursiveMutex(const RecursiveMutex&) = delete;
  RecursiveMutex& operator=(const RecursiveMutex&) = delete;

  void lock() ACQUIRE() {
    lockOrderCheck(rank_, this, name_, nullptr);
    mutex_.lock();
    lockOrderHeld(rank_, this, name_, nullptr);
  }
  void unlock() RELEASE() {
    lockOrderReleased(this);
    mutex_.unlock();
  }

 private:
  std::recursive_mutex mutex_;
  const LockRank rank_;  // place in the lock order
  const char* name_;     // for reports
};

// Holds a RecursiveMutex for a scope.
class SCOPED_CAPABILITY RecursiveLock {
 public:
  explicit RecursiveLock(RecursiveMutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~RecursiveLock() RELEASE() { mutex_.unlock(); }
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

 private:
  RecursiveMutex& mutex_;  // the lock
};

class CAPABILITY("shared mutex") SharedMutex {
 public:
  SharedMutex(LockRank rank, const char* name) : rank_(rank), name_(name) {}
  SharedMutex(const SharedMutex&) = delete;
  SharedMutex& operator=(const SharedMutex&) = delete;

  void lock() ACQUIRE() {
    lockOrderCheck(rank_, this, name_, nullptr);
    mutex_.lock();
    lockOrderHeld(rank_, this, name_, nullptr);
  }
  void unlock() RELEASE() {
    lockOrderReleased(this);
    mutex_.unlock();
  }
  void lock_shared() ACQUIRE_SHARED() {
    lockOrderCheck(rank_, this, name_, nullptr);
    mutex_.lock_shared();
    lockOrderHeld(rank_, this, name_, nullptr);
  }
  void unlock_shared() RELEASE_SHARED() {
    lockOrderReleased(this);
    mutex_.unlock_shared();
  }

 private:
  std::shared_mutex mutex_;
  const LockRank rank_;  // place in the lock order
  const char* name_;     // for reports
};

// Holds a Mutex for a scope; unlock() and lock() let it go and take it again inside it.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  // Takes over a hold the caller has already (after a successful try_lock).
  MutexLock(Mutex& mutex, std::adopt_lock_t) REQUIRES(mutex) : mutex_(mutex) {}
  ~MutexLock() RELEASE() {
    if (held_) mutex_.unlock();
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void unlock() RELEASE() {
    mutex_.unlock();
    held_ = false;
  }
  void lock() ACQUIRE() {
    mutex_.lock();
    held_ = true;
  }

 private:
  Mutex& mutex_;      // the lock
  bool held_ = true;  // held now
};

class SCOPED_CAPABILITY ReaderLock {
 public:
  explicit ReaderLock(SharedMutex& mutex) ACQUIRE_SHARED(mutex) : mutex_(mutex) {
    mutex_.lock_shared();
  }
  ~ReaderLock() RELEASE() { mutex_.unlock_shared(); }
  ReaderLock(const ReaderLock&) = delete;
  ReaderLock& operator=(const ReaderLock&) = delete;

 private:
  SharedMutex& mutex_;  // the lock
};

class SCOPED_CAPABILITY WriterLock {
 public:
  explicit WriterLock(SharedMutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~WriterLock() RELEASE() { mutex_.unlock(); }
  WriterLock(const WriterLock&) = delete;
  WriterLock& operator=(const WriterLock&) = delete;

 private:
  SharedMutex& mutex_;  // the lock
};

// Waits on a Mutex the caller holds (released during the wait, held again after).
using ConditionVariable = std::condition_variable_any;

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_PLATFORM_MUTEX_H
