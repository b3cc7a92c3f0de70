// The reading of a table's column declarations and the rebuild of a table without one
// promoted column. The rebuilt table declares every kept column as the old one did, so the
// primary key of an own-table type (vd_id INTEGER PRIMARY KEY, the rowid) survives and
// loads by id stay lookups.
#include <strings.h>

#include <algorithm>
#include <utility>

#include "asset/AssetSql.h"
#include "asset/AssetStatements.h"
#include "asset/ElementIndex.h"
#include "node/NodeConnection.h"
#include "node/Statement.h"

namespace KESTRIN {
namespace Vendrithane {
namespace assets {

namespace {

std::string text(const String& s) {
  return std::string(s.buffer(), s.length());
}

// Records the failure of a query that ended with `code` and returns its status.
Status queryFailure(node::NodeConnection& c, const node::Statement& statement, Status recordAs) {
  c.recordError(recordAs, statement.code(), statement.error().message, statement.sql());
  return recordAs;
}

// "name type [PRIMARY KEY] [NOT NULL] [DEFAULT expr]" for one kept column, its name quoted.
std::string definition(const TableColumn& column, bool inlineKey) {
  std::string d = node::quoteIdentifier(column.name);
  if (!column.type.empty()) d += " " + column.type;
  if (inlineKey && column.primaryKey > 0) d += " PRIMARY KEY";
  if (column.notNull) d += " NOT NULL";
  if (column.hasDefault) d += " DEFAULT " + column.defaultValue;
  return d;
}

}  // namespace

std::string indexStem(const std::string& table, const std::string& column) {
  std::string name = table + "_" + column;
  std::replace(name.begin() + static_cast<long>(table.size()) + 1, name.end(), ',', '_');
  return name + "_idx";
}

std::string indexName(const std::string& table, const std::string& column) {
  return node::quoteIdentifier(indexStem(table, column));
}

Status tableColumns(node::NodeConnection& c, const std::string& table,
                    std::vector<TableColumn>* columns) {
  columns->clear();
  node::Statement info(c, node::sqlFormat(kTableInfo, table.c_str()));
  while (info.step()) {
    TableColumn column;
    column.name = text(info.columnText(1));
    column.type = text(info.columnText(2));
    column.notNull = info.columnInt64(3) != 0;
    column.defaultValue = text(info.columnText(4));  // the expression text; NULL reads ""
    column.hasDefault = !column.defaultValue.empty();
    column.primaryKey = static_cast<int>(info.columnInt64(5));
    columns->push_back(std::move(column));
  }
  if (info.failed()) return queryFailure(c, info, node::engineStatus(info.code()));
  return StatusOk;
}

Status rebuildWithout(node::NodeConnection& c, const std::string& table,
                      const std::string& column) {
  std::vector<TableColumn> columns;
  if (tableColumns(c, table, &columns) != StatusOk || columns.empty()) {
    c.recordError(StatusIndexFailed, 0, "no columns read",
                  node::sqlFormat(kTableInfo, table.c_str()));
    return StatusIndexFailed;
  }
  std::vector<String> indexes;
  const std::string indexSql = node::sqlFormat(kSelectTableIndexes, table.c_str());
  {
    node::Statement saved(c, indexSql);
    while (saved.step()) indexes.push_back(saved.columnText(0));
    if (saved.failed()) return queryFailure(c, saved, StatusIndexFailed);
  }

  std::vector<const TableColumn*> kept;
  for (const TableColumn& candidate : columns)
    if (strcasecmp(candidate.name.c_str(), column.c_str()) != 0) kept.push_back(&candidate);
  std::vector<const TableColumn*> key;
  for (const TableColumn* k : kept)
    if (k->primaryKey > 0) key.push_back(k);
  std::sort(key.begin(), key.end(), [](const TableColumn* a, const TableColumn* b) {
    return a->primaryKey < b->primaryKey;
  });
  const bool inlineKey = key.size() == 1;
  std::string names, definitions;
  for (const TableColumn* k : kept) {
    if (!names.empty()) {
      names += ",";
      definitions += ", ";
    }
    names += node::quoteIdentifier(k->name);
    definitions += definition(*k, inlineKey);
  }
  if (key.size() > 1) {
    definitions += ", PRIMARY KEY (";
    for (size_t i = 0; i < key.size(); ++i)
      definitions += (i ? "," : "") + node::quoteIdentifier(key[i]->name);
    definitions += ")";
  }

  const std::string quoted = node::quoteIdentifier(table);
  const std::string scratch = node::quoteIdentifier(kRebuildPrefix + table);
  const char* t = quoted.c_str();
  const char* s = scratch.c_str();
  const std::string copy =
      node::sqlFormat(kRebuildTable, s, definitions.c_str(), s, names.c_str(), t, t, s, t);
  EngineFailure failure;
  if (!runRecorded(c, copy, StatusTableCopyFailed, &failure)) return StatusTableCopyFailed;
  for (const String& index : indexes) {
    if (!runRecorded(c, text(index), StatusIndexFailed, &failure)) return StatusIndexFailed;
  }
  return StatusOk;
}

}  // namespace assets
}  // namespace Vendrithane
}  // namespace KESTRIN
