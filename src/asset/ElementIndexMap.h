// ElementIndexMap: the node's map of promoted element columns, from (table, column) to the
// index flags given to Element::index. Loaded from vd_idx when the catalog opens and again
// whenever another node changed the schema (part of the node's schema view), kept in step by
// index and unindex, asked by store and update for the columns of a table.
//
// Thread safety: every member takes the map's own lock, which is never held while another
// lock is taken or SQL runs.
#ifndef VENDRITHANE_ASSET_ELEMENTINDEXMAP_H
#define VENDRITHANE_ASSET_ELEMENTINDEXMAP_H

#include <map>
#include <string>
#include <vector>

#include "platform/Mutex.h"
#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {

namespace node {
class NodeConnection;
}

namespace assets {

// Index flags (vd_ktyp).
constexpr unsigned kIndexUnique = 1;      // the SQL index is UNIQUE
constexpr unsigned kIndexAscending = 2;   // ascending order
constexpr unsigned kIndexDescending = 4;  // descending order
constexpr unsigned kIndexAllFlags = kIndexUnique | kIndexAscending | kIndexDescending;

class ElementIndexMap {
 public:
  // One promotion: the column of an element in a table with its flags.
  struct Entry {
    std::string table;   // the record table
    std::string column;  // the element's (lower-case) name
    int flags;           // as given to Element::index
  };

  // The flags of (table, column); -1 when the element has no column there.
  int flags(const std::string& table, const std::string& column) const;
  // Records (table, column) with `flags`, replacing earlier flags.
  void set(const std::string& table, const std::string& column, int flags);
  void erase(const std::string& table, const std::string& column);
  // Forgets every column of `table`; returns what it held (column -> flags).
  std::map<std::string, int> eraseTable(const std::string& table);
  void clear();
  // The promoted columns of `table`, in name order; empty when none.
  std::vector<std::string> columns(const std::string& table) const;
  // Every promotion, ordered by table and column.
  std::vector<Entry> entries() const;

  // Replaces the map with the declarations of vd_idx, the newest row of a pair winning.
  // A declaration whose table or column is gone from the catalog is skipped, so that no
  // write ever names a missing column. 0, or the query status (recorded).
  Status load(node::NodeConnection& connection);

 private:
  mutable platform::Mutex lock_{platform::LockRank::kIndexMap, "index-map lock"};
  std::map<std::string, std::map<std::string, int>> tables_
      GUARDED_BY(lock_);  // table -> column -> flags
};

}  // namespace assets
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_ELEMENTINDEXMAP_H
