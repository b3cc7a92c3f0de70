// The column list of an old table, taken from the CREATE TABLE text that the old schema table
// keeps: column names, declared types, and which column (if any) is an alias of the rowid.
#ifndef VENDRITHANE_LEGACY_TABLEDEFINITION_H
#define VENDRITHANE_LEGACY_TABLEDEFINITION_H

#include <string>
#include <vector>

namespace KESTRIN {
namespace Vendrithane {
namespace legacy {

struct LegacyColumn {
  std::string name;  // unquoted
  std::string type;  // the declared type as written (may be empty)
};

struct TableDefinition {
  std::vector<LegacyColumn> columns;  // in declaration order, never empty once parsed
  int rowidAlias = -1;                // index of the INTEGER PRIMARY KEY column, -1 if none
};

// Parses `sql` (CREATE TABLE ... ( column list )). Returns false, with a reason in `error`,
// for a text it cannot take apart: no column list, unbalanced parentheses or quotes, an
// empty or unnamed column, text after the closing parenthesis, or a PRIMARY KEY table
// constraint naming an unknown column.
bool parseTableDefinition(const std::string& sql, TableDefinition& out, std::string& error);

// Whether two table or column names are the same, ASCII letter case ignored.
bool sameName(const std::string& a, const std::string& b);

}  // namespace legacy
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_LEGACY_TABLEDEFINITION_H
