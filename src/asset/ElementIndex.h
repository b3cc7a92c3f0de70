// Element indexes: the promotion of an element of an asset type to a column of the type's
// table (with an optional SQL index on it) and back, the statements they run, and the
// reading of a table's column definitions that the map loader and the table rebuild share.
#ifndef VENDRITHANE_ASSET_ELEMENTINDEX_H
#define VENDRITHANE_ASSET_ELEMENTINDEX_H

#include <string>
#include <vector>

#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {

class ElementImpl;
class NodeImpl;

namespace node {
class NodeConnection;
}

namespace assets {

constexpr char kReservedColumnPrefix[] = "vd_";  // the library's own columns

// One column of a table as the engine declares it.
struct TableColumn {
  std::string name;          // column name
  std::string type;          // declared type; empty when none
  bool notNull = false;      // NOT NULL
  int primaryKey = 0;        // position in the primary key, 0 when not part of it
  bool hasDefault = false;   // a DEFAULT clause exists
  std::string defaultValue;  // its expression text
};

// The columns of `table` in table order (none when the table does not exist). 0, or the
// query status, recorded on the connection.
Status tableColumns(node::NodeConnection& connection, const std::string& table,
                    std::vector<TableColumn>* columns);

// The name of the SQL index of a promoted column: table, "_", the column with every comma
// turned into "_", then "_idx"; indexName is that name quoted as an identifier.
std::string indexStem(const std::string& table, const std::string& column);
std::string indexName(const std::string& table, const std::string& column);

// Writes the declaration of the promoted `column` of `table` with `flags` (a new vd_idx row,
// its id from the counter) inside the caller's transaction. 0, 80, or 48 (recorded).
Status declareColumn(node::NodeConnection& connection, const std::string& table,
                     const std::string& column, unsigned flags);

// Rebuilds `table` without `column` inside the caller's transaction: every other column
// keeps its declaration (type, primary key, NOT NULL, default), the rows are copied and the
// table's other SQL indexes are made again. 0, 43 (the copy failed) or 48, recorded.
Status rebuildWithout(node::NodeConnection& connection, const std::string& table,
                      const std::string& column);

// Forgets the promotions of a table that is being dropped, inside the caller's transaction:
// deletes its vd_idx rows and its entries of the node's map (journalled, so a rollback
// brings them back). A type declared anew under that name then starts without columns.
// 0, or 81/48 (recorded).
Status forgetTableIndexes(node::NodeConnection& connection, NodeImpl& node,
                          const std::string& table);

// Element::index and Element::unindex on an element's implementation (see Element.h).
Status promoteElement(ElementImpl& element, unsigned flags);
Status demoteElement(ElementImpl& element);

}  // namespace assets
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_ELEMENTINDEX_H
