// The statement helpers: formatting, execution, one-value and one-column queries, and the
// prepared-statement wrapper. Every engine failure is recorded on the connection.
#include "node/Statement.h"

#include <sqlite3.h>

#include <cstdarg>
#include <new>

#include "node/NodeConnection.h"
#include "node/Statements.h"
#include "node/Transaction.h"

namespace KESTRIN {
namespace Vendrithane {
namespace node {

namespace {

constexpr char kNoRecords[] = "no records found";
constexpr char kNoColumns[] = "bogus result set with 0 columns";

std::string engineMessage(NodeConnection& connection, int code) {
  const char* text = connection.db() ? sqlite3_errmsg(connection.db()) : nullptr;
  return text ? text : sqlite3_errstr(code);
}

}  // namespace

std::string sqlFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char* text = sqlite3_vmprintf(format, args);
  va_end(args);
  if (!text) throw std::bad_alloc();
  std::string result(text);
  sqlite3_free(text);
  return result;
}

Status execStatus(int engineCode) {
  switch (engineCode & 0xff) {
    case SQLITE_OK:
      return StatusOk;
    case SQLITE_ERROR:
      return StatusSqlError;
    case SQLITE_READONLY:
      return StatusReadOnly;
    case SQLITE_IOERR:
      return StatusPermissionFailed;
    case SQLITE_CORRUPT:
      return StatusCorrupt;
    case SQLITE_FULL:
      return StatusDiskFull;
    case SQLITE_CONSTRAINT:
      return StatusConstraint;
    default:
      return StatusEngineFailure;
  }
}

Status queryStatus(int engineCode) {
  switch (engineCode & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return StatusOk;
    case SQLITE_ERROR:
      return StatusSqlError;
    case SQLITE_IOERR:
      return StatusPermissionFailed;
    case SQLITE_CORRUPT:
      return StatusCorrupt;
    case SQLITE_FULL:
      return StatusDiskFull;
    default:
      return StatusEngineFailure;
  }
}

bool isDamageCode(int engineCode) {
  return (engineCode & 0xff) == SQLITE_CORRUPT || (engineCode & 0xff) == SQLITE_NOTADB;
}

Status execute(NodeConnection& connection, const std::string& sql) {
  if (int lost = keepEngineTransaction(connection)) return execStatus(lost);
  char* message = nullptr;
  connection.execStarted();
  int code = sqlite3_exec(connection.db(), sql.c_str(), nullptr, nullptr, &message);
  connection.execEnded();
  if (code == SQLITE_OK) return StatusOk;
  Status status = execStatus(code);
  // A refused write is returned as 81 but kept in the record as 41, as it always was.
  Status recorded = status == StatusReadOnly ? StatusConstraint : status;
  connection.recordError(recorded, code, message ? message : sqlite3_errstr(code), sql);
  sqlite3_free(message);
  return status;
}

Status queryValue(NodeConnection& connection, const std::string& sql, String* value) {
  *value = "";
  for (int attempt = 0;; ++attempt) {
    Statement statement(connection, sql);
    bool row = statement.valid() && statement.step();
    int code = statement.code() & 0xff;
    if (code == SQLITE_CANTOPEN && attempt == 0) continue;  // once more, at once
    if (row) {
      if (statement.columnCount() == 0) {
        connection.recordError(StatusNoResult, 0, kNoColumns, sql);
        return StatusNoResult;
      }
      *value = statement.columnText(0);
      return StatusOk;
    }
    if (code == SQLITE_OK || code == SQLITE_DONE) {
      connection.recordError(StatusNoResult, 0, kNoRecords, sql);
      return StatusNotFound;
    }
    Status status = queryStatus(code);
    connection.recordError(status, statement.code(), engineMessage(connection, code), sql);
    return status;
  }
}

std::vector<String> queryColumn(NodeConnection& connection, const std::string& sql) {
  std::vector<String> values;
  Statement statement(connection, sql);
  if (statement.valid()) {
    while (statement.step()) values.push_back(statement.columnText(0));
  }
  int code = statement.code() & 0xff;
  if (code != SQLITE_OK && code != SQLITE_DONE) {
    Status status = queryStatus(code);
    connection.recordError(status, statement.code(), engineMessage(connection, code), sql);
    throw status;
  }
  return values;
}

bool tableExists(NodeConnection& connection, const std::string& name) {
  std::string sql = sqlFormat(kSelectTableNamed, name.c_str());
  Statement statement(connection, sql);
  bool row = statement.valid() && statement.step();
  int code = statement.code() & 0xff;
  if (!row && code != SQLITE_OK && code != SQLITE_DONE) {
    connection.recordError(StatusEngineFailure, statement.code(), engineMessage(connection, code),
                           sql);
    throw StatusEngineFailure;
  }
  return row && statement.columnCount() > 0;
}

Statement::Statement(NodeConnection& connection, const std::string& sql)
    : connection_(connection), sql_(sql) {
  code_ = sqlite3_prepare_v2(connection_.db(), sql_.c_str(), -1, &stmt_, nullptr);
  if (code_ != SQLITE_OK && stmt_) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}

Statement::~Statement() {
  if (stmt_) sqlite3_finalize(stmt_);
}

bool Statement::step() {
  if (!stmt_) return false;
  code_ = sqlite3_step(stmt_);
  if (code_ == SQLITE_ROW) return true;
  sqlite3_reset(stmt_);  // releases the statement's locks at once
  return false;
}

void Statement::reset() {
  if (stmt_) sqlite3_reset(stmt_);
}

int Statement::columnCount() const {
  return stmt_ ? sqlite3_column_count(stmt_) : 0;
}

String Statement::columnText(int column) const {
  if (!stmt_) return String();
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  if (!text) return String();
  int n = sqlite3_column_bytes(stmt_, column);
  return String(reinterpret_cast<const char*>(text), static_cast<unsigned>(n));
}

long long Statement::columnInt64(int column) const {
  return stmt_ ? sqlite3_column_int64(stmt_, column) : 0;
}

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN
