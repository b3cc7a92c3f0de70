// The statement helpers of a catalog connection: a prepared statement that finalizes
// itself, and the execute and query entry points that map the engine's result codes to
// Status values and record every failure on the connection's last-error record.
#ifndef VENDRITHANE_NODE_STATEMENT_H
#define VENDRITHANE_NODE_STATEMENT_H

#include <string>
#include <vector>

#include "vendrithane/Status.h"
#include "vendrithane/String.h"

struct sqlite3_stmt;

namespace KESTRIN {
namespace Vendrithane {
namespace node {

class NodeConnection;

// The engine's printf-style formatter ("%Q" quoted and NULL-safe, "%q" inside quotes,
// "%d" for ids). Throws std::bad_alloc when the engine has no memory.
std::string sqlFormat(const char* format, ...);

// Status of a failed execution (1 → 22, 8 → 81, 10 → 13, 11 → 25, 13 → 32, 19 → 41,
// others → 31) and of a failed query (1 → 22, 10 → 13, 11 → 25, 13 → 32, others → 31).
Status execStatus(int engineCode);
Status queryStatus(int engineCode);
// Whether the engine's result says the file is damaged or not a database at all.
bool isDamageCode(int engineCode);

// Runs a statement text (several statements allowed) without result rows. Never throws
// a Status; a failure is recorded on the connection and its status returned. Inside a
// transaction it never runs outside the engine's (keepEngineTransaction).
Status execute(NodeConnection& connection, const std::string& sql);

// The first column of the first row in *value. 30 (recorded as 23, "no records found")
// when there is no row, 23 when rows have no column, otherwise the query status. A failure
// to open a file is retried once at once. *value is "" on failure.
Status queryValue(NodeConnection& connection, const std::string& sql, String* value);

// The first column of every row. Throws the query status (recorded) on failure.
std::vector<String> queryColumn(NodeConnection& connection, const std::string& sql);

// Whether the catalog has a table of that name. Throws 31 (recorded) on an engine failure.
bool tableExists(NodeConnection& connection, const std::string& name);

// A prepared statement on a connection, finalized by the destructor. Rows are read with
// step(); reset() ends a read early so that the connection keeps no lock between calls.
class Statement {
 public:
  // Compiles the first statement of `sql`; code() tells the engine's result.
  Statement(NodeConnection& connection, const std::string& sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool valid() const { return stmt_ != nullptr; }
  int code() const { return code_; }  // the last engine result (prepare or step)
  const std::string& sql() const { return sql_; }

  // Advances to the next row: true on a row, false when done or failed (see code()).
  bool step();
  void reset();
  int columnCount() const;
  String columnText(int column) const;  // "" for NULL
  long long columnInt64(int column) const;

 private:
  NodeConnection& connection_;    // the connection it runs on
  std::string sql_;               // the statement text
  sqlite3_stmt* stmt_ = nullptr;  // the compiled statement, null when it failed to compile
  int code_ = 0;                  // last engine result
};

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_STATEMENT_H
