// NamedMutex: a machine-wide mutex, recursive per thread and robust against owners that
// die while holding it. Waits are unbounded.
#ifndef VENDRITHANE_PLATFORM_NAMEDMUTEX_H
#define VENDRITHANE_PLATFORM_NAMEDMUTEX_H

#include <string>

#include "platform/SharedObject.h"

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

class NamedMutex {
 public:
  static constexpr size_t kObjectSize = 64;  // bytes of the object file (the pthread mutex)

  NamedMutex() = default;
  // Opens or makes the mutex called `name` ("Global\..." object name), not owned.
  // Throws StatusSharedObjectFailed.
  explicit NamedMutex(const std::string& name);

  bool valid() const { return object_.valid(); }
  const std::string& path() const { return path_; }

  // Waits for the mutex without limit. Returns true when a previous owner died holding it:
  // the caller then owns it (count 1) and must treat what it guards as possibly half-changed.
  // Throws StatusMutexUnrecoverable when a dead owner left it unusable.
  bool lock();
  void unlock();  // the calling thread must own it
  void close() { object_.reset(); }

 private:
  SharedObject object_;  // the mapped mutex object
  std::string path_;     // its file
};

// Holds a NamedMutex for the lifetime of the guard.
class NamedMutexHold {
 public:
  explicit NamedMutexHold(NamedMutex& mutex) : mutex_(mutex) { abandoned_ = mutex_.lock(); }
  ~NamedMutexHold() { mutex_.unlock(); }
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
