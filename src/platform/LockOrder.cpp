// The run-time lock-order checker of debug and sanitizer builds.
#include "platform/LockOrder.h"

#if defined(VENDRITHANE_LOCK_ORDER_CHECK)

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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

// The locks the calling thread holds, oldest first; a recursive lock once per entry.
std::vector<HeldEntry>& held() {
  thread_local std::vector<HeldEntry> entries;
  return entries;
}

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
  const std::vector<HeldEntry>& entries = held();
  for (const HeldEntry& entry : entries)
    if (entry.lock == lock) return;  // a recursive entry never waits
  for (const HeldEntry& entry : entries)
    if (!nests(entry, rank, key)) violated(entry, name, key);
}

void lockOrderHeld(LockRank rank, const void* lock, const char* name, const char* key) {
  held().push_back(HeldEntry{rank, lock, name, key});
}

void lockOrderReleased(const void* lock) {
  std::vector<HeldEntry>& entries = held();
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (it->lock == lock) {
      entries.erase(std::next(it).base());
      return;
    }
  }
}

bool lockOrderHolds(const void* lock) {
  for (const HeldEntry& entry : held())
    if (entry.lock == lock) return true;
  return false;
}

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_LOCK_ORDER_CHECK
