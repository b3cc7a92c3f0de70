// The run-time lock-order checker of debug and sanitizer builds.
#include "platform/LockOrder.h"

#if defined(VENDRITHANE_LOCK_ORDER_CHECK)

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

namespace {

struct HeldEntry {
  LockRank rank;     // its place in the order
  const void* lock;  // identity (a shared mapping's address for machine-wide mutexes)
  const char* name;  // for the report
  const char* key;   // order among locks of one rank, or null
};

// The locks the calling thread holds, oldest first; a recursive lock once per entry. Plain
// thread-local data with no destructor: locks are still taken while the process exits, after
// the destructors of thread-local objects have run. Entries past the capacity are counted,
// not checked.
constexpr int kCapacity = 64;
struct HeldLocks {
  HeldEntry entries[kCapacity];
  int count;     // entries in use
  int overflow;  // locks held beyond the capacity
};
thread_local HeldLocks held;

bool nests(const HeldEntry& old, LockRank rank, const char* key) {
  if (old.rank < rank) return true;
  if (old.rank > rank) return false;
  if (rank == LockRank::kObject) return true;
  if (rank == LockRank::kCatalog && old.key && key) return std::strcmp(old.key, key) < 0;
  return false;
}

[[noreturn]] void violated(const HeldEntry& old, const char* name, const char* key) {
  std::fprintf(stderr,
               "vendrithane: lock order violated: taking \"%s\"%s%s%s while holding \"%s\"%s%s%s\n",
               name, key ? " (" : "", key ? key : "", key ? ")" : "", old.name, old.key ? " (" : "",
               old.key ? old.key : "", old.key ? ")" : "");
  std::fflush(stderr);
  std::abort();
}

}  // namespace

void lockOrderCheck(LockRank rank, const void* lock, const char* name, const char* key) {
  for (int i = 0; i < held.count; ++i)
    if (held.entries[i].lock == lock) return;  // a recursive entry never waits
  for (int i = 0; i < held.count; ++i)
    if (!nests(held.entries[i], rank, key)) violated(held.entries[i], name, key);
}

void lockOrderHeld(LockRank rank, const void* lock, const char* name, const char* key) {
  if (held.count == kCapacity) {
    ++held.overflow;
    return;
  }
  held.entries[held.count++] = HeldEntry{rank, lock, name, key};
}

void lockOrderReleased(const void* lock) {
  for (int i = held.count - 1; i >= 0; --i) {
    if (held.entries[i].lock != lock) continue;
    for (int j = i + 1; j < held.count; ++j) held.entries[j - 1] = held.entries[j];
    --held.count;
    return;
  }
  if (held.overflow > 0) --held.overflow;
}

bool lockOrderHolds(const void* lock) {
  for (int i = 0; i < held.count; ++i)
    if (held.entries[i].lock == lock) return true;
  return held.overflow > 0;  // past the capacity: cannot tell, so do not fail an assertion
}

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_LOCK_ORDER_CHECK
