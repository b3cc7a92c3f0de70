// Rendering of condition trees. Operators are only ever made over two non-empty operands
// (the free operators drop an empty one), so a tree needs no repair before it is rendered
// and rendering changes no node.
#include "query/Render.h"
#include "category/CategoryOps.h"

#include <mutex>
#include <string>

#include "asset/AssetAccess.h"
#include "asset/AssetImpl.h"
#include "asset/AssetLayer.h"
#include "asset/CatalogAssets.h"
#include "asset/ElementImpl.h"
#include "category/CategoryImpl.h"
#include "node/Statement.h"
#include "query/ExpressionImpl.h"
#include "query/QueryStatements.h"
#include "query/SqlText.h"
#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace query {

void RenderContext::name(const std::string& table) {
  for (const std::string& t : tables)
    if (t == table) return;
  tables.push_back(table);
}

namespace {

const char* token(int kind) {
  switch (kind) {
    case kEqual:
      return "==";
    case kNotEqual:
      return "!=";
    case kLess:
      return "<";
    case kLessEqual:
      return "<=";
    case kGreater:
      return ">";
    case kGreaterEqual:
      return ">=";
    case kOr:
      return " OR ";
    case kAnd:
      return " AND ";
    default:
      return "";
  }
}

using category::joinIds;

// Appends the SQL of an element reference: its promoted column, or its value read from the
// record text (as an integer for the numeric types). Names its table.
void reference(const ExpressionImpl& node, RenderContext& context, std::string* out) {
  if (node.element == nullptr || node.record == nullptr) throw StatusCategoryFailed;
  ElementImpl* element = AssetAccess::impl(*node.element);
  Type type;
  {
    HeldLock hold(element->lock);
    type = element->type;
  }
  const String& name = element->name;
  if (name.isEmpty()) throw StatusCategoryFailed;
  std::string table;
  {
    std::lock_guard<RecordLock> hold(*node.record->lock);
    table = assets::tableOf(*node.record);
  }
  const std::string quoted = node::quoteIdentifier(table);
  context.name(quoted);
  if (context.node != nullptr &&
      assets::elementIndexes(*context.node).flags(table, name.buffer()) >= 0) {
    appendSql(out, kColumn, {quoted, node::quoteIdentifier(name)});
    return;
  }
  const bool cast = type == TypeInt4 || type == TypeInt8 || type == TypeTime;
  if (cast) *out += kCastOpen;
  appendSql(out, kExtract, {SqlArg(name.buffer()), quoted});
  if (cast) *out += kCastClose;
}

// A reference inside a function call: open, REF, close.
void call(const ExpressionImpl& node, RenderContext& context, const char* open, std::string* out) {
  *out += open;
  reference(node, context, out);
  *out += kFunctionClose;
}

// A reference followed by a pattern test.
void pattern(const ExpressionImpl& node, RenderContext& context, const char* tail,
             std::string* out) {
  *out += ' ';
  reference(node, context, out);
  appendSql(out, tail, {SqlArg(node.pattern.buffer())});
}

int idOf(const MemberCategory& member) {
  return CategoryAccess::impl(member.category)->id.load();
}

// The membership of any (or none) of the listed categories: one clause per table, OR-ed
// (AND-ed for none).
void memberships(const ExpressionImpl& node, RenderContext& context, bool any, std::string* out) {
  std::vector<std::string> tables;
  std::vector<std::vector<int>> ids;
  for (const MemberCategory& member : node.categories) {
    size_t i = 0;
    while (i < tables.size() && tables[i] != member.table) ++i;
    if (i == tables.size()) {
      tables.push_back(member.table);
      ids.emplace_back();
    }
    ids[i].push_back(idOf(member));
  }
  if (any && !node.categories.empty()) context.memberCategory = idOf(node.categories.front());
  const bool grouped = tables.size() > 1 || (!any && !tables.empty());
  if (grouped) *out += " (";
  for (size_t i = 0; i < tables.size(); ++i) {
    context.name(tables[i]);
    if (i > 0) *out += any ? " OR " : " AND ";
    appendSql(out, any ? kMemberOfAny : kMemberOfNone, {tables[i], joinIds(ids[i])});
  }
  if (grouped) *out += ") ";
}

void renderNode(const ExpressionImpl& node, RenderContext& context, std::string* out);

// An operand in parentheses; nothing for an empty one.
void operand(const ExpressionImpl* node, RenderContext& context, std::string* out) {
  if (node == nullptr || node->kind.load() == kEmpty) return;
  *out += " (";
  renderNode(*node, context, out);
  *out += ") ";
}

void renderNode(const ExpressionImpl& node, RenderContext& context, std::string* out) {
  const int kind = node.kind.load();
  const bool both = node.left != nullptr && node.left->kind.load() != kEmpty &&
                    node.right != nullptr && node.right->kind.load() != kEmpty;
  operand(node.left, context, out);
  switch (kind) {
    case kEqual:
    case kNotEqual:
    case kLess:
    case kLessEqual:
    case kGreater:
    case kGreaterEqual:
    case kOr:
    case kAnd:
      if (both) *out += token(kind);  // an operator without two operands is its operand
      break;
    case kLike:
      pattern(node, context, kLikeTail, out);
      break;
    case kNotLike:
      pattern(node, context, kNotLikeTail, out);
      break;
    case kGlob:
      pattern(node, context, kGlobTail, out);
      break;
    case kNotGlob:
      pattern(node, context, kNotGlobTail, out);
      break;
    case kLiteral:
      if (node.literalType == TypeText)
        appendSql(out, kTextLiteral, {SqlArg(node.literalText.buffer())});
      else
        *out += node.literalText.buffer();
      break;
    case kReference:
      reference(node, context, out);
      break;
    case kInCategory:
    case kNotInCategory: {
      const MemberCategory& member = node.categories.front();
      context.name(member.table);
      const int id = idOf(member);
      if (kind == kInCategory) context.memberCategory = id;
      appendSql(out, kind == kInCategory ? kMember : kNotMember, {member.table, id});
      break;
    }
    case kDescendant: {
      const std::string& table = category::quotedNodeTable();
      context.name(table);
      appendSql(out, kDescends, {table, idOf(node.categories.front())});
      break;
    }
    case kInAny:
    case kInNone:
      memberships(node, context, kind == kInAny, out);
      break;
    case kLower:
      call(node, context, kLowerOpen, out);
      break;
    case kUpper:
      call(node, context, kUpperOpen, out);
      break;
    case kDay:
      call(node, context, kDayOpen, out);
      break;
    case kMonth:
      call(node, context, kMonthOpen, out);
      break;
    case kYear:
      call(node, context, kYearOpen, out);
      break;
    case kWeekday:
      call(node, context, kWeekdayOpen, out);
      break;
    case kInRange:
    case kInYearlyRange:
      *out += kInRangeOpen;
      reference(node, context, out);
      appendSql(out, kInRangeClose, {node.low, node.high, kind == kInRange ? 1 : 0});
      break;
    case kIdIn:
    case kIdNotIn:
    case kCategoryIdIn:
    case kCategoryIdNotIn:
      context.name(node.table);
      appendSql(out, kind == kIdIn || kind == kCategoryIdIn ? kIdInText : kIdNotInText,
                {node.table, joinIds(node.ids)});
      break;
    default:  // empty
      break;
  }
  operand(node.right, context, out);
}

}  // namespace

void render(const Expression& e, RenderContext& context, std::string* out) {
  renderNode(*ExpressionAccess::impl(e), context, out);
}

}  // namespace query
}  // namespace Vendrithane
}  // namespace KESTRIN
