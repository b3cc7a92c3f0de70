// The rendering of condition trees to SQL text, and the one statement builder of every
// query (records, category nodes, counts, id lists, copies, sub-category clauses).
//
// Rendering keeps what it learns (the tables the tree names, the category a membership
// condition tests) in a context of its own: nodes and filters are shared by other handles
// and threads and are never written by a query.
#ifndef VENDRITHANE_QUERY_RENDER_H
#define VENDRITHANE_QUERY_RENDER_H

#include <string>
#include <vector>

#include "query/FilterImpl.h"
#include "vendrithane/Expression.h"

namespace KESTRIN {
namespace Vendrithane {

class NodeImpl;

namespace query {

// What one rendering collects.
struct RenderContext {
  explicit RenderContext(NodeImpl* node) : node(node) {}
  // Adds a (quoted) table to the tables named, once.
  void name(const std::string& table);

  NodeImpl* node;                   // whose promoted columns references read; null: none
  std::vector<std::string> tables;  // quoted tables named, in the order first named
  int memberCategory = 0;           // category of the last membership condition; 0: none
};

// Appends the SQL text of the tree rooted at `e` (nothing for an empty tree). Throws 4 for
// a reference to an element without a record or a name.
void render(const Expression& e, RenderContext& context, std::string* out);

// The builder's flags.
struct BuildFlags {
  bool count = false;       // the statement gives the number of rows
  bool idsOnly = false;     // the rows are ids
  bool mapIds = false;      // ids pass through vd_idmap
  bool clauseOnly = false;  // a clause to append to another statement's WHERE
};

struct Built {
  std::string text;          // the statement (or clause)
  std::string mainTable;     // the table the rows come from, quoted
  std::string plainColumns;  // the selected columns without table ("vd_id,vd_xml")
  bool recordRows = false;   // the rows come from the shared table and carry a type tag
  size_t tables = 0;         // the tables the FROM list names
};

// The statement of a filter. `contextTable` (quoted, may be empty) stands in for the
// prototype table of a filter without a match prototype: category queries pass the table
// of category nodes. Throws 45 for a filter that makes no statement, 4 as render does.
Built buildStatement(const FilterState& filter, const BuildFlags& flags,
                     const std::string& contextTable, NodeImpl* node);

}  // namespace query
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_QUERY_RENDER_H
