// Asset types: the name rules, declaration, the declared check, destruction of both kinds
// and the listing of the catalog's tables.
#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "asset/AssetImpl.h"
#include "asset/AssetSql.h"
#include "asset/AssetStatements.h"
#include "asset/CatalogAssets.h"
#include "asset/ElementIndex.h"
#include "asset/IndexAndMembership.h"
#include "monitor/EventKinds.h"
#include "node/LayerHooks.h"
#include "node/NodeImpl.h"
#include "node/Statement.h"
#include "node/Statements.h"
#include "node/Transaction.h"

namespace KESTRIN {
namespace Vendrithane {
namespace assets {

namespace {

String lowered(const char* name) {
  String lower(name);
  lower.makeLower();
  return lower;
}

std::string text(const String& s) {
  return std::string(s.buffer(), s.length());
}

bool isAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

Status destroyCollectionType(NodeImpl& node, const String& name) {
  node::ConnectionLease lease(node.pool());
  if (!lease) return StatusNotOpen;
  Status begun = StatusOk;
  node::TransactionScope scope(*lease, &begun);
  if (begun != StatusOk) return begun;
  // Only categories that hold a record of the type and nothing else count: one already
  // empty blocks nothing. The check runs before the memberships go.
  bool empty = false;
  Status status = emptyCategoriesLeft(
      *lease, node::sqlFormat(kCreateTypeCheck, name.buffer(), name.buffer()), &empty);
  if (status != StatusOk) return status;
  if (empty) return StatusEmptyCategories;
  status = node::execute(*lease, node::sqlFormat(kDeleteTypeMemberships, name.buffer()));
  if (status != StatusOk) return status;
  for (const char* step : {kDeleteTypeBlobsShared, kDeleteTypeRows}) {
    status = node::execute(*lease, node::sqlFormat(step, name.buffer()));
    if (status != StatusOk) return status;
  }
  status = node::execute(*lease, kDropCheck);
  if (status != StatusOk) return status;
  // Other nodes read everything anew; this one, its populations.
  node.categoryLayer().reloadPopulations(*lease);
  node::queueEvent(*lease, monitor::kEventCatalogChanged, 0);
  return scope.commit();
}

Status destroyOwnType(NodeImpl& node, const String& name) {
  node::ConnectionLease lease(node.pool());
  if (!lease) return StatusNotOpen;
  Status begun = StatusOk;
  node::TransactionScope scope(*lease, &begun);
  if (begun != StatusOk) return begun;
  if (!isOwnTableType(node, name)) return StatusNotFound;
  Status status = destroyTypeNamespaces(*lease, node, name);
  if (status != StatusOk) return status;
  // Its promotions go with the table: a type declared anew under the name starts without.
  status = assets::forgetTableIndexes(*lease, node, text(name));
  if (status != StatusOk) return status;
  const std::string quoted = node::quoteIdentifier(name);
  for (const char* step : {kDeleteTypeBlobs, kDropTypeTable}) {
    status = node::execute(*lease, node::sqlFormat(step, quoted.c_str()));
    if (status != StatusOk) return status;
  }
  const std::string table = text(name);
  node.dropKnownTable(table);
  NodeImpl* owner = &node;
  node::journalUndo(*lease, [owner, table] { owner->addKnownTable(table); });
  node::queueEvent(*lease, monitor::kEventCatalogChanged, 0);
  return scope.commit();
}

}  // namespace

bool isPlainIdentifier(const String& name) {
  const char* p = name.buffer();
  const size_t n = name.length();
  if (n == 0 || !(isAsciiLetter(p[0]) || p[0] == '_')) return false;
  for (size_t i = 1; i < n; ++i) {
    if (!(isAsciiLetter(p[i]) || p[i] == '_' || (p[i] >= '0' && p[i] <= '9'))) return false;
  }
  return true;
}

bool isOwnTableType(NodeImpl& node, const String& name) {
  return isPlainIdentifier(name) && std::strstr(name.buffer(), kReservedInfix) == nullptr &&
         node.knownTable(text(name));
}

bool isOwnTableTypeNow(NodeImpl& node, node::NodeConnection& c, const String& name) {
  if (isOwnTableType(node, name)) return true;
  if (!isPlainIdentifier(name)) return false;
  // A failing read is no answer: "not declared" would send the caller the wrong way.
  const Status refreshed = node.refreshSchemaView(c);
  if (refreshed != StatusOk) throw refreshed;  // recorded
  return isOwnTableType(node, name);
}

std::string tableOf(const AssetImpl& asset) {
  return asset.inCollection ? std::string(kAssetsTable) : text(asset.typeName);
}

Status declareType(NodeImpl& node, const char* rawName, bool inCollection) {
  if (inCollection) return StatusOk;
  const String name = lowered(rawName);
  if (!isPlainIdentifier(name) || std::strstr(name.buffer(), kReservedInfix) != nullptr) {
    // The library's own tables count as declared; any other name must be a plain one.
    return node.knownTable(text(name)) ? StatusExists : StatusEmptyArgument;
  }
  node::ConnectionLease lease(node.pool());
  if (!lease) return StatusNotOpen;
  CatalogLockHold hold(node);
  Status fresh = node.refreshSchemaView(*lease);
  if (fresh != StatusOk) return fresh;
  if (node.knownTable(text(name))) return StatusExists;
  const std::string sql = node::sqlFormat(kCreateTypeTable, node::quoteIdentifier(name).c_str());
  EngineFailure failure;
  if (!runRecorded(*lease, sql, StatusEngineFailure, &failure)) {
    // Declared meanwhile by another process: the table is there, as asked.
    if (failure.mentions(kAlreadyExists)) {
      node.addKnownTable(text(name));
      return StatusExists;
    }
    return failure.writeStatus(StatusEngineFailure);
  }
  node.pool().schemaChanged(*lease);
  node.addKnownTable(text(name));
  // Inside a transaction of the caller the table goes again with a rollback.
  NodeImpl* owner = &node;
  const std::string table = text(name);
  node::journalUndo(*lease, [owner, table] { owner->dropKnownTable(table); });
  return StatusOk;
}

bool typeDeclared(NodeImpl& node, const char* name, bool inCollection) {
  if (inCollection) return true;
  node::ConnectionLease lease(node.pool());
  if (!lease) throw StatusNotOpen;
  Status fresh = node.refreshSchemaView(*lease);
  if (fresh != StatusOk) throw fresh;
  return node.knownTable(text(lowered(name)));
}

Status destroyType(NodeImpl& node, const char* rawName, bool inCollection) {
  const String name = lowered(rawName);
  if (!node.isOpen()) return StatusNotOpen;
  if (inCollection) return destroyCollectionType(node, name);
  if (!isPlainIdentifier(name)) return StatusEmptyArgument;
  return destroyOwnType(node, name);
}

std::vector<String> typeNames(NodeImpl& node, bool remote, bool ownTypesOnly) {
  if (remote) throw StatusUnsupported;
  node::ConnectionLease lease(node.pool());
  if (!lease) throw StatusNotOpen;
  std::vector<String> names;
  for (const String& table : node::queryColumn(*lease, node::kSelectTables)) {
    if (ownTypesOnly && std::strstr(table.buffer(), kReservedInfix) != nullptr) continue;
    names.push_back(table);
  }
  return names;
}

bool hasIdColumn(node::NodeConnection& c, const std::string& table) {
  std::vector<TableColumn> columns;
  const Status listed = tableColumns(c, table, &columns);
  if (listed != StatusOk) throw listed;
  for (const TableColumn& column : columns)
    if (strcasecmp(column.name.c_str(), "vd_id") == 0) return true;
  return false;
}

std::vector<std::string> recordTables(node::NodeConnection& c) {
  std::vector<std::string> tables;
  node::Statement s(c, node::kSelectTables);
  std::vector<std::string> names;
  while (s.valid() && s.step()) names.push_back(text(s.columnText(0)));
  if (!s.valid() || s.failed())
    throw s.error().status() == StatusOk ? StatusEngineFailure : s.error().status();
  for (const std::string& table : names) {
    if (table.find(kReservedInfix) != std::string::npos ||
        strncasecmp(table.c_str(), "sqlite_", 7) == 0)
      continue;
    if (hasIdColumn(c, table)) tables.push_back(table);
  }
  return tables;
}

}  // namespace assets
}  // namespace Vendrithane
}  // namespace KESTRIN
