// The words for each status value. The switch names every enumerator, so the compiler
// (-Wswitch) refuses a status added without its words.
#include <cstdio>

#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

const char* knownText(Status status) {
  switch (status) {
    case StatusOk:
      return "success";
    case StatusUpgradeNeeded:
      return "catalog of the earlier format, to be upgraded";
    case StatusCategoryFailed:
      return "category row or category cache failure";
    case StatusNotCatalog:
      return "not a catalog file";
    case StatusFileMismatch:
      return "catalog files not as expected";
    case StatusDeleteFailed:
      return "file could not be deleted";
    case StatusCopyFailed:
      return "file copy or move failed";
    case StatusNoFreeSlot:
      return "no free catalog slot";
    case StatusPermissionFailed:
      return "file permission or input/output failure";
    case StatusEmptyArgument:
      return "empty or invalid argument";
    case StatusNotBoundary:
      return "not on a character boundary";
    case StatusNotNumber:
      return "not a number";
    case StatusNumberTooLarge:
      return "number too large";
    case StatusExists:
      return "already exists";
    case StatusSchemaFailed:
      return "catalog schema could not be written";
    case StatusNotOpen:
      return "catalog not open (or already open)";
    case StatusSqlError:
      return "SQL error";
    case StatusNoResult:
      return "no usable result";
    case StatusUnsupported:
      return "unsupported value or option";
    case StatusCorrupt:
      return "database file corrupt";
    case StatusUpgradeFailed:
      return "catalog upgrade failed";
    case StatusRepairFailed:
      return "a repair failed";
    case StatusRemoveFailed:
      return "record could not be removed";
    case StatusNotFound:
      return "not found";
    case StatusEngineFailure:
      return "database engine failure";
    case StatusDiskFull:
      return "disk full";
    case StatusBlobFailed:
      return "blob unusable, unreadable or unwritable";
    case StatusNothingKept:
      return "no items kept";
    case StatusUnknownFormat:
      return "unknown or newer catalog format";
    case StatusOutOfBounds:
      return "out of bounds";
    case StatusConstraint:
      return "constraint violated, or stored already";
    case StatusNoId:
      return "no id";
    case StatusTableCopyFailed:
      return "table copy failed";
    case StatusWrongCatalog:
      return "objects of different catalogs";
    case StatusBadFilter:
      return "filter makes no statement";
    case StatusNotAllowed:
      return "not allowed on this category";
    case StatusNotReady:
      return "handler not ready";
    case StatusIndexFailed:
      return "element index could not be made or removed";
    case StatusBeginFailed:
      return "transaction could not begin";
    case StatusCommitFailed:
      return "commit failed, transaction undone";
    case StatusRollbackFailed:
      return "rollback failed";
    case StatusInTransaction:
      return "in a transaction";
    case StatusNoTransaction:
      return "no transaction open";
    case StatusMarkedForRollback:
      return "transaction marked for rollback";
    case StatusStopped:
      return "stopped";
    case StatusNotInParent:
      return "category not found in its parent, or membership not written";
    case StatusWriteFailed:
      return "record could not be written";
    case StatusBadMemberId:
      return "member id not positive";
    case StatusNoSuchTable:
      return "record type has no table";
    case StatusNoTargetTable:
      return "category namespace without its member table";
    case StatusEmptyCategories:
      return "would leave empty categories";
    case StatusCompactFailed:
      return "blob file could not be compacted";
    case StatusNotRead:
      return "record not read since its load";
    case StatusBadRecord:
      return "malformed record text";
    case StatusRowsDropped:
      return "rows left out while loading";
    case StatusBusy:
      return "busy: another thread has a transaction open";
    case StatusNoVersion:
      return "schema version unreadable";
    case StatusMissingAncestor:
      return "member missing from an enclosing category";
    case StatusIdCounterFailed:
      return "id counter unreadable, or ids outside its range";
    case StatusPartlyApplied:
      return "applied, but some ids do not exist";
    case StatusReadOnly:
      return "read-only";
    case StatusMutexUnrecoverable:
      return "machine-wide mutex unusable";
    case StatusSharedObjectFailed:
      return "machine-wide shared object unavailable";
  }
  return nullptr;  // no status of that value
}

}  // namespace

const char* statusText(int status) {
  if (const char* text = knownText(static_cast<Status>(status))) return text;
  thread_local char unknown[32];
  std::snprintf(unknown, sizeof unknown, "unknown status %d", status);
  return unknown;
}

}  // namespace Vendrithane
}  // namespace KESTRIN
