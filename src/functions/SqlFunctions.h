// The catalog's own SQL functions, registered on every catalog connection: reading and
// dropping one element of a record's XML, the collation rank, calendar fields of time
// values, the day-range test, category descent, and the id functions of the id allocator
// and of catalog copies.
#ifndef VENDRITHANE_FUNCTIONS_SQLFUNCTIONS_H
#define VENDRITHANE_FUNCTIONS_SQLFUNCTIONS_H

#include <functional>

struct sqlite3;

namespace KESTRIN {
namespace Vendrithane {
namespace functions {

// What the node-bound functions need from their catalog. The node implements it; each
// method runs on the thread stepping the statement, on that thread's connection.
class CatalogFunctionHost {
 public:
  virtual ~CatalogFunctionHost() = default;
  // A new id from the catalog's id counter; throws a Status (StatusNotOpen when closed).
  virtual int functionNextId() = 0;
  // Whether category `node` is `ancestor` or lies below it (both loaded in memory).
  virtual bool functionCategoryDescends(long long node, long long ancestor) = 0;
  // The destination id of source record `id` during a catalog copy; false: no result.
  virtual bool functionMapId(long long id, long long* mapped) = 0;
  // The destination counterpart of source category `id` during a catalog copy.
  virtual bool functionCopyCategory(long long id, long long* mapped) = 0;
};

// Called once per function whose registration failed, with the engine's result code and
// the message "error creating NAME function".
using FunctionFailure = std::function<void(int engineCode, const char* message)>;

// Registers the twelve functions on `db`, in their fixed order, each with text
// representation "any". `host` may be null (the node-bound functions then give no result,
// vd_nextid 20, vd_cat_decendent 0). A Status thrown by the host (other than StatusNotOpen
// from functionNextId, which gives 20) fails the calling statement with the SQL error
// message "NAME: status N". Failures are reported through `onFailure` (when given) and
// registration goes on. Returns the number of failures.
int registerCatalogFunctions(sqlite3* db, CatalogFunctionHost* host,
                             const FunctionFailure& onFailure);

// The day key of a time value: the day of a 366-day year (1 January is 1, 29 February 60,
// 1 March 61, 31 December 366) in local time, plus 366 x year when withYear, so that keys
// grow with the date and no two dates share one. The one definition shared by the inrange
// function and the date-range expression builder.
int dayKey(long long t, bool withYear);

}  // namespace functions
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_FUNCTIONS_SQLFUNCTIONS_H
