// The catalog's SQL functions and their registration. Organisation: argument helpers, the
// pure record functions (element_extract, element_drop, collaterank), the calendar functions
// and the day key, the node-bound functions that call the CatalogFunctionHost, registration.
#include "functions/SqlFunctions.h"

#include <sqlite3.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

#include "functions/ElementScan.h"
#include "vendrithane/Status.h"
#include "vendrithane/Time.h"

namespace KESTRIN {
namespace Vendrithane {
namespace functions {

namespace {

// --- Argument helpers -----------------------------------------------------------------------

// The text form of an argument; false for an SQL NULL.
bool textOf(sqlite3_value* value, std::string_view* out) {
  const unsigned char* text = sqlite3_value_text(value);
  if (text == nullptr) return false;
  *out = std::string_view(reinterpret_cast<const char*>(text),
                          static_cast<size_t>(sqlite3_value_bytes(value)));
  return true;
}

// Text result; an empty view (whatever its data pointer) gives the empty text, not NULL.
void resultText(sqlite3_context* ctx, std::string_view text) {
  sqlite3_result_text(ctx, text.empty() ? "" : text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

CatalogFunctionHost* hostOf(sqlite3_context* ctx) {
  return static_cast<CatalogFunctionHost*>(sqlite3_user_data(ctx));
}

// --- Record functions -----------------------------------------------------------------------

// element_extract(name, xml): the value of the element named exactly `name`, typed by its
// type attribute; NULL when absent, malformed, or of a type without an SQL value.
void elementExtract(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::string_view name, xml;
  if (argc < 2 || !textOf(argv[0], &name) || !textOf(argv[1], &xml)) return;
  ElementSpan span;
  if (!findElement(xml, name, &span)) return;
  const ScanType type = elementType(xml, span);
  if (type == ScanType::Other) return;
  const std::string_view raw = xml.substr(span.valueBegin, span.valueEnd - span.valueBegin);
  std::string decoded;
  std::string_view value = raw;
  if (raw.find('&') != std::string_view::npos) {
    decoded = decodeEntities(raw);
    value = decoded;
  }
  if (type == ScanType::Text) {
    resultText(ctx, value);
    return;
  }
  const std::string digits(value);
  const long long number = std::strtoll(digits.c_str(), nullptr, 10);
  if (type == ScanType::Int4) {
    sqlite3_result_int(ctx, static_cast<int32_t>(static_cast<uint32_t>(number)));
  } else {
    sqlite3_result_int64(ctx, number);  // int8 and time, both full 64-bit
  }
}

// element_drop(name, xml): xml without the first element named exactly `name`; xml as it is
// when there is no such complete element; the empty text for missing arguments.
void elementDrop(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::string_view name, xml;
  if (argc < 2 || !textOf(argv[0], &name) || !textOf(argv[1], &xml)) {
    resultText(ctx, std::string_view());
    return;
  }
  ElementSpan span;
  if (!findElement(xml, name, &span)) {
    resultText(ctx, xml);
    return;
  }
  std::string out;
  out.reserve(xml.size() - (span.end - span.open));
  out.append(xml.substr(0, span.open));
  out.append(xml.substr(span.end));
  resultText(ctx, out);
}

// collaterank(value, direction): a sort key that puts empty values last. A non-empty value
// is its own key, with its type, so that numbers sort as numbers. An empty value becomes a
// key above every number and text (a zero-length blob) for ascending order, and below every
// number and text (minus infinity) when the direction begins with 'd'.
void collateRank(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::string_view direction;
  if (argc < 2 || sqlite3_value_type(argv[0]) == SQLITE_NULL || !textOf(argv[1], &direction)) {
    return;
  }
  const int type = sqlite3_value_type(argv[0]);
  const bool empty =
      (type == SQLITE_TEXT || type == SQLITE_BLOB) && sqlite3_value_bytes(argv[0]) == 0;
  if (!empty) {
    sqlite3_result_value(ctx, argv[0]);
  } else if (!direction.empty() && direction[0] == 'd') {
    sqlite3_result_double(ctx, -HUGE_VAL);
  } else {
    sqlite3_result_zeroblob(ctx, 0);
  }
}

// --- Calendar functions ---------------------------------------------------------------------

// The time argument of a calendar function; false for a missing argument or an SQL NULL.
bool timeOf(int argc, sqlite3_value** argv, long long* t) {
  if (argc < 1 || sqlite3_value_type(argv[0]) == SQLITE_NULL) return false;
  *t = sqlite3_value_int64(argv[0]);
  return true;
}

template <int (Time::*Field)() const>
void calendarField(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  long long t;
  sqlite3_result_int(ctx, timeOf(argc, argv, &t) ? (Time(t).*Field)() : -1);
}

// inrange(t, low, high, withYear): whether t's day key lies in [low, high]; with the year
// ignored and low > high the range wraps over the end of the year. A missing value (NULL)
// lies in no range.
void inRange(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (argc < 4 || sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_int(ctx, 0);
    return;
  }
  const bool withYear = sqlite3_value_int64(argv[3]) == 1;
  const long long key = dayKey(sqlite3_value_int64(argv[0]), withYear);
  const long long low = sqlite3_value_int64(argv[1]);
  const long long high = sqlite3_value_int64(argv[2]);
  bool in;
  if (withYear || low <= high) {
    in = low <= key && key <= high;
  } else {
    in = key >= low || key <= high;
  }
  sqlite3_result_int(ctx, in ? 1 : 0);
}

// --- Node-bound functions -------------------------------------------------------------------

// Runs a host call. A Status thrown by the host fails the statement with the message
// "NAME: status N"; other exceptions never cross into the engine either.
template <class Call>
void callHost(sqlite3_context* ctx, const char* name, Call&& call) {
  try {
    call();
  } catch (Status s) {
    const std::string message = std::string(name) + ": status " + std::to_string(s);
    sqlite3_result_error(ctx, message.c_str(), -1);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(ctx);
  } catch (...) {
    const std::string message = std::string(name) + ": failed";
    sqlite3_result_error(ctx, message.c_str(), -1);
  }
}

// vd_idmap(id) and vd_catcopy(id): the host's answer, or no result.
template <bool (CatalogFunctionHost::*Method)(long long, long long*)>
void mapFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv, const char* name) {
  CatalogFunctionHost* host = hostOf(ctx);
  if (host == nullptr || argc < 1 || sqlite3_value_type(argv[0]) == SQLITE_NULL) return;
  const long long id = sqlite3_value_int64(argv[0]);
  callHost(ctx, name, [&] {
    long long mapped = 0;
    if ((host->*Method)(id, &mapped)) sqlite3_result_int64(ctx, mapped);
  });
}

void idMap(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  mapFunction<&CatalogFunctionHost::functionMapId>(ctx, argc, argv, "vd_idmap");
}

void catCopy(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  mapFunction<&CatalogFunctionHost::functionCopyCategory>(ctx, argc, argv, "vd_catcopy");
}

// vd_nextid(): a new id; 20 when there is no open catalog behind the connection.
void nextId(sqlite3_context* ctx, int, sqlite3_value**) {
  CatalogFunctionHost* host = hostOf(ctx);
  if (host == nullptr) {
    sqlite3_result_int(ctx, StatusNotOpen);
    return;
  }
  callHost(ctx, "vd_nextid", [&] {
    try {
      sqlite3_result_int(ctx, host->functionNextId());
    } catch (Status s) {
      if (s != StatusNotOpen) throw;
      sqlite3_result_int(ctx, StatusNotOpen);
    }
  });
}

// vd_cat_decendent(node, ancestor): 1 or 0; 0 also without a host or with a NULL id.
void catDescendent(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  CatalogFunctionHost* host = hostOf(ctx);
  sqlite3_result_int(ctx, 0);
  if (host == nullptr || argc < 2 || sqlite3_value_type(argv[0]) == SQLITE_NULL ||
      sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    return;
  }
  const long long node = sqlite3_value_int64(argv[0]);
  const long long ancestor = sqlite3_value_int64(argv[1]);
  callHost(ctx, "vd_cat_decendent", [&] {
    sqlite3_result_int(ctx, host->functionCategoryDescends(node, ancestor) ? 1 : 0);
  });
}

// --- Registration ---------------------------------------------------------------------------

using ScalarFunction = void (*)(sqlite3_context*, int, sqlite3_value**);

struct FunctionEntry {
  const char* name;     // SQL name
  int nArg;             // number of arguments
  bool withHost;        // user data is the host
  bool deterministic;   // a pure function of its arguments
  bool changesState;    // hands out ids or changes the catalog's copy state
  ScalarFunction call;  // the implementation
};

const FunctionEntry kFunctions[] = {
    {"element_extract", 2, false, true, false, elementExtract},
    {"element_drop", 2, false, true, false, elementDrop},
    {"collaterank", 2, false, true, false, collateRank},
    {"vd_idmap", 1, true, false, true, idMap},
    {"vd_catcopy", 1, true, false, true, catCopy},
    {"vd_nextid", 0, true, false, true, nextId},
    {"year", 1, true, false, false, calendarField<&Time::year>},
    {"month", 1, true, false, false, calendarField<&Time::month>},
    {"day", 1, true, false, false, calendarField<&Time::day>},
    {"weekday", 1, true, false, false, calendarField<&Time::dayOfWeek>},
    {"inrange", 4, true, false, false, inRange},
    {"vd_cat_decendent", 2, true, false, false, catDescendent},
};

// Cumulative days before each month in a 366-day year; index 12 closes the table.
constexpr int kDaysBeforeMonth[13] = {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366};

}  // namespace

int registerCatalogFunctions(sqlite3* db, CatalogFunctionHost* host,
                             const FunctionFailure& onFailure) {
  int failures = 0;
  for (const FunctionEntry& f : kFunctions) {
    // Pure functions may be used anywhere; those that hand out ids or change the state of a
    // copy may be called only from the library's own statements, never from a view or
    // trigger that a catalog file carries.
    int flags = SQLITE_UTF8;
    if (f.deterministic) flags |= SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    if (f.changesState) flags |= SQLITE_DIRECTONLY;
    const int rc = sqlite3_create_function(db, f.name, f.nArg, flags, f.withHost ? host : nullptr,
                                           f.call, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      ++failures;
      if (onFailure) {
        const std::string message = std::string("error creating ") + f.name + " function";
        onFailure(rc, message.c_str());
      }
    }
  }
  return failures;
}

int dayKey(long long t, bool withYear) {
  const Time time(t);
  const int month = time.month();
  long long key = time.day() + kDaysBeforeMonth[month >= 1 && month <= 12 ? month - 1 : 0];
  if (withYear) key += 366LL * time.year();
  if (key > INT_MAX) return INT_MAX;
  if (key < INT_MIN) return INT_MIN;
  return static_cast<int>(key);
}

}  // namespace functions
}  // namespace Vendrithane
}  // namespace KESTRIN
