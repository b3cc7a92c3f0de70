// The statement helpers of a catalog connection: the one statement wrapper (compiled for
// one use, or borrowed from the connection's compiled statements), the execute and query
// entry points, and the one table that maps the engine's result codes to Status values.
// Every statement of the library runs through them, so every one is kept inside the
// engine's transaction while a level is open (keepEngineTransaction).
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

// A table, column or index name as SQL: in double quotes, each '"' inside doubled. Every
// name that becomes SQL goes through it (values are bound or %Q-quoted instead).
std::string quoteIdentifier(const char* name, size_t n);
inline std::string quoteIdentifier(const std::string& name) {
  return quoteIdentifier(name.data(), name.size());
}
inline std::string quoteIdentifier(const String& name) {
  return quoteIdentifier(name.buffer(), name.length());
}

// The one table of the engine's results: 0 (done, a row) → 0, 1 → 22, 8 → 81, 10 → 13,
// 11 → 25, 13 → 32, 19 → 41, others → 31.
Status engineStatus(int engineCode);
// Whether the engine's result says the file is damaged or not a database at all.
bool isDamageCode(int engineCode);

constexpr int kEngineNoMemory = 7;  // the engine's result for a failed allocation

// An engine failure: its result code and message (code 0 when none).
struct EngineError {
  int code = 0;         // the engine's result code
  std::string message;  // the engine's message
  Status status() const { return engineStatus(code); }
  bool readOnly() const { return status() == StatusReadOnly; }
  // The status of a failed write: 81 when the file is read-only, else `otherwise`.
  Status writeStatus(Status otherwise) const { return readOnly() ? StatusReadOnly : otherwise; }
  bool mentions(const char* text) const { return message.find(text) != std::string::npos; }
};

// Runs a statement text (several statements allowed) without result rows. Never throws
// a Status; a failure is recorded on the connection and its status returned. Inside a
// transaction it never runs outside the engine's (keepEngineTransaction).
Status execute(NodeConnection& connection, const std::string& sql);
// The same, with the failure given to the caller in *failure instead of recorded.
Status execute(NodeConnection& connection, const std::string& sql, EngineError* failure);

// The first column of the first row in *value. 30 (recorded as 23, "no records found")
// when there is no row, 23 when rows have no column, otherwise the query status. A failure
// to open a file is retried once at once. *value is "" on failure. (An overload below
// takes the statement from the connection's compiled statements.)
Status queryValue(NodeConnection& connection, const std::string& sql, String* value);

// Whether the engine has a transaction open on the connection.
bool engineInTransaction(NodeConnection& connection);

// Rows changed by the connection's last statement that changed rows.
int changedRows(NodeConnection& connection);

// The first column of every row. Throws the query status (recorded) on failure.
std::vector<String> queryColumn(NodeConnection& connection, const std::string& sql);

// Whether the catalog has a table of that name. Throws 31 (recorded) on an engine failure.
bool tableExists(NodeConnection& connection, const std::string& name);

// A prepared statement on a connection. Rows are read with step(); a statement without
// rows runs with run(). Values are bound by position, without a copy: they must outlive
// the run. A statement compiled for one use is finalized by the destructor; one borrowed
// from the connection's compiled statements (kCached) is reset and its bindings cleared by
// the destructor, so that no lock and no pointer to the caller's values outlives it.
class Statement {
 public:
  enum Kind { kOnce, kCached };

  // Compiles the first statement of `sql` (or finds it compiled, kCached: then `sql` must
  // outlive the statement, which keeps no copy of it); code() tells the engine's result.
  Statement(NodeConnection& connection, const std::string& sql, Kind kind = kOnce);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool valid() const { return stmt_ != nullptr; }
  int code() const { return code_; }  // the last engine result (prepare, bind or step)
  // Whether the last result is a failure (not done, a row or ok).
  bool failed() const { return engineStatus(code_) != StatusOk; }
  const std::string& sql() const { return *sql_; }

  // Binding by 1-based position; false (see code()) when the engine refuses. A blob of
  // length 0 is an empty blob, never NULL.
  bool bind(int position, const char* text, size_t n);
  bool bind(int position, const String& text) {
    return bind(position, text.buffer(), text.length());
  }
  bool bind(int position, long long value);
  bool bindBlob(int position, const void* bytes, unsigned long long n);
  bool bindNull(int position);
  int parameterIndex(const char* name) const;  // 0 when there is none of that name
  void clearBindings();

  // Advances to the next row: true on a row, false when done or failed (see code()).
  bool step();
  // Runs the statement to its first row or its end: true unless it failed (see code()).
  bool run();
  void reset();
  int changes() const;  // rows changed by the last run
  // The engine's failure (code and message) after a false valid(), bind, step or run.
  EngineError error() const;
  // The text with the bound values in place, for an error record; sql() when unavailable.
  std::string expandedSql() const;

  int columnCount() const;
  String columnText(int column) const;  // "" for NULL
  bool columnIsNull(int column) const;
  long long columnInt64(int column) const;
  const void* columnBlob(int column) const;  // null for NULL or an empty blob
  int columnBytes(int column) const;
  const char* columnName(int column) const;

 private:
  NodeConnection& connection_;    // the connection it runs on
  std::string owned_;             // the text of a statement compiled for one use
  const std::string* sql_;        // the statement text (owned_, or the caller's)
  sqlite3_stmt* stmt_ = nullptr;  // the compiled statement, null when it failed to compile
  int code_ = 0;                  // last engine result
  bool cached_ = false;           // borrowed from the connection: reset, not finalized
  bool checked_ = false;          // kept inside the engine's transaction before stepping
};

// queryValue with the statement compiled for one use (kOnce) or kept compiled on the
// connection (kCached), for a text run again and again.
Status queryValue(NodeConnection& connection, const std::string& sql, String* value,
                  Statement::Kind kind);

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_STATEMENT_H
