// Statement helpers of the persistence layer.
#include "asset/AssetSql.h"

#include "node/NodeConnection.h"

namespace KESTRIN {
namespace Vendrithane {
namespace assets {

namespace {

// Binds `texts` by their length to the parameters of `statement` in order, passing over
// position `skip`, and runs it once. The rows changed, or -1 with *failure filled.
int runTexts(node::Statement& statement, const std::vector<String>& texts, int skip,
             EngineFailure* failure) {
  bool ok = statement.valid();
  int position = 1;
  for (size_t i = 0; ok && i < texts.size(); ++i, ++position) {
    if (position == skip) ++position;
    ok = statement.bind(position, texts[i]);
  }
  if (ok && statement.run()) return statement.changes();
  *failure = statement.error();
  return -1;
}

}  // namespace

int runBound(node::NodeConnection& c, const std::string& sql, const std::vector<String>& texts,
             EngineFailure* failure) {
  node::Statement statement(c, sql);
  return runTexts(statement, texts, 0, failure);
}

const std::string& rowStatementText(const char* format, const std::string& table,
                                    const std::string& b, const std::string& c) {
  struct Entry {
    const char* format = nullptr;  // the format, by address
    std::string table, b, c;       // its parts, the table unquoted
    std::string text;              // the statement text
  };
  constexpr int kEntries = 4;
  static thread_local Entry entries[kEntries];
  static thread_local int nextVictim = 0;
  for (Entry& e : entries) {
    if (e.format == format && e.table == table && e.b == b && e.c == c) return e.text;
  }
  Entry& e = entries[nextVictim];
  nextVictim = (nextVictim + 1) % kEntries;
  e.text = node::sqlFormat(format, node::quoteIdentifier(table).c_str(), b.c_str(), c.c_str());
  e.format = format;
  e.table = table;
  e.b = b;
  e.c = c;
  return e.text;
}

int runBoundWithId(node::NodeConnection& c, const std::string& sql,
                   const std::vector<String>& texts, int id, EngineFailure* failure,
                   std::string* expanded) {
  node::Statement statement(c, sql, node::Statement::kCached);
  const int idIndex = statement.parameterIndex(":id");
  int changed = -1;
  if (statement.bind(idIndex, static_cast<long long>(id))) {
    changed = runTexts(statement, texts, idIndex, failure);
  } else {
    *failure = statement.error();
  }
  if (changed < 0) *expanded = statement.expandedSql();
  return changed;
}

bool runRecorded(node::NodeConnection& c, const std::string& sql, Status recordAs,
                 EngineFailure* failure) {
  if (node::execute(c, sql, failure) == StatusOk) return true;
  recordFailure(c, recordAs, *failure, sql);
  return false;
}

void recordFailure(node::NodeConnection& c, Status status, const EngineFailure& failure,
                   const std::string& sql) {
  c.recordError(status, failure.code, failure.message, sql);
}

}  // namespace assets
}  // namespace Vendrithane
}  // namespace KESTRIN
