// The one statement builder: from a filter's contents to the SELECT of records, category
// nodes, counts, ids or copied rows, or to a clause for another statement. In order: the
// match prototype's type and values, the condition, the FROM list (main table first), the
// columns, the ordering, the limit.
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "asset/AssetAccess.h"
#include "asset/AssetImpl.h"
#include "asset/AssetStatements.h"
#include "asset/CatalogAssets.h"
#include "node/Statement.h"
#include "query/ExpressionImpl.h"
#include "query/QueryStatements.h"
#include "query/Render.h"
#include "query/SqlText.h"
#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace query {

using node::quoteIdentifier;

namespace {

const std::string& assetsTable() {
  static const std::string quoted = quoteIdentifier(std::string(assets::kAssetsTable));
  return quoted;
}

// What a match prototype adds: its table, the type test of a collection type, and the
// equality of each element of a value type (in element-name order) with its value.
struct Prototype {
  std::string table;  // quoted; empty without a prototype
  std::string typeClause;
  Expression match;
};

Prototype prototypeOf(Asset& asset) {
  Prototype p;
  AssetImpl* impl = AssetAccess::impl(asset);
  impl->ensureParsed();
  std::vector<Element> elements;
  String lowerName;
  {
    std::lock_guard<RecordLock> hold(*impl->lock);
    p.table = quoteIdentifier(assets::tableOf(*impl));
    if (impl->inCollection) {
      lowerName = impl->typeName;
      lowerName.makeLower();
    }
    for (const auto& entry : impl->elements) elements.push_back(*entry.second);
  }
  if (impl->inCollection)
    appendSql(&p.typeClause, kTypeClause, {assetsTable(), SqlArg(lowerName.buffer())});
  for (Element& e : elements) {
    switch (e.type()) {
      case TypeInt4:
        p.match = p.match && (Expression(e) == Expression(static_cast<int>(e)));
        break;
      case TypeInt8:
        p.match = p.match && (Expression(e) == Expression(static_cast<long long>(e)));
        break;
      case TypeText:
        p.match = p.match && (Expression(e) == Expression(static_cast<String>(e)));
        break;
      case TypeTime:  // the whole seconds, also after 2038
        p.match = p.match && (Expression(e) == Expression(Time(static_cast<long long>(e))));
        break;
      default:  // no value to compare
        break;
    }
  }
  return p;
}

std::string limitClause(const FilterState& filter) {
  if (filter.limit < 0) {
    if (filter.offset >= 0) throw StatusBadFilter;
    return std::string();
  }
  std::string text = " LIMIT " + std::to_string(filter.limit);
  if (filter.offset >= 0) text += " OFFSET " + std::to_string(filter.offset);
  return text;
}

}  // namespace

Built buildStatement(const FilterState& filter, const BuildFlags& flags,
                     const std::string& contextTable, NodeImpl* node) {
  Built built;
  bool distinct = !filter.allowDuplicates;

  Prototype prototype;
  if (filter.prototype)
    prototype = prototypeOf(*filter.prototype);
  else
    prototype.table = contextTable;

  // The condition.
  RenderContext context(node);
  if (!prototype.typeClause.empty()) context.name(assetsTable());
  std::string where;
  where.reserve(1011);
  render(prototype.match && filter.condition, context, &where);
  const int memberCategory = context.memberCategory;
  if (!prototype.typeClause.empty())
    where = where.empty() ? prototype.typeClause : prototype.typeClause + "AND (" + where + ") ";

  // The ordering, whose references name their tables too.
  std::string order;
  bool memberOrder = false;
  if (!flags.count) {
    for (const OrderTerm& term : filter.terms) {
      std::string text;
      if (term.code >= (1 << kMemberOrderShift)) {
        if (filter.terms.size() > 1 || memberCategory == 0 || flags.clauseOnly)
          throw StatusBadFilter;
        memberOrder = true;
        distinct = true;
        text = term.code == (SortAscending << kMemberOrderShift) ? "vd_cat_xref.vd_id ASC"
                                                                 : "vd_cat_xref.vd_id DESC";
      } else {
        std::string expression;
        render(term.expression, context, &expression);
        if (expression.empty()) continue;  // an empty term orders nothing
        switch (term.code) {
          case SortAscending:
            text = expression + " ASC";
            break;
          case SortDescending:
            text = expression + " DESC";
            break;
          case SortAscendingRank:
            appendSql(&text, kRankAscending, {expression});
            break;
          default:
            appendSql(&text, kRankDescending, {expression});
            break;
        }
      }
      order += order.empty() ? " ORDER BY " : ",";
      order += text;
    }
  }
  const std::string limit = limitClause(filter);

  if (flags.clauseOnly) {
    if (!where.empty()) built.text = " AND (" + where + ")";
    built.text += order + limit;
    return built;
  }

  // The main table: the prototype's, else the shared table when named, else the first named.
  std::string main = prototype.table;
  if (main.empty()) {
    for (const std::string& t : context.tables)
      if (t == assetsTable()) main = t;
  }
  if (main.empty()) main = context.tables.empty() ? assetsTable() : context.tables.front();
  std::string from = main;
  if (memberOrder) appendSql(&from, kMemberOrderJoin, {main, memberCategory});
  built.tables = 1;
  for (const std::string& t : context.tables) {
    if (t == main) continue;
    from += "," + t;
    ++built.tables;
  }

  const char* columns;
  if (main == assetsTable()) {
    built.plainColumns = "vd_id,vd_xml,vd_tag";
    columns = flags.mapIds ? kMappedRecordColumns : kRecordColumns;
    built.recordRows = true;
  } else {
    built.plainColumns = "vd_id,vd_xml";
    columns = flags.mapIds ? kMappedRowColumns : kRowColumns;
  }
  if (flags.count) {
    columns = kIdColumn;
  } else if (flags.idsOnly) {
    built.plainColumns = "vd_id";
    columns = flags.mapIds ? kMappedIdColumn : kIdColumn;
  }

  std::string& text = built.text;
  text.reserve(where.size() + order.size() + from.size() + 200);
  if (flags.count) text += kCountOpen;
  text += distinct ? "SELECT DISTINCT " : "SELECT ";
  appendSql(&text, columns, {main, main, main});
  text += " FROM ";
  text += from;
  if (!where.empty()) {
    text += " WHERE ";
    text += where;
  }
  text += order;
  text += limit;
  if (flags.count) text += kCountClose;
  text += ';';
  built.mainTable = main;
  return built;
}

}  // namespace query
}  // namespace Vendrithane
}  // namespace KESTRIN
