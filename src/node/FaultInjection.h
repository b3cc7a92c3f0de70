// Test-only fault injection in the catalog VFS: a process-wide switch that makes the Nth call
// of one kind of file operation (read, write, sync, truncate, lock, delete) on the catalog's
// files fail with a chosen engine result, once or from then on. The calls counted are those
// that go through the catalog VFS: reads, writes, syncs, truncations and locks of main and
// attached catalog files and of their rollback journals, and the deletion of any file through
// the layer (journals at commit).
//
// Not part of the public interface. While the switch is off the layer pays one relaxed
// atomic load per call; every function here is thread-safe.
#ifndef VENDRITHANE_NODE_FAULTINJECTION_H
#define VENDRITHANE_NODE_FAULTINJECTION_H

#include <atomic>

namespace KESTRIN {
namespace Vendrithane {
namespace node {

// The kinds of file operation that can be made to fail.
enum class FaultKind : int {
  Read = 0,      // xRead
  Write = 1,     // xWrite
  Sync = 2,      // xSync
  Truncate = 3,  // xTruncate
  Lock = 4,      // xLock (catalogs use a rollback journal: there is no shared-memory lock)
  Delete = 5,    // the VFS's xDelete
};
constexpr int kFaultKinds = 6;

// "read", "write", "sync", "truncate", "lock" or "delete".
const char* faultKindName(FaultKind kind);

// What the switch fails: call number `nth` (1 = the next one) of `kind`, counted from the
// arming, returns the engine result `code` (an SQLITE_IOERR_* code, SQLITE_FULL,
// SQLITE_READONLY, ...) without doing its work; when `sticky`, so does every later call of
// that kind, as a full disk stays full.
struct FaultPlan {
  FaultKind kind;  // the operation that fails
  long nth;        // the first failing call, counted from 1
  int code;        // the engine result it gives
  bool sticky;     // every call from nth on fails
};

// Arms the switch with `plan`; the call counters of every kind restart at 0.
void setFaultForTesting(const FaultPlan& plan);
// Counts the calls of every kind (from 0) and fails none: a clean run's figures.
void countFaultCallsForTesting();
// Turns the switch off: nothing is counted or failed any more; the counters keep their values.
void clearFaultForTesting();
// The calls of `kind` seen since the switch was last armed or set to count.
long faultCallsForTesting(FaultKind kind);
// How many calls the armed plan has failed so far.
long faultsInjectedForTesting();

namespace detail {
extern std::atomic<bool> g_faultSwitchOn;  // counting or armed
int injectedFaultSlow(FaultKind kind);
}  // namespace detail

// For the catalog VFS: the engine result a call of `kind` is to give instead of doing its
// work, or 0 (SQLITE_OK) to go on. Counts the call while the switch is on.
inline int injectedFault(FaultKind kind) {
  if (!detail::g_faultSwitchOn.load(std::memory_order_relaxed)) return 0;
  return detail::injectedFaultSlow(kind);
}

// Test-only crash points of the backup, the restore and the upgrade: the process ends at once, as
// if killed, right after step `step` (from 0) of the files' rename set; the removals of the set
// come first, then the blob file's rename, then the main file's.
enum class CrashPoint : int {
  None = 0,
  BackupRenames = 1,   // the rename set of a backup
  RestoreRenames = 2,  // the rename set of a restore
  UpgradeRenames = 3,  // the rename set that puts an upgraded catalog in place
  UpgradeBackups = 4,  // step 0: the conversion is done; 1: the old files' backups are made
};
constexpr int kCrashExitCode = 86;  // the exit status of a crash point
void setCrashPointForTesting(CrashPoint point, long step);
// For the node layer: ends the process when `point` and `step` are the armed ones.
void crashPoint(CrashPoint point, long step);

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_FAULTINJECTION_H
