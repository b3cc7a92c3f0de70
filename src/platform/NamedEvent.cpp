// Pulse events on a futex generation word in shared memory.
#include "platform/NamedEvent.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/ObjectNames.h"

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

NamedEvent::NamedEvent(const std::string& name)
    : object_(objectPath(name), kObjectSize), path_(objectPath(name)) {}

uint32_t NamedEvent::snapshot() const {
  return __atomic_load_n(word(), __ATOMIC_ACQUIRE);
}

bool NamedEvent::wait(uint32_t seen, int timeoutMs) const {
  if (timeoutMs < 0) timeoutMs = 0;
  struct timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += timeoutMs / 1000;
  deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  for (;;) {
    if (snapshot() != seen) return true;
    // Shared (not private) futex: the waker is usually another process. The deadline is
    // absolute on the monotonic clock, so interruptions do not stretch the wait.
    long rc = syscall(SYS_futex, word(), FUTEX_WAIT_BITSET, seen, &deadline, nullptr,
                      FUTEX_BITSET_MATCH_ANY);
    if (rc == 0 || errno == EINTR || errno == EAGAIN) continue;  // woken, or already changed
    if (errno != ETIMEDOUT) {
      // The futex cannot be used here (e.g. refused by a seccomp filter): poll out the wait
      // rather than spin.
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
    }
    return snapshot() != seen;
  }
}

void NamedEvent::pulse() {
  __atomic_fetch_add(word(), 1u, __ATOMIC_RELEASE);
  syscall(SYS_futex, word(), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN
