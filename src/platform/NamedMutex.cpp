// Robust, recursive, process-shared pthread mutexes in object files.
#include "platform/NamedMutex.h"

#include <pthread.h>

#include <cassert>
#include <cerrno>

#include "platform/ObjectNames.h"
#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

static_assert(sizeof(pthread_mutex_t) <= NamedMutex::kObjectSize, "mutex object too small");

namespace {

void initMutex(void* addr) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(static_cast<pthread_mutex_t*>(addr), &attr);
  pthread_mutexattr_destroy(&attr);
}

}  // namespace

NamedMutex::NamedMutex(const std::string& name, LockRank rank, const std::string& key)
    : object_(objectPath(name), kObjectSize, initMutex),
      path_(objectPath(name)),
      rank_(rank),
      key_(key) {}

bool NamedMutex::lock() {
  auto* mutex = static_cast<pthread_mutex_t*>(object_.data());
  const char* key = key_.empty() ? nullptr : key_.c_str();
  lockOrderCheck(rank_, mutex, path_.c_str(), key);
  int rc;
  do {
    rc = pthread_mutex_lock(mutex);
  } while (rc == EINTR);
  return taken(rc);
}

bool NamedMutex::tryLock(bool* abandoned) {
  int rc = pthread_mutex_trylock(static_cast<pthread_mutex_t*>(object_.data()));
  if (rc == EBUSY) return false;
  *abandoned = taken(rc);
  return true;
}

bool NamedMutex::taken(int rc) {
  auto* mutex = static_cast<pthread_mutex_t*>(object_.data());
  if (rc == EOWNERDEAD) {
    pthread_mutex_consistent(mutex);
  } else if (rc != 0) {
    // ENOTRECOVERABLE, a damaged object, or EAGAIN: the recursion limit reached, which no
    // amount of retrying would change.
    throw StatusMutexUnrecoverable;
  }
  object_.noteHeld();
  lockOrderHeld(rank_, mutex, path_.c_str(), key_.empty() ? nullptr : key_.c_str());
  return rc == EOWNERDEAD;
}

void NamedMutex::unlock() {
  auto* mutex = static_cast<pthread_mutex_t*>(object_.data());
  if (mutex == nullptr) return;  // closed: nothing of it is held through this handle
  lockOrderReleased(mutex);
  pthread_mutex_unlock(mutex);
  object_.noteReleased();
}

void NamedMutex::assertHeld() const {
  assert(lockOrderHolds(object_.data()));
}

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN
