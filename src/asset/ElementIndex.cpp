// Element::index and Element::unindex: the promotion of an element to a column of its
// asset's table and back. Each runs in a transaction level of its own, holding the
// per-catalog mutex, then the asset's lock, then (briefly) the index-map lock; the map is
// changed only after every statement succeeded, and journalled so that a rollback of an
// enclosing transaction restores it.
#include "asset/ElementIndex.h"

#include <strings.h>

#include <cstring>
#include <vector>

#include "asset/AssetImpl.h"
#include "asset/AssetLayer.h"
#include "asset/AssetSql.h"
#include "asset/AssetStatements.h"
#include "asset/CatalogAssets.h"
#include "asset/ElementImpl.h"
#include "node/IdAllocator.h"
#include "node/NodeConnection.h"
#include "node/NodeImpl.h"
#include "node/Statement.h"
#include "node/Transaction.h"
#include "vendrithane/Element.h"

namespace KESTRIN {
namespace Vendrithane {
namespace assets {

namespace {

constexpr char kNoSuchColumn[] = "no such column: ";  // the message of a missing column

// A failure of unindex that passes out of the public method as a thrown Status 48.
struct RemovalFailed {};

// What an index operation works on, read under the asset's lock.
struct Target {
  NodeImpl* node = nullptr;  // the asset's catalog
  std::string table;         // the asset's table
  std::string column;        // the element's name
  Type type = TypeUndef;     // the element's type
};

// Fills *t from the element and its asset; false when the element belongs to no asset of a
// catalog. Caller holds the element's lock, or none (then it is taken here).
bool readTarget(ElementImpl& element, Target* t) {
  HeldLock hold(element.lock);
  const AssetImpl* asset = element.asset;
  if (asset == nullptr || asset->node == nullptr) return false;
  t->node = asset->node;
  t->table = tableOf(*asset);
  t->column.assign(element.name.buffer(), element.name.length());
  t->type = element.type;
  return true;
}

// A column name must be a plain identifier outside the library's own "vd_" columns.
bool acceptableColumn(const std::string& column) {
  return isPlainIdentifier(String(column.c_str(), static_cast<unsigned>(column.size()))) &&
         column.compare(0, std::strlen(kReservedColumnPrefix), kReservedColumnPrefix) != 0;
}

bool validFlags(unsigned flags) {
  const unsigned bothOrders = kIndexAscending | kIndexDescending;
  return (flags & ~kIndexAllFlags) == 0 && (flags & bothOrders) != bothOrders;
}

const char* columnType(Type type) {
  switch (type) {
    case TypeUndef:
    case TypeText:
      return "TEXT";
    case TypeInt4:
    case TypeInt8:
    case TypeTime:
      return "INTEGER";
    default:
      return nullptr;  // blobs and asset references have no column
  }
}

// Runs `sql`; on failure records `recordAs` and returns 81 (read-only) or `recordAs`.
Status run(node::NodeConnection& c, const std::string& sql, Status recordAs) {
  EngineFailure failure;
  if (runRecorded(c, sql, recordAs, &failure)) return StatusOk;
  return failure.writeStatus(recordAs);
}

// Restores (table, column) of the map to `flags` (-1: absent) when the transaction is undone.
void journalMap(node::NodeConnection& c, NodeImpl& node, const Target& t, int flags) {
  NodeImpl* owner = &node;
  const std::string table = t.table, column = t.column;
  node::journalUndo(c, [owner, table, column, flags] {
    if (flags < 0) {
      elementIndexes(*owner).erase(table, column);
    } else {
      elementIndexes(*owner).set(table, column, flags);
    }
  });
}

// 0 when the table has the target's column, else 14 recorded against `sql`, the index
// statement (or the failure to read the columns). The engine reads a quoted name that no
// column has as a text, so an index statement on a column gone behind the map's back
// would index a constant instead of failing.
Status columnPresent(node::NodeConnection& c, const Target& t, const std::string& sql) {
  std::vector<TableColumn> present;
  Status status = tableColumns(c, t.table, &present);
  if (status != StatusOk) return status;
  for (const TableColumn& column : present) {
    if (strcasecmp(column.name.c_str(), t.column.c_str()) == 0) return StatusOk;
  }
  c.recordError(StatusEmptyArgument, 0, kNoSuchColumn + t.column, sql);
  return StatusEmptyArgument;
}

// The statements of a promotion inside the caller's transaction level.
Status promoteSteps(node::NodeConnection& c, const Target& t, int current, unsigned flags) {
  const std::string quotedTable = node::quoteIdentifier(t.table);
  const std::string quotedColumn = node::quoteIdentifier(t.column);
  const char* table = quotedTable.c_str();
  const char* column = quotedColumn.c_str();
  const std::string index = indexName(t.table, t.column);
  if (current < 0) {
    Status status =
        run(c, node::sqlFormat(kAddColumn, table, column, columnType(t.type)), StatusIndexFailed);
    if (status != StatusOk) return status;
  }
  if (current > 0) {
    Status status = run(c, node::sqlFormat(kDropIndex, index.c_str()), StatusIndexFailed);
    if (status != StatusOk) return status;
  }
  if (flags != 0) {
    const char* unique = (flags & kIndexUnique) ? "UNIQUE" : "";
    const char* order = (flags & kIndexDescending)  ? "DESC"
                        : (flags & kIndexAscending) ? "ASC"
                                                    : "";
    const std::string sql =
        node::sqlFormat(kCreateIndex, unique, index.c_str(), table, column, order);
    if (current >= 0) {
      Status status = columnPresent(c, t, sql);
      if (status != StatusOk) return status;
    }
    Status status = run(c, sql, StatusEmptyArgument);
    if (status != StatusOk) return status;
  }
  if (current < 0) {
    Status status =
        run(c, node::sqlFormat(kFillColumn, table, column, t.column.c_str()), StatusIndexFailed);
    if (status != StatusOk) return status;
  }
  return declareColumn(c, t.table, t.column, flags);
}

}  // namespace

Status declareColumn(node::NodeConnection& c, const std::string& table, const std::string& column,
                     unsigned flags) {
  const int id = node::nextId(c);
  if (id < 0) return StatusIdCounterFailed;
  return run(c,
             node::sqlFormat(kInsertDeclaration, id, column.c_str(), table.c_str(),
                             static_cast<int>(flags)),
             StatusIndexFailed);
}

Status promoteElement(ElementImpl& element, unsigned flags) {
  if (!validFlags(flags)) return StatusEmptyArgument;
  Target t;
  if (!readTarget(element, &t)) return StatusNotOpen;
  if (!acceptableColumn(t.column)) return StatusEmptyArgument;
  NodeImpl& node = *t.node;
  if (!node.isOpen()) return StatusNotOpen;
  // The map is asked inside the transaction only: its begin brings it up to date with
  // promotions made by other nodes.

  node::ConnectionLease lease(node.pool());
  if (!lease) return StatusNotOpen;
  Status begun = StatusOk;
  node::TransactionScope scope(*lease, &begun);
  if (begun != StatusOk) return begun;
  HeldLock hold(element.lock);  // the asset's lock, for the rest of the operation
  Target now;
  if (!readTarget(element, &now) || now.node != &node) {
    scope.commit();  // nothing written: an enclosing transaction goes on unharmed
    return StatusNotOpen;
  }
  const int current = elementIndexes(node).flags(now.table, now.column);
  if (current == static_cast<int>(flags)) {
    scope.commit();
    return StatusExists;
  }
  if (current < 0 && columnType(now.type) == nullptr) {
    scope.commit();
    return StatusUnsupported;
  }
  Status status = promoteSteps(*lease, now, current, flags);
  if (status != StatusOk) return status;  // the scope rolls back
  elementIndexes(node).set(now.table, now.column, static_cast<int>(flags));
  journalMap(*lease, node, now, current);
  node.pool().schemaChanged(*lease);
  return scope.commit();
}

Status forgetTableIndexes(node::NodeConnection& c, NodeImpl& node, const std::string& table) {
  Status status =
      run(c, node::sqlFormat(kDeleteTableDeclarations, table.c_str()), StatusIndexFailed);
  if (status != StatusOk) return status;
  const std::map<std::string, int> held = elementIndexes(node).eraseTable(table);
  if (held.empty()) return StatusOk;
  NodeImpl* owner = &node;
  node::journalUndo(c, [owner, table, held] {
    for (const auto& column : held) elementIndexes(*owner).set(table, column.first, column.second);
  });
  return StatusOk;
}

Status demoteElement(ElementImpl& element) {
  Target t;
  if (!readTarget(element, &t)) return StatusNotOpen;
  if (!acceptableColumn(t.column)) return StatusEmptyArgument;
  NodeImpl& node = *t.node;
  if (!node.isOpen()) return StatusNotOpen;

  node::ConnectionLease lease(node.pool());
  if (!lease) return StatusNotOpen;
  Status begun = StatusOk;
  node::TransactionScope scope(*lease, &begun);
  if (begun != StatusOk) return begun;
  HeldLock hold(element.lock);
  Target now;
  if (!readTarget(element, &now) || now.node != &node) {
    scope.commit();
    return StatusNotOpen;
  }
  const int current = elementIndexes(node).flags(now.table, now.column);
  if (current < 0) {
    scope.commit();
    return StatusExists;
  }
  if (current > 0 &&
      run(*lease, node::sqlFormat(kDropIndex, indexName(now.table, now.column).c_str()),
          StatusIndexFailed) != StatusOk)
    throw RemovalFailed();
  if (rebuildWithout(*lease, now.table, now.column) != StatusOk) throw RemovalFailed();
  Status status =
      run(*lease, node::sqlFormat(kDeleteDeclaration, now.column.c_str(), now.table.c_str()),
          StatusIndexFailed);
  if (status != StatusOk) return status;
  elementIndexes(node).erase(now.table, now.column);
  journalMap(*lease, node, now, current);
  node.pool().schemaChanged(*lease);
  return scope.commit();
}

}  // namespace assets

int Element::index(unsigned flags) {
  try {
    return assets::promoteElement(*m_impl, flags);
  } catch (Status s) {
    return s;
  }
}

int Element::unindex() {
  try {
    return assets::demoteElement(*m_impl);
  } catch (assets::RemovalFailed) {
    throw StatusIndexFailed;  // the SQL index or the table rebuild failed; nothing changed
  } catch (Status s) {
    return s;
  }
}

}  // namespace Vendrithane
}  // namespace KESTRIN
