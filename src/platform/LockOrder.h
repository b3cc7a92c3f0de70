// The lock order of the library, written once. A thread may take a lock only while every
// lock it holds comes earlier in this list; a lock it holds already may be taken again where
// that lock is recursive. Locks of one rank are never nested, except where the rank says so.
//
//  1. a Handler's delivery lock (recursive): before the per-catalog mutex, never after it;
//     then its options lock, then its results lock (both recursive), each held briefly.
//  2. a node's lifecycle lock (open, create, close, remove of one Node): only ever tried,
//     never waited for; a call that finds it taken answers 20.
//  2a. a catalog's upgrade lock (machine-wide, keyed by the catalog): taken by the open that
//     converts a catalog of the earlier storage generation, with no per-catalog mutex and
//     not the system mutex held, and kept to the end of that open, so that a second open of
//     the catalog waits and then finds the new files. Under it: the catalog's own per-catalog
//     mutex and the system mutex.
//  3. the per-catalog mutex (machine-wide, recursive): from the outermost transaction begin
//     to its end, and briefly for ids, posts, reads of the event queue and the detach. Two
//     of them (the catalog copy holds both) are taken in the order of their catalog keys,
//     by a thread that holds neither before.
//  4. a pooled record parser's lock: only ever tried; before the lock of the asset it fills.
//  5. object locks: an asset's record lock (which also guards its elements and attributes),
//     a blob's lock, a category object's lock; only after the per-catalog mutex. A thread
//     may hold several (an element and its blob, two assets of one copy).
//  6. the system mutex (machine-wide, recursive): the last machine-wide lock. Holding it, a
//     thread never waits for a per-catalog mutex, a catalog file's lock or a monitor: attach
//     and detach do their per-catalog part with it released (ids given back first), and so
//     do open's read-only copy and its reads of the catalog.
//  7. the thread-set lock of a node: a leaf; close() marks the node closing under it and
//     detaches without it.
//  8. node-local leaves, never held while taking another lock of the library (beyond those
//     listed after them): the pool lock, a connection's error lock, the name lock, the
//     tables lock, the category cache's lock, the index-map lock, the table of live assets,
//     the list of change events waiting for the node's monitor.
//  9. process-wide leaves: the record-lock pool, the registries of mappings and raw
//     descriptors, the object-name settings, the local-time lock, the number drawer, and
//     each filter's lock (nothing is released or taken under it).
//
// Clang's -Wthread-safety checks the node-local locks at compile time (GUARDED_BY, REQUIRES).
// Debug and sanitizer builds also check the order at run time: each thread keeps the locks
// it holds with their ranks, and taking a lock of an earlier rank than one held (or a second
// lock of a rank that allows one) aborts with the names of both.
#ifndef VENDRITHANE_PLATFORM_LOCKORDER_H
#define VENDRITHANE_PLATFORM_LOCKORDER_H

namespace KESTRIN {
namespace Vendrithane {
namespace platform {

enum class LockRank : int {
  kHandlerDelivery = 10,
  kHandlerState = 11,
  kHandlerResults = 12,
  kNodeLifecycle = 20,
  kUpgrade = 25,
  kCatalog = 30,
  kParser = 40,
  kObject = 50,
  kSystem = 60,
  kThreadSet = 70,
  kPool = 80,
  kConnection = 81,
  kNodeName = 82,
  kNodeTables = 83,
  kCategoryCache = 84,
  kIndexMap = 85,
  kLiveAssets = 86,
  kMonitorEvents = 87,
  kRecordPool = 90,
  kRegistry = 91,
  kRawFiles = 92,
  kObjectNames = 93,
  kLocalTime = 94,
  kNumbers = 95,
  kFilter = 96,
};

#if defined(VENDRITHANE_LOCK_ORDER_CHECK)
constexpr bool kLockOrderChecked = true;
// Called before a wait for `lock`: aborts when the calling thread holds a lock that must
// come after it. `key` orders locks of one rank that may be nested (catalog keys).
void lockOrderCheck(LockRank rank, const void* lock, const char* name, const char* key);
// The calling thread took / released `lock` (once per entry of a recursive lock).
void lockOrderHeld(LockRank rank, const void* lock, const char* name, const char* key);
void lockOrderReleased(const void* lock);
// Whether the calling thread holds `lock` (as far as the checker saw).
bool lockOrderHolds(const void* lock);
#else
constexpr bool kLockOrderChecked = false;
inline void lockOrderCheck(LockRank, const void*, const char*, const char*) {}
inline void lockOrderHeld(LockRank, const void*, const char*, const char*) {}
inline void lockOrderReleased(const void*) {}
inline bool lockOrderHolds(const void*) {
  return true;
}
#endif

}  // namespace platform
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_PLATFORM_LOCKORDER_H
