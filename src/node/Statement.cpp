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

std::string quoteIdentifier(const char* name, size_t n) {
  std::string quoted;
  quoted.reserve(n + 2);
  quoted += '"';
  for (size_t i = 0; i < n; ++i) {
    if (name[i] == '"') quoted += '"';
    quoted += name[i];
  }
  quoted += '"';
  return quoted;
}

Status engineStatus(int engineCode) {
  switch (engineCode & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
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

bool isDamageCode(int engineCode) {
  return (engineCode & 0xff) == SQLITE_CORRUPT || (engineCode & 0xff) == SQLITE_NOTADB;
}

// Kept here, beside the statements it guards: every statement runs through it.
int keepEngineTransaction(NodeConnection& connection) {
  if (connection.depth.load() <= 0 || engineInTransaction(connection)) return SQLITE_OK;
  connection.engineLost = true;
  int code = sqlite3_exec(connection.db(), kBeginImmediate, nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) {
    connection.recordError(engineStatus(code), code, sqlite3_errmsg(connection.db()),
                           kBeginImmediate);
  }
  return code;
}

bool engineInTransaction(NodeConnection& connection) {
  return connection.db() != nullptr && sqlite3_get_autocommit(connection.db()) == 0;
}

Status execute(NodeConnection& connection, const std::string& sql, EngineError* failure) {
  if (int lost = keepEngineTransaction(connection)) {
    failure->code = lost;
    failure->message = engineMessage(connection, lost);
    return engineStatus(lost);
  }
  char* message = nullptr;
  connection.execStarted();
  int code = sqlite3_exec(connection.db(), sql.c_str(), nullptr, nullptr, &message);
  connection.execEnded();
  if (code == SQLITE_OK) return StatusOk;
  failure->code = code;
  failure->message = message ? message : sqlite3_errstr(code);
  sqlite3_free(message);
  return engineStatus(code);
}

Status execute(NodeConnection& connection, const std::string& sql) {
  EngineError failure;
  Status status = execute(connection, sql, &failure);
  if (status == StatusOk) return StatusOk;
  // A refused write is returned as 81 but kept in the record as 41, as it always was.
  Status recorded = status == StatusReadOnly ? StatusConstraint : status;
  connection.recordError(recorded, failure.code, failure.message, sql);
  return status;
}

Status queryValue(NodeConnection& connection, const std::string& sql, String* value) {
  return queryValue(connection, sql, value, Statement::kOnce);
}

Status queryValue(NodeConnection& connection, const std::string& sql, String* value,
                  Statement::Kind kind) {
  *value = "";
  for (int attempt = 0;; ++attempt) {
    Statement statement(connection, sql, kind);
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
    Status status = engineStatus(code);
    connection.recordError(status, statement.code(), engineMessage(connection, code), sql);
    return status;
  }
}

int changedRows(NodeConnection& connection) {
  return sqlite3_changes(connection.db());
}

std::vector<String> queryColumn(NodeConnection& connection, const std::string& sql) {
  std::vector<String> values;
  Statement statement(connection, sql);
  if (statement.valid()) {
    while (statement.step()) values.push_back(statement.columnText(0));
  }
  int code = statement.code() & 0xff;
  if (code != SQLITE_OK && code != SQLITE_DONE) {
    Status status = engineStatus(code);
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

Statement::Statement(NodeConnection& connection, const std::string& sql, Kind kind)
    : connection_(connection), sql_(&sql), cached_(kind == kCached) {
  if (cached_) {
    stmt_ = connection_.cachedStatement(sql, &code_);
    return;
  }
  owned_ = sql;
  sql_ = &owned_;
  code_ = sqlite3_prepare_v2(connection_.db(), owned_.c_str(), -1, &stmt_, nullptr);
  if (code_ != SQLITE_OK && stmt_) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}

Statement::~Statement() {
  if (!stmt_) return;
  if (!cached_) {
    sqlite3_finalize(stmt_);
    return;
  }
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);  // the values bound are the caller's, and go now
}

bool Statement::bind(int position, const char* text, size_t n) {
  if (!stmt_) return false;
  // By 64-bit length: a text longer than an int can count is refused (too big), never cut.
  code_ = sqlite3_bind_text64(stmt_, position, text, n, SQLITE_STATIC, SQLITE_UTF8);
  return code_ == SQLITE_OK;
}

bool Statement::bind(int position, long long value) {
  if (!stmt_) return false;
  code_ = sqlite3_bind_int64(stmt_, position, value);
  return code_ == SQLITE_OK;
}

bool Statement::bindBlob(int position, const void* bytes, unsigned long long n) {
  if (!stmt_) return false;
  code_ = n == 0 ? sqlite3_bind_zeroblob(stmt_, position, 0)
                 : sqlite3_bind_blob64(stmt_, position, bytes, n, SQLITE_STATIC);
  return code_ == SQLITE_OK;
}

bool Statement::bindNull(int position) {
  if (!stmt_) return false;
  code_ = sqlite3_bind_null(stmt_, position);
  return code_ == SQLITE_OK;
}

int Statement::parameterIndex(const char* name) const {
  return stmt_ ? sqlite3_bind_parameter_index(stmt_, name) : 0;
}

void Statement::clearBindings() {
  if (stmt_) sqlite3_clear_bindings(stmt_);
}

bool Statement::step() {
  if (!stmt_) return false;
  if (!checked_) {
    checked_ = true;
    if (int lost = keepEngineTransaction(connection_)) {
      code_ = lost;
      return false;
    }
  }
  code_ = sqlite3_step(stmt_);
  if (code_ == SQLITE_ROW) return true;
  sqlite3_reset(stmt_);  // releases the statement's locks at once
  return false;
}

bool Statement::run() {
  if (!stmt_) return false;
  if (int lost = keepEngineTransaction(connection_)) {
    code_ = lost;
    return false;
  }
  connection_.execStarted();
  code_ = sqlite3_step(stmt_);
  connection_.execEnded();
  const bool ran = code_ == SQLITE_DONE || code_ == SQLITE_ROW;
  if (!ran) sqlite3_reset(stmt_);
  return ran;
}

void Statement::reset() {
  checked_ = false;
  if (stmt_) sqlite3_reset(stmt_);
}

int Statement::changes() const {
  return changedRows(connection_);
}

EngineError Statement::error() const {
  EngineError failure;
  failure.code = code_;
  failure.message = engineMessage(connection_, code_);
  return failure;
}

std::string Statement::expandedSql() const {
  char* text = stmt_ ? sqlite3_expanded_sql(stmt_) : nullptr;
  std::string expanded = text ? text : *sql_;
  sqlite3_free(text);
  return expanded;
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

bool Statement::columnIsNull(int column) const {
  return !stmt_ || sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

long long Statement::columnInt64(int column) const {
  return stmt_ ? sqlite3_column_int64(stmt_, column) : 0;
}

const void* Statement::columnBlob(int column) const {
  return stmt_ ? sqlite3_column_blob(stmt_, column) : nullptr;
}

int Statement::columnBytes(int column) const {
  return stmt_ ? sqlite3_column_bytes(stmt_, column) : 0;
}

const char* Statement::columnName(int column) const {
  return stmt_ ? sqlite3_column_name(stmt_, column) : nullptr;
}

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN
