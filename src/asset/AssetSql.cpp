// Statement helpers of the persistence layer.
#include "asset/AssetSql.h"

#include <sqlite3.h>

#include "node/NodeConnection.h"
#include "node/Statement.h"

namespace KESTRIN {
namespace Vendrithane {
namespace assets {

bool EngineFailure::readOnly() const {
  return (code & 0xff) == SQLITE_READONLY;
}

bool EngineFailure::mentions(const char* text) const {
  return message.find(text) != std::string::npos;
}

namespace {

// Binds `texts` by their length to the parameters of `stmt` in order, passing over position
// `skip`, and steps it once; `code` is the result of preparing it. The rows changed, or -1
// with *failure filled.
int stepBound(node::NodeConnection& c, sqlite3_stmt* stmt, int code,
              const std::vector<String>& texts, int skip, EngineFailure* failure) {
  int position = 1;
  for (size_t i = 0; code == SQLITE_OK && i < texts.size(); ++i, ++position) {
    if (position == skip) ++position;
    code = sqlite3_bind_text(stmt, position, texts[i].buffer(), static_cast<int>(texts[i].length()),
                             SQLITE_STATIC);
  }
  if (code == SQLITE_OK) {
    c.execStarted();
    code = sqlite3_step(stmt);
    c.execEnded();
    if (code == SQLITE_DONE || code == SQLITE_ROW) code = SQLITE_OK;
  }
  if (code == SQLITE_OK) return sqlite3_changes(c.db());
  failure->code = code;
  const char* message = sqlite3_errmsg(c.db());
  failure->message = message ? message : sqlite3_errstr(code);
  return -1;
}

}  // namespace

int runBound(node::NodeConnection& c, const std::string& sql, const std::vector<String>& texts,
             EngineFailure* failure) {
  sqlite3_stmt* stmt = nullptr;
  const int code = sqlite3_prepare_v2(c.db(), sql.c_str(), -1, &stmt, nullptr);
  const int changed = stepBound(c, stmt, code, texts, 0, failure);
  sqlite3_finalize(stmt);
  return changed;
}

const std::string& rowStatementText(const char* format, const std::string& a, const std::string& b,
                                    const std::string& c) {
  struct Entry {
    const char* format = nullptr;  // the format, by address
    std::string a, b, c;           // its parts
    std::string text;              // the statement text
  };
  constexpr int kEntries = 4;
  static thread_local Entry entries[kEntries];
  static thread_local int nextVictim = 0;
  for (Entry& e : entries) {
    if (e.format == format && e.a == a && e.b == b && e.c == c) return e.text;
  }
  Entry& e = entries[nextVictim];
  nextVictim = (nextVictim + 1) % kEntries;
  e.text = node::sqlFormat(format, a.c_str(), b.c_str(), c.c_str());
  e.format = format;
  e.a = a;
  e.b = b;
  e.c = c;
  return e.text;
}

int runBoundWithId(node::NodeConnection& c, const std::string& sql,
                   const std::vector<String>& texts, int id, EngineFailure* failure,
                   std::string* expanded) {
  int code = SQLITE_OK;
  sqlite3_stmt* stmt = c.cachedStatement(sql, &code);
  const int idIndex = stmt ? sqlite3_bind_parameter_index(stmt, ":id") : 0;
  if (code == SQLITE_OK) code = sqlite3_bind_int(stmt, idIndex, id);
  const int changed = stepBound(c, stmt, code, texts, idIndex, failure);
  if (changed < 0) {
    char* text = stmt ? sqlite3_expanded_sql(stmt) : nullptr;
    *expanded = text ? text : sql;
    sqlite3_free(text);
  }
  if (stmt) {
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);  // the texts bound are the caller's, and go now
  }
  return changed;
}

bool runRecorded(node::NodeConnection& c, const std::string& sql, Status recordAs,
                 EngineFailure* failure) {
  char* message = nullptr;
  c.execStarted();
  const int code = sqlite3_exec(c.db(), sql.c_str(), nullptr, nullptr, &message);
  c.execEnded();
  if (code == SQLITE_OK) return true;
  failure->code = code;
  failure->message = message ? message : sqlite3_errstr(code);
  sqlite3_free(message);
  recordFailure(c, recordAs, *failure, sql);
  return false;
}

void recordFailure(node::NodeConnection& c, Status status, const EngineFailure& failure,
                   const std::string& sql) {
  c.recordError(status, failure.code, failure.message, sql);
}

Status writeStatus(const EngineFailure& failure, Status otherwise) {
  return failure.readOnly() ? StatusReadOnly : otherwise;
}

}  // namespace assets
}  // namespace Vendrithane
}  // namespace KESTRIN
