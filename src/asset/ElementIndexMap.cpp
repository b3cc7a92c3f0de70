// The node's map of promoted element columns and its loading from vd_idx.
#include "asset/ElementIndexMap.h"

#include <set>

#include "asset/AssetStatements.h"
#include "asset/ElementIndex.h"
#include "node/NodeConnection.h"
#include "node/Statement.h"

namespace KESTRIN {
namespace Vendrithane {
namespace assets {

int ElementIndexMap::flags(const std::string& table, const std::string& column) const {
  platform::MutexLock hold(lock_);
  auto t = tables_.find(table);
  if (t == tables_.end()) return -1;
  auto c = t->second.find(column);
  return c == t->second.end() ? -1 : c->second;
}

void ElementIndexMap::set(const std::string& table, const std::string& column, int flags) {
  platform::MutexLock hold(lock_);
  tables_[table][column] = flags;
}

void ElementIndexMap::erase(const std::string& table, const std::string& column) {
  platform::MutexLock hold(lock_);
  auto t = tables_.find(table);
  if (t == tables_.end()) return;
  t->second.erase(column);
  if (t->second.empty()) tables_.erase(t);
}

std::map<std::string, int> ElementIndexMap::eraseTable(const std::string& table) {
  platform::MutexLock hold(lock_);
  std::map<std::string, int> held;
  auto t = tables_.find(table);
  if (t == tables_.end()) return held;
  held.swap(t->second);
  tables_.erase(t);
  return held;
}

void ElementIndexMap::clear() {
  platform::MutexLock hold(lock_);
  tables_.clear();
}

std::vector<std::string> ElementIndexMap::columns(const std::string& table) const {
  std::vector<std::string> names;
  platform::MutexLock hold(lock_);
  auto t = tables_.find(table);
  if (t == tables_.end()) return names;
  names.reserve(t->second.size());
  for (const auto& column : t->second) names.push_back(column.first);
  return names;
}

std::vector<ElementIndexMap::Entry> ElementIndexMap::entries() const {
  std::vector<Entry> all;
  platform::MutexLock hold(lock_);
  for (const auto& t : tables_)
    for (const auto& c : t.second) all.push_back({t.first, c.first, c.second});
  return all;
}

Status ElementIndexMap::load(node::NodeConnection& connection) {
  std::map<std::string, std::map<std::string, int>> loaded;
  {
    node::Statement rows(connection, kSelectDeclarations);
    while (rows.step()) {
      const String column = rows.columnText(0), table = rows.columnText(1);
      loaded[std::string(table.buffer(), table.length())]
            [std::string(column.buffer(), column.length())] = static_cast<int>(rows.columnInt64(2));
    }
    if (rows.failed()) {
      const node::EngineError failure = rows.error();
      connection.recordError(failure.status(), failure.code, failure.message, rows.sql());
      return failure.status();
    }
  }
  // Declarations outliving their table or column (a type dropped and declared anew) are
  // left out: their column must not appear in the writes of the table.
  for (auto t = loaded.begin(); t != loaded.end();) {
    std::vector<TableColumn> present;
    const Status status = tableColumns(connection, t->first, &present);
    if (status != StatusOk) return status;
    std::set<std::string> names;
    for (const TableColumn& c : present) names.insert(c.name);
    for (auto c = t->second.begin(); c != t->second.end();)
      c = names.count(c->first) ? std::next(c) : t->second.erase(c);
    t = t->second.empty() ? loaded.erase(t) : std::next(t);
  }
  platform::MutexLock hold(lock_);
  tables_.swap(loaded);
  return StatusOk;
}

}  // namespace assets
}  // namespace Vendrithane
}  // namespace KESTRIN
