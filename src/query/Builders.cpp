// The builders of conditions on Element, Asset and Category. Category builders read the
// tree cache under the per-catalog mutex, and resolve each category's namespace target to
// the table of its members once, when the condition is made.
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "asset/AssetAccess.h"
#include "asset/AssetImpl.h"
#include "asset/CatalogAssets.h"
#include "category/CategoryCache.h"
#include "category/CategoryImpl.h"
#include "category/CategoryOps.h"
#include "category/CategoryStatements.h"
#include "functions/SqlFunctions.h"
#include "node/Statement.h"
#include "query/ExpressionImpl.h"
#include "query/QueryStatements.h"
#include "vendrithane/Asset.h"
#include "vendrithane/Category.h"
#include "vendrithane/Element.h"
#include "vendrithane/Expression.h"
#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {

namespace query {
namespace {

// A node of `kind` over the element.
Expression onElement(int kind, const Element& element) {
  ExpressionImpl* node = new ExpressionImpl(kind);
  Expression e = ExpressionAccess::adopt(node);
  node->holdElement(element);
  return e;
}

Expression idList(int kind, std::vector<int> ids, std::string table) {
  if (ids.empty()) return Expression();
  ExpressionImpl* node = new ExpressionImpl(kind);
  Expression e = ExpressionAccess::adopt(node);
  node->ids = std::move(ids);
  node->table = std::move(table);
  return e;
}

// The condition no row satisfies.
Expression never() {
  return Expression(1) < Expression(0);
}

// The entry of a category object in its catalog's cache; 47 when it is not there (deleted,
// or its catalog closed and opened again).
category::TreeEntry entryOf(category::Operation& op, CategoryImpl* impl) {
  category::TreeEntry e;
  if (!op.cache.holds(impl) || !op.cache.entry(impl->id.load(), &e)) throw StatusNotAllowed;
  return e;
}

// The quoted table of the members of namespace `root`.
std::string memberTable(category::Operation& op, int root) {
  category::TreeEntry e;
  if (!op.cache.entry(root, &e) || e.object == nullptr) throw StatusNotAllowed;
  const String target = static_cast<String>(e.object->elements.element(category::kTarget));
  return category::memberRows(op.node, target).table;
}

// The categories a membership of `category` stands for: the category itself, or for a
// namespace root its stored top-level categories (in tree order), each with its table.
void addMembers(category::Operation& op, const Category& category,
                std::vector<MemberCategory>* out) {
  CategoryImpl* impl = CategoryAccess::impl(category);
  const category::TreeEntry e = entryOf(op, impl);
  const int id = impl->id.load();
  const std::string table = memberTable(op, e.namespaceId);
  if (e.namespaceId != id) {
    out->push_back({category, table});
    return;
  }
  for (int child : op.cache.children(id, true)) {
    CategoryImpl* object = op.cache.acquire(child);
    if (object != nullptr) out->push_back({CategoryAccess::adopt(object), table});
  }
}

Expression membership(std::vector<MemberCategory> members, bool single) {
  if (members.empty()) return never();
  ExpressionImpl* node = new ExpressionImpl(single ? kInCategory : kInAny);
  Expression e = ExpressionAccess::adopt(node);
  node->categories = std::move(members);
  return e;
}

// Asset::in and Category::in of one category.
Expression memberOf(const Category& category) {
  CategoryImpl* impl = CategoryAccess::impl(category);
  std::vector<MemberCategory> members;
  bool root;
  {
    category::Operation op(category::nodeOf(*impl));
    root = entryOf(op, impl).namespaceId == impl->id.load();
    addMembers(op, category, &members);
  }
  return membership(std::move(members), !root);
}

}  // namespace
}  // namespace query

// ---- Element ----

Expression Element::like(String pattern) {
  Expression e = query::onElement(query::kLike, *this);
  ExpressionAccess::impl(e)->pattern = pattern;
  return e;
}

Expression Element::glob(String pattern) {
  Expression e = query::onElement(query::kGlob, *this);
  ExpressionAccess::impl(e)->pattern = pattern;
  return e;
}

Expression Element::lower() {
  return query::onElement(query::kLower, *this);
}

Expression Element::upper() {
  return query::onElement(query::kUpper, *this);
}

Expression Element::year() {
  return query::onElement(query::kYear, *this);
}

Expression Element::month() {
  return query::onElement(query::kMonth, *this);
}

Expression Element::day() {
  return query::onElement(query::kDay, *this);
}

Expression Element::dayOfWeek() {
  return query::onElement(query::kWeekday, *this);
}

Expression Element::inDateRange(Time const& from, Time const& to, bool withYear) {
  Expression e = query::onElement(withYear ? query::kInRange : query::kInYearlyRange, *this);
  ExpressionImpl* node = ExpressionAccess::impl(e);
  node->low = functions::dayKey(static_cast<long long>(from), withYear);
  node->high = functions::dayKey(static_cast<long long>(to), withYear);
  return e;
}

// ---- Asset ----

Expression Asset::in(std::vector<int> ids) {
  std::string table;
  {
    std::lock_guard<RecordLock> hold(*m_impl->lock);
    table = node::quoteIdentifier(assets::tableOf(*m_impl));
  }
  return query::idList(query::kIdIn, std::move(ids), std::move(table));
}

Expression Asset::in(Category const& category) {
  return query::memberOf(category);
}

Expression Asset::inAny(std::vector<Category*> const& categories) {
  std::vector<MemberCategory> members;
  for (const Category* c : categories) {
    if (c == nullptr) throw StatusEmptyArgument;
    category::Operation op(category::nodeOf(*CategoryAccess::impl(*c)));
    query::addMembers(op, *c, &members);
  }
  return query::membership(std::move(members), false);
}

// ---- Category ----

Expression Category::in(Category const& category) {
  return query::memberOf(category);
}

Expression Category::in(std::vector<int> ids) {
  return query::idList(query::kCategoryIdIn, std::move(ids), category::quotedNodeTable());
}

Expression Category::descendant() {
  ExpressionImpl* node = new ExpressionImpl(query::kDescendant);
  Expression e = ExpressionAccess::adopt(node);
  node->categories.push_back({*this, std::string()});
  return e;
}

}  // namespace Vendrithane
}  // namespace KESTRIN
