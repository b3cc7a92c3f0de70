// Rendering of condition trees. Operators are only ever made over two non-empty operands
// (the free operators drop an empty one), so a tree needs no repair before it is rendered
// and rendering changes no node.
#include "query/Render.h"

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
#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace query {

using node::sqlFormat;

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

std::string joinIds(const std::vector<int>& ids) {
  std::string text;
  for (int id : ids) {
    if (!text.empty()) text += ',';
    text += std::to_string(id);
  }
  return text;
}

// The SQL of an element reference: its promoted column, or its value read from the record
// text (as an integer for the numeric types). Names its table.
std::string reference(const ExpressionImpl& node, RenderContext& context) {
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
      assets::elementIndexes(*context.node).flags(table, name.buffer()) >= 0)
    return quoted + "." + node::quoteIdentifier(name);
  std::string text = sqlFormat(kExtract, name.buffer(), quoted.c_str());
  if (type == TypeInt4 || type == TypeInt8 || type == TypeTime)
    text = sqlFormat(kCastInteger, text.c_str());
  return text;
}

std::string literal(const ExpressionImpl& node) {
  if (node.literalType == TypeText) return sqlFormat(kTextLiteral, node.literalText.buffer());
  return node.literalText.buffer();
}

int idOf(const MemberCategory& member) {
  return CategoryAccess::impl(member.category)->id.load();
}

// The membership of any (or none) of the listed categories: one clause per table.
std::string memberships(const ExpressionImpl& node, RenderContext& context, bool any) {
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
  std::string text;
  for (size_t i = 0; i < tables.size(); ++i) {
    context.name(tables[i]);
    if (i > 0) text += any ? " OR " : " AND ";
    text +=
        sqlFormat(any ? kMemberOfAny : kMemberOfNone, tables[i].c_str(), joinIds(ids[i]).c_str());
  }
  if (tables.size() > 1 || (!any && !tables.empty())) text = " (" + text + ") ";
  return text;
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
      *out += sqlFormat(kLikeText, reference(node, context).c_str(), node.pattern.buffer());
      break;
    case kNotLike:
      *out += sqlFormat(kNotLikeText, reference(node, context).c_str(), node.pattern.buffer());
      break;
    case kGlob:
      *out += sqlFormat(kGlobText, reference(node, context).c_str(), node.pattern.buffer());
      break;
    case kNotGlob:
      *out += sqlFormat(kNotGlobText, reference(node, context).c_str(), node.pattern.buffer());
      break;
    case kLiteral:
      *out += literal(node);
      break;
    case kReference:
      *out += reference(node, context);
      break;
    case kInCategory:
    case kNotInCategory: {
      const MemberCategory& member = node.categories.front();
      context.name(member.table);
      const int id = idOf(member);
      if (kind == kInCategory) context.memberCategory = id;
      *out += sqlFormat(kind == kInCategory ? kMember : kNotMember, member.table.c_str(), id);
      break;
    }
    case kDescendant: {
      const std::string table = node::quoteIdentifier(std::string(kCategoryNodeTable));
      context.name(table);
      *out += sqlFormat(kDescends, table.c_str(), idOf(node.categories.front()));
      break;
    }
    case kInAny:
    case kInNone:
      *out += memberships(node, context, kind == kInAny);
      break;
    case kLower:
      *out += " lower(" + reference(node, context) + ") ";
      break;
    case kUpper:
      *out += " upper(" + reference(node, context) + ") ";
      break;
    case kDay:
      *out += " day(" + reference(node, context) + ") ";
      break;
    case kMonth:
      *out += " month(" + reference(node, context) + ") ";
      break;
    case kYear:
      *out += " year(" + reference(node, context) + ") ";
      break;
    case kWeekday:
      *out += " weekday(" + reference(node, context) + ") ";
      break;
    case kInRange:
    case kInYearlyRange:
      *out += sqlFormat(kInRangeText, reference(node, context).c_str(), node.low, node.high,
                        kind == kInRange ? 1 : 0);
      break;
    case kIdIn:
    case kIdNotIn:
    case kCategoryIdIn:
    case kCategoryIdNotIn:
      context.name(node.table);
      *out += sqlFormat(kind == kIdIn || kind == kCategoryIdIn ? kIdInText : kIdNotInText,
                        node.table.c_str(), joinIds(node.ids).c_str());
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
