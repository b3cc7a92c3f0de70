// The library's status codes. Operations on a catalog return one of these as an int (0 on
// success); value conversions, bounds checks and the builders throw one as an exception of
// type Status. The numbers are part of the interface: hosts compare against them directly.
#ifndef VENDRITHANE_STATUS_H
#define VENDRITHANE_STATUS_H

#include "vendrithane/Export.h"

namespace KESTRIN {
namespace Vendrithane {

// The underlying type is fixed so that any int converts to a Status without surprise.
enum Status : int {
  StatusOk = 0,                   // success
  StatusUpgradeNeeded = 1,        // format check: the catalog is of the earlier generation
  StatusCategoryFailed = 4,       // a category row could not be deleted, or the category cache
                                  //   does not match the catalog
  StatusNotCatalog = 5,           // the main file cannot be read or is not a catalog file
  StatusFileMismatch = 9,         // the catalog's files are not as expected (an old catalog
                                  // that already has a blob file; no main file to back up)
  StatusDeleteFailed = 10,        // an existing file could not be deleted
  StatusCopyFailed = 11,          // a file copy or move failed
  StatusNoFreeSlot = 12,          // every catalog slot of the machine-wide section is in use
  StatusPermissionFailed = 13,    // a file permission could not be set
  StatusEmptyArgument = 14,       // an argument that must not be empty is empty
  StatusNotBoundary = 15,         // a byte position is not on a character boundary
  StatusNotNumber = 16,           // the text is not a number
  StatusNumberTooLarge = 17,      // the number does not fit in 32 bits
  StatusExists = 18,              // the object exists already
  StatusSchemaFailed = 19,        // the schema or the catalog id could not be written
  StatusNotOpen = 20,             // catalog not open (or already open)
  StatusSqlError = 22,            // SQL error
  StatusNoResult = 23,            // a query gave no usable result (no row, or no column)
  StatusUnsupported = 24,         // unsupported value or option
  StatusCorrupt = 25,             // the database file is corrupt
  StatusUpgradeFailed = 26,       // an old catalog could not be converted
  StatusRepairFailed = 27,        // a repair failed (every repair of the run was undone)
  StatusRemoveFailed = 29,        // a record or its memberships could not be removed
  StatusNotFound = 30,            // not found
  StatusEngineFailure = 31,       // other database-engine failure
  StatusDiskFull = 32,            // not enough free space
  StatusBlobFailed = 33,          // a blob is unusable, or could not be read or written
  StatusNothingKept = 34,         // the handler keeps no items to narrow
  StatusUnknownFormat = 36,       // the catalog is of an unknown format or newer than the library
  StatusOutOfBounds = 37,         // an index, count or length lies outside its object
  StatusConstraint = 41,          // constraint violated, or the record is stored already
  StatusNoId = 42,                // the record or category has no id (never stored, or undone)
  StatusTableCopyFailed = 43,     // a table could not be copied while it was rebuilt
  StatusWrongCatalog = 44,        // objects of two different catalogs were combined
  StatusBadFilter = 45,           // the filter makes no statement: an offset without a limit,
                                  //   or a member order with other terms or without a category
  StatusNotReady = 46,            // the handler is not ready (reset() it), or keeps nothing
  StatusNotAllowed = 47,          // not allowed on a namespace root, or the category is gone
  StatusIndexFailed = 48,         // an element index could not be made or removed
  StatusBeginFailed = 54,         // the engine refused to begin a transaction
  StatusCommitFailed = 55,        // the engine refused to commit (the transaction was undone)
  StatusRollbackFailed = 56,      // the engine refused to roll back
  StatusInTransaction = 57,       // transactionState: a transaction is open
  StatusNoTransaction = 58,       // no transaction is open
  StatusMarkedForRollback = 59,   // transactionState: open, and will be rolled back
  StatusStopped = 60,             // the operation was stopped
  StatusWriteFailed = 61,         // a record could not be written
  StatusNotInParent = 62,         // the category is not a stored child of its parent, or a
                                  // membership row could not be written
  StatusBadMemberId = 63,         // a member id is not positive
  StatusNoSuchTable = 64,         // the record type has no table (not declared, or dropped)
  StatusNoTargetTable = 65,       // a category namespace's members have no table
  StatusEmptyCategories = 67,     // it would leave empty categories that are not to be kept
  StatusCompactFailed = 68,       // the blob file could not be compacted
  StatusNotRead = 70,             // the record was not read since its load: nothing to write
  StatusBadRecord = 71,           // the record text is malformed (nested or unmatched tags)
  StatusRowsDropped = 74,         // rows were left out while loading, or a query failed
  StatusBusy = 77,                // another thread has a transaction open
  StatusNoVersion = 78,           // the schema version could not be read
  StatusMissingAncestor = 79,     // a category's member is missing from the category above it
  StatusIdCounterFailed = 80,     // the catalog's id counter could not be read, or ids lie
                                  // outside the range it handed out
  StatusReadOnly = 81,            // the database is read-only
  StatusPartlyApplied = 83,       // applied, but some ids did not exist
  StatusMutexUnrecoverable = 90,  // a machine-wide mutex was left unusable by a dead owner
  StatusSharedObjectFailed = 91,  // a machine-wide shared object could not be made or mapped
};

// A short, general meaning of a status value for messages, such as "not found" for 30 (the
// caller adds what it knows of the context). Never null or empty: a value that is no status
// gives "unknown status N", kept in a buffer of the calling thread that the next such call
// on the thread reuses. Thread-safe; allocates nothing.
VENDRITHANE_API const char* statusText(int status);

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_STATUS_H
